#pragma once
// What the POSIX file-system primitives keep between calls: directory
// listings, the handles of the last path walked, the directories seen and
// what each device does with case changes. Exposed for tests.

#include <cstddef>

namespace dazi {
namespace posix {

// How many times a directory's entries were read since the start (or since
// ForgetDirectories).
size_t DirectoryReads();
// Drops all of it and resets the count.
void ForgetDirectories();

}  // namespace posix
}  // namespace dazi
