#include "support/text/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <string_view>
#include <vector>

namespace dazi {
namespace {

using namespace std::string_literals;

// Installs a text locale for one test and puts the previous one back.
class LocaleGuard {
 public:
  explicit LocaleGuard(const TextLocale& locale) : saved_(CurrentTextLocale()) {
    CurrentTextLocale() = locale;
  }
  ~LocaleGuard() { CurrentTextLocale() = saved_; }
  LocaleGuard(const LocaleGuard&) = delete;
  LocaleGuard& operator=(const LocaleGuard&) = delete;

 private:
  TextLocale saved_;
};

TextLocale ShiftJisLike(bool doubleByteMode = true) {
  TextLocale locale;
  locale.doubleByteMode = doubleByteMode;
  for (int b = 0x81; b <= 0x9F; ++b) locale.leadByteSet[b] = true;
  for (int b = 0xE0; b <= 0xFC; ++b) locale.leadByteSet[b] = true;
  return locale;
}

TextLocale SingleByte() {
  return TextLocale{};
}

struct TextCase {
  std::string input;
  std::string expected;
};

class TextTrimBlanks : public ::testing::TestWithParam<TextCase> {};

TEST_P(TextTrimBlanks, RemovesControlAndSpaceBytesAtBothEnds) {
  EXPECT_EQ(TrimBlanks(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(TextCases, TextTrimBlanks,
                         ::testing::Values(TextCase{"", ""}, TextCase{" \t\r\n ", ""},
                                           TextCase{"\0 \x1F\x20"s, ""}, TextCase{"  a b  ", "a b"},
                                           TextCase{"\tword\r\n", "word"}, TextCase{"\0x\0"s, "x"},
                                           TextCase{"\xA0x\xA0", "\xA0x\xA0"},
                                           TextCase{" \x80 ", "\x80"}, TextCase{"x", "x"}));

TEST(TextAsciiUpperCase, ChangesOnlyAsciiLettersAndKeepsLength) {
  EXPECT_EQ(AsciiUpperCase("abz AZ 09 `{@["), "ABZ AZ 09 `{@[");
  const std::string high = "\xE0\xE9\xFF\x83\x61"s + '\0' + "q";
  const std::string upper = AsciiUpperCase(high);
  EXPECT_EQ(upper, "\xE0\xE9\xFF\x83\x41"s + '\0' + "Q");
  EXPECT_EQ(upper.size(), high.size());
}

// The comparisons of two spellings of one name: of one length, a shorter one
// never read past its end (names longer than a string's inline buffer).
struct SpellingPair {
  std::string a, b;
  bool equalIgnoringCase, onlyAsciiDiffers;
};

TEST(TextAsciiSpellings, CompareOnlyWhatBothHave) {
  const std::string longName = "averyveryverylongfilenamewithmorethanforty.sys";
  const SpellingPair pairs[] = {
      {"kdcom.dll", "KDCOM.DLL", true, true},
      {longName, AsciiUpperCase(longName), true, true},
      {"~DZ~" + longName, AsciiUpperCase(longName), false, false},
      {AsciiUpperCase(longName), "~DZ~" + longName, false, false},
      {"cafÃ©", "CAFÃ", false, false},
      {"cafÃ©", "CAFÃ©", true, true},
      {"a-b", "a_b", false, true},
      {"", "", true, true},
  };
  for (const SpellingPair& pair : pairs) {
    EXPECT_EQ(EqualIgnoringAsciiCase(pair.a, pair.b), pair.equalIgnoringCase) << pair.a;
    EXPECT_EQ(DifferOnlyInAscii(pair.a, pair.b), pair.onlyAsciiDiffers) << pair.a;
  }
  EXPECT_EQ(AsciiSwappedCase("KdÃ©Com.dll"), "kDÃ©cOM.DLL");
}

TEST(TextAsciiUpperCase, IgnoresDoubleByteMode) {
  LocaleGuard guard(ShiftJisLike());
  // 'a' (0x61) after a lead byte is a trail byte, but is upper-cased anyway.
  EXPECT_EQ(AsciiUpperCase("\x83"
                           "a"),
            "\x83"
            "A");
}

struct PosCase {
  std::string needle;
  std::string text;
  int plain;
  int locale;
};

class TextPos : public ::testing::TestWithParam<PosCase> {};

TEST_P(TextPos, SingleByteLocale) {
  LocaleGuard guard(SingleByte());
  EXPECT_EQ(PlainPos(GetParam().needle, GetParam().text), GetParam().plain);
  EXPECT_EQ(LocalePos(GetParam().needle, GetParam().text), GetParam().locale);
}

INSTANTIATE_TEST_SUITE_P(
    TextCases, TextPos,
    ::testing::Values(PosCase{"", "abc", 0, 0}, PosCase{"a", "", 0, 0},
                      PosCase{"abcd", "abc", 0, 0}, PosCase{"abc", "abc", 1, 1},
                      PosCase{"b", "abcabc", 2, 2}, PosCase{"ca", "abcabc", 3, 3},
                      PosCase{"B", "abc", 0, 0}, PosCase{"y", "ab\0xy"s, 5, 0},
                      PosCase{"a", "\0a"s, 2, 0}, PosCase{"b\0x"s, "ab\0xy"s, 2, 2},
                      PosCase{"\0b"s, "a\0b"s, 2, 0}, PosCase{"\0"s, "a\0b"s, 2, 0},
                      PosCase{"x", "ab\0x"s, 4, 0}));

TEST(TextEqualStrings, ComparesLengthAndEveryByte) {
  EXPECT_TRUE(EqualStrings("", ""));
  EXPECT_TRUE(EqualStrings("a\0b"s, "a\0b"s));
  EXPECT_FALSE(EqualStrings("abc", "ABC"));
  EXPECT_FALSE(EqualStrings("a", "a\0"s));
  EXPECT_FALSE(EqualStrings("", "a"));
}

struct CopyCase {
  std::string text;
  int start;
  int count;
  std::string expected;
};

class TextCopyRange : public ::testing::TestWithParam<CopyCase> {};

TEST_P(TextCopyRange, ClampsStartAndCount) {
  const CopyCase& c = GetParam();
  EXPECT_EQ(CopyRange(c.text, c.start, c.count), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextCases, TextCopyRange,
    ::testing::Values(CopyCase{"", 1, 5, ""}, CopyCase{"abcde", 1, 5, "abcde"},
                      CopyCase{"abcde", 0, 2, "ab"}, CopyCase{"abcde", -3, 2, "ab"},
                      CopyCase{"abcde", INT_MIN, 3, "abc"}, CopyCase{"abcde", 6, 1, ""},
                      CopyCase{"abcde", 5, 1, "e"}, CopyCase{"abcde", 2, -1, ""},
                      CopyCase{"abcde", 2, 0, ""}, CopyCase{"abcde", 2, 100, "bcde"},
                      CopyCase{"abcde", 2, INT_MAX, "bcde"}, CopyCase{"abcde", 5, INT_MAX, "e"},
                      CopyCase{"abcde", INT_MAX, INT_MAX, ""},
                      CopyCase{"abcde", 0, INT_MAX, "abcde"}, CopyCase{"x", 2, -1, ""},
                      CopyCase{"xy", 2, 0, ""}, CopyCase{"a\0c"s, 2, 2, "\0c"s}));

struct IntCase {
  std::string text;
  int32_t expected;
};

class TextToIntDef : public ::testing::TestWithParam<IntCase> {};

constexpr int32_t kDefault = -77;

TEST_P(TextToIntDef, ParsesOrGivesDefault) {
  EXPECT_EQ(ToIntDef(GetParam().text, kDefault), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(TextDecimal, TextToIntDef,
                         ::testing::Values(IntCase{"0", 0}, IntCase{"42", 42}, IntCase{"  42", 42},
                                           IntCase{"+7", 7}, IntCase{"-0", 0}, IntCase{"-15", -15},
                                           IntCase{"007", 7}, IntCase{"2147483647", INT32_MAX},
                                           IntCase{"-2147483648", INT32_MIN},
                                           IntCase{"0002147483647", INT32_MAX},
                                           IntCase{"42\0junk"s, 42}, IntCase{" -1", -1}));

INSTANTIATE_TEST_SUITE_P(
    TextHexadecimal, TextToIntDef,
    ::testing::Values(IntCase{"0x1F", 31}, IntCase{"$1F", 31}, IntCase{"x1F", 31},
                      IntCase{"X1F", 31}, IntCase{"0X1F", 31}, IntCase{"$abcDEF", 0xABCDEF},
                      IntCase{"-$10", -16}, IntCase{"+$10", 16}, IntCase{"  $7fffffff", INT32_MAX},
                      IntCase{"$FFFFFFFF", -1}, IntCase{"$80000000", INT32_MIN},
                      IntCase{"-$FFFFFFFF", 1}, IntCase{"-$80000000", INT32_MIN},
                      IntCase{"$000000001", 1}, IntCase{"$0000000000FFFFFFFF", -1},
                      IntCase{"0x0", 0}));

INSTANTIATE_TEST_SUITE_P(
    TextInvalid, TextToIntDef,
    ::testing::Values(IntCase{"", kDefault}, IntCase{"   ", kDefault}, IntCase{"-", kDefault},
                      IntCase{"+", kDefault}, IntCase{"$", kDefault}, IntCase{"0x", kDefault},
                      IntCase{"-x", kDefault}, IntCase{"- 5", kDefault}, IntCase{"$-10", kDefault},
                      IntCase{"0x+1", kDefault}, IntCase{"42 ", kDefault},
                      IntCase{"\t42", kDefault}, IntCase{"\r42", kDefault},
                      IntCase{"\n42", kDefault}, IntCase{"00x1F", kDefault},
                      IntCase{"--5", kDefault}, IntCase{"+-5", kDefault},
                      IntCase{"2147483648", kDefault}, IntCase{"-2147483649", kDefault},
                      IntCase{"99999999999", kDefault}, IntCase{"$100000000", kDefault},
                      IntCase{"$1G", kDefault}, IntCase{"1F", kDefault}, IntCase{"1.5", kDefault},
                      IntCase{"\0"
                              "5"s,
                              kDefault},
                      IntCase{"$$1", kDefault}, IntCase{"0xx1", kDefault}));

TEST(TextByteKind, SingleByteModeReportsEverythingSingle) {
  TextLocale locale = ShiftJisLike(false);
  LocaleGuard guard(locale);
  for (size_t i = 0; i < 4; ++i) EXPECT_EQ(ByteKindAt("\x83\x83\x5C", i), ByteKind::Single) << i;
}

TEST(TextByteKind, PairsLeadBytesFromTheLastNonLeadByte) {
  LocaleGuard guard(ShiftJisLike());
  const std::string_view text = "a\x83\x5C\x83\x83\x5C\x81\x81\x81Z";
  const std::vector<ByteKind> expected = {
      ByteKind::Single, ByteKind::Lead, ByteKind::Trail, ByteKind::Lead, ByteKind::Trail,
      ByteKind::Single, ByteKind::Lead, ByteKind::Trail, ByteKind::Lead, ByteKind::Trail};
  ASSERT_EQ(expected.size(), text.size());
  for (size_t i = 0; i < text.size(); ++i) EXPECT_EQ(ByteKindAt(text, i), expected[i]) << i;
}

TEST(TextByteKind, EdgeOffsetsAreSingle) {
  LocaleGuard guard(ShiftJisLike());
  EXPECT_EQ(ByteKindAt("", 0), ByteKind::Single);
  EXPECT_EQ(ByteKindAt("\x83", 0), ByteKind::Lead);
  EXPECT_EQ(ByteKindAt("\x83", 1), ByteKind::Single);
  EXPECT_EQ(ByteKindAt("\x83", 1000), ByteKind::Single);
  EXPECT_EQ(ByteKindAt("\x83\0"s, 1), ByteKind::Single);
}

struct DoubleByteCase {
  bool doubleByteMode;
  std::string path;
  bool backslashAtEnd;
  std::string added;
  std::string dropped;
  std::string dir;
  std::string name;
  int localePos;
};

class TextDoubleBytePath : public ::testing::TestWithParam<DoubleByteCase> {};

TEST_P(TextDoubleBytePath, TrailBackslashIsNotASeparator) {
  const DoubleByteCase& c = GetParam();
  LocaleGuard guard(ShiftJisLike(c.doubleByteMode));
  const int last = static_cast<int>(c.path.size());
  EXPECT_EQ(IsBackslashAt(c.path, last), c.backslashAtEnd);
  EXPECT_EQ(AddTrailingBackslash(c.path, kWindowsPaths), c.added);
  EXPECT_EQ(DropTrailingBackslash(c.path, kWindowsPaths), c.dropped);
  EXPECT_EQ(FileDirPart(c.path, kWindowsPaths), c.dir);
  EXPECT_EQ(FileNamePart(c.path, kWindowsPaths), c.name);
  EXPECT_EQ(LocalePos("\\", c.path), c.localePos);
  EXPECT_EQ(PlainPos("\\", c.path), last);
}

INSTANTIATE_TEST_SUITE_P(
    TextCases, TextDoubleBytePath,
    ::testing::Values(
        DoubleByteCase{true, "\x83\x5C", false, "\x83\x5C\\", "\x83\x5C", "", "\x83\x5C", 0},
        DoubleByteCase{true, "\x83\x83\x5C", true, "\x83\x83\x5C", "\x83\x83", "\x83\x83\x5C", "",
                       3},
        DoubleByteCase{false, "\x83\x5C", true, "\x83\x5C", "\x83", "\x83\x5C", "", 2},
        DoubleByteCase{false, "\x83\x83\x5C", true, "\x83\x83\x5C", "\x83\x83", "\x83\x83\x5C", "",
                       3}));

TEST(TextDoubleByte, LocalePosSkipsMatchesStartingOnTrailBytes) {
  LocaleGuard guard(ShiftJisLike());
  EXPECT_EQ(LocalePos("\\", "\x83\\a\\"), 4);
  EXPECT_EQ(LocalePos("\\a", "\x83\\a\\a"), 4);
  EXPECT_EQ(PlainPos("\\a", "\x83\\a\\a"), 2);
  EXPECT_EQ(LocalePos("\x83\\", "\x83\\"), 1);
}

TEST(TextDoubleByte, SeparatorSearchSkipsWholeCharacters) {
  LocaleGuard guard(ShiftJisLike());
  EXPECT_EQ(LastSeparatorIndex("\\", "a\\\x83\\"), 2);
  EXPECT_EQ(FileDirPart("C:\\dir\\\x95\\\x95\\", kWindowsPaths), "C:\\dir\\");
  EXPECT_EQ(FileNamePart("C:\\dir\\\x95\\\x95\\", kWindowsPaths), "\x95\\\x95\\");
  // A '.' that is the second byte of a character does not start an extension.
  EXPECT_EQ(ReplaceExtension("a.b\\\x83.", ".env", kWindowsPaths), "a.b\\\x83..env");
}

TEST(TextIsBackslashAt, ChecksIndexRange) {
  EXPECT_FALSE(IsBackslashAt("\\", 0));
  EXPECT_TRUE(IsBackslashAt("\\", 1));
  EXPECT_FALSE(IsBackslashAt("\\", 2));
  EXPECT_FALSE(IsBackslashAt("\\", -1));
  EXPECT_FALSE(IsBackslashAt("/", 1));
  EXPECT_FALSE(IsBackslashAt("", 1));
}

TEST(TextLastSeparatorIndex, FindsLastOfAnySeparator) {
  EXPECT_EQ(LastSeparatorIndex("\\:", ""), 0);
  EXPECT_EQ(LastSeparatorIndex("\\:", "abc"), 0);
  EXPECT_EQ(LastSeparatorIndex("\\:", "C:\\a\\b"), 5);
  EXPECT_EQ(LastSeparatorIndex("\\:", "C:b"), 2);
  EXPECT_EQ(LastSeparatorIndex("", "a\\b"), 0);
  EXPECT_EQ(LastSeparatorIndex("\\", "a\\b\0c"s), 2);
}

struct SplitCase {
  const PathStyle* style;
  std::string path;
  std::string dir;
  std::string name;
};

class TextPathSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(TextPathSplit, DirAndNameRejoinToThePath) {
  const SplitCase& c = GetParam();
  EXPECT_EQ(FileDirPart(c.path, *c.style), c.dir);
  EXPECT_EQ(FileNamePart(c.path, *c.style), c.name);
  EXPECT_EQ(c.dir + c.name, c.path);
}

INSTANTIATE_TEST_SUITE_P(TextCases, TextPathSplit,
                         ::testing::Values(SplitCase{&kWindowsPaths, "", "", ""},
                                           SplitCase{&kWindowsPaths, "name.txt", "", "name.txt"},
                                           SplitCase{&kWindowsPaths, "C:name", "C:", "name"},
                                           SplitCase{&kWindowsPaths, "C:\\dir\\file.ext",
                                                     "C:\\dir\\", "file.ext"},
                                           SplitCase{&kWindowsPaths, "C:\\dir\\", "C:\\dir\\", ""},
                                           SplitCase{&kWindowsPaths, "a/b", "", "a/b"},
                                           SplitCase{&kPosixPaths, "C:name", "", "C:name"},
                                           SplitCase{&kPosixPaths, "/a/b.txt", "/a/", "b.txt"},
                                           SplitCase{&kPosixPaths, "/", "/", ""},
                                           SplitCase{&kPosixPaths, "dir\\x", "dir\\", "x"},
                                           SplitCase{&kPosixPaths, "a\\b/c", "a\\b/", "c"}));

struct ExtensionCase {
  const PathStyle* style;
  std::string path;
  std::string expected;
};

class TextReplaceExtension : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(TextReplaceExtension, ReplacesFromTheLastFullStopOfTheName) {
  EXPECT_EQ(ReplaceExtension(GetParam().path, ".env", *GetParam().style), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    TextCases, TextReplaceExtension,
    ::testing::Values(ExtensionCase{&kWindowsPaths, "C:\\tools\\DAZI.exe", "C:\\tools\\DAZI.env"},
                      ExtensionCase{&kWindowsPaths, "C:\\v1.2\\dazi", "C:\\v1.2\\dazi.env"},
                      ExtensionCase{&kWindowsPaths, "dazi.", "dazi.env"},
                      ExtensionCase{&kWindowsPaths, "a.b.c", "a.b.env"},
                      ExtensionCase{&kWindowsPaths, "C:\\dir\\.x", "C:\\dir\\.env"},
                      ExtensionCase{&kWindowsPaths, "", ".env"},
                      ExtensionCase{&kWindowsPaths, "C:x.y:name", "C:x.y:name.env"},
                      ExtensionCase{&kPosixPaths, "/opt/bin/dazi", "/opt/bin/dazi.env"},
                      ExtensionCase{&kPosixPaths, "/opt/v1.2/dazi", "/opt/v1.2/dazi.env"},
                      ExtensionCase{&kPosixPaths, "/opt/bin/dazi.bin", "/opt/bin/dazi.env"},
                      ExtensionCase{&kPosixPaths, "C:x.y:name", "C:x.env"}));

struct TrailingCase {
  const PathStyle* style;
  std::string path;
  std::string added;
  std::string dropped;
};

class TextTrailingBackslash : public ::testing::TestWithParam<TrailingCase> {};

TEST_P(TextTrailingBackslash, AddsOrDropsOneSeparator) {
  const TrailingCase& c = GetParam();
  EXPECT_EQ(AddTrailingBackslash(c.path, *c.style), c.added);
  EXPECT_EQ(DropTrailingBackslash(c.path, *c.style), c.dropped);
}

INSTANTIATE_TEST_SUITE_P(
    TextCases, TextTrailingBackslash,
    ::testing::Values(TrailingCase{&kWindowsPaths, "", "\\", ""},
                      TrailingCase{&kWindowsPaths, "\\", "\\", ""},
                      TrailingCase{&kWindowsPaths, "C:\\dir", "C:\\dir\\", "C:\\dir"},
                      TrailingCase{&kWindowsPaths, "C:\\dir\\", "C:\\dir\\", "C:\\dir"},
                      TrailingCase{&kWindowsPaths, "C:\\dir\\\\", "C:\\dir\\\\", "C:\\dir\\"},
                      TrailingCase{&kWindowsPaths, "C:", "C:\\", "C:"},
                      TrailingCase{&kWindowsPaths, "dir/", "dir/\\", "dir/"},
                      TrailingCase{&kPosixPaths, "", "\\", ""},
                      TrailingCase{&kPosixPaths, "/tmp/out/", "/tmp/out/", "/tmp/out"},
                      TrailingCase{&kPosixPaths, "/tmp/out", "/tmp/out\\", "/tmp/out"},
                      TrailingCase{&kPosixPaths, "/tmp/out\\", "/tmp/out\\", "/tmp/out"},
                      TrailingCase{&kPosixPaths, "/", "/", ""}));

TEST(TextPathStyle, NativeStyleIsOneOfTheKnownStyles) {
  const PathStyle& native = NativePathStyle();
  const bool windows = native.separators == kWindowsPaths.separators;
  const bool posix = native.separators == kPosixPaths.separators;
  EXPECT_TRUE(windows || posix);
  EXPECT_EQ(FileNamePart("dir\\name"), "name");
}

}  // namespace
}  // namespace dazi
