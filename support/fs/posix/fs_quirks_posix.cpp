#include "support/fs/posix/fs_quirks_posix.h"

namespace dazi::posix {

namespace {

// The device's type from the mount table ("" where it is not listed); where
// the table cannot be read, "fuse" for a device whose file system says it is
// FUSE and "" for any other. False where neither can be told.
bool TypeOfDevice(System& system, dev_t device, int handle, std::string& type, bool& fromTable) {
  fromTable = system.MountType(device, type) == 0;
  if (fromTable) return true;
  bool fuse = false;
  if (system.IsFuse(handle, fuse) != 0) return false;
  type = fuse ? "fuse" : "";
  return true;
}

}  // namespace

DeviceQuirks& Devices::Of(dev_t device, int handle) {
  auto [found, added] = known_.try_emplace(device);
  if (added) {
    // A FUSE device of no known type may be FAT through FUSE: a directory's
    // line then fails rather than risk emptying it.
    std::string type;
    bool fromTable = false;
    const bool known = TypeOfDevice(system_, device, handle, type, fromTable);
    const bool fuse = type.rfind("fuse", 0) == 0;
    found->second.losesMovedContents = !known || type == "fuse.fusefat" || (fuse && !fromTable);
  }
  return found->second;
}

DirFacts& Devices::Directory(DirId dir, const std::string& path) {
  if (last_ == nullptr || last_->first.first != dir || last_->first.second != path) {
    last_ = &*directories_.try_emplace({dir, path}).first;
  }
  return last_->second;
}

}  // namespace dazi::posix
