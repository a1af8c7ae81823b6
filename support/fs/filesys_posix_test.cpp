#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "scan/tree_scanner.h"
#include "support/fs/filesys.h"
#include "support/fs/filesys_posix.h"
#include "support/fs/posix/dir_listing_posix.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace test_support;

int32_t AttributesOf(const std::string& pattern) {
  TSearchRec rec;
  return FindFirstEntry(pattern, kFaAnyFile, rec) == 0 ? rec.FoundAttr : -1;
}

// A directory parked by a killed run is taken only where no spelling of the
// name is there.
TEST(PosixSearch, DirectoryPartByExactSpellingElseSmallestCaselessDirectory) {
  TempTree tree;
  tree.Dirs({"Dir", "dir", "SUB", "~DZ~sub", "~DZ~gone"});
  tree.Files(
      {"DIR", "Dir/in_Dir", "dir/in_dir", "SUB/in_SUB", "~DZ~sub/in_parked", "~DZ~gone/in_gone"});
  const std::string root = tree.Text();
  EXPECT_EQ(SearchNames(root + "sub/in*"), Names{"in_SUB"});
  EXPECT_EQ(SearchNames(root + "gone/in*"), Names{"in_gone"});
  EXPECT_EQ(SearchNames(root + "dir/in*"), Names{"in_dir"});
  EXPECT_EQ(SearchNames(root + "dIR/in*"), Names{"in_Dir"});  // the file DIR is passed over
  EXPECT_EQ(SearchNames(root + "/\\dIr//\\in*"), Names{"in_Dir"});
  EXPECT_EQ(SearchNames(root + "DIR/*"), (Names{".", "..", "in_Dir"}));
}

TEST(PosixSearch, AttributesFromLstatAndName) {
  TempTree tree;
  tree.Dirs({".cache", "real"});
  tree.Files({"plain"});
  fs::create_directory_symlink("real", tree.Root() / "link");
  chmod((tree.Root() / "plain").c_str(), 0444);
  const std::string root = tree.Text();
  EXPECT_EQ(AttributesOf(root + "link"), 0);
  EXPECT_EQ(AttributesOf(root + "real"), kFaDirectory);
  EXPECT_EQ(AttributesOf(root + "real/."), kFaDirectory);
  EXPECT_EQ(AttributesOf(root + ".cache"), kFaDirectory | kFaHidden);
  EXPECT_EQ(AttributesOf(root + "plain"), kFaReadOnly);
  EXPECT_EQ(SearchNames(root + "*", kFaDirectory), (Names{".", "..", "link", "plain", "real"}));
}

// The modification time as a DOS date and time of the local zone (here
// UTC); outside the years DOS can hold, 0.
TEST(PosixSearch, FoundTimeIsTheDosDateAndTime) {
  const char* zone = std::getenv("TZ");
  const std::string before = zone != nullptr ? zone : "";
  setenv("TZ", "UTC0", 1);
  tzset();
  const struct {
    time_t when;
    uint32_t dos;
  } kTimes[] = {
      {1796823958, 0x5d896dbd},  // 2026-12-09 13:45:58
      {315532800, 0x00210000},   // 1980-01-01 00:00:00
      {315532799, 0},            // 1979-12-31 23:59:59
      {4354819198, 0xff9fbf7d},  // 2107-12-31 23:59:58
      {4354819200, 0},           // 2108-01-01 00:00:00
  };
  TempTree tree;
  tree.Files({"stamped_with_a_long_name.sys"});
  const std::string path = tree.Text() + "stamped_with_a_long_name.sys";
  for (const auto& row : kTimes) {
    const struct timeval stamps[2] = {{row.when, 0}, {row.when, 0}};
    ASSERT_EQ(utimes(path.c_str(), stamps), 0);
    TSearchRec rec;
    ASSERT_EQ(FindFirstEntry(path, kFaAnyFile, rec), 0);
    EXPECT_EQ(static_cast<uint32_t>(rec.FoundTime), row.dos) << row.when;
  }
  zone != nullptr ? setenv("TZ", before.c_str(), 1) : unsetenv("TZ");
  tzset();
}

