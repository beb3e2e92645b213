// The terminal and signal functions of terminal.h on POSIX systems.
#include "tools/jetdb/terminal.h"

#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <thread>
#include <utility>

namespace jetdb {

bool StderrIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StderrColumns() {
  struct winsize size = {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void CleanUpOnInterrupt(std::function<void()> cleanup) {
  // The signals are blocked here, and so in every thread started later, and taken by
  // one waiting thread. The clean-up then runs as ordinary code (it may allocate and
  // read folders), which a signal handler could not do safely.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals, cleanup = std::move(cleanup)]() {
    int signal_number = 0;
    if (sigwait(&signals, &signal_number) != 0) return;
    cleanup();
    // End the way the signal would have ended the process.
    ::signal(signal_number, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal_number);
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(signal_number);
    ::_exit(128 + signal_number);
  }).detach();
}

}  // namespace jetdb
