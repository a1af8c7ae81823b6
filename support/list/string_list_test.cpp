#include "support/list/string_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/list/text_file.h"
#include "support/runtime/exceptions.h"
#include "support/runtime/message_texts.h"
#include "support/runtime/messages.h"
#include "support/runtime/report.h"
#include "support/text/paths.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace std::string_view_literals;
using test_support::TempTree;

using Lines = std::vector<std::string>;

Lines Entries(const TStringList& list) {
  Lines entries;
  for (int32_t i = 0; i < list.Count(); ++i) entries.push_back(list.ItemAt(i));
  return entries;
}

void Fill(TStringList& list, const Lines& entries) {
  for (const std::string& entry : entries) list.Append(entry);
}

// --- Entries, indices and room ---

TEST(StringList, KeepsEveryAppendInOrderAndRaisesForEveryOtherIndex) {
  TStringList empty, list;
  EXPECT_EQ(list.Append("a"), 0);
  list.Append("a");
  list.Append("A");
  EXPECT_EQ(list.Append(""), 3);
  EXPECT_EQ(Entries(list), (Lines{"a", "a", "A", ""}));
  const std::pair<TStringList*, int32_t> wrong[] = {
      {&empty, 0}, {&empty, -1}, {&list, 4}, {&list, INT32_MIN}};
  for (const auto& [which, index] : wrong) {
    std::string ending = "(" + std::to_string(index) + ")";
    try {
      which->ItemAt(index);
      ADD_FAILURE() << index;
    } catch (const EStringListError& failure) {
      EXPECT_EQ(failure.Message(),
                FillTemplate(LoadMessage(DAZI_ID_LIST_INDEX), {std::to_string(index)}));
      EXPECT_EQ(failure.Message().substr(failure.Message().size() - ending.size()), ending);
    }
    EXPECT_THROW((*which)[index], EStringListError);
  }
}

TEST(StringList, RoomGrowsByFourThenSixteenThenAQuarter) {
  std::vector<int32_t> growthAt, rooms;
  TStringList list;
  for (int32_t n = 1; n <= 228; ++n) {
    int32_t before = list.EntryRoom();
    list.Append(std::to_string(n));
    if (list.EntryRoom() != before) growthAt.push_back(n), rooms.push_back(list.EntryRoom());
  }
  EXPECT_EQ(growthAt, (std::vector<int32_t>{1, 5, 9, 13, 29, 45, 61, 77, 96, 119, 148, 184}));
  EXPECT_EQ(rooms, (std::vector<int32_t>{4, 8, 12, 28, 44, 60, 76, 95, 118, 147, 183, 228}));
  EXPECT_EQ(list.ItemAt(227), "228");
}

TEST(StringList, ClearGivesBackTheRoomAndNoRoomDropsEntries) {
  TStringList list;
  list.Clear();
  Fill(list, {"a", "b", "c", "d", "e"});
  list.SetEntryRoom(2);  // would lose entries: the room stays at their number
  EXPECT_EQ(list.EntryRoom(), 5);
  EXPECT_EQ(Entries(list), (Lines{"a", "b", "c", "d", "e"}));
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.EntryRoom(), 0);
  list.Append("f");
  EXPECT_EQ(list.EntryRoom(), 4);
}

// A list's own string appended to it stays intact while the storage moves.
TEST(StringList, AppendsItsOwnStringsWhileGrowing) {
  TStringList list;
  list.Append(std::string(200, 'x'));
  for (int i = 0; i < 40; ++i) list.Append(list[i]);
  ASSERT_EQ(list.Count(), 41);
  for (int32_t i = 0; i < list.Count(); ++i) EXPECT_EQ(list[i], std::string(200, 'x')) << i;
}

TEST(StringList, FailedGrowthLeavesTheListAsItWas) {
  TStringList list;
  Fill(list, {"a", "b", "c", "d"});
  // The entries' room is full; then the text's room is full as well.
  ResizeListStorage = [](void*, size_t) -> void* { return nullptr; };
  EXPECT_THROW(list.Append("e"), std::bad_alloc);
  EXPECT_THROW(list.Append(std::string(300, 'e')), std::bad_alloc);
  ResizeListStorage = std::realloc;
  EXPECT_EQ(list.EntryRoom(), 4);
  EXPECT_EQ(Entries(list), (Lines{"a", "b", "c", "d"}));
}

// --- Lines of a text, from memory and from a real file ---

struct LinesCase {
  std::string_view text;
  Lines lines;
  // The lines when the text is a file's, where they differ: a UTF-8
  // byte-order mark at the very start of a file is no part of its first line.
  std::optional<Lines> fileLines = std::nullopt;
};

