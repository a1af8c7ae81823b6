// The tool's own run (RunRename: the fixed set, the pattern scans, the
// configuration file) over the model file system, through the rename engine.
// The input picks the locale (C, C.UTF-8 or the double-byte zh_CN.GBK), the
// device (a preset, or one with its switches changed), the tree under /out
// (the names the run looks for in any letter case, non-ASCII ones in UTF-8
// and in GBK, names holding a backslash, case twins, entries left under the
// parked name, links to /outside or into the tree, hard links), the text of
// the configuration file, and faults: failing calls, changes made by another
// process (the model's, and directories moved out of the tree to
// /elsewhere) and the process ending at a call. A first run goes without
// faults. Where the input asks for faults, the same tree is run again with
// them, placed among the calls the first run made, and then a second process
// completes the run.
//
// Before and after every call the engine makes (the tree checks after a call
// that neither renamed nor had another process change the tree before it
// would see the tree as the last check saw it, and are not repeated):
// - a rename that may replace is issued only onto a name that its directory
//   does not hold, byte for byte, as another entry's, and only after the
//   device refused the no-replace flag, or refused the no-replace rename of
//   the same pair with EEXIST where it folds case;
// - nothing is renamed in a directory outside the tree (reached from /out
//   through its directories and the links it was made with), a directory
//   that another process moved away before the line began included;
// - no entry is lost or given another number of names, no file's contents
//   change, no entry that another process added is lost (but one it added
//   under a name the run had just looked up and found free, where the device
//   refuses the no-replace flag: nothing closes that window), and no handle
//   is used once closed.
// After each line: one printed done holds its entry under exactly the
// upper-case spelling in its directory; one printed failed left it under its
// name (where a call of it failed: maybe renamed all the same; where two
// failed or the process ended in it: maybe parked); where the directory holds
// two or more spellings of the asked name (the locale's upper case makes them
// one), the line fails and renames nothing; a line whose name a search
// delivered with a separator in it fails and renames nothing. Entries that
// another process's change hit, and the lines during which one was made, are
// left out of the line checks. After each run no handle is left open.
//
// The sort order of the lines is the process's, taken from the locale at the
// first comparison (C.UTF-8); the locale an input picks sets the character
// set, upper case and mask matching of its run.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "support/fs/filesys_posix.h"
#include "support/fs/parked_name.h"
#include "support/text/locale.h"
#include "support/text/text.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/unit/model_fs_posix.h"
#include "tool/rename_run.h"

