#pragma once
// What the process's rename engine keeps between calls: directory listings,
// the handles of the last path walked, the directories seen and what each
// device does with case changes. Exposed for tests. And the file system that
// a run reaches through an engine of its own over any System.

#include <cstddef>
#include <vector>

#include "support/fs/filesys.h"
#include "support/fs/posix/engine_posix.h"
#include "support/fs/posix/system_posix.h"

namespace dazi {
namespace posix {

// How many times a directory's entries were read since the start (or since
// ForgetDirectories).
size_t DirectoryReads();
// The rows of the case-change table that decided the last case change.
const std::vector<size_t>& RowsOfLastCaseChange();
// Drops all of it: the next search or rename starts a fresh engine.
void ForgetDirectories();

}  // namespace posix

// Searches and renames through a rename engine over system: the kernel's for
// the program, a model for tests. One object serves one run. The existence
// test asks the kernel about the path as given, whatever the system: the run
// asks it only of the configuration file, which lies beside the program and
// is read through the kernel.
class EngineFileSystem final : public FileSystem {
 public:
  explicit EngineFileSystem(posix::System& system) : engine_(system) {}

  int32_t FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec) override {
    return engine_.FindFirst(pattern, mask, rec);
  }
  int32_t FindNext(TSearchRec& rec) override { return engine_.FindNext(rec); }
  bool IsExistingFile(std::string_view path) override;
  bool Rename(std::string_view source, std::string_view target) override {
    return engine_.Rename(source, target);
  }

  posix::Engine& Engine() { return engine_; }

 private:
  posix::Engine engine_;
};

}  // namespace dazi
