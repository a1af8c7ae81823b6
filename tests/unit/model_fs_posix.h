#pragma once
// A model file system in memory behind the rename engine's calls: one device
// of directories, files, symbolic links and hard links, with switches for
// what the file systems the engine meets do with names, and with faults: a
// call that fails, the process ending at a call, and another process changing
// the tree between two calls.
//
// Every entry is a node with a serial of its own (its identity, which the
// inode number reported for it may not show); a hard link is a second name of
// one node. Symbolic links hold an absolute path, resolved from the model's
// root. Nodes are never freed: one taken out of the tree is only unreachable,
// and a handle of it goes on working. Its inode number is freed once it has
// no name and no handle, and a device that reuses numbers gives it to the
// next node made.

#include <locale.h>
#include <sys/types.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/fs/posix/system_posix.h"

namespace dazi::test_support {

// Which letters fold where case folds: ASCII ones, or those that the
// up-case table of an exFAT or NTFS volume (as mkfs.exfat and mkntfs write
// it) joins.
enum class CaseTable { Ascii, Exfat, Ntfs };

// What the device does with names and renames.
struct DeviceSwitches {
  // Lookups ignore letter case (the letters of caseTable), in every
  // directory but those with a folding of their own (SetFolding); names keep
  // the case they were made with.
  bool foldsCase = false;
  // Listings show every name in lower case, and a rename between two
  // spellings of one entry reports success without changing anything.
  bool listingHidesCase = false;
  // The inode number reported for an entry depends on the spelling it was
  // looked up by, and changes once no handle of it is open any more.
  bool unsteadyInodes = false;
  // Mounted through FUSE: the mount type starts with "fuse".
  bool fuse = false;
  // A rename that must not replace fails with EINVAL where nothing is there.
  bool noReplaceRefused = false;
  // A renamed directory loses its entries; a file renamed to another
  // spelling of its own name loses its contents (the mount type is
  // "fuse.fusefat").
  bool losesMovedContents = false;
  // Renaming a directory fails with EXDEV (the mount type is "overlay").
  bool lowerLayerDirectories = false;
  // Where case folds, which letters do; a listing that hides case shows
  // them in lower case.
  CaseTable caseTable = CaseTable::Ascii;
  // Names holding a byte beyond ASCII cannot be made, nor renamed to: EPERM
  // (fusefat).
  bool asciiNamesOnly = false;
  // Listings give DT_UNKNOWN as every entry's type (XFS without ftype, NFS,
  // FUSE daemons that pass no type).
  bool untypedListings = false;
  // Change times in whole seconds: changes within one second leave the same
  // time behind.
  bool wholeSecondTimes = false;
  // The inode number of a node that has gone (no name, no handle) is given
  // to the next node made.
  bool reusesInodes = false;

  // The file systems the engine was walked on, and overlayfs; each as the
  // probe measures its device (tests/blackbox/test_model_presets.py).
  static constexpr DeviceSwitches Ext4() { return {.reusesInodes = true}; }
  // exfat-fuse.
  static constexpr DeviceSwitches Exfat() {
    return {.foldsCase = true,
            .unsteadyInodes = true,
            .fuse = true,
            .noReplaceRefused = true,
            .caseTable = CaseTable::Exfat,
            .wholeSecondTimes = true};
  }
  // ntfs-3g: an entry is numbered by its file record.
  static constexpr DeviceSwitches Ntfs() { return {.fuse = true, .noReplaceRefused = true}; }
  // lowntfs-3g -o ignore_case: both spellings of a name give one inode number.
  static constexpr DeviceSwitches NtfsIgnoreCase() {
    return {.foldsCase = true,
            .listingHidesCase = true,
            .fuse = true,
            .noReplaceRefused = true,
            .caseTable = CaseTable::Ntfs};
  }
  // fusefat.
  static constexpr DeviceSwitches Fat() {
    return {.foldsCase = true,
            .unsteadyInodes = true,
            .fuse = true,
            .noReplaceRefused = true,
            .losesMovedContents = true,
            .asciiNamesOnly = true,
            .wholeSecondTimes = true};
  }
  static constexpr DeviceSwitches Overlay() { return {.lowerLayerDirectories = true}; }
};

enum class NodeKind { Directory, File, Link };

// Another process changing the tree just before a call of the run.
enum class ChangeKind {
  SwapForLink,       // a directory the run took the identity of becomes a link to its mirror
  SwapForDirectory,  // a directory becomes another, empty one
  Remove,            // an entry goes
  // A file is written under the entry's name in the other letter case, as a
  // build step writes its output (O_CREAT, O_TRUNC): beside the entry where
  // its directory keeps case apart, into the entry itself (a file) where it
  // folds.
  AddTwin,
  // A directory is moved out of the run's tree (into Change::elsewhere) and
  // another is made in its place, holding entries of the same names made
  // anew.
  MoveOut,
};

struct Change {
  uint64_t beforeCall = 1;
  ChangeKind kind = ChangeKind::Remove;
  size_t pick = 0;             // which of the entries it can hit, modulo their number
  std::string under = "/out";  // it hits this directory (swaps, moves) or what lies below it
  // A link put in a directory's place leads to the directory at the same
  // place below this one.
  std::string mirror = "/outside";
  // Where a directory moved out of the tree goes.
  std::string elsewhere = "/elsewhere";
};

// What a change did.
struct ChangeMade {
  ChangeKind kind = ChangeKind::Remove;
  uint64_t beforeCall = 0;
  uint64_t dir = 0;    // the directory whose entries it changed
  uint64_t entry = 0;  // the entry taken out or moved, or the one a twin was written beside
  uint64_t added = 0;  // the link, directory or twin put in; 0 where a twin went into the entry
  uint64_t writtenInto = 0;        // the file a twin's name answered to, written into
  std::vector<uint64_t> takenOut;  // the entry taken out or moved and everything below it
};

class ModelFs final : public posix::System {
 public:
  static constexpr dev_t kDevice = 0x2a;

