#include "support/runtime/program_path_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace dazi {

namespace {

// What /proc/self/exe points to, however long it is; empty where /proc is not
// mounted (a chroot, a minimal container).
std::string ReadExecutableLink() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length < 0) return std::string();
    if (static_cast<size_t>(length) < path.size()) {
      path.resize(static_cast<size_t>(length));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// PATH, or the search path the C library's execvp takes where it is unset.
std::string SearchPath() {
  if (const char* path = std::getenv("PATH")) return path;
  std::string fallback(confstr(_CS_PATH, nullptr, 0), '\0');
  if (fallback.empty()) return "/bin:/usr/bin";
  confstr(_CS_PATH, fallback.data(), fallback.size());
  fallback.pop_back();
  return fallback;
}

bool IsExecutableFile(const std::string& path) {
  struct stat info = {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The same file by its absolute path with links resolved, as /proc/self/exe
// would name it; the path as found where that cannot be had.
std::string Resolved(const std::string& path) {
  if (path.empty()) return path;
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path.c_str(), nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

}  // namespace

std::string ProgramPathByName(std::string_view name, std::string_view searchPath,
                              ExecutableTest isExecutable) {
  if (name.empty()) return std::string();
  if (name.find('/') != std::string_view::npos) return std::string(name);
  for (size_t start = 0; start <= searchPath.size();) {
    size_t end = std::min(searchPath.find(':', start), searchPath.size());
    std::string_view directory = searchPath.substr(start, end - start);
    std::string candidate(directory.empty() ? "." : directory);
    candidate.append("/").append(name);
    if (isExecutable(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

std::string FindProgramPath(const char* startedAs) {
  std::string path = ReadExecutableLink();
  if (!path.empty() || startedAs == nullptr) return path;
  return Resolved(ProgramPathByName(startedAs, SearchPath(), IsExecutableFile));
}

}  // namespace dazi
