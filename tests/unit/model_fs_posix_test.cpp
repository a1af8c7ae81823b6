#include "tests/unit/model_fs_posix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace dazi::test_support
