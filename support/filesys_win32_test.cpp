#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/filesys.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

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
}

}  // namespace
}  // namespace dazi
