// The real Env on Windows: the wide-character Win32 file functions. Files are opened
// so that other programs may read them but not write them while we work (no
// FILE_SHARE_WRITE), and may rename or delete them only as our own replacing rename
// needs (FILE_SHARE_DELETE on files we read). Replacing is MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH: the rename has reached the disk
// when it returns, which is what flushing the folder achieves on Linux. Windows files
// carry no permission bits; the read-only attribute stands for the write bits (0444
// or 0666, as the C library's stat gives them).
#include <windows.h>

#include "jet/base/env.h"
#include "jet/base/win32.h"

namespace jet {
namespace {

// One WriteFile or ReadFile call moves at most this much (its length is a DWORD).
constexpr size_t kMaxTransfer = size_t{1} << 30;

class Win32WritableFile final : public WritableFile {
 public:
  Win32WritableFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~Win32WritableFile() override {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }

  Status Append(const void* data, size_t size) override {
    Status s = WriteAt(append_offset_, data, size);
    if (s.ok()) append_offset_ += size;
    return s;
  }

  Status WriteAt(uint64_t offset, const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      DWORD written = 0;
      const DWORD want = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
      if (!::WriteFile(handle_, p, want, &written, &at)) return LastWin32Error("write " + path_);
      if (written == 0) return FromWin32Error(ERROR_WRITE_FAULT, "write " + path_);
      p += written;
      size -= written;
      offset += written;
    }
    return Status::Ok();
  }

  Status Sync() override {
    if (!::FlushFileBuffers(handle_)) return LastWin32Error("flush " + path_);
    return Status::Ok();
  }

  Status Close() override {
    HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    if (handle != INVALID_HANDLE_VALUE && !::CloseHandle(handle))
      return LastWin32Error("close " + path_);
    return Status::Ok();
  }

 private:
  std::string path_;
  HANDLE handle_;
  uint64_t append_offset_ = 0;
};

class Win32SequentialFile final : public SequentialFile {
 public:
  Win32SequentialFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}
  ~Win32SequentialFile() override { ::CloseHandle(handle_); }

  Status Read(void* buffer, size_t size, size_t* read_size) override {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(size < kMaxTransfer ? size : kMaxTransfer);
    if (!::ReadFile(handle_, buffer, want, &got, nullptr)) {
      *read_size = 0;
      return LastWin32Error("read " + path_);
    }
    *read_size = got;
    return Status::Ok();
  }

 private:
  std::string path_;
  HANDLE handle_;
};

// A handle for asking about `path` (not for reading or writing it): it neither blocks
// nor is blocked by any share mode, and it opens folders too. With `follow` false a
// link itself is opened, not what it names.
HANDLE OpenForAttributes(const std::string& path, bool follow) {
  return ::CreateFileW(Widen(path).c_str(), FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT),
                       nullptr);
}

