#pragma once
// The argument list of the command line and the switch test built on it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace dazi {

// Number of bytes of the character that starts at pos (1, or 2 for a
// double-byte character whose trail byte is present).
using CharStep = size_t (*)(std::string_view line, size_t pos);
size_t StepByTextLocale(std::string_view line, size_t pos);

struct SplitArg {
  std::string arg;
  size_t next;
};
// Splits one argument off a Windows-style command line, starting at pos. The
// line ends at its first zero byte or at the end of the view.
SplitArg NextArg(std::string_view line, size_t pos, CharStep step = StepByTextLocale);

// The argument list of a Windows-style command line whose first argument is
// the program name: the count of arguments after it, and argument index (0 is
// the program name as written; out of range gives an empty text).
int CountLineArgs(std::string_view line, CharStep step = StepByTextLocale);
std::string LineArgAt(std::string_view line, int index, CharStep step = StepByTextLocale);

// Hands the process arguments to the POSIX build (ignored on Windows, which
// reads its command line from the system).
void SetProcessArguments(int argc, char** argv);

int ArgCount();
std::string ArgAt(int index);
bool HasSwitch(std::string_view text, std::string_view switchChars, bool ignoreCase);
// HasSwitch over a given list of the arguments after the program name.
bool HasSwitchAmong(const std::vector<std::string>& args, std::string_view text,
                    std::string_view switchChars, bool ignoreCase);

}  // namespace dazi
