#include "config/config_file.h"

#include <cstdint>

#include "config/entry_splitter.h"
#include "scan/tree_scanner.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

namespace {

// Appended to every entry's fields, so that a second field always exists; it
// is no number, so an entry of one field has mode 0.
constexpr std::string_view kFieldGuard = "\r\n\r\n";

std::string EntryNameOf(const TStringList& fields) {
  std::string name = TrimBlanks(fields[0]);
  if (EqualStrings(CopyRange(name, 1, 1), "\"")) {
    name = CopyRange(name, 2, static_cast<int>(name.size()) - 2);
  }
  return name;
}

}  // namespace

void ReadSectionLines(const TStringList& configLines, std::string_view header,
                      const EntryHandler& handler) {
  TStringList entryFields;
  bool inSection = false;
  const int32_t count = configLines.Count();
  for (int32_t i = 0; i < count; ++i) {
    const std::string_view line = configLines[i];
    std::string t = TrimBlanks(line);
    if (LocalePos(header, AsciiUpperCase(t)) == 1) {
      inSection = true;
      continue;
    }
    if (!inSection) continue;
    if (PlainPos("[", t) == 1) break;
    if (LocalePos(";", t) == 1 || t.empty()) continue;
    SplitEntry(entryFields, line);
    entryFields.Append(kFieldGuard);
    handler(EntryNameOf(entryFields), entryFields);
  }
}

void ReadConfigSection(const std::string& configPath, std::string_view header,
                       const EntryHandler& handler) {
  TStringList configLines;
  configLines.LoadFromTextFile(configPath);
  ReadSectionLines(configLines, header, handler);
}

void AddDirectoryEntry(RenameLists& lists, const std::string& entryName,
                       const TStringList& fields) {
  const auto mode = static_cast<uint8_t>(ToIntDef(fields[1], 0));
  if (mode == 0) {
    lists.dirList.Append(LocaleUpperCase(entryName));
  } else if (mode == 1) {
    ScanTree(lists.fileSystem, lists.dirList, lists.fileList, lists.outDir,
             LocaleUpperCase(entryName), "*.*", false, true);
  }
}

void AddFileEntry(RenameLists& lists, const std::string& entryName) {
  if (LocalePos("*", entryName) > 0 || LocalePos("?", entryName) > 0) {
    ScanTree(lists.fileSystem, lists.dirList, lists.fileList, lists.outDir, FileDirPart(entryName),
             LocaleUpperCase(FileNamePart(entryName)), true, false);
  } else {
    lists.fileList.Append(LocaleUpperCase(entryName));
  }
}

void ReadDirectoriesSection(const std::string& configPath, RenameLists& lists) {
  ReadConfigSection(configPath, "[DIRECTORIES]",
                    [&lists](const std::string& name, const TStringList& fields) {
                      AddDirectoryEntry(lists, name, fields);
                    });
}

void ReadFilesSection(const std::string& configPath, RenameLists& lists) {
  ReadConfigSection(configPath, "[FILES]", [&lists](const std::string& name, const TStringList&) {
    AddFileEntry(lists, name);
  });
}

}  // namespace dazi
