#pragma once
// Absolute paths worked out by text alone, for platforms whose system offers
// no GetFullPathName.

#include <string>
#include <string_view>

namespace dazi {

// The absolute form of path taken relative to the absolute directory cwd.
// '\' and '/' both separate; a path starting with one is already absolute.
// "." parts vanish, ".." removes the part before it (at the root it stays at
// the root), doubled separators collapse, and the result is spelled with '/'.
// A trailing separator of path is kept. Nothing is looked up on disk. An empty
// path has no absolute form: the result is empty.
std::string ResolvePathText(std::string_view cwd, std::string_view path);

}  // namespace dazi
