// File services: existence test, atomic copy, delete. A copy goes through jet::Env
// and jet::Publication, so a fault-injecting Env can fail any single step of it.
#include "services/files.h"

#include <cerrno>
#include <memory>

#include "jet/base/publish_file.h"

namespace services {
namespace {

// A path with a NUL byte in it cannot be handed to the system as given: the system
// would see only the part before the NUL, i.e. a different file.
bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Writes at `path` (new, flushed and closed) a copy of `in`, which reads `source`.
// `in` was opened after `source_stamp` was taken: if the source still carries it when
// the copy is read, what was read is the file the stamp describes.
jet::Status WriteCopy(jet::Env* env, jet::SequentialFile* in, const std::string& source,
                      const jet::FileStamp& source_stamp, const std::string& path, unsigned mode) {
  std::unique_ptr<jet::WritableFile> out;
  jet::Status s = env->NewWritableFile(path, mode, &out);
  if (!s.ok()) return s;
  s = out->AppendFrom(in);
  if (s.ok()) s = jet::ExpectUnchanged(env, source, source_stamp);
  if (s.ok()) s = out->Sync();
  jet::Status closed = out->Close();
  return s.ok() ? closed : s;
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty() || HasNul(path)) return false;
  jet::FileInfo info;  // links followed: a dangling one is no file
  return jet::Env::Default()->GetFileInfo(path, &info).ok() && info.type == jet::FileInfo::Type::kRegular;
}

jet::Status FileCopy(const std::string& source, const std::string& destination,
                     jet::Env* env, const jet::FileStamp* destination_must_be,
                     jet::FileStamp* copied_source) {
  if (HasNul(source) || HasNul(destination)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument, "path holds a NUL byte");
  }
  // Only a regular file is copied: a pipe or device as source could block forever or
  // never end. What is seen here is also the stamp of the source that is copied.
  jet::FileInfo source_info;
  jet::Status s = env->GetFileInfo(source, &source_info);
  if (s.ok() && source_info.type == jet::FileInfo::Type::kMissing)
    s = jet::Status::FromErrno(ENOENT, "examine " + source);
  if (!s.ok()) return s;
  if (source_info.type != jet::FileInfo::Type::kRegular) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                              "source " + source + " is not a regular file");
  }

  std::string target;
  jet::FileInfo target_info;
  s = jet::ResolveReplaceTarget(env, destination, &target, &target_info);
  if (!s.ok()) return s;
  if (target_info.type != jet::FileInfo::Type::kMissing &&
      target_info.type != jet::FileInfo::Type::kRegular) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                              "destination " + destination + " is not a regular file");
  }

  const jet::FileStamp source_stamp = jet::StampOf(source_info);
  std::unique_ptr<jet::SequentialFile> in;
  s = env->NewSequentialFile(source, &in);
  if (!s.ok()) return s;

  jet::PublishOptions options;
  options.mode = jet::PublishMode::kReplace;
  if (destination_must_be != nullptr)
    options.before_rename = [&] { return jet::ExpectUnchanged(env, target, *destination_must_be); };
  jet::Publication publication;
  s = publication.Begin(env, target, options);
  // A new destination gets the source's permission bits (less the umask, as any new
  // file); one that is replaced keeps exactly its own (the publication sees to that).
  if (s.ok()) {
    s = WriteCopy(env, in.get(), source, source_stamp, publication.temporary(),
                  source_info.permissions & 0777);
  }
  if (s.ok()) s = publication.Commit();
  if (s.ok() && copied_source != nullptr) *copied_source = source_stamp;
  return s;
}

jet::Status Kill(const std::string& path, jet::Env* env) {
  if (HasNul(path)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument, "path holds a NUL byte");
  }
  return env->RemoveFile(path);
}

}  // namespace services
