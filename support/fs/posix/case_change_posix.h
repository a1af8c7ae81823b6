#pragma once
// How a case change of an entry is made in its own directory: one rename, a
// rename through the parked name, or failure. The choice is one table of
// rows, facts in and one step out; the first row that the facts match
// decides. The rename engine takes the step, which tells it more (a rename
// made, a spelling found, a listing read), and asks the table again until a
// row says done or failed. A row may also teach the device something that
// holds for the rest of the run.

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

#include "support/fs/posix/fs_quirks_posix.h"

namespace dazi::posix {

// Where the entry stands, as far as it was looked at.
enum class Where {
  Unlooked,   // under the spelling given, not looked at yet
  Given,      // under the spelling given, seen there
  Listed,     // under the other spelling that the directory's listing gives
  AsAsked,    // under the spelling asked for: nothing (more) to do
  Parked,     // under its parked name, left by a killed run
  Gone,       // under no spelling
  NotSingle,  // the listing read now gives no single spelling of the name
};

// What the last rename tried, or the look at the spelling given, said.
enum class Attempt { None, NoEntry, Refused };

// What answers to the spelling asked for, where something does.
enum class Target {
  Unknown,
  Taken,   // something does
  Itself,  // the entry itself: the listing has it alone, under another spelling
};

enum class Made { Nothing, OneRename, TwoSteps };

// The listing read after the change: the name's spellings there.
enum class Shown { Unread, AsAsked, Other, Lost };

struct CaseFacts {
  // The device, as learned so far.
  bool inTwoSteps = false;  // a direct case change does not take there, or loses data
  Known foldsCase = Known::Unknown;
  bool listingHidesCase = false;
  bool showedHere = false;  // a case change made here showed in this directory's listing
  // The entry, from its spelling to the one asked for.
  bool asAsked = false;              // the two spellings are one
  bool asciiOnly = false;            // they differ in ASCII letters only
  bool appeared = false;             // the kept listing has the new spelling and not the old
  Known movingEmpties = Known::No;   // a directory that moving would empty
  Known otherCase = Known::Unknown;  // the name in swapped case answers (No: it is missing)
  Known oneInode = Known::Unknown;   // both spellings give one inode
  Where where = Where::Unlooked;
  Attempt attempt = Attempt::None;
  Target target = Target::Unknown;
  Made made = Made::Nothing;
  Shown shown = Shown::Unread;
};

enum class Step {
  Done,
  Fail,
  LookAtGiven,      // is the entry there under the spelling given?
  ProbeCase,        // does the name in swapped case answer?
  Locate,           // the entry's spelling in the listing, else its parked name
  ListTarget,       // the listing read now: what answers to the new spelling
  LookAtKind,       // is the entry a directory?
  CompareInodes,    // do both spellings give one inode?
  RenameOnto,       // one rename onto the new spelling, where it is proven to be the entry itself
  RenameNoReplace,  // one rename that never replaces anything
  ThroughParked,    // two renames through the parked name, neither replacing anything
  FinishParked,     // one rename from the parked name
  ListChange,       // the listing read now: did the change show?
};

// What a row teaches about the device, for the rest of the run.
enum class Lesson {
  None,
  CaseShowsHere,        // the directory's listing shows case changes
  FoldsAndShows,        // the device folds case, and the listing shows the change
  KeepsCaseApart,       // the device does not fold case
  DirectChangeIgnored,  // case changes go through the parked name from now on
  ListingHidesCase,     // listings there show one case: they are not read for it again
};

// A row: the facts it asks for (unset: any) and what it decides.
struct CaseRow {
  const char* name;
  std::optional<Made> made = {};
  std::optional<Shown> shown = {};
  std::optional<Where> where = {};
  std::optional<Attempt> attempt = {};
  std::optional<Target> target = {};
  std::optional<bool> inTwoSteps = {};
  std::optional<Known> foldsCase = {};
  std::optional<bool> listingHidesCase = {};
  std::optional<bool> showedHere = {};
  std::optional<bool> asAsked = {};
  std::optional<bool> asciiOnly = {};
  std::optional<bool> appeared = {};
  std::optional<Known> movingEmpties = {};
  std::optional<Known> otherCase = {};
  std::optional<Known> oneInode = {};
  Step step = Step::Fail;
  Lesson lesson = Lesson::None;
};

std::span<const CaseRow> CaseRows();

// The index of the first row the facts match; the last row matches any.
size_t DecidingRow(const CaseFacts& facts);

}  // namespace dazi::posix
