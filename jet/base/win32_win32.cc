// Win32 helpers: UTF-8 <-> UTF-16 through the system's own conversion, error codes.
#include "jet/base/win32.h"

#include <windows.h>

namespace jet {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return std::wstring();
  const int size = static_cast<int>(utf8.size());
  const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view wide) {
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int length =
      ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(length), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
  return utf8;
}

bool IsNotFoundError(unsigned long error) {
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
         error == ERROR_INVALID_NAME || error == ERROR_BAD_NETPATH;
}

Status FromWin32Error(unsigned long error, std::string_view what) {
  ErrorKind kind = IsNotFoundError(error) ? ErrorKind::kNotFound : ErrorKind::kIoError;
  switch (error) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      kind = ErrorKind::kDestinationExists;
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      kind = ErrorKind::kNoSpace;
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      kind = ErrorKind::kInUse;
      break;
    default:
      break;
  }
  std::string detail(what);
  detail += ": ";
  wchar_t* message = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
  std::string text = length > 0 ? Narrow(std::wstring_view(message, length)) : std::string();
  if (message != nullptr) ::LocalFree(message);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                           text.back() == '.'))
    text.pop_back();
  detail += text.empty() ? "Windows error " + std::to_string(error) : text;
  return Status::Error(kind, std::move(detail));
}

Status LastWin32Error(std::string_view what) { return FromWin32Error(::GetLastError(), what); }

}  // namespace jet
