#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/runtime/cmdline.h"

namespace dazi {
namespace {

class ProcessArgs : public testing::Test {
 protected:
  void Set(std::vector<std::string> words) {
    words_ = std::move(words);
    pointers_.clear();
    for (std::string& word : words_) pointers_.push_back(word.data());
    pointers_.push_back(nullptr);
    SetProcessArguments(static_cast<int>(words_.size()), pointers_.data());
  }
  void TearDown() override { SetProcessArguments(0, nullptr); }

 private:
  std::vector<std::string> words_;
  std::vector<char*> pointers_;
};

TEST_F(ProcessArgs, EmptyArgumentsAreNeitherCountedNorIndexed) {
  Set({"./dazi", "", "a b", "", "-?", ""});
  EXPECT_EQ(ArgCount(), 2);
  EXPECT_EQ(ArgAt(1), "a b");
  EXPECT_EQ(ArgAt(2), "-?");
  EXPECT_EQ(ArgAt(3), "");
  EXPECT_EQ(ArgAt(-1), "");
  EXPECT_TRUE(HasSwitch("?", "-", true));
  EXPECT_FALSE(HasSwitch("b", "a", true));
}

TEST_F(ProcessArgs, ArgumentsAreKeptAsTheShellSplitThem) {
  Set({"dazi", "\"x\"", "a\\\"b", "  "});
  EXPECT_EQ(ArgCount(), 3);
  EXPECT_EQ(ArgAt(1), "\"x\"");
  EXPECT_EQ(ArgAt(2), "a\\\"b");
  EXPECT_EQ(ArgAt(3), "  ");
}

TEST_F(ProcessArgs, ProgramNameIsTheExecutablesAbsolutePath) {
  Set({"relative/name"});
  std::string path = ArgAt(0);
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path[0], '/');
  EXPECT_EQ(access(path.c_str(), X_OK), 0);
  EXPECT_EQ(ArgCount(), 0);
  EXPECT_EQ(ArgAt(1), "");
}

}  // namespace
}  // namespace dazi
