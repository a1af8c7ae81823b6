#include "support/fs/posix/case_change_posix.h"

#include <iterator>

namespace dazi::posix {

namespace {

constexpr Known Yes = Known::Yes;
constexpr Known No = Known::No;
constexpr Known Unknown = Known::Unknown;
using enum Step;
using enum Lesson;
using enum Made;

// First match wins: where the entry turned out to stand; after a change, did
// it show; devices where case changes go through the parked name, and where
// moving a directory would empty it, also from its parked name; an entry
// found parked; a spelling that is missing; a spelling asked for that is the
// one given; a new spelling that answers; the first try.
// clang-format off
constexpr CaseRow kRows[] = {
    {.name = "gone", .where = Where::Gone, .step = Fail},
    {.name = "no single spelling", .where = Where::NotSingle, .step = Fail},
    {.name = "as asked", .where = Where::AsAsked, .step = Done},
    {.name = "refused", .attempt = Attempt::Refused, .step = Fail},
    // After a change: did it show in the listing read now?
    {.name = "steps, listing hides case", .made = TwoSteps, .listingHidesCase = true, .step = Done},
    {.name = "steps, showed here before", .made = TwoSteps, .showedHere = true, .step = Done},
    {.name = "steps, unread", .made = TwoSteps, .shown = Shown::Unread, .step = ListChange},
    {.name = "steps, lost", .made = TwoSteps, .shown = Shown::Lost, .step = Fail},
    {.name = "steps, shown", .made = TwoSteps, .shown = Shown::AsAsked, .step = Done, .lesson = CaseShowsHere},
    {.name = "steps, other shown", .made = TwoSteps, .shown = Shown::Other, .step = Done, .lesson = ListingHidesCase},
    {.name = "one rename, showed here before", .made = OneRename, .foldsCase = Yes, .showedHere = true, .step = Done},
    {.name = "one rename, unread", .made = OneRename, .shown = Shown::Unread, .step = ListChange},
    {.name = "one rename, lost", .made = OneRename, .shown = Shown::Lost, .step = Fail},
    {.name = "one rename, shown", .made = OneRename, .shown = Shown::AsAsked, .step = Done, .lesson = FoldsAndShows},
    {.name = "one rename, not taken", .made = OneRename, .shown = Shown::Other, .step = ThroughParked, .lesson = DirectChangeIgnored},
    // Devices where case changes go through the parked name.
    {.name = "two steps, unlooked", .where = Where::Unlooked, .inTwoSteps = true, .step = Locate},
    {.name = "two steps, kind unknown", .inTwoSteps = true, .movingEmpties = Unknown, .step = LookAtKind},
    {.name = "two steps, moving empties", .inTwoSteps = true, .movingEmpties = Yes, .step = Fail},
    // Found under its parked name, left by a killed run.
    {.name = "parked", .where = Where::Parked, .step = FinishParked},
    {.name = "two steps", .inTwoSteps = true, .step = ThroughParked},
    // The spelling given is missing.
    {.name = "missing, unlooked", .where = Where::Unlooked, .attempt = Attempt::NoEntry, .step = Locate},
    {.name = "missing, looked up", .attempt = Attempt::NoEntry, .step = Fail},
    // The spelling asked for is the one given.
    {.name = "as given, unlooked", .where = Where::Unlooked, .asAsked = true, .step = LookAtGiven},
    {.name = "as given, keeps case apart", .foldsCase = No, .asAsked = true, .step = Done},
    {.name = "as given, fold unknown", .foldsCase = Unknown, .asAsked = true, .otherCase = Unknown, .step = ProbeCase},
    {.name = "as given, other case missing", .asAsked = true, .otherCase = No, .step = Done, .lesson = KeepsCaseApart},
    {.name = "as given, folds", .asAsked = true, .step = Locate},
    // Something answers to the new spelling.
    {.name = "taken", .target = Target::Taken, .step = ListTarget},
    {.name = "itself, inodes unknown", .target = Target::Itself, .oneInode = Unknown, .step = CompareInodes},
    {.name = "itself, one inode", .target = Target::Itself, .oneInode = Yes, .step = ThroughParked, .lesson = DirectChangeIgnored},
    // Two numbers: another entry, or one that FUSE numbered for each
    // spelling; the rename onto it proves which first.
    {.name = "itself, other inode", .target = Target::Itself, .step = RenameOnto},
    // The first try.
    {.name = "folds, appeared", .foldsCase = Yes, .asciiOnly = true, .appeared = true, .step = Done},
    {.name = "folds", .foldsCase = Yes, .asciiOnly = true, .step = RenameOnto},
    {.name = "first try", .step = RenameNoReplace},
};
// clang-format on

template <typename T>
bool Fits(const std::optional<T>& wanted, T fact) {
  return !wanted || *wanted == fact;
}

bool Matches(const CaseRow& row, const CaseFacts& f) {
  return Fits(row.made, f.made) && Fits(row.shown, f.shown) && Fits(row.where, f.where) &&
         Fits(row.attempt, f.attempt) && Fits(row.target, f.target) &&
         Fits(row.inTwoSteps, f.inTwoSteps) && Fits(row.foldsCase, f.foldsCase) &&
         Fits(row.listingHidesCase, f.listingHidesCase) && Fits(row.showedHere, f.showedHere) &&
         Fits(row.asAsked, f.asAsked) && Fits(row.asciiOnly, f.asciiOnly) &&
         Fits(row.appeared, f.appeared) && Fits(row.movingEmpties, f.movingEmpties) &&
         Fits(row.otherCase, f.otherCase) && Fits(row.oneInode, f.oneInode);
}

}  // namespace

std::span<const CaseRow> CaseRows() {
  return kRows;
}

size_t DecidingRow(const CaseFacts& facts) {
  size_t row = 0;
  while (row + 1 < std::size(kRows) && !Matches(kRows[row], facts)) ++row;
  return row;
}

}  // namespace dazi::posix
