#include "support/fs/posix/fs_quirks_posix.h"

#include <sys/sysmacros.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

namespace dazi::posix {

namespace {

// The file-system type of the device as the mount table names it.
std::string MountType(dev_t device) {
  const std::string wanted = std::to_string(major(device)) + ":" + std::to_string(minor(device));
  std::ifstream mounts("/proc/self/mountinfo");
  for (std::string line; std::getline(mounts, line);) {
    std::istringstream fields(line);
    std::string id, parent, mountDevice;
    fields >> id >> parent >> mountDevice;
    const size_t separator = line.find(" - ");
    if (mountDevice != wanted || separator == std::string::npos) continue;
    std::string type;
    std::istringstream(line.substr(separator + 3)) >> type;
    return type;
  }
  return {};
}

std::map<dev_t, DeviceQuirks>& Devices() {
  static std::map<dev_t, DeviceQuirks> known;
  return known;
}

}  // namespace

DeviceQuirks& QuirksOf(dev_t device) {
  auto [found, added] = Devices().try_emplace(device);
  if (added) {
    const std::string type = MountType(device);
    found->second.losesMovedContents = type == "fuse.fusefat";
    found->second.steadyInodes = type.rfind("fuse", 0) != 0;
  }
  return found->second;
}

void ForgetQuirks() {
  Devices().clear();
}

}  // namespace dazi::posix
