#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "support/runtime/cmdline.h"

namespace dazi {
namespace {

TEST(ProcessCommandLine, ProgramNameIsTheModulePath) {
  std::string path = ArgAt(0);
  ASSERT_GT(path.size(), 3u);
  EXPECT_TRUE(path[1] == ':' || path.rfind("\\\\", 0) == 0) << path;
  std::string lower;
  for (char c : path) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_NE(lower.find("dazi_tests"), std::string::npos) << path;
}

TEST(ProcessCommandLine, EveryCountedArgumentIsThereAndNoMore) {
  int count = ArgCount();
  for (int i = 1; i <= count; ++i) {
    std::string arg = ArgAt(i);
    ASSERT_FALSE(arg.empty()) << i;
    EXPECT_TRUE(HasSwitch(arg.substr(1), "", false)) << arg;
  }
  EXPECT_EQ(ArgAt(count + 1), "");
  EXPECT_EQ(ArgAt(-1), "");
}

}  // namespace
}  // namespace dazi
