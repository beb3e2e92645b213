// QtRuntime: the production Runtime. Message boxes are QMessageBox dialogs; Exit ends
// the process. Needs a QApplication to exist before MsgBox is called.
#pragma once

#include "services/runtime.h"

namespace services {

class QtRuntime final : public Runtime {
 public:
  // Modal box with `title`, `text`, one OK button, and the icon that `style` names:
  // 16 the error (critical) icon, 64 the information icon; 32 and 48 the question and
  // warning icons as on the home platform; any other style no icon.
  void MsgBox(const std::string& text, int style, const std::string& title) override;

  // Flushes the standard streams and exits with `status`; never returns.
  [[noreturn]] void Exit(int status) override;
};

}  // namespace services
