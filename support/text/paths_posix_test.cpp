#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/text/paths.h"
#include "support/text/text.h"

namespace dazi {
namespace {

namespace fs = std::filesystem;

// A fresh directory (symbolic links resolved, as getcwd reports it) holding
// "sub/x" and the file "file"; the current directory is restored afterwards.
class PathsPosixTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "dazi-paths-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = fs::canonical(pattern).string();
    fs::create_directories(root_ + "/sub/x");
    std::ofstream(root_ + "/file") << "text";
    saved_ = fs::current_path();
  }
  void TearDown() override {
    fs::current_path(saved_);
    fs::remove_all(root_);
  }

  std::string root_;
  fs::path saved_;
};

TEST_F(PathsPosixTest, DirectoryTestTakesEitherSeparator) {
  struct Case {
    std::string path;
    bool directory;
  };
  for (const Case& c : {Case{root_, true}, Case{root_ + "\\", true}, Case{root_ + "/", true},
                        Case{root_ + "\\sub\\x\\", true}, Case{root_ + "/sub\\\\x", true},
                        Case{root_ + "/file", false}, Case{root_ + "\\file\\", false},
                        Case{root_ + "\\missing\\", false}, Case{"", false},
                        Case{root_ + std::string("\0/file", 6), false}}) {
    EXPECT_EQ(IsExistingDirectory(c.path), c.directory) << testing::PrintToString(c.path);
  }
}

TEST_F(PathsPosixTest, FullPathJoinsTheCurrentDirectory) {
  fs::current_path(root_);
  EXPECT_EQ(FullPathOf(".\\out"), root_ + "/out");
  EXPECT_EQ(FullPathOf("sub\\x\\"), root_ + "/sub/x/");
  EXPECT_EQ(FullPathOf("/abs\\y/../z"), "/abs/z");
  fs::current_path(root_ + "/sub/x");
  EXPECT_EQ(FullPathOf("..\\b"), root_ + "/sub/b");
  EXPECT_EQ(FullPathOf("."), root_ + "/sub/x");
}

// In a double-byte character set (lead bytes 0x81-0x9F here) a backslash may
// be the trail byte of a character: it belongs to the name and separates
// nothing, as on Windows.
TEST_F(PathsPosixTest, ABackslashTrailByteBelongsToTheName) {
  const std::string name = "d\x83\\";
  fs::create_directories(root_ + "/" + name + "/x");
  const TextLocale saved = CurrentTextLocale();
  CurrentTextLocale().doubleByteMode = true;
  for (int b = 0x81; b <= 0x9F; ++b) CurrentTextLocale().leadByteSet[b] = true;
  fs::current_path(root_);
  const bool found = IsExistingDirectory(root_ + "\\" + name + "\\x");
  const std::string full = FullPathOf(name + "\\x\\");
  CurrentTextLocale() = saved;
  EXPECT_TRUE(found);
  EXPECT_EQ(full, root_ + "/" + name + "/x/");
}

// Sets environment variables for one test and removes them afterwards.
class EnvironmentScope {
 public:
  ~EnvironmentScope() {
    for (const std::string& name : names_) unsetenv(name.c_str());
  }
  void Set(const std::string& name, const char* value) {
    ASSERT_EQ(getenv(name.c_str()), nullptr) << name << " is set already";
    names_.push_back(name);
    setenv(name.c_str(), value, 1);
  }

 private:
  std::vector<std::string> names_;
};

TEST(ExpandEnvVars, ReplacesReferencesFromTheEnvironment) {
  EnvironmentScope environment;
  environment.Set("DAZI_TEST_TEMP", "C:\\t");
  environment.Set("DAZI_TEST_Both", "lower");
  environment.Set("DAZI_TEST_BOTH", "upper");
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_TEMP%\\x"), "C:\\t\\x");
  EXPECT_EQ(ExpandEnvVars("%dazi_test_temp%\\x"), "C:\\t\\x");
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_Both%-%DAZI_TEST_BOTH%"), "lower-upper");
  EXPECT_EQ(ExpandEnvVars("%DAZI_TEST_NOSUCHNAME%\\x"), "%DAZI_TEST_NOSUCHNAME%\\x");
  EXPECT_EQ(ExpandEnvVars("no percent"), "no percent");
  EXPECT_EQ(ExpandEnvVars(""), "");
}

}  // namespace
}  // namespace dazi
