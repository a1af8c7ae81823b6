#include "tool/rename_run.h"

#include "config/config_file.h"
#include "scan/tree_scanner.h"
#include "support/fs/filesys.h"
#include "support/list/string_list.h"
#include "support/runtime/console.h"
#include "support/text/locale.h"
#include "support/text/text.h"

namespace dazi {

namespace {

constexpr const char* kFixedDirectories[] = {"PROGRAMS", "I386", "I386\\SYSTEM32"};

constexpr const char* kFixedFiles[] = {
    "bootsect.bin",
    "bootfont.bin",
    "I386\\bootfix.bin",
    "I386\\ntdetect.com",
    "I386\\setupldr.bin",
    "I386\\spcmdcon.sys",
    "I386\\SYSTEM32\\biosinfo.inf",
    "I386\\SYSTEM32\\bootvid.dll",
    "I386\\SYSTEM32\\kdcom.dll",
    "I386\\SYSTEM32\\ntkrnlmp.exe",
    "I386\\SYSTEM32\\ntoskrnl.exe",
    "I386\\SYSTEM32\\setupreg.hiv",
};

struct PatternScan {
  const char* subDir;
  const char* mask;
};

// The stored spelling of each directory ("I386" against "i386") is kept as
// given; it shows only in the printed paths.
constexpr PatternScan kPatternScans[] = {
    {"", "win*"},
    {"I386", "*.sif"},
    {"i386\\SYSTEM32", "*.sif"},
    {"i386\\SYSTEM32", "*.nls"},
    {"i386\\SYSTEM32", "*.fon"},
    {"i386\\SYSTEM32", "hal*.dll"},
};

constexpr std::string_view kFailure = " - Failure.";

void CollectDirectories(RenameLists& lists, const std::string& configPath) {
  for (const char* dir : kFixedDirectories) lists.dirList.Append(dir);
  ScanTree(lists.fileSystem, lists.dirList, lists.fileList, lists.outDir, "I386\\SYSTEM32\\DRIVERS",
           "*.*", false, true);
  if (lists.fileSystem.IsExistingFile(configPath)) ReadDirectoriesSection(configPath, lists);
}

void CollectFiles(RenameLists& lists, const std::string& configPath) {
  for (const char* file : kFixedFiles) lists.fileList.Append(file);
  for (const PatternScan& scan : kPatternScans) {
    ScanTree(lists.fileSystem, lists.dirList, lists.fileList, lists.outDir, scan.subDir, scan.mask,
             true, false);
  }
  if (lists.fileSystem.IsExistingFile(configPath)) ReadFilesSection(configPath, lists);
}

// Prints the path before its rename is tried, so that on a console it is
// visible while the rename runs, then marks the line when the rename failed.
// source is room for the full path, kept from one call to the next.
void RenameAndReport(FileSystem& fileSystem, const std::string& outDir, std::string_view stored,
                     std::string_view shown, std::string& source) {
  WriteText(shown);
  FlushOutput();
  source.assign(outDir).append(stored);
  bool renamed = fileSystem.Rename(source, LocaleUpperCase(source));
  WriteLine(renamed ? std::string_view() : kFailure);
}

}  // namespace

void RunRename(FileSystem& fileSystem, const std::string& outDir, const std::string& configPath) {
  TStringList fileList;
  TStringList dirList;
  RenameLists lists{dirList, fileList, outDir, fileSystem};
  CollectDirectories(lists, configPath);
  CollectFiles(lists, configPath);
  dirList.SortCaseless();
  fileList.SortCaseless();

  std::string source;
  WriteLine("Processing Directories.");
  for (int32_t i = dirList.Count() - 1; i >= 0; --i) {
    RenameAndReport(fileSystem, outDir, dirList[i], DropTrailingBackslash(dirList[i]), source);
  }
  WriteLine("");
  WriteLine("Processing Files.");
  const int32_t fileCount = fileList.Count();
  for (int32_t i = 0; i < fileCount; ++i) {
    RenameAndReport(fileSystem, outDir, fileList[i], FileNamePart(fileList[i]), source);
  }
  WriteLine("");
  WriteLine("Done.");
}

void RunRename(const std::string& outDir, const std::string& configPath) {
  RunRename(PlatformFileSystem(), outDir, configPath);
}

}  // namespace dazi
