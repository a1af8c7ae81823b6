#include "support/text/env_expand.h"

#include <gtest/gtest.h>

#include <string>

namespace dazi {
namespace {

const char* const kEnvironment[] = {
    "TEMP=C:\\t", "Path=/bin", "PATH=/usr/bin", "X=v", "EMPTY=", "NOEQUALS", "A=b=c", nullptr,
};

std::string Expand(std::string_view text) {
  return ExpandPercentRefs(
      text, [](std::string_view name) { return FindEnvironmentValue(kEnvironment, name); });
}

struct ExpandCase {
  const char* text;
  const char* expected;
};

class ExpandPercentRefsTest : public testing::TestWithParam<ExpandCase> {};

TEST_P(ExpandPercentRefsTest, ExpandsLikeWindows) {
  EXPECT_EQ(Expand(GetParam().text), GetParam().expected) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    References, ExpandPercentRefsTest,
    testing::Values(ExpandCase{"", ""}, ExpandCase{"no references", "no references"},
                    ExpandCase{"%TEMP%\\x", "C:\\t\\x"}, ExpandCase{"a%X%b%X%c", "avbvc"},
                    ExpandCase{"%X%%X%", "vv"}, ExpandCase{"%EMPTY%rest", "rest"},
                    ExpandCase{"%A%", "b=c"},
                    // An unknown name stays, and its closing '%' opens the next reference.
                    ExpandCase{"%NOSUCHNAME%\\x", "%NOSUCHNAME%\\x"},
                    ExpandCase{"%UNDEF%X%", "%UNDEFv"}, ExpandCase{"%UNDEF%NOPE%", "%UNDEF%NOPE%"},
                    ExpandCase{"%X%X%", "vX%"}, ExpandCase{"%NOEQUALS%", "%NOEQUALS%"},
                    ExpandCase{"%TEMP=C:%", "%TEMP=C:%"},
                    // Lone and doubled percent signs.
                    ExpandCase{"%", "%"}, ExpandCase{"%%", "%%"}, ExpandCase{"100%", "100%"},
                    ExpandCase{"%%X%", "%v"}, ExpandCase{"%X", "%X"}));

struct LookupCase {
  const char* name;
  const char* expected;  // nullptr: not found
};

class FindEnvironmentValueTest : public testing::TestWithParam<LookupCase> {};

TEST_P(FindEnvironmentValueTest, MatchesNamesIgnoringAsciiCasePreferringExact) {
  std::optional<std::string> value = FindEnvironmentValue(kEnvironment, GetParam().name);
  if (GetParam().expected == nullptr) {
    EXPECT_FALSE(value.has_value()) << GetParam().name << " -> " << value.value_or("");
  } else {
    EXPECT_EQ(value.value_or("<none>"), GetParam().expected) << GetParam().name;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, FindEnvironmentValueTest,
                         testing::Values(LookupCase{"TEMP", "C:\\t"}, LookupCase{"temp", "C:\\t"},
                                         LookupCase{"PATH", "/usr/bin"}, LookupCase{"Path", "/bin"},
                                         LookupCase{"path", "/bin"}, LookupCase{"EMPTY", ""},
                                         LookupCase{"NOEQUALS", nullptr}, LookupCase{"", nullptr},
                                         LookupCase{"TEM", nullptr}, LookupCase{"TEMPX", nullptr}));

TEST(FindEnvironmentValue, NoEnvironmentFindsNothing) {
  EXPECT_FALSE(FindEnvironmentValue(nullptr, "TEMP").has_value());
}

}  // namespace
}  // namespace dazi
