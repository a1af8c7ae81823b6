#include "support/fs/posix/dir_listing_posix.h"

#include <algorithm>
#include <deque>
#include <string_view>

#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi::posix {

namespace {

// A name compared as its upper-case spelling: an ASCII name stands for
// itself, any other for its locale upper case, and ASCII letters are
// compared without regard to case.
size_t CaselessHash(std::string_view name) {
  size_t hash = 14695981039346656037u;
  for (const char c : name) {
    hash = (hash ^ static_cast<unsigned char>(AsciiUpper(c))) * 1099511628211u;
  }
  return hash;
}

}  // namespace

// One pass over the names with an open-addressed table of them: no
// allocation per name, as a search of a large directory must not cost much.
std::vector<std::string> UpperNamesSpelledTwice(const std::vector<RawEntry>& entries) {
  std::deque<std::string> uppers;  // of the names that are not ASCII
  size_t slots = 16;
  while (slots < 2 * entries.size()) slots *= 2;
  std::vector<std::string_view> table(slots);  // a free slot has no data
  std::vector<std::string> twice;
  for (const RawEntry& entry : entries) {
    std::string_view key = entry.name;
    if (!IsAscii(key)) key = uppers.emplace_back(LocaleUpperCase(key));
    size_t slot = CaselessHash(key) & (slots - 1);
    while (table[slot].data() != nullptr && !EqualIgnoringAsciiCase(table[slot], key)) {
      slot = (slot + 1) & (slots - 1);
    }
    if (table[slot].data() == nullptr) {
      table[slot] = key;
    } else {
      twice.push_back(LocaleUpperCase(key));
    }
  }
  std::sort(twice.begin(), twice.end());
  twice.erase(std::unique(twice.begin(), twice.end()), twice.end());
  return twice;
}

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

void ListingCache::Searched(DirId dir, std::pair<int64_t, long> entriesChanged,
                            std::vector<std::string> spelledTwice) {
  if (vouched_ == dir) vouched_.reset();
  searched_[dir] = {entriesChanged, std::move(spelledTwice)};
}

std::optional<bool> ListingCache::SpelledTwice(DirId dir, int fd, const std::string& upperName) {
  // A directory left is not vouched for again: the run's own renames there
  // changed it since its search.
  if (vouched_ && *vouched_ != dir) {
    searched_.erase(*vouched_);
    vouched_.reset();
  }
  if (Kept(dir) == nullptr) {
    if (const SearchedDir* searched = StillAsSearched(dir, fd)) {
      return std::binary_search(searched->spelledTwice.begin(), searched->spelledTwice.end(),
                                upperName);
    }
  }
  const std::optional<size_t> spellings = CountSpellings(dir, fd, upperName);
  if (!spellings) return std::nullopt;
  return *spellings > 1;
}

const ListingCache::SearchedDir* ListingCache::StillAsSearched(DirId dir, int fd) {
  const auto found = searched_.find(dir);
  if (found == searched_.end()) return nullptr;
  if (vouched_ == dir) return &found->second;
  EntryStatus status;
  const bool holds = found->second.entriesChanged.second != 0 &&
                     system_.StatHandle(fd, status) == 0 &&
                     status.entriesChanged == found->second.entriesChanged;
  if (!holds) {
    searched_.erase(found);
    return nullptr;
  }
  vouched_ = dir;
  return &found->second;
}

}  // namespace dazi::posix
