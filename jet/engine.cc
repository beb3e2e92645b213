// Interim entry points of the engine. The repair and compaction code is not in this
// build yet; until it lands these check what they can check and then refuse with an
// honest kUnsupportedFormat, so that every caller reports failure, never success.
// Replace the two "not available" returns when the engine's writer is in place.
#include "jet/engine.h"

#include <sys/stat.h>

#include <cerrno>

namespace jet {

Status RepairDatabase(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) {
    return Status::FromErrno(errno, "examine " + path);  // ENOENT gives kNotFound
  }
  return Status::Error(ErrorKind::kUnsupportedFormat, "repair is not available in this build");
}

Status CompactDatabase(const std::string& source, const std::string& destination) {
  // lstat: a dangling link or a folder at the destination counts as existing too.
  struct stat info;
  if (::lstat(destination.c_str(), &info) == 0) {
    return Status::Error(ErrorKind::kDestinationExists, "destination " + destination + " exists");
  }
  return Status::Error(ErrorKind::kUnsupportedFormat,
                       "compaction is not available in this build");
}

}  // namespace jet
