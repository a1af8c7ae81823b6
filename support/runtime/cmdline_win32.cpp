#include <windows.h>

#include <string>

#include "support/runtime/cmdline.h"

namespace dazi {

namespace {

// The command line is zero-terminated, so CharNextA may look at it directly.
size_t StepByCharNext(std::string_view line, size_t pos) {
  const char* at = line.data() + pos;
  return static_cast<size_t>(CharNextA(at) - at);
}

std::string ModuleFileName() {
  // A path that fills the buffer may have been cut short: try a larger one.
  std::string path(261, '\0');
  for (;;) {
    DWORD length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::string();
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() > 65536) return std::string();
    path.resize(path.size() * 2);
  }
}

}  // namespace

void SetProcessArguments(int, char**) {}

int ArgCount() {
  return CountLineArgs(GetCommandLineA(), StepByCharNext);
}

std::string ArgAt(int index) {
  if (index == 0) return ModuleFileName();
  return LineArgAt(GetCommandLineA(), index, StepByCharNext);
}

}  // namespace dazi
