#pragma once
// The optional configuration file beside the executable. Its [DIRECTORIES]
// section adds directories (alone or with their subtrees) and its [FILES]
// section adds files and name patterns to the rename run.

#include <functional>
#include <string>
#include <string_view>

#include "support/fs/filesys.h"
#include "support/list/string_list.h"

namespace dazi {

// What an entry handler is given: the entry's name (trimmed, one pair of
// enclosing quotes removed) and all its fields.
using EntryHandler = std::function<void(const std::string& entryName, const TStringList& fields)>;

// Runs the handler for every entry of the section that begins with header,
// from the header line up to the next header line.
void ReadSectionLines(const TStringList& configLines, std::string_view header,
                      const EntryHandler& handler);

// Loads the file afresh and reads one section of it.
void ReadConfigSection(const std::string& configPath, std::string_view header,
                       const EntryHandler& handler);

// The lists and target directory that the configuration passes extend, and
// the file system their scans search.
struct RenameLists {
  TStringList& dirList;
  TStringList& fileList;
  const std::string& outDir;
  FileSystem& fileSystem = PlatformFileSystem();
};

void ReadDirectoriesSection(const std::string& configPath, RenameLists& lists);
void ReadFilesSection(const std::string& configPath, RenameLists& lists);

// The entry handlers of the two sections.
void AddDirectoryEntry(RenameLists& lists, const std::string& entryName, const TStringList& fields);
void AddFileEntry(RenameLists& lists, const std::string& entryName);

}  // namespace dazi
