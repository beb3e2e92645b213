// Lock on Linux: fcntl open-file-description locks, flock, and a look at the .ldb file.
#include "jet/file/lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace jet {
namespace {

// A whole-file write lock request: start 0, length 0 = to the end of all offsets,
// which covers Jet's locks placed far beyond the end of the file.
struct flock WholeFile(short type) {
  struct flock request = {};
  request.l_type = type;
  request.l_whence = SEEK_SET;
  request.l_start = 0;
  request.l_len = 0;
  request.l_pid = 0;  // required by F_OFD_* commands
  return request;
}

bool Busy(int error) { return error == EAGAIN || error == EACCES || error == EWOULDBLOCK; }

}  // namespace

Status LockFileHeld(const std::string& ldb_path, bool* held) {
  *held = false;
  int fd = ::open(ldb_path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == EACCES) fd = ::open(ldb_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::FromErrno(errno, "open lock file " + ldb_path);
  }
  // Any lock at all conflicts with a write-lock probe over the whole range; the probe
  // itself takes nothing.
  struct flock probe = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) {
    const int error = errno;
    ::close(fd);
    return Status::FromErrno(error, "test locks on " + ldb_path);
  }
  if (probe.l_type != F_UNLCK) *held = true;
  if (!*held) {
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (Busy(errno)) *held = true;
    } else {
      ::flock(fd, LOCK_UN);
    }
  }
  ::close(fd);
  return Status::Ok();
}

Status DatabaseLock::Acquire(const std::string& path, std::unique_ptr<DatabaseLock>* lock) {
  lock->reset();
  // Write access is what a write lock needs; the file itself is never written here.
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return Status::FromErrno(errno, "open " + path);
  struct flock request = WholeFile(F_WRLCK);
  if (::fcntl(fd, F_OFD_SETLK, &request) != 0) {
    const int error = errno;
    ::close(fd);
    if (Busy(error)) return Status::Error(ErrorKind::kInUse, "another program holds " + path + " locked");
    return Status::FromErrno(error, "lock " + path);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    if (Busy(error)) return Status::Error(ErrorKind::kInUse, "another program holds " + path + " locked");
    return Status::FromErrno(error, "lock " + path);
  }
  Status s = ExpectLockFileFree(path);
  if (!s.ok()) {
    ::close(fd);  // closing drops both locks
    return s;
  }
  lock->reset(new DatabaseLock(fd));
  return Status::Ok();
}

DatabaseLock::~DatabaseLock() { ::close(static_cast<int>(handle_)); }

void DatabaseLock::ReleaseForReplace() {}

}  // namespace jet