// A directory whose name holds a backslash is listed but not entered: the
// path built from it leads elsewhere ("\\" back to the directory itself,
// "x\\y" to x/y), and entering it went on without end.
TEST(PosixSearch, ADirectoryNamedWithABackslashIsListedNotEntered) {
  TempTree tree;
  tree.Dirs({"out/\\", "out/x\\y_with_a_long_name", "out/x/y_with_a_long_name"});
  tree.Files({"out/\\/inside", "out/x/y_with_a_long_name/f"});
  TStringList dirList, fileList;
  ScanTree(dirList, fileList, tree.Text(), "out", "*.*", false, true);
  Names dirs, files;
  for (int32_t i = 0; i < dirList.Count(); ++i) dirs.push_back(dirList.ItemAt(i));
  for (int32_t i = 0; i < fileList.Count(); ++i) files.push_back(fileList.ItemAt(i));
  EXPECT_EQ(Sorted(dirs), (Names{"out\\", "out\\x\\", "out\\x\\y_with_a_long_name\\"}));
  EXPECT_EQ(Sorted(files), (Names{"out\\\\", "out\\x", "out\\x\\y_with_a_long_name",
                                  "out\\x\\y_with_a_long_name", "out\\x\\y_with_a_long_name\\f"}));
}

size_t OpenDescriptors() {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++count;
  return count;
}

// A scan keeps one search open for each level it is down; in a deep tree
// open directories would run out of descriptors.
TEST(PosixSearch, OpenSearchesHoldNoDescriptors) {
  TempTree tree;
  tree.Dirs({"a", "a/b", "a/b/c"});
  tree.Files({"a/b/c/x", "a/b/c/y"});
  const size_t before = OpenDescriptors();
  TSearchRec outer, middle, inner;
  ASSERT_EQ(FindFirstEntry(tree.Text() + "*", kFaAnyFile, outer), 0);
  ASSERT_EQ(FindFirstEntry(tree.Text() + "a/*", kFaAnyFile, middle), 0);
  ASSERT_EQ(FindFirstEntry(tree.Text() + "a/b/c/*", kFaAnyFile, inner), 0);
  posix::ForgetDirectories();  // the handles of the last path walked, a bounded few
  EXPECT_EQ(OpenDescriptors(), before);
  Names names;
  do {
    names.push_back(inner.FoundName);
  } while (FindNextEntry(inner) == 0);
  EXPECT_EQ(Sorted(names), (Names{".", "..", "x", "y"}));
}

TEST(PosixSearch, QuestionMarkTakesOneCharacterOfAUtf8Locale) {
  TempTree tree;
  tree.Files({"\xC3\xA9.txt"});
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  EXPECT_EQ(SearchNames(tree.Text() + "?.txt"), Names{"\xC3\xA9.txt"});
  std::setlocale(LC_CTYPE, saved.c_str());
}

// A search for kinds only tells directories, hidden entries and links apart
// as a full search does; it only leaves out what needs each entry looked at.
TEST(PosixSearch, KindsOnlyTellsTheSameKinds) {
  TempTree tree;
  tree.Dirs({"sub", ".hidden"});
  tree.Files({"plain", "sub/inner"});
  fs::create_directory_symlink("sub", tree.Root() / "link");
  auto kinds = [&](bool kindsOnly) {
    Names found;
    TSearchRec rec;
    rec.KindsOnly = kindsOnly;
    for (int32_t code = FindFirstEntry(tree.Text() + "*.*", kFaAnyFile, rec); code == 0;
         code = FindNextEntry(rec)) {
      const int32_t kind = rec.FoundAttr & (kFaDirectory | kFaHidden | kFaVolumeId);
      found.push_back(rec.FoundName + " " + std::to_string(kind));
      if (kindsOnly && rec.FoundName == "plain") {
        EXPECT_EQ(rec.FoundSize, 0);
      }
    }
    return Sorted(found);
  };
  EXPECT_EQ(kinds(true), kinds(false));
  EXPECT_EQ(kinds(true).size(), 6u);
}

