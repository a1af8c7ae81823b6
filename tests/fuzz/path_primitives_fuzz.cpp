// The text and path primitives with random lead-byte sets (any byte value may
// be a lead byte here, not only those of real code pages). Results keep their
// lengths and lie inside their input: the two parts of a path make the path,
// trimming and copying give pieces of the text, adding or dropping a trailing
// separator changes one byte at most, and searches find the first occurrence
// that starts a character, as a search over every position finds it.

#include <algorithm>

#include "tests/fuzz/fuzz_check.h"

namespace dazi::fuzz {
namespace {

bool IsSeparatorOf(std::string_view separators, char c) {
  return c != '\0' && separators.find(c) != std::string_view::npos;
}

void CheckByteKinds(std::string_view text) {
  const TextLocale& locale = CurrentTextLocale();
  for (size_t i = 0; i < text.size(); ++i) {
    const ByteKind kind = ByteKindAt(text, i);
    if (!locale.doubleByteMode) FUZZ_CHECK(kind == ByteKind::Single);
    if (kind == ByteKind::Trail)
      FUZZ_CHECK(i > 0 && locale.leadByteSet[static_cast<uint8_t>(text[i - 1])]);
    if (kind == ByteKind::Lead) FUZZ_CHECK(locale.leadByteSet[static_cast<uint8_t>(text[i])]);
    // A lead byte is followed by its trail byte, and a trail byte by none
    // (a NUL is a character of its own, even where it counts as a lead byte).
    if (i + 1 < text.size() && text[i] != '\0' && text[i + 1] != '\0') {
      FUZZ_CHECK((kind == ByteKind::Lead) == (ByteKindAt(text, i + 1) == ByteKind::Trail));
    }
    FUZZ_CHECK(IsBackslashAt(text, static_cast<int>(i + 1)) ==
               (text[i] == '\\' && kind == ByteKind::Single));
  }
  FUZZ_CHECK(!IsBackslashAt(text, 0) && !IsBackslashAt(text, static_cast<int>(text.size() + 1)));
}

// Just past the last separator that starts a character, leaving out a lead
// byte whose trail byte is a separator too: the search from the end steps
// over such a pair whole.
int SlowLastSeparatorIndex(std::string_view separators, std::string_view text) {
  const auto isSeparator = [&](size_t i) { return IsSeparatorOf(separators, text[i]); };
  const auto isTrail = [&](size_t i) { return ByteKindAt(text, i) == ByteKind::Trail; };
  int last = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const bool pairedWithSeparator = i + 1 < text.size() && isTrail(i + 1) && isSeparator(i + 1);
    if (isSeparator(i) && !isTrail(i) && !pairedWithSeparator) last = static_cast<int>(i + 1);
  }
  return last;
}

void CheckPathParts(std::string_view path, const PathStyle& style, std::string_view extension) {
  FUZZ_CHECK(LastSeparatorIndex(style.separators, path) ==
             SlowLastSeparatorIndex(style.separators, path));
  const int last = LastSeparatorIndex(style.separators, path);
  const std::string dir = FileDirPart(path, style);
  const std::string name = FileNamePart(path, style);
  FUZZ_CHECK(dir.size() == static_cast<size_t>(last) && dir + name == path);

  const std::string added = AddTrailingBackslash(path, style);
  const bool endsInSeparator = !path.empty() && IsSeparatorOf(style.trailing, path.back()) &&
                               ByteKindAt(path, path.size() - 1) == ByteKind::Single;
  FUZZ_CHECK(added == (endsInSeparator ? std::string(path) : std::string(path) + '\\'));
  const std::string dropped = DropTrailingBackslash(path, style);
  FUZZ_CHECK(dropped == (endsInSeparator ? path.substr(0, path.size() - 1) : path));
  if (!endsInSeparator && ByteKindAt(added, path.size()) == ByteKind::Single) {
    FUZZ_CHECK(DropTrailingBackslash(added, style) == path);
  }

  const std::string replaced = ReplaceExtension(path, extension, style);
  FUZZ_CHECK(replaced.size() >= extension.size() && replaced.ends_with(extension));
  const std::string_view kept =
      std::string_view(replaced).substr(0, replaced.size() - extension.size());
  FUZZ_CHECK(path.starts_with(kept));
  if (kept.size() < path.size()) {
    FUZZ_CHECK(path[kept.size()] == '.' && ByteKindAt(path, kept.size()) != ByteKind::Trail);
  }
}

// The first position at which needle occurs in text and that is not a trail
// byte; 0 when there is none. Both are cut at their first NUL.
int SlowLocalePos(std::string_view needle, std::string_view text) {
  needle = needle.substr(0, needle.find('\0'));
  text = text.substr(0, text.find('\0'));
  if (needle.empty()) return 0;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (text.substr(i, needle.size()) == needle && ByteKindAt(text, i) != ByteKind::Trail) {
      return static_cast<int>(i + 1);
    }
  }
  return 0;
}

