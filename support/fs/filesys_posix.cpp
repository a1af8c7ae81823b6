// The file-system primitives on POSIX: the process's rename engine over the
// kernel's calls does the searches and the renames; the file existence test
// asks the kernel directly.

#include <sys/stat.h>

#include <memory>
#include <string>

#include "support/fs/filesys.h"
#include "support/fs/filesys_posix.h"
#include "support/fs/posix/engine_posix.h"
#include "support/fs/posix/system_posix.h"

namespace dazi {

namespace {

posix::KernelSystem kernel;
// Made when a search or a rename first needs it.
std::unique_ptr<posix::Engine> processEngine;

posix::Engine& ProcessEngine() {
  if (!processEngine) processEngine = std::make_unique<posix::Engine>(kernel);
  return *processEngine;
}

}  // namespace

int32_t FindFirstEntry(std::string_view pattern, int32_t mask, TSearchRec& rec) {
  return ProcessEngine().FindFirst(pattern, mask, rec);
}

int32_t FindNextEntry(TSearchRec& rec) {
  return ProcessEngine().FindNext(rec);
}

bool RenamePath(std::string_view source, std::string_view target) {
  return ProcessEngine().Rename(source, target);
}

// The path exactly as given, as the configuration file is opened with it.
bool IsExistingFile(std::string_view path) {
  const std::string text(path);
  struct stat st;
  return !text.empty() && stat(text.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

namespace posix {

size_t DirectoryReads() {
  return ProcessEngine().DirectoryReads();
}

const std::vector<size_t>& RowsOfLastCaseChange() {
  return ProcessEngine().RowsOfLastCaseChange();
}

void ForgetDirectories() {
  processEngine.reset();
}

}  // namespace posix

}  // namespace dazi
