#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "support/text/env_expand.h"
#include "support/text/path_resolve.h"
#include "support/text/paths.h"
#include "support/text/posix_path.h"

extern char** environ;

namespace dazi {

namespace {

bool CurrentDirectory(std::string& directory) {
  std::vector<char> buffer(256);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) {
      directory = buffer.data();
      return true;
    }
    if (errno != ERANGE) return false;
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::string FullPathOf(std::string_view path) {
  std::string cwd;
  if (!CurrentDirectory(cwd)) return std::string();
  return ResolvePathText(cwd, path);
}

std::string ExpandEnvVars(std::string_view text) {
  return ExpandPercentRefs(
      text, [](std::string_view name) { return FindEnvironmentValue(environ, name); });
}

bool IsExistingDirectory(std::string_view path) {
  // A NUL would cut the path short and make the system test another one.
  if (path.find('\0') != std::string_view::npos) return false;
  struct stat info;
  return stat(ToSystemPath(path).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace dazi
