#pragma once
// Process start-up, the top-level failure handling and the ways the process
// ends: normally (EndProcess), by a failure report (ReportFailure, exit code
// 1), or by the numbered run-time error stop (RuntimeErrorExit).

#include <cstddef>
#include <string>

#include "support/runtime/exceptions.h"

namespace dazi {

using ToolEntry = void (*)();

// Starts the process (console mode, failure handling, text locale, the
// pre-made EOutOfMemory object), runs the tool, and ends it.
int RunProcess(int argc, char** argv, ToolEntry tool);

[[noreturn]] void EndProcess(int code);
[[noreturn]] void ReportFailure(const Exception& failure, const void* address);
[[noreturn]] void RuntimeErrorExit(int number, const void* address);

// The object raised for exhausted memory, made once at start-up.
const EOutOfMemory& OutOfMemoryFailure();

// Processor faults, reported like failures of the matching class. The texts
// are loaded at start-up, so a fault is reported without allocating.
enum class FaultKind {
  AccessViolation,
  StackOverflow,
  Privilege,
  DivByZero,
  IntOverflow,
  RangeError,
  ZeroDivide,
  Overflow,
  Underflow,
  InvalidOp,
};
[[noreturn]] void ReportFault(FaultKind kind, const void* address);

// Platform services behind the above.
namespace platform {
void StartProcess();  // fault handling, standard handles
// POSIX: true when descriptor fd (0, 1 or 2) was closed at start-up.
bool StandardHandleMissing(int fd);
[[noreturn]] void ExitProcessNow(int code);
struct ModuleLocation {
  char path[261];
  unsigned long long shownAddress;
};
ModuleLocation LocateModule(const void* address);
// Loads the report template into buf (the resource text in the ANSI code
// page); returns its length.
size_t LoadReportTemplate(char (&buf)[256]);
// Converts the report text in place to the console's character set.
void ConvertReportText(char* text);
void WriteStandardError(const char* bytes, size_t count);
void WriteStandardOutputRaw(const char* bytes, size_t count);
}  // namespace platform

}  // namespace dazi
