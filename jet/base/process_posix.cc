// Processes on Linux: getpid, and signal 0 as the liveness probe.
#include "jet/base/process.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>

namespace jet {

long CurrentProcessId() { return static_cast<long>(::getpid()); }

// A process that signal 0 cannot reach for want of it (ESRCH) is gone; EPERM means
// it lives under another user.
bool ProcessRuns(long pid) {
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace jet
