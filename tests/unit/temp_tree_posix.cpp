#include <unistd.h>

#include "tests/unit/temp_tree.h"

#include "support/fs/filesys_posix.h"

namespace dazi::test_support {

bool MakeDirectoryLink(const fs::path& link, const std::string& target) {
  return symlink(target.c_str(), link.c_str()) == 0;
}

void RemoveDirectoryLink(const fs::path& link) {
  unlink(link.c_str());
}

void MarkHiddenSystem(const fs::path&) {}

void ForgetTree() {
  posix::ForgetDirectories();
}

}  // namespace dazi::test_support