  explicit ModelFs(DeviceSwitches device = DeviceSwitches::Ext4());
  ~ModelFs() override;
  ModelFs(const ModelFs&) = delete;
  ModelFs& operator=(const ModelFs&) = delete;

  // Making the tree: no call is counted, no fault applies. Missing
  // directories on the way are made; each gives the new entry's serial, 0
  // where the name is taken (on a device that folds case, in any letter
  // case), too long or on the way is no directory.
  uint64_t MakeDir(const std::string& path) { return Add(path, NodeKind::Directory, {}, nullptr); }
  uint64_t MakeFile(const std::string& path, const std::string& contents = {}) {
    return Add(path, NodeKind::File, contents, nullptr);
  }
  uint64_t MakeLink(const std::string& path, const std::string& target) {
    return Add(path, NodeKind::Link, target, nullptr);
  }
  uint64_t MakeHardLink(const std::string& existing, const std::string& path);
  // Takes the entry out, a directory with everything below it, as another
  // process removing it would; false where nothing is there.
  bool Remove(const std::string& path);
  // Writes contents into the file that answers to path, making it where
  // nothing does (as O_CREAT without O_EXCL, and O_TRUNC); gives its serial,
  // 0 where a directory or link answers or the way is no directory.
  uint64_t WriteFile(const std::string& path, const std::string& contents);
  // The entries of dir fold case, or keep it apart, whatever the device does
  // (ext4's casefold flag); directories made in it take the flag. False
  // where dir is no directory.
  bool SetFolding(const std::string& dir, bool folds);

  // Looking at the tree: exact spellings, no link followed.
  struct Entry {
    std::string path;
    uint64_t serial;
    NodeKind kind;
    std::string contents;  // a file's contents, a link's target
    bool operator==(const Entry&) const = default;
  };
  // Every entry below dir, reachable without following a link, in order.
  std::vector<Entry> Snapshot(const std::string& dir = "/") const;
  std::vector<std::string> Names(const std::string& dir) const;
  uint64_t SerialOf(const std::string& path) const;  // 0 where nothing is there
  // A directory's names and the serials they name, also once it is taken out.
  std::map<std::string, uint64_t> Children(uint64_t dir) const;
  NodeKind KindOf(uint64_t serial) const;
  // The inode number a steady device reports for the entry (kept once freed).
  ino_t NumberOf(uint64_t serial) const;
  // The entry that path names from the handle at (or the working directory),
  // found as the calls find it but without counting a call: links on the way
  // followed, the last one not; 0 where nothing is there.
  uint64_t Resolve(int at, const std::string& path);

  const DeviceSwitches& Device() const { return device_; }
  void SetDevice(const DeviceSwitches& device) { device_ = device; }
  // Calls counted so far (all but Close), from 1 after each Restart.
  uint64_t Calls() const { return calls_; }
  size_t OpenHandles() const { return handles_.size(); }
  // Calls made with a handle that is not open (closed, or never given out).
  size_t Misuses() const { return misuses_; }

