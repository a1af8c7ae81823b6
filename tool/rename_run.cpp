#include "tool/rename_run.h"

namespace dazi {

void RunRename(const std::string&, const std::string&) {}

}  // namespace dazi
