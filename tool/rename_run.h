#pragma once

#include <string>

#include "support/fs/filesys.h"

namespace dazi {

// Collects, sorts and renames the fixed set and the configured paths below
// outDir, printing one line per path. The searches and renames go to
// fileSystem; without one, to the platform's.
void RunRename(FileSystem& fileSystem, const std::string& outDir, const std::string& configPath);
void RunRename(const std::string& outDir, const std::string& configPath);

}  // namespace dazi
