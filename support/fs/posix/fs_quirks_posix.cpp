#include "support/fs/posix/fs_quirks_posix.h"

namespace dazi::posix {

DeviceQuirks& Devices::Of(dev_t device) {
  auto [found, added] = known_.try_emplace(device);
  if (added) {
    const std::string type = system_.MountType(device);
    found->second.losesMovedContents = type == "fuse.fusefat";
    found->second.steadyInodes = type.rfind("fuse", 0) != 0;
  }
  return found->second;
}

}  // namespace dazi::posix
