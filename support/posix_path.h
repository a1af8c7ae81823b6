#pragma once
// For POSIX files only: a path of the tool may use '\' as its separator, which
// the system knows only as '/'.

#include <algorithm>
#include <string>
#include <string_view>

namespace dazi {

// The path as the system must be handed it. Doubled separators are harmless.
inline std::string ToSystemPath(std::string_view path) {
  std::string result(path);
  std::replace(result.begin(), result.end(), '\\', '/');
  return result;
}

}  // namespace dazi
