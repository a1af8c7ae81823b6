#include "support/fs/posix/dir_walk_posix.h"

#include <cerrno>

#include "support/fs/parked_name.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi::posix {

namespace {

// Handles kept open for the walked path at most: a deep tree must not run
// out of descriptors.
constexpr size_t kMaxOpenSteps = 32;

// The longest name in bytes that the file systems the engine knows take: a
// parked spelling longer than that cannot be there.
constexpr size_t kLongestName = 255;

// A look that failed at an entry known to be there, or at a handle held: it
// must not read as "no directory", which would send the walk on to another
// spelling.
int FailedLook(int error) {
  return error == ENOTDIR ? EIO : error;
}

}  // namespace

bool IsDotName(std::string_view name) {
  return name == "." || name == "..";
}

SplitPath SplitComponents(std::string_view path) {
  SplitPath split;
  split.absolute = !path.empty() && IsSeparatorAt(path, 0);
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparatorAt(path, i)) continue;
    if (i > start) split.components.emplace_back(path.substr(start, i - start));
    start = i + 1;
  }
  return split;
}

PathTail SplitLast(std::string_view path) {
  size_t end = path.size();
  while (end > 0 && IsSeparatorAt(path, end - 1)) --end;
  size_t begin = end;
  while (begin > 0 && !IsSeparatorAt(path, begin - 1)) --begin;
  return {path.substr(0, begin), path.substr(begin, end - begin)};
}

bool SameUpperCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (!IsAscii(a) || !IsAscii(b)) return LocaleUpperCase(a) == LocaleUpperCase(b);
  return EqualIgnoringAsciiCase(a, b);
}

bool SameComponentsCaseless(const SplitPath& a, const SplitPath& b) {
  if (a.absolute != b.absolute || a.components.size() != b.components.size()) return false;
  for (size_t i = 0; i < a.components.size(); ++i) {
    if (!SameUpperCase(a.components[i], b.components[i])) return false;
  }
  return true;
}

