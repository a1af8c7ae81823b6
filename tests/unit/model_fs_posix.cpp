#include "tests/unit/model_fs_posix.h"

#include <dirent.h>

#include <cerrno>
#include <utility>

#include "support/text/text.h"

namespace dazi::test_support {

using posix::EntryKind;
using posix::EntryStatus;
using posix::FollowLink;
using posix::kWorkingDirectory;
using posix::RawEntry;
using posix::Replace;

namespace {

constexpr size_t kNameMax = 255;
constexpr int kMostLinks = 40;

std::string AsciiLowerCase(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// The name in upper case, or in lower case where it is upper case already.
std::string TwinOf(const std::string& name) {
  const std::string upper = AsciiUpperCase(name);
  return upper != name ? upper : AsciiLowerCase(name);
}

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    if (i > start) parts.push_back(path.substr(start, i - start));
    start = i + 1;
  }
  return parts;
}

std::string Joined(const std::string& dir, const std::string& name) {
  return dir.ends_with('/') ? dir + name : dir + '/' + name;
}

}  // namespace

struct ModelFs::Node {
  Node(NodeKind k, uint64_t s, std::string c) : kind(k), serial(s), contents(std::move(c)) {}

  NodeKind kind;
  uint64_t serial;
  std::string contents;  // a file's contents, a link's target
  ChildMap children;
  Node* parent = nullptr;  // a directory's, for ".."
  int64_t changes = 0;     // counts the changes of a directory's entries
  int handles = 0;
  std::map<std::string, ino_t> numbers;  // unsteady inode numbers, by the spelling looked up

  EntryStatus Status(ino_t number) const {
    EntryStatus status;
    status.id = {kDevice, number};
    status.kind = kind == NodeKind::Directory ? EntryKind::Directory
                  : kind == NodeKind::Link    ? EntryKind::Link
                                              : EntryKind::Other;
    status.size = contents.size();
    status.changed = {changes, 0};
    return status;
  }
};

// Where a path leads: the directory that holds its last component and the
// entry that the component names there, null where none does. A path without
// components, or one that ends in "." or "..", names a directory that no
// directory holds here.
struct ModelFs::Place {
  Node* dir = nullptr;
  std::string name;    // the last component as given
  std::string stored;  // the spelling that the entry is stored under
  Node* node = nullptr;
};

ModelFs::ModelFs(DeviceSwitches device) : device_(device), root_(New(NodeKind::Directory)) {
  root_->parent = root_;
}

ModelFs::~ModelFs() = default;

ModelFs::Node* ModelFs::New(NodeKind kind, std::string contents) {
  nodes_.push_back(std::make_unique<Node>(kind, nodes_.size() + 1, std::move(contents)));
  return nodes_.back().get();
}

uint64_t ModelFs::MakeHardLink(const std::string& existing, const std::string& path) {
  Node* node = Exact(existing);
  return node != nullptr && node->kind != NodeKind::Directory ? Add(path, node->kind, {}, node) : 0;
}

// Makes the directories on the way that are missing, then the entry (or a
// name of the existing one).
uint64_t ModelFs::Add(const std::string& path, NodeKind kind, std::string contents,
                      Node* existing) {
  const std::vector<std::string> parts = Components(path);
  if (parts.empty()) return 0;
  Node* dir = root_;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const auto found = Find(dir, parts[i]);
    Node* next = found != dir->children.end() ? found->second : nullptr;
    if (next == nullptr) {
      if (parts[i].size() > kNameMax) return 0;
      next = New(NodeKind::Directory);
      Attach(dir, parts[i], next);
    }
    if (next->kind != NodeKind::Directory) return 0;
    dir = next;
  }
  const std::string& name = parts.back();
  if (name.size() > kNameMax || name == "." || name == ".." ||
      Find(dir, name) != dir->children.end()) {
    return 0;
  }
  Node* node = existing != nullptr ? existing : New(kind, std::move(contents));
  Attach(dir, name, node);
  return node->serial;
}

ModelFs::Node* ModelFs::Exact(const std::string& path) const {
  Node* node = root_;
  for (const std::string& part : Components(path)) {
    if (node->kind != NodeKind::Directory) return nullptr;
    const auto found = node->children.find(part);
    if (found == node->children.end()) return nullptr;
    node = found->second;
  }
  return node;
}

