#include "support/runtime/cmdline.h"

#include <algorithm>

#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

namespace {

unsigned char ByteAt(std::string_view line, size_t pos) {
  return pos < line.size() ? static_cast<unsigned char>(line[pos]) : 0;
}

// The step function's answer kept inside the text, so that a wayward step can
// neither stall the scan nor run past the end.
size_t CharLength(std::string_view line, size_t pos, CharStep step) {
  return std::clamp<size_t>(step(line, pos), 1, line.size() - pos);
}

}  // namespace

size_t StepByTextLocale(std::string_view line, size_t pos) {
  const TextLocale& locale = CurrentTextLocale();
  if (locale.doubleByteMode && locale.leadByteSet[ByteAt(line, pos)] && ByteAt(line, pos + 1) != 0)
    return 2;
  return 1;
}

SplitArg NextArg(std::string_view line, size_t pos, CharStep step) {
  if (pos >= line.size()) return {std::string(), line.size()};
  line = line.substr(0, line.find('\0', pos));

  for (;;) {
    while (pos < line.size() && ByteAt(line, pos) <= ' ') pos += CharLength(line, pos, step);
    if (ByteAt(line, pos) != '"' || ByteAt(line, pos + 1) != '"') break;
    pos += 2;
  }

  std::string arg;
  while (ByteAt(line, pos) > ' ') {
    if (line[pos] == '"') {
      ++pos;
      while (pos < line.size() && line[pos] != '"') {
        size_t length = CharLength(line, pos, step);
        arg.append(line, pos, length);
        pos += length;
      }
      if (pos < line.size()) ++pos;
    } else {
      size_t length = CharLength(line, pos, step);
      arg.append(line, pos, length);
      pos += length;
    }
  }
  return {std::move(arg), pos};
}

int CountLineArgs(std::string_view line, CharStep step) {
  size_t pos = NextArg(line, 0, step).next;
  int count = 0;
  for (;;) {
    SplitArg next = NextArg(line, pos, step);
    if (next.arg.empty()) return count;
    ++count;
    pos = next.next;
  }
}

std::string LineArgAt(std::string_view line, int index, CharStep step) {
  if (index < 0) return std::string();
  size_t pos = 0;
  for (;;) {
    SplitArg next = NextArg(line, pos, step);
    if (index == 0 || next.arg.empty()) return std::move(next.arg);
    --index;
    pos = next.next;
  }
}

bool HasSwitchAmong(const std::vector<std::string>& args, std::string_view text,
                    std::string_view switchChars, bool ignoreCase) {
  for (const std::string& arg : args) {
    if (arg.empty()) continue;
    if (!switchChars.empty() && switchChars.find(arg[0]) == std::string_view::npos) continue;
    if (LocaleEqual(std::string_view(arg).substr(1), text, ignoreCase)) return true;
  }
  return false;
}

bool HasSwitch(std::string_view text, std::string_view switchChars, bool ignoreCase) {
  std::vector<std::string> args;
  int count = ArgCount();
  for (int i = 1; i <= count; ++i) args.push_back(ArgAt(i));
  return HasSwitchAmong(args, text, switchChars, ignoreCase);
}

}  // namespace dazi
