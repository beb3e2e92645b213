// Win32Runtime: the Runtime of the Windows program. Message boxes are the system's
// own (MessageBoxW, modal to the program's window when there is one); Exit ends the
// process.
#pragma once

#include "services/runtime.h"

namespace services {

class Win32Runtime final : public Runtime {
 public:
  // MessageBoxW with `title`, `text`, one OK button and the icon `style` names (16
  // MB_ICONERROR, 64 MB_ICONINFORMATION, as the style numbers are Windows' own);
  // texts are UTF-8 and are converted to UTF-16. The box is owned by the active
  // window of this thread, if any, so that window takes no input until it is closed.
  void MsgBox(const std::string& text, int style, const std::string& title) override;

  // Flushes the standard streams and ends the process with `status`; never returns.
  [[noreturn]] void Exit(int status) override;
};

}  // namespace services
