#include "support/fs/posix/dir_listing_posix.h"

#include <algorithm>

#include "support/text/locale.h"

namespace dazi::posix {

Listing::Index::iterator Listing::Find(const std::string& upperName, const std::string& name) {
  auto [first, last] = byUpper_.equal_range(upperName);
  for (auto it = first; it != last; ++it) {
    if (it->second == name) return it;
  }
  return byUpper_.end();
}

bool Listing::Holds(const std::string& name, const std::string& upperName) const {
  auto [first, last] = byUpper_.equal_range(upperName);
  for (auto it = first; it != last; ++it) {
    if (it->second == name) return true;
  }
  return false;
}

void Listing::Add(const std::string& name) {
  std::string upper = LocaleUpperCase(name);
  if (!Holds(name, upper)) byUpper_.emplace(std::move(upper), name);
}

// A case change keeps the entry's place in the index: the old name is
// looked for first among the new one's spellings.
void Listing::Rename(const std::string& oldName, const std::string& newName) {
  std::string upper = LocaleUpperCase(newName);
  auto old = Find(upper, oldName);
  const bool sameUpper = old != byUpper_.end();
  if (!sameUpper) old = Find(LocaleUpperCase(oldName), oldName);
  if (Holds(newName, upper)) {
    if (old != byUpper_.end()) byUpper_.erase(old);
  } else if (sameUpper) {
    old->second = newName;
  } else {
    if (old != byUpper_.end()) byUpper_.erase(old);
    byUpper_.emplace(std::move(upper), newName);
  }
}

std::vector<std::string> Listing::Spellings(const std::string& upperName) const {
  std::vector<std::string> found;
  auto [first, last] = byUpper_.equal_range(upperName);
  for (auto it = first; it != last; ++it) found.push_back(it->second);
  std::sort(found.begin(), found.end());
  return found;
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

Listing* ListingCache::Kept(DirId dir) {
  const auto found = listings_.find(dir);
  if (found == listings_.end()) return nullptr;
  found->second.lastUse = ++uses_;
  return &found->second.listing;
}

void ListingCache::ForgetLeastUsed() {
  auto least = listings_.begin();
  for (auto it = listings_.begin(); it != listings_.end(); ++it) {
    if (it->second.lastUse < least->second.lastUse) least = it;
  }
  listings_.erase(least);
}

Listing* ListingCache::Read(DirId dir, int fd) {
  EntryStatus status;
  std::vector<RawEntry> entries;
  if (system_.StatHandle(fd, status) != 0 || system_.ReadEntries(fd, entries) != 0) return nullptr;
  ++reads_;
  if (listings_.count(dir) == 0 && listings_.size() >= kMostKept) ForgetLeastUsed();
  KeptListing kept{Listing(entries.size()), status.changed, ++uses_};
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

void ListingCache::Renamed(DirId dir, const std::string& oldName, const std::string& newName) {
  const auto found = listings_.find(dir);
  if (found != listings_.end()) found->second.listing.Rename(oldName, newName);
}

}  // namespace dazi::posix
