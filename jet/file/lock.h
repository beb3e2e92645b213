// Lock: making sure no other program has a database open before it is rewritten.
// DatabaseLock keeps other writers off the database file itself and looks at the Jet
// lock file beside it (morvik.ldb beside morvik.mdb): a lock file on which some
// process holds any byte-range lock -- Jet's user locks lie far past the end of that
// file -- means the database is in use; a lock file nobody holds is a stale
// left-over and does not count.
//   Linux: an exclusive lock on the database in both lock families (an
//     open-file-description fcntl lock, which conflicts with the POSIX record locks
//     other programs take, and a flock lock, which is separate), held until release.
//   Windows: the database is opened with a share mode that refuses writers (so a
//     program that has it open for writing makes the open fail, and none can open it
//     for writing afterwards), and an exclusive byte-range lock over all offsets is
//     tried and at once given back: it fails when any other program holds a range
//     lock, as Jet does on the database while it has it open. Windows range locks
//     are mandatory, so holding it would shut out our own reader too.
#pragma once

#include <cstdint>
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

// Ok when nobody holds the lock file of the database at `database_path` (or there is
// none); kInUse, naming the lock file, when someone does.
Status ExpectLockFileFree(const std::string& database_path);

class DatabaseLock {
 public:
  // Locks `path`. kNotFound when it does not exist; kInUse when another process
  // holds a lock on it or on its lock file; the detail says which.
  static Status Acquire(const std::string& path, std::unique_ptr<DatabaseLock>* lock);
  ~DatabaseLock();  // releases both locks

  // Called right before the locked file is replaced by a rename. Windows renames over
  // a file only while no one has it open, this process included, so there the file
  // is let go of here (a writer that opens it in the moment before the rename makes
  // the rename fail, which leaves the file as it was). On Linux the lock is kept
  // until it is destroyed.
  void ReleaseForReplace();
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

 private:
  explicit DatabaseLock(intptr_t handle) : handle_(handle) {}
  intptr_t handle_;  // the open database: a descriptor on Linux, a HANDLE on Windows
};

}  // namespace jet
