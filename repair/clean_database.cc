// The repair procedure: its ten steps, the error mode that passes a failing step
// over, and the choice of the closing message.
#include "repair/clean_database.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "jet/file/file_stamp.h"
#include "repair/file_names.h"
#include "repair/messages.h"
#include "services/files.h"
#include "services/program_folder.h"

namespace repair {
namespace {

// True only when both files could be read to the end and hold the same bytes. Any
// read failure answers false, so that doubt is reported as "changed".
bool SameContents(const std::string& a, const std::string& b) {
  std::ifstream in_a(a, std::ios::binary);
  std::ifstream in_b(b, std::ios::binary);
  if (!in_a || !in_b) return false;
  constexpr std::streamsize kChunk = 1 << 16;
  std::vector<char> buffer_a(kChunk), buffer_b(kChunk);
  for (;;) {
    in_a.read(buffer_a.data(), kChunk);
    in_b.read(buffer_b.data(), kChunk);
    const std::streamsize got_a = in_a.gcount();
    const std::streamsize got_b = in_b.gcount();
    if (got_a != got_b) return false;
    if (!std::equal(buffer_a.begin(), buffer_a.begin() + got_a, buffer_b.begin())) return false;
    if (in_a.bad() || in_b.bad()) return false;
    if (got_a < kChunk) return in_a.eof() && in_b.eof();
  }
}

// Steps 2 and 3. The old backup is not deleted first: FileCopy writes the new copy
// beside it and renames it over, so until a complete new backup exists the previous
// one stays. (The existence question of step 2 is therefore gone as well.)
// `backed_up` receives the stamp of the database as it was copied.
jet::Status TakeBackup(const std::string& database_path, const std::string& program_folder,
                       jet::Env* env, jet::FileStamp* backed_up) {
  // Without a known program folder the plain concatenation would name a file at the
  // root of the file system; no backup goes there.
  if (program_folder.empty()) {
    return jet::Status::Error(jet::ErrorKind::kNotFound, "the program folder is unknown");
  }
  return services::FileCopy(database_path, services::JoinPath(program_folder, kBackupFileName), env,
                            nullptr, backed_up);
}

// Step 5. FileExists cannot raise an error here, so there is no error to treat as
// "present"; a failing Kill is passed over, and the compaction then refuses the
// destination that is still there.
void RemoveStaleScratch(const std::string& scratch_path, jet::Env* env) {
  if (services::FileExists(scratch_path)) {
    jet::Status ignored = services::Kill(scratch_path, env);
    (void)ignored;
  }
}

jet::Status NoEngine() {
  return jet::Status::Error(jet::ErrorKind::kIoError, "the database engine could not be created");
}

// The reason line of a failure box: from the first failure among the engine and
// copy-back steps (a later step usually fails because of an earlier one). Only called
// when at least one of them failed.
const char* FailureReason(bool have_engine, const jet::Status& repaired,
                          const jet::Status& compacted, const jet::Status& copied_back) {
  if (!have_engine) return kNoEngineReason;
  if (!repaired.ok()) return ReasonText(repaired.kind());
  if (!compacted.ok()) return ReasonText(compacted.kind());
  return ReasonText(copied_back.kind());
}

}  // namespace

void CleanDatabase(const std::string& database_folder, const std::string& program_folder,
                   services::Runtime& runtime, EngineHolder& engine, jet::Env* env) {
  // Step 1.
  const std::string database_path = services::JoinPath(database_folder, kDatabaseFileName);

  // Steps 2 and 3. No backup, no repair: the database is left untouched.
  jet::FileStamp backed_up;
  if (!TakeBackup(database_path, program_folder, env, &backed_up).ok()) {
    runtime.MsgBox(kBackupFailedText, services::kStyleError, kErrorTitle);
    runtime.End();  // step 10
    return;
  }
  // The backup path is formed anew where it is used.

  // Step 4.
  const std::string scratch_path = services::JoinPath(program_folder, kScratchFileName);

  // Step 5.
  RemoveStaleScratch(scratch_path, env);

  // Steps 6 and 7 run whatever happened before them; each failure is only recorded.
  // Another program may replace or rewrite the database while this one works on it
  // (it was closed at the click, not locked): each step goes ahead only on the file
  // the step before left, so a file without a backup is never repaired and a file
  // nobody here compacted is never overwritten by the copy-back.
  // A file that is no longer the one backed up has no backup, and so, like a database
  // whose backup failed, it is not given to the engine at all.
  DBEngine* db_engine = engine.Get();
  const jet::Status still_backed_up = jet::ExpectUnchanged(env, database_path, backed_up);
  jet::Status repaired = !db_engine ? NoEngine() : still_backed_up;
  RepairLoss loss;
  if (repaired.ok()) repaired = db_engine->RepairDatabase(database_path, &loss);
  jet::FileStamp after_repair;
  jet::Status compacted = !db_engine ? NoEngine() : still_backed_up;
  if (compacted.ok()) compacted = jet::StampFile(env, database_path, &after_repair);
  if (compacted.ok()) compacted = db_engine->CompactDatabase(database_path, scratch_path);

  // "Unchanged" is decided by comparing the database with the backup just taken,
  // byte for byte: the backup is exactly the file as it was before step 6.
  auto database_unchanged = [&] {
    return SameContents(database_path, services::JoinPath(program_folder, kBackupFileName));
  };

  // Step 8, only for a compaction that succeeded in this run, and not when a failed
  // repair left the database changed: its compacted copy would carry a half-made
  // repair. FileCopy is atomic, so a failing copy-back leaves the database whole.
  jet::Status copied_back = jet::Status::Error(jet::ErrorKind::kIoError, "copy-back skipped");
  const bool copy_back = compacted.ok() && (repaired.ok() || database_unchanged());
  if (copy_back) {
    copied_back = jet::ExpectUnchanged(env, database_path, after_repair);
    if (copied_back.ok()) copied_back = services::FileCopy(scratch_path, database_path, env, &after_repair);
  }

  // Step 9.
  if (repaired.ok() && compacted.ok() && copied_back.ok()) {
    // A repair that could not bring everything back still succeeded, but the user
    // must hear what is gone and where the file as it was is kept.
    runtime.MsgBox(loss.Any() ? RepairedWithLossText(loss.rows, loss.long_values, loss.columns) : kRepairedText,
                   services::kStyleInformation, kNoticeTitle);
  } else {
    std::string text = database_unchanged() ? kNotRepairedText : kPartlyRepairedText;
    text += "\n";
    text += FailureReason(db_engine != nullptr, repaired, compacted, copied_back);
    runtime.MsgBox(text, services::kStyleError, kErrorTitle);
  }

  // Step 10.
  runtime.End();
}

}  // namespace repair