std::vector<ModelFs::Entry> ModelFs::Snapshot(const std::string& dir) const {
  std::vector<Entry> entries;
  const auto add = [&](const auto& self, const Node* node, const std::string& path) -> void {
    for (const auto& [name, child] : node->children) {
      entries.push_back({Joined(path, name), child->serial, child->kind, child->contents});
      if (child->kind == NodeKind::Directory) self(self, child, Joined(path, name));
    }
  };
  if (const Node* top = Exact(dir); top != nullptr) add(add, top, dir);
  return entries;
}

std::vector<std::string> ModelFs::Names(const std::string& dir) const {
  std::vector<std::string> names;
  if (const Node* node = Exact(dir); node != nullptr) {
    for (const auto& entry : node->children) names.push_back(entry.first);
  }
  return names;
}

uint64_t ModelFs::SerialOf(const std::string& path) const {
  const Node* node = Exact(path);
  return node != nullptr ? node->serial : 0;
}

std::map<std::string, uint64_t> ModelFs::Children(uint64_t dir) const {
  std::map<std::string, uint64_t> children;
  if (dir == 0 || dir > nodes_.size()) return children;
  for (const auto& [name, child] : nodes_[dir - 1]->children) children[name] = child->serial;
  return children;
}

NodeKind ModelFs::KindOf(uint64_t serial) const {
  return nodes_.at(serial - 1)->kind;
}

uint64_t ModelFs::Resolve(int at, const std::string& path) {
  Place place;
  if (Locate(at, path, place, 0) != 0 || place.node == nullptr) return 0;
  return place.node->serial;
}

void ModelFs::Restart() {
  while (!handles_.empty()) Release(handles_.begin()->first);
  dead_ = false;
  cutAt_ = 0;
  calls_ = 0;
  failures_.clear();
  pending_.clear();
  known_.clear();
}

// The stored spelling that name finds in dir: the same, else on a device
// that folds case one that differs in ASCII letter case only.
ModelFs::ChildMap::iterator ModelFs::Find(Node* dir, const std::string& name) {
  const auto found = dir->children.find(name);
  if (found != dir->children.end() || !device_.foldsCase) return found;
  for (auto it = dir->children.begin(); it != dir->children.end(); ++it) {
    if (EqualIgnoringAsciiCase(it->first, name)) return it;
  }
  return dir->children.end();
}

// Resolves path from the handle at (from the root where it is the working
// directory or the path is absolute), following every link on the way but
// none in the last component.
int ModelFs::Locate(int at, const std::string& path, Place& place, int depth) {
  place = Place{};
  if (path.empty()) return ENOENT;
  place.node = root_;
  if (path[0] != '/' && at != kWorkingDirectory) {
    const Handle* handle = HandleOf(at);
    if (handle == nullptr) return EBADF;
    place.node = handle->node;
  }
  const std::vector<std::string> parts = Components(path);
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (const int error = Follow(place.node, depth, place.node); error != 0) return error;
    if (place.node->kind != NodeKind::Directory) return ENOTDIR;
    if (part.size() > kNameMax) return ENAMETOOLONG;
    Node* dir = place.node;
    place = Place{};
    if (part == "." || part == "..") {
      place.node = part == "." ? dir : dir->parent;
      continue;
    }
    const auto found = Find(dir, part);
    place.dir = dir;
    place.name = part;
    if (found == dir->children.end()) return i + 1 == parts.size() ? 0 : ENOENT;
    place.stored = found->first;
    place.node = found->second;
  }
  return 0;
}

// What node leads to: itself, or where its links lead.
int ModelFs::Follow(Node* node, int depth, Node*& target) {
  while (node->kind == NodeKind::Link) {
    if (++depth > kMostLinks) return ELOOP;
    Place place;
    if (const int error = Locate(kWorkingDirectory, node->contents, place, depth); error != 0) {
      return error;
    }
    if (place.node == nullptr) return ENOENT;
    node = place.node;
  }
  target = node;
  return 0;
}

ModelFs::Handle* ModelFs::HandleOf(int handle) {
  const auto found = handles_.find(handle);
  if (found != handles_.end()) return &found->second;
  ++misuses_;
  return nullptr;
}

ino_t ModelFs::Number(Node* node, const std::string& spelling) {
  if (!device_.unsteadyInodes) return node->serial;
  const auto [found, added] = node->numbers.try_emplace(spelling, nextNumber_);
  if (added) ++nextNumber_;
  return found->second;
}

