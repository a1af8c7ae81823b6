#pragma once
// The ICU collation behind LocaleCompareCaseless on POSIX, exposed so that its
// tests can build it for a given locale and character set.

#include <unicode/ucol.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dazi {

// The collation locale named by the first non-empty of LC_ALL, LC_COLLATE and
// LANG, without its character set and modifier; "root" for C, POSIX and none.
std::string CollationLocaleOf(const char* lcAll, const char* lcCollate, const char* lang);

// The character set of the user's locale (LC_ALL, LC_CTYPE, LANG).
std::string UserCharset();

class IcuCollation {
 public:
  // Texts are taken to be in the given character set; UTF-8 and plain ASCII
  // (the C locale's) are compared as UTF-8 without conversion.
  IcuCollation(const std::string& locale, const std::string& charset);
  ~IcuCollation();
  IcuCollation(const IcuCollation&) = delete;
  IcuCollation& operator=(const IcuCollation&) = delete;

  int Compare(std::string_view a, std::string_view b) const;

  // Whether QuickCompare can compare the text: texts in UTF-8 (or ASCII) of
  // printable ASCII characters that the collator weighs alone, each with a
  // single collation element that has a primary weight and the secondary
  // weight of the letters, and none of them part of a contraction.
  bool QuickComparable(std::string_view text) const;
  // Compare for two such texts: their characters' ranks by primary weight,
  // compared one by one, the shorter text first when one begins the other.
  int QuickCompare(std::string_view a, std::string_view b) const;

  // Whether the sign order could be added to the locale's own rules.
  bool Tailored() const { return tailored_; }

 private:
  void RankPlainCharacters() const;

  UCollator* collator_ = nullptr;
  mutable std::array<uint8_t, 256> rank_{};  // 0: not comparable quickly
  mutable bool ranked_ = false;
  bool tailored_ = false;
  std::string charset_;  // empty for UTF-8
};

}  // namespace dazi
