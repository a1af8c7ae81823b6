#include <windows.h>

#include <string>

#include "support/text/paths.h"

namespace dazi {

namespace {

// A NUL would cut the text short and make the system work on another one.
bool HasNul(std::string_view text) {
  return text.find('\0') != std::string_view::npos;
}

}  // namespace

std::string FullPathOf(std::string_view path) {
  if (HasNul(path)) return std::string();
  std::string source(path);
  std::string buffer(MAX_PATH, '\0');
  char* filePart = nullptr;
  DWORD length = GetFullPathNameA(source.c_str(), MAX_PATH, buffer.data(), &filePart);
  if (length >= MAX_PATH) {
    // Too long for the usual buffer: the result told the size it needs.
    buffer.assign(length, '\0');
    length = GetFullPathNameA(source.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(),
                              &filePart);
    if (length >= buffer.size()) return std::string();
  }
  buffer.resize(length);
  return buffer;
}

std::string ExpandEnvVars(std::string_view text) {
  if (HasNul(text)) return std::string();
  std::string source(text);
  DWORD needed = ExpandEnvironmentStringsA(source.c_str(), nullptr, 0);
  if (needed == 0) return std::string();
  // Twice the size, as the ANSI call may count short for double-byte text; if
  // even that is too small, the variables changed since and the size is asked
  // again rather than a cut-off result returned.
  for (int attempt = 0; attempt < 3; ++attempt) {
    std::string buffer(static_cast<size_t>(needed) * 2, '\0');
    DWORD written =
        ExpandEnvironmentStringsA(source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (written == 0) return std::string();
    if (written <= buffer.size()) {
      return buffer.substr(0, buffer.find('\0'));
    }
    needed = written;
  }
  return std::string();
}

bool IsExistingDirectory(std::string_view path) {
  if (HasNul(path)) return false;
  DWORD attributes = GetFileAttributesA(std::string(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace dazi
