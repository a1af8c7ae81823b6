#pragma once

#include <string>

namespace dazi {

// Collects, sorts and renames the fixed set and the configured paths below
// outDir, printing one line per path.
void RunRename(const std::string& outDir, const std::string& configPath);

}  // namespace dazi
