// FileStamp: stat(2) of a file, reduced to what changes when the file does.
#include "jet/file/file_stamp.h"

#include <sys/stat.h>

#include <cerrno>

namespace jet {

Status StampFile(const std::string& path, FileStamp* stamp) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return Status::FromErrno(errno, "examine " + path);
  stamp->device = uint64_t(info.st_dev);
  stamp->inode = uint64_t(info.st_ino);
  stamp->size = uint64_t(info.st_size);
  stamp->modified_ns = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
  return Status::Ok();
}

Status ExpectUnchanged(const std::string& path, const FileStamp& expected) {
  FileStamp now;
  if (StampFile(path, &now).ok() && now == expected) return Status::Ok();
  return Status::Error(ErrorKind::kInUse, path + " was changed by another program while this one worked on it");
}

}  // namespace jet
