// Renames. An entry is renamed relative to the handle of its directory, which
// the walker reached; the entries of one directory come one after another in
// a sorted list and reuse it. A case change of the entry itself takes one
// rename on every file system that makes it: where the file system folds
// case, the new spelling answers with the entry itself and cannot name
// another. Whether the change shows is read from the directory's listing once
// per directory; where the file system reported a change done without making
// it, the entry goes through its parked name, with interrupts held between
// the two steps, and a later run finishes what a killed one left parked.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/dir_listing_posix.h"
#include "support/dir_walk_posix.h"
#include "support/filesys.h"
#include "support/fs_quirks_posix.h"
#include "support/interrupts.h"
#include "support/locale.h"
#include "support/parked_name.h"

namespace dazi {

namespace posix {

namespace {

// renameat(2) that fails with EEXIST instead of replacing an existing target.
int RenameNoReplaceCall(int fromDir, const char* from, int toDir, const char* to) {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 28))
  return renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE);
#else
  const unsigned renameNoReplace = 1;  // the C library does not name it yet
  return static_cast<int>(syscall(SYS_renameat2, fromDir, from, toDir, to, renameNoReplace));
#endif
}

bool TakesNoFlags(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

int LastError() {
  return errno != 0 ? errno : EIO;
}

// Renames without ever replacing an entry: 0 or an error code (EEXIST when
// something answers to the target). Where the file system takes no flags,
// the target is looked up first.
int RenameWithoutReplacing(DeviceQuirks& quirks, int fromDir, const std::string& from, int toDir,
                           const std::string& to) {
  if (!quirks.takesNoFlags) {
    if (RenameNoReplaceCall(fromDir, from.c_str(), toDir, to.c_str()) == 0) return 0;
    if (!TakesNoFlags(errno)) return LastError();
    quirks.takesNoFlags = true;
  }
  struct stat st;
  if (fstatat(toDir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  if (errno != ENOENT) return LastError();
  return renameat(fromDir, from.c_str(), toDir, to.c_str()) == 0 ? 0 : LastError();
}

bool StatOf(const WalkedDir& dir, const std::string& name, struct stat& st) {
  return fstatat(dir.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Exists(const WalkedDir& dir, const std::string& name) {
  struct stat st;
  return StatOf(dir, name, st);
}

bool IsDirectory(const WalkedDir& dir, const std::string& name) {
  struct stat st;
  return StatOf(dir, name, st) && S_ISDIR(st.st_mode);
}

bool SameEntry(const WalkedDir& dir, const std::string& a, const std::string& b) {
  struct stat first, second;
  return StatOf(dir, a, first) && StatOf(dir, b, second) && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

bool OnlyAsciiCaseDiffers(const std::string& a, const std::string& b) {
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] &&
        (static_cast<unsigned char>(a[i]) >= 0x80 || static_cast<unsigned char>(b[i]) >= 0x80)) {
      return false;
    }
  }
  return true;
}

std::string AsciiSwappedCase(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z')
      c = static_cast<char>(c - 32);
    else if (c >= 'A' && c <= 'Z')
      c = static_cast<char>(c + 32);
  }
  return name;
}

// The spelling under which the directory lists the entry that answers to
// name without regard to case: of several, the byte-wise smallest that still
// exists; empty when there is none. A directory that changed since its
// listing was read is read again, once.
std::string SpellingOnDisk(const WalkedDir& dir, const std::string& name) {
  bool fresh = false;
  Listing* listing = Listings().Get(dir.id, dir.fd, fresh);
  while (listing != nullptr) {
    for (const std::string& spelling : listing->Spellings(LocaleUpperCase(name))) {
      if (Exists(dir, spelling)) return spelling;
    }
    if (fresh) break;
    listing = Listings().ReadIfChanged(dir.id, dir.fd);
    fresh = true;
  }
  return {};
}

// The directory's spellings of name after a case change, read now.
std::vector<std::string> SpellingsReadNow(const WalkedDir& dir, const std::string& name) {
  Listing* listing = Listings().Read(dir.id, dir.fd);
  return listing != nullptr ? listing->Spellings(LocaleUpperCase(name))
                            : std::vector<std::string>();
}

class InPlace {
 public:
  explicit InPlace(const WalkedDir& dir) : dir_(dir), quirks_(QuirksOf(dir.id.first)) {}

  bool Rename(const std::string& name, const std::string& newName) {
    return SameUpperCase(name, newName) ? ChangeCase(name, newName, false)
                                        : RenameOther(name, newName);
  }

 private:
  bool RenameOther(const std::string& name, const std::string& newName);
  bool ChangeCase(const std::string& name, const std::string& newName, bool fromDisk);
  bool KeepOrChange(const std::string& name);
  bool FromDiskSpelling(const std::string& name, const std::string& newName, bool fromDisk);
  bool OfItself(const std::string& from, const std::string& to);
  bool ShowsOnce(const std::string& to);
  bool ShowsAfterSteps(const std::string& to);
  bool InTwoSteps(const std::string& name, const std::string& newName);
  bool ThroughParkedName(const std::string& from, const std::string& to);
  bool FinishParked(const std::string& parked, const std::string& to);
  void Renamed(const std::string& from, const std::string& to);

  const WalkedDir& dir_;
  DeviceQuirks& quirks_;
};

bool InPlace::RenameOther(const std::string& name, const std::string& newName) {
  int error = RenameWithoutReplacing(quirks_, dir_.fd, name, dir_.fd, newName);
  std::string from = name;
  if (error == ENOENT) {
    from = SpellingOnDisk(dir_, name);
    if (from.empty()) return false;
    error = RenameWithoutReplacing(quirks_, dir_.fd, from, dir_.fd, newName);
  }
  if (error != 0) return false;
  Renamed(from, newName);
  return true;
}

// fromDisk: name is the directory's own spelling, looked up already.
bool InPlace::ChangeCase(const std::string& name, const std::string& newName, bool fromDisk) {
  if (quirks_.CaseChangesInTwoSteps()) return InTwoSteps(name, newName);
  if (name == newName) return KeepOrChange(name);
  if (quirks_.foldsCase == Known::Yes && OnlyAsciiCaseDiffers(name, newName)) {
    // A listing kept up to date with the run's renames may tell that the
    // entry has its new spelling already (a path listed twice).
    const Listing* kept = Listings().Kept(dir_.id);
    if (kept != nullptr && kept->Holds(newName) && !kept->Holds(name)) return true;
    if (renameat(dir_.fd, name.c_str(), dir_.fd, newName.c_str()) == 0) {
      Renamed(name, newName);
      return ShowsOnce(newName);
    }
    return errno == ENOENT && FromDiskSpelling(name, newName, fromDisk);
  }
  const int error = RenameWithoutReplacing(quirks_, dir_.fd, name, dir_.fd, newName);
  if (error == 0) {
    Renamed(name, newName);
    return true;
  }
  if (error == ENOENT) return FromDiskSpelling(name, newName, fromDisk);
  if (error != EEXIST) return false;
  // Something answers to the new spelling: the entry itself where the
  // directory, read now, lists a single spelling of the name (the file
  // system folds case), else another entry, which is never replaced.
  const std::vector<std::string> spellings = SpellingsReadNow(dir_, newName);
  if (spellings.size() != 1) return false;
  return spellings[0] == newName || OfItself(spellings[0], newName);
}

// A name that already has the spelling asked for: done where the file system
// keeps case apart; where it folds case, the listing tells the spelling.
bool InPlace::KeepOrChange(const std::string& name) {
  if (!Exists(dir_, name)) return FromDiskSpelling(name, name, false);
  if (quirks_.foldsCase == Known::Unknown) {
    const std::string swapped = AsciiSwappedCase(name);
    if (swapped == name) return true;
    if (!Exists(dir_, swapped) && errno == ENOENT) quirks_.foldsCase = Known::No;
  }
  if (quirks_.foldsCase == Known::No) return true;
  const std::string onDisk = SpellingOnDisk(dir_, name);
  if (onDisk.empty() || onDisk == name) return !onDisk.empty();
  return OfItself(onDisk, name);
}

bool InPlace::FromDiskSpelling(const std::string& name, const std::string& newName, bool fromDisk) {
  if (fromDisk) return false;
  const std::string onDisk = SpellingOnDisk(dir_, name);
  if (onDisk.empty()) {
    const std::string parked = SpellingOnDisk(dir_, ParkedName(name));
    return !parked.empty() && FinishParked(parked, newName);
  }
  if (onDisk == newName) return true;
  if (onDisk == name) return false;
  return ChangeCase(onDisk, newName, true);
}

// A case change whose new spelling answers with the entry itself, as the
// listing says; from is its spelling on disk. Where inode numbers are
// steady, they must agree, and the system takes a rename between two names
// of one inode for no change at all: it goes through the parked name, which
// never replaces anything. Only where inode numbers tell nothing (FUSE)
// does the listing alone allow a rename onto the new spelling.
bool InPlace::OfItself(const std::string& from, const std::string& to) {
  if (quirks_.steadyInodes && !quirks_.CaseChangesInTwoSteps()) {
    if (!SameEntry(dir_, from, to)) return false;
    quirks_.ignoresDirectCaseChange = true;
  }
  if (quirks_.CaseChangesInTwoSteps()) return ThroughParkedName(from, to) && ShowsAfterSteps(to);
  if (renameat(dir_.fd, from.c_str(), dir_.fd, to.c_str()) != 0) return false;
  Renamed(from, to);
  return ShowsOnce(to);
}

// Whether a direct case change shows in the listing, read once per
// directory. One the file system accepted without showing it is made again
// through the parked name; from then on, every case change on that file
// system goes that way.
bool InPlace::ShowsOnce(const std::string& to) {
  if (quirks_.foldsCase == Known::Yes && Listings().ShowedCaseChange(dir_.id)) return true;
  const std::vector<std::string> spellings = SpellingsReadNow(dir_, to);
  if (spellings.size() != 1) return false;  // twins, or gone
  if (spellings[0] != to) {
    quirks_.ignoresDirectCaseChange = true;
    return ThroughParkedName(spellings[0], to) && ShowsAfterSteps(to);
  }
  quirks_.foldsCase = Known::Yes;
  Listings().SawCaseChange(dir_.id);
  return true;
}

// After a change through the parked name, which takes effect on any file
// system: a listing that still shows another spelling cannot show case
// (lowntfs-3g with ignore_case), and is not read for it again.
bool InPlace::ShowsAfterSteps(const std::string& to) {
  if (quirks_.listingHidesCase || Listings().ShowedCaseChange(dir_.id)) return true;
  const std::vector<std::string> spellings = SpellingsReadNow(dir_, to);
  if (spellings.size() != 1) return false;
  if (spellings[0] == to) {
    Listings().SawCaseChange(dir_.id);
  } else {
    quirks_.listingHidesCase = true;
  }
  return true;
}

// Where a direct case change does not take, or (fusefat) would lose the
// entry's data: through the parked name. A directory that moving would
// empty is left as it is.
bool InPlace::InTwoSteps(const std::string& name, const std::string& newName) {
  const std::string onDisk = SpellingOnDisk(dir_, name);
  if (onDisk.empty()) {
    const std::string parked = SpellingOnDisk(dir_, ParkedName(name));
    return !parked.empty() && FinishParked(parked, newName);
  }
  if (onDisk == newName) return true;
  if (quirks_.losesMovedContents && IsDirectory(dir_, onDisk)) return false;
  return ThroughParkedName(onDisk, newName) && ShowsAfterSteps(newName);
}

// Two renames, neither replacing anything; interrupts wait until both are
// done, and the entry gets its name back if the second fails.
bool InPlace::ThroughParkedName(const std::string& from, const std::string& to) {
  const std::string parked = ParkedName(from);
  InterruptHold hold;
  if (RenameWithoutReplacing(quirks_, dir_.fd, from, dir_.fd, parked) != 0) return false;
  if (RenameWithoutReplacing(quirks_, dir_.fd, parked, dir_.fd, to) != 0) {
    RenameWithoutReplacing(quirks_, dir_.fd, parked, dir_.fd, from);
    return false;
  }
  Renamed(from, to);
  return true;
}

bool InPlace::FinishParked(const std::string& parked, const std::string& to) {
  if (RenameWithoutReplacing(quirks_, dir_.fd, parked, dir_.fd, to) != 0) return false;
  Renamed(parked, to);
  return true;
}

void InPlace::Renamed(const std::string& from, const std::string& to) {
  Listings().Renamed(dir_.id, from, dir_.id, to);
  Walker().Renamed(dir_.id, from, to);
}

// An entry moved to another directory: the long way, which lets the kept
// handles go.
bool Move(const SplitPath& sourceDir, const std::string& name, const SplitPath& targetDir,
          const std::string& newName) {
  WalkedDir to;
  if (!Walker().Walk(targetDir, to)) return false;
  const int toFd = fcntl(to.fd, F_DUPFD_CLOEXEC, 0);
  WalkedDir from;
  if (toFd < 0 || !Walker().Walk(sourceDir, from)) {
    if (toFd >= 0) close(toFd);
    return false;
  }
  bool moved = false;
  if (from.id == to.id) {
    moved = InPlace(from).Rename(name, newName);
  } else {
    DeviceQuirks& quirks = QuirksOf(from.id.first);
    const std::string onDisk = Exists(from, name) ? name : SpellingOnDisk(from, name);
    moved = !onDisk.empty() && !(quirks.losesMovedContents && IsDirectory(from, onDisk)) &&
            RenameWithoutReplacing(quirks, from.fd, onDisk, toFd, newName) == 0;
    if (moved) {
      Listings().Renamed(from.id, onDisk, to.id, newName);
      Walker().Moved(from.id, onDisk, to.id, newName);
    }
  }
  close(toFd);
  return moved;
}

// The directory parts of the last rename, so that the entries of one
// directory are renamed without splitting and walking their paths again.
struct LastDirectory {
  std::string sourcePart, targetPart;
  unsigned generation = 0;
  WalkedDir dir;
  bool valid = false;
};

LastDirectory& Last() {
  static LastDirectory last;
  return last;
}

bool WalkBeside(std::string_view sourcePart, std::string_view targetPart, WalkedDir*& dir) {
  LastDirectory& last = Last();
  if (last.valid && last.generation == Walker().Generation() && sourcePart == last.sourcePart &&
      targetPart == last.targetPart) {
    dir = &last.dir;
    return true;
  }
  const SplitPath source = SplitComponents(sourcePart);
  if (!SameComponentsCaseless(source, SplitComponents(targetPart))) return false;
  last.valid = false;
  if (!Walker().Walk(source, last.dir)) {
    dir = nullptr;
    return true;
  }
  last.sourcePart = sourcePart;
  last.targetPart = targetPart;
  last.generation = Walker().Generation();
  last.valid = true;
  dir = &last.dir;
  return true;
}

}  // namespace

}  // namespace posix

bool RenamePath(std::string_view sourcePath, std::string_view targetPath) {
  using namespace posix;
  const PathTail source = SplitLast(sourcePath);
  const PathTail target = SplitLast(targetPath);
  if (source.name.empty() || target.name.empty() || IsDotName(source.name) ||
      IsDotName(target.name)) {
    return false;
  }
  const std::string name(source.name);
  const std::string newName(target.name);
  WalkedDir* dir = nullptr;
  if (WalkBeside(source.dirPart, target.dirPart, dir)) {
    return dir != nullptr && InPlace(*dir).Rename(name, newName);
  }
  return Move(SplitComponents(source.dirPart), name, SplitComponents(target.dirPart), newName);
}

}  // namespace dazi