std::string Numbered(const std::string& text, int i) {
  return text + std::to_string(i);
}

// The kept directory serves only its own entries under their given names;
// a rename into another directory is no case change and is refused.
TEST(PosixRename, TheKeptDirectoryServesOnlyItsOwnEntries) {
  TempTree tree;
  tree.Dirs({"d", "d2", "e", "A/b/a/b"});
  tree.Files({"d/a", "d/b", "d/Mixed", "d/c", "d/abc", "d/ABC", "d2/b", "A/b/y", "A/b/a/b/x"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "d\\a", root + "D\\A"));
  EXPECT_FALSE(RenamePath(root + "d2\\b", root + "D\\B"));  // into another directory
  EXPECT_TRUE(RenamePath(root + "d//\\b", root + "D/B"));
  EXPECT_TRUE(RenamePath(root + "d\\mixed", root + "D\\MIXED"));  // spelled otherwise on disk
  EXPECT_FALSE(RenamePath(root + "d\\abc", root + "D\\ABC"));
  EXPECT_FALSE(RenamePath(root + "d\\gone", root + "D\\GONE"));
  EXPECT_FALSE(RenamePath(root + "d\\..", root + "D\\.."));
  EXPECT_FALSE(RenamePath(root + "d\\c", root + "e\\C"));
  EXPECT_FALSE(RenamePath(root + "a\\b\\a", root + "a"));
  EXPECT_TRUE(RenamePath(root + "a\\b\\y", root + "A\\B\\Y"));  // found without regard to case
  EXPECT_EQ(tree.Listing("d"), (Names{"A", "ABC", "B", "MIXED", "abc", "c"}));
  EXPECT_EQ(tree.Listing("d2"), Names{"b"});
  EXPECT_EQ(tree.Listing("e"), Names{});
  EXPECT_EQ(tree.Listing("A/b"), (Names{"Y", "a"}));
  EXPECT_EQ(tree.Content("d/MIXED") + tree.Content("d/abc"), "d/Mixedd/abc");
}

// A directory moved out of the tree between two renames of its entries is
// not renamed in through the handle kept of it, nor is the one made anew in
// its place, which the run never saw. A link given as the directory itself,
// as the user may give the tree, is followed for each rename.
TEST(PosixRename, ADirectoryMovedOutOfTheTreeIsNotRenamedIn) {
  TempTree tree;
  tree.Dirs({"out/d", "elsewhere"});
  tree.Files({"out/d/first", "out/d/second", "out/d/third"});
  fs::create_directory_symlink(tree.Root() / "out/d", tree.Root() / "given");
  const std::string root = tree.Text();
  posix::ForgetDirectories();
  EXPECT_TRUE(RenamePath(root + "given/first", root + "GIVEN/FIRST"));
  EXPECT_TRUE(RenamePath(root + "out/d/second", root + "OUT/D/SECOND"));
  fs::rename(tree.Root() / "out/d", tree.Root() / "elsewhere/d");
  tree.Dirs({"out/d"});
  tree.Files({"out/d/third"});
  EXPECT_FALSE(RenamePath(root + "out/d/third", root + "OUT/D/THIRD"));
  EXPECT_EQ(tree.Listing("elsewhere/d"), (Names{"FIRST", "SECOND", "third"}));
  EXPECT_EQ(tree.Listing("out/d"), Names{"third"});
}

// How often directories are read: once each for the spellings of a name
// (which a line with two of them fails on), again only where a spelling the
// run relies on went; not at all where a search read the directory and it
// has not changed since.
struct ReadCount {
  const char* what;
  Names dirs, files;
  std::vector<std::tuple<std::string, std::string, bool>> renames;  // below the tree
  std::function<void(TempTree&)> meanwhile;  // after the renames, before the last
  size_t reads;
  Names listing;  // of the tree's root afterwards
  // Where given, the tree, made an hour ago, is searched before the renames,
  // and then this runs.
  std::function<void(TempTree&)> searchedThen = nullptr;
};

