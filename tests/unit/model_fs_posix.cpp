#include "tests/unit/model_fs_posix.h"

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cwctype>
#include <optional>
#include <span>
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
// Change times start here (seconds since the epoch); each change moves the
// clock on by a microsecond.
constexpr int64_t kEpoch = 1'800'000'000;
constexpr int64_t kTick = 1000;
constexpr int64_t kSecond = 1'000'000'000;
// Above every serial: the numbers of nodes that came back after theirs was
// freed.
constexpr ino_t kRenumbered = ino_t{1} << 30;

std::string AsciiLowerCase(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

constexpr char32_t kNoCharacter = char32_t(-1);
constexpr char32_t kFinalSigma = 0x3c2, kCapitalSigma = 0x3a3;

struct Span {
  char32_t first, last;
};
// Lower-case letters that an up-case table leaves alone though Unicode maps
// them to an upper case and back: pairs Unicode gained after the table was
// made. Measured on volumes made by mkfs.exfat and mkntfs, over Latin-1 to
// Cyrillic Supplement, Latin Extended Additional to -D, Greek Extended,
// Glagolitic, Coptic, Georgian, Cyrillic Extended-B and the fullwidth forms.
constexpr Span kExfatLacks[] = {
    {0x023f, 0x0240}, {0x0371, 0x0373}, {0x0377, 0x0377}, {0x03d7, 0x03d7}, {0x03f3, 0x03f3},
    {0x0515, 0x052f}, {0x1efb, 0x1eff}, {0x2c5f, 0x2c5f}, {0x2c73, 0x2c73}, {0x2cec, 0x2cee},
    {0x2cf3, 0x2cf3}, {0x2d27, 0x2d27}, {0x2d2d, 0x2d2d}, {0xa641, 0xa66d}, {0xa681, 0xa69b},
    {0xa723, 0xa72f}, {0xa733, 0xa76f}, {0xa77a, 0xa77c}, {0xa77f, 0xa787}, {0xa78c, 0xa78c},
    {0xa791, 0xa794}, {0xa797, 0xa7a9}, {0xa7b5, 0xa7c3}, {0xa7c8, 0xa7ca}, {0xa7d1, 0xa7d1},
    {0xa7d7, 0xa7d9}, {0xa7f6, 0xa7f6},
};
constexpr Span kNtfsLacks[] = {
    {0x023f, 0x0240}, {0x03f3, 0x03f3}, {0x0525, 0x052f}, {0x2c5f, 0x2c5f}, {0x2cec, 0x2cee},
    {0x2cf3, 0x2cf3}, {0x2d27, 0x2d27}, {0x2d2d, 0x2d2d}, {0xa661, 0xa661}, {0xa699, 0xa69b},
    {0xa791, 0xa794}, {0xa797, 0xa7a9}, {0xa7b5, 0xa7c3}, {0xa7c8, 0xa7ca}, {0xa7d1, 0xa7d1},
    {0xa7d7, 0xa7d9}, {0xa7f6, 0xa7f6},
};

bool Within(std::span<const Span> spans, char32_t c) {
  return std::any_of(spans.begin(), spans.end(),
                     [&](const Span& span) { return c >= span.first && c <= span.last; });
}

// The code point that a UTF-8 sequence starts at text[at], and its length;
// kNoCharacter (length 1) where none does.
char32_t Decoded(const std::string& text, size_t at, size_t& length) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = lead < 0x80                   ? 1
           : lead >= 0xc2 && lead < 0xe0 ? 2
           : lead >= 0xe0 && lead < 0xf0 ? 3
           : lead >= 0xf0 && lead < 0xf5 ? 4
                                         : 0;
  if (length == 0 || at + length > text.size()) return length = 1, kNoCharacter;
  char32_t point = length == 1 ? lead : lead & (0x7f >> length);
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xc0) != 0x80) return length = 1, kNoCharacter;
    point = point << 6 | (byte(at + i) & 0x3f);
  }
  const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  return point < least[length] || (point >= 0xd800 && point < 0xe000) ? kNoCharacter : point;
}

