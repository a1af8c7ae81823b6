#include "support/fs/posix/dir_listing_posix.h"

#include <algorithm>

#include "support/text/locale.h"

namespace dazi::posix {

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

size_t Listing::CountSpellings(const std::string& upperName) {
  if (!indexed_) BuildIndex();
  return byUpper_.count(upperName);
}

std::optional<size_t> ListingCache::CountSpellings(DirId dir, int fd,
                                                   const std::string& upperName) {
  size_t count = 0;
  const Lookup lookup = Look(dir, fd, [&](Listing& listing) {
    count = listing.CountSpellings(upperName);
    return count != 0;
  });
  if (lookup == Lookup::Unreadable) return std::nullopt;
  return count;
}

// Made on the first lookup, so that a lookup costs the same in a directory of
// a million entries as in one of ten.
void Listing::BuildIndex() {
  byUpper_.reserve(names_.size());
  for (const std::string& name : names_) byUpper_.emplace(LocaleUpperCase(name), name);
  indexed_ = true;
}

Listing* ListingCache::Kept(DirId dir) {
  const auto found = listings_.find(dir);
  return found != listings_.end() ? &found->second.listing : nullptr;
}

Listing* ListingCache::Read(DirId dir, int fd) {
  EntryStatus status;
  std::vector<RawEntry> entries;
  if (system_.StatHandle(fd, status) != 0 || system_.ReadEntries(fd, entries) != 0) return nullptr;
  ++reads_;
  KeptListing kept;
  kept.changed = status.changed;
  for (const RawEntry& entry : entries) kept.listing.Add(entry.name);
  return &(listings_[dir] = std::move(kept)).listing;
}

ListingCache::Change ListingCache::ChangeSinceRead(DirId dir, int fd) {
  const auto found = listings_.find(dir);
  if (found == listings_.end()) return Change::None;
  EntryStatus status;
  if (system_.StatHandle(fd, status) != 0) return Change::Unknown;
  return status.changed == found->second.changed ? Change::None : Change::Some;
}

void ListingCache::Renamed(DirId from, const std::string& oldName, DirId to,
                           const std::string& newName) {
  const auto source = listings_.find(from);
  if (source != listings_.end()) source->second.listing.Remove(oldName);
  const auto target = to == from ? source : listings_.find(to);
  if (target != listings_.end()) target->second.listing.Add(newName);
}

}  // namespace dazi::posix
