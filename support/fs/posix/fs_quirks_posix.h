#pragma once
// What the file system of a device does with case changes, learned once per
// device as the run meets it: whether it folds letter case, whether renames
// take flags, whether its listings show a case change, and whether renaming a
// directory there loses the directory's contents.

#include <map>

#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

enum class Known { Unknown, Yes, No };

struct DeviceQuirks {
  Known foldsCase = Known::Unknown;
  // Renames there take no flags: a rename that must not replace anything
  // looks at its target first.
  bool noReplaceRefused = false;
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

// The quirks of each device the run meets; the mount table is looked at the
// first time a device is met.
class Devices {
 public:
  explicit Devices(System& system) : system_(system) {}
  DeviceQuirks& Of(dev_t device);

 private:
  System& system_;
  std::map<dev_t, DeviceQuirks> known_;
};

}  // namespace dazi::posix
