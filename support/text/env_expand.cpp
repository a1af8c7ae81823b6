#include "support/text/env_expand.h"

namespace dazi {

namespace {

char AsciiLower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

}  // namespace

std::string ExpandPercentRefs(std::string_view text, const EnvLookup& lookup) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      result += text[i++];
      continue;
    }
    size_t close = text.find('%', i + 1);
    if (close == std::string_view::npos) {
      result.append(text.substr(i));
      break;
    }
    std::string_view name = text.substr(i + 1, close - i - 1);
    if (!name.empty()) {
      if (std::optional<std::string> value = lookup(name)) {
        result += *value;
        i = close + 1;
        continue;
      }
    }
    result.append(text.substr(i, close - i));
    i = close;
  }
  return result;
}

std::optional<std::string> FindEnvironmentValue(const char* const* environment,
                                                std::string_view name) {
  if (environment == nullptr || name.empty()) return std::nullopt;
  std::optional<std::string> caseless;
  for (const char* const* entry = environment; *entry != nullptr; ++entry) {
    std::string_view text(*entry);
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view entryName = text.substr(0, equals);
    if (entryName == name) return std::string(text.substr(equals + 1));
    if (!caseless && SameIgnoringAsciiCase(entryName, name)) {
      caseless = std::string(text.substr(equals + 1));
    }
  }
  return caseless;
}

}  // namespace dazi
