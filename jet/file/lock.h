// Lock: making sure no other program has a database open before it is rewritten.
// DatabaseLock takes an exclusive lock on the database file itself, in both of
// Linux's lock families (an open-file-description fcntl lock, which conflicts with
// the POSIX record locks other programs take, and a flock lock, which is separate),
// and looks at the Jet lock file beside it (morvik.ldb beside morvik.mdb): a lock
// file on which some process holds any byte-range lock -- Jet's user locks lie far
// past the end of that file -- means the database is in use; a lock file nobody
// holds is a stale left-over and does not count.
#pragma once

#include <memory>
#include <string>

#include "jet/base/status.h"

namespace jet {

// The lock file of a database: its name with the extension replaced by ".ldb"
// (".mdb" -> ".ldb", case kept as Jet does: ".MDB" -> ".ldb" too), or ".ldb"
// appended when it has none.
std::string LockFilePath(const std::string& database_path);

// Whether a process holds a lock on the lock file at `ldb_path`; false when there is
// no such file. Fails only on an I/O error other than "no such file".
Status LockFileHeld(const std::string& ldb_path, bool* held);

class DatabaseLock {
 public:
  // Locks `path`. kNotFound when it does not exist; kInUse when another process
  // holds a lock on it or on its lock file; the detail says which.
  static Status Acquire(const std::string& path, std::unique_ptr<DatabaseLock>* lock);
  ~DatabaseLock();  // releases both locks
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

 private:
  explicit DatabaseLock(int fd) : fd_(fd) {}
  int fd_;
};

}  // namespace jet
