#include "support/runtime/cmdline.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text/text.h"

namespace dazi {
namespace {

std::vector<std::string> SplitLine(std::string_view line, CharStep step = StepByTextLocale) {
  std::vector<std::string> args;
  int count = CountLineArgs(line, step);
  for (int i = 1; i <= count; ++i) args.push_back(LineArgAt(line, i, step));
  return args;
}

// Switches the process-wide text locale to a double-byte one (lead bytes
// 0x81-0x9F) for the lifetime of the object.
class DoubleByteLocale {
 public:
  explicit DoubleByteLocale(bool on) : saved_(CurrentTextLocale()) {
    TextLocale& locale = CurrentTextLocale();
    locale.doubleByteMode = on;
    locale.leadByteSet.fill(false);
    if (on) {
      for (int b = 0x81; b <= 0x9F; ++b) locale.leadByteSet[b] = true;
    }
  }
  ~DoubleByteLocale() { CurrentTextLocale() = saved_; }

 private:
  TextLocale saved_;
};

struct SplitCase {
  const char* name;
  std::string tail;
  std::vector<std::string> args;
};

class CommandLineSplit : public testing::TestWithParam<SplitCase> {};

TEST_P(CommandLineSplit, ArgumentsAfterTheProgramName) {
  const SplitCase& c = GetParam();
  for (std::string program : {"dazi", "\"C:\\Program Files\\DAZI.EXE\"", "dazi\t"}) {
    std::string line = program + " " + c.tail;
    SCOPED_TRACE(line);
    int count = static_cast<int>(c.args.size());
    EXPECT_EQ(CountLineArgs(line), count);
    EXPECT_EQ(SplitLine(line), c.args);
    EXPECT_EQ(LineArgAt(line, count + 1), "");
    EXPECT_EQ(LineArgAt(line, count + 100), "");
    EXPECT_EQ(LineArgAt(line, -1), "");
  }
}

const std::string q = "\"";

INSTANTIATE_TEST_SUITE_P(
    Tails, CommandLineSplit,
    testing::Values(SplitCase{"TwoBlanks", "a  b", {"a", "b"}},
                    SplitCase{"Tab", "a\tb", {"a", "b"}},
                    SplitCase{"LineBreaksAndControls", "a\r\n\x01 b\x1f", {"a", "b"}},
                    SplitCase{"QuotedPath", q + "C:\\my dir" + q, {"C:\\my dir"}},
                    SplitCase{"QuotesInside", "C:\\" + q + "my dir" + q + "\\x", {"C:\\my dir\\x"}},
                    SplitCase{"BackslashBeforeQuote", q + "C:\\my dir\\" + q, {"C:\\my dir\\"}},
                    SplitCase{"EmptyPairThenArg", q + q + " x", {"x"}},
                    SplitCase{"EmptyPairBetween", "a " + q + q + " b", {"a", "b"}},
                    SplitCase{
                        "EmptyPairsAndBlanks", " " + q + q + q + q + "  " + q + q + "x", {"x"}},
                    SplitCase{"EmptyPairGluedToArg", q + q + "x", {"x"}},
                    SplitCase{"AdjacentQuotedSections", q + "a" + q + q + "b" + q, {"ab"}},
                    SplitCase{"UnclosedQuote", q + "a b", {"a b"}},
                    SplitCase{"QuoteIsLastByte", "a " + q, {"a"}},
                    SplitCase{"UnclosedQuoteOfBlanks", "a " + q + "  ", {"a", "  "}},
                    SplitCase{"QuotedBlank", "a " + q + " " + q + " b", {"a", " ", "b"}},
                    SplitCase{"HighBytesAreText", "\xA0x\xFF \x7F", {"\xA0x\xFF", "\x7F"}},
                    SplitCase{"ZeroByteEndsTheLine", std::string("a \0b", 4), {"a"}},
                    SplitCase{"ZeroByteEndsQuote", q + std::string("a\0b", 3) + q, {"a"}},
                    SplitCase{"Empty", "", {}}),
    [](const testing::TestParamInfo<SplitCase>& info) { return info.param.name; });

TEST(CommandLine, ProgramNameIsTheFirstArgumentAsWritten) {
  EXPECT_EQ(LineArgAt("\"C:\\Program Files\\DAZI.EXE\" -?", 0), "C:\\Program Files\\DAZI.EXE");
  EXPECT_EQ(LineArgAt("  dazi", 0), "dazi");
  EXPECT_EQ(LineArgAt("", 0), "");
  EXPECT_EQ(CountLineArgs(""), 0);
  EXPECT_EQ(CountLineArgs("   "), 0);
}

TEST(CommandLine, NextArgReportsWhereCollectingStopped) {
  struct {
    std::string line;
    size_t pos;
    std::string arg;
    size_t next;
  } cases[] = {
      {"ab cd", 0, "ab", 2},  {"ab cd", 2, "cd", 5},     {"ab cd", 5, "", 5},
      {"ab cd", 99, "", 5},   {"  \"\" x y", 0, "x", 6}, {"\"a b\"c d", 0, "a bc", 6},
      {"\"a b", 0, "a b", 4}, {"a \"", 1, "", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line + " @" + std::to_string(c.pos));
    SplitArg result = NextArg(c.line, c.pos);
    EXPECT_EQ(result.arg, c.arg);
    EXPECT_EQ(result.next, c.next);
  }
}

TEST(CommandLine, WaywardStepFunctionStaysInsideTheText) {
  CharStep none = [](std::string_view, size_t) -> size_t { return 0; };
  CharStep far = [](std::string_view, size_t) -> size_t { return 1000; };
  EXPECT_EQ(SplitLine("dazi ab  cd", none), (std::vector<std::string>{"ab", "cd"}));
  SplitArg result = NextArg("ab", 0, far);
  EXPECT_EQ(result.arg, "ab");
  EXPECT_EQ(result.next, 2u);
}

struct StepCase {
  bool doubleByte;
  std::string line;
  size_t pos;
  size_t step;
};

TEST(CommandLine, StepByTextLocaleTakesLeadAndTrailTogether) {
  const StepCase cases[] = {
      {false, "\x83\x22", 0, 1},
      {true, "\x83\x22", 0, 2},
      {true, "a\x9F\\", 1, 2},
      {true, "a\x83", 1, 1},
      {true, std::string("\x83\0", 2), 0, 1},
      {true, "\xA0\x22", 0, 1},
      {true, "\x80\x22", 0, 1},
      {true, "ab", 0, 1},
  };
  for (const StepCase& c : cases) {
    DoubleByteLocale locale(c.doubleByte);
    SCOPED_TRACE(testing::PrintToString(c.line) + " @" + std::to_string(c.pos));
    EXPECT_EQ(StepByTextLocale(c.line, c.pos), c.step);
  }
}

struct DoubleByteCase {
  const char* name;
  std::string tail;
  std::vector<std::string> doubleByteArgs;
  std::vector<std::string> singleByteArgs;
};

class DoubleByteSplit : public testing::TestWithParam<DoubleByteCase> {};

TEST_P(DoubleByteSplit, TrailBytesAreNeverSeparatorsOrQuotes) {
  const DoubleByteCase& c = GetParam();
  {
    DoubleByteLocale locale(true);
    EXPECT_EQ(SplitLine("dazi " + c.tail), c.doubleByteArgs);
  }
  {
    DoubleByteLocale locale(false);
    EXPECT_EQ(SplitLine("dazi " + c.tail), c.singleByteArgs);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Tails, DoubleByteSplit,
    testing::Values(
        DoubleByteCase{"QuoteTrailOpensNothing",
                       "a\x83\"b c",
                       {"a\x83\"b", "c"},
                       {"a\x83"
                        "b c"}},
        DoubleByteCase{
            "QuoteTrailClosesNothing", "\"x\x83\"y\" z", {"x\x83\"y", "z"}, {"x\x83y z"}},
        DoubleByteCase{"BackslashTrail", "\x83\\\"a b\"", {"\x83\\a b"}, {"\x83\\a b"}},
        DoubleByteCase{"BlankTrail", "\x83 b", {"\x83 b"}, {"\x83", "b"}},
        DoubleByteCase{"LeadByteAtTheEnd", "x a\x83", {"x", "a\x83"}, {"x", "a\x83"}},
        DoubleByteCase{"LeadByteBeforeZero", std::string("a\x83\0b", 4), {"a\x83"}, {"a\x83"}}),
    [](const testing::TestParamInfo<DoubleByteCase>& info) { return info.param.name; });

struct SwitchCase {
  const char* name;
  std::string tail;
  bool question;
  bool help;
};

class SwitchSearch : public testing::TestWithParam<SwitchCase> {};

TEST_P(SwitchSearch, HyphenSwitchIgnoringCase) {
  const SwitchCase& c = GetParam();
  std::vector<std::string> args = SplitLine("dazi " + c.tail);
  EXPECT_EQ(HasSwitchAmong(args, "?", "-", true), c.question);
  EXPECT_EQ(HasSwitchAmong(args, "-help", "-", true), c.help);
}

INSTANTIATE_TEST_SUITE_P(Arguments, SwitchSearch,
                         testing::Values(SwitchCase{"Question", "-?", true, false},
                                         SwitchCase{"DoubleHyphenHelp", "--help", false, true},
                                         SwitchCase{"UpperHelp", "--HELP", false, true},
                                         SwitchCase{"MixedHelp", "--Help", false, true},
                                         SwitchCase{"SingleHyphenHelp", "-help", false, false},
                                         SwitchCase{"SingleHyphenUpperHelp", "-HELP", false, false},
                                         SwitchCase{"Slash", "/?", false, false},
                                         SwitchCase{"BareQuestion", "?", false, false},
                                         SwitchCase{"LoneHyphen", "-", false, false},
                                         SwitchCase{"QuotedQuestion", "\"-?\"", true, false},
                                         SwitchCase{"TripleHyphenHelp", "---help", false, false},
                                         SwitchCase{"NoArguments", "", false, false}),
                         [](const testing::TestParamInfo<SwitchCase>& info) {
                           return info.param.name;
                         });

TEST(SwitchSearch, FoundInEveryPosition) {
  const std::vector<std::vector<std::string>> lists = {
      {"-?"}, {"-?", "a", "b"}, {"a", "-?", "b"}, {"a", "b", "-?"}};
  for (const auto& args : lists) EXPECT_TRUE(HasSwitchAmong(args, "?", "-", true));
}

TEST(SwitchSearch, CaseChoiceAndSwitchCharacters) {
  const std::vector<std::string> args = {"x", "--HELP", "/V", "+q"};
  EXPECT_FALSE(HasSwitchAmong(args, "-help", "-", false));
  EXPECT_TRUE(HasSwitchAmong(args, "-HELP", "-", false));
  EXPECT_TRUE(HasSwitchAmong(args, "v", "-/", true));
  EXPECT_FALSE(HasSwitchAmong(args, "v", "-/", false));
  EXPECT_FALSE(HasSwitchAmong(args, "q", "-/", true));
  // Without switch characters any first byte goes, but exactly one is dropped.
  EXPECT_TRUE(HasSwitchAmong(args, "q", "", true));
  EXPECT_TRUE(HasSwitchAmong(args, "", "", true));
  EXPECT_FALSE(HasSwitchAmong(args, "+q", "", true));
}

TEST(SwitchSearch, EmptyArgumentIsNoSwitch) {
  EXPECT_FALSE(HasSwitchAmong({""}, "", "", true));
  EXPECT_FALSE(HasSwitchAmong({""}, "", std::string_view("\0", 1), true));
}

}  // namespace
}  // namespace dazi
