#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "support/filesys.h"
#include "support/text.h"

namespace dazi {

// The open search and the platform's record of the entry read last, also of
// one that was passed over.
struct PlatformSearch {
  HANDLE SearchHandle = INVALID_HANDLE_VALUE;
  WIN32_FIND_DATAA SystemEntry = {};
};

namespace {

PlatformSearch& SearchOf(TSearchRec& rec) {
  if (rec.Search == nullptr) rec.Search = new PlatformSearch;
  return *rec.Search;
}

// Passes over entries with a skipped bit, then fills the delivered-entry
// fields from SystemEntry.
int32_t DeliverEntry(TSearchRec& rec) {
  PlatformSearch& search = *rec.Search;
  WIN32_FIND_DATAA& entry = search.SystemEntry;
  while ((static_cast<int32_t>(entry.dwFileAttributes) & rec.SkipAttr) != 0) {
    if (!FindNextFileA(search.SearchHandle, &entry)) return static_cast<int32_t>(GetLastError());
  }
  FILETIME local = {};
  WORD date = 0;
  WORD time = 0;
  FileTimeToLocalFileTime(&entry.ftLastWriteTime, &local);
  FileTimeToDosDateTime(&local, &date, &time);
  rec.FoundTime = static_cast<int32_t>((static_cast<uint32_t>(date) << 16) | time);
  rec.FoundSize = static_cast<int32_t>(entry.nFileSizeLow);
  rec.FoundAttr = static_cast<int32_t>(entry.dwFileAttributes);
  rec.FoundName.assign(entry.cFileName, strnlen(entry.cFileName, MAX_PATH));
  return 0;
}

// The spelling under which the directory holds the entry that path names,
// and its attribute bits; false when nothing answers.
bool ReadBackEntry(const std::string& path, std::string& spelling, DWORD& attributes) {
  WIN32_FIND_DATAA entry;
  HANDLE handle = FindFirstFileA(path.c_str(), &entry);
  if (handle == INVALID_HANDLE_VALUE) return false;
  FindClose(handle);
  spelling.assign(entry.cFileName, strnlen(entry.cFileName, MAX_PATH));
  attributes = entry.dwFileAttributes;
  return true;
}

// The system takes the slash for a separator too.
constexpr PathStyle kSystemPaths{"\\/:", "\\/"};

// The path without its trailing separators.
std::string WithoutTrailingSeparators(std::string_view path) {
  std::string plain(path);
  while (plain.size() > 1 &&
         (plain.back() == '/' || IsBackslashAt(plain, static_cast<int>(plain.size())))) {
    plain.pop_back();
  }
  return plain;
}

// Renames through an unused name in the target's directory, for a case
// change that MoveFileA reported done without making it; the source gets its
// name back if the second step fails.
bool MoveThroughUnusedName(const std::string& source, const std::string& target) {
  const std::string dir = FileDirPart(target, kSystemPaths);
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const unsigned value = (GetCurrentProcessId() * 0x9E37u + counter++) & 0xFFFFFu;
    char name[16];
    std::snprintf(name, sizeof name, "~DZ%05X", value);
    const std::string parked = dir + name;
    if (GetFileAttributesA(parked.c_str()) != INVALID_FILE_ATTRIBUTES) continue;
    if (!MoveFileA(source.c_str(), parked.c_str())) return false;
    if (MoveFileA(parked.c_str(), target.c_str())) return true;
    MoveFileA(parked.c_str(), source.c_str());
    return false;
  }
  return false;
}

}  // namespace

TSearchRec::~TSearchRec() {
  EndFind(*this);
  delete Search;
}

int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  EndFind(rec);
  rec.SkipAttr = ~mask & (kFaHidden | kFaSysFile | kFaVolumeId | kFaDirectory);
  PlatformSearch& search = SearchOf(rec);
  const std::string text(pattern);
  search.SearchHandle = FindFirstFileA(text.c_str(), &search.SystemEntry);
  if (search.SearchHandle == INVALID_HANDLE_VALUE) return static_cast<int32_t>(GetLastError());
  const int32_t code = DeliverEntry(rec);
  if (code != 0) EndFind(rec);
  return code;
}

int32_t FindNextEntry(TSearchRec& rec) {
  PlatformSearch& search = SearchOf(rec);
  if (!FindNextFileA(search.SearchHandle, &search.SystemEntry)) {
    return static_cast<int32_t>(GetLastError());
  }
  return DeliverEntry(rec);
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
bool RenamePath(std::string_view source, std::string_view target) {
  const std::string from(source);
  const std::string to(target);
  if (!MoveFileA(from.c_str(), to.c_str())) return false;
  const std::string plainTarget = WithoutTrailingSeparators(to);
  const std::string newName = FileNamePart(plainTarget, kSystemPaths);
  std::string stored;
  DWORD attributes = 0;
  if (!ReadBackEntry(plainTarget, stored, attributes)) return false;
  if (stored == newName) return true;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  return MoveThroughUnusedName(WithoutTrailingSeparators(from), plainTarget) &&
         ReadBackEntry(plainTarget, stored, attributes) && stored == newName;
}

}  // namespace dazi
