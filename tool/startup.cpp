#include "tool/startup.h"

#include <string>

#include "support/runtime/cmdline.h"
#include "support/runtime/console.h"
#include "support/runtime/process.h"
#include "support/text/paths.h"
#include "support/text/text.h"
#include "tool/rename_run.h"

namespace dazi {

namespace {

constexpr const char* kBanner[] = {
    "-------------------------",
    "  ",
    "-------------------------",
};

constexpr const char* kUsage[] = {
    "Usage:", "  DAZI %outdir%", "Options:", "  -?, --help", "\tdisplay this help and exit.",
};

constexpr std::string_view kSwitchChars = "-";

// The last argument, made absolute when it begins with a full stop, with its
// environment references expanded and a trailing backslash.
std::string DeriveOutDir() {
  std::string s = ArgAt(ArgCount());
  if (PlainPos(".", s) == 1) s = FullPathOf(s);
  s = ExpandEnvVars(s);
  return AddTrailingBackslash(s);
}

bool RunGoesAhead(const std::string& outDir) {
  return ArgCount() != 0 && IsExistingDirectory(outDir) && !HasSwitch("?", kSwitchChars, true) &&
         !HasSwitch("-help", kSwitchChars, true);
}

// The executable's path with the extension ".env"; none where the system
// cannot tell that path, rather than ".env" in the current directory.
std::string DeriveConfigPath() {
  std::string program = ArgAt(0);
  return program.empty() ? std::string() : ReplaceExtension(program, ".env");
}

}  // namespace

void RunTool() {
  std::string configPath = DeriveConfigPath();
  for (const char* line : kBanner) WriteLine(line);
  std::string outDir = DeriveOutDir();
  if (RunGoesAhead(outDir)) {
    RunRename(outDir, configPath);
  } else {
    for (const char* line : kUsage) WriteLine(line);
  }
  EndProcess(0);
}

}  // namespace dazi
