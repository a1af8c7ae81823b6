// The rename engine over the model file system. The input picks the device
// (a preset, or one with its switches changed) and makes a tree under /out:
// directories, files, links, hard links, case twins, entries left under the
// parked name, long and non-ASCII names; /outside mirrors it. A run renames
// every directory, deepest first, then every file to the upper-case spelling
// of its path below /out, as the tool does, with searches mixed in. A first
// run goes without faults. Where the input asks for them, the same tree is
// run again with failing calls, changes made by another process and the
// process ending at a call, and then a second engine completes the renames.
//
// After each rename: one reported done left the entry under exactly the
// upper-case spelling in its directory; one reported failed left it under its
// name (where a call of that rename failed: maybe renamed all the same; where
// two failed or the process ended in it: maybe parked). After each run no
// entry is lost or replaced, no file's contents change and nothing under
// /outside changes; no handle is used once closed, and none is left open. After
// a run that completes, no entry waits under its parked name, and of two
// spellings of one name in a directory at most one was renamed. Entries that
// a change hit, and the entries of a directory it changed, are left out.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/fs/parked_name.h"
#include "support/fs/posix/case_change_posix.h"
#include "support/fs/posix/engine_posix.h"
#include "support/text/locale.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/unit/model_fs_posix.h"

namespace dazi::fuzz {
namespace {

using test_support::Change;
using test_support::ChangeKind;
using test_support::DeviceSwitches;
using test_support::ModelFs;
using test_support::NodeKind;

constexpr DeviceSwitches kPresets[] = {DeviceSwitches::Ext4(), DeviceSwitches::Exfat(),
                                       DeviceSwitches::Ntfs(), DeviceSwitches::NtfsIgnoreCase(),
                                       DeviceSwitches::Fat(),  DeviceSwitches::Overlay()};

// The errors a failing call gives. Not ENOENT nor EEXIST: those would say
// that an entry is missing or there against the model's own tree; another
// process taking one away or adding one is what the changes do.
constexpr int kErrors[] = {EIO,    EACCES, EINVAL, ENOTDIR,      ELOOP,  EXDEV,
                           ENOSPC, EPERM,  EBUSY,  ENAMETOOLONG, ENOMEM, EROFS};

std::string AsciiLower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

char SwappedCase(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Below(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + '/' + name;
}

DeviceSwitches DeviceOf(Input& input) {
  const uint8_t choice = input.Byte();
  DeviceSwitches device = kPresets[choice % std::size(kPresets)];
  if ((choice & 0x80) != 0) {
    const uint8_t flip = input.Byte();
    bool* switches[] = {&device.foldsCase,
                        &device.listingHidesCase,
                        &device.unsteadyInodes,
                        &device.fuse,
                        &device.noReplaceRefused,
                        &device.losesMovedContents,
                        &device.lowerLayerDirectories};
    for (size_t i = 0; i < std::size(switches); ++i) *switches[i] ^= (flip >> i & 1) != 0;
    // What the engine learns of a device comes from its mount type.
    device.foldsCase |= device.listingHidesCase;
    device.fuse |= device.unsteadyInodes || device.losesMovedContents;
  }
  return device;
}

// A name from the input: no separator, no NUL; stretched to a long one on
// request, at most 255 bytes.
std::string NameOf(Input& input, bool stretched) {
  std::string name(input.Text());
  std::erase_if(name, [](char c) { return c == '/' || c == '\\' || c == '\0'; });
  if (name.empty() || name == "." || name == "..") name = "n";
  const size_t length = stretched ? std::min<size_t>(40 + input.Byte(), 255) : 255;
  while (stretched && name.size() < length) name += name;
  name.resize(std::min(name.size(), length));
  return name;
}

// Makes the tree that the input describes under /out, and its mirror under
// /outside.
void Build(ModelFs& fs, Input& input) {
  fs.MakeDir("/out");
  std::vector<std::string> dirs = {""}, files, made;  // below /out
  const int count = input.Byte() % 24;
  for (int i = 0; i < count; ++i) {
    const uint8_t op = input.Byte();
    std::string parent = dirs[input.Byte() % dirs.size()];
    std::string name = NameOf(input, (op & 0x80) != 0);
    bool directory = (op & 0x08) != 0;
    const int kind = op & 7;
    if (kind == 6) name = ParkedName(name);
    if (kind == 7 && !made.empty()) {  // a twin: another spelling of an entry's name
      const std::string& of = made[input.Byte() % made.size()];
      const size_t cut = of.rfind('/');
      parent = cut == std::string::npos ? "" : of.substr(0, cut);
      name = of.substr(cut + 1);
      const uint8_t flips = input.Byte();
      for (size_t k = 0; k < name.size(); ++k) {
        if ((flips >> k % 8 & 1) != 0) name[k] = SwappedCase(name[k]);
      }
    }
    // A name that takes the parked mark only in upper case cannot be told
    // from a leftover once renamed (left as it is, and written down): none.
    if (NameOfParked(name).empty() && !NameOfParked(AsciiUpperCase(name)).empty()) name[0] = '_';
    const std::string relative = Below(parent, name);
    const std::string path = "/out/" + relative;
    uint64_t serial = 0;
    if (kind == 4) {
      serial = fs.MakeLink(path, "/outside/" + dirs[input.Byte() % dirs.size()]);
      directory = false;
    } else if (kind == 5 && !files.empty()) {
      serial = fs.MakeHardLink("/out/" + files[input.Byte() % files.size()], path);
      directory = false;
    } else if (kind < 2 || ((kind == 6 || kind == 7) && directory)) {
      serial = fs.MakeDir(path);
      directory = true;
    } else {
      serial = fs.MakeFile(path, relative);
      directory = false;
    }
    if (serial == 0) continue;
    made.push_back(relative);
    (directory ? dirs : files).push_back(relative);
  }
  for (const std::string& dir : dirs) fs.MakeDir("/outside/" + dir);
  for (const std::string& file : files) fs.MakeFile("/outside/" + file, "outside");
}

// One rename the run asks for, and the entry it is meant for.
struct Request {
  std::string source, target;
  std::string name;    // the last component, as the directory is listed
  std::string stored;  // the entry's name there when the tree was made
  uint64_t dir, entry;
  // On its path a directory whose name another entry of its parent shares in
  // another case (or parked): which one the path means may change as the run
  // renames them, so only the checks of the whole tree apply.
  bool ambiguous = false;
};

// An entry of the tree as it was made, and the name that a search lists.
struct Placed {
  uint64_t dir, entry;
  std::string name, listed;
  NodeKind kind;
  bool ambiguous;  // as for a request
};

// Every directory below /out (deepest first), then every other entry, under
// the names that a search lists: in lower case where the device lists so,
// and an entry left parked under its own name where nothing answers to that.
void ListRequests(const ModelFs& fs, const DeviceSwitches& device, uint64_t dir,
                  const std::string& relative, std::vector<Request>& dirs,
                  std::vector<Request>& files, std::vector<Placed>& made, bool ambiguous) {
  const std::map<std::string, uint64_t> children = fs.Children(dir);
  std::set<std::string> upper;        // of every name listed
  std::map<std::string, int> owners;  // of each upper-case own name
  for (const auto& entry : children) {
    upper.insert(LocaleUpperCase(entry.first));
    const std::string own(NameOfParked(entry.first));
    ++owners[LocaleUpperCase(own.empty() ? entry.first : own)];
  }
  for (const auto& [stored, serial] : children) {
    std::string name = device.listingHidesCase ? AsciiLower(stored) : stored;
    const std::string own(NameOfParked(name));
    // "." and ".." would name another directory in a path: such a leftover
    // keeps its parked name.
    const bool dotName = own == "." || own == "..";
    if (!own.empty() && !dotName && upper.count(LocaleUpperCase(own)) == 0) name = own;
    const std::string path = Below(relative, name);
    Request request{"/out/" + path, "/out/" + AsciiUpperCase(path), name, stored, dir, serial,
                    ambiguous};
    made.push_back({dir, serial, stored, name, fs.KindOf(serial), ambiguous});
    if (fs.KindOf(serial) == NodeKind::Directory) {
      const std::string own(NameOfParked(stored));
      const bool shared = owners[LocaleUpperCase(own.empty() ? stored : own)] > 1;
      ListRequests(fs, device, serial, path, dirs, files, made, ambiguous || shared);
      dirs.push_back(request);
    } else {
      files.push_back(request);
    }
  }
}

// What the input asks of the runs beyond the renames.
struct Plan {
  std::vector<Placed> made;
  std::vector<Request> requests;
  std::multimap<size_t, std::string> searches;  // before which request, of which pattern
  std::vector<std::pair<uint8_t, int>> failures;
  int cut = -1;
  std::vector<Change> changes;  // beforeCall in 256ths of the first run's calls
};

Plan PlanOf(const ModelFs& fs, const DeviceSwitches& device, Input& input) {
  Plan plan;
  std::vector<Request> dirs, files;
  ListRequests(fs, device, fs.SerialOf("/out"), "", dirs, files, plan.made, false);
  const uint8_t twice = input.Byte();
  plan.requests = dirs;
  for (size_t i = 0; i < files.size(); ++i) {
    plan.requests.push_back(files[i]);
    if ((twice >> i % 8 & 1) != 0) plan.requests.push_back(files[i]);
  }
  for (int i = input.Byte() % 4; i > 0; --i) {
    const size_t before = input.Byte() % (plan.requests.size() + 1);
    const size_t of = input.Byte() % (dirs.size() + 1);
    plan.searches.emplace(before, (of == 0 ? std::string("/out") : dirs[of - 1].source) + "/*.*");
  }
  const uint8_t faults = input.Byte();
  for (int i = faults & 3; i > 0; --i) {
    const uint8_t at = input.Byte();
    plan.failures.emplace_back(at, kErrors[input.Byte() % std::size(kErrors)]);
  }
  if ((faults & 4) != 0) plan.cut = input.Byte();
  for (int i = faults >> 3 & 3; i > 0; --i) {
    Change change;
    change.beforeCall = input.Byte();
    change.kind = static_cast<ChangeKind>(input.Byte() % 4);
    change.pick = input.Byte();
    plan.changes.push_back(change);
  }
  // Some entries asked for in lower case, as the fixed set names them,
  // whatever their spelling on disk; not where that is another entry's name.
  const uint8_t lowered = input.Byte();
  for (size_t i = 0; i < plan.requests.size(); ++i) {
    Request& request = plan.requests[i];
    const std::string lower = AsciiLower(request.name);
    const auto children = fs.Children(request.dir);
    const auto other = children.find(lower);
    const bool marked = !NameOfParked(AsciiUpperCase(request.name)).empty();
    if ((lowered >> i % 8 & 1) == 0 || marked ||
        (other != children.end() && other->second != request.entry)) {
      continue;
    }
    request.source = request.source.substr(0, request.source.rfind('/') + 1) + lower;
  }
  return plan;
}

// Whether the directory holds two spellings of the request's name and
// neither is the one asked for: which one was meant cannot be told.
bool AskedAmongTwins(const ModelFs& fs, const Request& request) {
  const std::string asked = request.source.substr(request.source.rfind('/') + 1);
  size_t spellings = 0;
  for (const auto& entry : fs.Children(request.dir)) {
    if (entry.first == asked) return false;
    spellings += AsciiUpperCase(entry.first) == AsciiUpperCase(asked) ? 1 : 0;
  }
  return spellings > 1;
}

// The tree as a run found it.
struct Start {
  std::map<uint64_t, size_t> names;  // how many names each entry has
  std::map<uint64_t, std::string> contents;
  std::vector<ModelFs::Entry> outside;
};

Start Look(const ModelFs& fs) {
  Start start;
  for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
    ++start.names[entry.serial];
    start.contents[entry.serial] = entry.contents;
  }
  start.outside = fs.Snapshot("/outside");
  return start;
}

// What the changes of another process hit.
struct Hits {
  std::set<uint64_t> entries, dirs, takenOut, twins;
  std::vector<uint64_t> added;

