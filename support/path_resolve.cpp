#include "support/path_resolve.h"

#include <vector>

namespace dazi {

namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

void AddParts(std::string_view text, std::vector<std::string_view>& parts) {
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsSeparator(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsSeparator(text[i])) ++i;
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
  if (!IsSeparator(path.front())) AddParts(cwd, parts);
  AddParts(path, parts);

  std::string result;
  for (std::string_view part : parts) {
    result += '/';
    result += part;
  }
  if (result.empty() || IsSeparator(path.back())) result += '/';
  return result;
}

}  // namespace dazi
