#pragma once
// The calls through which the rename engine reaches the file system: a
// narrow interface, so that the engine runs as well over a model file system
// in memory (tests) as over the kernel (the program). Every call returns 0 or
// an errno code; results come back through the references given.

#include <sys/types.h>

#include <cerrno>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dazi::posix {

// An entry's identity: its device and inode.
using DirId = std::pair<dev_t, ino_t>;

// The handle that names the working directory, as a directory handle for
// OpenDirectory and Stat: a path given with it is resolved from there (or
// from the root where it begins with a slash), links on the way followed.
inline constexpr int kWorkingDirectory = -100;

enum class EntryKind { Directory, Link, Other };

struct EntryStatus {
  DirId id{};
  EntryKind kind = EntryKind::Other;
  bool ownerWritable = true;
  int64_t modified = 0;  // seconds since the epoch
  uint64_t size = 0;
  std::pair<int64_t, long> changed{};  // the last change, to tell a directory changed since
  // A directory's last change of its entries (its modification time): a
  // rename of the directory itself leaves it.
  std::pair<int64_t, long> entriesChanged{};
};

struct RawEntry {
  std::string name;
  unsigned char type;  // DT_DIR, DT_LNK, ...; DT_UNKNOWN where the system does not tell
};

enum class FollowLink { No, Yes };
enum class Replace { Allowed, Never };

class System {
 public:
  virtual ~System() = default;

  // A handle of the directory that name names in dir (-1 on failure); with
  // FollowLink::No a link there fails with ELOOP (or ENOTDIR), anything but
  // a directory with ENOTDIR.
  virtual int OpenDirectory(int dir, const std::string& name, FollowLink follow, int& handle) = 0;
  // The entry that name names in dir, a link itself rather than its target.
  virtual int Stat(int dir, const std::string& name, EntryStatus& status) = 0;
  // The directory a handle refers to.
  virtual int StatHandle(int handle, EntryStatus& status) = 0;
  // Every entry of the directory a handle refers to, "." and ".." included.
  virtual int ReadEntries(int handle, std::vector<RawEntry>& entries) = 0;
  // Renames from in fromDir to to in toDir. With Replace::Never an existing
  // target fails the call with EEXIST; a file system that takes no such flag
  // fails it with EINVAL (or ENOSYS, ENOTSUP, EOPNOTSUPP) instead.
  virtual int Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
                     Replace replace) = 0;
  // A second handle of the same directory, closed on its own.
  virtual int Duplicate(int handle, int& copy) = 0;
  virtual void Close(int handle) = 0;
  // The file-system type that the mount table gives the device ("ext4",
  // "fuse.fusefat", "fuseblk", ...), empty where the device is not listed;
  // an error where the mount table cannot be read.
  virtual int MountType(dev_t device, std::string& type) = 0;
  // Whether the directory a handle refers to is on a FUSE file system, as
  // the file system itself says (the mount table not needed).
  virtual int IsFuse(int handle, bool& fuse) {
    (void)handle;
    (void)fuse;
    return ENOSYS;
  }
};

// The kernel's calls, one system call each.
class KernelSystem final : public System {
 public:
  int OpenDirectory(int dir, const std::string& name, FollowLink follow, int& handle) override;
  int Stat(int dir, const std::string& name, EntryStatus& status) override;
  int StatHandle(int handle, EntryStatus& status) override;
  int ReadEntries(int handle, std::vector<RawEntry>& entries) override;
  int Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
             Replace replace) override;
  int Duplicate(int handle, int& copy) override;
  void Close(int handle) override;
  int MountType(dev_t device, std::string& type) override;
  int IsFuse(int handle, bool& fuse) override;
};

}  // namespace dazi::posix
