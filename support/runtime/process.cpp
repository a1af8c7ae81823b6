#include "support/runtime/process.h"

#include <cstring>
#include <new>
#include <string>

#include "support/runtime/cmdline.h"
#include "support/runtime/console.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/locale.h"

namespace dazi {

namespace {

const EOutOfMemory* outOfMemory = nullptr;

struct FaultText {
  const char* className;
  int messageId;
  std::string message;
};

FaultText faultTexts[] = {
    {"EAccessViolation", DAZI_ID_ACCESS_VIOLATION, {}},
    {"EStackOverflow", DAZI_ID_STACK_OVERFLOW, {}},
    {"EPrivilege", DAZI_ID_PRIVILEGE, {}},
    {"EDivByZero", DAZI_ID_DIV_BY_ZERO, {}},
    {"EIntOverflow", DAZI_ID_INT_OVERFLOW, {}},
    {"ERangeError", DAZI_ID_RANGE_ERROR, {}},
    {"EZeroDivide", DAZI_ID_ZERO_DIVIDE, {}},
    {"EOverflow", DAZI_ID_OVERFLOW, {}},
    {"EUnderflow", DAZI_ID_UNDERFLOW, {}},
    {"EInvalidOp", DAZI_ID_INVALID_OP, {}},
};

void LoadFailureTexts() {
  static const EOutOfMemory failure(LoadMessage(DAZI_ID_OUT_OF_MEMORY));
  outOfMemory = &failure;
  for (FaultText& text : faultTexts) text.message = LoadMessage(text.messageId);
  char reportTemplate[256];
  platform::LoadReportTemplate(reportTemplate);
}

[[noreturn]] void ReportFailureText(const char* className, const char* message,
                                    const void* address) {
  platform::ModuleLocation module = platform::LocateModule(address);
  char reportTemplate[256];
  platform::LoadReportTemplate(reportTemplate);
  char report[kReportLimit + 1];
  std::string_view moduleName = ModuleNameOf(module.path);
  FormatReport(reportTemplate, {className, moduleName.data(), module.shownAddress, message},
               report);

  StandardOutput().WriteRest();
  if (int code = StandardOutput().TakePendingIoError()) {
    // An earlier output failure is what gets reported.
    EInOutError failure(InOutErrorMessage(code), code);
    ReportFailureText(failure.ClassName(), failure.Message().c_str(), __builtin_return_address(0));
  }
  platform::ConvertReportText(report);
  platform::WriteStandardError(report, std::strlen(report));
  platform::WriteStandardError("\r\n", 2);
  EndProcess(1);
}

}  // namespace

const EOutOfMemory& OutOfMemoryFailure() {
  return *outOfMemory;
}

int RunProcess(int argc, char** argv, ToolEntry tool) {
  platform::StartProcess();
  SetProcessArguments(argc, argv);
  InitTextLocale();
  LoadFailureTexts();
  try {
    tool();
    EndProcess(0);
  } catch (const Exception& failure) {
    ReportFailure(failure, failure.Address());
  } catch (const std::bad_alloc&) {
    ReportFailure(*outOfMemory, nullptr);
  } catch (...) {
    RuntimeErrorExit(217, nullptr);
  }
}

void EndProcess(int code) {
  StandardOutput().WriteRest();
  platform::ExitProcessNow(code);
}

void ReportFailure(const Exception& failure, const void* address) {
  ReportFailureText(failure.ClassName(), failure.Message().c_str(), address);
}

void ReportFault(FaultKind kind, const void* address) {
  const FaultText& text = faultTexts[static_cast<int>(kind)];
  ReportFailureText(text.className, text.message.c_str(), address);
}

void RuntimeErrorExit(int number, const void* address) {
  char line[30];
  FormatRuntimeErrorLine(number, reinterpret_cast<uintptr_t>(address), line);
  StandardOutput().WriteRest();
  platform::WriteStandardOutputRaw(line, sizeof line);
  platform::WriteStandardOutputRaw("\r\n", 2);
  platform::ExitProcessNow(number);
}

}  // namespace dazi
