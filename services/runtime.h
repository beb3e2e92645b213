// Runtime: the message box and the program's end, the two services a test replaces.
// The production program uses the Qt implementation (services/qt_runtime.h); the
// test-only program and the unit tests use a recording one.
#pragma once

#include <string>

namespace services {

// Message-box styles used by the program: error icon or information icon, OK only.
inline constexpr int kStyleError = 16;
inline constexpr int kStyleInformation = 64;

class Runtime {
 public:
  virtual ~Runtime() = default;

  // Shows a modal box with `title`, `text`, the icon `style` names and one OK button;
  // returns when the user dismisses it.
  virtual void MsgBox(const std::string& text, int style, const std::string& title) = 0;

  // Ends the program with `status` as its exit status. The production implementation
  // never returns; a test implementation may record the call and return, so callers
  // write `return` right after it.
  virtual void Exit(int status) = 0;

  // Ends the program at once (exit status 0).
  void End() { Exit(0); }
};

}  // namespace services
