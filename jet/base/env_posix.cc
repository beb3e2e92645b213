// The real Env: POSIX system calls, with EINTR retried and short writes completed.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "jet/base/env.h"

namespace jet {
namespace {

class PosixWritableFile final : public WritableFile {
 public:
  PosixWritableFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixWritableFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  Status Append(const void* data, size_t size) override {
    Status s = WriteAt(append_offset_, data, size);
    if (s.ok()) append_offset_ += size;
    return s;
  }

  Status AppendFrom(SequentialFile* in) override;

  Status WriteAt(uint64_t offset, const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t n = ::pwrite(fd_, p, size, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::FromErrno(errno, "write " + path_);
      }
      p += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return Status::Ok();
  }

  Status Sync() override {
    if (::fsync(fd_) != 0) return Status::FromErrno(errno, "fsync " + path_);
    return Status::Ok();
  }

  Status Close() override {
    int fd = fd_;
    fd_ = -1;
    if (fd >= 0 && ::close(fd) != 0) return Status::FromErrno(errno, "close " + path_);
    return Status::Ok();
  }

 private:
  std::string path_;
  int fd_;
  uint64_t append_offset_ = 0;
};

class PosixSequentialFile final : public SequentialFile {
 public:
  PosixSequentialFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~PosixSequentialFile() override { ::close(fd_); }
  int fd() const { return fd_; }

  Status Read(void* buffer, size_t size, size_t* read_size) override {
    for (;;) {
      ssize_t n = ::read(fd_, buffer, size);
      if (n < 0) {
        if (errno == EINTR) continue;
        *read_size = 0;
        return Status::FromErrno(errno, "read " + path_);
      }
      *read_size = static_cast<size_t>(n);
      return Status::Ok();
    }
  }

 private:
  std::string path_;
  int fd_;
};

Status PosixWritableFile::AppendFrom(SequentialFile* in) {
  auto* from = dynamic_cast<PosixSequentialFile*>(in);
  if (from == nullptr) return WritableFile::AppendFrom(in);
  bool copied_any = false;
  for (;;) {
    loff_t to = static_cast<loff_t>(append_offset_);
    const ssize_t n = ::copy_file_range(from->fd(), nullptr, fd_, &to, size_t(1) << 30, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      // A kernel or file system that cannot copy between these two files: through
      // this process's memory, as anywhere else.
      if (!copied_any && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL))
        return WritableFile::AppendFrom(in);
      return Status::FromErrno(errno, "write " + path_);
    }
    if (n == 0) return Status::Ok();
    copied_any = true;
    append_offset_ += static_cast<uint64_t>(n);
  }
}

// The errors of stat(2) that mean "nothing there" rather than "cannot tell".
bool IsMissing(int error_number) { return error_number == ENOENT || error_number == ENOTDIR; }

FileInfo::Type TypeOf(mode_t mode) {
  if (S_ISREG(mode)) return FileInfo::Type::kRegular;
  if (S_ISDIR(mode)) return FileInfo::Type::kFolder;
  return FileInfo::Type::kOther;
}

class PosixEnv final : public Env {
 public:
  Status NewWritableFile(const std::string& path, unsigned mode,
                         std::unique_ptr<WritableFile>* result) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) return Status::FromErrno(errno, "create " + path);
    result->reset(new PosixWritableFile(path, fd));
    return Status::Ok();
  }

  Status NewSequentialFile(const std::string& path,
                           std::unique_ptr<SequentialFile>* result) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno, "open " + path);
    result->reset(new PosixSequentialFile(path, fd));
    return Status::Ok();
  }

  Status RenameFile(const std::string& from, const std::string& to) override {
    if (::rename(from.c_str(), to.c_str()) != 0)
      return Status::FromErrno(errno, "rename " + from + " to " + to);
    return Status::Ok();
  }

  Status RemoveFile(const std::string& path) override {
    if (::unlink(path.c_str()) != 0) return Status::FromErrno(errno, "remove " + path);
    return Status::Ok();
  }

  Status SyncDir(const std::string& dir) override {
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return Status::FromErrno(errno, "open folder " + dir);
    int rc = ::fsync(fd);
    int saved = errno;
    ::close(fd);
    // Some file systems refuse fsync on a folder; the rename itself has happened.
    if (rc != 0 && saved != EINVAL && saved != EROFS)
      return Status::FromErrno(saved, "fsync folder " + dir);
    return Status::Ok();
  }

  Status GetFileInfo(const std::string& path, FileInfo* info) override {
    *info = FileInfo();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      if (IsMissing(errno)) return Status::Ok();
      return Status::FromErrno(errno, "examine " + path);
    }
    if (S_ISLNK(st.st_mode)) {
      info->is_link = true;
      // A link that leads nowhere (or round in a loop) names nothing.
      if (::stat(path.c_str(), &st) != 0) return Status::Ok();
    }
    info->type = TypeOf(st.st_mode);
    info->permissions = st.st_mode & 07777;
    info->device = uint64_t(st.st_dev);
    info->inode = uint64_t(st.st_ino);
    info->size = uint64_t(st.st_size);
    info->modified_ns = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return Status::Ok();
  }

  Status SetPermissions(const std::string& path, unsigned permissions) override {
    if (::chmod(path.c_str(), static_cast<mode_t>(permissions)) != 0)
      return Status::FromErrno(errno, "set permissions of " + path);
    return Status::Ok();
  }

  Status ResolvePath(const std::string& path, std::string* resolved) override {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return Status::FromErrno(errno, "follow the link " + path);
    *resolved = real;
    std::free(real);
    return Status::Ok();
  }

  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    names->clear();
    DIR* folder = ::opendir(dir.c_str());
    if (folder == nullptr) return Status::FromErrno(errno, "list folder " + dir);
    int error_number = 0;
    for (;;) {
      errno = 0;  // readdir tells the end from a failure only by errno
      const dirent* entry = ::readdir(folder);
      if (entry == nullptr) {
        error_number = errno;
        break;
      }
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names->push_back(name);
    }
    ::closedir(folder);
    if (error_number != 0) return Status::FromErrno(error_number, "list folder " + dir);
    return Status::Ok();
  }
};

}  // namespace

Env* Env::Default() {
  static PosixEnv* env = new PosixEnv();
  return env;
}

}  // namespace jet
