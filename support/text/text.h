#pragma once
// Text and path primitives over the tool's 8-bit strings. Positions are 1-based
// and 0 means "not found". The locale-aware operations honour double-byte
// characters through the process-wide TextLocale.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace dazi {

// Set once at start-up (InitTextLocale), read-only afterwards; tests set it
// explicitly to exercise double-byte behaviour on every platform.
struct TextLocale {
  bool doubleByteMode = false;
  std::array<bool, 256> leadByteSet{};
};
TextLocale& CurrentTextLocale();

enum class ByteKind { Single, Lead, Trail };

// How a platform spells paths: which characters end a directory part, and
// which count as a trailing separator of a directory path.
struct PathStyle {
  std::string_view separators;
  std::string_view trailing;
};
inline constexpr PathStyle kWindowsPaths{"\\:", "\\"};
inline constexpr PathStyle kPosixPaths{"\\/", "\\/"};
const PathStyle& NativePathStyle();  // defined per platform

std::string TrimBlanks(std::string_view text);
std::string AsciiUpperCase(std::string_view text);
inline char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - ('a' - 'A')) : c;
}
bool IsAscii(std::string_view text);
// The ASCII letters of text in the other case.
std::string AsciiSwappedCase(std::string_view text);
// Of one length and equal but for the case of ASCII letters.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);
// Of one length, and every byte where they differ is ASCII.
bool DifferOnlyInAscii(std::string_view a, std::string_view b);
int PlainPos(std::string_view needle, std::string_view text);
int LocalePos(std::string_view needle, std::string_view text);
std::string CopyRange(std::string_view text, int start, int count);
int32_t ToIntDef(std::string_view text, int32_t defaultValue);
bool EqualStrings(std::string_view a, std::string_view b);

ByteKind ByteKindAt(std::string_view text, size_t offset);
bool IsBackslashAt(std::string_view text, int index);
// A slash, or a backslash that is no trail byte of a double-byte character:
// the separators that both programs take in a path.
inline bool IsSeparatorAt(std::string_view text, size_t offset) {
  const char c = text[offset];
  return (c == '/' || c == '\\') && ByteKindAt(text, offset) == ByteKind::Single;
}
// Whether a name holds a separator: a path built from it names another entry.
bool HoldsSeparator(std::string_view name);
int LastSeparatorIndex(std::string_view separators, std::string_view text);

std::string FileDirPart(std::string_view path, const PathStyle& style = NativePathStyle());
std::string FileNamePart(std::string_view path, const PathStyle& style = NativePathStyle());
std::string ReplaceExtension(std::string_view path, std::string_view extension,
                             const PathStyle& style = NativePathStyle());
std::string AddTrailingBackslash(std::string_view path, const PathStyle& style = NativePathStyle());
std::string DropTrailingBackslash(std::string_view path,
                                  const PathStyle& style = NativePathStyle());

}  // namespace dazi
