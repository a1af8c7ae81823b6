#include <windows.h>

#include <string>

#include "tests/unit/temp_tree.h"

namespace dazi::test_support {

namespace {

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Wine makes no link for CreateSymbolicLinkA and cannot remove one; there the
// host's tools do it. Wine starts them but cannot wait for them, so the
// caller waits for the outcome.
void RunOnHost(std::string command, const fs::path& folder) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  const std::string directory = folder.string();
  if (CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     directory.c_str(), &startup, &process)) {
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  }
}

bool AwaitExistence(const std::string& path, bool exists) {
  for (int wait = 0; wait < 500 && Exists(path) != exists; ++wait) Sleep(10);
  return Exists(path) == exists;
}

}  // namespace

bool MakeDirectoryLink(const fs::path& link, const std::string& target) {
  const std::string linkText = link.string();
  const DWORD allowUnprivileged = 2;
  CreateSymbolicLinkA(linkText.c_str(), target.c_str(),
                      SYMBOLIC_LINK_FLAG_DIRECTORY | allowUnprivileged);
  if (Exists(linkText)) return true;
  RunOnHost("Z:\\bin\\ln -s " + target + " " + link.filename().string(), link.parent_path());
  return AwaitExistence(linkText, true);
}

void RemoveDirectoryLink(const fs::path& link) {
  const std::string linkText = link.string();
  if (RemoveDirectoryA(linkText.c_str()) && !Exists(linkText)) return;
  RunOnHost("Z:\\bin\\rm " + link.filename().string(), link.parent_path());
  AwaitExistence(linkText, false);
}

void MarkHiddenSystem(const fs::path& file) {
  SetFileAttributesA(file.string().c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
}

void ForgetTree() {}

}  // namespace dazi::test_support
