#include "support/fs/posix/case_change_posix.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/fs/filesys.h"
#include "support/fs/filesys_posix.h"
#include "support/fs/posix/engine_posix.h"
#include "tests/unit/model_fs_posix.h"
#include "tests/unit/temp_tree.h"

namespace dazi {
namespace {

using namespace posix;
using namespace test_support;

// Every combination of facts, each handed to f.
template <typename F>
void ForEveryCombination(F f) {
  const Known knowns[] = {Known::Unknown, Known::Yes, Known::No};
  CaseFacts c;
  for (Where where : {Where::Unlooked, Where::Given, Where::Listed, Where::AsAsked, Where::Parked,
                      Where::Gone, Where::NotSingle}) {
    c.where = where;
    for (Attempt attempt : {Attempt::None, Attempt::NoEntry, Attempt::Refused}) {
      c.attempt = attempt;
      for (Target target : {Target::Unknown, Target::Taken, Target::Itself}) {
        c.target = target;
        for (Made made : {Made::Nothing, Made::OneRename, Made::TwoSteps}) {
          c.made = made;
          for (Shown shown : {Shown::Unread, Shown::AsAsked, Shown::Other, Shown::Lost}) {
            c.shown = shown;
            for (int k = 0; k < 81; ++k) {
              c.foldsCase = knowns[k % 3];
              c.movingEmpties = knowns[k / 3 % 3];
              c.oneInode = knowns[k / 9 % 3];
              c.otherCase = knowns[k / 27];
              for (unsigned bits = 0; bits < 64; ++bits) {
                c.inTwoSteps = bits & 1;
                c.listingHidesCase = bits & 2;
                c.showedHere = bits & 4;
                c.asAsked = bits & 8;
                c.asciiOnly = bits & 16;
                c.appeared = bits & 32;
                f(c);
              }
            }
          }
        }
      }
    }
  }
}

bool ChangesAName(Step step) {
  return step == Step::RenameOnto || step == Step::RenameNoReplace || step == Step::ThroughParked ||
         step == Step::FinishParked;
}

// No row is hidden behind earlier ones. A rename that may replace what
// answers to the new spelling is chosen only where that is the entry itself:
// the device folds case, or the listing has the entry alone under another
// spelling. A name changes once, or once more where the listing shows that
// the first change did not take.
TEST(CaseChangeTable, EveryRowDecidesAndNothingIsReplaced) {
  std::vector<bool> decides(CaseRows().size(), false);
  ForEveryCombination([&](const CaseFacts& f) {
    const size_t row = DecidingRow(f);
    decides[row] = true;
    const Step step = CaseRows()[row].step;
    if (step == Step::RenameOnto) {
      ASSERT_TRUE((f.foldsCase == Known::Yes && f.asciiOnly) || f.target == Target::Itself)
          << CaseRows()[row].name;
    }
    if (ChangesAName(step) && f.made != Made::Nothing) {
      ASSERT_TRUE(f.made == Made::OneRename && f.shown == Shown::Other) << CaseRows()[row].name;
    }
  });
  for (size_t row = 0; row < decides.size(); ++row) {
    EXPECT_TRUE(decides[row]) << CaseRows()[row].name << " never decides";
  }
}

// The rows that only the model reaches: a directory changed by someone else
// during the run (the listing read after the run's own change shows the name
// twice or not at all, or the spelling just found in the listing has gone),
// and a device that both ignores a direct case change and numbers each
// spelling anew.
const std::set<std::string> kOnlyOnTheModel = {"steps, lost", "one rename, lost",
                                               "missing, looked up", "one rename, not taken"};

int Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str());
}

bool HasTool(const std::string& tool) {
  return Run("command -v " + tool) == 0;
}

// A file system made fresh in an image and mounted through FUSE: its names
// are made with one mount command and renamed under another (lowntfs-3g
// with ignore_case lists every name in lower case).
struct FileSystem {
  const char* name;
  bool loop;         // mounted from a loop device on the image
  const char* make;  // {image}
  const char* look;  // {image} {point}
  const char* run;   // {image} {point}
};

