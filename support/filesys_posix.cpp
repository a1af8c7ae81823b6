#include <dirent.h>
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "support/filesys.h"
#include "support/filesys_posix.h"
#include "support/locale.h"
#include "support/mask_match.h"
#include "support/text.h"

namespace dazi {

namespace {

// ---------------------------------------------------------------------------
// Paths. Both the slash and the backslash separate components, and a run of
// separators counts as one. A resolved directory is kept as "" for the current
// directory, "/" for the root, otherwise without a trailing slash.

bool IsSeparatorAt(std::string_view text, size_t offset) {
  const char c = text[offset];
  return (c == '/' || c == '\\') && ByteKindAt(text, offset) == ByteKind::Single;
}

struct SplitPath {
  bool absolute = false;
  std::vector<std::string> components;
};

SplitPath SplitComponents(std::string_view path) {
  SplitPath split;
  split.absolute = !path.empty() && IsSeparatorAt(path, 0);
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparatorAt(path, i)) continue;
    if (i > start) split.components.emplace_back(path.substr(start, i - start));
    start = i + 1;
  }
  return split;
}

void AppendComponent(std::string& path, std::string_view name) {
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string path = dir;
  AppendComponent(path, name);
  return path;
}

const char* OpenablePath(const std::string& dir) {
  return dir.empty() ? "." : dir.c_str();
}

bool IsDotName(std::string_view name) {
  return name == "." || name == "..";
}

bool IsDirectoryPath(const std::string& path) {
  struct stat st;
  return stat(OpenablePath(path), &st) == 0 && S_ISDIR(st.st_mode);
}

int LastError() {
  return errno != 0 ? errno : EIO;
}

// ---------------------------------------------------------------------------
// Directory listings, each read at most once unless a kept spelling turns out
// to be missing, and kept up to date with the renames made here. A listing
// is read when a name must be looked up without regard to case; the index by
// upper-case spelling is made on the first such lookup, so that a lookup
// costs the same in a directory of a million entries as in one of ten.

class Listing {
 public:
  bool Holds(std::string_view name) const { return names_.count(std::string(name)) != 0; }

  void Add(const std::string& name) {
    if (!names_.insert(name).second || !indexed_) return;
    byUpper_.emplace(LocaleUpperCase(name), name);
  }

  void Remove(const std::string& name) {
    if (names_.erase(name) == 0 || !indexed_) return;
    auto [first, last] = byUpper_.equal_range(LocaleUpperCase(name));
    for (auto it = first; it != last; ++it) {
      if (it->second == name) {
        byUpper_.erase(it);
        return;
      }
    }
  }

  // The names whose upper-case spelling is upperName, byte-wise ascending.
  std::vector<std::string> Spellings(const std::string& upperName) {
    if (!indexed_) BuildIndex();
    std::vector<std::string> found;
    auto [first, last] = byUpper_.equal_range(upperName);
    for (auto it = first; it != last; ++it) found.push_back(it->second);
    std::sort(found.begin(), found.end());
    return found;
  }

 private:
  void BuildIndex() {
    byUpper_.reserve(names_.size());
    for (const std::string& name : names_) byUpper_.emplace(LocaleUpperCase(name), name);
    indexed_ = true;
  }

  std::unordered_set<std::string> names_;
  std::unordered_multimap<std::string, std::string> byUpper_;
  bool indexed_ = false;
};

struct RawEntry {
  std::string name;
  unsigned char type;
};

// Reads every entry of an open directory stream; false on a read error.
bool ReadEntries(DIR* dir, std::vector<RawEntry>& entries) {
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(dir);
    if (entry == nullptr) return errno == 0;
    entries.push_back({entry->d_name, entry->d_type});
  }
}

class DirectoryCache {
 public:
  // The kept listing of dir, read now if there is none; null when the
  // directory cannot be read. fresh tells whether it was read by this call.
  Listing* Get(const std::string& dir, bool& fresh) {
    auto found = listings_.find(dir);
    fresh = found == listings_.end();
    return fresh ? Read(dir) : &found->second;
  }

