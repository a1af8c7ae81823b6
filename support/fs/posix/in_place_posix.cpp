// Renames in place, relative to the handle of the entry's directory, which
// the walker reached. How a case change is made (one rename, a rename through
// the parked name, or failure) is decided by the table of case_change_posix.h:
// InPlace only gathers the facts that a row asks for and takes the step that
// the row names. Interrupts are held between the two steps through the parked
// name, and a later run finishes what a killed one left parked.

#include <cerrno>
#include <optional>
#include <string>

#include "support/fs/parked_name.h"
#include "support/fs/posix/case_change_posix.h"
#include "support/fs/posix/run_state_posix.h"
#include "support/runtime/interrupts.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi::posix {

namespace {

// An error that says the file system takes no flags on a rename.
bool MeansFlagRefused(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

bool SameEntry(RunState& run, const WalkedDir& dir, const std::string& a, const std::string& b) {
  EntryStatus first, second;
  return run.system.Stat(dir.fd, a, first) == 0 && run.system.Stat(dir.fd, b, second) == 0 &&
         first.id == second.id;
}

// What the directory's listing, read now, has for the name: its one spelling
// there, or none where it has the name twice or not at all.
std::string SingleSpellingReadNow(RunState& run, const WalkedDir& dir, const std::string& name) {
  Listing* listing = run.listings.Read(dir.id, dir.fd);
  if (listing == nullptr) return {};
  const std::vector<std::string> spellings = listing->Spellings(LocaleUpperCase(name));
  return spellings.size() == 1 ? spellings[0] : std::string();
}

// Safety net: the table ends every case change within a handful of steps.
constexpr int kMostSteps = 16;

class InPlace {
 public:
  InPlace(RunState& run, const WalkedDir& dir)
      : run_(run),
        dir_(dir),
        quirks_(run.devices.Of(dir.id.first, dir.fd)),
        here_(run.devices.Directory(dir.id, dir.path)) {}

  bool ChangeCase(const std::string& name, const std::string& newName);

 private:
  bool SpelledTwice();
  bool MayRenameOnto();
  void Observe();
  void Learn(Lesson lesson);
  void Take(Step step);
  void LookAtGiven();
  void ProbeCase();
  void Locate();
  void ListTarget();
  void ListedAlone();
  void TakeRenameOnto();
  void TakeRenameNoReplace();
  void ThroughParkedName();
  void FromParkedName(const std::string& parked, bool moved);
  void FinishParked();
  void ListChange();
  Shown ReadSpellingNow();
  int RenameNoReplace(const std::string& from, const std::string& to) {
    return posix::RenameNoReplace(run_, quirks_, dir_.fd, from, dir_.fd, to);
  }
  void Renamed(const std::string& from, const std::string& to);

  RunState& run_;
  const WalkedDir& dir_;
  DeviceQuirks& quirks_;
  DirFacts& here_;
  std::string from_, to_;  // the entry's spelling as far as known, the one asked for
  std::string upper_;      // the name in upper case: that of both
  CaseFacts facts_;
};

// Asks the table for the next step until it says done or failed.
bool InPlace::ChangeCase(const std::string& name, const std::string& newName) {
  from_ = name;
  to_ = newName;
  upper_ = LocaleUpperCase(newName);
  facts_ = CaseFacts{};
  facts_.movingEmpties = quirks_.losesMovedContents ? Known::Unknown : Known::No;
  run_.trail.clear();
  // Two spellings of the name: which one a line means cannot be told, and
  // none of them is touched, whichever is upper case already.
  if (SpelledTwice()) facts_.where = Where::NotSingle;
  for (int i = 0; i < kMostSteps; ++i) {
    Observe();
    run_.trail.push_back(DecidingRow(facts_));
    const CaseRow& row = CaseRows()[run_.trail.back()];
    Learn(row.lesson);
    if (row.step == Step::Done || row.step == Step::Fail) return row.step == Step::Done;
    Take(row.step);
  }
  return false;
}

// The facts that cost no look at the disk, as they stand now.
void InPlace::Observe() {
  facts_.inTwoSteps = quirks_.CaseChangesInTwoSteps();
  facts_.foldsCase = here_.foldsCase;
  facts_.listingHidesCase = here_.listingHidesCase;
  facts_.showedHere = run_.listings.ShowedCaseChange(dir_.id);
  facts_.asAsked = from_ == to_;
  facts_.asciiOnly = DifferOnlyInAscii(from_, to_);
  // A listing kept up to date with the run's renames may tell that the entry
  // has its new spelling already (a path listed twice).
  const Listing* kept = run_.listings.Kept(dir_.id);
  facts_.appeared = kept != nullptr && kept->Holds(to_, upper_) && !kept->Holds(from_);
}

void InPlace::Learn(Lesson lesson) {
  switch (lesson) {
    case Lesson::None:
      break;
    case Lesson::FoldsAndShows:
      here_.foldsCase = Known::Yes;
      [[fallthrough]];
    case Lesson::CaseShowsHere:
      run_.listings.SawCaseChange(dir_.id);
      break;
    case Lesson::KeepsCaseApart:
      here_.foldsCase = Known::No;
      break;
    case Lesson::DirectChangeIgnored:
      quirks_.ignoresDirectCaseChange = true;
      break;
    case Lesson::ListingHidesCase:
      here_.listingHidesCase = true;
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
      facts_.movingEmpties = IsKnownNonDirectory(run_, dir_, from_) ? Known::No : Known::Yes;
      return;
    case Step::CompareInodes:
      facts_.oneInode = SameEntry(run_, dir_, from_, to_) ? Known::Yes : Known::No;
      return;
    case Step::RenameOnto:
      return TakeRenameOnto();
    case Step::RenameNoReplace:
      return TakeRenameNoReplace();
    case Step::ThroughParked:
      return ThroughParkedName();
    case Step::FinishParked:
      return FinishParked();
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
  if (!Exists(run_, dir_, from_)) {
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
  EntryStatus status;
  const bool missing = run_.system.Stat(dir_.fd, swapped, status) == ENOENT;
  facts_.otherCase = missing ? Known::No : Known::Yes;
}

// Another spelling found alone in the listing is taken up (ListedAlone).
// Where the entry is under no spelling, it may wait under its parked name:
// that of the spelling given first, else the one parked spelling in another
// case. Where the spelling given is missing and the listing has the name
// under two spellings, neither is taken: which one was meant cannot be told.
void InPlace::Locate() {
  const std::optional<std::vector<std::string>> listed = run_.listings.SpellingsWhere(
      dir_.id, dir_.fd, LocaleUpperCase(from_),
      [&](const std::string& spelling) { return !IsKnownMissing(run_, dir_, spelling); });
  // A listing that could not be read tells nothing; above all not that the
  // entry is gone and a leftover parked under its name is it.
  if (!listed) {
    facts_.attempt = Attempt::Refused;
    return;
  }
  const std::vector<std::string>& spellings = *listed;
  if (spellings.empty()) {
    const std::string exact = ParkedName(from_);
    const std::string parked =
        Exists(run_, dir_, exact) ? exact : SingleSpellingOnDisk(run_, dir_, exact);
    facts_.where = parked.empty() ? Where::Gone : Where::Parked;
    if (!parked.empty()) from_ = parked;
    return;
  }
  const std::string& onDisk = spellings[0];
  if (spellings.size() > 1 && facts_.where != Where::Given) {
    facts_.where = Where::NotSingle;
  } else if (onDisk == to_) {
    facts_.where = Where::AsAsked;
  } else if (onDisk == from_) {
    facts_.where = Where::Given;
  } else {
    from_ = onDisk;
    ListedAlone();
  }
}

// Something answers to the new spelling: the entry itself where the
// directory, read now, lists a single spelling of the name and the new one
// still answers (the file system folds case), else another entry, which is
// never replaced.
void InPlace::ListTarget() {
  switch (ReadSpellingNow()) {
    case Shown::Lost:
      facts_.where = Where::NotSingle;
      return;
    case Shown::AsAsked:
      facts_.where = Where::AsAsked;
      return;
    default:
      ListedAlone();
  }
}

// The listing, read now, has the name under one spelling, not the new one.
// The new spelling, seen taken, still answers: the file system folds case,
// and what answers is the entry itself. Where it has gone meanwhile, the
// entry is tried afresh, and nothing is learnt of the device.
void InPlace::ListedAlone() {
  facts_.where = Where::Listed;
  if (facts_.target == Target::Taken && Exists(run_, dir_, to_)) {
    facts_.target = Target::Itself;
  } else {
    facts_.target = Target::Unknown;
    facts_.attempt = Attempt::None;
  }
}

// The name's spellings in the directory's listing, or in what its search
// read where it has not changed since (hard links under two spellings are
// two): more than one where another entry answers to the spelling asked for,
// or would where the medium folds case. A directory that cannot be read may
// hold another unseen, so the name is not proven single.
bool InPlace::SpelledTwice() {
  return run_.listings.SpelledTwice(dir_.id, dir_.fd, upper_).value_or(true);
}

// The only rename that may replace what answers to the new spelling; see
// the invariant in engine_posix.h. The directory holds the entry alone under
// the name, not under the new spelling: proven by its listing read now, or,
// where a case change of this directory showed that its names fold and the
// spellings differ in ASCII letters only (a folding directory cannot hold a
// second entry of the name), by the listing kept up to date with the run's
// renames.
bool InPlace::MayRenameOnto() {
  if (!quirks_.noReplaceRefused || from_ == to_) return false;
  const bool foldsHere = here_.foldsCase == Known::Yes && DifferOnlyInAscii(from_, to_);
  Listing* kept = foldsHere ? run_.listings.Kept(dir_.id) : nullptr;
  Listing* listing = kept != nullptr ? kept : run_.listings.Read(dir_.id, dir_.fd);
  if (listing == nullptr || listing->Holds(to_, upper_)) return false;
  const std::vector<std::string> spellings = listing->Spellings(upper_);
  return spellings.size() == 1 && (spellings[0] == from_ || here_.listingHidesCase);
}

// A rename onto an answering spelling is issued only where the device
// refuses the no-replace flag. Whether it does is learnt from a no-replace
// rename onto the parked name, which is missing: where that is taken, the
// change goes on through the parked name, interrupts held until both steps
// are done; the one rename onto the new spelling needs no hold.
void InPlace::TakeRenameOnto() {
  if (!quirks_.noReplaceRefused) {
    InterruptHold hold;
    const std::string parked = ParkedName(from_);
    const int error = run_.system.Rename(dir_.fd, from_, dir_.fd, parked, Replace::Never);
    if (!MeansFlagRefused(error)) return FromParkedName(parked, error == 0);
    quirks_.noReplaceRefused = true;
  }
  if (!MayRenameOnto()) {
    // An entry not there under the spelling given is looked for elsewhere
    // (its parked name, another spelling), as after a rename that found none.
    facts_.attempt = IsKnownMissing(run_, dir_, from_) ? Attempt::NoEntry : Attempt::Refused;
    return;
  }
  if (const int error = run_.system.Rename(dir_.fd, from_, dir_.fd, to_, Replace::Allowed);
      error != 0) {
    facts_.attempt = error == ENOENT ? Attempt::NoEntry : Attempt::Refused;
    return;
  }
  Renamed(from_, to_);
  facts_.made = Made::OneRename;
  facts_.shown = Shown::Unread;
}

void InPlace::TakeRenameNoReplace() {
  const int error = RenameNoReplace(from_, to_);
  if (error == 0) {
    Renamed(from_, to_);
    facts_.where = Where::AsAsked;
  } else if (error == EEXIST) {
    facts_.target = Target::Taken;
  } else {
    facts_.attempt = error == ENOENT ? Attempt::NoEntry : Attempt::Refused;
  }
}

// Two renames, neither replacing anything; interrupts wait until both are
// done, and the entry gets its name back if the second fails.
void InPlace::ThroughParkedName() {
  const std::string parked = ParkedName(from_);
  InterruptHold hold;
  FromParkedName(parked, RenameNoReplace(from_, parked) == 0);
}

// The second of the two renames, where the first was made.
void InPlace::FromParkedName(const std::string& parked, bool moved) {
  if (moved && RenameNoReplace(parked, to_) != 0) {
    // Where the name cannot be given back, the entry stays parked, and the
    // listings and the walker know it so.
    if (RenameNoReplace(parked, from_) != 0) Renamed(from_, parked);
    moved = false;
  }
  if (!moved) {
    facts_.attempt = Attempt::Refused;
    return;
  }
  Renamed(from_, to_);
  facts_.made = Made::TwoSteps;
  facts_.shown = Shown::Unread;
}

void InPlace::FinishParked() {
  if (RenameNoReplace(from_, to_) != 0) {
    facts_.attempt = Attempt::Refused;
    return;
  }
  Renamed(from_, to_);
  facts_.where = Where::AsAsked;
}

// Whether the change shows in the listing read now.
void InPlace::ListChange() {
  facts_.shown = ReadSpellingNow();
}

// The name's spellings in the listing read now: the one spelling there is
// the new one, another (whose entry a further step starts from), or there
// are twins, or none (Lost).
Shown InPlace::ReadSpellingNow() {
  const std::string single = SingleSpellingReadNow(run_, dir_, to_);
  if (single.empty()) return Shown::Lost;
  if (single == to_) return Shown::AsAsked;
  from_ = single;
  return Shown::Other;
}

void InPlace::Renamed(const std::string& from, const std::string& to) {
  run_.listings.Renamed(dir_.id, from, to);
  run_.walker.Renamed(dir_.id, from, to);
}

}  // namespace

int RenameNoReplace(RunState& run, DeviceQuirks& quirks, int fromDir, const std::string& from,
                    int toDir, const std::string& to) {
  if (!quirks.noReplaceRefused) {
    const int error = run.system.Rename(fromDir, from, toDir, to, Replace::Never);
    if (!MeansFlagRefused(error)) return error;
    quirks.noReplaceRefused = true;
  }
  EntryStatus status;
  if (const int error = run.system.Stat(toDir, to, status); error != ENOENT) {
    return error == 0 ? EEXIST : error;
  }
  return run.system.Rename(fromDir, from, toDir, to, Replace::Allowed);
}

bool Exists(RunState& run, const WalkedDir& dir, const std::string& name) {
  EntryStatus status;
  return run.system.Stat(dir.fd, name, status) == 0;
}

bool IsKnownMissing(RunState& run, const WalkedDir& dir, const std::string& name) {
  EntryStatus status;
  return run.system.Stat(dir.fd, name, status) == ENOENT;
}

bool IsKnownNonDirectory(RunState& run, const WalkedDir& dir, const std::string& name) {
  EntryStatus status;
  return run.system.Stat(dir.fd, name, status) == 0 && status.kind != EntryKind::Directory;
}

std::string SingleSpellingOnDisk(RunState& run, const WalkedDir& dir, const std::string& name) {
  const std::optional<std::vector<std::string>> spellings = run.listings.SpellingsWhere(
      dir.id, dir.fd, LocaleUpperCase(name),
      [&](const std::string& spelling) { return Exists(run, dir, spelling); });
  return spellings && spellings->size() == 1 ? (*spellings)[0] : std::string();
}

bool ChangeCaseInPlace(RunState& run, const WalkedDir& dir, const std::string& name,
                       const std::string& newName) {
  return InPlace(run, dir).ChangeCase(name, newName);
}

}  // namespace dazi::posix
