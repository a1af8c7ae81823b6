#pragma once
// The ICU collation behind LocaleCompareCaseless on POSIX, exposed so that its
// tests can build it for a given locale and character set.

#include <unicode/ucol.h>

#include <string>
#include <string_view>

#include "support/collate/collate.h"

namespace dazi {

// The collation locale named by the first non-empty of LC_ALL, LC_COLLATE and
// LANG, without its character set and modifier; "root" for C, POSIX and none.
std::string CollationLocaleOf(const char* lcAll, const char* lcCollate, const char* lang);

// The character set of the user's locale (LC_ALL, LC_CTYPE, LANG).
std::string UserCharset();

// Whether texts in the character set are compared as UTF-8 without
// conversion: UTF-8 itself and plain ASCII (the C locale's).
bool IsUtf8Charset(const std::string& charset);

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
  // printable ASCII characters that the collator weighs one at a time, each
  // with a primary weight and the secondary weights of a letter, and none of
  // them part of a contraction of such characters.
  bool QuickComparable(std::string_view text) const;
  // Compare for two such texts: their characters' ranks by primary weight,
  // compared one by one, the shorter text first when one begins the other.
  int QuickCompare(std::string_view a, std::string_view b) const;
  // The weights behind both; null when no character is plain.
  const QuickCollation* Quick() const;

  // Whether the sign order could be added to the locale's own rules.
  bool Tailored() const { return tailored_; }

 private:
  void RankPlainCharacters() const;

  UCollator* collator_ = nullptr;
  mutable QuickCollation quick_;
  mutable bool ranked_ = false;
  bool tailored_ = false;
  std::string charset_;  // empty for UTF-8
};

}  // namespace dazi