const FileSystem kFileSystems[] = {
    {"ext4", false, "", "", ""},
    {"exfat", true, "mkfs.exfat {image}", "mount.exfat-fuse {image} {point}", ""},
    {"ntfs", true, "mkntfs -F -Q {image}", "ntfs-3g {image} {point}", ""},
    {"ntfs_ignore_case", true, "mkntfs -F -Q {image}", "ntfs-3g {image} {point}",
     "lowntfs-3g -o ignore_case {image} {point}"},
    {"fat", false, "mkfs.fat {image}", "fusefat -o rw+ {image} {point}", ""},
};

std::string Filled(std::string text, const std::string& image, const std::string& point) {
  for (auto [key, value] : {std::pair{"{image}", image}, std::pair{"{point}", point}}) {
    const size_t at = text.find(key);
    if (at != std::string::npos) text.replace(at, std::string(key).size(), value);
  }
  return text;
}

class Mounted {
 public:
  Mounted(const FileSystem& fs, const fs::path& place)
      : fs_(fs), image_((place / "fs.img").string()), point_(place / "mnt") {
    if (std::string(fs.make).empty()) {
      point_ = place;
      return;
    }
    fs::create_directory(point_);
    fs::resize_file((std::ofstream(image_), image_), 64 << 20);
    EXPECT_EQ(Run(Filled(fs.make, image_, "")), 0) << fs.make;
    source_ = fs.loop ? LoopDevice() : image_;
    EXPECT_FALSE(source_.empty()) << "no loop device for the image";
    if (!source_.empty()) Mount(fs.look);
  }
  ~Mounted() {
    Unmount();
    if (fs_.loop && !source_.empty()) Run("losetup -d " + source_);
  }
  const fs::path& Point() const { return point_; }

  // The mount under which the renames are made, where it differs.
  void ForTheRun() {
    if (std::string(fs_.run).empty()) return;
    Unmount();
    Mount(fs_.run);
  }
  void ForLooking() {
    if (std::string(fs_.run).empty()) return;
    Unmount();
    Mount(fs_.look);
  }