void AppendUtf8(std::string& text, char32_t point) {
  if (point < 0x80) {
    text += static_cast<char>(point);
  } else if (point < 0x800) {
    text += static_cast<char>(0xc0 | point >> 6);
    text += static_cast<char>(0x80 | (point & 0x3f));
  } else if (point < 0x10000) {
    text += static_cast<char>(0xe0 | point >> 12);
    text += static_cast<char>(0x80 | (point >> 6 & 0x3f));
    text += static_cast<char>(0x80 | (point & 0x3f));
  } else {
    text += static_cast<char>(0xf0 | point >> 18);
    text += static_cast<char>(0x80 | (point >> 12 & 0x3f));
    text += static_cast<char>(0x80 | (point >> 6 & 0x3f));
    text += static_cast<char>(0x80 | (point & 0x3f));
  }
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
  Node* parent = nullptr;        // a directory's, for ".."
  int64_t changedAt = 0;         // the clock at its last change, or its entries' last
  int64_t entriesChangedAt = 0;  // a directory's, at its entries' last change
  int names = 0;
  int handles = 0;
  ino_t number = 0;  // its steady inode number
  bool numberFreed = false;
  std::optional<bool> folds;             // a directory's own folding, else the device's
  std::map<std::string, ino_t> numbers;  // unsteady inode numbers, by the spelling looked up

  EntryStatus Status(ino_t shown, std::pair<int64_t, long> changed,
                     std::pair<int64_t, long> entriesChanged) const {
    EntryStatus status;
    status.id = {kDevice, shown};
    status.kind = kind == NodeKind::Directory ? EntryKind::Directory
                  : kind == NodeKind::Link    ? EntryKind::Link
                                              : EntryKind::Other;
    status.size = contents.size();
    status.changed = changed;
    status.entriesChanged = entriesChanged;
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

ModelFs::ModelFs(DeviceSwitches device)
    : device_(device), utf8_(newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {
  root_ = New(NodeKind::Directory);
  root_->parent = root_;
  root_->names = 1;  // the mount holds it
}

ModelFs::~ModelFs() {
  if (utf8_ != locale_t{}) freelocale(utf8_);
}

// A node of its own number, or of a freed one where the device reuses them.
ModelFs::Node* ModelFs::New(NodeKind kind, std::string contents) {
  nodes_.push_back(std::make_unique<Node>(kind, nodes_.size() + 1, std::move(contents)));
  Node* node = nodes_.back().get();
  node->number = node->serial;
  if (device_.reusesInodes && !freedNumbers_.empty()) {
    node->number = freedNumbers_.back();
    freedNumbers_.pop_back();
  }
  return node;
}

// A new node for dir; a directory takes dir's folding.
ModelFs::Node* ModelFs::MadeIn(Node* dir, NodeKind kind, std::string contents) {
  Node* node = New(kind, std::move(contents));
  if (kind == NodeKind::Directory) node->folds = dir->folds;
  return node;
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
      if (parts[i].size() > kNameMax || Refused(parts[i])) return 0;
      next = MadeIn(dir, NodeKind::Directory);
      Attach(dir, parts[i], next);
    }
    if (next->kind != NodeKind::Directory) return 0;
    dir = next;
  }
  const std::string& name = parts.back();
  if (name.size() > kNameMax || name == "." || name == ".." || Refused(name) ||
      Find(dir, name) != dir->children.end()) {
    return 0;
  }
  Node* node = existing != nullptr ? existing : MadeIn(dir, kind, std::move(contents));
  Attach(dir, name, node);
  return node->serial;
}

bool ModelFs::Remove(const std::string& path) {
  Place place;
  if (Locate(kWorkingDirectory, path, place, 0) != 0 || place.node == nullptr ||
      place.dir == nullptr) {
    return false;
  }
  Node* gone = Detach(place.dir, place.stored);
  if (gone->names == 0) Drop(gone);
  return true;
}

uint64_t ModelFs::WriteFile(const std::string& path, const std::string& contents) {
  Place place;
  if (Locate(kWorkingDirectory, path, place, 0) != 0 || place.dir == nullptr) return 0;
  Node* written = WriteInto(place.dir, place.name, contents);
  return written != nullptr ? written->serial : 0;
}

// The file that answers to name in dir gets the contents, its name kept;
// where nothing answers, a new file is made under name. Null where something
// else answers.
ModelFs::Node* ModelFs::WriteInto(Node* dir, const std::string& name, const std::string& contents) {
  const auto found = Find(dir, name);
  if (found == dir->children.end()) {
    if (name.size() > kNameMax || Refused(name)) return nullptr;
    Node* made = MadeIn(dir, NodeKind::File, contents);
    Attach(dir, name, made);
    return made;
  }
  Node* node = found->second;
  if (node->kind != NodeKind::File) return nullptr;
  node->contents = contents;
  Stamp(node);
  return node;
}

bool ModelFs::SetFolding(const std::string& dir, bool folds) {
  Node* node = Exact(dir);
  if (node == nullptr || node->kind != NodeKind::Directory) return false;
  node->folds = folds;
  return true;
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

ino_t ModelFs::NumberOf(uint64_t serial) const {
  return nodes_.at(serial - 1)->number;
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
  lateFailures_.clear();
  steps_.clear();
  pending_.clear();
  known_.clear();
}

// The stored spelling that name finds in dir: the same, else where dir
// folds case one that folds to the same.
ModelFs::ChildMap::iterator ModelFs::Find(Node* dir, const std::string& name) {
  const auto found = dir->children.find(name);
  if (found != dir->children.end() || !Folds(dir)) return found;
  const std::string key = FoldKey(name);
  for (auto it = dir->children.begin(); it != dir->children.end(); ++it) {
    if (FoldKey(it->first) == key) return it;
  }
  return dir->children.end();
}

bool ModelFs::Folds(const Node* dir) const {
  return dir->folds.value_or(device_.foldsCase);
}

// What a name folds to: ASCII letters in upper case, and with an up-case
// table every letter the table joins.
std::string ModelFs::FoldKey(const std::string& name) const {
  return device_.caseTable == CaseTable::Ascii ? AsciiUpperCase(name) : UpperCased(name);
}

// The up-case table's entry for a character: Unicode's simple upper-case
// mapping where it goes both ways (not the micro sign's, nor the dotless
// i's), within 16 bits, and not among the mappings the table lacks.
char32_t ModelFs::UpperOf(char32_t c) const {
  if (c < 0x80) return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c;
  if (c >= 0x10000 || utf8_ == locale_t{}) return c;
  const bool exfat = device_.caseTable == CaseTable::Exfat;
  if (exfat && c == kFinalSigma) return kCapitalSigma;
  const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), utf8_));
  if (upper == c || static_cast<char32_t>(towlower_l(static_cast<wint_t>(upper), utf8_)) != c) {
    return c;
  }
  const std::span<const Span> lacks = exfat ? std::span<const Span>(kExfatLacks) : kNtfsLacks;
  return Within(lacks, c) ? c : upper;
}

