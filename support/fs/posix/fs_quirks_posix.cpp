#include "support/fs/posix/fs_quirks_posix.h"

namespace dazi::posix {

DeviceQuirks& Devices::Of(dev_t device) {
  auto [found, added] = known_.try_emplace(device);
  if (added) {
    // Where the mount table cannot be read, the device may be FAT through
    // FUSE: a directory's line then fails rather than risk emptying it.
    std::string type;
    const bool known = system_.MountType(device, type) == 0;
    found->second.losesMovedContents = !known || type == "fuse.fusefat";
    found->second.steadyInodes = type.rfind("fuse", 0) != 0;
  }
  return found->second;
}

}  // namespace dazi::posix
