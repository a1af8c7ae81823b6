#include "support/fs/posix/engine_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
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

class MovedAwayTest : public ::testing::TestWithParam<SwappedAfterSearch> {};

// Between two renames in one directory another process moves it out of the
// tree, and makes one in its place with the same names or leaves the place
// empty: the kept handle follows the first one out, and nothing there is
// renamed. On a FUSE device that keeps numbers steady (ntfs-3g) the new
// number tells so, as on ext4.
TEST_P(MovedAwayTest, NothingInTheMovedDirectoryIsRenamed) {
  for (const bool remade : {true, false}) {
    SCOPED_TRACE(remade ? "made anew in its place" : "nothing in its place");
    ModelFs model(GetParam().device);
    model.MakeFile("/out/drivers_directory/first_driver_long_name.sys", "first");
    model.MakeFile("/out/drivers_directory/second_driver_long_name.sys", "second");
    model.MakeDir("/elsewhere");
    Engine engine(model);
    EXPECT_TRUE(engine.Rename("/out/drivers_directory/first_driver_long_name.sys",
                              "/out/drivers_directory/FIRST_DRIVER_LONG_NAME.SYS"));
    ASSERT_EQ(model.Rename(kWorkingDirectory, "/out/drivers_directory", kWorkingDirectory,
                           "/elsewhere/drivers_directory", Replace::Allowed),
              0);
    if (remade) model.MakeFile("/out/drivers_directory/second_driver_long_name.sys", "made anew");
    EXPECT_FALSE(engine.Rename("/out/drivers_directory/second_driver_long_name.sys",
                               "/out/drivers_directory/SECOND_DRIVER_LONG_NAME.SYS"));
    EXPECT_EQ(
        model.Names("/elsewhere/drivers_directory"),
        (std::vector<std::string>{"FIRST_DRIVER_LONG_NAME.SYS", "second_driver_long_name.sys"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Devices, MovedAwayTest,
                         ::testing::Values(SwappedAfterSearch{"Ext4", DeviceSwitches::Ext4()},
                                           SwappedAfterSearch{"Ntfs3g", DeviceSwitches::Ntfs()}),
                         [](const auto& info) { return std::string(info.param.name); });

// On exFAT through FUSE an entry's number depends on the spelling it is
// looked up by: after the run renamed a directory on the way, the entries
// below it, reached by the new spelling, are renamed all the same.
TEST(PosixRename, EntriesBelowARenamedDirectoryAreRenamedWhereNumbersGoBySpelling) {
  ModelFs model(DeviceSwitches::Exfat());
  const std::string below = "/system32/drivers_directory/";
  model.MakeFile("/out/i386" + below + "first_driver_long_name.sys");
  model.MakeFile("/out/i386" + below + "second_driver_long_name.sys");
  Engine engine(model);
  const std::string before = "/out/i386" + below, after = "/out/I386" + below;
  EXPECT_TRUE(
      engine.Rename(before + "first_driver_long_name.sys", before + "FIRST_DRIVER_LONG_NAME.SYS"));
  EXPECT_TRUE(engine.Rename("/out/i386", "/out/I386"));
  EXPECT_TRUE(
      engine.Rename(after + "second_driver_long_name.sys", after + "SECOND_DRIVER_LONG_NAME.SYS"));
  EXPECT_EQ(model.Names(after), (std::vector<std::string>{"FIRST_DRIVER_LONG_NAME.SYS",
                                                          "SECOND_DRIVER_LONG_NAME.SYS"}));
}

// A walk deeper than the handles the walker keeps open closes the upper
// ones; a later walk that branches off above reopens them and renames there.
TEST(PosixRename, AWalkBranchingOffAboveADeepOneReopensItsDirectories) {
  ModelFs model;
  std::string deep = "/out/top_directory";
  for (int level = 0; level < 40; ++level) deep += "/level_directory_" + std::to_string(level);
  model.MakeFile(deep + "/deep_driver_long_name.sys");
  model.MakeFile("/out/top_directory/beside_directory/beside_driver_long_name.sys");
  Engine engine(model);
  EXPECT_TRUE(
      engine.Rename(deep + "/deep_driver_long_name.sys", deep + "/DEEP_DRIVER_LONG_NAME.SYS"));
  const std::string beside = "/out/top_directory/beside_directory/";
  EXPECT_TRUE(engine.Rename(beside + "beside_driver_long_name.sys",
                            beside + "BESIDE_DRIVER_LONG_NAME.SYS"));
  EXPECT_EQ(model.Names(beside), std::vector<std::string>{"BESIDE_DRIVER_LONG_NAME.SYS"});
}

// A directory the run walked into, renamed onto a spelling under which the
// run saw another directory, removed since: the renamed one is what that
// spelling leads to now, and the entries below it are renamed.
TEST(PosixRename, ADirectoryRenamedOntoAGoneOnesSpellingIsWalkedInto) {
  ModelFs model;
  model.MakeFile("/out/d/I386/gone_with_a_long_name.sif", "gone");
  model.MakeFile("/out/d/i386/entry_with_a_long_name.sif", "entry");
  Engine engine(model);
  for (const std::string dir : {"/out/d/I386/", "/out/d/i386/"}) {
    EXPECT_FALSE(engine.Rename(dir + "missing_long_name.sif", dir + "MISSING_LONG_NAME.SIF"));
  }
  ASSERT_TRUE(model.Remove("/out/d/I386/gone_with_a_long_name.sif"));
  ASSERT_TRUE(model.Remove("/out/d/I386"));
  ASSERT_TRUE(engine.Rename("/out/d/i386", "/out/d/I386"));
  EXPECT_TRUE(engine.Rename("/out/d/I386/entry_with_a_long_name.sif",
                            "/out/d/I386/ENTRY_WITH_A_LONG_NAME.SIF"));
  EXPECT_EQ(model.Names("/out/d/I386"), std::vector<std::string>{"ENTRY_WITH_A_LONG_NAME.SIF"});
}

// Two spellings of a name made after the directory's listing was read:
// whichever call of the rename fails (the directory's second read
// included), neither spelling is renamed.
TEST(PosixRename, NoFailedCallRenamesOneOfTwoSpellingsMadeSinceTheListing) {
  const std::string dir = "/out/drivers_directory/";
  for (uint64_t failing = 1; failing <= 16; ++failing) {
    SCOPED_TRACE("failing call " + std::to_string(failing));
    ModelFs model;
    model.MakeFile(dir + "Other_with_a_long_name.sif");
    Engine engine(model);
    ASSERT_TRUE(
        engine.Rename(dir + "other_with_a_long_name.sif", dir + "OTHER_WITH_A_LONG_NAME.SIF"));
    model.AdvanceClock(1);
    model.MakeFile(dir + "entry_with_a_long_name.sif");
    model.MakeFile(dir + "Entry_with_a_long_name.sif");
    model.FailCall(model.Calls() + failing, EIO);
    EXPECT_FALSE(
        engine.Rename(dir + "entry_with_a_long_name.sif", dir + "ENTRY_WITH_A_LONG_NAME.SIF"));
    EXPECT_EQ(model.Names(dir),
              (std::vector<std::string>{"Entry_with_a_long_name.sif", "OTHER_WITH_A_LONG_NAME.SIF",
                                        "entry_with_a_long_name.sif"}));
  }
}

// On exFAT, whose numbers tell nothing, another process moves a directory
// above the kept one out of the tree and puts a link to a copy of it in its
// place: the path leads elsewhere, and nothing is renamed at either end.
TEST(PosixRename, ADirectoryAboveSwappedForALinkOnExfatStopsTheRenames) {
  const std::string names[] = {"first_driver_long_name.sys", "second_driver_long_name.sys"};
  ModelFs model(DeviceSwitches::Exfat());
  for (const std::string& name : names) model.MakeFile("/out/d/sub/" + name, "in the tree");
  model.MakeFile("/outside/d/sub/" + names[1], "outside");
  model.MakeDir("/elsewhere");
  Engine engine(model);
  EXPECT_TRUE(engine.Rename("/out/d/sub/" + names[0], "/out/d/sub/FIRST_DRIVER_LONG_NAME.SYS"));
  ASSERT_EQ(model.Rename(kWorkingDirectory, "/out/d", kWorkingDirectory, "/elsewhere/d",
                         Replace::Allowed),
            0);
  model.MakeLink("/out/d", "/outside/d");
  EXPECT_FALSE(engine.Rename("/out/d/sub/" + names[1], "/out/d/sub/SECOND_DRIVER_LONG_NAME.SYS"));
  EXPECT_EQ(model.Names("/elsewhere/d/sub"),
            (std::vector<std::string>{"FIRST_DRIVER_LONG_NAME.SYS", names[1]}));
  EXPECT_EQ(model.Names("/outside/d/sub"), std::vector<std::string>{names[1]});
}

// An upper-case twin made by another process after the listing was read:
// the rename onto it is refused, the listing read then shows two spellings,
// and the line fails with both kept.
TEST(PosixRename, AnUpperCaseTwinMadeSinceTheListingFailsTheLine) {
  const std::string dir = "/out/drivers_directory/";
  ModelFs model;
  model.MakeFile(dir + "Other_with_a_long_name.sif");
  model.MakeFile(dir + "entry_with_a_long_name.sif", "entry");
  Engine engine(model);
  ASSERT_TRUE(
      engine.Rename(dir + "other_with_a_long_name.sif", dir + "OTHER_WITH_A_LONG_NAME.SIF"));
  model.AdvanceClock(1);
  model.MakeFile(dir + "ENTRY_WITH_A_LONG_NAME.SIF", "twin");
  EXPECT_FALSE(
      engine.Rename(dir + "entry_with_a_long_name.sif", dir + "ENTRY_WITH_A_LONG_NAME.SIF"));
  EXPECT_EQ(model.Names(dir),
            (std::vector<std::string>{"ENTRY_WITH_A_LONG_NAME.SIF", "OTHER_WITH_A_LONG_NAME.SIF",
                                      "entry_with_a_long_name.sif"}));
}

}  // namespace
}  // namespace dazi::posix
