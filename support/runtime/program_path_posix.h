#pragma once
// The running program's own file, which names its configuration file: found
// through /proc where it is mounted, else the way the shell found the program.

#include <string>
#include <string_view>

namespace dazi {

// Tells whether path names a regular file that may be executed.
using ExecutableTest = bool (*)(const std::string& path);

// The program's path from the name it was started under: a name that holds a
// slash as it is; else the first executable file of that name in the
// directories of searchPath, in order (an empty directory is the current one,
// as the shell reads it); else the empty text. The current directory is never
// taken for a name that searchPath does not lead there.
std::string ProgramPathByName(std::string_view name, std::string_view searchPath,
                              ExecutableTest isExecutable);

// The program's absolute path with its links resolved: what /proc/self/exe
// says, else where the name it was started under leads (through PATH, or the
// system's default search path where PATH is unset); the empty text where
// neither tells.
std::string FindProgramPath(const char* startedAs);

}  // namespace dazi
