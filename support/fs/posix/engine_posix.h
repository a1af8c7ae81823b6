#pragma once
// The POSIX rename engine: directory searches and renames over one System,
// with everything a run keeps between calls (the walk and its handles, the
// directories' listings, what each device and directory does with case
// changes, the last directory renamed in and the rows of the last case
// change). One engine serves one run; a fresh one starts from nothing.
//
// The engine never replaces an entry. Every rename is issued with the
// no-replace flag, but for two that may replace, each made true in one place
// (in_place_posix.cpp). Where the device refused the flag, a rename onto a
// spelling that a look at the directory at that moment finds missing
// (RenameNoReplace). And a case change onto a spelling that answers, made only
// where the device refused the flag and the directory holds the entry alone
// under the name and not under the new spelling byte for byte: proven by its
// listing read at that moment, or, in a directory whose own case change showed
// that it folds names and for spellings that differ in ASCII letters only (a
// folding directory cannot hold a second entry of the name), by its listing
// kept up to date with the run's renames (MayRenameOnto). Spellings of one
// name are those the locale's upper case makes one. Where the directory holds
// two or more spellings of the name (hard links too), the line fails and none
// of them is touched, whichever is upper case already; a name is never taken
// for another spelling of itself where the spelling given is there. A path
// from a name that holds a separator (the backslash) is never renamed by.

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
