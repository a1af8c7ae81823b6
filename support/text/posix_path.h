#pragma once
// For POSIX files only: a path of the tool may use '\' as its separator, which
// the system knows only as '/'. A backslash that is the trail byte of a
// double-byte character is part of a name and stays.

#include <string>
#include <string_view>

#include "support/text/text.h"

namespace dazi {

// The path as the system must be handed it. Doubled separators are harmless.
inline std::string ToSystemPath(std::string_view path) {
  std::string result(path);
  for (size_t i = 0; i < result.size(); ++i) {
    if (IsBackslashAt(path, static_cast<int>(i + 1))) result[i] = '/';
  }
  return result;
}

}  // namespace dazi
