// The integer parser against a slow one written here from the rules: the
// text is cut into its parts (spaces, sign, prefix, digits) first, the digits
// are valued without any bound, and only then is the range judged. Round
// trips of every 32-bit value through its decimal and hexadecimal spellings
// must give the value back.

#include <cstdio>
#include <optional>

#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

int DigitValue(char c, int base) {
  int value = 99;
  if (c >= '0' && c <= '9') value = c - '0';
  if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
  return value < base ? value : -1;
}

std::optional<int32_t> SlowParse(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with("$") || text.starts_with("x") || text.starts_with("X")) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    if (DigitValue(c, base) < 0) return std::nullopt;
  }
  while (text.size() > 1 && text.front() == '0') text.remove_prefix(1);
  if (text.size() > (base == 10 ? 10u : 8u)) return std::nullopt;  // far out of range
  uint64_t value = 0;
  for (char c : text)
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(DigitValue(c, base));
  if (base == 16) {
    const uint32_t bits = static_cast<uint32_t>(value);
    return static_cast<int32_t>(negative ? 0u - bits : bits);
  }
  if (value > (negative ? 2147483648u : 2147483647u)) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(value)
                                       : static_cast<int64_t>(value));
}

void CheckText(std::string_view text, int32_t defaultValue) {
  FUZZ_CHECK(ToIntDef(text, defaultValue) == SlowParse(text).value_or(defaultValue));
}

void CheckRoundTrips(int32_t value, uint8_t padding) {
  const std::string spaces(padding & 7, ' ');
  const std::string zeros(padding >> 3 & 7, '0');
  char decimal[16];
  std::snprintf(decimal, sizeof decimal, "%d", value);
  std::string text = spaces + decimal;
  if (value >= 0) text = spaces + "+" + zeros + decimal;
  FUZZ_CHECK(ToIntDef(text, value ^ 1) == value);
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<uint32_t>(value));
  for (std::string_view prefix : {"$", "x", "0X"}) {
    FUZZ_CHECK(ToIntDef(spaces + std::string(prefix) + zeros + hex, value ^ 1) == value);
  }
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  dazi::fuzz::Input input(data, size);
  const int32_t defaultValue = input.Int32();
  const uint8_t padding = input.Byte();
  dazi::fuzz::CheckRoundTrips(defaultValue, padding);
  const std::string_view text = input.Rest();
  dazi::fuzz::CheckText(text, defaultValue);
  dazi::fuzz::CheckText(dazi::fuzz::OverAlphabet(text, " +-$xX0123456789aAfFgG\t"), defaultValue);
  return 0;
}
