#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/process.h"

namespace dazi {
namespace platform {

namespace {

bool missingHandle[3] = {false, false, false};
char exePath[261] = {};
char reportTemplate[256] = {};
size_t reportTemplateLength = 0;
bool reportTemplateLoaded = false;

// A closed standard descriptor is occupied with /dev/null, so that no file
// opened later (the configuration file) can take its number and receive the
// output meant for it; it still counts as missing.
void OccupyClosedStandardHandles() {
  for (int fd = 0; fd < 3; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    missingHandle[fd] = true;
    int opened = open("/dev/null", O_RDWR);
    if (opened != fd && opened >= 0) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

const void* FaultingInstruction(void* context, [[maybe_unused]] const siginfo_t* info) {
  auto* uc = static_cast<ucontext_t*>(context);
#if defined(__x86_64__)
  return reinterpret_cast<const void*>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return reinterpret_cast<const void*>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return info->si_addr;
#endif
}

FaultKind KindOf(int signal, int code) {
  if (signal == SIGILL) return FaultKind::Privilege;
  if (signal != SIGFPE) return FaultKind::AccessViolation;
  switch (code) {
    case FPE_INTDIV:
      return FaultKind::DivByZero;
    case FPE_INTOVF:
      return FaultKind::IntOverflow;
    case FPE_FLTDIV:
      return FaultKind::ZeroDivide;
    case FPE_FLTOVF:
      return FaultKind::Overflow;
    case FPE_FLTUND:
      return FaultKind::Underflow;
    case FPE_FLTSUB:
      return FaultKind::RangeError;
    default:
      return FaultKind::InvalidOp;
  }
}

void OnFault(int signal, siginfo_t* info, void* context) {
  // A second fault while reporting the first ends the process at once.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(s, &fallback, nullptr);
  ReportFault(KindOf(signal, info->si_code), FaultingInstruction(context, info));
}

void InstallFaultHandling() {
  static char alternateStack[64 * 1024];
  stack_t stack = {};
  stack.ss_sp = alternateStack;
  stack.ss_size = sizeof alternateStack;
  sigaltstack(&stack, nullptr);
  struct sigaction action = {};
  action.sa_sigaction = OnFault;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  for (int s : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) sigaction(s, &action, nullptr);
}

void WriteAll(int fd, const char* bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(fd, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
}

}  // namespace

void StartProcess() {
  OccupyClosedStandardHandles();
  // A closed pipe on standard output fails the write (it is remembered like
  // any failed write) instead of ending the run half-way.
  signal(SIGPIPE, SIG_IGN);
  InstallFaultHandling();
  ssize_t length = readlink("/proc/self/exe", exePath, sizeof exePath - 1);
  exePath[length > 0 ? length : 0] = '\0';
}

bool StandardHandleMissing(int fd) {
  return fd >= 0 && fd < 3 && missingHandle[fd];
}

void ExitProcessNow(int code) {
  std::exit(code);
}

ModuleLocation LocateModule(const void* address) {
  ModuleLocation location = {};
  Dl_info info = {};
  const char* path = exePath;
  uintptr_t base = 0x1000;
  if (address != nullptr && dladdr(address, &info) != 0 && info.dli_fbase != nullptr) {
    base = reinterpret_cast<uintptr_t>(info.dli_fbase);
    // dladdr names the main program by the name it was started under; where
    // /proc gave no path, that still gives the report its base name.
    if (info.dli_fname != nullptr && (info.dli_fname[0] == '/' || path[0] == '\0'))
      path = info.dli_fname;
  }
  size_t length = std::min(std::strlen(path), sizeof location.path - 1);
  std::memcpy(location.path, path, length);
  location.path[length] = '\0';
  uintptr_t at = reinterpret_cast<uintptr_t>(address);
  location.shownAddress = at == 0 ? 0 : at - base;
  return location;
}

size_t LoadReportTemplate(char (&buf)[256]) {
  if (!reportTemplateLoaded) {
    std::string text = LoadMessage(DAZI_ID_REPORT);
    reportTemplateLength = text.copy(reportTemplate, sizeof reportTemplate - 1);
    reportTemplate[reportTemplateLength] = '\0';
    reportTemplateLoaded = true;
  }
  std::memcpy(buf, reportTemplate, reportTemplateLength + 1);
  return reportTemplateLength;
}

void ConvertReportText(char*) {}

void WriteStandardError(const char* bytes, size_t count) {
  if (!missingHandle[2]) WriteAll(2, bytes, count);
}

void WriteStandardOutputRaw(const char* bytes, size_t count) {
  if (!missingHandle[1]) WriteAll(1, bytes, count);
}

}  // namespace platform
}  // namespace dazi
