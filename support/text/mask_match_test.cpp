#include "support/text/mask_match.h"

#include <gtest/gtest.h>

#include "support/text/text.h"

namespace dazi {
namespace {

struct MaskCase {
  const char* mask;
  const char* name;
  bool matches;
};
void PrintTo(const MaskCase& c, std::ostream* out) {
  *out << c.mask << " / " << c.name;
}

class MaskMatchTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskMatchTest, SingleBytes) {
  const MaskCase& c = GetParam();
  EXPECT_EQ(MaskMatches(c.mask, c.name), c.matches) << c.mask << " / " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Masks, MaskMatchTest,
    ::testing::Values(
        MaskCase{"*.*", "NOEXT", true}, MaskCase{"*.*", ".", true}, MaskCase{"*.*X", "A.BX", true},
        MaskCase{"*.*X", "ABX", false}, MaskCase{"HAL*.DLL", "HAL.DLL", true},
        MaskCase{"HAL*.DLL", "HALX.DLL", true}, MaskCase{"HAL*.DLL", "HAL.DLLX", false},
        MaskCase{"HAL*.DLL", "XHAL.DLL", false}, MaskCase{"WIN*", "WIN", true},
        MaskCase{"WIN*", "AWIN", false}, MaskCase{"*.SIF", "A.B.SIF", true},
        MaskCase{"*.SIF", "SIF", false}, MaskCase{"?", "A", true}, MaskCase{"?", "", false},
        MaskCase{"?", "AB", false}, MaskCase{"A?C", "AC", false}, MaskCase{"*AB", "AAB", true},
        MaskCase{"A*B*C", "AXBXC", true}, MaskCase{"A*B*C", "AXCXB", false},
        MaskCase{"**", "", true}, MaskCase{"", "A", false}, MaskCase{"abc", "ABC", false}));

TEST(MaskMatch, QuestionMarkTakesOneUtf8Character) {
  EXPECT_TRUE(MaskMatches("?.TXT", "\xC3\x89.TXT", StepUtf8));
  EXPECT_FALSE(MaskMatches("?.TXT", "\xC3\x89.TXT", StepSingleByte));
  EXPECT_TRUE(MaskMatches("?", "\xC3", StepUtf8));  // a cut-off sequence counts by bytes
  EXPECT_TRUE(MaskMatches("?\xA9", "\xC3\xA9", StepSingleByte));
  EXPECT_FALSE(MaskMatches("?\xA9", "\xC3\xA9", StepUtf8));  // a trail byte is no character
}

TEST(MaskMatch, DoubleByteCharacterIsOneCharacter) {
  TextLocale saved = CurrentTextLocale();
  CurrentTextLocale().doubleByteMode = true;
  for (int b = 0x81; b <= 0x9F; ++b) CurrentTextLocale().leadByteSet[b] = true;
  EXPECT_TRUE(MaskMatches("?", "\x83\x5C", StepTextLocale));
  EXPECT_FALSE(MaskMatches("*\\", "\x83\x5C", StepTextLocale));
  EXPECT_TRUE(MaskMatches("*\\", "\x83\x83\x5C", StepTextLocale));
  CurrentTextLocale() = saved;
}

}  // namespace
}  // namespace dazi
