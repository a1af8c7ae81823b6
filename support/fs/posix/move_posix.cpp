// An entry renamed into another directory: the long way, which lets the
// walker's kept handles go, since paths may resolve otherwise afterwards.

#include "support/fs/posix/run_state_posix.h"

namespace dazi::posix {

namespace {

bool MoveBetween(RunState& run, const WalkedDir& from, const std::string& name, const WalkedDir& to,
                 int toHandle, const std::string& newName) {
  DeviceQuirks& quirks = run.devices.Of(from.id.first);
  const std::string onDisk = Exists(run, from, name) ? name : SingleSpellingOnDisk(run, from, name);
  if (onDisk.empty() || (quirks.losesMovedContents && !IsKnownNonDirectory(run, from, onDisk)) ||
      RenameNoReplace(run, quirks, from.fd, onDisk, toHandle, newName) != 0) {
    return false;
  }
  run.listings.Renamed(from.id, onDisk, to.id, newName);
  run.walker.Moved(from.id, onDisk, to.id, newName);
  return true;
}

}  // namespace

bool Move(RunState& run, const SplitPath& sourceDir, const std::string& name,
          const SplitPath& targetDir, const std::string& newName) {
  WalkedDir to;
  if (run.walker.Walk(targetDir, to) != 0) return false;
  // Walking to the source may close the target's handle: a copy of it stays.
  int toHandle = -1;
  if (run.system.Duplicate(to.fd, toHandle) != 0) return false;
  WalkedDir from;
  bool moved = false;
  if (run.walker.Walk(sourceDir, from) == 0) {
    moved = from.id == to.id ? RenameInPlace(run, from, name, newName)
                             : MoveBetween(run, from, name, to, toHandle, newName);
  }
  run.system.Close(toHandle);
  return moved;
}

}  // namespace dazi::posix
