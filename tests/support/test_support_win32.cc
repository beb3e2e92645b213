// Test helpers on Windows: paths joined with '\', as the program joins its own, so
// that tests can compare the paths it uses with theirs; processes by CreateProcessW.
#include <windows.h>

#include "tests/support/test_support.h"

namespace testing_support {

std::string TempDir::File(const std::string& name) const { return path_ + "\\" + name; }

int EndedProcessId() {
  // The test program itself, asked for a test that does not exist: it ends at once.
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return -1;
  std::wstring command = L"\"" + std::wstring(self, length) + L"\" --gtest_filter=-*";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process))
    return -1;
  ::CloseHandle(process.hThread);
  const bool ended = ::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0;
  ::CloseHandle(process.hProcess);  // the last handle: its id is free
  return ended ? static_cast<int>(process.dwProcessId) : -1;
}

}  // namespace testing_support
