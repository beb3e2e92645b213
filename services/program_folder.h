// ProgramFolder: the folder that holds the running program file.
#pragma once

#include <string>

namespace services {

// The folder of the running executable, resolved from the process itself
// (/proc/self/exe on Linux, GetModuleFileNameW on Windows), not from the current
// directory or argv[0]; UTF-8, no trailing separator. Empty when it cannot be
// determined.
std::string ProgramFolder();

// The separator that joins a folder and a file name on this platform.
#ifdef _WIN32
inline constexpr char kPathSeparator[] = "\\";
#else
inline constexpr char kPathSeparator[] = "/";
#endif

// `folder`, the separator and `name`, by plain concatenation: nothing is normalised,
// trimmed or quoted, so a folder that ends in a separator gives two in a row.
inline std::string JoinPath(const std::string& folder, const std::string& name) {
  return folder + kPathSeparator + name;
}

}  // namespace services
