#pragma once
// Collection of the paths below OutDir: a whole subtree, or the entries of one
// directory that match a name pattern.

#include <string_view>

#include "support/fs/filesys.h"
#include "support/list/string_list.h"

namespace dazi {

// Appends to dirList the scanned directory (with a trailing backslash, unless
// filesOnly) and, when recursing, every directory below it; appends to
// fileList every entry found (files and directories, without a trailing
// backslash). Paths are relative to root; an empty subDir stands for root
// itself and makes every stored path begin with a backslash. Symbolic links
// and junctions are listed but never entered. The searches go to fileSystem;
// without one, to the platform's.
void ScanTree(FileSystem& fileSystem, TStringList& dirList, TStringList& fileList,
              std::string_view root, std::string_view subDir, std::string_view mask, bool filesOnly,
              bool recurse);
void ScanTree(TStringList& dirList, TStringList& fileList, std::string_view root,
              std::string_view subDir, std::string_view mask, bool filesOnly, bool recurse);

}  // namespace dazi
