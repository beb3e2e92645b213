// Processes on Windows: a process that has ended can no longer be opened, or is
// open only as an exited object.
#include "jet/base/process.h"

#include <windows.h>

namespace jet {

long CurrentProcessId() { return static_cast<long>(::GetCurrentProcessId()); }

bool ProcessRuns(long pid) {
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;  // another user's
  DWORD exit_code = 0;
  const bool running = ::GetExitCodeProcess(process, &exit_code) && exit_code == STILL_ACTIVE;
  ::CloseHandle(process);
  return running;
}

}  // namespace jet
