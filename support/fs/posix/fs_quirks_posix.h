#pragma once
// What the file system of a device does with case changes, learned once per
// device as the run meets it: whether it folds letter case, whether renames
// take flags, whether its listings show a case change, and whether renaming a
// directory there loses the directory's contents.

#include <sys/types.h>

namespace dazi::posix {

enum class Known { Unknown, Yes, No };

struct DeviceQuirks {
  Known foldsCase = Known::Unknown;
  bool takesNoFlags = false;
  // fusefat: a moved directory comes out empty, its entries' clusters
  // orphaned, and a case-only rename of a file frees its clusters.
  bool losesMovedContents = false;
  // The file system reports a direct case change done without making it.
  bool ignoresDirectCaseChange = false;
  // Listings show every name in one case (lowntfs-3g with ignore_case): a
  // case change cannot be seen there.
  bool listingHidesCase = false;
  // Whether an entry keeps its inode number: FUSE file systems may number
  // one entry anew for each spelling it is looked up by, and again once the
  // kernel has let it go.
  bool steadyInodes = true;
  // Case changes are renames that go through another name.
  bool CaseChangesInTwoSteps() const { return losesMovedContents || ignoresDirectCaseChange; }
};

// The quirks of a device; the mount table is looked at the first time the
// device is met.
DeviceQuirks& QuirksOf(dev_t device);

void ForgetQuirks();

}  // namespace dazi::posix