 private:
  // The daemon of the last mount of the image may still be writing it back.
  void Mount(const char* command) {
    for (int i = 0; i < 50 && !mounted_; ++i) {
      mounted_ = Run(Filled(command, source_, point_.string())) == 0;
      if (!mounted_) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(mounted_) << command;
  }
  void Unmount() {
    if (!mounted_) return;
    ForgetTree();
    for (int i = 0; i < 50 && Run("fusermount -u " + point_.string()) != 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    mounted_ = false;
  }

  const FileSystem& fs_;
  std::string LoopDevice() const {
    std::string device(256, '\0');
    FILE* attached = popen(("losetup --find --show " + image_).c_str(), "r");
    if (attached == nullptr) return {};
    const bool read = fgets(device.data(), static_cast<int>(device.size()), attached) != nullptr;
    pclose(attached);
    device.resize(read ? device.find_first_of("\n", 0) : 0);
    return device;
  }

  std::string image_, source_;
  fs::path point_;
  bool mounted_ = false;
};

struct Call {
  const char* from;
  const char* to;
  bool renamed;
  std::vector<std::string> rows;  // the rows that decide it, in order
};

// Another process changes the directory just before the last call that the
// rename makes when nothing disturbs it (the model only).
enum class Meanwhile { Nothing, EntryRemoved, LookFails };

struct Walk {
  const char* fs;
  std::vector<std::string> dirs, files;
  std::vector<std::pair<std::string, std::string>> hardLinks;  // the second names the first
  std::vector<Call> calls;
  Names listing;  // afterwards, as the file system spells the names
  Meanwhile meanwhile = Meanwhile::Nothing;
};

const std::string kLong(256, 'a');
const std::string kLongUpper(256, 'A');
// Longer than a string's inline buffer, so that a read past its end shows.
const std::string kLongSys = "averyveryverylongfilenamewithmorethanforty.sys";
const std::string kLongSysUpper = "AVERYVERYVERYLONGFILENAMEWITHMORETHANFORTY.SYS";
const std::string kLongSysParked = "~DZ~" + kLongSys;

// Each walk: the file system, its directories, files and hard links (the
// second names the first), the renames with the rows that decide each, and
// the directory's names afterwards as the file system spells them.
// clang-format off
const Walk kWalks[] = {
    {"ext4", {}, {"abc"}, {},
     {{"abc", "ABC", true, {"first try", "as asked"}}}, {"ABC"}},
    // Two spellings of the name: every line that names it fails, also where
    // one of them is upper case already, and none is touched.
    {"ext4", {}, {"abc", "ABC"}, {},
     {{"abc", "ABC", false, {"no single spelling"}}, {"ABC", "ABC", false, {"no single spelling"}}},
     {"ABC", "abc"}},
    {"ext4", {}, {}, {},
     {{"gone", "GONE", false, {"first try", "missing, unlooked", "gone"}}}, {}},
    {"ext4", {}, {"~DZ~abc"}, {},
     {{"abc", "ABC", true, {"first try", "missing, unlooked", "parked", "as asked"}}}, {"ABC"}},
    // Parked under another case of the spelling given, alone: that one.
    {"ext4", {}, {"~DZ~Abc"}, {},
     {{"abc", "ABC", true, {"first try", "missing, unlooked", "parked", "as asked"}}}, {"ABC"}},
    {"ext4", {}, {kLongSysParked}, {},
     {{kLongSys.c_str(), kLongSysUpper.c_str(), true, {"first try", "missing, unlooked", "parked", "as asked"}}},
     {kLongSysUpper}},
    // Two spellings of the name, neither the one given: which one was meant
    // cannot be told, so neither is renamed.
    {"ext4", {}, {"KdCom.dll", "kDcOm.dll"}, {},
     {{"kdcom.dll", "KDCOM.DLL", false, {"no single spelling"}}},
     {"KdCom.dll", "kDcOm.dll"}},
    {"ext4", {}, {}, {},
     {{kLong.c_str(), kLongUpper.c_str(), false, {"first try", "refused"}}}, {}},
    {"ext4", {}, {"ABC", "123"}, {},
     {{"ABC", "ABC", true, {"as given, unlooked", "as given, fold unknown", "as given, other case missing"}},
      {"ABC", "ABC", true, {"as given, unlooked", "as given, keeps case apart"}}}, {"123", "ABC"}},
    {"ext4", {}, {"123"}, {},
     {{"123", "123", true, {"as given, unlooked", "as given, fold unknown", "as asked"}}}, {"123"}},
    {"ext4", {}, {"abc"}, {},
     {{"ABC", "ABC", true, {"as given, unlooked", "missing, unlooked", "first try", "as asked"}}}, {"ABC"}},
    // Two names of one inode that differ in case are no case change to make:
    // the rename through the parked name finds the asked spelling taken.
    {"ext4", {}, {"ABC"}, {{"ABC", "abc"}},
     {{"abc", "abc", false, {"no single spelling"}}}, {"ABC", "abc"}},
    {"ext4", {}, {"ABC", "abc"}, {},
     {{"abc", "abc", false, {"no single spelling"}}}, {"ABC", "abc"}},
    {"exfat", {}, {"abc", "def"}, {},
     {{"abc", "ABC", true, {"first try", "taken", "itself, inodes unknown", "itself, other inode",
                            "one rename, unread", "one rename, shown"}},
      {"abc", "ABC", true, {"folds, appeared"}},
      {"def", "DEF", true, {"folds", "one rename, showed here before"}}}, {"ABC", "DEF"}},
    {"exfat", {}, {"ABC"}, {},
     {{"ABC", "ABC", true, {"as given, unlooked", "as given, fold unknown", "as given, folds", "as asked"}}},
     {"ABC"}},
    {"ntfs", {}, {"abc", "ABC"}, {},
     {{"abc", "ABC", false, {"no single spelling"}}}, {"ABC", "abc"}},
    {"ntfs_ignore_case", {}, {"abc", "def"}, {},
     {{"abc", "ABC", true, {"first try", "taken", "itself, inodes unknown", "itself, one inode",
                            "steps, unread", "steps, other shown"}},
      {"def", "DEF", true, {"two steps, unlooked", "two steps", "steps, listing hides case"}}}, {"ABC", "DEF"}},
    {"fat", {"sub"}, {"abc", "def"}, {},
     {{"abc", "ABC", true, {"two steps, unlooked", "two steps, kind unknown", "two steps", "steps, unread",
                            "steps, shown"}},
      {"def", "DEF", true, {"two steps, unlooked", "two steps, kind unknown", "two steps",
                            "steps, showed here before"}},
      {"sub", "SUB", false, {"two steps, unlooked", "two steps, kind unknown", "two steps, moving empties"}}},
     {"ABC", "DEF", "sub"}},
    // Moved into another directory, which would empty it: not moved.
    {"fat", {"sub", "d"}, {"sub/in"}, {}, {{"sub", "d/SUB", false, {}}}, {"d", "sub"}},
    // Left parked by a killed run: a file is finished, a directory stays
    // where finishing would empty it.
    {"fat", {"~DZ~sub"}, {"~DZ~sub/in", "~DZ~abc"}, {},
     {{"sub", "SUB", false, {"two steps, unlooked", "two steps, kind unknown", "two steps, moving empties"}},
      {"abc", "ABC", true, {"two steps, unlooked", "two steps, kind unknown", "parked", "as asked"}}},
     {"ABC", "~DZ~sub"}},
    // The model alone: a device that refuses to rename directories (overlay),
    // and a directory changed by another process meanwhile.
    {"overlay", {"sub"}, {}, {},
     {{"sub", "SUB", false, {"first try", "refused"}}}, {"sub"}},
    {"ext4", {}, {"abc"}, {},
     {{"aBc", "ABC", false, {"first try", "missing, unlooked", "first try", "missing, looked up"}}},
     {}, Meanwhile::EntryRemoved},
    {"exfat", {}, {"abc"}, {},
     {{"abc", "ABC", false, {"first try", "taken", "itself, inodes unknown", "itself, other inode",
                             "one rename, unread", "one rename, lost"}}}, {}, Meanwhile::EntryRemoved},
    // The model alone: a device that ignores a direct case change and numbers
    // each spelling anew.
    {"ntfs_ignore_case_renumbered", {}, {"abc"}, {},
     {{"abc", "ABC", true, {"first try", "taken", "itself, inodes unknown", "itself, other inode",
                            "one rename, unread", "one rename, not taken", "steps, unread",
                            "steps, other shown"}}}, {"ABC"}},
    {"fat", {}, {"abc"}, {},
     {{"abc", "ABC", false, {"two steps, unlooked", "two steps, kind unknown", "two steps", "steps, unread",
                             "steps, lost"}}}, {}, Meanwhile::EntryRemoved},
    // A look at the entry's kind that fails: it may be a directory.
    {"fat", {"sub"}, {"sub/in"}, {},
     {{"sub", "SUB", false, {"two steps, unlooked", "two steps, kind unknown", "two steps, moving empties"}}},
     {"sub"}, Meanwhile::LookFails},
};
// clang-format on

// The model's switches for each file system walked.
const std::pair<const char*, DeviceSwitches> kModelDevices[] = {
    {"ext4", DeviceSwitches::Ext4()},
    {"exfat", DeviceSwitches::Exfat()},
    {"ntfs", DeviceSwitches::Ntfs()},
    {"ntfs_ignore_case", DeviceSwitches::NtfsIgnoreCase()},
    {"fat", DeviceSwitches::Fat()},
    {"overlay", DeviceSwitches::Overlay()},
    {"ntfs_ignore_case_renumbered",
     [] {
       DeviceSwitches device = DeviceSwitches::NtfsIgnoreCase();
       device.unsteadyInodes = true;
       return device;
     }()},
};

DeviceSwitches ModelDevice(std::string_view fs) {
  for (const auto& [name, device] : kModelDevices) {
    if (fs == name) return device;
  }
  ADD_FAILURE() << "no model of " << fs;
  return {};
}

// The walk's tree on a fresh model, below /t.
void MakeOnModel(const Walk& walk, ModelFs& model) {
  model.MakeDir("/t");
  for (const std::string& dir : walk.dirs) model.MakeDir("/t/" + dir);
  for (const std::string& file : walk.files) model.MakeFile("/t/" + file, file);
  for (const auto& [name, link] : walk.hardLinks) model.MakeHardLink("/t/" + name, "/t/" + link);
}

// How many calls the walk's renames make on the model when nothing disturbs
// them.
uint64_t UndisturbedCalls(const Walk& walk) {
  ModelFs model(ModelDevice(walk.fs));
  MakeOnModel(walk, model);
  Engine engine(model);
  for (const Call& call : walk.calls)
    engine.Rename(std::string("/t/") + call.from, std::string("/t/") + call.to);
  return model.Calls();
}

std::vector<std::string> RowNames(const std::vector<size_t>& rows) {
  std::vector<std::string> names;
  for (size_t row : rows) names.push_back(CaseRows()[row].name);
  return names;
}

// Each walk takes the same rows on the model as on its file system, and the
// model's walks take every row of the table, with no file system mounted.
TEST(CaseChangeOnTheModel, EveryRowIsWalked) {
  std::set<std::string> walked;
  for (const Walk& walk : kWalks) {
    SCOPED_TRACE(std::string(walk.fs) + ", walk " + std::to_string(&walk - kWalks));
    ModelFs model(ModelDevice(walk.fs));
    MakeOnModel(walk, model);
    if (walk.meanwhile == Meanwhile::LookFails) model.FailCall(UndisturbedCalls(walk), EIO);
    if (walk.meanwhile == Meanwhile::EntryRemoved) {
      model.ChangeBefore(
          {.beforeCall = UndisturbedCalls(walk), .kind = ChangeKind::Remove, .under = "/t"});
    }
    {
      Engine engine(model);
      for (const Call& call : walk.calls) {
        EXPECT_EQ(engine.Rename(std::string("/t/") + call.from, std::string("/t/") + call.to),
                  call.renamed)
            << call.from;
        EXPECT_EQ(RowNames(engine.RowsOfLastCaseChange()), call.rows) << call.from;
        for (const std::string& row : RowNames(engine.RowsOfLastCaseChange())) walked.insert(row);
      }
    }
    EXPECT_EQ(Sorted(model.Names("/t")), walk.listing);
    EXPECT_EQ(model.OpenHandles(), 0u);  // the engine let every handle go
  }
  for (const CaseRow& row : CaseRows()) EXPECT_EQ(walked.count(row.name), 1u) << row.name;
}

std::string WhyNotHere() {
  if (getuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0) return "no FUSE here";
  for (const char* tool : {"mkfs.exfat", "mount.exfat-fuse", "mkntfs", "ntfs-3g", "lowntfs-3g",
                           "mkfs.fat", "fusefat", "fusermount", "losetup"}) {
    if (!HasTool(tool)) return std::string(tool) + " is missing";
  }
  return {};
}

// Each walk makes its tree on a fresh file system and renames there; each
// rename takes the rows given, and every row of the table is taken by some
// walk but those that need the directory changed meanwhile.
TEST(CaseChangeOnRealFileSystems, EveryRowIsWalked) {
  if (const std::string why = WhyNotHere(); !why.empty()) GTEST_SKIP() << why;
  std::set<std::string> walked;
  for (const Walk& walk : kWalks) {
    const FileSystem* found =
        std::find_if(std::begin(kFileSystems), std::end(kFileSystems),
                     [&](const FileSystem& f) { return std::string_view(f.name) == walk.fs; });
    if (walk.meanwhile != Meanwhile::Nothing || found == std::end(kFileSystems)) continue;
    const FileSystem& fs = *found;
    SCOPED_TRACE(std::string(walk.fs) + ", walk " + std::to_string(&walk - kWalks));
    ForgetTree();
    TempTree place;
    Mounted mounted(fs, place.Root());
    {
      TempTree tree(mounted.Point());
      tree.Dirs(walk.dirs);
      tree.Files(walk.files);
      for (const auto& [name, link] : walk.hardLinks) {
        fs::create_hard_link(tree.Root() / name, tree.Root() / link);
      }
      const fs::path root = tree.Root();
      mounted.ForTheRun();
      for (const Call& call : walk.calls) {
        EXPECT_EQ(RenamePath((root / call.from).string(), (root / call.to).string()), call.renamed)
            << call.from;
        EXPECT_EQ(RowNames(RowsOfLastCaseChange()), call.rows) << call.from;
        for (const std::string& row : RowNames(RowsOfLastCaseChange())) walked.insert(row);
      }
      mounted.ForLooking();
      EXPECT_EQ(tree.Listing(), walk.listing);
    }
  }
  for (const CaseRow& row : CaseRows()) {
    EXPECT_NE(walked.count(row.name) + kOnlyOnTheModel.count(row.name), 0u)
        << row.name << " is walked by no rename";
  }
}

}  // namespace
}  // namespace dazi