namespace dazi::fuzz {
namespace {

using posix::EntryStatus;
using posix::FollowLink;
using posix::kWorkingDirectory;
using posix::RawEntry;
using posix::Replace;
using test_support::Change;
using test_support::ChangeKind;
using test_support::DeviceSwitches;
using test_support::ModelFs;
using test_support::NodeKind;

// The output directory as the tool passes it on.
constexpr std::string_view kOutDir = "/out\\";

constexpr const char* kLocales[] = {"C", "C.UTF-8", "zh_CN.GBK"};

constexpr DeviceSwitches kPresets[] = {DeviceSwitches::Ext4(), DeviceSwitches::Exfat(),
                                       DeviceSwitches::Ntfs(), DeviceSwitches::NtfsIgnoreCase(),
                                       DeviceSwitches::Fat(),  DeviceSwitches::Overlay()};

// The errors a failing call gives. Not ENOENT nor EEXIST: those would say
// that an entry is missing or there against the model's own tree; another
// process taking one away or adding one is what the changes do.
constexpr int kErrors[] = {EIO,    EACCES, EINVAL, ENOTDIR,      ELOOP,  EXDEV,
                           ENOSPC, EPERM,  EBUSY,  ENAMETOOLONG, ENOMEM, EROFS};

// Names the run looks for, and their neighbours: non-ASCII letters that
// upper-case in UTF-8 (ÿ to Ÿ, é to É), characters of GBK (one with a
// backslash as its trail byte), names holding a backslash.
constexpr const char* kNames[] = {
    "i386",          "system32",     "drivers",      "programs",         "tools",
    "win51",         "winnt",        "mini nt",      "bootsect.bin",     "bootfont.bin",
    "bootfix.bin",   "ntdetect.com", "setupldr.bin", "spcmdcon.sys",     "biosinfo.inf",
    "bootvid.dll",   "kdcom.dll",    "ntkrnlmp.exe", "ntoskrnl.exe",     "setupreg.hiv",
    "txtsetup.sif",  "layout.inf",   "c_1252.nls",   "vgaoem.fon",       "hal.dll",
    "halacpi.dll",   "atapi.sys",    "a.sif",        "A\xC5\xB8.SIF",    "a\xC5\xB8.sif",
    "A\xC3\xBF.SIF", "\xC3\xA9.sif", "\xC3\x89.SIF", "stra\xC3\x9F.sif", "\xB0\xA1.sif",
    "\x81\x5C.sif",  "\xB0\xA1\x5C", "x\\y.sif",     "win\\51",          "hal\\x.dll",
};

// Lines of the configuration file.
constexpr const char* kConfigLines[] = {
    "[DIRECTORIES]",
    "[FILES]",
    "PROGRAMS\\TOOLS,1",
    "\"MINI NT\",0",
    "I386,1",
    "\"\",0",
    "\"\",1",
    "I386\\SYSTEM32\\*.dll",
    "I386\\txtsetup.sif",
    "I386\\*.*",
    "WIN51,0",
    "i386\\system32\\drivers,1",
    "I386\\A\xC5\xB8.SIF",
    "I386\\*.SIF",
    "PROGRAMS,257",
    "\xB0\xA1\\*.*",
};

char SwappedCase(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Below(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + '/' + name;
}

std::string LastOf(const std::string& path) {
  return path.substr(path.rfind('/') + 1);
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

// A name from the list or from the input (no slash, no NUL), its ASCII
// letters' case swapped where the input says.
std::string NameOf(Input& input) {
  const uint8_t pick = input.Byte();
  std::string name(pick % 4 != 3 ? kNames[pick / 4 % std::size(kNames)] : input.Text());
  std::erase_if(name, [](char c) { return c == '/' || c == '\0'; });
  if (name.empty() || name == "." || name == "..") name = "n";
  name.resize(std::min<size_t>(name.size(), 255));
  const uint8_t flips = input.Byte();
  for (size_t k = 0; k < name.size(); ++k) {
    if ((flips >> k % 8 & 1) != 0) name[k] = SwappedCase(name[k]);
  }
  return name;
}

// Makes the tree that the input describes under /out, its mirror under
// /outside, and /elsewhere, where moved directories go.
void Build(ModelFs& fs, Input& input) {
  fs.MakeDir("/out");
  fs.MakeDir("/elsewhere");
  std::vector<std::string> dirs = {""}, files, made;  // below /out
  const int count = input.Byte() % 32;
  for (int i = 0; i < count; ++i) {
    const uint8_t op = input.Byte();
    std::string parent = dirs[input.Byte() % dirs.size()];
    std::string name = NameOf(input);
    bool directory = (op & 0x08) != 0;
    const int kind = op & 7;
    if (kind == 6) name = ParkedName(name);
    if (kind == 7 && !made.empty()) {  // a twin: another spelling of an entry's name
      const std::string& of = made[input.Byte() % made.size()];
      const size_t cut = of.rfind('/');
      parent = cut == std::string::npos ? "" : of.substr(0, cut);
      name = of.substr(cut + 1);
      const uint8_t flips = input.Byte() | 1;
      for (size_t k = 0; k < name.size(); ++k) {
        if ((flips >> k % 8 & 1) != 0) name[k] = SwappedCase(name[k]);
      }
    }
    // A name that takes the parked mark only in upper case cannot be told
    // from a leftover once renamed: none.
    if (NameOfParked(name).empty() && !NameOfParked(AsciiUpperCase(name)).empty()) name[0] = '_';
    const std::string relative = Below(parent, name);
    const std::string path = "/out/" + relative;
    uint64_t serial = 0;
    if (kind == 4) {
      const std::string& to = dirs[input.Byte() % dirs.size()];
      serial = fs.MakeLink(path, ((op & 0x10) != 0 ? "/out/" : "/outside/") + to);
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

// The configuration file's text, or nothing where the run has none. An entry
// may lead out of the output directory with "..", and is renamed there: such
// entries are left out, so that the tree is all the run may touch.
bool ConfigOf(Input& input, std::string& text) {
  const uint8_t shape = input.Byte();
  const std::string end = (shape & 2) != 0 ? "\r\n" : "\n";
  for (int i = shape >> 2 & 15; i > 0; --i) {
    const uint8_t pick = input.Byte();
    std::string line = pick % 4 != 3 ? kConfigLines[pick / 4 % std::size(kConfigLines)]
                                     : std::string(input.Text());
    for (size_t at; (at = line.find("..")) != std::string::npos;) line.erase(at, 1);
    std::erase_if(line, [](char c) { return c == '\n' || c == '\r' || c == '\0'; });
    text += line + end;
  }
  return (shape & 1) != 0;
}

// Another process moving a directory below /out to /elsewhere before a call.
struct MoveOut {
  uint64_t beforeCall;
  size_t pick;
};

// What the input asks of the runs beyond the tree.
struct Plan {
  const char* locale = "C";
  bool hasConfig = false;
  std::string config;
  std::vector<std::pair<uint8_t, int>> failures;
  int cut = -1;
  std::vector<Change> changes;  // beforeCall in 256ths of the first run's calls
  std::vector<MoveOut> moves;   // likewise
  bool Faulty() const {
    return !failures.empty() || cut >= 0 || !changes.empty() || !moves.empty();
  }
};

Plan PlanOf(Input& input) {
  Plan plan;
  plan.hasConfig = ConfigOf(input, plan.config);
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
  for (int i = faults >> 5 & 3; i > 0; --i) {
    const uint8_t at = input.Byte();
    plan.moves.push_back({at, input.Byte()});
  }
  return plan;
}

// Text with control and non-ASCII bytes in hexadecimal.
std::string Shown(std::string_view text) {
  std::string shown;
  for (unsigned char c : text) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", c);
    shown += c >= 0x20 && c < 0x7f ? std::string(1, static_cast<char>(c)) : std::string(hex);
  }
  return shown;
}

// With RENAME_ENGINE_TRACE set, each call that changes the tree, each line
// and the tree before and after each run are printed, to tell what a finding
// did.
const bool kTrace = std::getenv("RENAME_ENGINE_TRACE") != nullptr;

// RENAME_ENGINE_PASS lists checks by name (comma-separated) whose failures
// are passed over, so that a long run looks past findings already told. With
// RENAME_ENGINE_RECORD naming a folder, the first failed check of an input
// does not stop the run: the input is kept there under the check's name
// (the shortest one found), and the rest of that input goes unchecked.
std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}
const std::string kPassed = "," + EnvText("RENAME_ENGINE_PASS") + ",";
const std::string kRecordDir = EnvText("RENAME_ENGINE_RECORD");

struct Current {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool failed = false;
  std::map<std::string, size_t> kept;  // the size kept under each check's name
};
Current current;

// Stops the run, unless the check is passed over or its failures recorded.
void Fails(const char* name, const char* what, const char* file, int line) {
  if (kPassed.find("," + std::string(name) + ",") != std::string::npos) return;
  if (kRecordDir.empty()) Fail(what, file, line);
  if (current.failed) return;
  current.failed = true;
  const auto kept = current.kept.find(name);
  if (kept != current.kept.end() && kept->second <= current.size) return;
  current.kept[name] = current.size;
  std::fprintf(stderr, "finding %s (%zu bytes): %s\n", name, current.size, what);
  // A finding that cannot be kept ends the run, as without the folder.
  FILE* out = std::fopen((kRecordDir + "/" + name).c_str(), "wb");
  if (out == nullptr) Fail(what, file, line);
  std::fwrite(current.data, 1, current.size, out);
  std::fclose(out);
}

#define FUZZ_CHECK_NAMED(name, condition)                          \
  do {                                                             \
    if (!(condition)) Fails(name, #condition, __FILE__, __LINE__); \
  } while (false)

void TraceTree(ModelFs& fs) {
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

// The tree as a run found it.
struct Look {
  std::map<uint64_t, size_t> names;  // how many names each entry has
  std::map<uint64_t, std::string> contents;

  explicit Look(const ModelFs& fs) {
    for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
      ++names[entry.serial];
      contents[entry.serial] = entry.contents;
    }
  }
};

// What the changes of another process hit: the model's changes, and the
// directories moved away (with everything below them, and their parents).
struct Hits {
  std::set<uint64_t> entries, dirs, takenOut, twins, writtenInto;
  std::vector<std::pair<uint64_t, uint64_t>> added;  // each entry added, and its directory

  Hits(const ModelFs& fs, const std::set<uint64_t>& moved) : entries(moved) {
    for (const test_support::ChangeMade& made : fs.ChangesMade()) {
      entries.insert(made.entry);
      dirs.insert(made.dir);
      takenOut.insert(made.takenOut.begin(), made.takenOut.end());
      if (made.added != 0) added.emplace_back(made.added, made.dir);
      if (made.kind == ChangeKind::AddTwin) twins.insert(made.added);
      if (made.writtenInto != 0) writtenInto.insert(made.writtenInto);
    }
  }
  bool Out(uint64_t serial) const { return takenOut.count(serial) != 0; }
  bool Hit(uint64_t dir, uint64_t entry) const {
    return entries.count(entry) != 0 || entries.count(dir) != 0 || dirs.count(dir) != 0 ||
           Out(entry) || Out(dir);
  }
};

bool Holds(const ModelFs& fs, uint64_t dir, const std::string& name, uint64_t entry) {
  const std::map<std::string, uint64_t> children = fs.Children(dir);
  const auto found = children.find(name);
  return found != children.end() && found->second == entry;
}

// What a run shares between its checks: the calls that fail, the tree at its
// start, what the engine was told of the device, the directories moved away.
struct Watch {
  ModelFs& fs;
  std::set<uint64_t> failing;
  std::vector<MoveOut> moves;
  // The second process: links put in by another process are the tree's now.
  bool completing = false;
  bool refusalFaked = false;  // a fault failed a rename with EINVAL
  std::set<uint64_t>& moved;  // every entry moved away, and the parents, all runs
  // The directories moved away and what they held, where moving empties them.
  std::set<uint64_t> emptied;
  Look start;
  std::set<uint64_t> startLinks;
  uint64_t outDir = 0;           // where /out led when the run first opened it
  std::set<uint64_t> firstTree;  // the tree's directories then
  uint64_t line = 0;
  size_t changesAtLine = 0;
  bool movedInLine = false;
  std::set<uint64_t> lineTree;                           // the tree's directories as the line began
  std::vector<std::pair<uint64_t, uint64_t>> movedAway;  // the directory, the line
  bool flagRefused = false;
  std::set<std::tuple<uint64_t, std::string, uint64_t, std::string>> takenPairs;
  int moveCount = 0;
  bool renamed = false;
  size_t changesSeen = 0;

  Watch(ModelFs& model, std::set<uint64_t>& movedEntries)
      : fs(model), moved(movedEntries), start(model), changesSeen(model.ChangesMade().size()) {
    for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
      if (entry.kind == NodeKind::Link) startLinks.insert(entry.serial);
    }
  }
};

// The directory that a path leads to, every link on the way followed; 0
// where it leads to none.
uint64_t DirAt(ModelFs& fs, const std::string& path) {
  return fs.Resolve(kWorkingDirectory, path + "/.");
}

// The directory a link leads to, every link followed; 0 where none.
uint64_t LinkedDir(ModelFs& fs, uint64_t link) {
  for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
    if (entry.serial == link) return DirAt(fs, entry.contents);
  }
  return 0;
}

// Where the run's output directory leads: /out, else the one spelling of it
// that the run's caseless lookup of directory names finds, else its parked
// name.
uint64_t OutDirNow(ModelFs& fs) {
  if (const uint64_t dir = DirAt(fs, "/out"); dir != 0) return dir;
  std::vector<std::string> spellings;
  for (const auto& [name, serial] : fs.Children(fs.SerialOf("/"))) {
    if (AsciiUpperCase(name) == "OUT") spellings.push_back(name);
  }
  if (spellings.size() == 1) return DirAt(fs, "/" + spellings[0]);
  // Left parked by a run that ended while it renamed the directory itself.
  return spellings.empty() ? DirAt(fs, "/" + ParkedName("out")) : 0;
}

// The directories of the tree: /out and what lies below it, through its
// directories and the links it was made with (in the second process, every
// link).
std::set<uint64_t> TreeDirs(Watch& watch) {
  ModelFs& fs = watch.fs;
  std::set<uint64_t> dirs;
  std::vector<uint64_t> todo = {watch.outDir};
  // A link's target never changes: those made with the tree are known even
  // where another process took them out of reach.
  std::map<uint64_t, std::string> links = watch.start.contents;
  for (const ModelFs::Entry& entry : fs.Snapshot("/")) links[entry.serial] = entry.contents;
  while (!todo.empty()) {
    const uint64_t dir = todo.back();
    todo.pop_back();
    if (dir == 0 || !dirs.insert(dir).second) continue;
    for (const auto& [name, serial] : fs.Children(dir)) {
      const NodeKind kind = fs.KindOf(serial);
      if (kind == NodeKind::Directory) todo.push_back(serial);
      const bool ours = watch.completing || watch.startLinks.count(serial) != 0;
      if (kind == NodeKind::Link && ours && links.count(serial) != 0) {
        todo.push_back(DirAt(fs, links[serial]));
      }
    }
  }
  return dirs;
}

bool InNamespace(const ModelFs& fs, uint64_t dir) {
  for (const ModelFs::Entry& entry : fs.Snapshot("/")) {
    if (entry.serial == dir) return true;
  }
  return false;
}

bool MeansFlagRefused(int error) {
  return error == EINVAL || error == ENOSYS || error == ENOTSUP || error == EOPNOTSUPP;
}

// The model behind a checking layer: each call is checked before it runs and
// after, and another process may move a directory away before it.
class CheckedSystem final : public posix::System {
 public:
  explicit CheckedSystem(Watch& watch) : watch_(watch), fs_(watch.fs) {}

  int OpenDirectory(int dir, const std::string& name, FollowLink follow, int& handle) override {
    Before();
    return After(fs_.OpenDirectory(dir, name, follow, handle));
  }
  int Stat(int dir, const std::string& name, EntryStatus& status) override {
    Before();
    return After(fs_.Stat(dir, name, status));
  }
  int StatHandle(int handle, EntryStatus& status) override {
    Before();
    const int result = fs_.StatHandle(handle, status);
    NoteOutDir(result, handle);
    return After(result);
  }
  int ReadEntries(int handle, std::vector<RawEntry>& entries) override {
    Before();
    return After(fs_.ReadEntries(handle, entries));
  }
  int Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
             Replace replace) override;
  int Duplicate(int handle, int& copy) override {
    Before();
    return After(fs_.Duplicate(handle, copy));
  }
  void Close(int handle) override { fs_.Close(handle); }
  int MountType(dev_t device, std::string& type) override {
    Before();
    return After(fs_.MountType(device, type));
  }

 private:
  void Before();
  int After(int result);
  void CheckInTree(uint64_t dir);
  void NoteOutDir(int result, int handle);
  bool TakesAGoneTreeNumber(uint64_t dir);
  void Move(size_t pick);

  Watch& watch_;
  ModelFs& fs_;
};

// The directory that holds what a path relative to a handle names.
uint64_t DirOf(ModelFs& fs, int at, const std::string& path) {
  const size_t cut = path.rfind('/');
  if (cut == std::string::npos) return fs.Resolve(at, ".");
  return fs.Resolve(at, path.substr(0, cut + 1) + ".");
}

// (a): onto no name that another entry holds, and only where the device
// refused the no-replace rename.
void CheckReplace(ModelFs& fs, const Watch& watch, uint64_t fromDir, const std::string& from,
                  uint64_t toDir, const std::string& to, uint64_t renamed) {
  const std::map<std::string, uint64_t> children = fs.Children(toDir);
  const auto taken = children.find(LastOf(to));
  FUZZ_CHECK_NAMED("replace-onto-taken", taken == children.end() || taken->second == renamed);
  const bool pairTaken =
      fs.Device().foldsCase && watch.takenPairs.count({fromDir, from, toDir, to}) != 0;
  FUZZ_CHECK_NAMED("replace-unrefused", watch.flagRefused || pairTaken);
}

int CheckedSystem::Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
                          Replace replace) {
  Before();
  const uint64_t sourceDir = DirOf(fs_, fromDir, from);
  const uint64_t targetDir = DirOf(fs_, toDir, to);
  if (kTrace) {
    std::fprintf(stderr, "    call %llu: rename %s -> %s%s\n",
                 static_cast<unsigned long long>(fs_.Calls() + 1), Shown(from).c_str(),
                 Shown(to).c_str(), replace == Replace::Allowed ? " (may replace)" : "");
  }
  if (replace == Replace::Allowed) {
    CheckReplace(fs_, watch_, sourceDir, from, targetDir, to, fs_.Resolve(fromDir, from));
  }
  CheckInTree(sourceDir);
  CheckInTree(targetDir);
  const int error = fs_.Rename(fromDir, from, toDir, to, replace);
  watch_.renamed = true;
  if (kTrace) std::fprintf(stderr, "      gave %d\n", error);
  if (replace == Replace::Never && MeansFlagRefused(error)) watch_.flagRefused = true;
  if (replace == Replace::Never && error == EEXIST) {
    watch_.takenPairs.insert({sourceDir, from, targetDir, to});
  }
  if (watch_.failing.count(fs_.Calls()) != 0 && error == EINVAL) watch_.refusalFaked = true;
  return After(error);
}

// (b): a directory of the tree, one that no longer has a name at all (a
// handle of it renames nothing anyone sees), or one that another process
// took out of the tree during this line (moved away, or a link on the way
// to it removed or swapped), after the run's last look.
void CheckedSystem::CheckInTree(uint64_t dir) {
  if (dir == 0 || TreeDirs(watch_).count(dir) != 0 || !InNamespace(fs_, dir) ||
      TakesAGoneTreeNumber(dir)) {
    return;
  }
  const bool changedInLine = fs_.ChangesMade().size() != watch_.changesAtLine;
  const bool movedNow =
      (changedInLine && watch_.lineTree.count(dir) != 0) ||
      std::any_of(watch_.movedAway.begin(), watch_.movedAway.end(), [&](const auto& move) {
        return move.second == watch_.line && move.first == dir;
      });
  if (kTrace && !movedNow) {
    std::fprintf(stderr, "    renames in #%llu, outside the tree from #%llu\n",
                 static_cast<unsigned long long>(watch_.outDir),
                 static_cast<unsigned long long>(dir));
  }
  FUZZ_CHECK_NAMED("outside-tree", movedNow);
}

// The tree is the directory the run first took as its output directory (its
// handle's status read): another process's change before that, of /out
// itself included, is what the user's path names.
void CheckedSystem::NoteOutDir(int result, int handle) {
  if (watch_.outDir != 0 || result != 0) return;
  const uint64_t opened = fs_.Resolve(handle, ".");
  if (opened == 0 || opened != OutDirNow(fs_)) return;
  watch_.outDir = opened;
  watch_.firstTree = TreeDirs(watch_);
}

// A directory made in the place of one of the tree's that has gone, under
// the number the device freed with it: no program tells the two apart by
// device and inode number, and the run takes it for the tree's.
// Where the file system numbers entries by spelling (exfat-fuse, fusefat),
// whose numbers therefore tell nothing, a directory another process put in
// the place of one of the tree's is taken for it the same way.
bool CheckedSystem::TakesAGoneTreeNumber(uint64_t dir) {
  if (fs_.Device().unsteadyInodes) {
    std::set<uint64_t> standIns = watch_.firstTree;
    for (const test_support::ChangeMade& made : fs_.ChangesMade()) {
      if (made.kind == ChangeKind::SwapForDirectory && standIns.count(made.entry) != 0) {
        standIns.insert(made.added);
      }
    }
    if (standIns.count(dir) != 0) return true;
  }
  if (!fs_.Device().reusesInodes || fs_.Device().unsteadyInodes) return false;
  return std::any_of(watch_.firstTree.begin(), watch_.firstTree.end(), [&](uint64_t tree) {
    return tree != dir && fs_.NumberOf(tree) == fs_.NumberOf(dir) && !InNamespace(fs_, tree);
  });
}

// A move due at the call of another change waits one call: what it moved
// is then known.
void CheckedSystem::Before() {
  for (MoveOut& move : watch_.moves) {
    if (move.beforeCall != fs_.Calls() + 1) continue;
    if (fs_.ChangeDueBefore(move.beforeCall)) {
      ++move.beforeCall;
    } else {
      Move(move.pick);
    }
    break;
  }
}

// Another process moves a directory below /out to /elsewhere: a counted call
// of the model, so faults and changes apply to it as to any.
void CheckedSystem::Move(size_t pick) {
  std::vector<ModelFs::Entry> dirs = fs_.Snapshot("/out");
  std::erase_if(dirs,
                [](const ModelFs::Entry& entry) { return entry.kind != NodeKind::Directory; });
  if (dirs.empty()) return;
  const ModelFs::Entry& dir = dirs[pick % dirs.size()];
  const uint64_t parent = fs_.SerialOf(dir.path.substr(0, dir.path.rfind('/')));
  const std::string to = "/elsewhere/m" + std::to_string(++watch_.moveCount);
  // Taken before the move: a device that loses a moved directory's contents
  // leaves nothing below it to take afterwards.
  const std::vector<ModelFs::Entry> below = fs_.Snapshot(dir.path);
  if (fs_.Rename(kWorkingDirectory, dir.path, kWorkingDirectory, to, Replace::Never) != 0) return;
  if (kTrace) std::fprintf(stderr, "    moved %s away\n", Shown(dir.path).c_str());
  watch_.movedInLine = true;
  watch_.moved.insert(parent);
  watch_.moved.insert(dir.serial);
  watch_.movedAway.push_back({dir.serial, watch_.line});
  if (fs_.Device().losesMovedContents) {
    watch_.emptied.insert(dir.serial);
    for (const ModelFs::Entry& entry : below) watch_.emptied.insert(entry.serial);
  }
  for (const ModelFs::Entry& entry : below) {
    watch_.moved.insert(entry.serial);
    if (entry.kind == NodeKind::Directory) watch_.movedAway.push_back({entry.serial, watch_.line});
  }
}

// Nothing lost, no contents changed, no entry another process added lost,
// no handle misused.
int CheckedSystem::After(int result) {
  FUZZ_CHECK_NAMED("handle-misused", fs_.Misuses() == 0);
  // A call that neither renamed nor had another process change the tree
  // before it leaves the tree as the last check saw it.
  const size_t changes = fs_.ChangesMade().size() + watch_.movedAway.size();
  if (!watch_.renamed && changes == watch_.changesSeen) return result;
  watch_.renamed = false;
  watch_.changesSeen = changes;
  if (kTrace && !fs_.ChangesMade().empty()) {
    const test_support::ChangeMade& made = fs_.ChangesMade().back();
    std::fprintf(stderr, "    last change %d before call %llu in #%llu at #%llu, put in #%llu\n",
                 static_cast<int>(made.kind), static_cast<unsigned long long>(made.beforeCall),
                 static_cast<unsigned long long>(made.dir),
                 static_cast<unsigned long long>(made.entry),
                 static_cast<unsigned long long>(made.added));
  }
  const Hits hits(fs_, watch_.moved);
  const Look now(fs_);
  // A device that loses a moved directory's contents loses them too when
  // another process moves it away.
  const std::set<uint64_t>& emptied = watch_.emptied;
  for (const auto& [serial, names] : watch_.start.names) {
    if (hits.Out(serial) || emptied.count(serial) != 0) continue;
    const auto found = now.names.find(serial);
    const bool kept = found != now.names.end() && found->second == names;
    FUZZ_CHECK_NAMED("lost", kept);
    if (!kept) continue;
    FUZZ_CHECK_NAMED("contents", now.contents.at(serial) == watch_.start.contents.at(serial) ||
                                     hits.writtenInto.count(serial) != 0);
  }
  const bool lookThenRename = fs_.Device().noReplaceRefused || watch_.refusalFaked;
  for (const auto& [added, in] : hits.added) {
    // Also where another process's change put it in a directory that a move
    // of the same call then emptied.
    const bool lostInMove = emptied.count(added) != 0 || emptied.count(in) != 0;
    FUZZ_CHECK_NAMED("added-lost", hits.Out(added) || lostInMove || now.names.count(added) == 1 ||
                                       (lookThenRename && hits.twins.count(added) != 0));
  }
  return result;
}

// The components of a path the run names: the slash and the backslash both
// separate.
std::vector<std::string> Components(std::string_view path) {
  std::vector<std::string> parts;
  std::string part;
  for (size_t i = 0; i < path.size(); ++i) {
    if (IsSeparatorAt(path, i)) {
      if (!part.empty()) parts.push_back(part);
      part.clear();
    } else {
      part += path[i];
    }
  }
  if (!part.empty()) parts.push_back(part);
  return parts;
}

bool HoldsSeparator(std::string_view name) {
  for (size_t i = 0; i < name.size(); ++i) {
    if (IsSeparatorAt(name, i)) return true;
  }
  return false;
}

// The entry that a line's path means, as far as it can be told.
struct Meant {
  bool clear = false;  // one directory on the way, and one entry at the end
  uint64_t dir = 0, entry = 0;
  std::string name;         // its name now
  bool amongTwins = false;  // two spellings there, neither the one asked for
  size_t spellings = 0;     // of the name there
};

// The spellings in dir that the locale's upper case makes one with name; where
// there are none, its parked forms (a leftover a search shows by its own name).
std::vector<std::pair<std::string, uint64_t>> Spellings(const ModelFs& fs, uint64_t dir,
                                                        const std::string& name) {
  const std::string upper = LocaleUpperCase(name);
  const std::string parked = LocaleUpperCase(ParkedName(name));
  std::vector<std::pair<std::string, uint64_t>> own, leftovers;
  for (const auto& [spelling, serial] : fs.Children(dir)) {
    const std::string mine = LocaleUpperCase(spelling);
    if (mine == upper) own.emplace_back(spelling, serial);
    if (mine == parked) leftovers.emplace_back(spelling, serial);
  }
  return own.empty() ? leftovers : own;
}

// The path below the output directory as the run started, whatever has
// taken its place since (the engine holds on to it).
Meant MeantBy(ModelFs& fs, uint64_t outDir, std::string_view below) {
  Meant meant;
  const std::vector<std::string> parts = Components(below);
  if (parts.empty()) return meant;
  uint64_t dir = outDir;
  for (size_t i = 0; i + 1 < parts.size(); ++i) {
    const auto spellings = Spellings(fs, dir, parts[i]);
    // A file on the way leaves the walk to a parked directory, if any.
    if (spellings.size() != 1 || fs.KindOf(spellings[0].second) == NodeKind::File) return meant;
    dir = fs.KindOf(spellings[0].second) == NodeKind::Directory
              ? spellings[0].second
              : LinkedDir(fs, spellings[0].second);
    if (dir == 0) return meant;
  }
  const std::string& asked = parts.back();
  const auto spellings = Spellings(fs, dir, asked);
  meant.dir = dir;
  for (const auto& [spelling, serial] : spellings) {
    if (spelling == asked) {
      meant.entry = serial;
      meant.name = spelling;
    }
  }
  const bool own =
      !spellings.empty() && LocaleUpperCase(spellings[0].first) == LocaleUpperCase(asked);
  meant.spellings = own ? spellings.size() : 0;
  meant.amongTwins = meant.entry == 0 && meant.spellings > 1;
  if (meant.entry == 0 && spellings.size() == 1) {
    meant.entry = spellings[0].second;
    meant.name = spellings[0].first;
  }
  meant.clear = meant.entry != 0;
  return meant;
}

// The run's file system: the engine over the checked model, and the checks
// of each line.
class CheckedRun final : public FileSystem {
 public:
  CheckedRun(Watch& watch, posix::System& system) : watch_(watch), engine_(system) {}

