#include "support/collate/collate.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/list/string_list.h"

namespace dazi {
namespace {

int Compare(std::string_view a, std::string_view b) {
  return LocaleCompareCaseless(a, b);
}

std::string WithCase(std::string_view text, int flavour) {
  std::string result(text);
  for (size_t i = 0; i < result.size(); ++i) {
    char& c = result[i];
    bool upper = flavour == 0 || (flavour == 2 && i % 2 == 0);
    if (upper && c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  }
  return result;
}

const char* const kNames[] = {"",
                              "I386",
                              "I386\\SYSTEM32\\DRIVERS\\",
                              "\\win.ini",
                              "co-op",
                              "it's",
                              "x.y_z~1",
                              "[a]+b=c@d#e%",
                              "caf\xC3\xA9",
                              ("na\xEF"
                               "1ve")};

TEST(LocaleCompareCaseless, TextsDifferingOnlyInCaseAreEqual) {
  for (const char* name : kNames) {
    EXPECT_EQ(Compare(name, name), 0) << name;
    for (int first = 0; first < 3; ++first) {
      for (int second = 0; second < 3; ++second)
        EXPECT_EQ(Compare(WithCase(name, first), WithCase(name, second)), 0) << name;
    }
  }
}

TEST(LocaleCompareCaseless, TextSortsBeforeItsBackslashExtensions) {
  const char* const tails[] = {"", "a", "A", "\\", " ", "!", "-", "'", "0", "~", "\xC3\xA9"};
  for (const char* name : kNames) {
    for (const char* tail : tails) {
      for (int flavour = 0; flavour < 3; ++flavour) {
        std::string longer = WithCase(std::string(name) + "\\" + tail, flavour);
        EXPECT_EQ(Compare(name, longer), -1) << name << " | " << longer;
        EXPECT_EQ(Compare(longer, name), 1) << name << " | " << longer;
      }
    }
  }
}

TEST(LocaleCompareCaseless, RandomTriplesAreConsistentlyOrdered) {
  // Letters, digits, signs, and bytes that are accented letters or no
  // character at all, depending on the character set.
  const std::string bytes =
      "aAbBezZ019 !\"#$%&'()*+,-./:;<=>?@[\\]^_`{|}~\xC3\xA9\x89\xE9\xFF\x80\x81";
  std::mt19937 random(7);
  auto text = [&](const std::string& near) {
    std::string result;
    switch (random() % 4) {
      case 0:  // a case variant
        return WithCase(near, static_cast<int>(random() % 3));
      case 1:  // a longer text
        result = near;
        break;
    }
    for (size_t n = random() % 5; n > 0; --n) result += bytes[random() % bytes.size()];
    return result;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string a = text(text("")), b = text(a), c = text(b);
    int ab = Compare(a, b), bc = Compare(b, c), ac = Compare(a, c);
    ASSERT_TRUE(ab >= -1 && ab <= 1);
    ASSERT_EQ(Compare(b, a), -ab) << a << " | " << b;
    if (ab == bc || ab == 0 || bc == 0) {
      ASSERT_EQ(ac, ab != 0 ? ab : bc) << a << " | " << b << " | " << c;
    }
  }
}

TEST(LocaleCompareCaseless, SignsSortInOneOrderBeforeDigitsAndDigitsBeforeLetters) {
  const std::string order = "!\"#$%&()*,./:;?@[\\]^_`{|}~+<=>0123456789aBcXyZ";
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    std::string x(1, order[i]), y(1, order[i + 1]);
    EXPECT_EQ(Compare(x, y), -1) << x << " " << y;
    EXPECT_EQ(Compare("name" + x + "1", "NAME" + y + "0"), -1) << x << " " << y;
  }
}

std::vector<std::string> Sorted(const std::vector<std::string>& entries) {
  TStringList list;
  for (const std::string& entry : entries) list.Append(entry);
  list.SortCaseless();
  std::vector<std::string> result;
  for (int32_t i = 0; i < list.Count(); ++i) result.push_back(list.ItemAt(i));
  return result;
}

struct SortCase {
  std::vector<std::string> entries;
  std::vector<std::string> sorted;
};

class LocaleSort : public testing::TestWithParam<SortCase> {};

TEST_P(LocaleSort, GivesTheOrderOfThePartitionSteps) {
  EXPECT_EQ(Sorted(GetParam().entries), GetParam().sorted);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, LocaleSort,
    testing::Values(SortCase{{"PROGRAMS", "I386", "I386\\SYSTEM32", "I386\\SYSTEM32\\DRIVERS\\"},
                             {"I386", "I386\\SYSTEM32", "I386\\SYSTEM32\\DRIVERS\\", "PROGRAMS"}},
                    SortCase{{"bootsect.bin", "bootfont.bin", "I386\\bootfix.bin",
                              "I386\\ntdetect.com", "I386\\setupldr.bin", "I386\\spcmdcon.sys",
                              "I386\\SYSTEM32\\biosinfo.inf", "I386\\SYSTEM32\\bootvid.dll",
                              "I386\\SYSTEM32\\kdcom.dll", "I386\\SYSTEM32\\ntkrnlmp.exe",
                              "I386\\SYSTEM32\\ntoskrnl.exe", "I386\\SYSTEM32\\setupreg.hiv"},
                             {"bootfont.bin", "bootsect.bin", "I386\\bootfix.bin",
                              "I386\\ntdetect.com", "I386\\setupldr.bin", "I386\\spcmdcon.sys",
                              "I386\\SYSTEM32\\biosinfo.inf", "I386\\SYSTEM32\\bootvid.dll",
                              "I386\\SYSTEM32\\kdcom.dll", "I386\\SYSTEM32\\ntkrnlmp.exe",
                              "I386\\SYSTEM32\\ntoskrnl.exe", "I386\\SYSTEM32\\setupreg.hiv"}},
                    SortCase{{"abc", "ABC"}, {"ABC", "abc"}},
                    SortCase{{"ABC", "abc"}, {"abc", "ABC"}},
                    SortCase{{"abc", "ABC", "Abc"}, {"Abc", "ABC", "abc"}},
                    SortCase{{"}", "0", "+", "a", "_", ".", "\\", "!"},
                             {"!", ".", "\\", "_", "}", "+", "0", "a"}},
                    SortCase{{}, {}}, SortCase{{"one"}, {"one"}}));

}  // namespace
}  // namespace dazi
