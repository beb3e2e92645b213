// RecordingRuntime: the Runtime of the test-only program and of the unit tests. Each
// message box is recorded, optionally printed as one line, and returns as if OK had
// been pressed; no window is ever shown.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "services/runtime.h"

namespace services {

class RecordingRuntime final : public Runtime {
 public:
  // What Exit does: end the process for real (the test-only program), or record the
  // status and return (in-process tests, whose callers return right after Exit).
  enum class ExitMode { kEndProcess, kRecordAndReturn };

  struct Box {
    std::string text;
    int style = 0;
    std::string title;
  };

  // `out` receives one line per box (see BoxLine); nullptr prints nothing.
  explicit RecordingRuntime(ExitMode mode, std::FILE* out = nullptr);

  void MsgBox(const std::string& text, int style, const std::string& title) override;
  void Exit(int status) override;

  const std::vector<Box>& boxes() const { return boxes_; }
  bool exited() const { return exited_; }
  int exit_status() const { return exit_status_; }  // meaningful when exited()

 private:
  const ExitMode mode_;
  std::FILE* const out_;
  std::vector<Box> boxes_;
  bool exited_ = false;
  int exit_status_ = 0;
};

// The printed form of one box, without the line end:
//   MSGBOX style=16 title="Foutmelding" text="Kan morvik.ini bestand niet vinden !"
// Inside the quotes, backslash, double quote, CR, LF and tab are written as \\, \",
// \r, \n and \t, and other control bytes as \xHH, so a box is always exactly one line.
std::string BoxLine(const std::string& text, int style, const std::string& title);

// The quoting BoxLine uses, for other one-line reports of the test-only program.
std::string QuoteForLine(const std::string& text);

}  // namespace services