const LinesCase kLineCases[] = {
    {"a\r\nb\nc\rd"sv, {"a", "b", "c", "d"}},
    {"a\n\rb"sv, {"a", "", "b"}},
    {"a\r\r\nb"sv, {"a", "", "b"}},
    {"a\r\n"sv, {"a"}},
    {"a\r\n\r\n"sv, {"a", ""}},
    {"\r\n"sv, {""}},
    {"\n\n"sv, {"", ""}},
    {""sv, {}},
    {"\0a\r\nb"sv, {}},
    {"a\0b\r\nc"sv, {"a"}},
    {"\xEF\xBB\xBF[FILES]\r\n \tx y \t\r\n"sv,
     {"\xEF\xBB\xBF[FILES]", " \tx y \t"},
     Lines{"[FILES]", " \tx y \t"}},
    {"\xEF\xBB\xBF\xEF\xBB\xBF[DIRECTORIES]\nI386\\SYSTEM32\\A_LONGER_NAME\xEF\xBB\xBF,1\n"sv,
     {"\xEF\xBB\xBF\xEF\xBB\xBF[DIRECTORIES]", "I386\\SYSTEM32\\A_LONGER_NAME\xEF\xBB\xBF,1"},
     Lines{"\xEF\xBB\xBF[DIRECTORIES]", "I386\\SYSTEM32\\A_LONGER_NAME\xEF\xBB\xBF,1"}},
    {"\xEF\xBB\xBF"sv, {"\xEF\xBB\xBF"}, Lines{}},
    {"\xEF\xBB\xBF\r\n\xEF\xBB\xBF[FILES]"sv,
     {"\xEF\xBB\xBF", "\xEF\xBB\xBF[FILES]"},
     Lines{"", "\xEF\xBB\xBF[FILES]"}},
    {"\xEF\xBB[FILES]\n"sv, {"\xEF\xBB[FILES]"}},
    {" \xEF\xBB\xBF[FILES]\n"sv, {" \xEF\xBB\xBF[FILES]"}},
    {"\xFF\xFE[\0F\0\r\0\n\0"sv, {"\xFF\xFE["}},
    {"\xFE\xFF\0[\0F"sv, {"\xFE\xFF"}},
    {"\x83\x5C\r\n\xE9\n"sv, {"\x83\x5C", "\xE9"}},
};

class TextLines : public testing::TestWithParam<LinesCase> {};

TEST_P(TextLines, SplitAtEachLineEndUpToTheFirstNulInMemoryAndFromAFile) {
  TempTree tree;
  std::string path = tree.Write("lines.env", GetParam().text);
  TStringList list;
  list.Append("old");
  list.ReplaceWithLines(GetParam().text);
  EXPECT_EQ(Entries(list), GetParam().lines);
  list.Append("old");
  list.LoadFromTextFile(path);
  EXPECT_EQ(Entries(list), GetParam().fileLines.value_or(GetParam().lines));
}

INSTANTIATE_TEST_SUITE_P(Texts, TextLines, testing::ValuesIn(kLineCases));

TEST(SystemErrorText, LosesTrailingBlanksControlBytesAndFullStops) {
  EXPECT_EQ(TrimSystemText("Access is denied.\r\n"), "Access is denied");
  EXPECT_EQ(TrimSystemText(" . \t..\x01"), "");
  EXPECT_EQ(TrimSystemText("v1.0 ok\xE3\x80\x82"), "v1.0 ok\xE3\x80\x82");
}

// --- The partition sort ---

using Compare = std::function<int(std::string_view, std::string_view)>;

class ComparedList : public TStringList {
 public:
  explicit ComparedList(Compare compare) : compare_(std::move(compare)) {}
  int Collate(std::string_view a, std::string_view b) const override { return compare_(a, b); }

 private:
  Compare compare_;
};

