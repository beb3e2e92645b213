// Win32Runtime: MessageBoxW and ExitProcess.
#include "services/win32_runtime.h"

#include <windows.h>

#include <cstdio>

#include "jet/base/win32.h"

namespace services {

void Win32Runtime::MsgBox(const std::string& text, int style, const std::string& title) {
  // Only the OK button: the callers pass the icon bits (16 or 64) alone.
  const UINT type = MB_OK | (static_cast<UINT>(style) & MB_ICONMASK);
  ::MessageBoxW(::GetActiveWindow(), jet::Widen(text).c_str(), jet::Widen(title).c_str(), type);
}

void Win32Runtime::Exit(int status) {
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

}  // namespace services
