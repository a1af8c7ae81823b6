#include <locale.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>

#include "support/text/codeset_posix.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

namespace {

// A multi-byte character set other than UTF-8, in which a trail byte may look
// like an ASCII character.
bool IsDoubleByteCodeset() {
  return MB_CUR_MAX > 1 && LocaleCodeset() != Codeset::Utf8;
}

bool IsLeadByte(unsigned char byte) {
  char c = static_cast<char>(byte);
  wchar_t wide;
  std::mbstate_t state{};
  return std::mbrtowc(&wide, &c, 1, &state) == static_cast<size_t>(-2);
}

// The number of ASCII bytes at the start of a text.
size_t AsciiBeginning(std::string_view text) {
  size_t i = 0;
  for (uint64_t word; i + 8 <= text.size(); i += 8) {
    std::memcpy(&word, text.data() + i, 8);
    if ((word & 0x8080808080808080u) != 0) break;
  }
  while (i < text.size() && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  return i;
}

}  // namespace

// Only the categories the tool uses are taken from the environment: the
// character set and letter case, and the language of the C library's error
// texts. Loading the others cost a run more than its sorting.
void InitTextLocale() {
  setlocale(LC_CTYPE, "");
  setlocale(LC_MESSAGES, "");
  TextLocale& locale = CurrentTextLocale();
  locale.doubleByteMode = false;
  locale.leadByteSet.fill(false);
  if (!IsDoubleByteCodeset()) return;
  for (int byte = 0; byte < 256; ++byte) {
    if (IsLeadByte(static_cast<unsigned char>(byte))) {
      locale.leadByteSet[byte] = true;
      locale.doubleByteMode = true;
    }
  }
}

std::string LocaleUpperCase(std::string_view text) {
  std::string result(text);
  const size_t ascii = AsciiBeginning(text);
  for (size_t i = 0; i < ascii; ++i) result[i] = AsciiUpper(result[i]);
  if (ascii == result.size()) return result;

  // Non-ASCII characters take the locale's mapping where their encoded length
  // stays. In a double-byte character set a character of two bytes is kept
  // whole: changing it would change its trail byte.
  const bool doubleByte = IsDoubleByteCodeset();
  const char* bytes = text.data();
  size_t i = ascii;
  while (i < text.size()) {
    unsigned char byte = static_cast<unsigned char>(bytes[i]);
    if (byte < 0x80) {
      result[i] = AsciiUpper(bytes[i]);
      ++i;
      continue;
    }
    wchar_t wide;
    std::mbstate_t state{};
    size_t length = std::mbrtowc(&wide, bytes + i, text.size() - i, &state);
    if (length == static_cast<size_t>(-2)) break;  // incomplete at the end: kept as is
    if (length == static_cast<size_t>(-1) || length == 0) {
      // An invalid pair still has a trail byte that must not be upper-cased.
      i += doubleByte && i + 1 < text.size() && IsLeadByte(byte) ? 2 : 1;
      continue;
    }
    if (!(doubleByte && length > 1)) {
      wint_t upper = std::towupper(static_cast<wint_t>(wide));
      if (upper != static_cast<wint_t>(wide)) {
        char encoded[MB_LEN_MAX];
        std::mbstate_t out{};
        if (std::wcrtomb(encoded, static_cast<wchar_t>(upper), &out) == length) {
          std::memcpy(&result[i], encoded, length);
        }
      }
    }
    i += length;
  }
  return result;
}

bool LocaleEqual(std::string_view a, std::string_view b, bool ignoreCase) {
  if (!ignoreCase) return a == b;
  return a.size() == b.size() && LocaleUpperCase(a) == LocaleUpperCase(b);
}

}  // namespace dazi
