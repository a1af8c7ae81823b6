#include <locale.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <optional>
#include <string>

#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {
namespace {

// Switches the C library's locale for one test and puts the old one back.
class LocaleScope {
 public:
  LocaleScope() : saved_(setlocale(LC_ALL, nullptr)) {}
  ~LocaleScope() { setlocale(LC_ALL, saved_.c_str()); }

  // The first of the names the system knows, or nullptr.
  const char* Use(std::initializer_list<const char*> names) {
    for (const char* name : names) {
      if (setlocale(LC_ALL, name) != nullptr) return name;
    }
    return nullptr;
  }

 private:
  std::string saved_;
};

constexpr std::initializer_list<const char*> kUtf8Names = {"C.UTF-8", "C.utf8", "en_US.UTF-8"};
constexpr std::initializer_list<const char*> kTurkishNames = {"tr_TR.UTF-8", "tr_TR.utf8"};
constexpr std::initializer_list<const char*> kGbkNames = {"zh_CN.GBK", "zh_CN.gbk"};

struct UpperCase {
  std::string text;
  std::string expected;
};

void ExpectUpperCases(std::initializer_list<UpperCase> cases) {
  for (const UpperCase& c : cases) {
    std::string upper = LocaleUpperCase(c.text);
    EXPECT_EQ(upper, c.expected) << "text: " << testing::PrintToString(c.text);
    EXPECT_EQ(upper.size(), c.text.size());
  }
}

TEST(LocaleUpperCase, AsciiLettersInEveryLocale) {
  LocaleScope scope;
  for (const char* name : {"C", "C.UTF-8", "tr_TR.UTF-8", "zh_CN.GBK"}) {
    if (scope.Use({name}) == nullptr) continue;
    SCOPED_TRACE(name);
    ExpectUpperCases({{"", ""},
                      {"abcxyz", "ABCXYZ"},
                      {"Mixed-Case_09 ~`{}", "MIXED-CASE_09 ~`{}"},
                      {std::string("a\0b", 3), std::string("A\0B", 3)},
                      {"switch /i", "SWITCH /I"}});
  }
}

TEST(LocaleUpperCase, Utf8KeepsEncodedLength) {
  LocaleScope scope;
  if (scope.Use(kUtf8Names) == nullptr) GTEST_SKIP() << "no UTF-8 locale installed";
  ExpectUpperCases({
      {"\xC3\xA9t\xC3\xA9", "\xC3\x89T\xC3\x89"},  // été
      {"\xC3\xBF", "\xC5\xB8"},                    // ÿ -> Ÿ, two bytes each
      {"\xCE\xB1\xCE\xB2", "\xCE\x91\xCE\x92"},    // αβ
      {"stra\xC3\x9F"
       "e",
       "STRA\xC3\x9F"
       "E"},                             // ß has no single capital
      {"\xC4\xB1x", "\xC4\xB1X"},        // dotless ı -> I would shrink
      {"\xC5\xBF", "\xC5\xBF"},          // long s -> S would shrink
      {"\xE2\xB1\xA5", "\xE2\xB1\xA5"},  // U+2C65 -> U+023A would shrink
      {"\xC9\x90", "\xC9\x90"},          // U+0250 -> U+2C6F would grow
      // Invalid and incomplete sequences stay byte for byte.
      {"\xFF"
       "a\xC3"
       "b",
       "\xFF"
       "A\xC3"
       "B"},
      {"a\xC3", "A\xC3"},
      {"\xE2\x82"
       "a",
       "\xE2\x82"
       "A"},
  });
}

TEST(LocaleUpperCase, TurkishLocaleKeepsAsciiI) {
  LocaleScope scope;
  if (scope.Use(kTurkishNames) == nullptr) GTEST_SKIP() << "no tr_TR.UTF-8 locale installed";
  ExpectUpperCases({{"i", "I"},
                    {"i\xC4\x9F", "I\xC4\x9E"},  // iğ -> IĞ
                    {"\xC4\xB1i", "\xC4\xB1I"}});
}

TEST(LocaleUpperCase, DoubleByteCharactersKeepTheirTrailBytes) {
  LocaleScope scope;
  if (scope.Use(kGbkNames) == nullptr) GTEST_SKIP() << "no zh_CN.GBK locale installed";
  ExpectUpperCases({
      {"\x81"
       "ab",
       "\x81"
       "aB"},  // trail byte 'a'
      {"\xA1"
       "ab",
       "\xA1"
       "aB"},                      // invalid pair, trail still kept
      {"\xA3\xE1", "\xA3\xE1"},    // full-width a
      {"\xA6\xC1x", "\xA6\xC1X"},  // Greek alpha
      {"ab\x81", "AB\x81"},        // lone lead byte at the end
      {"\x80"
       "a",
       "\x80"
       "A"},  // not a lead byte
  });
}

TEST(LocaleEqual, ComparesWithAndWithoutCase) {
  LocaleScope scope;
  if (scope.Use(kUtf8Names) == nullptr) GTEST_SKIP() << "no UTF-8 locale installed";
  struct Case {
    const char* a;
    const char* b;
    bool ignoreCase;
    bool equal;
  };
  for (const Case& c :
       {Case{"abc", "ABC", true, true}, Case{"abc", "ABC", false, false},
        Case{"abc", "abc", false, true}, Case{"", "", true, true}, Case{"", "", false, true},
        Case{"", "a", true, false}, Case{"ab", "abc", true, false},
        Case{"\xC3\xA9", "\xC3\x89", true, true}, Case{"\xC3\xA9", "\xC3\x89", false, false},
        Case{"\xC4\xB1", "I", true, false}}) {
    EXPECT_EQ(LocaleEqual(c.a, c.b, c.ignoreCase), c.equal)
        << c.a << " / " << c.b << (c.ignoreCase ? " ignoring case" : "");
  }
}

// Runs InitTextLocale as if the process had started with LC_ALL=name, then
// restores the environment, the C library's locale and the text locale.
class InitTextLocaleTest : public testing::Test {
 protected:
  InitTextLocaleTest() : saved_(CurrentTextLocale()) {
    if (const char* value = getenv("LC_ALL")) savedLcAll_ = value;
  }
  ~InitTextLocaleTest() override {
    if (savedLcAll_) {
      setenv("LC_ALL", savedLcAll_->c_str(), 1);
    } else {
      unsetenv("LC_ALL");
    }
    CurrentTextLocale() = saved_;
  }

