// Lock: the name of a database's lock file and what a held one means (the locking
// itself is platform code: lock_posix.cc, lock_win32.cc).
#include "jet/file/lock.h"

#include "jet/base/env.h"

namespace jet {

std::string LockFilePath(const std::string& database_path) {
  const std::string base = BaseName(database_path);
  const size_t dot = base.find_last_of('.');
  if (dot == std::string::npos || dot == 0) return database_path + ".ldb";
  return database_path.substr(0, database_path.size() - base.size() + dot) + ".ldb";
}

Status ExpectLockFileFree(const std::string& database_path) {
  const std::string ldb = LockFilePath(database_path);
  bool held = false;
  Status s = LockFileHeld(ldb, &held);
  if (s.ok() && held)
    s = Status::Error(ErrorKind::kInUse, database_path + " is open in another program (its lock file " +
                                             ldb + " is locked)");
  return s;
}

}  // namespace jet