Names FiftyFiles(const char* first) {
  Names names;
  for (int i = 0; i < 50; ++i) names.push_back(first + std::to_string(i));
  return names;
}

// One file in each of more directories than the run keeps listings of,
// renamed directory after directory, and then the first one's again.
struct ManyDirectories {
  Names dirs, files, renamed;
  std::vector<std::tuple<std::string, std::string, bool>> renames;
};

ManyDirectories MoreDirectoriesThanKept() {
  ManyDirectories many;
  for (size_t i = 0; i <= posix::ListingCache::kMostKept; ++i) {
    const std::string dir = Numbered("directory", static_cast<int>(i));
    many.dirs.push_back(dir);
    many.files.push_back(dir + "/f");
    many.renamed.push_back(dir);
    many.renames.emplace_back(dir + "\\f", dir + "\\F", true);
  }
  many.files.push_back(many.dirs[0] + "/g");
  many.renames.emplace_back(many.dirs[0] + "\\g", many.dirs[0] + "\\G", true);
  return many;
}

std::vector<std::tuple<std::string, std::string, bool>> FiftyRenames() {
  std::vector<std::tuple<std::string, std::string, bool>> renames;
  for (int i = 0; i < 50; ++i) {
    renames.emplace_back("f" + std::to_string(i), "F" + std::to_string(i), true);
  }
  return renames;
}

TEST(PosixRename, DirectoriesAreReadOnceEach) {
  const ManyDirectories many = MoreDirectoriesThanKept();
  const ReadCount kCounts[] = {
      {"exact spellings",
       {},
       {"abc", "ABC2", "abc2"},
       {{"abc", "ABC", true}, {"abc2", "ABC2", false}},
       nullptr,
       1,
       {"ABC", "ABC2", "abc2"}},
      {"entries of one directory",
       {},
       FiftyFiles("f"),
       FiftyRenames(),
       nullptr,
       1,
       FiftyFiles("F")},
      {"a spelling that went",
       {"d"},
       {"d/f3"},
       {{"d\\", "D\\", true}, {"d\\f3", "D\\F3", true}, {"D\\F3", "D\\F3", true}},
       [](TempTree& tree) { fs::rename(tree.Root() / "D", tree.Root() / "d"); },
       3,
       {"d"}},
      {"a directory come back to after more than are kept", many.dirs, many.files, many.renames,
       nullptr, many.dirs.size() + 1, many.renamed},
      {"a directory searched first",
       {},
       FiftyFiles("f"),
       FiftyRenames(),
       nullptr,
       0,
       FiftyFiles("F"),
       [](TempTree&) {}},
      {"a second spelling made since the search",
       {},
       {"abc_long_name_of_a_file"},
       {{"abc_long_name_of_a_file", "ABC_LONG_NAME_OF_A_FILE", false}},
       nullptr,
       1,
       {"Abc_long_name_of_a_file", "abc_long_name_of_a_file"},
       [](TempTree& tree) { tree.Files({"Abc_long_name_of_a_file"}); }},
      {"two spellings beyond ASCII, searched first",
       {},
       {"a\xC3\xBF_long_file_name.sif", "a\xC5\xB8_long_file_name.sif"},
       {{"a\xC3\xBF_long_file_name.sif", "A\xC5\xB8_LONG_FILE_NAME.SIF", false}},
       nullptr,
       0,
       {"a\xC3\xBF_long_file_name.sif", "a\xC5\xB8_long_file_name.sif"},
       [](TempTree&) {}},
  };
  const std::string saved = std::setlocale(LC_CTYPE, nullptr);
  ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
  for (const ReadCount& count : kCounts) {
    SCOPED_TRACE(count.what);
    TempTree tree;
    tree.Dirs(count.dirs);
    tree.Files(count.files);
    posix::ForgetDirectories();
    if (count.searchedThen) {
      fs::last_write_time(tree.Root(), fs::file_time_type::clock::now() - std::chrono::hours(1));
      TSearchRec rec;
      ASSERT_EQ(FindFirstEntry(tree.Text() + "*.*", kFaAnyFile, rec), 0);
      EndFind(rec);
      count.searchedThen(tree);
    }
    for (size_t i = 0; i < count.renames.size(); ++i) {
      const auto& [from, to, renamed] = count.renames[i];
      if (count.meanwhile && i + 1 == count.renames.size()) count.meanwhile(tree);
      EXPECT_EQ(RenamePath(tree.Text() + from, tree.Text() + to), renamed) << from;
    }
    EXPECT_EQ(posix::DirectoryReads(), count.reads);
    EXPECT_EQ(tree.Listing(), Sorted(count.listing));
  }
  std::setlocale(LC_CTYPE, saved.c_str());
}

