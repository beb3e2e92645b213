// Repair: lock, check, then either clear the commit state in a copy, or salvage and
// compact into a copy; the copy is checked and renamed over the original.
#include "jet/maintain/repair.h"

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "jet/maintain/check.h"
#include "jet/maintain/compact.h"
#include "jet/file/file_stamp.h"
#include "jet/file/header.h"
#include "jet/file/lock.h"
#include "jet/file/page_file.h"
#include "jet/maintain/header_rebuild.h"
#include "jet/maintain/salvage.h"
#include "jet/base/publish_file.h"
#include "jet/base/stale_temporary.h"

namespace jet {
namespace {

// Publishes the replacement of `path` that `write` makes, then makes sure `path` is
// the file that was written: the caller learns of a file that another program put at
// `path` just after the rename too (kInUse), so it does not go on to work on that file
// as if it were the repaired one. `let_go` closes what this process has open of `path`
// right before the rename: Windows renames over a file only while nobody has it open.
Status ReplaceCheckedFile(Env* env, const std::string& path, const FileStamp& checked,
                          const std::function<Status(const std::string& temporary)>& write,
                          const std::function<void()>& let_go) {
  // Only the file that was checked is replaced, and the replacement keeps its
  // permission bits (a database shared by a group stays writable for the group).
  PublishOptions options;
  options.mode = PublishMode::kReplace;
  options.before_rename = [&] {
    Status unchanged = ExpectUnchanged(env, path, checked);
    if (unchanged.ok()) let_go();
    return unchanged;
  };
  Publication publication;
  Status s = publication.Begin(env, path, options);
  if (s.ok()) s = write(publication.temporary());
  FileStamp written;
  if (s.ok()) s = StampFile(env, publication.temporary(), &written);
  if (s.ok()) s = publication.Commit();
  if (s.ok()) s = ExpectUnchanged(env, path, written);  // rename keeps inode, size and time
  return s;
}

// Writes at `copy` the file at `path` with the commit area of page 0 cleared, flushed
// and closed.
Status WriteWithCommitStateCleared(Env* env, const std::string& path, const Format& format,
                                   const std::string& copy) {
  std::unique_ptr<SequentialFile> in;
  Status s = env->NewSequentialFile(path, &in);
  if (!s.ok()) return s;
  std::unique_ptr<WritableFile> out;
  s = env->NewWritableFile(copy, 0600, &out);
  if (!s.ok()) return s;
  // Page 0 first, whole, with its commit area cleared; then the rest as it is.
  std::vector<uint8_t> buffer(1 << 16);
  size_t have = 0;
  while (s.ok() && have < format.page_size) {
    size_t n = 0;
    s = in->Read(buffer.data() + have, format.page_size - have, &n);
    if (s.ok() && n == 0) s = Status::Error(ErrorKind::kIoError, path + " ended inside page 0");
    have += n;
  }
  if (s.ok()) {
    ClearCommitState(format, buffer.data());
    s = out->Append(buffer.data(), have);
  }
  while (s.ok()) {
    size_t n = 0;
    s = in->Read(buffer.data(), buffer.size(), &n);
    if (!s.ok() || n == 0) break;
    s = out->Append(buffer.data(), n);
  }
  if (s.ok()) s = out->Sync();
  if (s.ok()) s = out->Close();
  return s;
}

std::string FirstDamage(const CheckReport& check) {
  for (const CheckFinding& f : check.findings)
    if (f.severity == CheckSeverity::kDamage) return std::string(FindingKindName(f.kind)) + ": " + f.detail;
  return "";
}

// Publishes the file that `write` makes as the new file `destination`; `path` is only
// read.
Status CreateRepairedFile(Env* env, const std::string& destination,
                          const std::function<Status(const std::string& temporary)>& write) {
  Publication publication;
  Status s = publication.Begin(env, destination, PublishOptions());
  if (s.ok()) s = write(publication.temporary());
  if (s.ok()) s = publication.Commit();
  return s;
}

// Salvages what `check` found readable in `file` (a view of it held in memory where
// the salvage changed it, scratch files beside `target`, where the result is to land),
// compacts that into `repaired` and checks the result: only a result without damage
// may be put in place.
// `progress` is told the work in hundredths of the whole repair, from 20 on.
Status WriteRepaired(Env* env, PageFile& file, const CheckReport& check, const std::string& target,
                     const std::string& repaired, RepairReport* report, const ProgressFn& progress) {
  std::unique_ptr<PageFile> salvaged;
  Status s = Salvage(env, file, check, target, report, &salvaged);
  if (!s.ok()) return s;
  ReportProgress(progress, 40, 100);
  CompactReport compacted;
  CompactOptions compact_options;
  compact_options.progress = StageProgress(progress, 40, 90, 100);
  s = CompactPageFile(env, std::move(salvaged), repaired, compact_options, &compacted);
  if (!s.ok()) return Status::Error(s.kind(), "rebuilding the salvaged database failed: " + s.detail());
  CheckReport after;
  CheckOptions after_options;
  after_options.progress = StageProgress(progress, 90, 100, 100);
  s = CheckDatabase(repaired, after_options, &after);
  if (s.ok() && after.HasDamage())
    s = Status::Error(ErrorKind::kDamaged, "the rebuilt database still has damage (" + FirstDamage(after) + ")");
  return s;
}

}  // namespace

namespace {

// The repair of `path`, in place when `destination` is empty, else into the new file
// `destination`.
Status Repair(const std::string& path, const std::string& destination, RepairReport* report,
              Env* env, const ProgressFn& progress) {
  *report = RepairReport();
  FileInfo info;
  Status s = env->GetFileInfo(path, &info);
  if (s.ok() && info.type == FileInfo::Type::kMissing) s = Status::FromErrno(ENOENT, "examine " + path);
  if (!s.ok()) return s;
  // An existing destination is refused before any work (and again by its publication).
  if (!destination.empty()) {
    s = env->GetFileInfo(destination, &info);
    if (s.ok() && (info.type != FileInfo::Type::kMissing || info.is_link))
      s = Status::Error(ErrorKind::kDestinationExists, destination);
    if (!s.ok()) return s;
  }
  std::unique_ptr<DatabaseLock> lock;
  s = DatabaseLock::Acquire(path, &lock);
  if (!s.ok()) return s;
  // The lock keeps Jet writers out, not a program that renames another file over this
  // one; the repaired copy replaces only the file that was checked.
  FileStamp checked;
  s = StampFile(env, path, &checked);
  if (!s.ok()) return s;
  // Under the lock: the copies a crashed repair left beside the file are garbage now.
  RemoveStaleTemporaryFiles(env, path);

  std::unique_ptr<PageFile> file;
  HeaderRebuild header;
  s = OpenForRepair(path, &file, &header);
  // What was opened is what was stamped: a file put in its place in between would be
  // checked, and found sound or repaired, under the stamp of the one it replaced.
  if (s.ok()) s = ExpectUnchanged(env, path, checked);
  if (!s.ok()) return s;
  CheckReport check;
  CheckOptions check_options;
  check_options.progress = StageProgress(progress, 0, 20, 100);
  // An index that disagrees with its rows gets a new tree whatever its wrong entries
  // are; naming each of them would read its table's rows a second time.
  check_options.compare_disagreeing_entries = false;
  s = CheckPageFile(*file, check_options, &check);
  if (!s.ok()) return s;
  report->damage_found = check.DamageCount() + header.damage.size();
  report->was_damaged = check.HasStructuralDamage() || header.rebuilt;
  // A rebuilt page 0 reaches the file through the salvaged view, whose header it is.
  if (header.rebuilt) {
    for (const std::string& d : header.damage) report->rebuilt.push_back("page 0 rebuilt: " + d);
    report->assumptions = header.assumptions;
    report->password_lost = header.password_lost;
    if (header.password_lost)
      report->lost.push_back("the database password: page 0, which held it, is lost or damaged, so the repaired "
                             "file has none; if the database had one, set it again");
  }
  if (!destination.empty()) {
    // The new file is a copy when there is nothing to mend; the source stays as it is.
    s = CreateRepairedFile(env, destination, [&](const std::string& repaired) {
      if (!report->was_damaged) return WriteWithCommitStateCleared(env, path, file->format(), repaired);
      if (IsAce(file->format().version))
        return Status::Error(ErrorKind::kUnsupportedFormat, std::string("repair of ") +
                                 VersionName(file->format().version) + " files is not supported");
      return WriteRepaired(env, *file, check, destination, repaired, report, progress);
    });
    if (s.ok() && !report->was_damaged) report->commit_state_cleared = check.Has(FindingKind::kCommitState);
    if (s.ok() && report->was_damaged) report->rewritten = true;
    return s;
  }
  const auto let_go = [&] {
    file.reset();
    lock->ReleaseForReplace();
  };
  if (!report->was_damaged) {
    if (!check.Has(FindingKind::kCommitState)) return Status::Ok();
    s = ReplaceCheckedFile(env, path, checked, [&](const std::string& copy) {
      return WriteWithCommitStateCleared(env, path, file->format(), copy);
    }, let_go);
    if (s.ok()) report->commit_state_cleared = true;
    return s;
  }
  if (IsAce(file->format().version))
    return Status::Error(ErrorKind::kUnsupportedFormat,
                         std::string("repair of ") + VersionName(file->format().version) + " files is not supported");

  s = ReplaceCheckedFile(env, path, checked, [&](const std::string& repaired) {
    return WriteRepaired(env, *file, check, path, repaired, report, progress);
  }, let_go);
  if (s.ok()) report->rewritten = true;
  return s;
}

}  // namespace

Status RepairDatabaseWithReport(const std::string& path, RepairReport* report, Env* env,
                                const ProgressFn& progress) {
  return Repair(path, "", report, env, progress);
}

Status RepairDatabaseToFile(const std::string& source, const std::string& destination,
                            RepairReport* report, Env* env, const ProgressFn& progress) {
  if (destination.empty()) return Status::Error(ErrorKind::kInvalidArgument, "no destination given");
  return Repair(source, destination, report, env, progress);
}

}  // namespace jet
