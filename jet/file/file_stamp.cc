// FileStamp: what the Env says about a file, reduced to what changes when the file does.
#include "jet/file/file_stamp.h"

#include <cerrno>

namespace jet {

FileStamp StampOf(const FileInfo& info) {
  return FileStamp{info.device, info.inode, info.size, info.modified_ns};
}

Status StampFile(Env* env, const std::string& path, FileStamp* stamp) {
  FileInfo info;
  Status s = env->GetFileInfo(path, &info);
  if (!s.ok()) return s;
  if (info.type == FileInfo::Type::kMissing) return Status::FromErrno(ENOENT, "examine " + path);
  *stamp = StampOf(info);
  return Status::Ok();
}

Status ExpectUnchanged(Env* env, const std::string& path, const FileStamp& expected) {
  FileStamp now;
  if (StampFile(env, path, &now).ok() && now == expected) return Status::Ok();
  return Status::Error(ErrorKind::kInUse, path + " was changed by another program while this one worked on it");
}

}  // namespace jet
