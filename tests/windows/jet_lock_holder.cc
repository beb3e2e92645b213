// jet_lock_holder.exe: a second process that holds a database open the way a Jet
// client does, for the lock tests. It opens the database for reading and writing
// (sharing both, as Jet in shared mode does), and, as asked:
//   mdb   takes a byte-range lock on the database far past its end, where Jet keeps
//         its commit and user locks;
//   ldb   creates the lock file beside it (name.ldb), writes a user record into it
//         and locks that record's byte far past the end, as Jet locks its user slot;
//   both  both of these.
// It prints "holding" once everything is taken and keeps it until its standard
// input is closed.
//
//   jet_lock_holder.exe DATABASE mdb|ldb|both
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "jet/base/win32.h"
#include "jet/file/lock.h"

namespace {

bool LockOneByte(HANDLE file, DWORD offset) {
  OVERLAPPED at = {};
  at.Offset = offset;
  return ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

HANDLE OpenShared(const std::string& path, DWORD disposition) {
  return ::CreateFileW(jet::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, disposition,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: jet_lock_holder DATABASE mdb|ldb|both\n");
    return 2;
  }
  const std::string database = argv[1];
  const std::string how = argv[2];
  HANDLE mdb = OpenShared(database, OPEN_EXISTING);
  if (mdb == INVALID_HANDLE_VALUE) return 1;
  if ((how == "mdb" || how == "both") && !LockOneByte(mdb, 0x7FFFFF00)) return 1;
  HANDLE ldb = INVALID_HANDLE_VALUE;
  if (how == "ldb" || how == "both") {
    ldb = OpenShared(jet::LockFilePath(database), OPEN_ALWAYS);
    if (ldb == INVALID_HANDLE_VALUE) return 1;
    char record[64] = "TESTPC";  // machine name, then user name at 32
    std::memcpy(record + 32, "Admin", 5);
    DWORD written = 0;
    if (!::WriteFile(ldb, record, sizeof record, &written, nullptr)) return 1;
    if (!LockOneByte(ldb, 0x10000001)) return 1;
  }
  std::printf("holding\n");
  std::fflush(stdout);
  char buffer[16];
  DWORD got = 0;
  while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &got, nullptr) &&
         got > 0) {
  }
  return 0;
}
