#pragma once
// The POSIX rename engine: directory searches and renames over one System,
// with everything a run keeps between calls (the walk and its handles, the
// directories' listings, what each device does with case changes, the last
// directory renamed in and the rows of the last case change). One engine
// serves one run; a fresh one starts from nothing.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "support/fs/filesys.h"
#include "support/fs/posix/system_posix.h"

namespace dazi::posix {

class Engine {
 public:
  explicit Engine(System& system);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // As FindFirstEntry, FindNextEntry and RenamePath of filesys.h.
  int32_t FindFirst(std::string_view pattern, int32_t mask, TSearchRec& rec);
  int32_t FindNext(TSearchRec& rec);
  bool Rename(std::string_view source, std::string_view target);

  // How many times a directory's entries were read for lookups.
  size_t DirectoryReads() const;
  // The rows of the case-change table that decided the last case change.
  const std::vector<size_t>& RowsOfLastCaseChange() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace dazi::posix