void ModelFs::Attach(Node* dir, const std::string& name, Node* node) {
  dir->children[name] = node;
  ++dir->changes;
  if (node->kind == NodeKind::Directory) node->parent = dir;
}

void ModelFs::Release(int handle) {
  Node* node = handles_.at(handle).node;
  handles_.erase(handle);
  if (--node->handles == 0) node->numbers.clear();  // the kernel lets the entry go
}

// Counts the call, makes the changes due before it, and tells whether it
// fails.
int ModelFs::Begin() {
  ++calls_;
  if (!dead_) {
    for (const Change& change : pending_) {
      if (change.beforeCall == calls_) Apply(change);
    }
  }
  if (cutAt_ != 0 && calls_ >= cutAt_) dead_ = true;
  if (dead_) return EIO;
  const auto failure = failures_.find(calls_);
  return failure != failures_.end() ? failure->second : 0;
}

void ModelFs::Apply(const Change& change) {
  struct Spot {
    Node* dir;
    std::string name;
    Node* node;
    std::string below;  // its path below change.under
  };
  Place top;
  if (Locate(kWorkingDirectory, change.under, top, 0) != 0 || top.node == nullptr ||
      top.node->kind != NodeKind::Directory) {
    return;
  }
  const bool swap =
      change.kind == ChangeKind::SwapForLink || change.kind == ChangeKind::SwapForDirectory;
  std::vector<Spot> spots;
  if (swap && top.dir != nullptr) spots.push_back({top.dir, top.stored, top.node, ""});
  const auto add = [&](const auto& self, Node* dir, const std::string& below) -> void {
    for (const auto& [name, child] : dir->children) {
      spots.push_back({dir, name, child, below + '/' + name});
      if (child->kind == NodeKind::Directory) self(self, child, below + '/' + name);
    }
  };
  add(add, top.node, "");
  std::erase_if(spots, [&](const Spot& spot) {
    const bool directory = spot.node->kind == NodeKind::Directory;
    switch (change.kind) {
      case ChangeKind::SwapForLink:
        return !directory || known_.count(spot.node->serial) == 0;
      case ChangeKind::SwapForDirectory:
        return !directory;
      case ChangeKind::Remove:
        return false;
      case ChangeKind::AddTwin:
        return device_.foldsCase || TwinOf(spot.name) == spot.name ||
               spot.dir->children.count(TwinOf(spot.name)) != 0;
    }
    return true;
  });
  if (spots.empty()) return;
  const Spot& spot = spots[change.pick % spots.size()];
  ChangeMade made;
  made.kind = change.kind;
  made.beforeCall = calls_;
  made.dir = spot.dir->serial;
  made.entry = spot.node->serial;
  Node* put = nullptr;
  if (change.kind == ChangeKind::AddTwin) {
    put = New(NodeKind::File, "twin");
    Attach(spot.dir, TwinOf(spot.name), put);
  } else {
    const auto takeOut = [&](const auto& self, const Node* node) -> void {
      made.takenOut.push_back(node->serial);
      for (const auto& entry : node->children) self(self, entry.second);
    };
    takeOut(takeOut, spot.node);
    spot.dir->children.erase(spot.name);
    ++spot.dir->changes;
    if (change.kind == ChangeKind::SwapForLink)
      put = New(NodeKind::Link, change.mirror + spot.below);
    if (change.kind == ChangeKind::SwapForDirectory) put = New(NodeKind::Directory);
    if (put != nullptr) Attach(spot.dir, spot.name, put);
  }
  made.added = put != nullptr ? put->serial : 0;
  made_.push_back(std::move(made));
}

int ModelFs::OpenDirectory(int dir, const std::string& name, FollowLink follow, int& handle) {
  if (const int error = Begin(); error != 0) return error;
  Place place;
  if (const int error = Locate(dir, name, place, 0); error != 0) return error;
  Node* node = place.node;
  if (node == nullptr) return ENOENT;
  if (node->kind == NodeKind::Link && follow == FollowLink::No) return ELOOP;
  if (const int error = Follow(node, 0, node); error != 0) return error;
  if (node->kind != NodeKind::Directory) return ENOTDIR;
  handle = nextHandle_++;
  handles_[handle] = {node, Number(node, place.name)};
  ++node->handles;
  return 0;
}

int ModelFs::Stat(int dir, const std::string& name, EntryStatus& status) {
  if (const int error = Begin(); error != 0) return error;
  Place place;
  if (const int error = Locate(dir, name, place, 0); error != 0) return error;
  if (place.node == nullptr) return ENOENT;
  status = place.node->Status(Number(place.node, place.name));
  return 0;
}

