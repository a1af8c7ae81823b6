// The command-line splitter over arbitrary bytes, byte-wise and with a random
// set of lead bytes. The arguments must match a reading of the rules done
// here one character at a time (in one pass over the whole line), count and
// index must agree, nothing after a NUL may count, and the arguments together
// are the line's bytes in order with blanks and quotes taken out.

#include <algorithm>
#include <vector>

#include "support/runtime/cmdline.h"
#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

TextLocale locale;

size_t StepByLeadBytes(std::string_view line, size_t pos) {
  const auto at = [&](size_t i) {
    return i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
  };
  return locale.doubleByteMode && locale.leadByteSet[at(pos)] && at(pos + 1) != 0 ? 2 : 1;
}

// The line up to its first NUL, cut into characters.
std::vector<std::string_view> Characters(std::string_view line) {
  line = line.substr(0, line.find('\0'));
  std::vector<std::string_view> chars;
  for (size_t pos = 0; pos < line.size();) {
    const size_t length = std::min(StepByLeadBytes(line, pos), line.size() - pos);
    chars.push_back(line.substr(pos, length));
    pos += length;
  }
  return chars;
}

// The arguments that splitting from the start of the line gives in a row,
// the program name first, up to (not including) the first empty one after
// it. Only valid while no byte below 0x80 can be a lead byte, so that a quote
// or a blank is always a character of its own.
std::vector<std::string> ExpectedArguments(std::string_view line) {
  const std::vector<std::string_view> chars = Characters(line);
  const size_t n = chars.size();
  const auto isQuote = [&](size_t i) { return i < n && chars[i] == "\""; };
  const auto isBlank = [&](size_t i) { return static_cast<unsigned char>(chars[i][0]) <= 32; };
  std::vector<std::string> args;
  size_t i = 0;
  for (;;) {
    for (;;) {
      while (i < n && isBlank(i)) ++i;
      if (!isQuote(i) || !isQuote(i + 1)) break;
      i += 2;
    }
    std::string arg;
    while (i < n && !isBlank(i)) {
      if (isQuote(i)) {
        for (++i; i < n && !isQuote(i); ++i) arg.append(chars[i]);
        if (i < n) ++i;
      } else {
        arg.append(chars[i++]);
      }
    }
    if (!args.empty() && arg.empty()) return args;
    args.push_back(std::move(arg));
  }
}

bool IsSubsequence(std::string_view part, std::string_view whole) {
  size_t at = 0;
  for (char c : part) {
    at = whole.find(c, at);
    if (at == std::string_view::npos) return false;
    ++at;
  }
  return true;
}

std::vector<std::string> ByIndex(std::string_view line, CharStep step, int count) {
  std::vector<std::string> args;
  for (int i = 0; i <= count; ++i) args.push_back(LineArgAt(line, i, step));
  return args;
}

void Check(std::string_view line, bool highLeadBytesOnly) {
  CurrentTextLocale() = locale;
  const int count = CountLineArgs(line, StepByLeadBytes);
  FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= line.size());
  FUZZ_CHECK(CountLineArgs(line, StepByTextLocale) == count);

  const std::vector<std::string> args = ByIndex(line, StepByLeadBytes, count);
  FUZZ_CHECK(ByIndex(line, StepByTextLocale, count) == args);
  for (int i = 1; i <= count; ++i) FUZZ_CHECK(!args[i].empty());
  FUZZ_CHECK(LineArgAt(line, count + 1, StepByLeadBytes).empty());
  FUZZ_CHECK(LineArgAt(line, -1, StepByLeadBytes).empty());

  // NextArg steps forward and stays inside the line up to its first NUL.
  const size_t end = std::min(line.find('\0'), line.size());
  size_t pos = 0;
  std::string together;
  for (int i = 0; i <= count; ++i) {
    SplitArg next = NextArg(line, pos, StepByLeadBytes);
    FUZZ_CHECK(next.arg == args[i]);
    FUZZ_CHECK(next.next <= end && (next.next > pos || next.arg.empty()));
    pos = next.next;
    together += next.arg;
  }
  FUZZ_CHECK(IsSubsequence(together, line.substr(0, end)));

  std::string extended(line);
  extended += '\0';
  extended += " more \"after\" the end";
  FUZZ_CHECK(CountLineArgs(extended, StepByLeadBytes) == count);
  FUZZ_CHECK(ByIndex(extended, StepByLeadBytes, count) == args);

  if (highLeadBytesOnly) {
    FUZZ_CHECK(ExpectedArguments(line) == args);
    for (const std::string& arg : args) {
      for (std::string_view c : Characters(arg)) FUZZ_CHECK(c != "\"");
    }
  }
}

}  // namespace
}  // namespace dazi::fuzz

using namespace std::string_view_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dazi::fuzz::Input input(data, size);
  const bool highOnly = input.Flag();
  const bool mapped = input.Flag();
  dazi::fuzz::locale = dazi::fuzz::LeadByteLocale(input, highOnly);
  const std::string_view line = input.Rest();
  if (mapped) {
    dazi::fuzz::Check(dazi::fuzz::OverAlphabet(line, "\"\" \ta\x81\x82\\\0"sv), highOnly);
  } else {
    dazi::fuzz::Check(line, highOnly);
  }
  return 0;
}
