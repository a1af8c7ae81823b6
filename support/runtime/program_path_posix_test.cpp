#include "support/runtime/program_path_posix.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace dazi {
namespace {

// The files that the cases take for executable.
const std::set<std::string> kExecutables = {"/opt/tools/dazi", "/usr/bin/dazi", "./dazi",
                                            "rel/dazi"};
bool InTable(const std::string& path) {
  return kExecutables.count(path) != 0;
}

struct NameCase {
  const char* name;
  const char* searchPath;
  const char* expected;
};

class ProgramByName : public testing::TestWithParam<NameCase> {};

TEST_P(ProgramByName, IsFoundAsTheShellFoundIt) {
  EXPECT_EQ(ProgramPathByName(GetParam().name, GetParam().searchPath, InTable),
            GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ProgramByName,
    testing::Values(NameCase{"bin/dazi", "/usr/bin", "bin/dazi"},
                    NameCase{"./dazi", "/usr/bin", "./dazi"},
                    NameCase{"dazi", "/nowhere:/opt/tools:/usr/bin", "/opt/tools/dazi"},
                    NameCase{"dazi", "/usr/bin:/opt/tools", "/usr/bin/dazi"},
                    NameCase{"dazi", "/nowhere:rel", "rel/dazi"},
                    NameCase{"dazi", "/nowhere::/usr/bin", "./dazi"},
                    NameCase{"dazi", "/nowhere:", "./dazi"},
                    NameCase{"dazi", "/nowhere:/elsewhere", ""}, NameCase{"dazi", "", "./dazi"},
                    NameCase{"", "/usr/bin", ""}, NameCase{"tools", "/opt", ""}));

}  // namespace
}  // namespace dazi
