#pragma once
// File-system primitives: directory searches over a caller-owned TSearchRec,
// the file existence test and the rename. None of them prints or raises; every
// failure comes back as a result (a non-zero code or false). Paths may use the
// backslash or the slash as separator, and a run of separators counts as one;
// the POSIX build looks up directory names without regard to case.

#include <cstdint>
#include <string>
#include <string_view>

namespace dazi {

using TFileName = std::string;

// Attribute bits of a directory entry (the platform's per-entry bits; the
// POSIX build makes the same ones up from lstat and the name).
inline constexpr int32_t kFaReadOnly = 0x01;
inline constexpr int32_t kFaHidden = 0x02;
inline constexpr int32_t kFaSysFile = 0x04;
inline constexpr int32_t kFaVolumeId = 0x08;
inline constexpr int32_t kFaDirectory = 0x10;
inline constexpr int32_t kFaArchive = 0x20;
inline constexpr int32_t kFaAnyFile = 0x3F;
// A symbolic link or junction on Windows; never followed by the scanner.
inline constexpr int32_t kFaReparsePoint = 0x400;

// The open search of a record, with the platform's record of the entry read
// last; defined by each platform.
struct PlatformSearch;

// One directory search. The caller owns it and hands it to every call of the
// search; it reads FoundName and FoundAttr (FoundTime and FoundSize are filled
// too). The rest belongs to the search.
struct TSearchRec {
  int32_t FoundTime = 0;  // DOS date (high word) and time (low word), local
  int32_t FoundSize = 0;  // low 32 bits of the size
  int32_t FoundAttr = 0;
  TFileName FoundName;

  // Set by a caller that reads only FoundName and the directory and volume
  // bits of FoundAttr. Where the other fields cost a system call per entry
  // (POSIX), they are then left at 0 unless the entry's kind needs one too.
  bool KindsOnly = false;

  int32_t SkipAttr = 0;  // special kinds the request mask leaves out
  PlatformSearch* Search = nullptr;

  TSearchRec() = default;
  TSearchRec(const TSearchRec&) = delete;
  TSearchRec& operator=(const TSearchRec&) = delete;
  // Closes a search that is still open and releases the platform's record.
  ~TSearchRec();
};

// 0 when an entry was delivered into rec, otherwise the platform's error code.
// On failure rec holds no open search and its delivered fields are unchanged.
int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec);
// 0 for the next entry; a non-zero code at the end. The search stays open.
int32_t FindNextEntry(TSearchRec& rec);
// Closes the search; a second call does nothing.
void EndFind(TSearchRec& rec);
// Whether rec holds an open search (between FindFirstEntry and EndFind).
bool IsSearchOpen(const TSearchRec& rec);

// True when path names an existing entry that is not a directory.
bool IsExistingFile(std::string_view path);

// Renames source to target, which lies in the same directory and usually
// differs only in letter case. Never replaces another entry; true only when
// the directory then holds the entry under the target's spelling.
bool RenamePath(std::string_view source, std::string_view target);

// The file system as a run reaches it: the searches, the file existence test
// and the rename above, behind an object the run is handed, so that a test can
// run it over a file system of its own.
class FileSystem {
 public:
  virtual ~FileSystem() = default;
  virtual int32_t FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec) = 0;
  virtual int32_t FindNext(TSearchRec& rec) = 0;
  virtual bool IsExistingFile(std::string_view path) = 0;
  virtual bool Rename(std::string_view source, std::string_view target) = 0;
};

// The platform's file system: the functions above.
FileSystem& PlatformFileSystem();

}  // namespace dazi
