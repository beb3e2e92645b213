// ReadOnlyFile on Windows: ReadFile at an offset (OVERLAPPED on a synchronous handle).
#include <windows.h>

#include "jet/base/read_only_file.h"
#include "jet/base/win32.h"

namespace jet {
namespace {

class Win32ReadOnlyFile final : public ReadOnlyFile {
 public:
  Win32ReadOnlyFile(std::string path, HANDLE handle, uint64_t size)
      : path_(std::move(path)), handle_(handle), size_(size) {}
  ~Win32ReadOnlyFile() override { ::CloseHandle(handle_); }

  uint64_t size() const override { return size_; }

  Status ReadAt(uint64_t offset, void* out, size_t size) const override {
    char* p = static_cast<char*>(out);
    while (size > 0) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const DWORD want = static_cast<DWORD>(size < (DWORD{1} << 30) ? size : (DWORD{1} << 30));
      DWORD got = 0;
      if (!::ReadFile(handle_, p, want, &got, &at)) {
        if (::GetLastError() != ERROR_HANDLE_EOF) return LastWin32Error("read " + path_);
        got = 0;
      }
      if (got == 0)
        return Status::Error(ErrorKind::kIoError, "read " + path_ + ": file became shorter");
      p += got;
      size -= got;
      offset += got;
    }
    return Status::Ok();
  }

 private:
  std::string path_;
  HANDLE handle_;
  uint64_t size_;
};

}  // namespace

Status ReadOnlyFile::Open(const std::string& path, std::unique_ptr<ReadOnlyFile>* file) {
  if (path.find('\0') != std::string::npos)
    return Status::Error(ErrorKind::kInvalidArgument, "file name holds a NUL byte");
  const std::wstring wide = Widen(path);
  // FILE_SHARE_DELETE: our own replacing rename may go over the file while it is open.
  HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      return Status::Error(ErrorKind::kInvalidArgument, path + " is not a regular file");
    return FromWin32Error(error, "open " + path);
  }
  LARGE_INTEGER size;
  if (::GetFileType(handle) != FILE_TYPE_DISK || !::GetFileSizeEx(handle, &size)) {
    ::CloseHandle(handle);
    return Status::Error(ErrorKind::kInvalidArgument, path + " is not a regular file");
  }
  file->reset(new Win32ReadOnlyFile(path, handle, uint64_t(size.QuadPart)));
  return Status::Ok();
}

}  // namespace jet
