// ProgramFolder: read from /proc/self/exe, the kernel's own record of the executable,
// so neither the current folder nor argv[0] can mislead it.
#include "services/program_folder.h"

#include <unistd.h>

#include <string>

namespace services {

std::string ProgramFolder() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      break;
    }
    // readlink truncates silently; a result that fills the buffer may be cut short.
    if (buffer.size() >= (1u << 20)) return "";
    buffer.resize(buffer.size() * 2);
  }
  size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return "";
  // "/zivadiduz" gives "": the folder without its trailing separator.
  return buffer.substr(0, slash);
}

}  // namespace services
