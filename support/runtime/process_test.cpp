#include "support/runtime/process.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace dazi {
namespace {

char programName[] = "dazi_tests";
char* arguments[] = {programName, nullptr};

void RaiseListError() {
  Raise(EStringListError("boom"));
}
void RaiseWithFullStop() {
  Raise(EFOpenError("already ends."));
}
void RunOutOfMemory() {
  throw std::bad_alloc();
}
void FinishNormally() {}
void ThrowForeignObject() {
  throw 42;
}

volatile int* nowhere = nullptr;
void TouchNowhere() {
  *nowhere = 1;
}

// Ends the process through the top-level handling, as the tool does.
void RunTool(ToolEntry tool) {
  RunProcess(1, arguments, tool);
}

TEST(ProcessEndDeathTest, RaisedFailureIsReportedWithExitCode1) {
  EXPECT_EXIT(RunTool(RaiseListError), testing::ExitedWithCode(1),
              "^EStringListError .*dazi_tests");
  EXPECT_EXIT(RunTool(RaiseListError), testing::ExitedWithCode(1), "\nboom\\.\r?\n");
}

TEST(ProcessEndDeathTest, MessageEndingInFullStopGetsNoSecondOne) {
  EXPECT_EXIT(RunTool(RaiseWithFullStop), testing::ExitedWithCode(1), "\nalready ends\\.\r?\n");
}

TEST(ProcessEndDeathTest, ExhaustedMemoryIsReportedAsEOutOfMemory) {
  EXPECT_EXIT(RunTool(RunOutOfMemory), testing::ExitedWithCode(1), "^EOutOfMemory ");
}

TEST(ProcessEndDeathTest, ProcessorFaultIsReportedAsAccessViolation) {
  EXPECT_EXIT(RunTool(TouchNowhere), testing::ExitedWithCode(1), "^EAccessViolation ");
}

TEST(ProcessEndDeathTest, NormalEndHasExitCode0) {
  EXPECT_EXIT(RunTool(FinishNormally), testing::ExitedWithCode(0), "^$");
}

TEST(ProcessEndDeathTest, ForeignObjectEndsWithRuntimeError217) {
  EXPECT_EXIT(RunTool(ThrowForeignObject), testing::ExitedWithCode(217), "^$");
}

}  // namespace
}  // namespace dazi
