// Publication: the write-beside, flush, rename-over, flush-the-folder sequence, and
// where a replacement has to land.
#include "jet/base/publish_file.h"

#include <cerrno>

#include "jet/base/stale_temporary.h"

namespace jet {
namespace {

// Anything at `path` -- a file, a folder, a link, even one that leads nowhere -- is in
// the way of a new file there. A path that cannot be examined is not taken as free.
Status ExpectNothingAt(Env* env, const std::string& path) {
  FileInfo info;
  Status s = env->GetFileInfo(path, &info);
  if (!s.ok()) return s;
  if (info.type != FileInfo::Type::kMissing || info.is_link)
    return Status::Error(ErrorKind::kDestinationExists, path);  // the kind says "destination exists"
  return Status::Ok();
}

// A replacement takes over the permission bits of the file it replaces; when nothing
// is there, the bits it was created with stay.
Status TakeOverPermissions(Env* env, const std::string& target, const std::string& replacement) {
  FileInfo info;
  Status s = env->GetFileInfo(target, &info);
  if (!s.ok() || info.type == FileInfo::Type::kMissing) return s;
  return env->SetPermissions(replacement, info.permissions);
}

}  // namespace

Publication::~Publication() { Abandon(); }

void Publication::Abandon() {
  if (!pending_) return;
  pending_ = false;
  // Best effort: the failure that got here is what the caller needs to hear. The name
  // is this process's own, so nothing but its own file can be there.
  (void)env_->RemoveFile(temporary_);
}

Status Publication::Begin(Env* env, const std::string& target, const PublishOptions& options) {
  Abandon();
  env_ = env;
  target_ = target;
  options_ = options;
  if (options_.mode == PublishMode::kCreate) {
    Status s = ExpectNothingAt(env_, target_);
    if (!s.ok()) return s;
  }
  RemoveStaleTemporaryFiles(env_, target_);
  temporary_ = TemporaryPathBeside(target_);
  pending_ = true;
  return Status::Ok();
}

Status Publication::Commit() {
  if (!pending_) return Status::Error(ErrorKind::kInvalidArgument, "nothing to publish at " + target_);
  const bool create = options_.mode == PublishMode::kCreate;
  Status s = create ? Status::Ok() : TakeOverPermissions(env_, target_, temporary_);
  if (s.ok() && options_.before_rename) s = options_.before_rename();
  if (s.ok() && create) s = ExpectNothingAt(env_, target_);
  if (s.ok()) s = env_->RenameFile(temporary_, target_);
  if (!s.ok()) {
    Abandon();
    return s;
  }
  pending_ = false;
  s = env_->SyncDir(DirName(target_));
  if (!s.ok() && create) {
    // In place, but perhaps not for good; a failed create must leave nothing behind.
    (void)env_->RemoveFile(target_);
  }
  return s;
}

Status ResolveReplaceTarget(Env* env, const std::string& path, std::string* target, FileInfo* info) {
  *target = path;
  Status s = env->GetFileInfo(path, info);
  if (!s.ok()) return s;
  if (info->is_link) {
    if (info->type == FileInfo::Type::kMissing)
      return Status::Error(ErrorKind::kNotFound, "the link " + path + " leads nowhere");
    s = env->ResolvePath(path, target);
    if (!s.ok()) return s;
  }
  if (info->type == FileInfo::Type::kRegular && (info->permissions & 0222) == 0)
    return Status::FromErrno(EACCES, path + " is read-only");
  return Status::Ok();
}

}  // namespace jet
