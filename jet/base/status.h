// Status: the one error style of the whole program. Every operation that can fail
// returns a Status; an ok Status carries nothing, an error carries a kind (what the
// caller decides on) and an English detail text (for logs, tests and the jetdb tool).
// Modelled on LevelDB's Status; no exceptions cross a module boundary.
#pragma once

#include <string>
#include <string_view>
#include <utility>

namespace jet {

enum class ErrorKind {
  kOk = 0,
  kInUse,              // another program holds the file open or locked
  kNotJetDatabase,     // not a Jet file at all, or truncated / unreadable header
  kUnsupportedFormat,  // a Jet-family file this engine does not handle (ACE, MSISAM, ...)
  kDamaged,            // damaged beyond repair, or a self-verification mismatch
  kDestinationExists,  // a destination that must not exist beforehand exists
  kNoSpace,            // out of disk space (ENOSPC, EDQUOT)
  kIoError,            // any other I/O failure
  kNotFound,           // a file, table or column that was asked for does not exist
  kInvalidArgument,    // a caller passed something malformed (schema, option, ...)
};

// Short English name of a kind, e.g. "in use"; stable, used in tool output and tests.
const char* ErrorKindName(ErrorKind kind);

class Status {
 public:
  Status() = default;  // ok

  static Status Ok() { return Status(); }
  static Status Error(ErrorKind kind, std::string detail) {
    return Status(kind, std::move(detail));
  }
  // Maps an errno value from a failed system call to a kind (ENOSPC -> kNoSpace, ...)
  // and builds "<what>: <strerror>" as the detail.
  static Status FromErrno(int error_number, std::string_view what);

  bool ok() const { return kind_ == ErrorKind::kOk; }
  ErrorKind kind() const { return kind_; }
  const std::string& detail() const { return detail_; }
  // "<kind name>: <detail>", or "ok".
  std::string ToString() const;

 private:
  Status(ErrorKind kind, std::string detail) : kind_(kind), detail_(std::move(detail)) {}

  ErrorKind kind_ = ErrorKind::kOk;
  std::string detail_;
};

}  // namespace jet
