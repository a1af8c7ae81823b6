#pragma once
// What the rename engine keeps for a run, and what it is made of: searches
// (search_posix.cpp) and case changes in place, relative to a handle of the
// entry's directory (in_place_posix.cpp).

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "support/fs/filesys.h"
#include "support/fs/posix/dir_listing_posix.h"
#include "support/fs/posix/dir_walk_posix.h"
#include "support/fs/posix/fs_quirks_posix.h"
#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

struct RunState {
  explicit RunState(System& calls)
      : system(calls), devices(calls), listings(calls), walker(calls, listings) {}

  // A search delivered a name that holds a backslash: a path built from it
  // names another entry (the backslash separates), so no rename by that
  // path is made. Kept in upper case as the path resolved and as the path
  // the search was given (a directory parked by a killed run is reached
  // under its parked name, and named under its own).
  void SawUnaddressable(const WalkedDir& dir, std::string_view givenDir, const std::string& name);
  bool IsUnaddressable(const WalkedDir& dir, const std::string& name) const;

  System& system;
  Devices devices;
  ListingCache listings;
  DirWalker walker;
  std::vector<size_t> trail;  // the rows that decided the last case change
  std::set<std::string> unaddressable;
};

// Renames without ever replacing an entry: 0 or an error code (EEXIST where
// something answers to the target). Where the device refuses the flag that
// says so, the target is looked up first.
int RenameNoReplace(RunState& run, DeviceQuirks& quirks, int fromDir, const std::string& from,
                    int toDir, const std::string& to);

// The one spelling under which the directory lists an entry that answers to
// name without regard to case and is not known to be gone; empty where there
// is none or more than one.
std::string SingleSpellingOnDisk(RunState& run, const WalkedDir& dir, const std::string& name);

// A look at the entry: where it fails for another reason than absence,
// each of these says no.
bool Exists(RunState& run, const WalkedDir& dir, const std::string& name);
bool IsKnownMissing(RunState& run, const WalkedDir& dir, const std::string& name);
bool IsKnownNonDirectory(RunState& run, const WalkedDir& dir, const std::string& name);

// Changes the case of an entry of dir: newName is its name in upper case.
bool ChangeCaseInPlace(RunState& run, const WalkedDir& dir, const std::string& name,
                       const std::string& newName);

// Directory searches (search_posix.cpp), as FindFirstEntry and FindNextEntry.
int32_t FindFirst(RunState& run, std::string_view pattern, int32_t mask, TSearchRec& rec);
int32_t FindNext(TSearchRec& rec);

}  // namespace dazi::posix