  explicit Hits(const ModelFs& fs) {
    for (const test_support::ChangeMade& made : fs.ChangesMade()) {
      entries.insert(made.entry);
      dirs.insert(made.dir);
      takenOut.insert(made.takenOut.begin(), made.takenOut.end());
      if (made.added != 0) added.push_back(made.added);
      if (made.kind == ChangeKind::AddTwin) twins.insert(made.added);
    }
  }
  bool Out(uint64_t serial) const { return takenOut.count(serial) != 0; }
  bool Hit(uint64_t dir, uint64_t entry) const {
    return entries.count(entry) != 0 || dirs.count(dir) != 0 || Out(entry) || Out(dir);
  }
};

bool Holds(const ModelFs& fs, uint64_t dir, const std::string& name, uint64_t entry) {
  const std::map<std::string, uint64_t> children = fs.Children(dir);
  const auto found = children.find(name);
  return found != children.end() && found->second == entry;
}

// The name under which the request's entry waits in its directory now: the
// one it was made with, another spelling of it, or its parked form.
std::string NameNow(const ModelFs& fs, const Request& request) {
  if (Holds(fs, request.dir, request.stored, request.entry)) return request.stored;
  std::string found;
  for (const auto& [name, serial] : fs.Children(request.dir)) {
    if (serial != request.entry) continue;
    if (AsciiUpperCase(name) == AsciiUpperCase(request.name)) return name;
    if (AsciiUpperCase(name) == AsciiUpperCase(ParkedName(request.name))) found = name;
  }
  return found;
}

// Whether the entry has a name in dir that test takes.
template <typename Test>
bool HasName(const ModelFs& fs, uint64_t dir, uint64_t entry, Test test) {
  for (const auto& [name, serial] : fs.Children(dir)) {
    if (serial == entry && test(name)) return true;
  }
  return false;
}

void CheckRename(const ModelFs& fs, const Request& request, const std::string& before, bool done,
                 int faults) {
  if (request.ambiguous || Hits(fs).Hit(request.dir, request.entry)) return;
  const std::string upper = AsciiUpperCase(request.name);
  if (done) {
    // An entry left parked whose own name another entry has taken since is
    // a leftover no more: the name is spelled as asked, and it stays.
    const bool parkedBeside = !NameOfParked(before).empty() &&
                              Holds(fs, request.dir, before, request.entry) &&
                              fs.Children(request.dir).count(upper) != 0;
    FUZZ_CHECK(Holds(fs, request.dir, upper, request.entry) || parkedBeside);
  } else if (!before.empty()) {
    // Where listings hide case, the engine cannot tell which spelling an
    // entry had: put back after a failed step, it takes the listed one.
    const bool kept = HasName(fs, request.dir, request.entry, [&](const std::string& name) {
      return name == before ||
             (fs.Device().listingHidesCase && AsciiUpperCase(name) == AsciiUpperCase(before));
    });
    const bool parked = HasName(fs, request.dir, request.entry, [&](const std::string& name) {
      return AsciiUpperCase(NameOfParked(name)) == AsciiUpperCase(before);
    });
    FUZZ_CHECK(kept || (faults >= 1 && Holds(fs, request.dir, upper, request.entry)) ||
               (faults >= 2 && parked));
  }
}

// With RENAME_ENGINE_TRACE set, each rename and the tree after each run are
// printed, to tell what a finding did.
const bool kTrace = std::getenv("RENAME_ENGINE_TRACE") != nullptr;

// What lies below where a link leads, in upper case: its target with one
// slash after it.
std::string BelowLink(const std::string& target) {
  return AsciiUpperCase(target.ends_with('/') ? target : target + '/');
}

// followLinks: the run met the links that changes put in the first time, and
// followed them as it follows the links in the paths it is given; what lies
// below where they lead may have been renamed.
void CheckTree(const ModelFs& fs, const Start& start, bool followLinks, bool refusalFaked) {
  const Hits hits(fs);
  const Start now = Look(fs);
  for (const auto& [serial, names] : start.names) {
    if (hits.Out(serial)) continue;
    const auto found = now.names.find(serial);
    FUZZ_CHECK(found != now.names.end() && found->second == names);
    FUZZ_CHECK(now.contents.at(serial) == start.contents.at(serial));
  }
  // Where the file system refuses a rename that never replaces, the target
  // is looked up first: an entry that another process makes under the new
  // spelling between that look and the rename is replaced. Nothing closes
  // that window there. A fault that fails such a rename with EINVAL says the
  // same, and the run believes it.
  const bool lookThenRename = fs.Device().noReplaceRefused || refusalFaked;
  for (uint64_t added : hits.added) {
    FUZZ_CHECK(hits.Out(added) || now.names.count(added) == 1 ||
               (lookThenRename && hits.twins.count(added) != 0));
  }
  std::vector<std::string> followed;
  for (uint64_t added : hits.added) {
    if (followLinks && fs.KindOf(added) == NodeKind::Link && now.contents.count(added) != 0) {
      followed.push_back(BelowLink(now.contents.at(added)));
    }
  }
  // Where a change took an entry away, another entry beside it may be the
  // one name left that answers to the entry's (in another case, or parked):
  // a path through the name then leads there, and through the links made
  // with the tree below it, as it would had the run started after the change.
  const auto linksBelow = [&](const auto& self, uint64_t dir) -> void {
    for (const auto& [name, serial] : fs.Children(dir)) {
      const bool madeWithTree = start.names.count(serial) != 0 &&
                                std::count(hits.added.begin(), hits.added.end(), serial) == 0;
      if (madeWithTree && fs.KindOf(serial) == NodeKind::Link) {
        followed.push_back(BelowLink(start.contents.at(serial)));
      }
      if (fs.KindOf(serial) == NodeKind::Directory) self(self, serial);
    }
  };
  for (uint64_t dir : hits.dirs) linksBelow(linksBelow, dir);
  const auto notFollowed = [&](std::vector<ModelFs::Entry> entries) {
    std::erase_if(entries, [&](const ModelFs::Entry& entry) {
      return std::any_of(followed.begin(), followed.end(), [&](const std::string& below) {
        return AsciiUpperCase(entry.path).starts_with(below);  // as the link is read
      });
    });
    return entries;
  };
  if (kTrace && notFollowed(now.outside) != notFollowed(start.outside)) {
    for (const auto& entry : notFollowed(start.outside))
      std::fprintf(stderr, "  was %s\n", entry.path.c_str());
    for (const auto& entry : notFollowed(now.outside))
      std::fprintf(stderr, "  now %s\n", entry.path.c_str());
  }
  FUZZ_CHECK(notFollowed(now.outside) == notFollowed(start.outside));
  FUZZ_CHECK(fs.Misuses() == 0);
}

// Text with control and non-ASCII bytes in hexadecimal.
std::string Shown(const std::string& text) {
  std::string shown;
  for (unsigned char c : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return shown;
}

void TraceTree(const ModelFs& fs) {
  if (!kTrace) return;
  for (const test_support::ChangeMade& made : fs.ChangesMade()) {
    std::fprintf(stderr, "  change %d before call %llu in #%llu at #%llu, put in #%llu\n",
                 static_cast<int>(made.kind), static_cast<unsigned long long>(made.beforeCall),
                 static_cast<unsigned long long>(made.dir),
                 static_cast<unsigned long long>(made.entry),
                 static_cast<unsigned long long>(made.added));
  }
  for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
    std::fprintf(stderr, "  %s #%llu%s\n", Shown(entry.path).c_str(),
                 static_cast<unsigned long long>(entry.serial),
                 entry.kind == NodeKind::Link ? (" -> " + entry.contents).c_str() : "");
  }
}

// Renames as the plan says, with a fresh engine, checking each rename.
void Run(ModelFs& fs, const Plan& plan, const std::set<uint64_t>& failing, bool followLinks) {
  // The faulty run and the one that completes it (it checks what the first did).
  const bool afterFaults = !failing.empty() || followLinks;
  const bool refusalFaked =
      afterFaults && std::any_of(plan.failures.begin(), plan.failures.end(),
                                 [](const auto& failure) { return failure.second == EINVAL; });
  const Start start = Look(fs);
  TraceTree(fs);
  {
    posix::Engine engine(fs);
    for (size_t i = 0; i <= plan.requests.size(); ++i) {
      const auto [first, last] = plan.searches.equal_range(i);
      for (auto search = first; search != last; ++search) {
        TSearchRec rec;
        for (int32_t code = engine.FindFirst(search->second, kFaAnyFile, rec); code == 0;
             code = engine.FindNext(rec)) {
          FUZZ_CHECK(!rec.FoundName.empty() && rec.FoundName.find('/') == std::string::npos);
        }
      }
      if (i == plan.requests.size()) break;
      const Request& request = plan.requests[i];
      const std::string before = NameNow(fs, request);
      const bool wasCut = fs.Cut();
      const bool amongTwins = AskedAmongTwins(fs, request);
      const uint64_t firstCall = fs.Calls() + 1;
      const bool done = engine.Rename(request.source, request.target);
      FUZZ_CHECK(!done || !amongTwins || Hits(fs).Hit(request.dir, request.entry));
      int faults = !wasCut && fs.Cut() ? 2 : 0;
      for (uint64_t call = firstCall; call <= fs.Calls(); ++call) faults += failing.count(call);
      if (kTrace) {
        std::fprintf(stderr, "%s -> %s: %s (calls %llu-%llu, faults %d)\n",
                     Shown(request.source).c_str(), Shown(request.target).c_str(),
                     done ? "done" : "failed", static_cast<unsigned long long>(firstCall),
                     static_cast<unsigned long long>(fs.Calls()), faults);
        for (size_t row : engine.RowsOfLastCaseChange()) {
          std::fprintf(stderr, "    %s\n", posix::CaseRows()[row].name);
        }
      }
      CheckRename(fs, request, before, done, faults);
    }
  }
  TraceTree(fs);
  CheckTree(fs, start, followLinks, refusalFaked);
  if (!fs.Cut()) FUZZ_CHECK(fs.OpenHandles() == 0);
}

// After a run that completed, no entry of the tree as made waits under a
// parked name, but under one it waited under already where it was listed so
// (something answers to its own name), shared that name with another entry in
// another letter case, or is a directory where directories are not renamed;
// or under its own name that looks parked itself. Of two spellings of one
// name listed in a directory at most one was renamed.
void CheckCompleted(const ModelFs& fs, const std::vector<Placed>& made,
                    const DeviceSwitches& device) {
  const Hits hits(fs);
  std::map<std::pair<uint64_t, std::string>, std::vector<const Placed*>> spellings;
  for (const Placed& place : made)
    spellings[{place.dir, AsciiUpperCase(place.name)}].push_back(&place);
  // The parked names, in upper case, that each entry may keep in its directory.
  std::map<std::pair<uint64_t, uint64_t>, std::set<std::string>> mayStayParked;
  for (const Placed& place : made) {
    std::set<std::string>& mayStay = mayStayParked[{place.dir, place.entry}];
    const std::string upper = AsciiUpperCase(place.name);
    const std::string own(NameOfParked(place.name));
    // A name whose upper-case spelling carries the parked mark is given it,
    // as asked: the parked name cannot tell such a name from a leftover.
    if (own.empty()) {
      if (!NameOfParked(upper).empty()) mayStay.insert(upper);
      continue;
    }
    const bool listedAsItself = spellings.count({place.dir, AsciiUpperCase(own)}) != 0;
    const bool shared = spellings[{place.dir, upper}].size() > 1;
    const bool directoryStays = place.kind == NodeKind::Directory &&
                                (device.losesMovedContents || device.lowerLayerDirectories);
    // Where listings show every name in lower case, a search shows a
    // leftover under its parked name, in lower case: the run asks for that.
    const bool listedParked = device.listingHidesCase;
    // "." and ".." name no entry to rename.
    const bool dotName = own == "." || own == "..";
    if (listedAsItself || shared || directoryStays || listedParked || dotName) {
      mayStay.insert(upper);
    }
    mayStay.insert(AsciiUpperCase(own));
  }
  std::set<std::pair<uint64_t, uint64_t>> ambiguous;
  for (const Placed& place : made) {
    if (place.ambiguous) ambiguous.insert({place.dir, place.entry});
  }
  for (const auto& [where, mayStay] : mayStayParked) {
    if (hits.Hit(where.first, where.second) || ambiguous.count(where) != 0) continue;
    for (const auto& [name, serial] : fs.Children(where.first)) {
      if (serial == where.second && !NameOfParked(name).empty()) {
        FUZZ_CHECK(mayStay.count(AsciiUpperCase(name)) != 0);
      }
    }
  }
  std::map<std::pair<uint64_t, std::string>, std::vector<const Placed*>> listedTwins;
  for (const Placed& place : made) {
    listedTwins[{place.dir, AsciiUpperCase(place.listed)}].push_back(&place);
  }
  for (const auto& [key, twins] : listedTwins) {
    if (twins.size() < 2) continue;
    size_t renamed = 0;
    bool hit = false;
    for (const Placed* twin : twins) {
      hit |= hits.Hit(twin->dir, twin->entry);
      renamed += Holds(fs, twin->dir, twin->name, twin->entry) ? 0 : 1;
    }
    if (!hit) FUZZ_CHECK(renamed <= 1);
  }
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dazi;
  using namespace dazi::fuzz;
  Input input(data, size);
  const DeviceSwitches device = DeviceOf(input);
  ModelFs fs(device);
  Build(fs, input);
  const Plan plan = PlanOf(fs, device, input);

  Run(fs, plan, {}, false);
  CheckCompleted(fs, plan.made, device);
  if (plan.failures.empty() && plan.cut < 0 && plan.changes.empty()) return 0;

  // The same tree again, with the faults placed among the calls that the
  // first run made, then completed by the next process.
  const uint64_t calls = std::max<uint64_t>(fs.Calls(), 1);
  const auto at = [&](uint64_t share) { return 1 + share * calls / 256; };
  Input again(data, size);
  DeviceOf(again);
  ModelFs faulty(device);
  Build(faulty, again);
  std::set<uint64_t> failing;
  for (const auto& [share, error] : plan.failures) {
    faulty.FailCall(at(share), error);
    failing.insert(at(share));
  }
  if (plan.cut >= 0) faulty.CutAt(at(static_cast<uint64_t>(plan.cut)));
  for (Change change : plan.changes) {
    change.beforeCall = at(change.beforeCall);
    faulty.ChangeBefore(change);
  }
  Run(faulty, plan, failing, false);
  faulty.Restart();
  Run(faulty, plan, {}, true);
  CheckCompleted(faulty, plan.made, device);
  return 0;
}
