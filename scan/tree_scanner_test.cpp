#include "scan/tree_scanner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/fs/filesys.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace test_support;

struct Scanned {
  Names dirs, files;  // in the order of appending
};

Scanned Scan(const TempTree& tree, const std::string& subDir, const std::string& mask,
             bool filesOnly, bool recurse) {
  TStringList dirList, fileList;
  ScanTree(dirList, fileList, tree.Text(), subDir, mask, filesOnly, recurse);
  Scanned scanned;
  for (int32_t i = 0; i < dirList.Count(); ++i) scanned.dirs.push_back(dirList.ItemAt(i));
  for (int32_t i = 0; i < fileList.Count(); ++i) scanned.files.push_back(fileList.ItemAt(i));
  return scanned;
}

TEST(ScanTree, SubtreeListsContentsBeforeTheirDirectory) {
  TempTree tree;
  tree.Dirs({"I386/SYSTEM32/DRIVERS/sub"});
  tree.Files({"I386/SYSTEM32/DRIVERS/a.sys", "I386/SYSTEM32/DRIVERS/sub/b.sys"});
  const Scanned s = Scan(tree, "I386\\SYSTEM32\\DRIVERS", "*.*", false, true);
  const std::string d = "I386\\SYSTEM32\\DRIVERS\\";
  EXPECT_EQ(s.dirs, (Names{d, d + "sub\\"}));
  EXPECT_EQ(Sorted(s.files), (Names{d + "a.sys", d + "sub", d + "sub\\b.sys"}));
  const auto at = [&](const std::string& path) {
    return std::find(s.files.begin(), s.files.end(), path) - s.files.begin();
  };
  EXPECT_LT(at(d + "sub\\b.sys"), at(d + "sub"));
}

struct ScanCase {
  const char* name;
  const char* subDir;
  const char* mask;
  bool filesOnly, recurse;
  Names dirs, files;  // files sorted
};
void PrintTo(const ScanCase& c, std::ostream* out) {
  *out << c.name;
}

class ScanTreeCases : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTreeCases, Collects) {
  const ScanCase& c = GetParam();
  TempTree tree;
  tree.Dirs({"WINNT", "T/sub.sys", "T/plain", "I386/SYSTEM32", "E"});
  tree.Files({"WINNT/inside", "winner.txt", "other", "T/sub.sys/x.sys", "T/sub.sys/y.txt",
              "T/plain/z.sys", "I386/SYSTEM32/c_1252.nls", "T/.h"});
  MarkHiddenSystem(tree.Root() / "T/.h");
  const Scanned s = Scan(tree, c.subDir, c.mask, c.filesOnly, c.recurse);
  EXPECT_EQ(s.dirs, c.dirs);
  EXPECT_EQ(Sorted(s.files), c.files);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScanTreeCases,
    ::testing::Values(
        ScanCase{"EmptyRecursive", "E", "*.*", false, true, {"E\\"}, {}},
        ScanCase{"FlatRootPattern", "", "win*", true, false, {}, {"\\WINNT", "\\winner.txt"}},
        ScanCase{"MaskChoosesSubdirectories",
                 "T",
                 "*.sys",
                 false,
                 true,
                 {"T\\", "T\\sub.sys\\"},
                 {"T\\sub.sys", "T\\sub.sys\\x.sys"}},
        ScanCase{"HiddenAndSystemFiles", "T", ".*", true, false, {}, {"T\\.h"}},
        ScanCase{"CaselessSubDir",
                 "i386\\system32",
                 "*.NLS",
                 true,
                 false,
                 {},
                 {"i386\\system32\\c_1252.nls"}},
        ScanCase{"MissingRecursive", "nope", "*.*", false, true, {"nope\\"}, {}},
        ScanCase{"MissingFlat", "nope", "*.*", true, false, {}, {}},
        ScanCase{"WildcardInSubDir", "T\\s*", "*.*", false, true, {"T\\s*\\"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Links to ".." and to a folder beside the tree are listed but not entered,
// and renaming everything found, as a run does, leaves the folder outside as
// it was. A rename that reports success has changed the spelling.
TEST(ScanTree, NeverEntersLinks) {
  TempTree tree;
  tree.Dirs({"out/real", "outside/inner"});
  tree.Files({"out/real/f", "outside/keep.txt"});
  if (!MakeDirectoryLink(tree.Root() / "out/up", "..") ||
      !MakeDirectoryLink(tree.Root() / "out/away", "../outside")) {
    GTEST_SKIP() << "symbolic links cannot be made here";
  }
  const Scanned s = Scan(tree, "out", "*.*", false, true);
  EXPECT_EQ(s.dirs, (Names{"out\\", "out\\real\\"}));
  EXPECT_EQ(Sorted(s.files), (Names{"out\\away", "out\\real", "out\\real\\f", "out\\up"}));
  Names expected;
  for (int32_t i = static_cast<int32_t>(s.dirs.size()) - 1; i >= 0; --i) {
    EXPECT_TRUE(RenamePath(tree.Text() + s.dirs[i], Upper(tree.Text() + s.dirs[i])));
  }
  for (const std::string& file : s.files) {
    const bool renamed = RenamePath(tree.Text() + file, Upper(tree.Text() + file));
    if (file.find('\\', 4) == std::string::npos) {
      expected.push_back(renamed ? Upper(file.substr(4)) : file.substr(4));
    }
  }
  EXPECT_EQ(tree.Listing(), (Names{"OUT", "outside"}));
  EXPECT_EQ(tree.Listing("OUT"), Sorted(expected));
  EXPECT_EQ(tree.Listing("OUT/REAL"), Names{"F"});
  EXPECT_EQ(tree.Listing("outside"), (Names{"inner", "keep.txt"}));
  for (const std::string& name : tree.Listing("OUT")) {
    if (Upper(name) != "REAL") RemoveDirectoryLink(tree.Root() / "OUT" / name);
  }
}

}  // namespace
}  // namespace dazi
