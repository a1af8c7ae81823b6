#pragma once

namespace dazi {

// The tool's own logic: banner, ConfigPath and OutDir, then the rename run or
// the usage text. Ends the process; never returns.
[[noreturn]] void RunTool();

}  // namespace dazi
