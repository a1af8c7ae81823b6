#include <unistd.h>

#include <string>
#include <vector>

#include "support/runtime/cmdline.h"

namespace dazi {

namespace {

struct ProcessArguments {
  std::string programName;
  std::vector<std::string> args;  // argv[1..] without the empty ones
};

ProcessArguments& Arguments() {
  static ProcessArguments arguments;
  return arguments;
}

// The running executable's absolute path, however long it is.
std::string ReadExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// Read once: the tool asks for it several times during start-up.
const std::string& ExecutablePath() {
  static const std::string path = ReadExecutablePath();
  return path;
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
  ProcessArguments& arguments = Arguments();
  arguments = ProcessArguments();
  if (argc > 0 && argv[0] != nullptr) arguments.programName = argv[0];
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (argv[i][0] != '\0') arguments.args.emplace_back(argv[i]);
  }
}

int ArgCount() {
  return static_cast<int>(Arguments().args.size());
}

std::string ArgAt(int index) {
  const ProcessArguments& arguments = Arguments();
  if (index == 0) {
    const std::string& path = ExecutablePath();
    return path.empty() ? arguments.programName : path;
  }
  if (index < 0 || static_cast<size_t>(index) > arguments.args.size()) return std::string();
  return arguments.args[static_cast<size_t>(index) - 1];
}

}  // namespace dazi
