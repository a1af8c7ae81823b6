#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fs/filesys.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using test_support::SearchNames;
using test_support::TempTree;

std::string StoredSpelling(const std::string& path) {
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(path.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return std::string();
  FindClose(handle);
  return std::string(entry.cFileName, strnlen(entry.cFileName, MAX_PATH));
}

// Under Wine the drive Z: is the host's root, and FindFirstFileA reports the
// spelling that the host's own listing shows. MoveFileA alone keeps the old
// spelling there.
TEST(Win32Rename, CaseChangeShowsOnTheHostFileSystem) {
  if (GetFileAttributesA("Z:\\tmp") == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no host file system on Z:";
  }
  TempTree tree("Z:\\tmp");
  tree.Dirs({"dir"});
  tree.Files({"dir/file.txt"});
  const std::string root = tree.Text();
  EXPECT_TRUE(RenamePath(root + "dir\\file.txt", root + "DIR\\FILE.TXT"));
  EXPECT_TRUE(RenamePath(root + "dir\\", root + "DIR\\"));
  EXPECT_EQ(StoredSpelling(root + "dir"), "DIR");
  EXPECT_EQ(StoredSpelling(root + "dir\\file.txt"), "FILE.TXT");
  EXPECT_EQ(tree.Content("DIR/FILE.TXT"), "dir/file.txt");
  EXPECT_EQ(tree.Listing("DIR"), test_support::Names{"FILE.TXT"});
}

// An entry that a killed run left under its parked name is found under its
// own name, by masks that match the own name, unless another entry answers
// to that name; its rename finishes the one the killed run began.
TEST(Win32Rename, ParkedEntryIsFoundAndFinished) {
  TempTree tree;
  tree.Dirs({"drv", "~DZ~sub"});
  tree.Files({"drv/~DZ~abc.sys", "drv/~DZ~def.sys", "drv/def.sys", "drv/x.inf"});
  const std::string drv = tree.Text() + "drv\\";
  using Names = test_support::Names;
  EXPECT_EQ(SearchNames(drv + "*.*"),
            (Names{".", "..", "abc.sys", "def.sys", "x.inf", "~DZ~def.sys"}));
  EXPECT_EQ(SearchNames(drv + "a*.sys"), Names{"abc.sys"});
  EXPECT_EQ(SearchNames(drv + "abc.sys"), Names{"abc.sys"});
  EXPECT_EQ(SearchNames(drv + "*.inf"), Names{"x.inf"});
  EXPECT_EQ(SearchNames(tree.Text() + "s*", kFaDirectory), Names{"sub"});

  EXPECT_TRUE(RenamePath(drv + "abc.sys", drv + "ABC.SYS"));
  EXPECT_TRUE(RenamePath(tree.Text() + "sub\\", tree.Text() + "SUB\\"));
  EXPECT_FALSE(RenamePath(drv + "gone.sys", drv + "GONE.SYS"));
  EXPECT_EQ(tree.Listing("drv"), (Names{"ABC.SYS", "def.sys", "x.inf", "~DZ~def.sys"}));
  EXPECT_EQ(tree.Content("drv/ABC.SYS"), "drv/~DZ~abc.sys");
  EXPECT_EQ(StoredSpelling(tree.Text() + "sub"), "SUB");
}

}  // namespace
}  // namespace dazi
