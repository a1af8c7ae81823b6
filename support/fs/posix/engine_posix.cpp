// The engine's renames: an entry's case is changed relative to the handle of
// its directory, which the walker reached; the tool renames nothing else. The
// entries of one directory come one after another in a sorted list, so the
// directory parts of the last rename and the directory they led to are kept:
// the next entry beside it costs no splitting and no walk.

#include "support/fs/posix/engine_posix.h"

#include "support/fs/posix/run_state_posix.h"
#include "support/text/locale.h"

namespace dazi::posix {

namespace {

// The working directory's path, for a walk of no components.
const std::string kHere = ".";

struct LastDirectory {
  std::string sourcePart, targetPart;
  unsigned generation = 0;
  WalkedDir dir;
  bool valid = false;
};

}  // namespace

struct Engine::State : RunState {
  using RunState::RunState;

  // Whether source and target directory parts name one directory; dir is
  // then the directory walked to, or null where it cannot be reached.
  bool WalkBeside(std::string_view sourcePart, std::string_view targetPart, WalkedDir*& dir);
  // Whether the directory's path still leads to the handle the walk holds:
  // a kept handle follows a directory that was moved away, out of the tree.
  bool StillInPlace(const WalkedDir& dir);
  // Whether the file system numbers the directory at path by spelling.
  bool NumberedBySpelling(const std::string& path, DirId now);
  bool NoLinkOnTheWay(const std::string& path);

  LastDirectory last;
};

bool Engine::State::WalkBeside(std::string_view sourcePart, std::string_view targetPart,
                               WalkedDir*& dir) {
  if (last.valid && last.generation == walker.Generation() && sourcePart == last.sourcePart &&
      targetPart == last.targetPart) {
    dir = StillInPlace(last.dir) ? &last.dir : nullptr;
    return true;
  }
  const SplitPath source = SplitComponents(sourcePart);
  if (!SameComponentsCaseless(source, SplitComponents(targetPart))) return false;
  last.valid = false;
  if (walker.Walk(source, last.dir) != 0) {
    dir = nullptr;
    return true;
  }
  last.sourcePart = sourcePart;
  last.targetPart = targetPart;
  last.generation = walker.Generation();
  last.valid = true;
  dir = StillInPlace(last.dir) ? &last.dir : nullptr;
  return true;
}

// The directory at the kept one's path has its number, or it is one the
// file system numbers by spelling (then only a link or a file in its place
// is caught). A link that the walk followed to the directory, as in the path
// the user gave, is followed here too ("link/." names its target).
bool Engine::State::StillInPlace(const WalkedDir& dir) {
  const std::string linked = dir.viaLink ? JoinPath(dir.path, ".") : std::string();
  const std::string& path = dir.viaLink ? linked : dir.path.empty() ? kHere : dir.path;
  EntryStatus status;
  if (system.Stat(kWorkingDirectory, path, status) != 0 || status.kind != EntryKind::Directory) {
    return false;
  }
  return status.id == dir.id ||
         (!dir.viaLink && NumberedBySpelling(dir.path, status.id) && NoLinkOnTheWay(dir.path));
}

// Where numbers tell nothing, a directory on the way that another process
// swapped for a link is caught by a look at each one.
bool Engine::State::NoLinkOnTheWay(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    EntryStatus status;
    if (system.Stat(kWorkingDirectory, OpenablePath(path.substr(0, slash)), status) != 0 ||
        status.kind != EntryKind::Directory) {
      return false;
    }
    if (slash == std::string::npos) return true;
  }
}

bool Engine::State::NumberedBySpelling(const std::string& path, DirId now) {
  const PathTail tail = SplitLast(path);
  int fd = -1;
  if (system.OpenDirectory(kWorkingDirectory, OpenablePath(std::string(tail.dirPart)),
                           FollowLink::Yes, fd) != 0) {
    return false;
  }
  EntryStatus status;
  const bool numbered =
      system.StatHandle(fd, status) == 0 &&
      NumbersBySpelling(system, listings, status.id, fd, std::string(tail.name), now);
  system.Close(fd);
  return numbered;
}

void RunState::SawUnaddressable(const WalkedDir& dir, std::string_view givenDir,
                                const std::string& name) {
  for (const std::string& base : {dir.path, std::string(givenDir)}) {
    const SplitPath split = SplitComponents(JoinPath(base, name));
    std::string path = split.absolute ? "/" : "";
    for (const std::string& component : split.components) path = JoinPath(path, component);
    unaddressable.insert(LocaleUpperCase(path));
  }
}

bool RunState::IsUnaddressable(const WalkedDir& dir, const std::string& name) const {
  return !unaddressable.empty() &&
         unaddressable.count(LocaleUpperCase(JoinPath(dir.path, name))) != 0;
}

Engine::Engine(System& system) : state_(std::make_unique<State>(system)) {}

Engine::~Engine() = default;

int32_t Engine::FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  return posix::FindFirst(*state_, pattern, mask, rec);
}

int32_t Engine::FindNext(TSearchRec& rec) {
  return posix::FindNext(rec);
}

bool Engine::Rename(std::string_view sourcePath, std::string_view targetPath) {
  const PathTail source = SplitLast(sourcePath);
  const PathTail target = SplitLast(targetPath);
  if (source.name.empty() || target.name.empty() || IsDotName(source.name) ||
      IsDotName(target.name)) {
    return false;
  }
  const std::string name(source.name);
  const std::string newName(target.name);
  WalkedDir* dir = nullptr;
  if (!SameUpperCase(name, newName) || !state_->WalkBeside(source.dirPart, target.dirPart, dir) ||
      dir == nullptr || state_->IsUnaddressable(*dir, name)) {
    return false;
  }
  return ChangeCaseInPlace(*state_, *dir, name, newName);
}

size_t Engine::DirectoryReads() const {
  return state_->listings.Reads();
}

const std::vector<size_t>& Engine::RowsOfLastCaseChange() const {
  return state_->trail;
}

}  // namespace dazi::posix
