// ReadOnlyFile on Linux: pread(2), with EINTR retried and short reads completed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "jet/base/read_only_file.h"

namespace jet {
namespace {

class PosixReadOnlyFile final : public ReadOnlyFile {
 public:
  PosixReadOnlyFile(std::string path, int fd, uint64_t size)
      : path_(std::move(path)), fd_(fd), size_(size) {}
  ~PosixReadOnlyFile() override { ::close(fd_); }

  uint64_t size() const override { return size_; }

  Status ReadAt(uint64_t offset, void* out, size_t size) const override {
    char* p = static_cast<char*>(out);
    while (size > 0) {
      ssize_t n = ::pread(fd_, p, size, static_cast<off_t>(offset));
      if (n < 0) {
        if (errno == EINTR) continue;
        return Status::FromErrno(errno, "read " + path_);
      }
      if (n == 0)
        return Status::Error(ErrorKind::kIoError, "read " + path_ + ": file became shorter");
      p += n;
      size -= static_cast<size_t>(n);
      offset += static_cast<uint64_t>(n);
    }
    return Status::Ok();
  }

 private:
  std::string path_;
  int fd_;
  uint64_t size_;
};

}  // namespace

Status ReadOnlyFile::Open(const std::string& path, std::unique_ptr<ReadOnlyFile>* file) {
  if (path.find('\0') != std::string::npos)
    return Status::Error(ErrorKind::kInvalidArgument, "file name holds a NUL byte");
  // O_NONBLOCK: a pipe in the file's place must not block the open; a regular file
  // reads the same with or without it.
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return Status::FromErrno(errno, "open " + path);
  struct stat info;
  if (::fstat(fd, &info) != 0) {
    const int error = errno;
    ::close(fd);
    return Status::FromErrno(error, "examine " + path);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return Status::Error(ErrorKind::kInvalidArgument, path + " is not a regular file");
  }
  file->reset(new PosixReadOnlyFile(path, fd, uint64_t(info.st_size)));
  return Status::Ok();
}

}  // namespace jet
