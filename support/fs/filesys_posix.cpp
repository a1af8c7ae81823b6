// The file-system primitives on POSIX: the process's rename engine over the
// kernel's calls does the searches and the renames; the file existence test
// asks the kernel directly.

#include "support/fs/filesys_posix.h"

#include <sys/stat.h>

#include <memory>
#include <string>

#include "support/fs/filesys.h"

namespace dazi {

namespace {

posix::KernelSystem kernel;
// Made when a search or a rename first needs it.
std::unique_ptr<EngineFileSystem> processFileSystem;

EngineFileSystem& ProcessFileSystem() {
  if (!processFileSystem) processFileSystem = std::make_unique<EngineFileSystem>(kernel);
  return *processFileSystem;
}

// The path exactly as given, as the configuration file is opened with it.
bool KernelFindsFile(std::string_view path) {
  const std::string text(path);
  struct stat st;
  return !text.empty() && stat(text.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

}  // namespace

bool EngineFileSystem::IsExistingFile(std::string_view path) {
  return KernelFindsFile(path);
}

int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  return ProcessFileSystem().FindFirst(pattern, mask, rec);
}

int32_t FindNextEntry(TSearchRec& rec) {
  return ProcessFileSystem().FindNext(rec);
}

bool RenamePath(std::string_view source, std::string_view target) {
  return ProcessFileSystem().Rename(source, target);
}

bool IsExistingFile(std::string_view path) {
  return KernelFindsFile(path);
}

namespace posix {

size_t DirectoryReads() {
  return ProcessFileSystem().Engine().DirectoryReads();
}

const std::vector<size_t>& RowsOfLastCaseChange() {
  return ProcessFileSystem().Engine().RowsOfLastCaseChange();
}

void ForgetDirectories() {
  processFileSystem.reset();
}

}  // namespace posix

}  // namespace dazi
