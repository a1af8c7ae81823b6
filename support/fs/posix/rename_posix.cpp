// Renames. An entry is renamed relative to the handle of its directory, which
// the walker reached; the entries of one directory come one after another in
// a sorted list and reuse it. How a case change is made (one rename, a rename
// through the parked name, or failure) is decided by the table of
// case_change_posix.h: InPlace only gathers the facts that a row asks for and
// takes the step that the row names. Interrupts are held between the two
// steps through the parked name, and a later run finishes what a killed one
// left parked.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/fs/filesys.h"
#include "support/fs/parked_name.h"
#include "support/fs/posix/case_change_posix.h"
#include "support/fs/posix/dir_listing_posix.h"
#include "support/fs/posix/dir_walk_posix.h"
#include "support/fs/posix/fs_quirks_posix.h"
#include "support/runtime/interrupts.h"
#include "support/text/locale.h"

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
// exists; empty when there is none.
std::string SpellingOnDisk(const WalkedDir& dir, const std::string& name) {
  std::string found;
  Listings().OfferSpellings(dir.id, dir.fd, {LocaleUpperCase(name)},
                            [&](const std::string& spelling) {
                              if (!Exists(dir, spelling)) return false;
                              found = spelling;
                              return true;
                            });
  return found;
}

// The directory's spellings of name after a case change, read now.
std::vector<std::string> SpellingsReadNow(const WalkedDir& dir, const std::string& name) {
  Listing* listing = Listings().Read(dir.id, dir.fd);
  return listing != nullptr ? listing->Spellings(LocaleUpperCase(name))
                            : std::vector<std::string>();
}

std::vector<size_t>& Trail() {
  static std::vector<size_t> rows;
  return rows;
}

// Safety net: the table ends every case change within a handful of steps.
constexpr int kMostSteps = 16;

class InPlace {
 public:
  explicit InPlace(const WalkedDir& dir) : dir_(dir), quirks_(QuirksOf(dir.id.first)) {}

  bool Rename(const std::string& name, const std::string& newName) {
    return SameUpperCase(name, newName) ? ChangeCase(name, newName) : RenameOther(name, newName);
  }

 private:
  bool RenameOther(const std::string& name, const std::string& newName);
  bool ChangeCase(const std::string& name, const std::string& newName);
  void Observe();
  void Learn(Lesson lesson);
  void Take(Step step);
  void LookAtGiven();
  void ProbeCase();
  void Locate();
  void ListTarget();
  void RenameOnto();
  void RenameNoReplace();
  void ListChange();
  bool ThroughParkedName(const std::string& from, const std::string& to);
  void Renamed(const std::string& from, const std::string& to);

