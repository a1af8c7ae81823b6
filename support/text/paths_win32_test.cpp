#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/text/paths.h"

namespace dazi {
namespace {

// A fresh directory under the temporary folder, spelled in full and ending in
// a backslash, holding "sub\x\" and the file "file"; the current directory is
// restored afterwards.
class PathsWin32Test : public testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH + 1];
    ASSERT_NE(GetTempPathA(sizeof temp, temp), 0u);
    char full[MAX_PATH + 1];
    ASSERT_NE(GetFullPathNameA(temp, sizeof full, full, nullptr), 0u);
    root_ = std::string(full) + "dazi-paths-" + std::to_string(GetCurrentProcessId()) + "\\";
    ASSERT_TRUE(CreateDirectoryA(root_.c_str(), nullptr));
    CreateDirectoryA((root_ + "sub").c_str(), nullptr);
    CreateDirectoryA((root_ + "sub\\x").c_str(), nullptr);
    HANDLE file = CreateFileA((root_ + "file").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    GetCurrentDirectoryA(sizeof saved_, saved_);
  }
  void TearDown() override {
    SetCurrentDirectoryA(saved_);
    DeleteFileA((root_ + "file").c_str());
    RemoveDirectoryA((root_ + "sub\\x").c_str());
    RemoveDirectoryA((root_ + "sub").c_str());
    RemoveDirectoryA(root_.c_str());
  }

  std::string root_;
  char saved_[MAX_PATH + 1] = {};
};

TEST_F(PathsWin32Test, DirectoryTestOfPathsEndingInBackslash) {
  struct Case {
    std::string path;
    bool directory;
  };
  for (const Case& c :
       {Case{root_, true}, Case{root_ + "sub\\x\\", true}, Case{root_ + "file\\", false},
        Case{root_ + "file", false}, Case{root_ + "missing\\", false},
        Case{root_ + std::string("\0file", 5), false}}) {
    EXPECT_EQ(IsExistingDirectory(c.path), c.directory) << testing::PrintToString(c.path);
  }
}

TEST_F(PathsWin32Test, FullPathJoinsTheCurrentDirectory) {
  ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
  EXPECT_EQ(FullPathOf(".\\out"), root_ + "out");
  EXPECT_EQ(FullPathOf("sub\\x\\"), root_ + "sub\\x\\");
  ASSERT_TRUE(SetCurrentDirectoryA((root_ + "sub\\x").c_str()));
  EXPECT_EQ(FullPathOf("..\\b"), root_ + "sub\\b");
  EXPECT_EQ(FullPathOf(""), "");
}

TEST_F(PathsWin32Test, FullPathNearAndBeyondMaxPathIsWholeOrNothing) {
  ASSERT_TRUE(SetCurrentDirectoryA(root_.c_str()));
  std::string longest(MAX_PATH - 1 - root_.size(), 'n');
  EXPECT_EQ(FullPathOf(longest), root_ + longest);
  // Whether the ANSI call goes beyond MAX_PATH depends on the Windows version.
  std::string name = longest + "\\x";
  std::string full = FullPathOf(name);
  EXPECT_TRUE(full.empty() || full == root_ + name) << full;
}

TEST(ExpandEnvVars, ReplacesReferencesFromTheEnvironment) {
  ASSERT_TRUE(SetEnvironmentVariableA("DAZI_TEST_TEMP", "C:\\t"));
  std::string longValue(400, 'v');
  ASSERT_TRUE(SetEnvironmentVariableA("DAZI_TEST_LONG", longValue.c_str()));
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_TEMP%\\x"), "C:\\t\\x");
  EXPECT_EQ(ExpandEnvVars("%dazi_test_temp%\\x"), "C:\\t\\x");
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_NOSUCHNAME%\\x"), "%DAZI_TEST_NOSUCHNAME%\\x");
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_LONG%%DAZI_TEST_LONG%"), longValue + longValue);
  EXPECT_EQ(ExpandEnvVars("no percent"), "no percent");
  EXPECT_EQ(ExpandEnvVars(""), "");
  SetEnvironmentVariableA("DAZI_TEST_TEMP", nullptr);
  SetEnvironmentVariableA("DAZI_TEST_LONG", nullptr);
}

}  // namespace
}  // namespace dazi