  // Reads dir again, replacing what was kept.
  Listing* Read(const std::string& dir) {
    DIR* stream = opendir(OpenablePath(dir));
    if (stream == nullptr) return nullptr;
    std::vector<RawEntry> entries;
    const bool complete = ReadEntries(stream, entries);
    closedir(stream);
    if (!complete) return nullptr;
    ++reads_;
    Listing listing;
    for (const RawEntry& entry : entries) listing.Add(entry.name);
    return &(listings_[dir] = std::move(listing));
  }

  // Follows a rename made here: the entry's name in the listings, and the
  // keys of every kept directory at or below a renamed directory.
  void Renamed(const std::string& oldDir, const std::string& oldName, const std::string& newDir,
               const std::string& newName) {
    if (newDir != oldDir) {
      if (auto found = listings_.find(newDir); found != listings_.end()) {
        found->second.Add(newName);
      }
    }
    // Everything kept at or below oldDir comes first at this key.
    auto below = listings_.lower_bound(oldDir);
    if (below == listings_.end() || below->first.compare(0, oldDir.size(), oldDir) != 0) return;
    if (below->first == oldDir) {
      below->second.Remove(oldName);
      if (newDir == oldDir) below->second.Add(newName);
    }
    MoveKeys(JoinPath(oldDir, oldName), JoinPath(newDir, newName));
  }

  void Clear() {
    listings_.clear();
    reads_ = 0;
  }
  size_t Reads() const { return reads_; }

 private:
  void MoveKeys(const std::string& oldPath, const std::string& newPath) {
    std::vector<std::pair<std::string, Listing>> moved;
    for (auto it = listings_.lower_bound(oldPath); it != listings_.end();) {
      const std::string& key = it->first;
      if (key.compare(0, oldPath.size(), oldPath) != 0) break;
      if (key.size() > oldPath.size() && key[oldPath.size()] != '/') {
        ++it;
        continue;
      }
      moved.emplace_back(newPath + key.substr(oldPath.size()), std::move(it->second));
      it = listings_.erase(it);
    }
    for (auto& [key, listing] : moved) listings_[key] = std::move(listing);
  }

  std::map<std::string, Listing> listings_;
  size_t reads_ = 0;
};

DirectoryCache& Directories() {
  static DirectoryCache cache;
  return cache;
}

// Finds the entry of dir whose name equals name without regard to case; of
// several, the byte-wise smallest that still exists (and, when
// wantDirectory, is a directory). A kept spelling that has gone makes the
// directory be read again, once.
bool FindCaseless(const std::string& dir, std::string_view name, bool wantDirectory,
                  std::string& found) {
  const std::string upperName = LocaleUpperCase(name);
  bool fresh = false;
  Listing* listing = Directories().Get(dir, fresh);
  for (;;) {
    if (listing == nullptr) return false;
    bool missing = false;
    for (const std::string& candidate : listing->Spellings(upperName)) {
      const std::string path = JoinPath(dir, candidate);
      struct stat st;
      const int result = wantDirectory ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
      if (result == 0 && (!wantDirectory || S_ISDIR(st.st_mode))) {
        found = candidate;
        return true;
      }
      if (result != 0 && errno == ENOENT) missing = true;
    }
    if (!missing || fresh) return false;
    listing = Directories().Read(dir);
    fresh = true;
  }
}

// Resolves a directory path: the exact spelling of the whole path first (one
// system call), otherwise component by component, each by its exact spelling
// or else without regard to case. 0 or an error code.
int ResolveDirectory(const SplitPath& split, std::string& resolved) {
  std::string current = split.absolute ? "/" : "";
  std::string exact = current;
  for (const std::string& component : split.components) exact = JoinPath(exact, component);
  if (split.components.empty() || IsDirectoryPath(exact)) {
    resolved = exact;
    return 0;
  }
  for (const std::string& component : split.components) {
    std::string next = JoinPath(current, component);
    if (!IsDirectoryPath(next)) {
      std::string found;
      if (!FindCaseless(current, component, true, found)) return ENOENT;
      next = JoinPath(current, found);
    }
    current = std::move(next);
  }
  resolved = current;
  return 0;
}

