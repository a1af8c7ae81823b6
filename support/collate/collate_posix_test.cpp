#include <gtest/gtest.h>
#include <unicode/ucol.h>
#include <unicode/uset.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <string>
#include <vector>

#include "support/collate/icu/icu_collation.h"
#include "support/collate/tables/collate_tables.h"
#include "support/collate/tables/collate_tables_data.h"

namespace dazi {
namespace {

TEST(CollationLocale, FirstSetVariableWithoutCharsetOrModifierAndRootForC) {
  EXPECT_EQ(CollationLocaleOf(nullptr, nullptr, nullptr), "root");
  EXPECT_EQ(CollationLocaleOf("", "", "C.UTF-8"), "root");
  EXPECT_EQ(CollationLocaleOf("POSIX", "de_DE.UTF-8", nullptr), "root");
  EXPECT_EQ(CollationLocaleOf("", "sv_SE.UTF-8", "de_DE.UTF-8"), "sv_SE");
  EXPECT_EQ(CollationLocaleOf("de_DE@euro", "sv_SE", "C"), "de_DE");
}

TEST(IcuCollation, TheLocaleKeepsItsOwnOrderAndAccentsBesideTheSigns) {
  IcuCollation swedish("sv_SE", "UTF-8");
  EXPECT_TRUE(swedish.Tailored());
  EXPECT_EQ(swedish.Compare("\xC3\xA4r", "zebra"), 1);  // "är" after z in Swedish only
  EXPECT_EQ(IcuCollation("root", "UTF-8").Compare("\xC3\xA4r", "zebra"), -1);
  EXPECT_EQ(swedish.Compare("_", "."), 1);
  EXPECT_EQ(swedish.Compare("cafe", "CAF\xC3\xA9"), -1);
  EXPECT_EQ(swedish.Compare("caf\xC3\xA9", "CAF\xC3\x89"), 0);
  IcuCollation turkish("tr_TR", "UTF-8");
  EXPECT_EQ(turkish.Compare("I386", "i386"), 0);
  EXPECT_EQ(turkish.Compare("i386", "I386\\SYSTEM32"), -1);
}

// Bytes that are no character are told apart among themselves, while letter
// case still does not count; in another character set as in UTF-8.
TEST(IcuCollation, UndecodableBytesStillOrderTextsApart) {
  struct Case {
    const char* charset;
    std::vector<std::string> equal, rising;
  };
  const Case cases[] = {
      {"UTF-8",
       {"a\xFF"
        "b",
        "A\xFF"
        "B"},
       {"ab", "a\x80", "a\xFE", "A\xFF", "a\xFF\xFF"}},
      {"ISO-8859-1", {"caf\xE9", "CAF\xC9"}, {"cafe", "caf\xE9", "cafes"}},
      {"Shift_JIS", {"\x82\xA0x\xFF", "\x82\xA0X\xFF"}, {"x\x80", "X\xA0", "x\xFD", "\x82\xA0"}},
  };
  for (const Case& c : cases) {
    IcuCollation collation("root", c.charset);
    EXPECT_EQ(collation.Compare(c.equal[0], c.equal[1]), 0) << c.charset;
    for (size_t i = 0; i + 1 < c.rising.size(); ++i) {
      EXPECT_EQ(collation.Compare(c.rising[i], c.rising[i + 1]), -1) << c.charset << " " << i;
      EXPECT_EQ(collation.Compare(c.rising[i + 1], c.rising[i]), 1) << c.charset << " " << i;
    }
  }
}

TEST(IcuCollation, ConvertedTextsAreConsistentlyOrdered) {
  const std::string pieces[] = {"a",        "A",    "z",    "0",    "\\",
                                ".",        "_",    "\x80", "\x81", "\x82\xA0",
                                "\x83\x5C", "\xA0", "\xB1", "\xE0", "\xFF"};
  IcuCollation collation("ja_JP", "Shift_JIS");
  std::mt19937 random(11);
  auto text = [&]() {
    std::string result;
    for (size_t n = random() % 5; n > 0; --n) result += pieces[random() % std::size(pieces)];
    return result;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string a = text(), b = text(), c = text();
    int ab = collation.Compare(a, b), bc = collation.Compare(b, c);
    ASSERT_EQ(collation.Compare(b, a), -ab);
    int ac = collation.Compare(a, c);
    if (ab == bc || ab == 0 || bc == 0) {
      ASSERT_EQ(ac, ab != 0 ? ab : bc) << a << " | " << b << " | " << c;
    }
  }
}

// The quick comparison agrees with the collator on every pair of texts that
// it takes, ties included, also in locales that order letters their own way
// or join two of them into one.
TEST(IcuCollation, QuickComparisonsAgreeWithTheCollator) {
  const std::string letters = "aAbBcChHiIlLsSzZ0149 !#$%&'()*+,-./:;<=>?@[\\]^_`{|}~";
  for (const char* locale : {"root", "tr_TR", "cs_CZ", "da_DK", "sv_SE", "hu_HU", "de_DE"}) {
    IcuCollation collation(locale, "UTF-8");
    std::mt19937 random(7);
    auto text = [&]() {
      std::string result;
      for (size_t n = random() % 6; n > 0; --n) result += letters[random() % letters.size()];
      return result;
    };
    int compared = 0;
    for (int round = 0; round < 20000; ++round) {
      const std::string a = text();
      std::string b = round % 3 == 0 ? a : text();
      for (char& c : b) c = random() % 2 == 0 ? static_cast<char>(std::toupper(c)) : c;
      if (!collation.QuickComparable(a) || !collation.QuickComparable(b)) continue;
      ++compared;
      ASSERT_EQ(collation.QuickCompare(a, b), collation.Compare(a, b))
          << locale << ": " << a << " | " << b;
    }
    EXPECT_GT(compared, 2000) << locale;
  }
}

// The quick comparison learns joined letters from the locale's own rules
// alone, which holds while the root collation joins and expands no printable
// ASCII character.
TEST(IcuCollation, TheRootCollationWeighsPlainCharactersOneByOne) {
  UErrorCode status = U_ZERO_ERROR;
  UCollator* root = ucol_open("root", &status);
  USet* contractions = uset_openEmpty();
  USet* expansions = uset_openEmpty();
  ucol_getContractionsAndExpansions(root, contractions, expansions, true, &status);
  ASSERT_TRUE(U_SUCCESS(status));
  for (UChar32 c = 0x20; c < 0x7F; ++c) EXPECT_FALSE(uset_contains(expansions, c)) << c;
  for (int32_t i = 0; i < uset_getItemCount(contractions); ++i) {
    UChar32 start, end;
    UChar text[256];
    const int32_t length = uset_getItem(contractions, i, &start, &end, text, 256, &status);
    EXPECT_FALSE(length > 0 &&
                 std::all_of(text, text + length, [](UChar c) { return c >= 0x20 && c < 0x7F; }))
        << i;
  }
  uset_close(contractions);
  uset_close(expansions);
  ucol_close(root);
}

TEST(IcuCollation, JoinedLettersAndOtherCharactersAreLeftToTheCollator) {
  const IcuCollation root("root", "UTF-8");
  EXPECT_TRUE(root.QuickComparable("I386\\SYSTEM32\\DRIVERS\\chata.sys"));
  EXPECT_TRUE(root.QuickComparable(""));
  EXPECT_FALSE(root.QuickComparable("caf\xC3\xA9"));
  EXPECT_FALSE(root.QuickComparable("a\x01"));  // a control character weighs nothing
  EXPECT_FALSE(IcuCollation("cs_CZ", "UTF-8").QuickComparable("chata"));  // ch is one letter
  EXPECT_TRUE(IcuCollation("cs_CZ", "UTF-8").QuickComparable("tata"));
  EXPECT_FALSE(IcuCollation("da_DK", "UTF-8").QuickComparable("haas"));  // so is aa
  EXPECT_FALSE(IcuCollation("root", "ISO-8859-1").QuickComparable("abc"));
}

// The quick collations made at build time are those the collator makes now:
// for the locales the tests use, for some that join letters, and for a
// sample of all the others; a locale ICU does not list is left to the
// collator.
TEST(PrecompiledQuickCollation, EqualsWhatTheCollatorMakes) {
  std::vector<std::string> locales{"root",  "tr_TR", "cs_CZ", "da_DK", "sv_SE", "hu_HU",
                                   "de_DE", "en_US", "zh_CN", "ja_JP", "ko_KR"};
  for (size_t i = 0; i < collate_tables::kLocaleCount; i += 29) {
    locales.emplace_back(collate_tables::kLocales[i].locale);
  }
  for (const std::string& locale : locales) {
    bool found = false;
    const QuickCollation* precompiled = PrecompiledQuickCollation(locale, found);
    const IcuCollation collation(locale, "UTF-8");
    const QuickCollation* made = collation.Quick();
    ASSERT_TRUE(found) << locale;
    ASSERT_EQ(precompiled == nullptr, made == nullptr) << locale;
    if (made != nullptr) {
      EXPECT_EQ(precompiled->weight, made->weight) << locale;
    }
  }
  bool found = true;
  EXPECT_EQ(PrecompiledQuickCollation("xx_Nowhere", found), nullptr);
  EXPECT_FALSE(found);
}

}  // namespace
}  // namespace dazi
