// The terminal and signal functions of terminal.h on Windows: the console stands for
// the terminal, and Ctrl-C, Ctrl-Break and closing the console window for the signals.
#include "tools/jetdb/terminal.h"

#include <windows.h>

#include <utility>

namespace jetdb {
namespace {

std::function<void()>* pending_cleanup = nullptr;

// Runs on a thread of the system's own, so the clean-up may do ordinary work.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  std::function<void()>* cleanup = std::exchange(pending_cleanup, nullptr);
  if (cleanup != nullptr) (*cleanup)();
  // STATUS_CONTROL_C_EXIT, what a console program ended by Ctrl-C returns.
  ::ExitProcess(0xC000013A);
  return TRUE;
}

}  // namespace

bool StderrIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

int StderrColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info))
    return info.srWindow.Right - info.srWindow.Left + 1;
  return 80;
}

void CleanUpOnInterrupt(std::function<void()> cleanup) {
  pending_cleanup = new std::function<void()>(std::move(cleanup));  // lives until the process ends
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

}  // namespace jetdb
