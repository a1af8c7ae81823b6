#include "support/text/text.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace dazi {

namespace {

constexpr unsigned char kBackslash = '\\';

unsigned char ByteAt(std::string_view text, size_t offset) {
  return static_cast<unsigned char>(text[offset]);
}

std::string_view UpToFirstNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

int ToPosition(size_t offset) {
  return static_cast<int>(offset + 1);
}

bool IsTrailingSeparatorAt(std::string_view path, size_t index, const PathStyle& style) {
  if (index < 1 || index > path.size()) return false;
  if (style.trailing.find(path[index - 1]) == std::string_view::npos) return false;
  return ByteKindAt(path, index - 1) == ByteKind::Single;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

uint32_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  return static_cast<uint32_t>(c - 'A' + 10);
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

TextLocale& CurrentTextLocale() {
  static TextLocale locale;
  return locale;
}

std::string TrimBlanks(std::string_view text) {
  auto isBlank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  size_t first = 0;
  while (first < text.size() && isBlank(text[first])) ++first;
  if (first == text.size()) return std::string();
  size_t end = text.size();
  while (isBlank(text[end - 1])) --end;
  return std::string(text.substr(first, end - first));
}

std::string AsciiUpperCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) c = AsciiUpper(c);
  return result;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string AsciiSwappedCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - ('a' - 'A'));
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c + ('a' - 'A'));
    }
  }
  return result;
}

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

bool DifferOnlyInAscii(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] &&
        (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80)) {
      return false;
    }
  }
  return true;
}

int PlainPos(std::string_view needle, std::string_view text) {
  if (needle.empty() || text.empty() || needle.size() > text.size()) return 0;
  size_t found = text.find(needle);
  return found == std::string_view::npos ? 0 : ToPosition(found);
}

int LocalePos(std::string_view needle, std::string_view text) {
  needle = UpToFirstNul(needle);
  text = UpToFirstNul(text);
  if (needle.empty() || text.empty()) return 0;
  size_t start = 0;
  for (;;) {
    size_t found = text.find(needle, start);
    if (found == std::string_view::npos) return 0;
    // A match beginning on the second byte of a double-byte character is not
    // a match of whole characters.
    if (ByteKindAt(text, found) != ByteKind::Trail) return ToPosition(found);
    start = found + 1;
  }
}

std::string CopyRange(std::string_view text, int start, int count) {
  if (text.empty()) return std::string();
  const int64_t length = static_cast<int64_t>(text.size());
  int64_t from = start < 1 ? 1 : start;
  if (from > length || count < 0) return std::string();
  int64_t taken = count;
  if (taken > length - from + 1) taken = length - from + 1;
  return std::string(text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(taken)));
}

int32_t ToIntDef(std::string_view text, int32_t defaultValue) {
  text = UpToFirstNul(text);
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) return defaultValue;

  bool hex = false;
  if (text[i] == '$' || text[i] == 'x' || text[i] == 'X') {
    hex = true;
    i += 1;
  } else if (text[i] == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= text.size()) return defaultValue;

  if (hex) {
    uint32_t value = 0;
    for (; i < text.size(); ++i) {
      if (!IsHexDigit(text[i]) || value > 0x0FFFFFFFu) return defaultValue;
      value = value * 16 + HexDigitValue(text[i]);
    }
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
  }

  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (!IsDecimalDigit(text[i]) || value > 214748364) return defaultValue;
    value = value * 10 + (text[i] - '0');
  }
  const int64_t limit = int64_t{std::numeric_limits<int32_t>::max()} + (negative ? 1 : 0);
  if (value > limit) return defaultValue;
  return static_cast<int32_t>(negative ? -value : value);
}

bool EqualStrings(std::string_view a, std::string_view b) {
  return a == b;
}

ByteKind ByteKindAt(std::string_view text, size_t offset) {
  const TextLocale& locale = CurrentTextLocale();
  if (!locale.doubleByteMode) return ByteKind::Single;
  if (offset >= text.size() || text[offset] == '\0') return ByteKind::Single;
  const bool inLeadSet = locale.leadByteSet[ByteAt(text, offset)];
  if (offset == 0) return inLeadSet ? ByteKind::Lead : ByteKind::Single;
  // Lead bytes pair up from the nearest byte that cannot be a lead byte, so
  // an odd run of them right before the offset makes this byte a trail byte.
  size_t leadRun = 0;
  for (size_t i = offset; i > 0 && locale.leadByteSet[ByteAt(text, i - 1)]; --i) ++leadRun;
  if (leadRun % 2 == 1) return ByteKind::Trail;
  return inLeadSet ? ByteKind::Lead : ByteKind::Single;
}

bool IsBackslashAt(std::string_view text, int index) {
  if (index < 1 || static_cast<size_t>(index) > text.size()) return false;
  const size_t offset = static_cast<size_t>(index) - 1;
  return ByteAt(text, offset) == kBackslash && ByteKindAt(text, offset) == ByteKind::Single;
}

bool HoldsSeparator(std::string_view name) {
  if (name.find('/') == std::string_view::npos && name.find('\\') == std::string_view::npos) {
    return false;
  }
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsSeparatorAt(name, i)) return true;
  }
  return false;
}

int LastSeparatorIndex(std::string_view separators, std::string_view text) {
  // Without double-byte characters every byte stands for itself.
  if (!CurrentTextLocale().doubleByteMode) {
    for (size_t i = text.size(); i > 0; --i) {
      const char c = text[i - 1];
      if (c == '\0') continue;
      for (char separator : separators) {
        if (c == separator) return static_cast<int>(i);
      }
    }
    return 0;
  }
  int64_t i = static_cast<int64_t>(text.size());
  while (i > 0) {
    const size_t offset = static_cast<size_t>(i - 1);
    const char c = text[offset];
    if (c != '\0' && std::find(separators.begin(), separators.end(), c) != separators.end()) {
      if (ByteKindAt(text, offset) != ByteKind::Trail) return static_cast<int>(i);
      // Second byte of a double-byte character: skip the whole character.
      i -= 2;
    } else {
      i -= 1;
    }
  }
  return 0;
}

std::string FileDirPart(std::string_view path, const PathStyle& style) {
  return CopyRange(path, 1, LastSeparatorIndex(style.separators, path));
}

std::string FileNamePart(std::string_view path, const PathStyle& style) {
  return CopyRange(path, LastSeparatorIndex(style.separators, path) + 1,
                   std::numeric_limits<int32_t>::max());
}

std::string ReplaceExtension(std::string_view path, std::string_view extension,
                             const PathStyle& style) {
  std::string stops = ".";
  stops.append(style.separators);
  const int i = LastSeparatorIndex(stops, path);
  std::string result;
  if (i == 0 || path[static_cast<size_t>(i) - 1] != '.') {
    result = path;
  } else {
    result = path.substr(0, static_cast<size_t>(i) - 1);
  }
  result.append(extension);
  return result;
}

std::string AddTrailingBackslash(std::string_view path, const PathStyle& style) {
  std::string result(path);
  if (!IsTrailingSeparatorAt(path, path.size(), style)) result.push_back('\\');
  return result;
}

std::string DropTrailingBackslash(std::string_view path, const PathStyle& style) {
  if (IsTrailingSeparatorAt(path, path.size(), style)) path.remove_suffix(1);
  return std::string(path);
}

}  // namespace dazi
