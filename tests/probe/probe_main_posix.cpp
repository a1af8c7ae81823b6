// dazi_probe: asks the file-system probe's questions and prints one
// "question=answer" line each.
//
//   dazi_probe DIR            in a directory it makes in DIR, through the kernel
//   dazi_probe --model NAME   on the model: a preset (ext4, exfat, ntfs,
//                             ntfs_ignore_case, fat, overlay), each switch
//                             after it turned on (+name) or off (-name);
//                             +foldingDirectory makes the probe's directory
//                             fold case on its own (ext4's casefold flag)

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/fs/posix/system_posix.h"
#include "tests/unit/fs_probe_posix.h"

namespace {

using dazi::test_support::DeviceSwitches;
using dazi::test_support::ModelFs;
using dazi::test_support::ProbeAnswers;
using dazi::test_support::ProbeHands;

bool MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    if (mkdir(path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST) return false;
  }
  return true;
}

bool Written(int fd, const std::string& contents) {
  if (fd < 0) return false;
  const bool written =
      write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
  return close(fd) == 0 && written;
}

class KernelHands final : public ProbeHands {
 public:
  bool MakeFile(const std::string& path, const std::string& contents) override {
    return MakeParents(path) &&
           Written(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644), contents);
  }
  bool MakeDir(const std::string& path) override {
    return MakeParents(path) && mkdir(path.c_str(), 0755) == 0;
  }
  bool Remove(const std::string& path) override {
    return unlink(path.c_str()) == 0 || rmdir(path.c_str()) == 0;
  }
  bool WriteFile(const std::string& path, const std::string& contents) override {
    return Written(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644), contents);
  }
  // The kernel drops the dentries and inodes that nothing holds (root only).
  void Forget() override {
    sync();
    const int fd = open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) Written(fd, "2\n");
  }
};

struct Preset {
  const char* name;
  DeviceSwitches device;
};
const Preset kPresets[] = {
    {"ext4", DeviceSwitches::Ext4()}, {"exfat", DeviceSwitches::Exfat()},
    {"ntfs", DeviceSwitches::Ntfs()}, {"ntfs_ignore_case", DeviceSwitches::NtfsIgnoreCase()},
    {"fat", DeviceSwitches::Fat()},   {"overlay", DeviceSwitches::Overlay()},
};

bool* SwitchOf(DeviceSwitches& device, const std::string& name) {
  const std::pair<const char*, bool*> switches[] = {
      {"foldsCase", &device.foldsCase},
      {"listingHidesCase", &device.listingHidesCase},
      {"unsteadyInodes", &device.unsteadyInodes},
      {"fuse", &device.fuse},
      {"noReplaceRefused", &device.noReplaceRefused},
      {"losesMovedContents", &device.losesMovedContents},
      {"lowerLayerDirectories", &device.lowerLayerDirectories},
      {"asciiNamesOnly", &device.asciiNamesOnly},
      {"untypedListings", &device.untypedListings},
      {"wholeSecondTimes", &device.wholeSecondTimes},
      {"reusesInodes", &device.reusesInodes},
  };
  for (const auto& [switchName, field] : switches) {
    if (name == switchName) return field;
  }
  return nullptr;
}

// The preset and switches that the model's name gives; false where it names something
// else.
bool Parse(const std::string& model, DeviceSwitches& device, bool& foldingDirectory) {
  const size_t end = model.find_first_of("+-");
  const std::string preset = model.substr(0, end);
  bool found = false;
  for (const Preset& p : kPresets) {
    if (preset == p.name) device = p.device, found = true;
  }
  for (size_t at = end; found && at != std::string::npos;) {
    const size_t next = model.find_first_of("+-", at + 1);
    const std::string name = model.substr(at + 1, next - at - 1);
    const bool on = model[at] == '+';
    if (name == "foldingDirectory") {
      foldingDirectory = on;
    } else if (bool* field = SwitchOf(device, name); field != nullptr) {
      *field = on;
    } else {
      found = false;
    }
    at = next;
  }
  return found;
}

void Print(const ProbeAnswers& answers) {
  for (const auto& [question, answer] : answers) {
    std::printf("%s=%s\n", question.c_str(), answer.c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--model") == 0) {
    DeviceSwitches device;
    bool foldingDirectory = false;
    if (!Parse(argv[2], device, foldingDirectory)) {
      std::fprintf(stderr, "dazi_probe: no such model: %s\n", argv[2]);
      return 2;
    }
    ModelFs fs(device);
    fs.MakeDir("/probe");
    if (foldingDirectory) fs.SetFolding("/probe", true);
    Print(Probe(fs, "/probe"));
    return 0;
  }
  if (argc != 2 || argv[1][0] != '/') {
    std::fprintf(stderr, "usage: dazi_probe /ABSOLUTE/DIR | dazi_probe --model NAME\n");
    return 2;
  }
  const std::string dir = std::string(argv[1]) + "/dazi-probe";
  if (mkdir(dir.c_str(), 0755) != 0) {
    std::fprintf(stderr, "dazi_probe: %s: %s\n", dir.c_str(), std::strerror(errno));
    return 1;
  }
  dazi::posix::KernelSystem kernel;
  KernelHands hands;
  Print(Probe(kernel, hands, dir));
  return 0;
}
