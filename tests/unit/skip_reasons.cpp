// Names every skipped test with its reason on one line,
//   [  SKIPPED ] Suite.Name: reason
// when the tests run with --gtest_brief=1, as CTest runs them (CMakeLists.txt).
// GoogleTest's brief printer shows a skip's source line and reason but not
// which test skipped, and its summary only counts the skips; its full printer
// names them already, so this listener keeps quiet there.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

class SkipReasons : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo& test) override {
    const testing::TestResult& result = *test.result();
    if (!GTEST_FLAG_GET(brief) || !result.Skipped()) return;
    std::string reason;
    for (int i = 0; i < result.total_part_count(); ++i) {
      const testing::TestPartResult& part = result.GetTestPartResult(i);
      if (part.skipped()) reason += part.message();
    }
    // One line, whatever the reason holds.
    for (char& c : reason) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    if (reason.empty()) reason = "no reason given";
    std::printf("[  SKIPPED ] %s.%s: %s\n", test.test_suite_name(), test.name(), reason.c_str());
    std::fflush(stdout);
  }
};

// The binary's main is GoogleTest's own (GTest::gtest_main), so the listener
// joins from this static initializer, before that main runs; GoogleTest owns
// and deletes it.
const bool kRegistered = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new SkipReasons);
  return true;
}();

}  // namespace
