// Status: kind names and errno mapping.
#include "jet/base/status.h"

#include <cerrno>
#include <cstring>

namespace jet {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::kOk: return "ok";
    case ErrorKind::kInUse: return "in use";
    case ErrorKind::kNotJetDatabase: return "not a Jet database";
    case ErrorKind::kUnsupportedFormat: return "unsupported format";
    case ErrorKind::kDamaged: return "damaged beyond repair";
    case ErrorKind::kDestinationExists: return "destination exists";
    case ErrorKind::kNoSpace: return "out of disk space";
    case ErrorKind::kIoError: return "I/O error";
    case ErrorKind::kNotFound: return "not found";
    case ErrorKind::kInvalidArgument: return "invalid argument";
  }
  return "unknown";
}

Status Status::FromErrno(int error_number, std::string_view what) {
  ErrorKind kind = ErrorKind::kIoError;
  switch (error_number) {
    case ENOSPC:
#ifdef EDQUOT  // Windows' C library has no disk quotas
    case EDQUOT:
#endif
      kind = ErrorKind::kNoSpace;
      break;
    case ENOENT:
    case ENOTDIR:
      kind = ErrorKind::kNotFound;
      break;
    case EEXIST:
      kind = ErrorKind::kDestinationExists;
      break;
    case EWOULDBLOCK:
      kind = ErrorKind::kInUse;
      break;
    default:
      break;
  }
  std::string detail(what);
  detail += ": ";
  detail += std::strerror(error_number);
  return Status(kind, std::move(detail));
}

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = ErrorKindName(kind_);
  text += ": ";
  text += detail_;
  return text;
}

}  // namespace jet
