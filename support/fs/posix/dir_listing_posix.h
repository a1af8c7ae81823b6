#pragma once
// Directory listings: the names a directory holds, read through an open
// handle, with a lookup by upper-case spelling for names given in another
// letter case. A listing is read when a name must be looked up that way or a
// case change must be seen, at most once per directory unless a kept
// spelling has gone, and is kept up to date with the renames made here.

#include <sys/types.h>

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

namespace dazi::posix {

struct RawEntry {
  std::string name;
  unsigned char type;  // DT_DIR, DT_LNK, ...; DT_UNKNOWN where the system does not tell
};

// Reads every entry of the directory that fd refers to (it may be an O_PATH
// handle); false on an error, with errno set.
bool ReadEntries(int fd, std::vector<RawEntry>& entries);

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

// A directory's identity: its device and inode.
using DirId = std::pair<dev_t, ino_t>;

class ListingCache {
 public:
  // The kept listing of the directory, or null; nothing is read.
  Listing* Kept(DirId dir);
  // Offers take() each spelling of the upper-case names that the kept
  // listing of the directory has (read now if there is none) until it takes
  // one; a directory that changed since its listing was read is read again,
  // once. Whether one was taken.
  template <typename Take>
  bool OfferSpellings(DirId dir, int fd, std::initializer_list<std::string> upperNames, Take take);
  // Reads the directory again, replacing what was kept.
  Listing* Read(DirId dir, int fd);
  // Follows a rename made here from one directory to another (or the same).
  void Renamed(DirId from, const std::string& oldName, DirId to, const std::string& newName);
  // Whether a case change made here was seen in the directory's listing.
  bool ShowedCaseChange(DirId dir) const { return showedCaseChange_.count(dir) != 0; }
  void SawCaseChange(DirId dir) { showedCaseChange_.insert(dir); }
  void Clear();
  size_t Reads() const { return reads_; }

 private:
  // The kept listing of the directory, read now if there is none; null when
  // it cannot be read. fresh tells whether this call read it.
  Listing* Get(DirId dir, int fd, bool& fresh);
  // The kept listing read again where the directory changed since it was
  // read (by the run's own renames too); null when it did not or cannot be.
  Listing* ReadIfChanged(DirId dir, int fd);

  struct KeptListing {
    Listing listing;
    std::pair<time_t, long> changed;  // the directory's change time when read
  };
  std::map<DirId, KeptListing> listings_;
  std::set<DirId> showedCaseChange_;
  size_t reads_ = 0;
};

ListingCache& Listings();

template <typename Take>
bool ListingCache::OfferSpellings(DirId dir, int fd, std::initializer_list<std::string> upperNames,
                                  Take take) {
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

}  // namespace dazi::posix