  int32_t FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec) override {
    if (kTrace) std::fprintf(stderr, "search %s\n", Shown(pattern).c_str());
    searchDirs_[&rec] = std::string(pattern.substr(0, LastSeparatorIndex("\\/", pattern)));
    return Delivered(engine_.FindFirst(pattern, mask, rec), rec);
  }
  int32_t FindNext(TSearchRec& rec) override { return Delivered(engine_.FindNext(rec), rec); }
  bool IsExistingFile(std::string_view path) override { return engine_.IsExistingFile(path); }
  bool Rename(std::string_view source, std::string_view target) override;

 private:
  int32_t Delivered(int32_t code, const TSearchRec& rec) {
    if (code == 0) {
      if (kTrace) std::fprintf(stderr, "  found %s\n", Shown(rec.FoundName).c_str());
      FUZZ_CHECK(!rec.FoundName.empty() && rec.FoundName.find('/') == std::string::npos);
      if (HoldsSeparator(rec.FoundName)) backslashed_.insert(searchDirs_[&rec] + rec.FoundName);
    }
    return code;
  }
  // Whether the line's path is one the run built from a name holding a
  // separator: the search's directory and the name (a directory's with a
  // separator after it).
  bool NamesBackslashed(std::string_view source) const {
    return std::any_of(backslashed_.begin(), backslashed_.end(), [&](const std::string& path) {
      return source == path || (source.size() == path.size() + 1 && source.starts_with(path) &&
                                IsSeparatorAt(source, path.size()));
    });
  }

