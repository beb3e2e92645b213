// Entry points of the engine. CompactDatabase is the compaction of jet/maintain/compact.h,
// RepairDatabase the repair of jet/maintain/repair.h.
#include "jet/maintain/engine.h"

#include <memory>

#include "jet/maintain/compact.h"
#include "jet/base/env.h"
#include "jet/base/publish_file.h"
#include "jet/file/lock.h"
#include "jet/maintain/repair.h"

namespace jet {

Status RepairDatabase(const std::string& path, RepairReport* report, Env* env) {
  // A database reached through a symbolic link is repaired where it lies, so the link
  // keeps pointing at the (now repaired) database; and a file nobody may write is not
  // rewritten behind its owner's back.
  std::string target;
  FileInfo info;
  Status s = ResolveReplaceTarget(env, path, &target, &info);
  if (!s.ok()) return s;
  return RepairDatabaseWithReport(target, report, env);
}

Status RepairDatabase(const std::string& path, Env* env) {
  RepairReport report;
  return RepairDatabase(path, &report, env);
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
