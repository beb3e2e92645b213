// What jetdb asks of the terminal and of the process's signals, kept behind a few
// small functions so that each platform has one file for them: terminal_posix.cc here
// (isatty, TIOCGWINSZ, sigwait) and terminal_windows.cc (the console).
#pragma once

#include <functional>

namespace jetdb {

// True when standard error is a terminal, the only place progress is drawn.
bool StderrIsTerminal();

// Width of the terminal on standard error in columns; 80 when it cannot be told.
int StderrColumns();

// From this call on, an interrupt (Ctrl-C) or a request to terminate runs `cleanup`
// once, on a thread of its own, and then ends the process as the signal would have
// (so the shell still sees "interrupted"). Call it once, before any other thread is
// started: the signals are taken away from every thread but the one that waits.
void CleanUpOnInterrupt(std::function<void()> cleanup);

}  // namespace jetdb
