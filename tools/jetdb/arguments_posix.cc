// jetdb's arguments on Linux: already the bytes the engine takes.
#include "tools/jetdb/arguments.h"

namespace jetdb {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

}  // namespace jetdb
