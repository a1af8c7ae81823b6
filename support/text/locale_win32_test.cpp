#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {
namespace {

TEST(LocaleUpperCase, UsesTheSystemMappingAndKeepsLength) {
  struct Case {
    std::string text;
    std::string expected;
  };
  for (const Case& c : {Case{"", ""}, Case{"abcxyz", "ABCXYZ"}, Case{"a1_b-Z", "A1_B-Z"},
                        Case{std::string("a\0b", 3), std::string("A\0B", 3)}}) {
    std::string upper = LocaleUpperCase(c.text);
    EXPECT_EQ(upper, c.expected) << testing::PrintToString(c.text);
    EXPECT_EQ(upper.size(), c.text.size());
  }
}

TEST(LocaleEqual, ComparesWithAndWithoutCase) {
  struct Case {
    std::string_view a;
    std::string_view b;
    bool ignoreCase;
    bool equal;
  };
  for (const Case& c :
       {Case{"abc", "ABC", true, true}, Case{"abc", "ABC", false, false},
        Case{"abc", "abc", false, true}, Case{"ab", "abc", true, false}, Case{"", "", true, true},
        Case{std::string_view(), "", false, true}, Case{std::string_view(), "a", true, false}}) {
    EXPECT_EQ(LocaleEqual(c.a, c.b, c.ignoreCase), c.equal)
        << c.a << " / " << c.b << (c.ignoreCase ? " ignoring case" : "");
  }
}

// Runs InitTextLocale under a chosen thread locale, then restores both.
class InitTextLocaleTest : public testing::Test {
 protected:
  ~InitTextLocaleTest() override {
    SetThreadLocale(savedThreadLocale_);
    CurrentTextLocale() = savedTextLocale_;
  }

  void InitWith(LCID localeId) {
    ASSERT_TRUE(SetThreadLocale(localeId));
    CurrentTextLocale().doubleByteMode = true;
    CurrentTextLocale().leadByteSet.fill(true);
    InitTextLocale();
  }

  static int LeadByteCount() {
    int count = 0;
    for (bool lead : CurrentTextLocale().leadByteSet) count += lead;
    return count;
  }

 private:
  LCID savedThreadLocale_ = GetThreadLocale();
  TextLocale savedTextLocale_ = CurrentTextLocale();
};

TEST_F(InitTextLocaleTest, LeadBytesComeFromTheLanguagesCodePage) {
  struct Case {
    LCID localeId;
    int leadBytes;
  };
  // English, German, French, Swedish, Russian (code page 1251), Japanese (932).
  for (const Case& c : {Case{0x0409, 0}, Case{0x0407, 0}, Case{0x040C, 0}, Case{0x041D, 0},
                        Case{0x0419, 0}, Case{0x0411, (0x9F - 0x81 + 1) + (0xFC - 0xE0 + 1)}}) {
    InitWith(c.localeId);
    EXPECT_EQ(CurrentTextLocale().doubleByteMode, c.leadBytes > 0) << std::hex << c.localeId;
    EXPECT_EQ(LeadByteCount(), c.leadBytes) << std::hex << c.localeId;
  }
  const TextLocale& japanese = CurrentTextLocale();
  for (int byte : {0x81, 0x9F, 0xE0, 0xFC}) EXPECT_TRUE(japanese.leadByteSet[byte]) << byte;
  for (int byte : {0x41, 0x80, 0xA0, 0xDF, 0xFD}) EXPECT_FALSE(japanese.leadByteSet[byte]) << byte;
}

}  // namespace
}  // namespace dazi
