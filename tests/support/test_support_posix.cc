// Test helpers on Linux: paths joined with '/', processes by fork.
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace testing_support {

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

int EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  if (child < 0 || ::waitpid(child, nullptr, 0) != child) return -1;
  return child;  // reaped: its id is free
}

}  // namespace testing_support
