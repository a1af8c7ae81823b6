#include "config/entry_splitter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dazi {
namespace {

struct SplitCase {
  const char* line;
  std::vector<std::string> fields;
};

class SplitEntryTest : public testing::TestWithParam<SplitCase> {};

TEST_P(SplitEntryTest, GivesFields) {
  TStringList fields;
  fields.Append("left over from the previous line");
  SplitEntry(fields, GetParam().line);
  std::vector<std::string> got;
  for (int32_t i = 0; i < fields.Count(); ++i) got.push_back(fields.ItemAt(i));
  EXPECT_EQ(got, GetParam().fields);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitEntryTest,
    testing::Values(SplitCase{"PROGRAMS\\A43", {"PROGRAMS\\A43"}},
                    SplitCase{"  a ,\t b  ", {"a", "b"}}, SplitCase{"a,", {"a", ""}},
                    SplitCase{"a,,b", {"a", "", "b"}}, SplitCase{"a ; remark, with comma", {"a"}},
                    SplitCase{"a,1;x,y", {"a", "1"}}, SplitCase{"\"x,y\",1", {"\"x,y\"", "1"}},
                    SplitCase{"\"x;y\";z", {"\"x;y\""}}, SplitCase{"a\"b,c", {"a\"b,c"}},
                    SplitCase{"\"open, never; closed", {"\"open, never; closed"}},
                    SplitCase{"", {""}}, SplitCase{" \t\r ", {""}}, SplitCase{";", {""}},
                    SplitCase{",", {"", ""}},
                    SplitCase{"\x01name\x1f,\x02"
                              "1",
                              {"name", "1"}}));

}  // namespace
}  // namespace dazi
