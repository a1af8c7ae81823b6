#pragma once
// What the POSIX file-system primitives keep between calls: the directory
// listings read for lookups without regard to case. Exposed for tests.

#include <cstddef>

namespace dazi {
namespace posix {

// How many times a directory's entries were read since the start (or since
// ForgetDirectories).
size_t DirectoryReads();
// Drops every kept listing and resets the count.
void ForgetDirectories();

}  // namespace posix
}  // namespace dazi