std::string JoinPath(const std::string& dir, std::string_view name) {
  std::string path = dir;
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

const char* OpenablePath(const std::string& dir) {
  return dir.empty() ? "." : dir.c_str();
}

bool NumbersBySpelling(System& system, ListingCache& listings, DirId dir, int fd,
                       const std::string& name, DirId now) {
  const std::string swapped = AsciiSwappedCase(name);
  EntryStatus status;
  if (swapped == name || system.Stat(fd, swapped, status) != 0 || status.id == now ||
      status.id.first != now.first) {
    return false;
  }
  Listing* listing = listings.Read(dir, fd);
  return listing != nullptr && listing->CountSpellings(LocaleUpperCase(name)) == 1;
}

int DirWalker::Walk(const SplitPath& dir, WalkedDir& walked) {
  if (chain_.empty() || absolute_ != dir.absolute) {
    if (const int error = Start(dir.absolute); error != 0) return error;
  }
  size_t common = 0;
  while (common + 1 < chain_.size() && common < dir.components.size() &&
         chain_[common + 1].given == dir.components[common]) {
    ++common;
  }
  while (chain_.size() > common + 1) {
    Close(chain_.back());
    chain_.pop_back();
  }
  if (const int error = OpenStep(common); error != 0) return error;
  for (size_t i = common; i < dir.components.size(); ++i) {
    if (const int error = Descend(dir.components[i]); error != 0) return error;
  }
  const Step& last = chain_.back();
  walked.fd = last.fd;
  walked.id = last.id;
  walked.path = last.path;
  walked.viaLink = last.viaLink;
  return 0;
}

int DirWalker::Start(bool absolute) {
  Reset();
  Step root;
  root.path = absolute ? "/" : "";
  int error =
      system_.OpenDirectory(kWorkingDirectory, OpenablePath(root.path), FollowLink::Yes, root.fd);
  EntryStatus status;
  if (error == 0) error = system_.StatHandle(root.fd, status);
  if (error != 0) {
    Close(root);
    return error;
  }
  root.id = status.id;
  absolute_ = absolute;
  chain_.push_back(std::move(root));
  return 0;
}

// The handle of a kept step, opened again from its parent where it was
// closed; it must still lead to the directory it led to.
int DirWalker::OpenStep(size_t index) {
  Step& step = chain_[index];
  if (step.fd >= 0) return 0;
  if (index == 0) return EBADF;
  if (const int error = OpenStep(index - 1); error != 0) return error;
  Step reopened = step;
  reopened.fd = -1;
  if (const int error = Enter(chain_[index - 1], step.name, reopened); error != 0) return error;
  step.fd = reopened.fd;
  ++generation_;
  KeepWithinBudget(index);
  return 0;
}

// Takes one more component: its exact spelling, else the smallest spelling
// that differs in case only, else an entry parked under its name.
int DirWalker::Descend(const std::string& given) {
  Step& parent = chain_.back();
  Step next;
  next.given = given;
  int error = Enter(parent, given, next);
  if (error == ENOENT || error == ENOTDIR) error = EnterCaseless(parent, given, next);
  if (error != 0) return error;
  next.path = JoinPath(parent.path, next.name);
  chain_.push_back(std::move(next));
  KeepWithinBudget(chain_.size() - 1);
  return 0;
}

// The smallest spelling that differs in case only; where the name has none,
// the parked name of the spelling given, left by a killed run, else the
// smallest parked one (the rule a rename's last component follows too); a
// directory that changed since its listing was read (a kept spelling has
// gone, or the name is not there) is read again, once.
int DirWalker::EnterCaseless(const Step& parent, const std::string& given, Step& next) {
  int found = ENOENT;
  // Only a spelling that is not there, or no directory, lets the next one be
  // tried: a look that failed otherwise must not lead the walk to a twin.
  const auto enter = [&](const std::string& spelling) {
    const int error = Enter(parent, spelling, next);
    if (error == ENOENT || error == ENOTDIR) return false;
    found = error;
    return true;
  };
  Lookup lookup = listings_.OfferSpellings(parent.id, parent.fd, {LocaleUpperCase(given)}, enter);
  if (lookup != Lookup::NotListed) return lookup == Lookup::Unreadable ? EIO : found;
  const std::string parked = ParkedName(given);
  if (parked.size() <= kLongestName && enter(parked)) return found;
  lookup = listings_.OfferSpellings(parent.id, parent.fd, {LocaleUpperCase(parked)}, enter);
  // A directory that could not be read may yet hold the name.
  return lookup == Lookup::Unreadable ? EIO : found;
}

// Opens name in parent as a directory without following a link, or through
// a link where none was seen there before; 0 or an error code.
int DirWalker::Enter(const Step& parent, const std::string& name, Step& next) {
  next.name = name;
  next.viaLink = false;
  if (const int error = system_.OpenDirectory(parent.fd, name, FollowLink::No, next.fd);
      error != 0) {
    if (error != ELOOP && error != ENOTDIR) return error;
    EntryStatus status;
    if (const int statError = system_.Stat(parent.fd, name, status); statError != 0) {
      return FailedLook(statError);
    }
    if (status.kind == EntryKind::Directory) return EIO;  // and yet it did not open
    if (status.kind != EntryKind::Link) return ENOTDIR;
    if (seenAsDirectory_.count(LocaleUpperCase(JoinPath(parent.path, name))) != 0) return ELOOP;
    if (const int linkError = system_.OpenDirectory(parent.fd, name, FollowLink::Yes, next.fd);
        linkError != 0) {
      return linkError;
    }
    next.viaLink = true;
  }
  if (const int error = Check(parent, next); error != 0) {
    Close(next);
    return error;
  }
  return 0;
}

// The directory reached must be what this name led to before, if anything.
int DirWalker::Check(const Step& parent, Step& next) {
  EntryStatus status;
  if (const int error = system_.StatHandle(next.fd, status); error != 0) return FailedLook(error);
  next.id = status.id;
  const auto [found, first] = seen_.try_emplace({parent.id.first, parent.id.second, next.name});
  if (first) NoteSeenName(next.name);
  Seen& seen = found->second;
  const auto other = [&] {
    return seen.idKnown && seen.id != next.id &&
           !NumbersBySpelling(system_, listings_, parent.id, parent.fd, next.name, next.id);
  };
  if (!first && (seen.viaLink != next.viaLink || other())) return ELOOP;
  seen = {next.viaLink, true, next.id};
  if (!next.viaLink) SeenAsDirectory(parent.path, next.name);
  return 0;
}

void DirWalker::SawDirectory(const WalkedDir& dir, const std::string& name) {
  seen_.try_emplace({dir.id.first, dir.id.second, name});
  SeenAsDirectory(dir.path, name);
}

void DirWalker::SeenAsDirectory(const std::string& dirPath, const std::string& name) {
  seenAsDirectory_.insert(LocaleUpperCase(JoinPath(dirPath, name)));
  NoteSeenName(name);
}

void DirWalker::NoteSeenName(const std::string& name) {
  seenNames_.insert(LocaleUpperCase(name));
}

// A directory seen under its old path is seen under the new one too, and so
// is every directory seen below it. By path, not by the directory's number:
// FUSE may have numbered it anew since.
void DirWalker::FollowSeenPath(DirId from, const std::string& oldName, DirId to,
                               const std::string& newName) {
  const std::string* fromPath = PathOf(from);
  const std::string* toPath = PathOf(to);
  if (fromPath == nullptr || toPath == nullptr) return;
  const std::string oldPath = LocaleUpperCase(JoinPath(*fromPath, oldName));
  if (seenAsDirectory_.count(oldPath) == 0) return;
  const std::string newPath = LocaleUpperCase(JoinPath(*toPath, newName));
  std::vector<std::string> below;
  const std::string oldPrefix = oldPath + '/';
  for (auto it = seenAsDirectory_.lower_bound(oldPrefix);
       it != seenAsDirectory_.end() && it->starts_with(oldPrefix); ++it) {
    below.push_back(newPath + it->substr(oldPath.size()));
  }
  seenAsDirectory_.insert(newPath);
  seenAsDirectory_.insert(below.begin(), below.end());
  NoteSeenName(newName);
}

const std::string* DirWalker::PathOf(DirId dir) const {
  for (const Step& step : chain_) {
    if (step.id == dir) return &step.path;
  }
  return nullptr;
}

// The records of a directory seen follow its rename or move; an entry by a
// name no directory seen has (most are files) has none.
void DirWalker::FollowSeen(DirId from, const std::string& oldName, DirId to,
                           const std::string& newName) {
  if (seenNames_.count(LocaleUpperCase(oldName)) == 0) return;
  if (auto found = seen_.find({from.first, from.second, oldName}); found != seen_.end()) {
    const Seen moved = found->second;
    seen_.erase(found);
    // What a walk learnt of the directory under the new name stays where
    // the search that saw it under the old one learnt less.
    Seen& renamed = seen_[{to.first, to.second, newName}];
    if (moved.idKnown || !renamed.idKnown) renamed = moved;
    NoteSeenName(newName);
  }
  FollowSeenPath(from, oldName, to, newName);
}

void DirWalker::Renamed(DirId dir, const std::string& oldName, const std::string& newName) {
  FollowSeen(dir, oldName, dir, newName);
  for (size_t i = 1; i < chain_.size(); ++i) {
    if (chain_[i - 1].id == dir && chain_[i].name == oldName) {
      chain_[i].name = newName;
      for (size_t k = i; k < chain_.size(); ++k) {
        chain_[k].path = JoinPath(chain_[k - 1].path, chain_[k].name);
      }
      ++generation_;
      break;
    }
  }
}

void DirWalker::Close(Step& step) {
  if (step.fd >= 0) system_.Close(step.fd);
  step.fd = -1;
  ++generation_;
}

// Closes the shallowest kept handles beyond the budget, never the root's nor
// the one in use.
void DirWalker::KeepWithinBudget(size_t inUse) {
  size_t open = 0;
  for (const Step& step : chain_) open += step.fd >= 0 ? 1 : 0;
  for (size_t i = 1; open > kMaxOpenSteps && i < chain_.size(); ++i) {
    if (i == inUse || chain_[i].fd < 0) continue;
    Close(chain_[i]);
    --open;
  }
}

void DirWalker::Reset() {
  for (Step& step : chain_) Close(step);
  chain_.clear();
}

}  // namespace dazi::posix
