#pragma once
// Directory listings: the names a directory holds, read through an open
// handle, with a lookup by upper-case spelling for names given in another
// letter case. A listing is read when a name must be looked up that way or a
// case change must be seen, at most once per directory unless a kept
// spelling has gone, and is kept up to date with the renames made here.

#include <cstddef>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

class Listing {
 public:
  bool Holds(const std::string& name) const { return names_.count(name) != 0; }
  void Add(const std::string& name);
  void Remove(const std::string& name);
  // The names whose upper-case spelling is upperName, byte-wise ascending.
  std::vector<std::string> Spellings(const std::string& upperName);

 private:
  void BuildIndex();

  std::unordered_set<std::string> names_;
  std::unordered_multimap<std::string, std::string> byUpper_;
  bool indexed_ = false;
};

class ListingCache {
 public:
  explicit ListingCache(System& system) : system_(system) {}

  // The kept listing of the directory, or null; nothing is read.
  Listing* Kept(DirId dir);
  // Offers take() each spelling of the upper-case names that the kept
  // listing of the directory has (read now if there is none) until it takes
  // one; a directory that changed since its listing was read is read again,
  // once. Whether one was taken.
  template <typename Take>
  bool OfferSpellings(DirId dir, int fd, std::initializer_list<std::string> upperNames, Take take);
  // The spellings of the upper-case name in the kept listing of the
  // directory (read now if there is none) that keep() accepts, byte-wise
  // ascending; where it accepts none, a directory that changed since its
  // listing was read is read again, once.
  template <typename Keep>
  std::vector<std::string> SpellingsWhere(DirId dir, int fd, const std::string& upperName,
                                          Keep keep);
  // Reads the directory again, replacing what was kept.
  Listing* Read(DirId dir, int fd);
  // Follows a rename made here from one directory to another (or the same).
  void Renamed(DirId from, const std::string& oldName, DirId to, const std::string& newName);
  // Whether a case change made here was seen in the directory's listing.
  bool ShowedCaseChange(DirId dir) const { return showedCaseChange_.count(dir) != 0; }
  void SawCaseChange(DirId dir) { showedCaseChange_.insert(dir); }
  size_t Reads() const { return reads_; }
  // Whether the last lookup above found the directory unreadable: its
  // answer then tells nothing of what the directory holds.
  bool LookupFailed() const { return lookupFailed_; }

 private:
  // The kept listing of the directory, read now if there is none; null when
  // it cannot be read. fresh tells whether this call read it.
  Listing* Get(DirId dir, int fd, bool& fresh);
  // The kept listing read again where the directory changed since it was
  // read (by the run's own renames too); null when it did not or cannot be.
  Listing* ReadIfChanged(DirId dir, int fd);

  struct KeptListing {
    Listing listing;
    std::pair<int64_t, long> changed;  // the directory's change time when read
  };
  System& system_;
  std::map<DirId, KeptListing> listings_;
  std::set<DirId> showedCaseChange_;
  size_t reads_ = 0;
  bool lookupFailed_ = false;
};

template <typename Take>
bool ListingCache::OfferSpellings(DirId dir, int fd, std::initializer_list<std::string> upperNames,
                                  Take take) {
  lookupFailed_ = false;
  bool fresh = false;
  for (Listing* listing = Get(dir, fd, fresh); listing != nullptr;
       listing = ReadIfChanged(dir, fd), fresh = true) {
    for (const std::string& upper : upperNames) {
      for (const std::string& spelling : listing->Spellings(upper)) {
        if (take(spelling)) return true;
      }
    }
    if (fresh) break;
  }
  return false;
}

template <typename Keep>
std::vector<std::string> ListingCache::SpellingsWhere(DirId dir, int fd,
                                                      const std::string& upperName, Keep keep) {
  std::vector<std::string> kept;
  lookupFailed_ = false;
  bool fresh = false;
  for (Listing* listing = Get(dir, fd, fresh); listing != nullptr;
       listing = ReadIfChanged(dir, fd), fresh = true) {
    for (const std::string& spelling : listing->Spellings(upperName)) {
      if (keep(spelling)) kept.push_back(spelling);
    }
    if (fresh || !kept.empty()) break;
  }
  return kept;
}

}  // namespace dazi::posix
