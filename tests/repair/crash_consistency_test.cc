// Crash and error injection over every file-system call of the repair procedure and
// of the engine's two operations, with the real engine on a small damaged database.
//
// A clean run counts the calls (open, create, write, flush, close, rename, remove,
// folder flush) that go through the Env. Then, for every call n, a forked child runs
// the same work with the n-th call armed: once as a crash that also drops everything
// not flushed (a power cut), and once each failing with EIO, ENOSPC and EACCES. After
// each, the parent checks what is on disk -- the database whole (the original bytes,
// or a sound file with every row of the original), the backup whole (the original or
// the previous backup), the message true to what happened -- and then runs the work
// once more without faults, which must succeed and leave no temporary file behind.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "jet/maintain/check.h"
#include "jet/create/create.h"
#include "jet/read/database.h"
#include "jet/maintain/engine.h"
#include "jet/testing/fault_injection_env.h"
#include "repair/clean_database.h"
#include "repair/jet_db_engine.h"
#include "repair/messages.h"
#include "services/recording_runtime.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

constexpr int kErrors[] = {EIO, ENOSPC, EACCES};

// Every live row of every user table as text, one sorted list per table: what must
// survive a repair and a compaction (which may reorder rows). "" when the file cannot
// be read.
std::string RowsText(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  if (!jet::Database::Open(path, &db).ok()) return "";
  std::vector<std::string> names;
  for (const jet::CatalogObject* table : db->Tables(false)) names.push_back(table->name);
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) {
    const jet::TableDef* table = nullptr;
    if (!db->GetTableDefByName(name, &table).ok()) return "";
    std::vector<std::string> rows;
    jet::Status s = db->ScanRows(*table, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
      std::string row;
      for (const jet::Value& v : values) row += v.ToText() + "\x1f";
      rows.push_back(row);
      return true;
    });
    if (!s.ok()) return "";
    std::sort(rows.begin(), rows.end());
    text += "table " + name + "\n";
    for (const std::string& row : rows) text += row + "\n";
  }
  return text;
}

// A database the engine wrote: the check finds no damage and it holds `rows`.
bool SoundWithRows(const std::string& path, const std::string& rows) {
  jet::CheckReport report;
  if (!jet::CheckDatabase(path, &report).ok() || report.HasDamage()) return false;
  return RowsText(path) == rows;
}

// Names in `folder` that a writer's temporary file carries.
std::vector<std::string> TemporaryFiles(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp-") != std::string::npos) found.push_back(name);
  }
  return found;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += n + " ";
  return text;
}

struct Fault {
  bool crash = false;
  uint64_t call = 0;  // 0: none
  int error_number = 0;

  std::string Describe() const {
    if (call == 0) return "no fault";
    return (crash ? "crash at call " : "errno " + std::to_string(error_number) + " at call ") +
           std::to_string(call);
  }
};

// What a child reported: whether it crashed, and the text it passed back (the message
// box, or the status of an engine operation).
struct Outcome {
  bool crashed = false;
  bool exited_cleanly = false;
  std::string text;
};

