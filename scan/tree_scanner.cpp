#include "scan/tree_scanner.h"

#include <string>

#include "support/fs/filesys.h"
#include "support/text/text.h"

namespace dazi {

void ScanTree(FileSystem& fileSystem, TStringList& dirList, TStringList& fileList,
              std::string_view root, std::string_view subDir, std::string_view mask, bool filesOnly,
              bool recurse) {
  const std::string rootB = AddTrailingBackslash(root);
  const std::string subB = AddTrailingBackslash(subDir);
  bool descend = false;
  if (!filesOnly) {
    descend = recurse;
    dirList.Append(subB);  // listed even when the directory does not exist
  }

  TSearchRec rec;
  rec.KindsOnly = true;
  if (fileSystem.FindFirst(rootB + subB + std::string(mask), kFaAnyFile, rec) != 0) return;
  std::string path = subB;  // subB followed by the entry's name
  do {
    const std::string& name = rec.FoundName;
    path.resize(subB.size());
    path += name;
    if ((rec.FoundAttr & kFaDirectory) != 0) {
      if (EqualStrings(name, ".") || EqualStrings(name, "..")) continue;
      // A link may lead back up the tree or out of it: it is renamed as
      // itself, never entered. So is a directory whose name holds a
      // separator (a backslash is a name's own byte on POSIX): the path
      // built from it leads elsewhere, back to this directory for "\".
      if (descend && (rec.FoundAttr & kFaReparsePoint) == 0 && !HoldsSeparator(name)) {
        ScanTree(fileSystem, dirList, fileList, root, path, mask, filesOnly, recurse);
      }
      fileList.Append(path);
    } else if ((rec.FoundAttr & kFaVolumeId) == 0) {
      fileList.Append(path);
    }
  } while (fileSystem.FindNext(rec) == 0);
  EndFind(rec);
}

void ScanTree(TStringList& dirList, TStringList& fileList, std::string_view root,
              std::string_view subDir, std::string_view mask, bool filesOnly, bool recurse) {
  ScanTree(PlatformFileSystem(), dirList, fileList, root, subDir, mask, filesOnly, recurse);
}

}  // namespace dazi
