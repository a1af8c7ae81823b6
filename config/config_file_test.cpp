#include "config/config_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dazi {
namespace {

struct Seen {
  std::string name;
  std::string second;
};

std::vector<Seen> Read(const std::string& text, std::string_view header) {
  TStringList lines;
  lines.ReplaceWithLines(text);
  std::vector<Seen> seen;
  ReadSectionLines(lines, header, [&seen](const std::string& name, const TStringList& fields) {
    seen.push_back({name, fields.ItemAt(1)});
  });
  return seen;
}

std::vector<std::string> Names(const std::vector<Seen>& seen) {
  std::vector<std::string> names;
  for (const Seen& s : seen) names.push_back(s.name);
  return names;
}

using Names_ = std::vector<std::string>;

TEST(ConfigSection, HeadersInAnyCaseWithTrailingTextAndBlanks) {
  EXPECT_EQ(Names(Read("[directories]\na\n", "[DIRECTORIES]")), Names_{"a"});
  EXPECT_EQ(Names(Read("   [DIRECTORIES] ; extra\r\na\r\n", "[DIRECTORIES]")), Names_{"a"});
  EXPECT_EQ(Names(Read("[Files] old list\rb\r", "[FILES]")), Names_{"b"});
}

TEST(ConfigSection, OtherHeaderEndsTheSectionForGood) {
  EXPECT_EQ(Names(Read("[DIRECTORIES]\na\n[DIRECTORIESX]\nb\n[DIRECTORIES]\nc\n", "[DIRECTORIES]")),
            Names_{"a"});
  EXPECT_TRUE(Read("[DIRECTORIESX]\nb\n", "[DIRECTORIES]").empty());
}

TEST(ConfigSection, RepeatedWantedHeaderContinuesTheSection) {
  EXPECT_EQ(Names(Read("[FILES]\na\n[FILES]\nb\n", "[FILES]")), (Names_{"a", "b"}));
}

TEST(ConfigSection, CommentsBlankLinesAndLinesBeforeTheHeaderAreSkipped) {
  EXPECT_EQ(Names(Read("x\n[FILES]\n; note\n\n \t\nb ; keep\n", "[FILES]")), Names_{"b"});
  EXPECT_TRUE(Read("a\nb\n", "[FILES]").empty());
}

TEST(ConfigSection, SectionsInReverseOrder) {
  std::string text = "[FILES]\nf\n[DIRECTORIES]\nd\n";
  EXPECT_EQ(Names(Read(text, "[DIRECTORIES]")), Names_{"d"});
  EXPECT_EQ(Names(Read(text, "[FILES]")), Names_{"f"});
}

// Loading the file drops a byte-order mark at its start; one that reaches a
// line still hides the header there.
TEST(ConfigSection, ByteOrderMarkHidesTheHeaderOnTheFirstLine) {
  EXPECT_TRUE(Read("\xEF\xBB\xBF[FILES]\nf\n", "[FILES]").empty());
}

TEST(ConfigSection, EntryNameIsTrimmedAndUnquotedWithAGuardedSecondField) {
  std::vector<Seen> seen = Read(
      "[DIRECTORIES]\n   PROGRAMS\\A43 , 1 ; keep\n\"MINI NT\",1\n\"\nname\n", "[DIRECTORIES]");
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].name, "PROGRAMS\\A43");
  EXPECT_EQ(seen[0].second, "1");
  EXPECT_EQ(seen[1].name, "MINI NT");
  EXPECT_EQ(seen[2].name, "");
  EXPECT_EQ(seen[3].name, "name");
  EXPECT_EQ(seen[3].second, "\r\n\r\n");
}

}  // namespace
}  // namespace dazi
