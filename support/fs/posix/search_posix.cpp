// Directory searches. A search reaches its directory through the walker,
// reads every name at once (and tells the listings which names it holds
// twice, so that a case change there need not read it again) and leaves the
// handle to the walker: a scan keeps one search open for each level it is
// down, and open directories would run out of descriptors in a deep tree. The
// directories it lists are remembered as seen, so that none of them is
// passed through as a link later in the run.
// An entry left under its parked name by an interrupted run is delivered
// under its own name.

#include <dirent.h>

#include <cerrno>
#include <ctime>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "support/fs/parked_name.h"
#include "support/fs/posix/run_state_posix.h"
#include "support/text/codeset_posix.h"
#include "support/text/locale.h"
#include "support/text/mask_match.h"
#include "support/text/text.h"

namespace dazi {

struct PlatformSearch {
  posix::System* system = nullptr;
  std::string dir;
  std::vector<posix::RawEntry> entries;
  std::unordered_map<size_t, std::string> ownNames;  // of parked entries, by index
  std::vector<std::string> upper;                    // none for the mask that takes every name
  size_t next = 0;
  std::string upperMask;
  MaskCharStep step = StepSingleByte;

  const std::string& ShownName(size_t index) const {
    const auto own = ownNames.find(index);
    return own != ownNames.end() ? own->second : entries[index].name;
  }
};

namespace posix {

namespace {

int32_t AttributesOf(std::string_view name, const EntryStatus* status, unsigned char type) {
  int32_t attr = 0;
  const bool directory = status != nullptr ? status->kind == EntryKind::Directory : type == DT_DIR;
  if (directory) attr |= kFaDirectory;
  if (name[0] == '.' && !IsDotName(name)) attr |= kFaHidden;
  if (status != nullptr && !status->ownerWritable) attr |= kFaReadOnly;
  return attr;
}

int32_t DosDateTime(time_t when) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return 0;
  const int year = local.tm_year + 1900;
  if (year < 1980 || year > 2107) return 0;
  const uint32_t date =
      static_cast<uint32_t>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  const uint32_t time =
      static_cast<uint32_t>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
  return static_cast<int32_t>((date << 16) | time);
}

MaskCharStep NameCharacters() {
  return LocaleCodeset() == Codeset::Utf8 ? StepUtf8 : StepTextLocale;
}

// The mask that matches every name, whatever it is.
constexpr std::string_view kEveryName = "*.*";

// Parked entries whose own name nothing in the directory answers to.
void FindParkedEntries(PlatformSearch& search) {
  std::unordered_set<std::string> upperNames;
  for (size_t i = 0; i < search.entries.size(); ++i) {
    const std::string_view own = NameOfParked(search.entries[i].name);
    if (own.empty()) continue;
    if (upperNames.empty()) {
      for (const RawEntry& entry : search.entries) upperNames.insert(LocaleUpperCase(entry.name));
    }
    if (upperNames.count(LocaleUpperCase(own)) == 0) search.ownNames.emplace(i, own);
  }
}

// An entry whose type the listing does not give (XFS without ftype, NFS,
// some FUSE daemons) is looked at.
bool IsListedDirectory(RunState& run, const WalkedDir& dir, const RawEntry& entry) {
  if (entry.type != DT_UNKNOWN) return entry.type == DT_DIR;
  EntryStatus status;
  return run.system.Stat(dir.fd, entry.name, status) == 0 && status.kind == EntryKind::Directory;
}

void NoteEntries(RunState& run, const WalkedDir& dir, const std::vector<RawEntry>& entries) {
  for (const RawEntry& entry : entries) {
    if (IsDotName(entry.name)) continue;
    if (IsListedDirectory(run, dir, entry)) run.walker.SawDirectory(dir, entry.name);
  }
}

// Names holding a separator, as they are delivered (a parked entry under its
// own name): a path built from one names another entry.
void NoteUnaddressable(RunState& run, const WalkedDir& dir, std::string_view givenDir,
                       const PlatformSearch& search) {
  for (size_t i = 0; i < search.entries.size(); ++i) {
    const std::string& shown = search.ShownName(i);
    if (!IsDotName(shown) && HoldsSeparator(shown)) run.SawUnaddressable(dir, givenDir, shown);
  }
}

// Delivers the next entry that matches the mask and carries none of the
// skipped bits; ENOENT when there is none left.
int32_t DeliverEntry(TSearchRec& rec) {
  PlatformSearch& search = *rec.Search;
  while (search.next < search.entries.size()) {
    const size_t index = search.next++;
    const RawEntry& entry = search.entries[index];
    if (!search.upper.empty() && !MaskMatches(search.upperMask, search.upper[index], search.step)) {
      continue;
    }
    const std::string& shown = search.ShownName(index);
    EntryStatus status;
    const bool lookUp = !rec.KindsOnly || entry.type == DT_UNKNOWN;
    const int error =
        lookUp ? search.system->Stat(kWorkingDirectory, JoinPath(search.dir, entry.name), status)
               : ENOENT;
    if (lookUp && error == ENOENT) continue;  // gone since the directory was read
    const bool known = lookUp && error == 0;
    const int32_t attr = AttributesOf(shown, known ? &status : nullptr, entry.type);
    if ((attr & rec.SkipAttr) != 0) continue;
    rec.FoundTime = known ? DosDateTime(static_cast<time_t>(status.modified)) : 0;
    rec.FoundSize = known ? static_cast<int32_t>(static_cast<uint32_t>(status.size)) : 0;
    rec.FoundAttr = attr;
    rec.FoundName = shown;
    return 0;
  }
  return ENOENT;
}

}  // namespace

int32_t FindFirst(RunState& run, std::string_view pattern, int32_t mask, TSearchRec& rec) {
  EndFind(rec);
  rec.SkipAttr = ~mask & (kFaHidden | kFaSysFile | kFaVolumeId | kFaDirectory);
  size_t cut = pattern.size();
  while (cut > 0 && !IsSeparatorAt(pattern, cut - 1)) --cut;
  const std::string_view dirPart = pattern.substr(0, cut);
  const std::string_view namePart = pattern.substr(cut);
  // Wildcards count only in the last component.
  if (namePart.empty() || dirPart.find_first_of("*?") != std::string_view::npos) return ENOENT;

  WalkedDir dir;
  if (const int error = run.walker.Walk(SplitComponents(dirPart), dir); error != 0) return error;
  auto search = std::make_unique<PlatformSearch>();
  EntryStatus status;
  const bool stamped = run.system.StatHandle(dir.fd, status) == 0;
  if (const int error = run.system.ReadEntries(dir.fd, search->entries); error != 0) return error;
  if (stamped) {
    run.listings.Searched(dir.id, status.entriesChanged, UpperNamesSpelledTwice(search->entries));
  }
  NoteEntries(run, dir, search->entries);
  FindParkedEntries(*search);
  NoteUnaddressable(run, dir, dirPart, *search);
  search->system = &run.system;
  search->dir = dir.path;
  search->upperMask = LocaleUpperCase(namePart);
  if (search->upperMask != kEveryName) {
    search->upper.reserve(search->entries.size());
    for (size_t i = 0; i < search->entries.size(); ++i) {
      search->upper.push_back(LocaleUpperCase(search->ShownName(i)));
    }
  }
  search->step = NameCharacters();
  rec.Search = search.release();
  if (const int32_t code = DeliverEntry(rec); code != 0) {
    EndFind(rec);
    return code;
  }
  return 0;
}

int32_t FindNext(TSearchRec& rec) {
  return rec.Search != nullptr ? DeliverEntry(rec) : EBADF;
}

}  // namespace posix

TSearchRec::~TSearchRec() {
  EndFind(*this);
}

void EndFind(TSearchRec& rec) {
  delete rec.Search;
  rec.Search = nullptr;
}

bool IsSearchOpen(const TSearchRec& rec) {
  return rec.Search != nullptr;
}

}  // namespace dazi