// Runs `work` in a forked child over a FaultInjectionEnv armed with `fault`; `work`
// returns the text to pass back.
Outcome RunInChild(const Fault& fault, const std::function<std::string(jet::Env*)>& work) {
  int pipe_fds[2];
  Outcome outcome;
  if (::pipe(pipe_fds) != 0) return outcome;
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    jet::FaultInjectionEnv env(jet::Env::Default());
    if (fault.call != 0) {
      if (fault.crash) env.CrashAt(fault.call, /*drop_unsynced=*/true);
      else env.FailAt(fault.call, fault.error_number);
    }
    const std::string text = work(&env);
    size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::write(pipe_fds[1], text.data() + done, text.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    ::_exit(0);
  }
  ::close(pipe_fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(pipe_fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    outcome.text.append(buffer, size_t(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.crashed = WIFEXITED(status) && WEXITSTATUS(status) == jet::FaultInjectionEnv::kCrashExitStatus;
  outcome.exited_cleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return outcome;
}

// How many Env calls `work` makes without faults (in a child, like every other run).
uint64_t CountCalls(const std::function<std::string(jet::Env*)>& work) {
  Outcome outcome = RunInChild(Fault(), [&](jet::Env* env) {
    const std::string text = work(env);
    return std::to_string(static_cast<jet::FaultInjectionEnv*>(env)->calls()) + "\n" + text;
  });
  if (!outcome.exited_cleanly) return 0;
  return std::stoull(outcome.text);
}

// A database as small as still has every kind of write in it: one table with a
// primary key, a few rows (one deleted) and a memo long enough to live outside its
// row. Every page written is an injection point, and each one is run eight times, so
// the file is kept to a handful of pages.
jet::Schema SmallSchema() {
  jet::TableSpec table;
  table.name = "klanten";
  table.columns = {{"id", jet::ColumnType::kLong}, {"naam", jet::ColumnType::kText, 50},
                   {"notitie", jet::ColumnType::kMemo}};
  table.indexes = {{"PrimaryKey", {{"id"}}, /*primary=*/true}};
  for (int i = 1; i <= 6; ++i) {
    jet::RowSpec row;
    row.values = {jet::Value::Long(i), jet::Value::Text("klant " + std::to_string(i)),
                  jet::Value::Text(std::string(i == 2 ? 600 : 10, char('a' + i)))};
    row.deleted = i == 4;
    table.rows.push_back(row);
  }
  jet::Schema schema;
  schema.version = jet::Version::kJet3;
  schema.tables.push_back(table);
  return schema;
}

// The damaged database all runs start from: the small database with a stale row
// count, which the repair answers with a full salvage and rebuild (so that every write
// path of the repair is on the list of injection points).
class CrashConsistencyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string fixture = dir_.File("small.mdb");
    ASSERT_TRUE(jet::CreateDatabase(SmallSchema(), fixture, jet::Env::Default()).ok());
    damage::Result result;
    const std::string damaged = dir_.File("damaged.mdb");
    ASSERT_TRUE(damage::MakeDamagedCopy(fixture, damaged, damage::Kind::kStaleRowCount, &result).ok());
    original_ = ReadFileBytes(damaged);
    ASSERT_FALSE(original_.empty());
    rows_ = RowsText(damaged);
    ASSERT_FALSE(rows_.empty());
    ASSERT_EQ(rows_, RowsText(fixture)) << "the damage must not cost rows";
    previous_backup_ = "a backup from an earlier run, not a database";
    fs::create_directory(database_folder_);
    fs::create_directory(program_folder_);
  }

  // Back to the state before a run: the damaged database, an older backup, and a
  // stale scratch file (so that step 5's removal is an injection point too).
  void Reset() {
    for (const std::string& folder : {database_folder_, program_folder_}) {
      for (const auto& entry : fs::directory_iterator(folder)) fs::remove_all(entry.path());
    }
    ASSERT_TRUE(WriteFileBytes(database_path_, original_));
    ASSERT_TRUE(WriteFileBytes(backup_path_, previous_backup_));
    ASSERT_TRUE(WriteFileBytes(scratch_path_, "stale scratch"));
  }

  std::string CleanDatabaseIn(jet::Env* env) {
    services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
    repair::EngineHolder engine([env] { return std::make_unique<repair::JetDBEngine>(env); });
    repair::CleanDatabase(database_folder_, program_folder_, runtime, engine, env);
    if (runtime.boxes().size() != 1) return "boxes: " + std::to_string(runtime.boxes().size());
    return runtime.boxes()[0].text;
  }

  bool DatabaseIsOriginal() { return ReadFileBytes(database_path_) == original_; }
  bool LeftNothingBehind() {
    return TemporaryFiles(database_folder_).empty() && TemporaryFiles(program_folder_).empty();
  }

  // What must hold after any fault, crash or error.
  void CheckWhole(const Fault& fault, const Outcome& outcome) {
    SCOPED_TRACE(fault.Describe());
    EXPECT_TRUE(fault.crash ? outcome.crashed || outcome.exited_cleanly : outcome.exited_cleanly);
    const bool original = DatabaseIsOriginal();
    EXPECT_TRUE(original || SoundWithRows(database_path_, rows_)) << "the database is neither whole nor sound";
    const std::string backup = ReadFileBytes(backup_path_);
    EXPECT_TRUE(backup == original_ || backup == previous_backup_) << "backup of " << backup.size() << " bytes";
    if (outcome.crashed) return;  // no message was shown

    const std::string& box = outcome.text;
    if (box == repair::kRepairedText) {
      EXPECT_FALSE(original) << "success announced for an unchanged database";
      EXPECT_TRUE(ReadFileBytes(database_path_) == ReadFileBytes(scratch_path_))
          << "success announced but the database is not the compacted copy";
      EXPECT_TRUE(backup == original_);
    } else if (box == repair::kBackupFailedText) {
      // (The backup may be the new one: a copy whose rename happened but whose folder
      // flush failed counts as failed, and the database is left alone all the same.)
      EXPECT_TRUE(original);
    } else if (box.rfind(repair::kNotRepairedText, 0) == 0) {
      EXPECT_TRUE(original) << box;
    } else if (box.rfind(repair::kPartlyRepairedText, 0) == 0) {
      EXPECT_FALSE(original) << box;
      EXPECT_TRUE(backup == original_);
    } else {
      ADD_FAILURE() << "unexpected message: " << box;
    }
    // (An error may still end in success: a failed removal of a temporary file the
    // work no longer needs fails nothing. The next run sweeps the file up.)
  }

  // The next run, without faults, repairs the database and sweeps up after the last.
  void CheckNextRunRecovers(const Fault& fault) {
    SCOPED_TRACE(fault.Describe() + ", next run");
    const std::string before = ReadFileBytes(database_path_);
    Outcome next = RunInChild(Fault(), [&](jet::Env* env) { return CleanDatabaseIn(env); });
    EXPECT_EQ(next.text, repair::kRepairedText);
    EXPECT_TRUE(SoundWithRows(database_path_, rows_));
    EXPECT_TRUE(ReadFileBytes(backup_path_) == before) << "the backup is not the database as it was";
    EXPECT_EQ(TemporaryFiles(database_folder_), std::vector<std::string>())
        << Joined(TemporaryFiles(database_folder_));
    EXPECT_EQ(TemporaryFiles(program_folder_), std::vector<std::string>())
        << Joined(TemporaryFiles(program_folder_));
  }

  testing_support::TempDir dir_;
  const std::string database_folder_ = dir_.File("data");
  const std::string program_folder_ = dir_.File("program");
  const std::string database_path_ = database_folder_ + "/morvik.mdb";
  const std::string backup_path_ = program_folder_ + "/morvikbackup.mdb";
  const std::string scratch_path_ = program_folder_ + "/new.mdb";
  std::string original_;
  std::string rows_;
  std::string previous_backup_;
};

TEST_F(CrashConsistencyTest, CleanDatabaseSurvivesAFaultAtEveryCall) {
  Reset();
  auto work = [this](jet::Env* env) { return CleanDatabaseIn(env); };
  const uint64_t calls = CountCalls(work);
  ASSERT_GT(calls, 10u);
  ASSERT_FALSE(DatabaseIsOriginal()) << "the clean run changed nothing";
  ASSERT_TRUE(SoundWithRows(database_path_, rows_));

  size_t points = 0;
  size_t swept = 0;  // points after which temporary files were left for the next run
  for (uint64_t call = 1; call <= calls; ++call) {
    std::vector<Fault> faults = {Fault{true, call, 0}};
    for (int e : kErrors) faults.push_back(Fault{false, call, e});
    for (const Fault& fault : faults) {
      Reset();
      const Outcome outcome = RunInChild(fault, work);
      CheckWhole(fault, outcome);
      // After a crash the next run must sweep up and succeed. An error leaves nothing
      // behind unless it struck the cleanup itself; only then is the next run needed.
      if (!LeftNothingBehind()) ++swept;
      if (outcome.crashed || !LeftNothingBehind()) CheckNextRunRecovers(fault);
      ++points;
      if (HasFailure()) return;  // one broken point is enough to read
    }
  }
  std::printf("CleanDatabase: %llu calls, %zu injection points (crash, EIO, ENOSPC, EACCES), "
              "%zu left temporary files that the next run swept\n",
              static_cast<unsigned long long>(calls), points, swept);
  EXPECT_GT(swept, 0u) << "no crash left a temporary file: the sweep went untested";
}

// The engine's own operations, each on its own, with the same faults.
TEST_F(CrashConsistencyTest, CompactLeavesNoDestinationOrAWholeOneAtEveryCall) {
  const std::string source = dir_.File("source.mdb");
  const std::string destination = program_folder_ + "/compacted.mdb";
  ASSERT_TRUE(WriteFileBytes(source, original_));
  auto work = [&](jet::Env* env) { return jet::CompactDatabase(source, destination, env).ToString(); };
  const uint64_t calls = CountCalls(work);
  ASSERT_GT(calls, 3u);
  size_t points = 0;
  for (uint64_t call = 1; call <= calls; ++call) {
    for (const Fault& fault : {Fault{true, call, 0}, Fault{false, call, EIO}, Fault{false, call, ENOSPC},
                               Fault{false, call, EACCES}}) {
      SCOPED_TRACE(fault.Describe());
      fs::remove(destination);
      const Outcome outcome = RunInChild(fault, work);
      EXPECT_TRUE(ReadFileBytes(source) == original_) << "the source was written to";
      if (fs::exists(destination)) {
        EXPECT_TRUE(SoundWithRows(destination, rows_));
        if (!outcome.crashed) {
          EXPECT_EQ(outcome.text, "ok");
        }
      } else if (!outcome.crashed) {
        EXPECT_NE(outcome.text, "ok") << "success without a destination";
      }
      fs::remove(destination);
      if (!outcome.crashed && TemporaryFiles(program_folder_).empty()) {
        ++points;
        continue;
      }
      const Outcome next = RunInChild(Fault(), work);
      EXPECT_EQ(next.text, "ok");
      EXPECT_TRUE(SoundWithRows(destination, rows_));
      EXPECT_EQ(TemporaryFiles(program_folder_), std::vector<std::string>())
          << Joined(TemporaryFiles(program_folder_));
      ++points;
      if (HasFailure()) return;
    }
  }
  std::printf("jet::CompactDatabase: %llu calls, %zu injection points\n",
              static_cast<unsigned long long>(calls), points);
}

TEST_F(CrashConsistencyTest, RepairLeavesTheOldOrTheRepairedFileAtEveryCall) {
  const std::string path = database_folder_ + "/morvik.mdb";
  auto work = [&](jet::Env* env) { return jet::RepairDatabase(path, env).ToString(); };
  ASSERT_TRUE(WriteFileBytes(path, original_));
  const uint64_t calls = CountCalls(work);
  ASSERT_GT(calls, 3u);
  ASSERT_FALSE(ReadFileBytes(path) == original_) << "the clean repair changed nothing";
  size_t points = 0;
  for (uint64_t call = 1; call <= calls; ++call) {
    for (const Fault& fault : {Fault{true, call, 0}, Fault{false, call, EIO}, Fault{false, call, ENOSPC},
                               Fault{false, call, EACCES}}) {
      SCOPED_TRACE(fault.Describe());
      ASSERT_TRUE(WriteFileBytes(path, original_));
      const Outcome outcome = RunInChild(fault, work);
      const bool original = ReadFileBytes(path) == original_;
      EXPECT_TRUE(original || SoundWithRows(path, rows_));
      if (!outcome.crashed && outcome.text == "ok") {
        EXPECT_FALSE(original) << "repair reported but not made";
      }
      if (!outcome.crashed && TemporaryFiles(database_folder_).empty()) {
        ++points;
        continue;
      }
      const Outcome next = RunInChild(Fault(), work);
      EXPECT_EQ(next.text, "ok");
      EXPECT_TRUE(SoundWithRows(path, rows_));
      EXPECT_EQ(TemporaryFiles(database_folder_), std::vector<std::string>())
          << Joined(TemporaryFiles(database_folder_));
      ++points;
      if (HasFailure()) return;
    }
  }
  std::printf("jet::RepairDatabase: %llu calls, %zu injection points\n",
              static_cast<unsigned long long>(calls), points);
}

}  // namespace
