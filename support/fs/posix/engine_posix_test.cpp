#include "support/fs/posix/engine_posix.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fs/filesys.h"
#include "tests/unit/model_fs_posix.h"

namespace dazi::posix {
namespace {

using test_support::DeviceSwitches;
using test_support::ModelFs;

struct SwappedAfterSearch {
  const char* name;
  DeviceSwitches device;
};
void PrintTo(const SwappedAfterSearch& row, std::ostream* out) {
  *out << row.name;
}

class SwapAfterSearchTest : public ::testing::TestWithParam<SwappedAfterSearch> {};

// A directory that only a search saw, its type given by the listing or not,
// is swapped for a link out of the tree before its entry is renamed: the
// rename fails and nothing behind the link is touched.
TEST_P(SwapAfterSearchTest, NothingBehindTheLinkIsRenamed) {
  ModelFs model(GetParam().device);
  model.MakeFile("/out/drivers_directory/driver_with_a_long_name.sys", "in the tree");
  model.MakeFile("/outside/drivers_directory/driver_with_a_long_name.sys", "outside");
  Engine engine(model);
  std::vector<std::string> seen;
  TSearchRec rec;
  for (int32_t code = engine.FindFirst("/out/*", kFaAnyFile, rec); code == 0;
       code = engine.FindNext(rec)) {
    seen.push_back(rec.FoundName);
  }
  EXPECT_EQ(seen, (std::vector<std::string>{".", "..", "drivers_directory"}));
  ASSERT_TRUE(model.Remove("/out/drivers_directory"));
  model.MakeLink("/out/drivers_directory", "/outside/drivers_directory");
  EXPECT_FALSE(engine.Rename("/out/drivers_directory/driver_with_a_long_name.sys",
                             "/out/drivers_directory/DRIVER_WITH_A_LONG_NAME.SYS"));
  EXPECT_EQ(model.Names("/outside/drivers_directory"),
            std::vector<std::string>{"driver_with_a_long_name.sys"});
}

INSTANTIATE_TEST_SUITE_P(Listings, SwapAfterSearchTest,
                         ::testing::Values(SwappedAfterSearch{"Typed", DeviceSwitches::Ext4()},
                                           SwappedAfterSearch{
                                               "Untyped",
                                               {.untypedListings = true, .reusesInodes = true}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dazi::posix
