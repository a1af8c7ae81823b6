#pragma once
// For POSIX files only: the kind of a locale's character set, however its
// name is spelled ("UTF-8", "utf8", "ANSI_X3.4-1968", ...).

#include <langinfo.h>

#include <string>
#include <string_view>

namespace dazi {

enum class Codeset { Utf8, Ascii, Other };

inline Codeset CodesetNamed(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c == '-' || c == '_') continue;
    key += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  if (key == "UTF8") return Codeset::Utf8;
  if (key == "ANSIX3.41968" || key == "USASCII") return Codeset::Ascii;
  return Codeset::Other;
}

// The character set of the current LC_CTYPE.
inline Codeset LocaleCodeset() {
  const char* name = nl_langinfo(CODESET);
  return name != nullptr ? CodesetNamed(name) : Codeset::Other;
}

}  // namespace dazi
