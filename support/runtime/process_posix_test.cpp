#include <unistd.h>

#include <gtest/gtest.h>

#include "support/runtime/console.h"
#include "support/runtime/process.h"

namespace dazi {
namespace {

char programName[] = "dazi_tests";
char* arguments[] = {programName, nullptr};

void PrintThenFail() {
  WriteLine("lost");
  Raise(EStringListError("not shown"));
}

// With standard output closed, the failure that is reported is the failed
// opening of standard output (code 105), not the one that ended the run.
TEST(ProcessEndDeathTest, ClosedStandardOutputTurnsTheReportIntoEInOutError) {
  EXPECT_EXIT(
      {
        close(1);
        RunProcess(1, arguments, PrintThenFail);
      },
      testing::ExitedWithCode(1), "^EInOutError .*\r\nI/O .* \\(105\\)\\.\r\n\r\n$");
}

void RaiseListError() {
  Raise(EStringListError("boom"));
}

TEST(ProcessEndDeathTest, ReportHasTheExactLayout) {
  EXPECT_EXIT(RunProcess(1, arguments, RaiseListError), testing::ExitedWithCode(1),
              "^EStringListError がモジュール dazi_tests の [0-9A-F]{8} で発生しました。\r\n"
              "boom\\.\r\n\r\n$");
}

}  // namespace
}  // namespace dazi
