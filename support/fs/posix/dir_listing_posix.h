#pragma once
// Directory listings: the names a directory holds, read through an open
// handle, with a lookup by upper-case spelling for names given in another
// letter case. A listing is read when a name must be looked up that way or a
// case change must be seen, at most once per directory unless a kept
// spelling has gone, and is kept up to date with the renames made here.
// Only the listings of the directories used last are kept: the run goes
// through its entries directory by directory, and a directory come back to
// is read again, which tells the truth of that moment.

#include <cstddef>
#include <initializer_list>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/fs/posix/system_posix.h"
#include "support/text/locale.h"

namespace dazi::posix {

// The names of one directory, kept by their upper-case spelling, so that a
// lookup costs the same in a directory of a million entries as in one of ten.
class Listing {
 public:
  explicit Listing(size_t expected = 0) { byUpper_.reserve(expected); }

  bool Holds(const std::string& name) const { return Holds(name, LocaleUpperCase(name)); }
  bool Holds(const std::string& name, const std::string& upperName) const;
  void Add(const std::string& name);
  // Follows a rename within the directory.
  void Rename(const std::string& oldName, const std::string& newName);
  // The names whose upper-case spelling is upperName, byte-wise ascending.
  std::vector<std::string> Spellings(const std::string& upperName) const;
  size_t CountSpellings(const std::string& upperName) const { return byUpper_.count(upperName); }

 private:
  using Index = std::unordered_multimap<std::string, std::string>;
  // The index entry of the name, or the end.
  Index::iterator Find(const std::string& upperName, const std::string& name);

  Index byUpper_;
};

// The upper-case names that two or more of the entries share, ascending.
std::vector<std::string> UpperNamesSpelledTwice(const std::vector<RawEntry>& entries);

// How a lookup in a directory's listing ended.
enum class Lookup { Taken, NotListed, Unreadable };

class ListingCache {
 public:
  static constexpr size_t kMostKept = 8;

  explicit ListingCache(System& system) : system_(system) {}

  // The kept listing of the directory, or null; nothing is read.
  Listing* Kept(DirId dir);
  // Offers take() each spelling of the upper-case names that the kept
  // listing of the directory has (read now if there is none) until it takes
  // one; a directory that changed since its listing was read is read again,
  // once.
  template <typename Take>
  Lookup OfferSpellings(DirId dir, int fd, std::initializer_list<std::string> upperNames,
                        Take take);
  // The spellings of the upper-case name in the kept listing of the
  // directory (read now if there is none) that keep() accepts, byte-wise
  // ascending; where it accepts none, a directory that changed since its
  // listing was read is read again, once. None where the directory could not
  // be read: that tells nothing of what it holds.
  template <typename Keep>
  std::optional<std::vector<std::string>> SpellingsWhere(DirId dir, int fd,
                                                         const std::string& upperName, Keep keep);
  // How many spellings the upper-case name has in the kept listing of the
  // directory (read now if there is none, and again, once, where it has none
  // and the directory changed since); none where it could not be read.
  std::optional<size_t> CountSpellings(DirId dir, int fd, const std::string& upperName);
  // A search read the directory: when its entries had last changed before
  // the read, and the upper-case names it held under two or more spellings.
  void Searched(DirId dir, std::pair<int64_t, long> entriesChanged,
                std::vector<std::string> spelledTwice);
  // Whether the directory holds the upper-case name under two or more
  // spellings: by its kept listing; else by what its search read, where its
  // entries have not changed since (their change time is the one they had,
  // to the nanosecond: never on a device that gives whole seconds), and from
  // then on while the run renames in it alone (a case change makes no second
  // spelling); else by its listing read now. None where it could not be read.
  std::optional<bool> SpelledTwice(DirId dir, int fd, const std::string& upperName);
  // Reads the directory again, replacing what was kept.
  Listing* Read(DirId dir, int fd);
  // Follows a rename made here within the directory.
  void Renamed(DirId dir, const std::string& oldName, const std::string& newName);
  // Whether a case change made here was seen in the directory's listing.
  bool ShowedCaseChange(DirId dir) const { return showedCaseChange_.count(dir) != 0; }
  void SawCaseChange(DirId dir) { showedCaseChange_.insert(dir); }
  size_t Reads() const { return reads_; }

 private:
  // Offers visit() the kept listing (read now if there is none), and where
  // it takes nothing from it, the listing read again if the directory
  // changed since it was read (by the run's own renames too).
  template <typename Visit>
  Lookup Look(DirId dir, int fd, Visit visit);
  enum class Change { None, Some, Unknown };
  Change ChangeSinceRead(DirId dir, int fd);

  struct KeptListing {
    Listing listing;
    std::pair<int64_t, long> changed;  // the directory's change time when read
    size_t lastUse = 0;
  };
  void ForgetLeastUsed();
  struct SearchedDir {
    std::pair<int64_t, long> entriesChanged;
    std::vector<std::string> spelledTwice;
  };
  // What the directory's search read, where it still holds; null otherwise.
  const SearchedDir* StillAsSearched(DirId dir, int fd);

  System& system_;
  std::map<DirId, KeptListing> listings_;
  std::set<DirId> showedCaseChange_;
  std::map<DirId, SearchedDir> searched_;
  // The directory whose search was found to hold last; the run's own case
  // changes there since are all that changed it.
  std::optional<DirId> vouched_;
  size_t reads_ = 0;
  size_t uses_ = 0;
};

template <typename Visit>
Lookup ListingCache::Look(DirId dir, int fd, Visit visit) {
  Listing* listing = Kept(dir);
  const bool fresh = listing == nullptr;
  if (fresh && (listing = Read(dir, fd)) == nullptr) return Lookup::Unreadable;
  if (visit(*listing)) return Lookup::Taken;
  if (fresh) return Lookup::NotListed;
  switch (ChangeSinceRead(dir, fd)) {
    case Change::None:
      return Lookup::NotListed;
    case Change::Unknown:
      return Lookup::Unreadable;
    case Change::Some:
      break;
  }
  if ((listing = Read(dir, fd)) == nullptr) return Lookup::Unreadable;
  return visit(*listing) ? Lookup::Taken : Lookup::NotListed;
}

template <typename Take>
Lookup ListingCache::OfferSpellings(DirId dir, int fd,
                                    std::initializer_list<std::string> upperNames, Take take) {
  return Look(dir, fd, [&](Listing& listing) {
    for (const std::string& upper : upperNames) {
      for (const std::string& spelling : listing.Spellings(upper)) {
        if (take(spelling)) return true;
      }
    }
    return false;
  });
}

template <typename Keep>
std::optional<std::vector<std::string>> ListingCache::SpellingsWhere(DirId dir, int fd,
                                                                     const std::string& upperName,
                                                                     Keep keep) {
  std::vector<std::string> kept;
  const Lookup lookup = Look(dir, fd, [&](Listing& listing) {
    for (const std::string& spelling : listing.Spellings(upperName)) {
      if (keep(spelling)) kept.push_back(spelling);
    }
    return !kept.empty();
  });
  if (lookup == Lookup::Unreadable) return std::nullopt;
  return kept;
}

}  // namespace dazi::posix