// Paths relative to the working directory (a run given "."): the walk
// starts there, and its entries and those below are renamed, the first one
// by its bare name too.
TEST(PosixRename, EntriesOfTheWorkingDirectoryAreRenamedByRelativePaths) {
  TempTree tree;
  tree.Dirs({"directory_with_a_long_name"});
  tree.Files({"bare_name_of_a_file.sif", "file_with_a_long_name.sif",
              "directory_with_a_long_name/inner_long_name.sif"});
  const fs::path before = fs::current_path();
  fs::current_path(tree.Root());
  posix::ForgetDirectories();
  EXPECT_TRUE(RenamePath("bare_name_of_a_file.sif", "BARE_NAME_OF_A_FILE.SIF"));
  EXPECT_TRUE(RenamePath(".\\file_with_a_long_name.sif", ".\\FILE_WITH_A_LONG_NAME.SIF"));
  EXPECT_TRUE(RenamePath("directory_with_a_long_name\\inner_long_name.sif",
                         "directory_with_a_long_name\\INNER_LONG_NAME.SIF"));
  EXPECT_TRUE(RenamePath("directory_with_a_long_name", "DIRECTORY_WITH_A_LONG_NAME"));
  fs::current_path(before);
  posix::ForgetDirectories();
  EXPECT_EQ(tree.Listing(), (Names{"BARE_NAME_OF_A_FILE.SIF", "DIRECTORY_WITH_A_LONG_NAME",
                                   "FILE_WITH_A_LONG_NAME.SIF"}));
  EXPECT_EQ(tree.Listing("DIRECTORY_WITH_A_LONG_NAME"), Names{"INNER_LONG_NAME.SIF"});
}

// A directory renamed by the run takes its entries along: they are found
// under its new spelling by the paths they were collected with.
TEST(PosixRename, EntriesFollowTheirRenamedDirectory) {
  TempTree tree;
  tree.Dirs({"d/sub"});
  tree.Files({"d/g", "d/sub/f1", "d/sub/f2"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "d\\sub\\", root + "D\\SUB\\"));
  EXPECT_TRUE(RenamePath(root + "d\\", root + "D\\"));
  EXPECT_TRUE(RenamePath(root + "d\\g", root + "D\\G"));
  EXPECT_TRUE(RenamePath(root + "d\\sub\\f1", root + "D\\SUB\\F1"));
  EXPECT_TRUE(RenamePath(root + "d\\sub\\f2", root + "D\\SUB\\F2"));
  EXPECT_TRUE(RenamePath(root + "d\\sub", root + "D\\SUB"));
  EXPECT_EQ(tree.Listing(), Names{"D"});
  EXPECT_EQ(tree.Listing("D"), (Names{"G", "SUB"}));
  EXPECT_EQ(tree.Listing("D/SUB"), (Names{"F1", "F2"}));
}

