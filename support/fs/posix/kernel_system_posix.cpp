// The engine's calls made on the kernel, one system call each (reading a
// directory takes a readable handle of it first).

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

namespace {

static_assert(kWorkingDirectory == AT_FDCWD);

// The f_type that statfs gives every FUSE file system.
constexpr long kFuseMagic = 0x65735546;

constexpr int kDirFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

int LastError() {
  return errno != 0 ? errno : EIO;
}

int Result(int returned) {
  return returned == 0 ? 0 : LastError();
}

EntryKind KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::Directory;
  return S_ISLNK(mode) ? EntryKind::Link : EntryKind::Other;
}

EntryStatus StatusOf(const struct stat& st) {
  EntryStatus status;
  status.id = {st.st_dev, st.st_ino};
  status.kind = KindOf(st.st_mode);
  status.ownerWritable = (st.st_mode & S_IWUSR) != 0;
  status.modified = st.st_mtime;
  status.size = static_cast<uint64_t>(st.st_size);
  status.changed = {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
  status.entriesChanged = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
  return status;
}

// renameat(2) that fails with EEXIST instead of replacing an existing target.
int RenameatNoReplace(int fromDir, const char* from, int toDir, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);
#else
  const unsigned noReplace = 1;  // the C library does not name it yet
  return static_cast<int>(syscall(SYS_renameat2, fromDir, from, toDir, to, noReplace));
#endif
}

}  // namespace

int KernelSystem::OpenDirectory(int dir, const std::string& name, FollowLink follow, int& handle) {
  const int flags = kDirFlags | (follow == FollowLink::No ? O_NOFOLLOW : 0);
  handle = openat(dir, name.c_str(), flags);
  return handle >= 0 ? 0 : LastError();
}

int KernelSystem::Stat(int dir, const std::string& name, EntryStatus& status) {
  struct stat st;
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastError();
  status = StatusOf(st);
  return 0;
}

int KernelSystem::StatHandle(int handle, EntryStatus& status) {
  struct stat st;
  if (fstat(handle, &st) != 0) return LastError();
  status = StatusOf(st);
  return 0;
}

int KernelSystem::ReadEntries(int handle, std::vector<RawEntry>& entries) {
  const int readable = openat(handle, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) return LastError();
  DIR* stream = fdopendir(readable);
  if (stream == nullptr) {
    const int error = LastError();
    close(readable);
    return error;
  }
  int error = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(stream);
    if (entry == nullptr) {
      error = errno;
      break;
    }
    entries.push_back({entry->d_name, entry->d_type});
  }
  closedir(stream);
  return error;
}

int KernelSystem::Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
                         Replace replace) {
  if (replace == Replace::Never)
    return Result(RenameatNoReplace(fromDir, from.c_str(), toDir, to.c_str()));
  return Result(renameat(fromDir, from.c_str(), toDir, to.c_str()));
}

int KernelSystem::Duplicate(int handle, int& copy) {
  copy = fcntl(handle, F_DUPFD_CLOEXEC, 0);
  return copy >= 0 ? 0 : LastError();
}

void KernelSystem::Close(int handle) {
  close(handle);
}

int KernelSystem::MountType(dev_t device, std::string& type) {
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::ifstream mounts("/proc/self/mountinfo");
  if (!mounts) return errno != 0 ? errno : EIO;
  type.clear();
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, mountDevice;
    fields >> id >> parent >> mountDevice;
    const size_t separator = line.find(" - ");
    if (mountDevice != wanted || separator == std::string::npos) continue;
    std::istringstream(line.substr(separator + 3)) >> type;
    return 0;
  }
  return mounts.bad() ? EIO : 0;
}

int KernelSystem::IsFuse(int handle, bool& fuse) {
  struct statfs info;
  if (fstatfs(handle, &info) != 0) return LastError();
  fuse = static_cast<long>(info.f_type) == kFuseMagic;
  return 0;
}

}  // namespace dazi::posix
