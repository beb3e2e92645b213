// Path helpers of the Env: the folder of a path and names for temporary files. On
// Windows both '\' and '/' separate folders, as the system's own functions take them.
#include "jet/base/env.h"

#include <atomic>
#include <vector>

#include "jet/base/process.h"

namespace jet {
namespace {

#ifdef _WIN32
constexpr char kSeparators[] = "\\/";
#else
constexpr char kSeparators[] = "/";
#endif

}  // namespace

Status WritableFile::AppendFrom(SequentialFile* in) {
  // Large enough that a database copies in few calls, small enough for the heap.
  std::vector<char> buffer(size_t(1) << 20);
  for (;;) {
    size_t got = 0;
    Status s = in->Read(buffer.data(), buffer.size(), &got);
    if (!s.ok()) return s;
    if (got == 0) return Status::Ok();
    s = Append(buffer.data(), got);
    if (!s.ok()) return s;
  }
}

std::string DirName(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
#ifdef _WIN32
  if (slash == 2 && path[1] == ':') return path.substr(0, 3);  // "C:\" keeps its separator
#endif
  return path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of(kSeparators);
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string TemporaryPathBeside(const std::string& path) {
  static std::atomic<unsigned> counter{0};
  const size_t slash = path.find_last_of(kSeparators);
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + base + ".tmp-" + std::to_string(CurrentProcessId()) + "-" +
         std::to_string(counter.fetch_add(1));
}

}  // namespace jet
