#pragma once
// What the file system does with case changes. A device's driver decides
// whether renames take flags, whether renaming a directory loses its contents
// and whether a direct case change is ignored; these are learned once per
// device. Whether names fold and whether listings show the case a name was
// made with are decided per directory: folding is a property of a directory
// on Linux (ext4 and f2fs casefold), and FUSE pass-throughs (bindfs, mergerfs)
// put several file systems under one device number.

#include <map>
#include <string>
#include <utility>

#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

enum class Known { Unknown, Yes, No };

struct DeviceQuirks {
  // Renames there take no flags: a rename that must not replace anything
  // looks at its target first.
  bool noReplaceRefused = false;
  // fusefat: a moved directory comes out empty, its entries' clusters
  // orphaned, and a case-only rename of a file frees its clusters.
  bool losesMovedContents = false;
  // The file system reports a direct case change done without making it.
  bool ignoresDirectCaseChange = false;
  // Case changes are renames that go through another name.
  bool CaseChangesInTwoSteps() const { return losesMovedContents || ignoresDirectCaseChange; }
};

// What a look into one directory showed; nothing else decides these.
struct DirFacts {
  Known foldsCase = Known::Unknown;
  // Listings there show every name in one case (lowntfs-3g with
  // ignore_case): a case change cannot be seen there.
  bool listingHidesCase = false;
};

// The quirks of each device the run meets, and the facts of each directory;
// the mount table is looked at the first time a device is met.
class Devices {
 public:
  explicit Devices(System& system) : system_(system) {}
  // handle: an open directory of the device, asked where the mount table
  // cannot be read.
  DeviceQuirks& Of(dev_t device, int handle);
  // A directory, by its identity and the path it was reached by: inode
  // numbers alone may be reused, or shared by the file systems a FUSE
  // pass-through joins.
  DirFacts& Directory(DirId dir, const std::string& path);

 private:
  System& system_;
  std::map<dev_t, DeviceQuirks> known_;
  std::map<std::pair<DirId, std::string>, DirFacts> directories_;
  // The directory asked for last: the run renames its entries one after
  // another.
  std::pair<const std::pair<DirId, std::string>, DirFacts>* last_ = nullptr;
};

}  // namespace dazi::posix
