#include "support/text/path_resolve.h"

#include <vector>

#include "support/text/text.h"

namespace dazi {

namespace {

void AddParts(std::string_view text, std::vector<std::string_view>& parts) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparatorAt(text, i)) ++i;
    size_t start = i;
    while (i < text.size() && !IsSeparatorAt(text, i)) ++i;
    std::string_view part = text.substr(start, i - start);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
}

}  // namespace

std::string ResolvePathText(std::string_view cwd, std::string_view path) {
  if (path.empty()) return std::string();
  std::vector<std::string_view> parts;
  if (!IsSeparatorAt(path, 0)) AddParts(cwd, parts);
  AddParts(path, parts);

  std::string result;
  for (std::string_view part : parts) {
    result += '/';
    result += part;
  }
  if (result.empty() || IsSeparatorAt(path, path.size() - 1)) result += '/';
  return result;
}

}  // namespace dazi