// Names stored in another letter case than on disk are each looked up in the
// directory's listing, read once and kept up to date with the renames.
TEST(PosixRename, CaselessLookupsReadABigDirectoryOnce) {
  TempTree tree;
  tree.Dirs({"d"});
  Names renamed;
  for (int i = 0; i < 2000; ++i) {
    tree.Files({Numbered("d/Name", i)});
    renamed.push_back(Numbered("NAME", i));
  }
  const std::string dir = tree.Text() + "d\\";
  posix::ForgetDirectories();
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 2000; ++i) {
      ASSERT_TRUE(RenamePath(dir + Numbered("name", i), dir + Numbered("NAME", i))) << i;
    }
  }
  EXPECT_EQ(posix::DirectoryReads(), 1u);
  EXPECT_EQ(tree.Listing("d"), Sorted(renamed));
}

// A fresh FAT image mounted through fusefat for each test: a file system that
// folds case and takes no rename flags. Afterwards fsck.fat must find it sound.
class FatRename : public ::testing::Test {
 protected:
  void SetUp() override {
    if (access("/dev/fuse", R_OK | W_OK) != 0 || Run("command -v fusefat >/dev/null") != 0) {
      GTEST_SKIP() << "FUSE is missing here: no FAT image can be mounted";
    }
    fs::create_directory(mount_);
    fs::resize_file((std::ofstream(image_), image_), 8 << 20);
    ASSERT_EQ(Run("mkfs.fat " + image_ + " >/dev/null"), 0) << "mkfs.fat (dosfstools) missing?";
    ASSERT_EQ(Run("fusefat -o rw+ " + image_ + " " + mount_.string() + " >/dev/null 2>&1"), 0);
    mounted_ = true;
  }
  void TearDown() override {
    if (!mounted_) return;
    if (Run("fusermount -u " + mount_.string()) != 0) Run("fusermount3 -u " + mount_.string());
    // The daemon writes the image back after the unmount returns.
    for (int i = 0; i < 300 && Run("pgrep -f '^fusefat .*" + image_ + "' >/dev/null") == 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_EQ(Run("fsck.fat -n " + image_ + " >/dev/null"), 0) << "the FAT image is damaged";
  }
  static int Run(const std::string& command) { return std::system(command.c_str()); }

  TempTree place_;
  std::string image_ = (place_.Root() / "fat.img").string();
  fs::path mount_ = place_.Root() / "mnt";
  bool mounted_ = false;
};

TEST_F(FatRename, CaseChangesShowInTheListingAndNothingIsReplacedOrLost) {
  TempTree tree(mount_);
  tree.Dirs({"sub", "UPDIR"});
  tree.Files({"abc.txt", "sub/inner.txt", "one", "two", "UP"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "abc.txt", root + "ABC.TXT"));
  EXPECT_TRUE(RenamePath(root + "up", root + "UP"));
  EXPECT_TRUE(RenamePath(root + "updir\\", root + "UPDIR\\"));
  EXPECT_FALSE(RenamePath(root + "gone", root + "GONE"));
  EXPECT_FALSE(RenamePath(root + "one", root + "two"));
  EXPECT_FALSE(RenamePath(root + "one", root + "TWO"));  // answers to two
  // fusefat refuses a case change of a directory and empties a moved one.
  EXPECT_FALSE(RenamePath(root + "sub\\", root + "SUB\\"));
  EXPECT_EQ(tree.Listing(), (Names{"ABC.TXT", "UP", "UPDIR", "one", "sub", "two"}));
  EXPECT_EQ(tree.Content("ABC.TXT") + tree.Content("sub/inner.txt"), "abc.txtsub/inner.txt");
  EXPECT_EQ(tree.Content("one") + tree.Content("two"), "onetwo");
  EXPECT_EQ(SearchNames(root + "SUB\\*.TXT"), Names{"inner.txt"});
}

}  // namespace
}  // namespace dazi

