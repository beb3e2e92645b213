// Lock on Windows: share modes, a probing LockFileEx over all offsets, and a look at
// the .ldb file.
#include <windows.h>

#include "jet/base/win32.h"
#include "jet/file/lock.h"

namespace jet {
namespace {

// Whether another handle holds any byte-range lock on the file: an exclusive lock
// over every offset is tried without waiting and given back at once.
bool RangeLockedElsewhere(HANDLE file) {
  OVERLAPPED from_start = {};
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                    MAXDWORD, &from_start))
    return true;
  ::UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &from_start);
  return false;
}

bool Busy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

}  // namespace

Status LockFileHeld(const std::string& ldb_path, bool* held) {
  *held = false;
  HANDLE file = ::CreateFileW(Widen(ldb_path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (IsNotFoundError(error)) return Status::Ok();
    if (Busy(error)) {  // opened by someone who lets nobody share it
      *held = true;
      return Status::Ok();
    }
    return FromWin32Error(error, "open lock file " + ldb_path);
  }
  *held = RangeLockedElsewhere(file);
  ::CloseHandle(file);
  return Status::Ok();
}

Status DatabaseLock::Acquire(const std::string& path, std::unique_ptr<DatabaseLock>* lock) {
  lock->reset();
  // Others may read while we hold it, not write; FILE_SHARE_DELETE lets our own
  // replacing rename go ahead.
  HANDLE file = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    if (Busy(error))
      return Status::Error(ErrorKind::kInUse, "another program has " + path + " open for writing");
    return FromWin32Error(error, "open " + path);
  }
  if (RangeLockedElsewhere(file)) {
    ::CloseHandle(file);
    return Status::Error(ErrorKind::kInUse, "another program holds " + path + " locked");
  }
  Status s = ExpectLockFileFree(path);
  if (!s.ok()) {
    ::CloseHandle(file);
    return s;
  }
  lock->reset(new DatabaseLock(reinterpret_cast<intptr_t>(file)));
  return Status::Ok();
}

DatabaseLock::~DatabaseLock() {
  if (handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

void DatabaseLock::ReleaseForReplace() {
  if (handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = 0;
}

}  // namespace jet
