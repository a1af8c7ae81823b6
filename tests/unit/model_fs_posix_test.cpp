#include "tests/unit/model_fs_posix.h"

#include <dirent.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "tests/unit/fs_probe_posix.h"

namespace dazi::test_support {
namespace {

using posix::EntryStatus;
using posix::kWorkingDirectory;
using posix::Replace;

struct DeviceCase {
  const char* name;
  DeviceSwitches device;
  const char* mountType;
  int statOtherCase;                 // Stat of "ABC" where "abc" is
  bool oneNumber;                    // "abc" and "ABC" give one inode number
  int neverOntoNew;                  // "def" renamed to the free "DEF", never replacing
  int directory;                     // "sub" renamed to "SUB"
  std::vector<std::string> listing;  // as ReadEntries gives the names afterwards
  std::vector<std::string> tree;     // as stored: path, and "=" and the contents of files
};

// What each device does with the same calls: a look at another spelling, a
// rename that never replaces, a case change of a file and of a directory.
const DeviceCase kDevices[] = {
    {"ext4",
     DeviceSwitches::Ext4(),
     "ext4",
     ENOENT,
     false,
     0,
     0,
     {"ABC", "DEF", "SUB"},
     {"/t/ABC=data", "/t/DEF=def", "/t/SUB", "/t/SUB/f=f"}},
    {"exfat",
     DeviceSwitches::Exfat(),
     "fuseblk",
     0,
     false,
     EEXIST,
     0,
     {"ABC", "SUB", "def"},
     {"/t/ABC=data", "/t/SUB", "/t/SUB/f=f", "/t/def=def"}},
    {"ntfs",
     DeviceSwitches::Ntfs(),
     "fuseblk",
     ENOENT,
     false,
     EINVAL,
     0,
     {"ABC", "SUB", "def"},
     {"/t/ABC=data", "/t/SUB", "/t/SUB/f=f", "/t/def=def"}},
    {"ntfs_ignore_case",
     DeviceSwitches::NtfsIgnoreCase(),
     "fuseblk",
     0,
     true,
     EEXIST,
     0,
     {"abc", "def", "sub"},
     {"/t/abc=data", "/t/def=def", "/t/sub", "/t/sub/f=f"}},
    {"fat",
     DeviceSwitches::Fat(),
     "fuse.fusefat",
     0,
     false,
     EEXIST,
     0,
     {"ABC", "SUB", "def"},
     {"/t/ABC=", "/t/SUB", "/t/def=def"}},
    {"overlay",
     DeviceSwitches::Overlay(),
     "overlay",
     ENOENT,
     false,
     0,
     EXDEV,
     {"ABC", "DEF", "sub"},
     {"/t/ABC=data", "/t/DEF=def", "/t/sub", "/t/sub/f=f"}},
};

TEST(ModelFs, EachDeviceAsMeasured) {
  for (const DeviceCase& c : kDevices) {
    SCOPED_TRACE(c.name);
    ModelFs fs(c.device);
    fs.MakeFile("/t/abc", "data");
    fs.MakeFile("/t/def", "def");
    fs.MakeFile("/t/sub/f", "f");
    int t = -1;
    ASSERT_EQ(fs.OpenDirectory(kWorkingDirectory, "/t", posix::FollowLink::No, t), 0);
    EntryStatus lower, upper;
    EXPECT_EQ(fs.Stat(t, "ABC", upper), c.statOtherCase);
    EXPECT_EQ(
        fs.Stat(t, "abc", lower) == 0 && fs.Stat(t, "ABC", upper) == 0 && lower.id == upper.id,
        c.oneNumber);
    EXPECT_EQ(fs.Rename(t, "def", t, "DEF", Replace::Never), c.neverOntoNew);
    EXPECT_EQ(fs.Rename(t, "abc", t, "ABC", Replace::Allowed), 0);
    EXPECT_EQ(fs.Rename(t, "sub", t, "SUB", Replace::Allowed), c.directory);

    std::vector<posix::RawEntry> entries;
    ASSERT_EQ(fs.ReadEntries(t, entries), 0);
    std::vector<std::string> listing;
    for (const auto& entry : entries) listing.push_back(entry.name);
    std::sort(listing.begin(), listing.end());
    listing.erase(listing.begin(), listing.begin() + 2);  // "." and ".."
    EXPECT_EQ(listing, c.listing);
    std::vector<std::string> tree;
    for (const auto& entry : fs.Snapshot("/t")) {
      tree.push_back(entry.kind == NodeKind::File ? entry.path + "=" + entry.contents : entry.path);
    }
    EXPECT_EQ(tree, c.tree);
    std::string type;
    EXPECT_EQ(fs.MountType(ModelFs::kDevice, type), 0);
    EXPECT_EQ(type, c.mountType);
    fs.Close(t);
    EXPECT_EQ(fs.OpenHandles(), 0u);
    EXPECT_EQ(fs.Misuses(), 0u);
  }
}

// The probe's answers on each device, as measured on its real mount
// (tests/blackbox/test_model_presets.py holds the model against the mounts
// where they can be made): ext4's, and where each other device differs.
ProbeAnswers Measured(const std::vector<std::pair<std::string, std::string>>& differences) {
  ProbeAnswers answers = {
      {"inode_other_spelling", "no answer"},
      {"inode_after_forget", "same"},
      {"inode_reused", "yes"},
      {"noreplace_onto_missing", "done"},
      {"noreplace_onto_taken", "EEXIST"},
      {"noreplace_onto_own_spelling", "done"},
      {"listing_case", "as made"},
      {"listing_case_non_ascii", "as made"},
      {"d_type", "given"},
      {"ctime_nanoseconds", "some"},
      {"mtime_nanoseconds", "some"},
      {"twin_written", "2 entries"},
      {"fold_ascii", "no"},
  };
  for (const char* pair : {"é/É", "ÿ/Ÿ", "ā/Ā", "ı/I", "ſ/S", "µ/Μ", "ω/Ω", "ς/Σ", "ж/Ж", "ѐ/Ѐ",
                           "ǆ/ǅ", "ḁ/Ḁ", "ａ/Ａ", "ß/ẞ", "ͱ/Ͱ", "ȿ/Ȿ", "k/\u212a"}) {
    answers.emplace_back(std::string("fold ") + pair, "no");
  }
  // A difference "fold *" stands for every non-ASCII letter.
  for (const auto& [question, answer] : differences) {
    for (auto& [asked, given] : answers) {
      const bool anyLetter =
          question == "fold *" && asked.starts_with("fold ") && asked != "fold k/\u212a";
      if (asked == question || anyLetter) given = answer;
    }
  }
  return answers;
}

const std::vector<std::string> kUpCaseFolds = {"fold é/É", "fold ÿ/Ÿ", "fold ā/Ā", "fold ω/Ω",
                                               "fold ж/Ж", "fold ѐ/Ѐ", "fold ḁ/Ḁ", "fold ａ/Ａ"};

std::vector<std::pair<std::string, std::string>> With(
    std::vector<std::pair<std::string, std::string>> differences,
    const std::vector<std::string>& folding) {
  for (const std::string& question : folding) differences.emplace_back(question, "yes");
  return differences;
}

TEST(ModelFs, PresetsAnswerTheProbeAsTheirDevicesDid) {
  const std::vector<std::pair<std::string, std::string>> kFuseNoReplace = {
      {"inode_reused", "no"}, {"noreplace_onto_missing", "EINVAL"}};
  auto folding = kFuseNoReplace;
  folding.insert(folding.end(), {{"noreplace_onto_own_spelling", "EEXIST"},
                                 {"twin_written", "into the first"},
                                 {"fold_ascii", "yes"}});
  auto unsteady = folding;
  unsteady.insert(unsteady.end(), {{"inode_other_spelling", "differs"},
                                   {"inode_after_forget", "differs"},
                                   {"ctime_nanoseconds", "none"},
                                   {"mtime_nanoseconds", "none"}});
  auto exfat = With(unsteady, kUpCaseFolds), ntfsIgnoreCase = With(folding, kUpCaseFolds);
  exfat.emplace_back("fold ς/Σ", "yes");
  ntfsIgnoreCase.insert(ntfsIgnoreCase.end(), {{"inode_other_spelling", "same"},
                                               {"listing_case", "as \"mixed.txt\""},
                                               {"listing_case_non_ascii", "as \"ÿé-ж.txt\""},
                                               {"fold ͱ/Ͱ", "yes"}});
  auto ntfs = kFuseNoReplace, fat = unsteady;
  ntfs.emplace_back("noreplace_onto_own_spelling", "EINVAL");
  fat.insert(fat.end(), {{"fold *", "unmade"}, {"listing_case_non_ascii", "unmade"}});
  const std::pair<const char*, DeviceSwitches> kPresets[] = {
      {"ext4", DeviceSwitches::Ext4()}, {"exfat", DeviceSwitches::Exfat()},
      {"ntfs", DeviceSwitches::Ntfs()}, {"ntfs_ignore_case", DeviceSwitches::NtfsIgnoreCase()},
      {"fat", DeviceSwitches::Fat()},
  };
  const std::vector<std::pair<std::string, std::string>>* kDifferences[] = {nullptr, &exfat, &ntfs,
                                                                            &ntfsIgnoreCase, &fat};
  for (size_t i = 0; i < std::size(kPresets); ++i) {
    SCOPED_TRACE(kPresets[i].first);
    ModelFs fs(kPresets[i].second);
    fs.MakeDir("/probe");
    EXPECT_EQ(Probe(fs, "/probe"), Measured(kDifferences[i] ? *kDifferences[i] : ProbeAnswers{}));
    EXPECT_EQ(fs.OpenHandles(), 0u);
  }
}

std::vector<ModelFs::Entry> Files(const ModelFs& fs, const std::string& dir) {
  std::vector<ModelFs::Entry> files = fs.Snapshot(dir);
  std::erase_if(files, [](const ModelFs::Entry& e) { return e.kind != NodeKind::File; });
  for (auto& file : files) file.serial = 0;
  return files;
}

// Another process between two calls: a rename that took effect and then
// failed, a directory moved out of the tree under a kept handle, a twin
// written into a folding directory and beside an entry in one that keeps
// case apart.
TEST(ModelFs, ChangesAndFaultsAtAnyCall) {
  ModelFs fs(DeviceSwitches::Ext4());
  fs.MakeFile("/out/d/b", "b");
  fs.MakeFile("/out/late", "late");
  fs.MakeFile("/out/f/abc.txt", "first");
  fs.MakeFile("/out/n/abc.txt", "first");
  fs.SetFolding("/out/f", true);
  int d = -1;
  ASSERT_EQ(fs.OpenDirectory(kWorkingDirectory, "/out/d", posix::FollowLink::No, d), 0);
  fs.FailAfterEffect(2, EIO);
  EXPECT_EQ(
      fs.Rename(kWorkingDirectory, "/out/late", kWorkingDirectory, "/out/LATE", Replace::Never),
      EIO);
  fs.FailAfterEffect(3, EIO);
  EntryStatus status;
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/out/LATE", status), EIO);
  fs.ChangeBefore({.beforeCall = 4, .kind = ChangeKind::MoveOut, .under = "/out/d"});
  EXPECT_EQ(fs.Rename(d, "b", d, "B", Replace::Never), 0);  // the kept handle follows
  fs.ChangeBefore({.beforeCall = 5, .kind = ChangeKind::AddTwin, .under = "/out/f"});
  fs.ChangeBefore({.beforeCall = 5, .kind = ChangeKind::AddTwin, .under = "/out/n"});
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/out", status), 0);
  fs.Close(d);

  const std::vector<ModelFs::Entry> files = {
      {"/elsewhere/d/B", 0, NodeKind::File, "b"},    {"/out/LATE", 0, NodeKind::File, "late"},
      {"/out/d/b", 0, NodeKind::File, "anew"},       {"/out/f/abc.txt", 0, NodeKind::File, "twin"},
      {"/out/n/ABC.TXT", 0, NodeKind::File, "twin"}, {"/out/n/abc.txt", 0, NodeKind::File, "first"},
  };
  std::vector<ModelFs::Entry> found = Files(fs, "/elsewhere");
  for (const auto& entry : Files(fs, "/out")) found.push_back(entry);
  EXPECT_EQ(found, files);
  ASSERT_EQ(fs.ChangesMade().size(), 3u);
  const ChangeMade& moved = fs.ChangesMade()[0];
  EXPECT_EQ(moved.entry, fs.SerialOf("/elsewhere/d"));
  EXPECT_EQ(moved.added, fs.SerialOf("/out/d"));
  EXPECT_EQ(moved.takenOut,
            (std::vector<uint64_t>{fs.SerialOf("/elsewhere/d"), fs.SerialOf("/elsewhere/d/B")}));
  EXPECT_EQ(fs.ChangesMade()[1].added, 0u);  // written into the entry itself
  EXPECT_EQ(fs.ChangesMade()[2].added, fs.SerialOf("/out/n/ABC.TXT"));
}

// Switches turned at a call, one directory folding on a device that does
// not, change times within a second and past it, numbers freed only once
// no handle holds the entry, listings without types.
TEST(ModelFs, SwitchesPerDirectoryAndAtAnyCall) {
  ModelFs fs(DeviceSwitches::Ext4());
  fs.MakeFile("/f/abc");
  fs.MakeFile("/n/abc");
  fs.SetFolding("/f", true);
  fs.MakeFile("/f/sub/x");  // made in a folding directory: folds too
  fs.Before(4, [](ModelFs& model) {
    DeviceSwitches device = model.Device();
    device.foldsCase = device.untypedListings = device.wholeSecondTimes = true;
    model.SetDevice(device);
  });
  EntryStatus status, before, after;
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/f/ABC", status), 0);
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/f/SUB/X", status), 0);
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/n/ABC", status), ENOENT);
  EXPECT_EQ(fs.Stat(kWorkingDirectory, "/n/ABC", status), 0);  // the device folds from call 4
  int n = -1;
  ASSERT_EQ(fs.OpenDirectory(kWorkingDirectory, "/n", posix::FollowLink::No, n), 0);
  std::vector<posix::RawEntry> entries;
  ASSERT_EQ(fs.ReadEntries(n, entries), 0);
  for (const auto& entry : entries) EXPECT_EQ(entry.type, DT_UNKNOWN) << entry.name;
  ASSERT_EQ(fs.StatHandle(n, before), 0);
  ASSERT_EQ(fs.Rename(n, "abc", n, "ABC", Replace::Allowed), 0);
  ASSERT_EQ(fs.StatHandle(n, after), 0);
  EXPECT_EQ(before.changed, after.changed);  // within one second
  EXPECT_EQ(after.changed.second, 0);
  fs.AdvanceClock(1'000'000'000);
  ASSERT_EQ(fs.Rename(n, "ABC", n, "abc", Replace::Allowed), 0);
  ASSERT_EQ(fs.StatHandle(n, after), 0);
  EXPECT_NE(before.changed, after.changed);

  // Ext4 reuses inode numbers: a removed file's goes to the next node made;
  // a directory's only once the handle that holds it is closed.
  EntryStatus file, made;
  ASSERT_EQ(fs.Stat(n, "abc", file), 0);
  ASSERT_TRUE(fs.Remove("/n"));
  ASSERT_NE(fs.MakeFile("/m/new"), 0u);
  ASSERT_EQ(fs.Stat(kWorkingDirectory, "/m", made), 0);
  EXPECT_EQ(made.id, file.id);
  ASSERT_EQ(fs.Stat(kWorkingDirectory, "/m/new", made), 0);
  EXPECT_NE(made.id, after.id);
  fs.Close(n);
  ASSERT_NE(fs.MakeFile("/m/later"), 0u);
  ASSERT_EQ(fs.Stat(kWorkingDirectory, "/m/later", made), 0);
  EXPECT_EQ(made.id, after.id);
}

}  // namespace
}  // namespace dazi::test_support