// Bytes that are no UTF-8 stay as they are, marked.
std::string ModelFs::UpperCased(const std::string& name) const {
  std::string upper;
  for (size_t at = 0, length = 0; at < name.size(); at += length) {
    const char32_t point = Decoded(name, at, length);
    if (point == kNoCharacter) {
      upper += '\xff';
      upper += name[at];
    } else {
      AppendUtf8(upper, UpperOf(point));
    }
  }
  return upper;
}

// Each letter as the lower case that the table gives its upper case.
std::string ModelFs::LowerCased(const std::string& name) const {
  if (device_.caseTable == CaseTable::Ascii || utf8_ == locale_t{}) return AsciiLowerCase(name);
  std::string lower;
  for (size_t at = 0, length = 0; at < name.size(); at += length) {
    const char32_t point = Decoded(name, at, length);
    if (point == kNoCharacter) {
      lower += name[at];
      continue;
    }
    const auto down = static_cast<char32_t>(towlower_l(static_cast<wint_t>(point), utf8_));
    AppendUtf8(lower, down != point && UpperOf(down) == point ? down : point);
  }
  return lower;
}

bool ModelFs::Refused(const std::string& name) const {
  return device_.asciiNamesOnly &&
         std::any_of(name.begin(), name.end(), [](char c) { return (c & 0x80) != 0; });
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
  if (!device_.unsteadyInodes) return node->number;
  const auto [found, added] = node->numbers.try_emplace(spelling, nextNumber_);
  if (added) ++nextNumber_;
  return found->second;
}

void ModelFs::Attach(Node* dir, const std::string& name, Node* node) {
  dir->children[name] = node;
  ++node->names;
  if (node->numberFreed) {
    node->numberFreed = false;
    node->number = kRenumbered + node->serial;
  }
  StampEntries(dir);
  Stamp(node);
  if (node->kind == NodeKind::Directory) node->parent = dir;
}

// Takes the name out of dir and gives the node it named.
ModelFs::Node* ModelFs::Detach(Node* dir, const std::string& name) {
  const auto found = dir->children.find(name);
  Node* node = found->second;
  dir->children.erase(found);
  --node->names;
  StampEntries(dir);
  return node;
}