  const WalkedDir& dir_;
  DeviceQuirks& quirks_;
  std::string from_, to_;  // the entry's spelling as far as known, the one asked for
  CaseFacts facts_;
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

// Asks the table for the next step until it says done or failed.
bool InPlace::ChangeCase(const std::string& name, const std::string& newName) {
  from_ = name;
  to_ = newName;
  facts_ = CaseFacts{};
  facts_.movingEmpties = quirks_.losesMovedContents ? Known::Unknown : Known::No;
  Trail().clear();
  for (int i = 0; i < kMostSteps; ++i) {
    Observe();
    Trail().push_back(DecidingRow(facts_));
    const CaseRow& row = CaseRows()[Trail().back()];
    Learn(row.lesson);
    if (row.step == Step::Done || row.step == Step::Fail) return row.step == Step::Done;
    Take(row.step);
  }
  return false;
}

// The facts that cost no look at the disk, as they stand now.
void InPlace::Observe() {
  facts_.inTwoSteps = quirks_.CaseChangesInTwoSteps();
  facts_.foldsCase = quirks_.foldsCase;
  facts_.steadyInodes = quirks_.steadyInodes;
  facts_.listingHidesCase = quirks_.listingHidesCase;
  facts_.showedHere = Listings().ShowedCaseChange(dir_.id);
  facts_.asAsked = from_ == to_;
  facts_.asciiOnly = OnlyAsciiCaseDiffers(from_, to_);
  // A listing kept up to date with the run's renames may tell that the entry
  // has its new spelling already (a path listed twice).
  const Listing* kept = Listings().Kept(dir_.id);
  facts_.appeared = kept != nullptr && kept->Holds(to_) && !kept->Holds(from_);
}

void InPlace::Learn(Lesson lesson) {
  switch (lesson) {
    case Lesson::None:
      break;
    case Lesson::FoldsAndShows:
      quirks_.foldsCase = Known::Yes;
      [[fallthrough]];
    case Lesson::CaseShowsHere:
      Listings().SawCaseChange(dir_.id);
      break;
    case Lesson::KeepsCaseApart:
      quirks_.foldsCase = Known::No;
      break;
    case Lesson::DirectChangeIgnored:
      quirks_.ignoresDirectCaseChange = true;
      break;
    case Lesson::ListingHidesCase:
      quirks_.listingHidesCase = true;
      break;
  }
}

void InPlace::Take(Step step) {
  switch (step) {
    case Step::LookAtGiven:
      return LookAtGiven();
    case Step::ProbeCase:
      return ProbeCase();
    case Step::Locate:
      return Locate();
    case Step::ListTarget:
      return ListTarget();
    case Step::LookAtKind:
      facts_.movingEmpties = IsDirectory(dir_, from_) ? Known::Yes : Known::No;
      return;
    case Step::CompareInodes:
      facts_.oneInode = SameEntry(dir_, from_, to_) ? Known::Yes : Known::No;
      return;
    case Step::RenameOnto:
      return RenameOnto();
    case Step::RenameNoReplace:
      return RenameNoReplace();
    case Step::ThroughParked:
      if (!ThroughParkedName(from_, to_)) {
        facts_.attempt = Attempt::Refused;
        return;
      }
      facts_.made = Made::TwoSteps;
      facts_.shown = Shown::Unread;
      return;
    case Step::FinishParked:
      if (RenameWithoutReplacing(quirks_, dir_.fd, from_, dir_.fd, to_) != 0) {
        facts_.attempt = Attempt::Refused;
        return;
      }
      Renamed(from_, to_);
      facts_.where = Where::AsAsked;
      return;
    case Step::ListChange:
      return ListChange();
    case Step::Done:
    case Step::Fail:
      return;
  }
}

// The spelling asked for is the one given: whether it is there tells both
// whether the entry is and whether the new spelling is taken.
void InPlace::LookAtGiven() {
  if (!Exists(dir_, from_)) {
    facts_.attempt = Attempt::NoEntry;
    return;
  }
  facts_.where = Where::Given;
  facts_.target = Target::Taken;
}

// Where the device's folding is unknown, the name in swapped case tells: a
// name without letters has nothing to change, and where the swapped one is
// missing, the device keeps case apart.
void InPlace::ProbeCase() {
  const std::string swapped = AsciiSwappedCase(from_);
  if (swapped == from_) {
    facts_.where = Where::AsAsked;
    return;
  }
  const bool missing = !Exists(dir_, swapped) && errno == ENOENT;
  facts_.otherCase = missing ? Known::No : Known::Yes;
}

// Another spelling found in the listing is the entry itself where the new
// spelling was seen taken; else it is tried afresh.
void InPlace::Locate() {
  const std::string onDisk = SpellingOnDisk(dir_, from_);
  if (onDisk.empty()) {
    const std::string parked = SpellingOnDisk(dir_, ParkedName(from_));
    facts_.where = parked.empty() ? Where::Gone : Where::Parked;
    if (!parked.empty()) from_ = parked;
    return;
  }
  if (onDisk == to_) {
    facts_.where = Where::AsAsked;
    return;
  }
  if (onDisk == from_) {
    facts_.where = Where::Given;
    return;
  }
  from_ = onDisk;
  facts_.where = Where::Listed;
  if (facts_.target == Target::Taken) {
    facts_.target = Target::Itself;
  } else {
    facts_.attempt = Attempt::None;
  }
}

// Something answers to the new spelling: the entry itself where the
// directory, read now, lists a single spelling of the name (the file system
// folds case), else another entry, which is never replaced.
void InPlace::ListTarget() {
  const std::vector<std::string> spellings = SpellingsReadNow(dir_, to_);
  if (spellings.size() != 1) {
    facts_.where = Where::NotSingle;
  } else if (spellings[0] == to_) {
    facts_.where = Where::AsAsked;
  } else {
    from_ = spellings[0];
    facts_.where = Where::Listed;
    facts_.target = Target::Itself;
  }
}

void InPlace::RenameOnto() {
  if (renameat(dir_.fd, from_.c_str(), dir_.fd, to_.c_str()) != 0) {
    facts_.attempt = errno == ENOENT ? Attempt::NoEntry : Attempt::Refused;
    return;
  }
  Renamed(from_, to_);
  facts_.made = Made::OneRename;
  facts_.shown = Shown::Unread;
}

void InPlace::RenameNoReplace() {
  const int error = RenameWithoutReplacing(quirks_, dir_.fd, from_, dir_.fd, to_);
  if (error == 0) {
    Renamed(from_, to_);
    facts_.where = Where::AsAsked;
  } else if (error == EEXIST) {
    facts_.target = Target::Taken;
  } else {
    facts_.attempt = error == ENOENT ? Attempt::NoEntry : Attempt::Refused;
  }
}

// Whether the change shows in the listing read now: the one spelling there
// is the new one, another (whose entry a further step starts from), or there
// are twins, or none.
void InPlace::ListChange() {
  const std::vector<std::string> spellings = SpellingsReadNow(dir_, to_);
  if (spellings.size() != 1) {
    facts_.shown = Shown::Lost;
  } else if (spellings[0] == to_) {
    facts_.shown = Shown::AsAsked;
  } else {
    from_ = spellings[0];
    facts_.shown = Shown::Other;
  }
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

const std::vector<size_t>& RowsOfLastCaseChange() {
  return Trail();
}

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
