#pragma once
// Path services that consult the platform: the absolute form of a path, the
// expansion of %NAME% environment references, and the directory test. They
// report failure only by their result.

#include <string>
#include <string_view>

namespace dazi {

std::string FullPathOf(std::string_view path);     // empty on failure
std::string ExpandEnvVars(std::string_view text);  // empty on failure
bool IsExistingDirectory(std::string_view path);

}  // namespace dazi
