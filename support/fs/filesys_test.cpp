#include "support/fs/filesys.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace test_support;

struct SearchCase {
  const char* pattern;  // below the tree's root
  int32_t mask;
  Names expected;
};
void PrintTo(const SearchCase& c, std::ostream* out) {
  *out << c.pattern << " mask " << c.mask;
}

class SearchTest : public ::testing::TestWithParam<SearchCase> {};

TEST_P(SearchTest, DeliversMatchingEntries) {
  TempTree tree;
  tree.Dirs({"sub/inner", "WINLOG"});
  tree.Files({"hal.dll", "HALX.DLL", "xhal.dll", "hal.txt", "winner.txt", "WINLOG/noext",
              "sub/a.sif", "sub/inner/deep.txt"});
  EXPECT_EQ(SearchNames(tree.Text() + GetParam().pattern, GetParam().mask), GetParam().expected);
}

const int32_t kAny = kFaAnyFile;
INSTANTIATE_TEST_SUITE_P(
    Patterns, SearchTest,
    ::testing::Values(SearchCase{"hal*.dll", kAny, {"HALX.DLL", "hal.dll"}},
                      SearchCase{"win*", kAny, {"WINLOG", "winner.txt"}},
                      SearchCase{"WINLOG\\*.*", kAny, {".", "..", "noext"}},
                      SearchCase{"SUB\\Inner\\*", kAny, {".", "..", "deep.txt"}},
                      SearchCase{"\\sub\\\\inner\\*", kAny, {".", "..", "deep.txt"}},
                      SearchCase{"Sub\\*.SIF", kAny, {"a.sif"}}, SearchCase{"nothing*", kAny, {}},
                      SearchCase{"missing\\*.*", kAny, {}}, SearchCase{"s?b\\*.*", kAny, {}},
                      SearchCase{"sub\\", kAny, {}}, SearchCase{"sub\\*.*", 0, {"a.sif"}},
                      SearchCase{"sub\\inn*", 0, {}},
                      SearchCase{"sub\\*.*", kFaDirectory, {".", "..", "a.sif", "inner"}}));

TEST(Search, RecordStatesAndFields) {
  TempTree tree;
  tree.Dirs({"d"});
  tree.Files({"only.txt"});
  TSearchRec rec;
  ASSERT_EQ(FindFirstEntry(tree.Text() + "only*", kFaAnyFile, rec), 0);
  EXPECT_EQ(rec.FoundAttr & (kFaDirectory | kFaVolumeId), 0);
  EXPECT_EQ(rec.FoundSize, 8);
  EXPECT_NE(FindNextEntry(rec), 0);
  EXPECT_TRUE(IsSearchOpen(rec));
  EXPECT_EQ(rec.FoundName, "only.txt");  // still the last entry delivered
  EndFind(rec);
  EndFind(rec);
  EXPECT_FALSE(IsSearchOpen(rec));
  ASSERT_EQ(FindFirstEntry(tree.Text() + "d", kFaAnyFile, rec), 0);
  EXPECT_EQ(rec.FoundAttr & kFaDirectory, kFaDirectory);
  EXPECT_NE(FindFirstEntry(tree.Text() + "none", kFaAnyFile, rec), 0);
  EXPECT_FALSE(IsSearchOpen(rec));
  EXPECT_EQ(rec.FoundName, "d");  // a failed start leaves the fields alone
}

TEST(Search, HiddenSystemAndReadOnlyEntries) {
  TempTree tree;
  tree.Files({".secret", "ro.txt"});
  MarkHiddenSystem(tree.Root() / ".secret");
  fs::permissions(tree.Root() / "ro.txt", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(SearchNames(tree.Text() + "*", 0), Names{"ro.txt"});
  EXPECT_EQ(SearchNames(tree.Text() + "*"), (Names{".", "..", ".secret", "ro.txt"}));
  TSearchRec rec;
  ASSERT_EQ(FindFirstEntry(tree.Text() + "ro.txt", 0, rec), 0);
  EXPECT_EQ(rec.FoundAttr & kFaReadOnly, kFaReadOnly);
}

TEST(IsExistingFile, OnlyForEntriesThatAreNoDirectory) {
  TempTree tree;
  tree.Dirs({"dir"});
  tree.Files({"file.env"});
  EXPECT_TRUE(IsExistingFile(tree.Text() + "file.env"));
  EXPECT_FALSE(IsExistingFile(tree.Text() + "dir"));
  EXPECT_FALSE(IsExistingFile(tree.Text() + "missing.env"));
  EXPECT_FALSE(IsExistingFile(""));
}

struct RenameCase {
  const char* name;
  Names dirs, files;
  const char* source;  // below the root
  const char* target;  // below the root, which is upper-cased as a run does
  bool result;
  Names rootAfter;
  const char* kept;  // a file whose content must not change
};
void PrintTo(const RenameCase& c, std::ostream* out) {
  *out << c.name;
}

class RenameTest : public ::testing::TestWithParam<RenameCase> {};

TEST_P(RenameTest, OnRealDisk) {
  const RenameCase& c = GetParam();
  TempTree tree;
  tree.Dirs(c.dirs);
  tree.Files(c.files);
  EXPECT_EQ(RenamePath(tree.Text() + c.source, Upper(tree.Text()) + c.target), c.result);
  EXPECT_EQ(tree.Listing(), c.rootAfter);
  if (c.kept[0] != '\0') {
    EXPECT_EQ(Upper(tree.Content(c.kept)), Upper(c.kept));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenameTest,
    ::testing::Values(
        RenameCase{"FileCase", {}, {"abc.txt"}, "abc.txt", "ABC.TXT", true, {"ABC.TXT"}, "ABC.TXT"},
        RenameCase{
            "DirWithBackslash", {"sub"}, {"sub/f"}, "sub\\", "SUB\\", true, {"SUB"}, "SUB/f"},
        RenameCase{"DoubledBackslash", {}, {"two"}, "\\two", "\\TWO", true, {"TWO"}, "TWO"},
        RenameCase{"InLowerCaseDir", {"d"}, {"d/x"}, "d\\x", "D\\X", true, {"d"}, "d/X"},
        RenameCase{"SlashSeparated", {"d"}, {"d/y"}, "d/y", "D/Y", true, {"d"}, "d/Y"},
        RenameCase{"AlreadyUpper", {}, {"UP"}, "UP", "UP", true, {"UP"}, "UP"},
        RenameCase{"FoldedSourceAlreadyUpper", {}, {"UP"}, "up", "UP", true, {"UP"}, "UP"},
        RenameCase{"MissingSource", {}, {}, "gone", "GONE", false, {}, ""},
        RenameCase{"OtherEntry", {}, {"one", "two"}, "one", "two", false, {"one", "two"}, "two"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dazi
