#pragma once
// Directories reached by handle, one path component at a time. Both the slash
// and the backslash separate components, and a run of separators counts as
// one. A component is taken by its exact spelling, else without regard to
// case from its directory's listing.
//
// A directory that a search or a walk of this run has seen as a directory is
// never passed through as a link afterwards, and a directory reached again by
// the same name must be the one seen before (device and inode): a directory
// swapped for a link or another directory during the run is not entered. A
// link that is met the first time, as in the paths the user gave, is
// followed, and must lead to the same directory each time after. (FUSE file
// systems may give one directory a new inode number at any time: there only
// a link in a directory's place is caught.)
//
// The handles of the last path walked are kept, so that the entries of one
// directory, which a sorted list brings one after another, cost no lookups.

#include <map>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

#include "support/fs/posix/dir_listing_posix.h"
#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

bool IsDotName(std::string_view name);

struct SplitPath {
  bool absolute = false;
  std::vector<std::string> components;
};
SplitPath SplitComponents(std::string_view path);

// The last component of a path without its trailing separators, and the
// path's directory part before it.
struct PathTail {
  std::string_view dirPart;
  std::string_view name;
};
PathTail SplitLast(std::string_view path);

// LocaleUpperCase(a) == LocaleUpperCase(b), without upper-case copies where
// both are ASCII.
bool SameUpperCase(std::string_view a, std::string_view b);
bool SameComponentsCaseless(const SplitPath& a, const SplitPath& b);

std::string JoinPath(const std::string& dir, std::string_view name);
const char* OpenablePath(const std::string& dir);

// Whether a directory's number differing from the one it had tells nothing:
// where the name, listed under one spelling only, answers to its swapped
// case with another number than `now` on the same device, the file system
// numbers an entry by the spelling it is looked up by (exfat-fuse and
// fusefat do, and anew once the kernel has let it go). Asked of the
// directory at the moment a number differs, not learnt from the mount type:
// elsewhere (ntfs-3g, bindfs, the kernel's file systems) a number that
// differs is another directory.
bool NumbersBySpelling(System& system, ListingCache& listings, DirId dir, int fd,
                       const std::string& name, DirId now);

// A directory reached by a walk. Its handle belongs to the walker and stays
// valid until the next walk.
struct WalkedDir {
  int fd = -1;
  DirId id{};
  std::string path;      // as resolved, for the system's path calls
  bool viaLink = false;  // its last component is a link that the walk followed
};

class DirWalker {
 public:
  DirWalker(System& system, ListingCache& listings) : system_(system), listings_(listings) {}
  ~DirWalker() { Reset(); }
  DirWalker(const DirWalker&) = delete;
  DirWalker& operator=(const DirWalker&) = delete;

  // The directory that the components name: 0, or the error that kept it
  // out of reach (ELOOP for a directory swapped since it was seen).
  int Walk(const SplitPath& dir, WalkedDir& walked);

  // A search saw name in dir as a directory, not a link.
  void SawDirectory(const WalkedDir& dir, const std::string& name);
  // The run renamed an entry of dir; names and kept handles follow it.
  void Renamed(DirId dir, const std::string& oldName, const std::string& newName);
  void Reset();
  // Changes whenever a directory handed out by Walk may no longer hold.
  unsigned Generation() const { return generation_; }

 private:
  struct Step {
    std::string given;  // the component as the path spelled it
    std::string name;   // the name it was reached by
    int fd = -1;        // -1 once closed to stay within the descriptor budget
    bool viaLink = false;
    DirId id{};
    std::string path;
  };
  struct Seen {
    bool viaLink = false;
    bool idKnown = false;
    DirId id{};
  };
  using SeenKey = std::tuple<dev_t, ino_t, std::string>;

  int Start(bool absolute);
  int OpenStep(size_t index);
  int Descend(const std::string& given);
  int EnterCaseless(const Step& parent, const std::string& given, Step& next);
  int Enter(const Step& parent, const std::string& name, Step& next);
  int Check(const Step& parent, Step& next);
  void Close(Step& step);
  void SeenAsDirectory(const std::string& dirPath, const std::string& name);
  void NoteSeenName(const std::string& name);
  void FollowSeen(DirId from, const std::string& oldName, DirId to, const std::string& newName);
  void FollowSeenPath(DirId from, const std::string& oldName, DirId to, const std::string& newName);
  // The path of a directory of the kept chain, or null.
  const std::string* PathOf(DirId dir) const;
  void KeepWithinBudget(size_t inUse);

  System& system_;
  ListingCache& listings_;
  std::vector<Step> chain_;
  bool absolute_ = false;
  std::map<SeenKey, Seen> seen_;
  // The paths seen as directories, not links, in upper case: where the file
  // system folds case, another spelling reaches the same entry, and a link
  // in its place must not be followed by that one either; and where it
  // numbers directories anew (FUSE), their paths still tell them.
  std::set<std::string> seenAsDirectory_;
  // The upper-case names of every directory in the two records above: a
  // rename of an entry by another name (most are files) touches neither.
  std::unordered_set<std::string> seenNames_;
  unsigned generation_ = 0;
};

}  // namespace dazi::posix