  Watch& watch_;
  EngineFileSystem engine_;
  std::map<const TSearchRec*, std::string> searchDirs_;  // the pattern's directory part
  std::set<std::string> backslashed_;                    // paths built from such names
};

bool CheckedRun::Rename(std::string_view source, std::string_view target) {
  ModelFs& fs = watch_.fs;
  ++watch_.line;
  watch_.changesAtLine = fs.ChangesMade().size();
  watch_.movedInLine = false;
  watch_.lineTree = TreeDirs(watch_);
  const Meant meant = MeantBy(fs, watch_.outDir, source.substr(kOutDir.size()));
  const bool backslashed = NamesBackslashed(source);
  const std::vector<ModelFs::Entry> before = fs.Snapshot("/");
  const bool wasCut = fs.Cut();
  const uint64_t firstCall = fs.Calls() + 1;
  const bool done = engine_.Rename(source, target);
  int faults = !wasCut && fs.Cut() ? 2 : 0;
  for (uint64_t call = firstCall; call <= fs.Calls(); ++call) faults += watch_.failing.count(call);
  if (kTrace) {
    std::fprintf(stderr, "line %llu: %s -> %s: %s (calls %llu-%llu, faults %d)\n",
                 static_cast<unsigned long long>(watch_.line), Shown(source).c_str(),
                 Shown(target).c_str(), done ? "done" : "failed",
                 static_cast<unsigned long long>(firstCall),
                 static_cast<unsigned long long>(fs.Calls()), faults);
  }
  const bool changed = watch_.movedInLine || fs.ChangesMade().size() != watch_.changesAtLine;
  const Hits hits(fs, watch_.moved);
  if (changed || hits.Hit(meant.dir, meant.entry)) return done;
  if (backslashed) {
    FUZZ_CHECK_NAMED("backslash", !done && fs.Snapshot("/") == before);
    return done;
  }
  FUZZ_CHECK_NAMED("twins-done", !done || !meant.amongTwins);
  // Two spellings of one name: which one a line means cannot be told, so
  // every line that names it fails and none of them is touched.
  FUZZ_CHECK_NAMED("spellings-one-rule",
                   meant.spellings < 2 || (!done && fs.Snapshot("/") == before));
  if (!meant.clear) return done;
  const std::string upper = Components(target).back();
  if (kTrace) {
    std::fprintf(stderr, "  meant #%llu in #%llu as %s\n",
                 static_cast<unsigned long long>(meant.entry),
                 static_cast<unsigned long long>(meant.dir), Shown(meant.name).c_str());
  }
  if (done) {
    // An entry left parked whose own name another entry has taken since is
    // a leftover no more: the name is spelled as asked, and it stays.
    const bool parkedBeside = !NameOfParked(meant.name).empty() &&
                              Holds(fs, meant.dir, meant.name, meant.entry) &&
                              fs.Children(meant.dir).count(upper) != 0;
    FUZZ_CHECK_NAMED("done-not-upper", Holds(fs, meant.dir, upper, meant.entry) || parkedBeside);
    return done;
  }
  // Where listings hide case, the engine cannot tell which spelling an entry
  // had: put back after a failed step, it takes the listed one.
  bool kept = false, parked = false;
  for (const auto& [name, serial] : fs.Children(meant.dir)) {
    if (serial != meant.entry) continue;
    kept |= name == meant.name ||
            (fs.Device().listingHidesCase && LocaleUpperCase(name) == LocaleUpperCase(meant.name));
    parked |= LocaleUpperCase(NameOfParked(name)) == LocaleUpperCase(meant.name);
  }
  FUZZ_CHECK_NAMED("failed-moved", kept ||
                                       (faults >= 1 && Holds(fs, meant.dir, upper, meant.entry)) ||
                                       (faults >= 2 && parked));
  return done;
}

std::string configPath;

void WriteConfig(const Plan& plan) {
  std::remove(configPath.c_str());
  if (!plan.hasConfig) return;
  FILE* file = std::fopen(configPath.c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  std::fwrite(plan.config.data(), 1, plan.config.size(), file);
  std::fclose(file);
}

// One process's run of the tool over the model.
void Run(ModelFs& fs, Watch& watch) {
  if (kTrace) {
    std::fprintf(stderr, "run%s%s\n",
                 watch.failing.empty() && watch.moves.empty() ? "" : " with faults",
                 watch.completing ? ", completing" : "");
  }
  TraceTree(fs);
  {
    CheckedSystem system(watch);
    CheckedRun run(watch, system);
    RunRename(run, std::string(kOutDir), configPath);
  }
  TraceTree(fs);
  if (!fs.Cut()) FUZZ_CHECK_NAMED("handles-left", fs.OpenHandles() == 0);
}

void UseLocale(const char* name) {
  setenv("LC_ALL", name, 1);
  InitTextLocale();
}

}  // namespace
}  // namespace dazi::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The run's lines go nowhere; the sort order is the process's, taken from
  // the locale at its first comparison: C.UTF-8's.
  const int null = open("/dev/null", O_WRONLY);
  if (null >= 0) dup2(null, 1);
  setenv("LC_ALL", "C.UTF-8", 1);
  dazi::fuzz::configPath = "/tmp/dazi-fuzz-" + std::to_string(getpid()) + ".env";
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dazi;
  using namespace dazi::fuzz;
  current.data = data;
  current.size = size;
  current.failed = false;
  Input input(data, size);
  const char* locale = kLocales[input.Byte() % std::size(kLocales)];
  const DeviceSwitches device = DeviceOf(input);
  ModelFs fs(device);
  Build(fs, input);
  const Plan plan = PlanOf(input);
  UseLocale(locale);
  WriteConfig(plan);
  if (kTrace) {
    std::fprintf(stderr,
                 "locale %s; folds %d, hides case %d, unsteady %d, fuse %d, refuses %d, loses %d, "
                 "lower layer %d\n",
                 locale, device.foldsCase, device.listingHidesCase, device.unsteadyInodes,
                 device.fuse, device.noReplaceRefused, device.losesMovedContents,
                 device.lowerLayerDirectories);
    std::fprintf(stderr, "configuration%s:\n%s", plan.hasConfig ? "" : " (none)",
                 Shown(plan.config).c_str());
  }

  std::set<uint64_t> moved;
  {
    Watch watch(fs, moved);
    Run(fs, watch);
  }
  if (!plan.Faulty()) return 0;

  // The same tree again, with the faults placed among the calls that the
  // first run made, then completed by the next process.
  const uint64_t calls = std::max<uint64_t>(fs.Calls(), 1);
  const auto at = [&](uint64_t share) { return 1 + share * calls / 256; };
  Input again(data, size);
  again.Byte();
  DeviceOf(again);
  ModelFs faulty(device);
  Build(faulty, again);
  Watch watch(faulty, moved);
  for (const auto& [share, error] : plan.failures) {
    faulty.FailCall(at(share), error);
    watch.failing.insert(at(share));
  }
  if (plan.cut >= 0) faulty.CutAt(at(static_cast<uint64_t>(plan.cut)));
  for (Change change : plan.changes) {
    change.beforeCall = at(change.beforeCall);
    faulty.ChangeBefore(change);
  }
  for (MoveOut move : plan.moves) watch.moves.push_back({at(move.beforeCall), move.pick});
  Run(faulty, watch);
  faulty.Restart();
  Watch completing(faulty, moved);
  completing.completing = true;
  completing.emptied = watch.emptied;
  Run(faulty, completing);
  return 0;
}