// A node that has no name left, or whose only name lies in a directory that
// is gone: it is gone too, with what lies below it, and its number is freed
// once no handle holds it. (A handle of a directory that is gone still
// reaches its entries; one renamed out from there takes a new number.)
void ModelFs::Drop(Node* node) {
  if (node->handles == 0 && !node->numberFreed) {
    node->numberFreed = true;
    freedNumbers_.push_back(node->number);
  }
  for (const auto& entry : node->children) {
    if (entry.second->names == 1) Drop(entry.second);
  }
}

void ModelFs::Stamp(Node* node) {
  clock_ += kTick;
  node->changedAt = clock_;
}

void ModelFs::StampEntries(Node* dir) {
  Stamp(dir);
  dir->entriesChangedAt = clock_;
}

std::pair<int64_t, long> ModelFs::TimeAt(int64_t clock) const {
  const long nanoseconds = device_.wholeSecondTimes ? 0 : clock % kSecond;
  return {kEpoch + clock / kSecond, nanoseconds};
}

void ModelFs::Release(int handle) {
  Node* node = handles_.at(handle).node;
  handles_.erase(handle);
  if (--node->handles > 0) return;
  node->numbers.clear();  // the kernel lets the entry go
  if (node->names == 0) Drop(node);
}

// Counts the call, makes the changes and runs the steps due before it, and
// tells whether it fails. A call without effect fails at once also where it
// would fail after its effect.
int ModelFs::Begin(bool effectful) {
  ++calls_;
  if (!dead_) {
    for (const Change& change : pending_) {
      if (change.beforeCall == calls_) Apply(change);
    }
    const auto [first, last] = steps_.equal_range(calls_);
    for (auto step = first; step != last; ++step) step->second(*this);
  }
  if (cutAt_ != 0 && calls_ >= cutAt_) dead_ = true;
  if (dead_) return EIO;
  const auto failure = failures_.find(calls_);
  if (failure != failures_.end()) return failure->second;
  const auto late = lateFailures_.find(calls_);
  return late != lateFailures_.end() && !effectful ? late->second : 0;
}

// The result of a call that took effect: the late failure due, if any.
int ModelFs::Late(int result) const {
  const auto late = lateFailures_.find(calls_);
  return result == 0 && late != lateFailures_.end() ? late->second : result;
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
  // Where a directory moved out goes: made where missing, never a place
  // within the directory moved.
  Node* away = nullptr;
  if (change.kind == ChangeKind::MoveOut) {
    if (Exact(change.elsewhere) == nullptr) MakeDir(change.elsewhere);
    away = Exact(change.elsewhere);
    if (away == nullptr || away->kind != NodeKind::Directory) return;
  }
  const auto holdsAway = [&](const Node* dir) {
    for (const Node* up = away; up != root_; up = up->parent) {
      if (up == dir) return true;
    }
    return false;
  };
  const bool swap = change.kind == ChangeKind::SwapForLink ||
                    change.kind == ChangeKind::SwapForDirectory ||
                    change.kind == ChangeKind::MoveOut;
  // The name in upper case, or in lower case where it is upper case already.
  const auto twinOf = [&](const std::string& name) {
    const bool ascii = device_.caseTable == CaseTable::Ascii;
    const std::string upper = ascii ? AsciiUpperCase(name) : UpperCased(name);
    return upper != name ? upper : AsciiLowerCase(name);
  };
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
      case ChangeKind::MoveOut:
        return !directory || holdsAway(spot.node);
      case ChangeKind::Remove:
        return false;
      case ChangeKind::AddTwin:
        return twinOf(spot.name) == spot.name || spot.dir->children.count(twinOf(spot.name)) != 0 ||
               (Folds(spot.dir) && spot.node->kind != NodeKind::File);
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
    // Where the directory folds case, the twin's name answers to a file
    // there: that one is written into, as a program creating the twin would.
    const bool answers = Find(spot.dir, twinOf(spot.name)) != spot.dir->children.end();
    put = WriteInto(spot.dir, twinOf(spot.name), "twin");
    if (answers && put != nullptr) made.writtenInto = put->serial;
    if (answers) put = nullptr;
  } else {
    const auto takeOut = [&](const auto& self, const Node* node) -> void {
      made.takenOut.push_back(node->serial);
      for (const auto& entry : node->children) self(self, entry.second);
    };
    takeOut(takeOut, spot.node);
    if (change.kind == ChangeKind::MoveOut) {
      put = MoveOut(spot.dir, spot.name, away);
    } else {
      Node* gone = Detach(spot.dir, spot.name);
      if (gone->names == 0) Drop(gone);
      if (change.kind == ChangeKind::SwapForLink)
        put = MadeIn(spot.dir, NodeKind::Link, change.mirror + spot.below);
      if (change.kind == ChangeKind::SwapForDirectory) put = MadeIn(spot.dir, NodeKind::Directory);
      if (put != nullptr) Attach(spot.dir, spot.name, put);
    }
  }
  made.added = put != nullptr ? put->serial : 0;
  made_.push_back(std::move(made));
}