int SlowPlainPos(std::string_view needle, std::string_view text) {
  if (needle.empty()) return 0;
  for (size_t i = 0; i + needle.size() <= text.size(); ++i) {
    if (text.substr(i, needle.size()) == needle) return static_cast<int>(i + 1);
  }
  return 0;
}

void CheckTexts(std::string_view text, std::string_view other, int start, int count) {
  FUZZ_CHECK(PlainPos(other, text) == SlowPlainPos(other, text));
  FUZZ_CHECK(LocalePos(other, text) == SlowLocalePos(other, text));
  if (!text.empty()) {
    // Every piece of a text is found in it, at or before where it was taken.
    const size_t from = static_cast<size_t>(start) % text.size();
    const std::string_view piece = text.substr(from, static_cast<size_t>(count) % 8 + 1);
    const int found = PlainPos(piece, text);
    FUZZ_CHECK(found >= 1 && static_cast<size_t>(found) <= from + 1);
  }

  const std::string copied = CopyRange(text, start, count);
  const int64_t from = start < 1 ? 1 : start;
  const int64_t room = static_cast<int64_t>(text.size()) - from + 1;
  const int64_t length = count < 0 || room <= 0 ? 0 : std::min<int64_t>(count, room);
  FUZZ_CHECK(static_cast<int64_t>(copied.size()) == length);
  if (length > 0) FUZZ_CHECK(text.substr(static_cast<size_t>(from - 1), copied.size()) == copied);

  const std::string trimmed = TrimBlanks(text);
  FUZZ_CHECK(trimmed.empty() || (static_cast<uint8_t>(trimmed.front()) > 32 &&
                                 static_cast<uint8_t>(trimmed.back()) > 32));
  FUZZ_CHECK(TrimBlanks(trimmed) == trimmed);
  const size_t at = text.find(trimmed);
  FUZZ_CHECK(at != std::string_view::npos);
  for (size_t i = 0; i < text.size(); ++i) {
    if (i < at || i >= at + trimmed.size()) FUZZ_CHECK(static_cast<uint8_t>(text[i]) <= 32);
  }

  const std::string upper = AsciiUpperCase(text);
  FUZZ_CHECK(upper.size() == text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const bool lower = text[i] >= 'a' && text[i] <= 'z';
    FUZZ_CHECK(upper[i] == (lower ? static_cast<char>(text[i] - 32) : text[i]));
  }
  FUZZ_CHECK(EqualStrings(text, std::string(text)) && !EqualStrings(text, std::string(text) + "x"));
  FUZZ_CHECK(ToIntDef(text, count) ==
             ToIntDef(std::string(text) + '\0' + std::string(other), count));
}

}  // namespace
}  // namespace dazi::fuzz

using namespace std::string_view_literals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dazi;
  fuzz::Input input(data, size);
  const bool mapped = input.Flag();
  CurrentTextLocale() = fuzz::LeadByteLocale(input, false);
  const int32_t start = input.Int32() % 300;
  const int32_t count = input.Int32() % 300;
  std::string path(input.Text());
  std::string other(input.Text());
  if (mapped) {
    path = fuzz::OverAlphabet(path, "\\\\/:.a\x81\x5c\x83 \0"sv);
    other = fuzz::OverAlphabet(other, "\\.a\x81\x83");
  }
  fuzz::CheckByteKinds(path);
  for (const PathStyle* style : {&kWindowsPaths, &kPosixPaths})
    fuzz::CheckPathParts(path, *style, other);
  fuzz::CheckTexts(path, other, start, count);
  return 0;
}
