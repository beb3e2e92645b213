// RecordingRuntime: records and prints message boxes instead of showing them.
#include "services/recording_runtime.h"

#include <cstdlib>

namespace services {

std::string QuoteForLine(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string quoted = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\': quoted += "\\\\"; break;
      case '"': quoted += "\\\""; break;
      case '\r': quoted += "\\r"; break;
      case '\n': quoted += "\\n"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          quoted += "\\x";
          quoted += kHex[c >> 4];
          quoted += kHex[c & 0xF];
        } else {
          quoted += static_cast<char>(c);
        }
    }
  }
  quoted += '"';
  return quoted;
}

std::string BoxLine(const std::string& text, int style, const std::string& title) {
  return "MSGBOX style=" + std::to_string(style) + " title=" + QuoteForLine(title) +
         " text=" + QuoteForLine(text);
}

RecordingRuntime::RecordingRuntime(ExitMode mode, std::FILE* out) : mode_(mode), out_(out) {}

void RecordingRuntime::MsgBox(const std::string& text, int style, const std::string& title) {
  boxes_.push_back(Box{text, style, title});
  if (out_ != nullptr) {
    std::string line = BoxLine(text, style, title) + "\n";
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }
}

void RecordingRuntime::Exit(int status) {
  exited_ = true;
  exit_status_ = status;
  if (mode_ == ExitMode::kEndProcess) {
    std::fflush(nullptr);
    std::exit(status);
  }
}

}  // namespace services