namespace dazi {
namespace {

using namespace test_support;

struct SwapCase {
  const char* name;
  const char* linkTarget;  // what b becomes, relative to the tree's root
};
void PrintTo(const SwapCase& c, std::ostream* out) {
  *out << c.name;
}

class SwapTest : public ::testing::TestWithParam<SwapCase> {};

// A directory that the run saw is swapped for a link between its scan and
// the renames of its entries: they fail, and nothing behind the link is
// renamed. A link that was there before the run is the user's and followed.
TEST_P(SwapTest, NothingBehindASwappedLinkIsRenamed) {
  TempTree tree;
  tree.Dirs({"out/d/a", "out/d/b", "outside"});
  tree.Files({"out/d/a/x", "out/d/b/x", "outside/x", "out/file"});
  fs::create_directory_symlink(tree.Root() / "out", tree.Root() / "given");
  const std::string d = tree.Text() + "given/d/";
  EXPECT_EQ(SearchNames(d + "*"), (Names{".", "..", "a", "b"}));
  EXPECT_EQ(SearchNames(d + "b/*"), (Names{".", "..", "x"}));
  EXPECT_TRUE(RenamePath(d + "a\\x", d + "A\\X"));
  fs::rename(tree.Root() / "out/d/b", tree.Root() / "aside");
  fs::create_symlink(fs::path("../..") / GetParam().linkTarget, tree.Root() / "out/d/b");
  EXPECT_FALSE(RenamePath(d + "b\\x", d + "B\\X"));
  EXPECT_FALSE(RenamePath(d + "B\\x", d + "B\\X"));
  EXPECT_EQ(SearchNames(d + "b/*"), Names{});
  EXPECT_EQ(tree.Listing("outside"), Names{"x"});
  EXPECT_EQ(tree.Listing("aside"), Names{"x"});
  EXPECT_EQ(tree.Listing("out/d/a"), Names{"X"});
  EXPECT_TRUE(RenamePath(d + "b", d + "B"));  // the link itself, as an entry of d
}

INSTANTIATE_TEST_SUITE_P(Links, SwapTest,
                         ::testing::Values(SwapCase{"ToADirectoryOutside", "outside"},
                                           SwapCase{"ToAFile", "out/file"},
                                           SwapCase{"ToTheParent", "out"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A directory that only a search saw, below a directory a killed run left
// parked, is swapped for a link; the run then finishes the parked name (its
// upper-case path changes) and still does not follow the link.
TEST(PosixRename, ASwappedDirectoryStaysRefusedWhenItsParkedParentIsFinished) {
  TempTree tree;
  tree.Dirs({"out/~DZ~d/b", "outside"});
  tree.Files({"out/~DZ~d/b/x", "outside/x"});
  const std::string out = tree.Text() + "out/";
  EXPECT_EQ(SearchNames(out + "d/*"), (Names{".", "..", "b"}));
  fs::rename(tree.Root() / "out/~DZ~d/b", tree.Root() / "aside");
  fs::create_directory_symlink(tree.Root() / "outside", tree.Root() / "out/~DZ~d/b");
  EXPECT_TRUE(RenamePath(out + "d", out + "D"));
  EXPECT_FALSE(RenamePath(out + "D\\b\\x", out + "D\\B\\X"));
  EXPECT_EQ(tree.Listing("outside"), Names{"x"});
}

// An entry that a killed run left under its parked name is found by the
// name it had, by searches and by renames, and gets its new name.
TEST(PosixRename, AParkedEntryIsFinishedByTheNextRun) {
  TempTree tree;
  tree.Files({"~DZ~abc.sif", "~DZ~twin", "TWIN", "~DZ~"});
  const std::string root = tree.Text();
  EXPECT_EQ(SearchNames(root + "*.sif"), Names{"abc.sif"});
  EXPECT_EQ(SearchNames(root + "*"), (Names{".", "..", "TWIN", "abc.sif", "~DZ~", "~DZ~twin"}));
  EXPECT_TRUE(RenamePath(root + "abc.sif", root + "ABC.SIF"));
  EXPECT_TRUE(RenamePath(root + "twin", root + "TWIN"));  // already so spelled
  EXPECT_EQ(tree.Listing(), (Names{"ABC.SIF", "TWIN", "~DZ~", "~DZ~twin"}));
  EXPECT_EQ(tree.Content("ABC.SIF"), "~DZ~abc.sif");
}

}  // namespace
}  // namespace dazi
