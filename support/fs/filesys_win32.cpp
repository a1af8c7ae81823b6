#include <windows.h>

#include <cstring>
#include <string>
#include <unordered_map>

#include "support/fs/filesys.h"
#include "support/fs/parked_name.h"
#include "support/runtime/interrupts.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

// The open search and the platform's record of the entry read last, also of
// one that was passed over. A search runs in two passes: the entries that
// match the mask, then the parked entries whose own names match it.
struct PlatformSearch {
  HANDLE SearchHandle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA SystemEntry = {};
  std::string Dir;  // the pattern's directory part, with its separator
  std::string Mask;
  bool ParkedPass = false;
};

namespace {

// The system takes the slash for a separator too.
constexpr PathStyle kSystemPaths{"\\/:", "\\/"};

// The path without its trailing separators.
std::string WithoutTrailingSeparators(std::string_view path) {
  size_t size = path.size();
  while (size > 1 && IsSeparatorAt(path, size - 1)) --size;
  return std::string(path.substr(0, size));
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsReparsePoint(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// ---------------------------------------------------------------------------
// What the run saw of each directory on its paths: whether it was a reparse
// point (junction or symbolic link) when the run first looked at it, in a
// search that delivered it or in the first search or rename whose path went
// through it. A directory seen as a plain one that is a reparse point by the
// time a rename goes through it was swapped meanwhile: following it could
// lead anywhere, so the rename fails instead.

// A path's directory as the map knows it: upper case, one backslash between
// components.
std::string SeenKey(std::string_view path) {
  std::string key;
  bool afterSeparator = false;
  for (size_t i = 0; i < path.size(); ++i) {
    const bool separator = IsSeparatorAt(path, i);
    if (separator && afterSeparator) continue;
    key += separator ? '\\' : path[i];
    afterSeparator = separator;
  }
  return LocaleUpperCase(key);
}

std::unordered_map<std::string, bool>& SeenAsReparsePoint() {
  static std::unordered_map<std::string, bool> seen;
  return seen;
}

void NoteDirectory(std::string_view path, bool reparsePoint) {
  SeenAsReparsePoint().emplace(SeenKey(path), reparsePoint);
}

// Whether the directory at path, seen as a plain one, is now a reparse point.
bool WasSwapped(const std::string& path) {
  const auto& seen = SeenAsReparsePoint();
  const auto found = seen.find(SeenKey(path));
  return found != seen.end() && !found->second && IsReparsePoint(path);
}

// Notes each directory on the way to path's last component that the run
// had not seen yet; false when one seen as a plain directory was swapped.
bool WayUnchanged(std::string_view path) {
  for (size_t i = 1; i < path.size(); ++i) {
    if (!IsSeparatorAt(path, i) || IsSeparatorAt(path, i - 1) || path[i - 1] == ':') continue;
    const std::string dir(path.substr(0, i));
    const std::string key = SeenKey(dir);
    const auto found = SeenAsReparsePoint().find(key);
    if (found == SeenAsReparsePoint().end()) {
      SeenAsReparsePoint().emplace(key, IsReparsePoint(dir));
    } else if (!found->second && IsReparsePoint(dir)) {
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// Searches.

PlatformSearch& SearchOf(TSearchRec& rec) {
  if (rec.Search == nullptr) rec.Search = new PlatformSearch;
  return *rec.Search;
}

std::string SystemName(const WIN32_FIND_DATAA& entry) {
  return std::string(entry.cFileName, strnlen(entry.cFileName, MAX_PATH));
}

// A parked entry whose own name nothing answers to is delivered by the
// second pass, under its own name; every other entry by the first.
bool IsPassedOver(const TSearchRec& rec, const std::string& name) {
  const PlatformSearch& search = *rec.Search;
  if ((static_cast<int32_t>(search.SystemEntry.dwFileAttributes) & rec.SkipAttr) != 0) return true;
  const std::string_view own = NameOfParked(name);
  if (own.empty()) return search.ParkedPass;
  return Exists(search.Dir + std::string(own)) == search.ParkedPass;
}

// Switches to the second pass; the first one's search stays open when the
// second finds nothing.
bool StartParkedPass(PlatformSearch& search) {
  search.ParkedPass = true;
  const std::string pattern = search.Dir + ParkedName(search.Mask);
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(pattern.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (search.SearchHandle != INVALID_HANDLE_VALUE) FindClose(search.SearchHandle);
  search.SearchHandle = handle;
  search.SystemEntry = entry;
  return true;
}

// The next entry of the search, the current one included; 0 or the system's
// code at the end.
int32_t NextSystemEntry(PlatformSearch& search, bool advance) {
  if (advance && !FindNextFileA(search.SearchHandle, &search.SystemEntry)) {
    const DWORD code = GetLastError();
    if (search.ParkedPass || code != ERROR_NO_MORE_FILES) return static_cast<int32_t>(code);
    if (!StartParkedPass(search)) return ERROR_NO_MORE_FILES;
  }
  return 0;
}

// Passes over entries of the other pass or with a skipped bit, then fills the
// delivered-entry fields from SystemEntry.
int32_t DeliverEntry(TSearchRec& rec, bool advance) {
  PlatformSearch& search = *rec.Search;
  WIN32_FIND_DATAA& entry = search.SystemEntry;
  std::string name;
  for (;; advance = true) {
    if (const int32_t code = NextSystemEntry(search, advance); code != 0) return code;
    name = SystemName(entry);
    if (!IsPassedOver(rec, name)) break;
  }
  if (search.ParkedPass) name = std::string(NameOfParked(name));
  FILETIME local = {};
  WORD date = 0;
  WORD time = 0;
  FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  rec.FoundTime = static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
  rec.FoundSize = static_cast<int32_t>(entry.nFileSizeLow);
  rec.FoundAttr = static_cast<int32_t>(entry.dwFileAttributes);
  rec.FoundName = std::move(name);
  if ((rec.FoundAttr & kFaDirectory) != 0) {
    NoteDirectory(search.Dir + rec.FoundName, (rec.FoundAttr & kFaReparsePoint) != 0);
  }
  return 0;
}

// ---------------------------------------------------------------------------
// Renames.

// The spelling under which the directory holds the entry that path names,
// and its attribute bits; false when nothing answers.
bool ReadBackEntry(const std::string& path, std::string& spelling, DWORD& attributes) {
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(path.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  spelling = SystemName(entry);
  attributes = entry.dwFileAttributes;
  return true;
}

bool HoldsSpelling(const std::string& path) {
  std::string stored;
  DWORD attributes = 0;
  return ReadBackEntry(path, stored, attributes) && stored == FileNamePart(path, kSystemPaths);
}

std::string ParkedPath(const std::string& path) {
  return FileDirPart(path, kSystemPaths) + ParkedName(FileNamePart(path, kSystemPaths));
}

// Renames through the source's parked name, for a case change that MoveFileA
// reported done without making it. Interrupts wait until the entry has a
// name of its own again; after a kill between the steps, a later run finds
// the entry under its parked name and finishes the rename.
bool MoveThroughParkedName(const std::string& source, const std::string& target) {
  const std::string parked = ParkedPath(source);
  InterruptHold hold;
  if (!MoveFileA(source.c_str(), parked.c_str())) return false;
  if (MoveFileA(parked.c_str(), target.c_str())) return true;
  MoveFileA(parked.c_str(), source.c_str());
  return false;
}

// Finishes the rename of an entry that an earlier run left parked. A parked
// link is left as it is: Wine would move what it points to instead.
bool FinishParkedRename(const std::string& source, const std::string& target) {
  const std::string parked = ParkedPath(source);
  if (!Exists(parked) || IsReparsePoint(parked)) return false;
  return MoveFileA(parked.c_str(), target.c_str()) && HoldsSpelling(target);
}

}  // namespace

TSearchRec::~TSearchRec() {
  EndFind(*this);
  delete Search;
}

int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  EndFind(rec);
  rec.SkipAttr = ~mask & (kFaHidden | kFaSysFile | kFaVolumeId | kFaDirectory);
  if (!WayUnchanged(pattern)) return ERROR_PATH_NOT_FOUND;
  PlatformSearch& search = SearchOf(rec);
  search.Dir = FileDirPart(pattern, kSystemPaths);
  search.Mask = FileNamePart(pattern, kSystemPaths);
  search.ParkedPass = false;
  const std::string text(pattern);
  search.SearchHandle = FindFirstFileA(text.c_str(), &search.SystemEntry);
  if (search.SearchHandle == INVALID_HANDLE_VALUE) {
    const int32_t code = static_cast<int32_t>(GetLastError());
    if (code != ERROR_FILE_NOT_FOUND || !StartParkedPass(search)) return code;
  }
  const int32_t code = DeliverEntry(rec, false);
  if (code != 0) EndFind(rec);
  return code;
}

int32_t FindNextEntry(TSearchRec& rec) {
  if (!IsSearchOpen(rec)) return ERROR_NO_MORE_FILES;
  return DeliverEntry(rec, true);
}

void EndFind(TSearchRec& rec) {
  if (rec.Search == nullptr || rec.Search->SearchHandle == INVALID_HANDLE_VALUE) return;
  FindClose(rec.Search->SearchHandle);
  rec.Search->SearchHandle = INVALID_HANDLE_VALUE;
}

bool IsSearchOpen(const TSearchRec& rec) {
  return rec.Search != nullptr && rec.Search->SearchHandle != INVALID_HANDLE_VALUE;
}

// Any last-write time counts: only the directory bit decides.
bool IsExistingFile(std::string_view path) {
  const std::string text(path);
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(text.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  return (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// MoveFileA never replaces. Some file systems (FAT under some drivers, CIFS,
// Wine's mapping onto a case-sensitive one) report a case-only rename done
// and keep the old spelling, so the spelling is read back, and a rename that
// did not take is made in two steps. Not for a link: Wine moves the folder a
// link points to instead of the link, which would bring it into the tree.
// Nothing is renamed through a directory swapped for a reparse point since
// the run saw it; one swapped between this check and MoveFileA is followed,
// as the system offers no rename relative to an opened directory.
bool RenamePath(std::string_view source, std::string_view target) {
  const std::string from(source);
  const std::string to(target);
  const std::string plainSource = WithoutTrailingSeparators(from);
  const std::string plainTarget = WithoutTrailingSeparators(to);
  if (!WayUnchanged(plainSource) || WasSwapped(plainSource)) return false;
  if (!MoveFileA(from.c_str(), to.c_str())) {
    const DWORD code = GetLastError();
    return (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) &&
           FinishParkedRename(plainSource, plainTarget);
  }
  std::string stored;
  DWORD attributes = 0;
  if (!ReadBackEntry(plainTarget, stored, attributes)) return false;
  if (stored == FileNamePart(plainTarget, kSystemPaths)) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  return MoveThroughParkedName(plainSource, plainTarget) && HoldsSpelling(plainTarget);
}

}  // namespace dazi