// Whether `path`, a reparse point, is a link to somewhere else (a symbolic link or a
// junction) rather than, say, a file the system stores elsewhere.
bool IsNameSurrogate(const std::string& path) {
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW(Widen(path).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  ::FindClose(search);
  return IsReparseTagNameSurrogate(found.dwReserved0);
}

// "\\?\C:\x" -> "C:\x", "\\?\UNC\server\share" -> "\\server\share": the
// long-path prefix GetFinalPathNameByHandleW puts in front of what it gives.
std::wstring WithoutLongPathPrefix(const std::wstring& path) {
  if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
  if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
  return path;
}

class Win32Env final : public Env {
 public:
  // `mode`: Windows files carry no permission bits; a new file takes the access
  // rules of its folder.
  Status NewWritableFile(const std::string& path, unsigned mode,
                         std::unique_ptr<WritableFile>* result) override {
    HANDLE handle = ::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastWin32Error("create " + path);
    result->reset(new Win32WritableFile(path, handle));
    return Status::Ok();
  }

  Status NewSequentialFile(const std::string& path,
                           std::unique_ptr<SequentialFile>* result) override {
    HANDLE handle = ::CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return LastWin32Error("open " + path);
    result->reset(new Win32SequentialFile(path, handle));
    return Status::Ok();
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (!::MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return LastWin32Error("rename " + from + " to " + to);
    return Status::Ok();
  }

  Status RemoveFile(const std::string& path) override {
    if (!::DeleteFileW(Widen(path).c_str())) return LastWin32Error("remove " + path);
    return Status::Ok();
  }

  // Windows gives programs no flush of a folder; the renames that need one are made
  // with MOVEFILE_WRITE_THROUGH and are on disk already. What is left to check is
  // that the folder is there, as the flush on Linux would find out.
  Status SyncDir(const std::string& dir) override {
    const DWORD attributes = ::GetFileAttributesW(Widen(dir).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32Error("open folder " + dir);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
      return FromWin32Error(ERROR_DIRECTORY, "open folder " + dir);
    return Status::Ok();
  }

  Status GetFileInfo(const std::string& path, FileInfo* info) override {
    *info = FileInfo();
    HANDLE handle = OpenForAttributes(path, /*follow=*/false);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      if (IsNotFoundError(error)) return Status::Ok();
      return FromWin32Error(error, "examine " + path);
    }
    BY_HANDLE_FILE_INFORMATION own;
    const bool known = ::GetFileInformationByHandle(handle, &own);
    ::CloseHandle(handle);
    if (known && (own.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && IsNameSurrogate(path))
      info->is_link = true;

    handle = OpenForAttributes(path, /*follow=*/true);
    if (handle == INVALID_HANDLE_VALUE) {
      const DWORD error = ::GetLastError();
      // A link that leads nowhere names nothing.
      if (info->is_link && IsNotFoundError(error)) return Status::Ok();
      return FromWin32Error(error, "examine " + path);
    }
    // A device or a pipe has no file information to give.
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
      ::CloseHandle(handle);
      info->type = FileInfo::Type::kOther;
      return Status::Ok();
    }
    BY_HANDLE_FILE_INFORMATION target;
    const bool ok = ::GetFileInformationByHandle(handle, &target);
    const Status status = ok ? Status::Ok() : LastWin32Error("examine " + path);
    ::CloseHandle(handle);
    if (!ok) return status;
    const bool folder = target.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
    info->type = folder ? FileInfo::Type::kFolder : FileInfo::Type::kRegular;
    info->permissions = (target.dwFileAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;
    if (folder) info->permissions |= 0111;
    // The volume serial number and the file index name the file, as device and inode
    // do on Linux.
    info->device = target.dwVolumeSerialNumber;
    info->inode = (uint64_t(target.nFileIndexHigh) << 32) | target.nFileIndexLow;
    info->size = (uint64_t(target.nFileSizeHigh) << 32) | target.nFileSizeLow;
    const uint64_t ticks = (uint64_t(target.ftLastWriteTime.dwHighDateTime) << 32) |
                           target.ftLastWriteTime.dwLowDateTime;  // 100 ns since 1601
    constexpr uint64_t kTicksFrom1601To1970 = 116444736000000000;
    info->modified_ns = (int64_t(ticks) - int64_t(kTicksFrom1601To1970)) * 100;
    return Status::Ok();
  }

  Status SetPermissions(const std::string& path, unsigned permissions) override {
    const std::wstring wide = Widen(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return LastWin32Error("set permissions of " + path);
    const DWORD wanted = (permissions & 0222) == 0 ? (attributes | FILE_ATTRIBUTE_READONLY)
                                                   : (attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
    if (wanted != attributes && !::SetFileAttributesW(wide.c_str(), wanted))
      return LastWin32Error("set permissions of " + path);
    return Status::Ok();
  }

  Status ResolvePath(const std::string& path, std::string* resolved) override {
    HANDLE handle = OpenForAttributes(path, /*follow=*/true);
    if (handle == INVALID_HANDLE_VALUE) return LastWin32Error("follow the link " + path);
    std::wstring buffer(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle, buffer.data(), DWORD(buffer.size()),
                                               FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length >= buffer.size()) {  // too small: `length` is the size it needs
      buffer.resize(length);
      length = ::GetFinalPathNameByHandleW(handle, buffer.data(), DWORD(buffer.size()),
                                           FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }
    const Status status =
        length == 0 || length >= buffer.size() ? LastWin32Error("follow the link " + path) : Status::Ok();
    ::CloseHandle(handle);
    if (!status.ok()) return status;
    buffer.resize(length);
    *resolved = Narrow(WithoutLongPathPrefix(buffer));
    return Status::Ok();
  }

  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    WIN32_FIND_DATAW found;
    HANDLE search = ::FindFirstFileW(Widen(dir + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
      // A folder with nothing in it at all (a drive's root has no "." or "..").
      if (::GetLastError() == ERROR_FILE_NOT_FOUND) return Status::Ok();
      return LastWin32Error("list folder " + dir);
    }
    do {
      const std::string name = Narrow(found.cFileName);
      if (name != "." && name != "..") names->push_back(name);
    } while (::FindNextFileW(search, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) return FromWin32Error(error, "list folder " + dir);
    return Status::Ok();
  }
};

}  // namespace

Env* Env::Default() {
  static Win32Env* env = new Win32Env();
  return env;
}

}  // namespace jet
