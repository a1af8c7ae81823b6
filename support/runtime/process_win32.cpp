#include <windows.h>

#include <cstring>

#include "support/runtime/message_texts.h"
#include "support/runtime/process.h"

namespace dazi {
namespace platform {

namespace {

FaultKind KindOf(DWORD code) {
  switch (code) {
    case EXCEPTION_STACK_OVERFLOW:
      return FaultKind::StackOverflow;
    case EXCEPTION_PRIV_INSTRUCTION:
      return FaultKind::Privilege;
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
      return FaultKind::DivByZero;
    case EXCEPTION_INT_OVERFLOW:
      return FaultKind::IntOverflow;
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
      return FaultKind::RangeError;
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
      return FaultKind::ZeroDivide;
    case EXCEPTION_FLT_OVERFLOW:
      return FaultKind::Overflow;
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
      return FaultKind::Underflow;
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK:
      return FaultKind::InvalidOp;
    default:
      return FaultKind::AccessViolation;
  }
}

// Called by the system for a fault that nothing else handles (unless a
// debugger takes it first): the fault is reported like any other failure.
LONG WINAPI OnUnhandledFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
  ReportFault(KindOf(record->ExceptionCode), record->ExceptionAddress);
}

void WriteHandle(DWORD which, const char* bytes, size_t count) {
  DWORD written = 0;
  WriteFile(GetStdHandle(which), bytes, static_cast<DWORD>(count), &written, nullptr);
}

}  // namespace

void StartProcess() {
  SetUnhandledExceptionFilter(OnUnhandledFault);
}

bool StandardHandleMissing(int) {
  return false;
}

void ExitProcessNow(int code) {
  ExitProcess(static_cast<UINT>(code));
}

ModuleLocation LocateModule(const void* address) {
  ModuleLocation location = {};
  MEMORY_BASIC_INFORMATION region = {};
  if (VirtualQuery(address, &region, sizeof region) != 0 && region.State == MEM_COMMIT &&
      GetModuleFileNameA(static_cast<HMODULE>(region.AllocationBase), location.path,
                         sizeof location.path) != 0) {
    location.shownAddress =
        reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(region.AllocationBase);
    return location;
  }
  GetModuleFileNameA(nullptr, location.path, sizeof location.path);
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  location.shownAddress = at == 0 ? 0 : at - 0x1000;
  return location;
}

size_t LoadReportTemplate(char (&buf)[256]) {
  int length = LoadStringA(GetModuleHandleA(nullptr), DAZI_ID_REPORT, buf, sizeof buf);
  if (length <= 0) length = 0;
  buf[length] = '\0';
  return static_cast<size_t>(length);
}

void ConvertReportText(char* text) {
  CharToOemA(text, text);
}

void WriteStandardError(const char* bytes, size_t count) {
  WriteHandle(STD_ERROR_HANDLE, bytes, count);
}

void WriteStandardOutputRaw(const char* bytes, size_t count) {
  WriteHandle(STD_OUTPUT_HANDLE, bytes, count);
}

}  // namespace platform
}  // namespace dazi
