#include "support/fs/posix/dir_listing_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "support/text/locale.h"

namespace dazi::posix {

namespace {

std::pair<time_t, long> ChangeTime(const struct stat& st) {
  return {st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

}  // namespace

bool ReadEntries(int fd, std::vector<RawEntry>& entries) {
  const int readable = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) return false;
  DIR* stream = fdopendir(readable);
  if (stream == nullptr) {
    close(readable);
    return false;
  }
  bool complete = true;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(stream);
    if (entry == nullptr) {
      complete = errno == 0;
      break;
    }
    entries.push_back({entry->d_name, entry->d_type});
  }
  const int error = errno;
  closedir(stream);
  errno = error;
  return complete;
}

void Listing::Add(const std::string& name) {
  if (!names_.insert(name).second || !indexed_) return;
  byUpper_.emplace(LocaleUpperCase(name), name);
}

void Listing::Remove(const std::string& name) {
  if (names_.erase(name) == 0 || !indexed_) return;
  auto [first, last] = byUpper_.equal_range(LocaleUpperCase(name));
  for (auto it = first; it != last; ++it) {
    if (it->second == name) {
      byUpper_.erase(it);
      return;
    }
  }
}

std::vector<std::string> Listing::Spellings(const std::string& upperName) {
  if (!indexed_) BuildIndex();
  std::vector<std::string> found;
  auto [first, last] = byUpper_.equal_range(upperName);
  for (auto it = first; it != last; ++it) found.push_back(it->second);
  std::sort(found.begin(), found.end());
  return found;
}

// Made on the first lookup, so that a lookup costs the same in a directory of
// a million entries as in one of ten.
void Listing::BuildIndex() {
  byUpper_.reserve(names_.size());
  for (const std::string& name : names_) byUpper_.emplace(LocaleUpperCase(name), name);
  indexed_ = true;
}

Listing* ListingCache::Get(DirId dir, int fd, bool& fresh) {
  auto found = listings_.find(dir);
  fresh = found == listings_.end();
  return fresh ? Read(dir, fd) : &found->second.listing;
}

Listing* ListingCache::Kept(DirId dir) {
  const auto found = listings_.find(dir);
  return found != listings_.end() ? &found->second.listing : nullptr;
}

Listing* ListingCache::Read(DirId dir, int fd) {
  struct stat st;
  std::vector<RawEntry> entries;
  if (fstat(fd, &st) != 0 || !ReadEntries(fd, entries)) return nullptr;
  ++reads_;
  KeptListing kept;
  kept.changed = ChangeTime(st);
  for (const RawEntry& entry : entries) kept.listing.Add(entry.name);
  return &(listings_[dir] = std::move(kept)).listing;
}

Listing* ListingCache::ReadIfChanged(DirId dir, int fd) {
  const auto found = listings_.find(dir);
  struct stat st;
  if (found == listings_.end() || fstat(fd, &st) != 0) return nullptr;
  if (ChangeTime(st) == found->second.changed) return nullptr;
  return Read(dir, fd);
}

void ListingCache::Renamed(DirId from, const std::string& oldName, DirId to,
                           const std::string& newName) {
  if (auto found = listings_.find(from); found != listings_.end()) {
    found->second.listing.Remove(oldName);
  }
  if (auto found = listings_.find(to); found != listings_.end()) found->second.listing.Add(newName);
}

void ListingCache::Clear() {
  listings_.clear();
  showedCaseChange_.clear();
  reads_ = 0;
}

ListingCache& Listings() {
  static ListingCache cache;
  return cache;
}

}  // namespace dazi::posix