int ModelFs::StatHandle(int handle, EntryStatus& status) {
  if (const int error = Begin(); error != 0) return error;
  const Handle* open = HandleOf(handle);
  if (open == nullptr) return EBADF;
  status = open->node->Status(open->number);
  known_.insert(open->node->serial);
  return 0;
}

int ModelFs::ReadEntries(int handle, std::vector<RawEntry>& entries) {
  if (const int error = Begin(); error != 0) return error;
  const Handle* open = HandleOf(handle);
  if (open == nullptr) return EBADF;
  entries.push_back({".", DT_DIR});
  entries.push_back({"..", DT_DIR});
  for (const auto& [name, node] : open->node->children) {
    const unsigned char type = node->kind == NodeKind::Directory ? DT_DIR
                               : node->kind == NodeKind::Link    ? DT_LNK
                                                                 : DT_REG;
    entries.push_back({device_.listingHidesCase ? AsciiLowerCase(name) : name, type});
  }
  return 0;
}

// As rename(2): the last components are not followed; an entry that answers
// to the target is replaced where that is allowed, and is then lost.
int ModelFs::Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
                    Replace replace) {
  if (const int error = Begin(); error != 0) return error;
  Place source, target;
  if (const int error = Locate(fromDir, from, source, 0); error != 0) return error;
  if (const int error = Locate(toDir, to, target, 0); error != 0) return error;
  if (source.node == nullptr) return ENOENT;
  if (source.dir == nullptr || target.dir == nullptr) return EBUSY;
  Node* moving = source.node;
  const bool directory = moving->kind == NodeKind::Directory;
  if (target.node != nullptr) {
    if (replace == Replace::Never) return EEXIST;
    if (target.dir == source.dir && target.stored == source.stored) {
      return RenameSameEntry(source, target);
    }
    if (target.node == moving) return 0;  // two names of one node: nothing to do
    const bool onDirectory = target.node->kind == NodeKind::Directory;
    if (directory != onDirectory) return directory ? ENOTDIR : EISDIR;
    if (onDirectory && !target.node->children.empty()) return ENOTEMPTY;
  } else if (replace == Replace::Never && device_.noReplaceRefused) {
    return EINVAL;
  }
  if (directory && device_.lowerLayerDirectories) return EXDEV;
  for (Node* up = target.dir; directory && up != root_; up = up->parent) {
    if (up == moving) return EINVAL;  // into itself
  }
  source.dir->children.erase(source.stored);
  ++source.dir->changes;
  if (target.node != nullptr) target.dir->children.erase(target.stored);
  Attach(target.dir, target.name, moving);
  if (directory && device_.losesMovedContents) moving->children.clear();
  return 0;
}

// One entry reached by two spellings (the device folds case): it takes the
// spelling of the target.
int ModelFs::RenameSameEntry(const Place& from, const Place& to) {
  Node* node = from.node;
  if (to.name == from.stored || device_.listingHidesCase) return 0;
  if (node->kind == NodeKind::Directory && device_.lowerLayerDirectories) return EXDEV;
  from.dir->children.erase(from.stored);
  Attach(from.dir, to.name, node);
  if (device_.losesMovedContents) {
    node->children.clear();
    if (node->kind == NodeKind::File) node->contents.clear();
  }
  return 0;
}

int ModelFs::Duplicate(int handle, int& copy) {
  if (const int error = Begin(); error != 0) return error;
  const Handle* open = HandleOf(handle);
  if (open == nullptr) return EBADF;
  const Handle same = *open;
  copy = nextHandle_++;
  handles_[copy] = same;
  ++same.node->handles;
  return 0;
}

void ModelFs::Close(int handle) {
  if (handle < 0 || dead_) return;
  if (HandleOf(handle) != nullptr) Release(handle);
}

int ModelFs::MountType(dev_t device, std::string& type) {
  if (const int error = Begin(); error != 0) return error;
  type.clear();
  if (device != kDevice) return 0;
  if (device_.losesMovedContents) {
    type = "fuse.fusefat";
  } else if (device_.fuse || device_.unsteadyInodes) {
    type = "fuseblk";
  } else {
    type = device_.lowerLayerDirectories ? "overlay" : "ext4";
  }
  return 0;
}

}  // namespace dazi::test_support
