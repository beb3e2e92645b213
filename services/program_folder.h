// ProgramFolder: the folder that holds the running program file.
#pragma once

#include <string>

namespace services {

// The folder of the running executable, resolved from the process itself
// (/proc/self/exe), not from the current directory or argv[0]; no trailing separator.
// Empty when it cannot be determined.
std::string ProgramFolder();

// The separator that joins a folder and a file name on this platform.
inline constexpr char kPathSeparator[] = "/";

}  // namespace services
