#pragma once
// What the rename engine keeps for a run, and what it is made of: searches
// (search_posix.cpp), renames in place, relative to a handle of the entry's
// directory (in_place_posix.cpp), and to another directory (move_posix.cpp).

#include <cstdint>
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
      : system(calls), devices(calls), listings(calls), walker(calls, listings, devices) {}

  System& system;
  Devices devices;
  ListingCache listings;
  DirWalker walker;
  std::vector<size_t> trail;  // the rows that decided the last case change
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

// Renames an entry of dir to newName in the same directory.
bool RenameInPlace(RunState& run, const WalkedDir& dir, const std::string& name,
                   const std::string& newName);

// Directory searches (search_posix.cpp), as FindFirstEntry and FindNextEntry.
int32_t FindFirst(RunState& run, std::string_view pattern, int32_t mask, TSearchRec& rec);
int32_t FindNext(TSearchRec& rec);

// Renames an entry to another directory, or the same one reached otherwise.
bool Move(RunState& run, const SplitPath& sourceDir, const std::string& name,
          const SplitPath& targetDir, const std::string& newName);

}  // namespace dazi::posix
