// File services: existence test, atomic copy, delete. All writes go through jet::Env,
// so a fault-injecting Env can fail any single step of a copy.
#include "services/files.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "jet/base/stale_temporary.h"

namespace services {
namespace {

// Chunk size of a copy: large enough that a database copies in few system calls,
// small enough to sit comfortably on the heap.
constexpr size_t kCopyChunk = 1 << 20;

// A path with a NUL byte in it cannot be handed to the system as given: the system
// would see only the part before the NUL, i.e. a different file.
bool HasNul(const std::string& path) { return path.find('\0') != std::string::npos; }

// Where the copy really has to land. A destination that is a link to a file is
// resolved, so that the file it names is replaced and the link is kept; renaming
// over the link itself would leave the real file untouched and the link broken.
jet::Status ResolveDestination(const std::string& destination, std::string* target,
                               bool* exists, mode_t* mode) {
  *target = destination;
  *exists = false;
  *mode = 0;
  struct stat link_info;
  if (::lstat(destination.c_str(), &link_info) != 0) {
    if (errno == ENOENT) return jet::Status::Ok();
    return jet::Status::FromErrno(errno, "examine " + destination);
  }
  if (S_ISLNK(link_info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(destination.c_str(), resolved) == nullptr) {
      return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                                "destination " + destination + " is a dangling link");
    }
    *target = resolved;
  }
  struct stat info;
  if (::stat(target->c_str(), &info) != 0) {
    return jet::Status::FromErrno(errno, "examine " + *target);
  }
  if (!S_ISREG(info.st_mode)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                              "destination " + destination + " is not a regular file");
  }
  // Replacing goes by rename, which asks only the folder; a file that nobody may
  // write is not replaced behind its owner's back.
  if ((info.st_mode & 0222) == 0) {
    return jet::Status::FromErrno(EACCES, "destination " + destination + " is read-only");
  }
  *exists = true;
  *mode = info.st_mode & 07777;
  return jet::Status::Ok();
}

// Copies every byte of `in` to `out`.
jet::Status CopyBytes(jet::SequentialFile* in, jet::WritableFile* out) {
  std::vector<char> buffer(kCopyChunk);
  for (;;) {
    size_t got = 0;
    jet::Status s = in->Read(buffer.data(), buffer.size(), &got);
    if (!s.ok()) return s;
    if (got == 0) return jet::Status::Ok();
    s = out->Append(buffer.data(), got);
    if (!s.ok()) return s;
  }
}

}  // namespace

bool FileExists(const std::string& path) {
  if (path.empty() || HasNul(path)) return false;
  struct stat info;
  if (::stat(path.c_str(), &info) != 0) return false;  // follows links: dangling is false
  return S_ISREG(info.st_mode);
}

jet::Status FileCopy(const std::string& source, const std::string& destination,
                     jet::Env* env, const jet::FileStamp* destination_must_be,
                     jet::FileStamp* copied_source) {
  if (HasNul(source) || HasNul(destination)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument, "path holds a NUL byte");
  }
  // Only a regular file is copied: a pipe or device as source could block forever or
  // never end.
  struct stat source_info;
  if (::stat(source.c_str(), &source_info) != 0) {
    return jet::Status::FromErrno(errno, "examine " + source);
  }
  if (!S_ISREG(source_info.st_mode)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument,
                              "source " + source + " is not a regular file");
  }

  std::string target;
  bool target_exists = false;
  mode_t target_mode = 0;
  jet::Status s = ResolveDestination(destination, &target, &target_exists, &target_mode);
  if (!s.ok()) return s;
  // A new destination gets the source's permission bits (less the umask, as any new
  // file); an existing one keeps exactly its own.
  const mode_t create_mode = target_exists ? (target_mode & 0777) : (source_info.st_mode & 0777);

  jet::FileStamp source_stamp;
  s = jet::StampFile(source, &source_stamp);
  if (!s.ok()) return s;
  std::unique_ptr<jet::SequentialFile> in;
  s = env->NewSequentialFile(source, &in);
  if (!s.ok()) return s;

  // A copy that a crash cut short left its temporary file beside the target.
  jet::RemoveStaleTemporaryFiles(env, target);
  const std::string temporary = jet::TemporaryPathBeside(target);
  std::unique_ptr<jet::WritableFile> out;
  s = env->NewWritableFile(temporary, create_mode, &out);
  if (!s.ok()) return s;  // nothing was created

  // From here on the temporary file exists; every failure removes it again.
  s = CopyBytes(in.get(), out.get());
  // Opened after the stamp was taken and still the same afterwards: what was read is
  // the file the stamp describes.
  if (s.ok()) s = jet::ExpectUnchanged(source, source_stamp);
  if (s.ok()) s = out->Sync();
  jet::Status closed = out->Close();
  if (s.ok()) s = closed;
  if (s.ok() && target_exists && ::chmod(temporary.c_str(), target_mode) != 0) {
    s = jet::Status::FromErrno(errno, "set permissions of " + temporary);
  }
  if (s.ok() && destination_must_be != nullptr) s = jet::ExpectUnchanged(target, *destination_must_be);
  if (s.ok()) s = env->RenameFile(temporary, target);
  if (!s.ok()) {
    env->RemoveFile(temporary);  // best effort; the original failure is what matters
    return s;
  }
  if (copied_source != nullptr) *copied_source = source_stamp;
  // The rename has happened; flushing the folder makes it survive a power cut.
  return env->SyncDir(jet::DirName(target));
}

jet::Status Kill(const std::string& path, jet::Env* env) {
  if (HasNul(path)) {
    return jet::Status::Error(jet::ErrorKind::kInvalidArgument, "path holds a NUL byte");
  }
  return env->RemoveFile(path);
}

}  // namespace services