  bool InitWith(std::initializer_list<const char*> names) {
    const char* name = scope_.Use(names);
    if (name == nullptr) return false;
    setenv("LC_ALL", name, 1);
    CurrentTextLocale().doubleByteMode = true;
    CurrentTextLocale().leadByteSet.fill(true);
    InitTextLocale();
    return true;
  }

  static int LeadByteCount() {
    int count = 0;
    for (bool lead : CurrentTextLocale().leadByteSet) count += lead;
    return count;
  }

 private:
  LocaleScope scope_;
  TextLocale saved_;
  std::optional<std::string> savedLcAll_;
};

TEST_F(InitTextLocaleTest, SingleByteAndUtf8LocalesHaveNoLeadBytes) {
  for (auto names : {std::initializer_list<const char*>{"C"}, kUtf8Names}) {
    if (!InitWith(names)) continue;
    SCOPED_TRACE(*names.begin());
    EXPECT_FALSE(CurrentTextLocale().doubleByteMode);
    EXPECT_EQ(LeadByteCount(), 0);
  }
}

TEST_F(InitTextLocaleTest, DoubleByteLocaleFindsItsLeadBytes) {
  if (!InitWith(kGbkNames)) GTEST_SKIP() << "no zh_CN.GBK locale installed";
  const TextLocale& locale = CurrentTextLocale();
  EXPECT_TRUE(locale.doubleByteMode);
  EXPECT_EQ(LeadByteCount(), 0xFE - 0x81 + 1);
  EXPECT_TRUE(locale.leadByteSet[0x81]);
  EXPECT_TRUE(locale.leadByteSet[0xFE]);
  EXPECT_FALSE(locale.leadByteSet[0x80]);
  EXPECT_FALSE(locale.leadByteSet[0xFF]);
  EXPECT_FALSE(locale.leadByteSet['A']);
}

}  // namespace
}  // namespace dazi