// The sort step for step as first written: the left part by recursion, the
// right part by going round again. Counts the nesting.
void LeftRecursiveSort(Lines& v, int32_t l, int32_t r, const Compare& compare, int depth,
                       int& deepest) {
  deepest = std::max(deepest, depth);
  int32_t i, j, p;
  do {
    i = l;
    j = r;
    p = (l + r) / 2;
    do {
      while (compare(v[i], v[p]) < 0) ++i;
      while (compare(v[j], v[p]) > 0) --j;
      if (i <= j) {
        if (i != j) std::swap(v[i], v[j]);
        p = p == i ? j : p == j ? i : p;
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) LeftRecursiveSort(v, l, j, compare, depth + 1, deepest);
    l = i;
  } while (i < r);
}

// Orders by the first byte alone: entries sharing it are ties whose places
// show every exchange.
int CompareFirstByte(std::string_view a, std::string_view b) {
  return (a[0] > b[0]) - (a[0] < b[0]);
}

TEST(SortCaseless, PlacesEveryEntryWhereTheLeftRecursiveSortDoes) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 3000; ++round) {
    int32_t size = static_cast<int32_t>(random() % 150);
    unsigned keys = 1 + random() % 6;
    bool runs = random() % 2 == 0;  // ascending runs rather than scattered keys
    Lines entries;
    for (int32_t n = 0; n < size; ++n) {
      unsigned key =
          runs ? static_cast<unsigned>(n) * keys / static_cast<unsigned>(size) : random() % keys;
      entries.push_back(static_cast<char>('a' + key) + std::to_string(n));
    }
    ComparedList list(CompareFirstByte);
    Fill(list, entries);
    list.SortCaseless();
    int deepest = 0;
    if (size >= 2) LeftRecursiveSort(entries, 0, size - 1, CompareFirstByte, 1, deepest);
    ASSERT_EQ(Entries(list), entries) << "round " << round;
  }
}

// McIlroy's adversary decides the order of entries only as the sort asks, so
// that every pivot ends at an end of its range; mirrored, at the upper end,
// which leaves all but one entry to the left part.
struct Adversary {
  std::vector<int32_t> value;
  int32_t gas, solid = 0, candidate = -1;
  bool mirrored;

  int operator()(std::string_view a, std::string_view b) {
    int32_t x = std::stoi(std::string(a)), y = std::stoi(std::string(b));
    if (value[x] == gas && value[y] == gas) value[x == candidate ? x : y] = solid++;
    if (value[x] == gas || value[y] == gas) candidate = value[x] == gas ? x : y;
    int order = (value[x] > value[y]) - (value[x] < value[y]);
    return mirrored ? -order : order;
  }
};

TEST(SortCaseless, NestingStaysShallowOnAdversarialInput) {
  const int32_t size = 2000;
  Lines numbers;
  for (int32_t n = 0; n < size; ++n) numbers.push_back(std::to_string(n));
  for (bool mirrored : {false, true}) {
    Adversary adversary{std::vector<int32_t>(size, size), size, 0, -1, mirrored};
    uintptr_t lowest = UINTPTR_MAX;
    ComparedList list([&](std::string_view a, std::string_view b) {
      char probe = 0;
      lowest = std::min(lowest, reinterpret_cast<uintptr_t>(&probe));
      return adversary(a, b);
    });
    Fill(list, numbers);
    char top = 0;
    list.SortCaseless();
    EXPECT_LT(reinterpret_cast<uintptr_t>(&top) - lowest, 32u * 1024u) << mirrored;
  }
  // The same input nests the left-recursive form about as deep as it is long.
  Adversary adversary{std::vector<int32_t>(size, size), size, 0, -1, true};
  int deepest = 0;
  LeftRecursiveSort(numbers, 0, size - 1, std::ref(adversary), 1, deepest);
  EXPECT_GT(deepest, size / 4);
}

// The list's own comparison, made through Collate for every pair as in a
// class of its own.
class CollatedList : public TStringList {
 public:
  int Collate(std::string_view a, std::string_view b) const override {
    return TStringList::Collate(a, b);
  }
};

// Lists of plain text are sorted with quick comparisons (long ones always,
// short ones where the quick collation was made at build time): every entry
// must land where comparing through Collate puts it, also among entries that
// compare equal (the same path in other letter case) and beside entries that
// the quick comparison leaves to Collate.
TEST(SortCaseless, QuickComparisonsPlaceEveryEntryWhereCollateDoes) {
  const std::string pieces[] = {"i386", "I386", "\\",    "sys",         "SYS",  "Sys", ".", "_",
                                "-",    "0",    "9",     "~",           " ",    "l",   "4", "a",
                                "B",    "z",    "co-op", "caf\xC3\xA9", "\xFF", "\x01"};
  std::mt19937 random(20261207);
  for (int round = 0; round < 4; ++round) {
    Lines entries(round < 2 ? 40000 : 600);
    for (std::string& entry : entries) {
      for (size_t n = 1 + random() % 4; n > 0; --n) {
        const std::string& piece = pieces[random() % std::size(pieces)];
        const bool plain = std::all_of(piece.begin(), piece.end(), [](char c) {
          return static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x80;
        });
        if (plain || round % 2 == 1) entry += piece;  // even rounds all plain text
      }
    }
    TStringList quick;
    CollatedList collated;
    Fill(quick, entries);
    Fill(collated, entries);
    quick.SortCaseless();
    collated.SortCaseless();
    ASSERT_EQ(Entries(quick), Entries(collated)) << "round " << round;
  }
}

}  // namespace
}  // namespace dazi