// An existing entry: the directory it lies in and its name there.
struct EntryRef {
  SplitPath split;  // the path as given, without its last component
  std::string dir;
  std::string name;
  bool isDirectory = false;
  std::string Path() const { return JoinPath(dir, name); }
};

// Whether the file system of an entry answers to other spellings of its
// name, so that finding a name does not tell how it is spelled on disk.
// Learned once per device, from the first name with letters: both it and its
// spelling with ASCII case swapped are found, but the directory does not list
// both.
std::map<dev_t, bool>& FoldingDevices() {
  static std::map<dev_t, bool> known;
  return known;
}

bool FoldsCase(const std::string& dir, const std::string& name, const struct stat& st) {
  std::map<dev_t, bool>& known = FoldingDevices();
  if (auto found = known.find(st.st_dev); found != known.end()) return found->second;
  std::string swapped = name;
  for (char& c : swapped) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  }
  if (swapped == name) return false;
  struct stat other;
  if (lstat(JoinPath(dir, swapped).c_str(), &other) != 0) return known[st.st_dev] = false;
  const Listing* listing = Directories().Read(dir);
  if (listing == nullptr || (listing->Holds(name) && listing->Holds(swapped))) return false;
  return known[st.st_dev] = true;
}

bool ResolveEntry(std::string_view path, EntryRef& entry) {
  entry.split = SplitComponents(path);
  if (entry.split.components.empty()) return false;
  const std::string name = entry.split.components.back();
  entry.split.components.pop_back();
  if (IsDotName(name) || ResolveDirectory(entry.split, entry.dir) != 0) return false;
  struct stat st;
  if (lstat(JoinPath(entry.dir, name).c_str(), &st) == 0) {
    // Where the file system folds case, the listing tells the real spelling.
    entry.name = name;
    if (FoldsCase(entry.dir, name, st) && !FindCaseless(entry.dir, name, false, entry.name)) {
      return false;
    }
  } else if (errno != ENOENT || !FindCaseless(entry.dir, name, false, entry.name) ||
             lstat(entry.Path().c_str(), &st) != 0) {
    return false;
  }
  entry.isDirectory = S_ISDIR(st.st_mode);
  return true;
}

// ---------------------------------------------------------------------------
// Renames.

// renameat(2) that fails with EEXIST instead of replacing an existing target.
int RenameNoReplaceCall(int fromDir, const char* from, int toDir, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);
#elif defined(SYS_renameat2)
  const unsigned renameNoReplace = 1;  // the C library does not name it yet
  return static_cast<int>(syscall(SYS_renameat2, fromDir, from, toDir, to, renameNoReplace));
#elif defined(__APPLE__)
  return renameatx_np(fromDir, from, toDir, to, RENAME_EXCL);
#else
  errno = ENOSYS;
  return -1;
#endif
}

// Whether a rename with flags failed because the system or the file system
// takes none.
bool TakesNoFlags(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// Renames without ever replacing an entry: 0 or an error code (EEXIST when
// something answers to the target). Where the file system takes no flags,
// the target is looked up first; it may answer to a spelling that differs in
// case only.
int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (RenameNoReplaceCall(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) == 0) return 0;
  const int error = errno;
  if (!TakesNoFlags(error)) return error;
  struct stat st;
  if (lstat(to.c_str(), &st) == 0) return EEXIST;
  if (errno != ENOENT) return LastError();
  return renameat(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str()) == 0 ? 0 : LastError();
}

// Whether the file system holding dir loses a directory's contents when the
// directory is renamed. fusefat does: the moved directory comes out empty and
// its entries' clusters are left orphaned. Looked up once per device in the
// mount table.
bool DirectoryRenamesLoseContents(const std::string& dir) {
  static std::map<dev_t, bool> known;
  struct stat st;
  if (stat(OpenablePath(dir), &st) != 0) return false;
  if (auto found = known.find(st.st_dev); found != known.end()) return found->second;
  const std::string device =
      std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  bool loses = false;
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, mountDevice;
    fields >> id >> parent >> mountDevice;
    const size_t separator = line.find(" - ");
    if (mountDevice != device || separator == std::string::npos) continue;
    std::string type;
    std::istringstream(line.substr(separator + 3)) >> type;
    loses = type == "fuse.fusefat";
    break;
  }
  return known[st.st_dev] = loses;
}

