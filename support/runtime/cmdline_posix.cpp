#include <string>
#include <vector>

#include "support/runtime/cmdline.h"
#include "support/runtime/program_path_posix.h"

namespace dazi {

namespace {

struct ProcessArguments {
  std::string programPath;        // found once, at start-up
  std::vector<std::string> args;  // argv[1..] without the empty ones
};

ProcessArguments& Arguments() {
  static ProcessArguments arguments;
  return arguments;
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
  ProcessArguments& arguments = Arguments();
  arguments = ProcessArguments();
  arguments.programPath = FindProgramPath(argc > 0 && argv != nullptr ? argv[0] : nullptr);
  for (int i = 1; i < argc && argv[i] != nullptr; ++i) {
    if (argv[i][0] != '\0') arguments.args.emplace_back(argv[i]);
  }
}

int ArgCount() {
  return static_cast<int>(Arguments().args.size());
}

std::string ArgAt(int index) {
  const ProcessArguments& arguments = Arguments();
  if (index == 0) return arguments.programPath;
  if (index < 0 || static_cast<size_t>(index) > arguments.args.size()) return std::string();
  return arguments.args[static_cast<size_t>(index) - 1];
}

}  // namespace dazi
