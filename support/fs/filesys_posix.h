#pragma once
// What the process's rename engine keeps between calls: directory listings,
// the handles of the last path walked, the directories seen and what each
// device does with case changes. Exposed for tests.

#include <cstddef>
#include <vector>

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
}  // namespace dazi