std::string UnusedName(const std::string& dir) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned value = (static_cast<unsigned>(getpid()) * 0x9E37u + counter++) & 0xFFFFFu;
    char name[16];
    std::snprintf(name, sizeof name, "~DZ%05X", value);
    struct stat st;
    if (lstat(JoinPath(dir, name).c_str(), &st) != 0 && errno == ENOENT) return name;
  }
  return std::string();
}

// A case change that the file system took for a rename onto the entry
// itself: two steps through an unused name in the same directory, each
// without replacing; the source gets its name back if the second step fails.
bool RenameThroughUnusedName(const EntryRef& source, const std::string& target) {
  const std::string unused = UnusedName(source.dir);
  if (unused.empty()) return false;
  const std::string parked = JoinPath(source.dir, unused);
  if (RenameWithoutReplacing(source.Path(), parked) != 0) return false;
  if (RenameWithoutReplacing(parked, target) == 0) return true;
  RenameWithoutReplacing(parked, source.Path());
  return false;
}

// Whether the directory, read now, lists the entry under newName.
bool ListsNewSpelling(const EntryRef& source, const std::string& newName) {
  const Listing* listing = Directories().Read(source.dir);
  return listing != nullptr && listing->Holds(newName);
}

bool SameComponentsCaseless(const SplitPath& a, const SplitPath& b) {
  if (a.absolute != b.absolute || a.components.size() != b.components.size()) return false;
  for (size_t i = 0; i < a.components.size(); ++i) {
    if (LocaleUpperCase(a.components[i]) != LocaleUpperCase(b.components[i])) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The directory of the last rename, kept open. The rename run goes through a
// sorted list, so the entries of one directory come one after another: their
// directory part is resolved once, and each entry is then renamed by its name
// alone, relative to the open directory, with one system call. Renames inside
// the directory change no resolution of its own path; any other rename made
// here lets it go. Whatever is unusual (a name that is not found, a failing
// rename, a file system that folds case or takes no flags) goes the long way,
// which resolves the paths afresh.

class KeptDirectory {
 public:
  ~KeptDirectory() { Drop(); }

  // Keeps dir, resolved from given, unless it is kept already. Nothing is
  // held open where it would not serve: the file system could not be
  // unmounted while the run goes on.
  void Keep(const std::string& given, const std::string& dir) {
    if (kept_ && given == given_ && dir == resolved_) return;
    Drop();
    kept_ = true;
    given_ = given;
    resolved_ = dir;
#ifdef O_PATH
    fd_ = open(OpenablePath(dir), O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    fd_ = open(OpenablePath(dir), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
    struct stat st;
    if (fd_ >= 0 && fstat(fd_, &st) == 0) {
      device_ = st.st_dev;
      usable_ = !DirectoryRenamesLoseContents(dir);
    }
    if (!Usable()) Close();
  }

  void Drop() {
    Close();
    kept_ = false;
    given_.clear();
    sourcePrefix_.clear();
    targetPrefix_.clear();
    verified_ = false;
  }

  std::optional<bool> Rename(std::string_view sourcePath, std::string_view targetPath);

 private:
  // Whether the entries may be renamed here: the device is known to keep
  // letter case apart and to move directories whole.
  bool Usable() const {
    if (fd_ < 0 || !usable_) return false;
    const auto found = FoldingDevices().find(device_);
    return found != FoldingDevices().end() && !found->second;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    usable_ = false;
  }
  bool HoldsSource(std::string_view prefix);
  bool BesideSource(std::string_view prefix);
  std::optional<bool> ChangeCase(const std::string& name, const std::string& newName);
  bool Verify(const std::string& name, const std::string& newName);

  std::string given_;         // the directory part as given, separators folded
  std::string sourcePrefix_;  // a source's text before its name, known to give given_
  std::string targetPrefix_;  // a target's, known to differ from it in case only
  std::string name_, newName_;
  std::string resolved_;
  int fd_ = -1;
  dev_t device_ = 0;
  bool kept_ = false;
  bool usable_ = false;
  bool verified_ = false;  // a case change here was seen to take effect
};

KeptDirectory& Kept() {
  static KeptDirectory kept;
  return kept;
}

std::string GivenDirectory(const SplitPath& split) {
  std::string given = split.absolute ? "/" : "";
  for (const std::string& component : split.components) AppendComponent(given, component);
  return given;
}

// Where the last component of a path begins and ends (trailing separators
// left out); begin == end when the path has no component. What comes before
// it tells the directory part.
std::pair<size_t, size_t> LastComponent(std::string_view path) {
  size_t end = path.size();
  while (end > 0 && IsSeparatorAt(path, end - 1)) --end;
  size_t begin = end;
  while (begin > 0 && !IsSeparatorAt(path, begin - 1)) --begin;
  return {begin, end};
}

bool IsAscii(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

char AsciiUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// LocaleUpperCase(a) == LocaleUpperCase(b), which keeps lengths and upper-cases
// ASCII letter by letter; neither is made when both texts are ASCII.
bool SameUpperCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (!IsAscii(a) || !IsAscii(b)) return LocaleUpperCase(a) == LocaleUpperCase(b);
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  }
  return true;
}

// Whether a source's directory part (the text before its last component) is
// the kept directory as given; the text is remembered once it is known to be.
bool KeptDirectory::HoldsSource(std::string_view prefix) {
  if (!sourcePrefix_.empty() && prefix == sourcePrefix_) return true;
  if (GivenDirectory(SplitComponents(prefix)) != given_) return false;
  sourcePrefix_ = prefix;
  return true;
}

// Whether a target's directory part differs from the kept one's in case only,
// so that the target lies beside the source.
bool KeptDirectory::BesideSource(std::string_view prefix) {
  if (!targetPrefix_.empty() && prefix == targetPrefix_) return true;
  const SplitPath split = SplitComponents(prefix);
  if (GivenDirectory(split) != given_ && !SameComponentsCaseless(SplitComponents(given_), split)) {
    return false;
  }
  targetPrefix_ = prefix;
  return true;
}

// The rename of an entry of the kept directory to another spelling beside
// it; nothing when it must go the long way.
std::optional<bool> KeptDirectory::Rename(std::string_view sourcePath,
                                          std::string_view targetPath) {
  if (!Usable()) return std::nullopt;
  const auto [begin, end] = LastComponent(sourcePath);
  const auto [targetBegin, targetEnd] = LastComponent(targetPath);
  if (begin == end || targetBegin == targetEnd || !HoldsSource(sourcePath.substr(0, begin)) ||
      !BesideSource(targetPath.substr(0, targetBegin))) {
    return std::nullopt;
  }
  name_.assign(sourcePath.substr(begin, end - begin));
  newName_.assign(targetPath.substr(targetBegin, targetEnd - targetBegin));
  if (IsDotName(name_) || IsDotName(newName_)) return std::nullopt;
  if (name_ == newName_) {
    struct stat st;
    if (fstatat(fd_, name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    return std::nullopt;
  }
  if (!SameUpperCase(name_, newName_)) return std::nullopt;
  return ChangeCase(name_, newName_);
}

std::optional<bool> KeptDirectory::ChangeCase(const std::string& name, const std::string& newName) {
  if (RenameNoReplaceCall(fd_, name.c_str(), fd_, newName.c_str()) != 0) {
    if (TakesNoFlags(errno)) Close();
    return std::nullopt;
  }
  const bool renamed = verified_ || Verify(name, newName);
  if (renamed) Directories().Renamed(resolved_, name, resolved_, newName);
  return renamed;
}

// After the first case change in the directory: whether the old spelling is
// gone and the new one is there. Once seen, a file system that reports a
// case change as made is taken at its word in this directory.
bool KeptDirectory::Verify(const std::string& name, const std::string& newName) {
  struct stat st;
  if (fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) {
    verified_ = fstatat(fd_, newName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    return verified_;
  }
  // The old spelling still answers: the file system folds case and may have
  // reported success for a rename it did not make.
  EntryRef source;
  source.dir = resolved_;
  source.name = name;
  const std::string to = JoinPath(resolved_, newName);
  return ListsNewSpelling(source, newName) ||
         (RenameThroughUnusedName(source, to) && ListsNewSpelling(source, newName));
}

// ---------------------------------------------------------------------------
// Searches.

int32_t AttributesOf(std::string_view name, const struct stat* st, unsigned char type) {
  int32_t attr = 0;
  if (st != nullptr ? S_ISDIR(st->st_mode) : type == DT_DIR) attr |= kFaDirectory;
  if (name[0] == '.' && !IsDotName(name)) attr |= kFaHidden;
  if (st != nullptr && (st->st_mode & S_IWUSR) == 0) attr |= kFaReadOnly;
  return attr;
}

int32_t DosDateTime(time_t when) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return 0;
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const uint32_t date =
      static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const uint32_t time =
      static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return static_cast<int32_t>((date << 16) | time);
}

MaskCharStep NameCharacters() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0 ? StepUtf8 : StepTextLocale;
}

}  // namespace

// The mask that matches every name, whatever it is.
constexpr std::string_view kEveryName = "*.*";

// The names are all read when the search starts, and the directory is closed
// again: a scan keeps one search open for each level it is down, and open
// directories would run out of descriptors in a deep tree. Entries are looked
// at by their paths.
struct PlatformSearch {
  std::string dir;
  std::vector<RawEntry> entries;
  std::vector<std::string> upper;  // none for the mask that takes every name
  size_t next = 0;
  std::string upperMask;
  MaskCharStep step = StepSingleByte;
};

namespace {

// Delivers the next entry that matches the mask and carries none of the
// skipped bits; ENOENT when there is none left.
int32_t DeliverEntry(TSearchRec& rec) {
  PlatformSearch& search = *rec.Search;
  while (search.next < search.entries.size()) {
    const size_t index = search.next++;
    const RawEntry& entry = search.entries[index];
    if (!search.upper.empty() && !MaskMatches(search.upperMask, search.upper[index], search.step)) {
      continue;
    }
    struct stat st;
    const bool lookUp = !rec.KindsOnly || entry.type == DT_UNKNOWN;
    const bool known = lookUp && lstat(JoinPath(search.dir, entry.name).c_str(), &st) == 0;
    if (lookUp && !known && errno == ENOENT) continue;  // gone since the directory was read
    const int32_t attr = AttributesOf(entry.name, known ? &st : nullptr, entry.type);
    if ((attr & rec.SkipAttr) != 0) continue;
    rec.FoundTime = known ? DosDateTime(st.st_mtime) : 0;
    rec.FoundSize = known ? static_cast<int32_t>(static_cast<uint32_t>(st.st_size)) : 0;
    rec.FoundAttr = attr;
    rec.FoundName = entry.name;
    return 0;
  }
  return ENOENT;
}

}  // namespace

TSearchRec::~TSearchRec() {
  EndFind(*this);
}

int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  EndFind(rec);
  rec.SkipAttr = ~mask & (kFaHidden | kFaSysFile | kFaVolumeId | kFaDirectory);
  size_t cut = pattern.size();
  while (cut > 0 && !IsSeparatorAt(pattern, cut - 1)) --cut;
  const std::string_view dirPart = pattern.substr(0, cut);
  const std::string_view namePart = pattern.substr(cut);
  // Wildcards count only in the last component.
  if (namePart.empty() || dirPart.find_first_of("*?") != std::string_view::npos) return ENOENT;

  std::string dir;
  if (const int error = ResolveDirectory(SplitComponents(dirPart), dir); error != 0) return error;
  auto search = std::make_unique<PlatformSearch>();
  DIR* stream = opendir(OpenablePath(dir));
  if (stream == nullptr) return LastError();
  const bool complete = ReadEntries(stream, search->entries);
  const int readError = complete ? 0 : LastError();
  closedir(stream);
  if (!complete) return readError;
  search->dir = dir;
  search->upperMask = LocaleUpperCase(namePart);
  if (search->upperMask != kEveryName) {
    search->upper.reserve(search->entries.size());
    for (const RawEntry& entry : search->entries) {
      search->upper.push_back(LocaleUpperCase(entry.name));
    }
  }
  search->step = NameCharacters();
  rec.Search = search.release();
  if (const int32_t code = DeliverEntry(rec); code != 0) {
    EndFind(rec);
    return code;
  }
  return 0;
}

int32_t FindNextEntry(TSearchRec& rec) {
  return rec.Search != nullptr ? DeliverEntry(rec) : EBADF;
}

void EndFind(TSearchRec& rec) {
  delete rec.Search;
  rec.Search = nullptr;
}

bool IsSearchOpen(const TSearchRec& rec) {
  return rec.Search != nullptr;
}

// The path exactly as given, as the configuration file is opened with it.
bool IsExistingFile(std::string_view path) {
  const std::string text(path);
  struct stat st;
  return !text.empty() && stat(text.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace {

// The rename the long way: both paths resolved afresh, every case looked at.
bool RenameResolved(const EntryRef& source, std::string_view targetPath) {
  SplitPath targetSplit = SplitComponents(targetPath);
  if (targetSplit.components.empty()) return false;
  const std::string newName = targetSplit.components.back();
  targetSplit.components.pop_back();
  if (IsDotName(newName)) return false;

  // A target whose directory part differs only in case lies beside the
  // source, whatever other spellings of that directory exist.
  std::string targetDir = source.dir;
  if (!SameComponentsCaseless(source.split, targetSplit) &&
      ResolveDirectory(targetSplit, targetDir) != 0) {
    return false;
  }
  const bool sameDir = targetDir == source.dir;
  if (sameDir && source.name == newName) return true;
  if (!sameDir) Kept().Drop();  // a move may change how other paths resolve

  const std::string from = source.Path();
  const std::string to = JoinPath(targetDir, newName);
  const bool caseOnly = sameDir && LocaleUpperCase(source.name) == LocaleUpperCase(newName);
  // Where moving a directory would empty it, only its spelling is checked.
  const bool mayMove = !source.isDirectory || !DirectoryRenamesLoseContents(source.dir);
  const int error = mayMove ? RenameWithoutReplacing(from, to) : EEXIST;
  bool renamed = false;
  if (error == EEXIST && caseOnly) {
    const Listing* listing = Directories().Read(source.dir);
    if (listing == nullptr) return false;
    if (listing->Holds(newName)) {
      // Either another entry carries the new name, or the source was found
      // under a folded spelling and already has it.
      return !listing->Holds(source.name);
    }
    // The file system folds case, so the target is the source itself.
    if (!mayMove) return false;
    renamed = RenameThroughUnusedName(source, to) && ListsNewSpelling(source, newName);
  } else if (error != 0) {
    return false;
  } else if (struct stat st; !caseOnly || (lstat(from.c_str(), &st) != 0 && errno == ENOENT)) {
    renamed = lstat(to.c_str(), &st) == 0;
  } else {
    // The old spelling still answers: the file system folds case and may
    // have reported success for a rename it did not make.
    renamed = ListsNewSpelling(source, newName) ||
              (RenameThroughUnusedName(source, to) && ListsNewSpelling(source, newName));
  }
  if (renamed) Directories().Renamed(source.dir, source.name, targetDir, newName);
  return renamed;
}

}  // namespace

bool RenamePath(std::string_view sourcePath, std::string_view targetPath) {
  if (const std::optional<bool> done = Kept().Rename(sourcePath, targetPath)) return *done;
  EntryRef source;
  if (!ResolveEntry(sourcePath, source)) return false;
  // Renames in the source's directory leave the resolution of its own path
  // as it is, so the directory can serve the entries that follow.
  Kept().Keep(GivenDirectory(source.split), source.dir);
  return RenameResolved(source, targetPath);
}

namespace posix {

size_t DirectoryReads() {
  return Directories().Reads();
}

void ForgetDirectories() {
  Directories().Clear();
  Kept().Drop();
}

}  // namespace posix

}  // namespace dazi