  // Faults, by the number of the counted call. A failed call changes nothing.
  void FailCall(uint64_t call, int error) { failures_[call] = error; }
  // From this call on every call fails with EIO and changes nothing, and
  // Close does nothing: the process has ended.
  void CutAt(uint64_t call) { cutAt_ = call; }
  bool Cut() const { return dead_; }
  // The call fails with error after it took effect: a rename is made, then
  // the error returned. A call that changes nothing just fails.
  void FailAfterEffect(uint64_t call, int error) { lateFailures_[call] = error; }
  void ChangeBefore(const Change& change) { pending_.push_back(change); }
  bool ChangeDueBefore(uint64_t call) const {
    return std::any_of(pending_.begin(), pending_.end(),
                       [&](const Change& change) { return change.beforeCall == call; });
  }
  // Runs step just before the call, after the changes due then: a switch
  // turned, a directory's folding set, an entry made.
  void Before(uint64_t call, std::function<void(ModelFs&)> step) {
    steps_.emplace(call, std::move(step));
  }
  // Change times come from the model's clock, which every change moves on by
  // a microsecond; this moves it on further.
  void AdvanceClock(int64_t nanoseconds) { clock_ += nanoseconds; }
  const std::vector<ChangeMade>& ChangesMade() const { return made_; }
  // The next process: every handle dropped, the cut and the faults and
  // changes still to come cleared, the count started again.
  void Restart();

  int OpenDirectory(int dir, const std::string& name, posix::FollowLink follow,
                    int& handle) override;
  int Stat(int dir, const std::string& name, posix::EntryStatus& status) override;
  int StatHandle(int handle, posix::EntryStatus& status) override;
  int ReadEntries(int handle, std::vector<posix::RawEntry>& entries) override;
  int Rename(int fromDir, const std::string& from, int toDir, const std::string& to,
             posix::Replace replace) override;
  int Duplicate(int handle, int& copy) override;
  void Close(int handle) override;
  int MountType(dev_t device, std::string& type) override;

 private:
  struct Node;
  struct Place;
  struct Handle {
    Node* node;
    ino_t number;
  };
  using ChildMap = std::map<std::string, Node*>;

  Node* New(NodeKind kind, std::string contents = {});
  Node* MadeIn(Node* dir, NodeKind kind, std::string contents = {});
  uint64_t Add(const std::string& path, NodeKind kind, std::string contents, Node* existing);
  Node* Exact(const std::string& path) const;
  ChildMap::iterator Find(Node* dir, const std::string& name);
  bool Folds(const Node* dir) const;
  std::string FoldKey(const std::string& name) const;
  char32_t UpperOf(char32_t c) const;
  std::string UpperCased(const std::string& name) const;
  std::string LowerCased(const std::string& name) const;
  bool Refused(const std::string& name) const;
  int Locate(int at, const std::string& path, Place& place, int depth);
  int Follow(Node* link, int depth, Node*& target);
  Handle* HandleOf(int handle);
  ino_t Number(Node* node, const std::string& spelling);
  void Attach(Node* dir, const std::string& name, Node* node);
  Node* Detach(Node* dir, const std::string& name);
  void Drop(Node* node);
  void Empty(Node* dir);
  void Stamp(Node* node);
  void StampEntries(Node* dir);
  std::pair<int64_t, long> TimeAt(int64_t clock) const;
  int RenameSameEntry(const Place& from, const Place& to);
  void Release(int handle);
  int Begin(bool effectful = false);
  int Late(int result) const;
  int RenameNow(int fromDir, const std::string& from, int toDir, const std::string& to,
                posix::Replace replace);
  void Apply(const Change& change);
  Node* WriteInto(Node* dir, const std::string& name, const std::string& contents);
  Node* MoveOut(Node* dir, const std::string& name, Node* away);

  DeviceSwitches device_;
  std::vector<std::unique_ptr<Node>> nodes_;  // by serial - 1
  Node* root_ = nullptr;
  std::map<int, Handle> handles_;
  int nextHandle_ = 3;
  ino_t nextNumber_ = 1 << 20;
  std::vector<ino_t> freedNumbers_;
  int64_t clock_ = 0;  // nanoseconds since kEpoch
  locale_t utf8_;      // C.UTF-8, for the up-case tables
  size_t misuses_ = 0;
  uint64_t calls_ = 0;
  uint64_t cutAt_ = 0;
  bool dead_ = false;
  std::map<uint64_t, int> failures_;
  std::map<uint64_t, int> lateFailures_;
  std::multimap<uint64_t, std::function<void(ModelFs&)>> steps_;
  std::vector<Change> pending_;
  std::vector<ChangeMade> made_;
  // Directories whose identity the run has taken (StatHandle) since the last
  // Restart: the engine never passes through a link put in their place.
  std::set<uint64_t> known_;
};

}  // namespace dazi::test_support
