// Entry points of the engine. CompactDatabase is the compaction of jet/maintain/compact.h,
// RepairDatabase the repair of jet/maintain/repair.h.
#include "jet/maintain/engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

#include "jet/maintain/compact.h"
#include "jet/base/env.h"
#include "jet/file/lock.h"
#include "jet/maintain/repair.h"

namespace jet {
namespace {

// What the repair really works on. A database reached through a symbolic link is
// repaired where it lies: the repaired copy is written beside the real file and
// renamed over it, so the link keeps pointing at the (now repaired) database. Renaming
// over the link instead would replace the link with a file and leave the database it
// named unrepaired.
Status RepairTarget(const std::string& path, std::string* target) {
  *target = path;
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return Status::FromErrno(errno, "examine " + path);
  if (S_ISLNK(info.st_mode)) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
      return Status::FromErrno(errno, "follow the link " + path);
    *target = resolved;
    if (::stat(resolved, &info) != 0) return Status::FromErrno(errno, "examine " + *target);
  }
  // A file nobody may write is not rewritten behind its owner's back: the rename that
  // replaces it would not ask for the file's permission, only the folder's.
  if (S_ISREG(info.st_mode) && (info.st_mode & 0222) == 0)
    return Status::FromErrno(EACCES, path + " is read-only");
  return Status::Ok();
}

}  // namespace

Status RepairDatabase(const std::string& path, Env* env) {
  std::string target;
  Status s = RepairTarget(path, &target);
  if (!s.ok()) return s;
  RepairReport report;  // the caller gets the status; `jetdb repair` prints the report
  return RepairDatabaseWithReport(target, &report, env);
}

Status CompactDatabase(const std::string& source, const std::string& destination, Env* env) {
  // A database another program has open is changing under the reader, and its copy
  // would soon be stale: refused, as the repair refuses it. The lock is held while the
  // copy is made. A source this process may not open for writing cannot be locked; it
  // is only read, so that alone does not stop the compaction.
  std::unique_ptr<DatabaseLock> lock;
  Status s = DatabaseLock::Acquire(source, &lock);
  if (!s.ok() && s.kind() == ErrorKind::kInUse) return s;
  return Compact(env, source, destination, CompactOptions(), nullptr);
}

}  // namespace jet