// Moves the directory that name names in dir to away (under its name, or
// with "~" and a number where that is taken) and makes another in its place,
// whose entries bear the names of the moved one's, made anew: files holding
// "anew", directories empty, links to the same targets.
ModelFs::Node* ModelFs::MoveOut(Node* dir, const std::string& name, Node* away) {
  std::string free = name;
  for (int n = 1; Find(away, free) != away->children.end(); ++n) {
    free = name + "~" + std::to_string(n);
  }
  Node* moved = Detach(dir, name);
  Attach(away, free, moved);
  Node* fresh = MadeIn(dir, NodeKind::Directory);
  Attach(dir, name, fresh);
  for (const auto& [entry, node] : moved->children) {
    const bool file = node->kind == NodeKind::File;
    Attach(fresh, entry, MadeIn(fresh, node->kind, file ? "anew" : node->contents));
  }
  return fresh;
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
  status = place.node->Status(Number(place.node, place.name), TimeAt(place.node->changedAt),
                              TimeAt(place.node->entriesChangedAt));
  return 0;
}

int ModelFs::StatHandle(int handle, EntryStatus& status) {
  if (const int error = Begin(); error != 0) return error;
  const Handle* open = HandleOf(handle);
  if (open == nullptr) return EBADF;
  status = open->node->Status(open->number, TimeAt(open->node->changedAt),
                              TimeAt(open->node->entriesChangedAt));
  known_.insert(open->node->serial);
  return 0;
}

int ModelFs::ReadEntries(int handle, std::vector<RawEntry>& entries) {
  if (const int error = Begin(); error != 0) return error;
  const Handle* open = HandleOf(handle);
  if (open == nullptr) return EBADF;
  const bool typed = !device_.untypedListings;
  const unsigned char dotType = typed ? DT_DIR : DT_UNKNOWN;
  entries.push_back({".", dotType});
  entries.push_back({"..", dotType});
  for (const auto& [name, node] : open->node->children) {
    const unsigned char type = !typed                              ? DT_UNKNOWN
                               : node->kind == NodeKind::Directory ? DT_DIR
                               : node->kind == NodeKind::Link      ? DT_LNK
                                                                   : DT_REG;
    entries.push_back({device_.listingHidesCase ? LowerCased(name) : name, type});
  }
  return 0;
}

int ModelFs::Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
                    Replace replace) {
  if (const int error = Begin(true); error != 0) return error;
  return Late(RenameNow(fromDir, from, toDir, to, replace));
}

// As rename(2): the last components are not followed; an entry that answers
// to the target is replaced where that is allowed, and is then lost.
int ModelFs::RenameNow(int fromDir, const std::string& from, int toDir, const std::string& to,
                       Replace replace) {
  Place source, target;
  if (const int error = Locate(fromDir, from, source, 0); error != 0) return error;
  if (const int error = Locate(toDir, to, target, 0); error != 0) return error;
  if (source.node == nullptr) return ENOENT;
  if (source.dir == nullptr || target.dir == nullptr) return EBUSY;
  if (Refused(target.name)) return EPERM;
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
  Detach(source.dir, source.stored);
  if (target.node != nullptr) {
    Node* lost = Detach(target.dir, target.stored);
    if (lost->names == 0) Drop(lost);
  }
  Attach(target.dir, target.name, moving);
  if (directory && device_.losesMovedContents) Empty(moving);
  return 0;
}

// The directory's entries are lost.
void ModelFs::Empty(Node* dir) {
  while (!dir->children.empty()) {
    Node* lost = Detach(dir, dir->children.begin()->first);
    if (lost->names == 0) Drop(lost);
  }
}

// One entry reached by two spellings (the device folds case): it takes the
// spelling of the target.
int ModelFs::RenameSameEntry(const Place& from, const Place& to) {
  Node* node = from.node;
  if (to.name == from.stored || device_.listingHidesCase) return 0;
  if (node->kind == NodeKind::Directory && device_.lowerLayerDirectories) return EXDEV;
  Detach(from.dir, from.stored);
  Attach(from.dir, to.name, node);
  if (device_.losesMovedContents) {
    Empty(node);
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
