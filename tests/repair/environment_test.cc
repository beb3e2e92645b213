// The repair procedure with the real engine against faults of its surroundings: a
// database another process holds locked, read-only files and folders, a database on
// another file system, a database reached through a symbolic link, a folder in its
// place, a database replaced before the click, full disks. And the sweep of stale
// temporary files that a crashed writer leaves.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "jet/maintain/check.h"
#include "jet/create/create.h"
#include "jet/base/stale_temporary.h"
#include "repair/clean_database.h"
#include "repair/jet_db_engine.h"
#include "repair/messages.h"
#include "services/recording_runtime.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

namespace fs = std::filesystem;
using jet::ErrorKind;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

jet::Schema SmallSchema() {
  jet::TableSpec table;
  table.name = "klanten";
  table.columns = {{"id", jet::ColumnType::kLong}, {"naam", jet::ColumnType::kText, 50}};
  table.indexes = {{"PrimaryKey", {{"id"}}, /*primary=*/true}};
  for (int i = 1; i <= 5; ++i) {
    table.rows.push_back({{jet::Value::Long(i), jet::Value::Text("klant " + std::to_string(i))}});
  }
  jet::Schema schema;
  schema.version = jet::Version::kJet3;
  schema.tables.push_back(table);
  return schema;
}

bool Sound(const std::string& path) {
  jet::CheckReport report;
  return jet::CheckDatabase(path, &report).ok() && !report.HasDamage() && report.live_rows > 0;
}

// A child process that holds a POSIX record lock on `path` (created when missing)
// from `offset` for `length` bytes until the object goes away.
class LockingProcess {
 public:
  LockingProcess(const std::string& path, off_t offset, off_t length) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0644);
      struct flock lock = {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      lock.l_start = offset;
      lock.l_len = length;
      const char answer = fd >= 0 && ::fcntl(fd, F_SETLK, &lock) == 0 ? 'y' : 'n';
      (void)::write(ready[1], &answer, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char answer = 'n';
    locked_ = ::read(ready[0], &answer, 1) == 1 && answer == 'y';
    ::close(ready[0]);
  }
  ~LockingProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  bool locked() const { return locked_; }

 private:
  pid_t pid_ = -1;
  bool locked_ = false;
};

// A folder made unwritable (root: bind-mounted read-only onto itself), undone at the end.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& dir) : dir_(dir) {
    if (::geteuid() != 0) {
      ok_ = ::chmod(dir.c_str(), 0555) == 0;
      return;
    }
    mounted_ = ::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) == 0;
    ok_ = mounted_ && ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
  }
  ~ReadOnlyFolder() {
    if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    else if (::geteuid() != 0) ::chmod(dir_.c_str(), 0755);
  }
  bool ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = false;
  bool mounted_ = false;
};

// A tmpfs of `bytes` bytes on `dir` (root only).
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, size_t bytes) : dir_(dir) {
    if (::geteuid() != 0) return;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    ok_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (ok_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }

 private:
  std::string dir_;
  bool ok_ = false;
};

// A damaged small database (stale row count: the repair rebuilds the file) in a
// database folder, and a program folder, both under one temporary folder. Mounts a
// test makes are locals, so they go before the folders do.
class EnvironmentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::create_directory(database_folder_));
    ASSERT_TRUE(fs::create_directory(program_folder_));
    const std::string made = dir_.File("made.mdb");
    ASSERT_TRUE(jet::CreateDatabase(SmallSchema(), made, jet::Env::Default()).ok());
    damage::Result result;
    ASSERT_TRUE(damage::MakeDamagedCopy(made, dir_.File("damaged.mdb"), damage::Kind::kStaleRowCount, &result).ok());
    original_ = ReadFileBytes(dir_.File("damaged.mdb"));
    ASSERT_FALSE(original_.empty());
  }

  // Puts the damaged database at `path` (default: the database path).
  void PlaceDatabase(const std::string& path = "") {
    ASSERT_TRUE(WriteFileBytes(path.empty() ? database_path_ : path, original_));
  }

  // One whole run with the real engine; gives the one box's text.
  std::string Run() {
    services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
    repair::EngineHolder engine(repair::NewJetDBEngine);
    repair::CleanDatabase(database_folder_, program_folder_, runtime, engine);
    EXPECT_TRUE(runtime.exited());
    if (runtime.boxes().size() != 1) return "boxes: " + std::to_string(runtime.boxes().size());
    return runtime.boxes()[0].text;
  }

  static std::string Failure(const char* first_line, ErrorKind kind) {
    return std::string(first_line) + "\n" + repair::ReasonText(kind);
  }
  bool DatabaseIsOriginal() const { return ReadFileBytes(database_path_) == original_; }

  testing_support::TempDir dir_;
  const std::string database_folder_ = dir_.File("data");
  const std::string program_folder_ = dir_.File("program");
  const std::string database_path_ = database_folder_ + "/morvik.mdb";
  const std::string backup_path_ = program_folder_ + "/morvikbackup.mdb";
  std::string original_;
};

TEST_F(EnvironmentTest, TheUndisturbedRunRepairsAndCompacts) {
  PlaceDatabase();
  EXPECT_EQ(Run(), repair::kRepairedText);
  EXPECT_FALSE(DatabaseIsOriginal());
  EXPECT_TRUE(Sound(database_path_));
  EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
}

// Another program holding the database or its lock file: the engine refuses, nothing
// is changed, and the box says why.
TEST_F(EnvironmentTest, ADatabaseLockedByAnotherProcessIsLeftAlone) {
  for (const char* locked_file : {"morvik.mdb", "morvik.ldb"}) {
    SCOPED_TRACE(locked_file);
    PlaceDatabase();
    fs::remove(database_folder_ + "/morvik.ldb");
    const bool ldb = std::string(locked_file) == "morvik.ldb";
    // Jet's user locks on a lock file lie far past its end; a lock on the database
    // itself covers it whole.
    LockingProcess holder(database_folder_ + "/" + locked_file, ldb ? 0x10000000 : 0, ldb ? 1 : 0);
    ASSERT_TRUE(holder.locked());
    EXPECT_EQ(Run(), Failure(repair::kNotRepairedText, ErrorKind::kInUse));
    EXPECT_TRUE(DatabaseIsOriginal());
    EXPECT_EQ(std::string(repair::ReasonText(ErrorKind::kInUse)),
              "De database is in gebruik door een ander programma.");
  }
}

TEST_F(EnvironmentTest, AStaleLockFileThatNobodyHoldsDoesNotBlock) {
  PlaceDatabase();
  ASSERT_TRUE(WriteFileBytes(database_folder_ + "/morvik.ldb", std::string(64, 'x')));
  EXPECT_EQ(Run(), repair::kRepairedText);
  EXPECT_TRUE(Sound(database_path_));
}

// A database file nobody may write is not replaced: the rename that would replace it
// asks only the folder, so the program asks the file's permission bits itself.
TEST_F(EnvironmentTest, AReadOnlyDatabaseFileIsNotReplaced) {
  PlaceDatabase();
  ASSERT_EQ(::chmod(database_path_.c_str(), 0444), 0);
  const std::string box = Run();
  EXPECT_EQ(box.rfind(repair::kNotRepairedText, 0), 0u) << box;
  EXPECT_TRUE(DatabaseIsOriginal());
  struct stat info;
  ASSERT_EQ(::stat(database_path_.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0444u);
}

TEST_F(EnvironmentTest, AReadOnlyDatabaseFolderLeavesTheDatabaseAsItWas) {
  PlaceDatabase();
  ReadOnlyFolder read_only(database_folder_);
  if (!read_only.ok()) GTEST_SKIP() << "cannot make the folder read-only";
  if (::geteuid() != 0 && ::access(database_folder_.c_str(), W_OK) == 0) GTEST_SKIP();
  const std::string box = Run();
  EXPECT_EQ(box.rfind(repair::kNotRepairedText, 0), 0u) << box;
  EXPECT_TRUE(DatabaseIsOriginal());
  EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
}

TEST_F(EnvironmentTest, AReadOnlyProgramFolderMeansNoBackupAndNoRepair) {
  PlaceDatabase();
  ReadOnlyFolder read_only(program_folder_);
  if (!read_only.ok()) GTEST_SKIP() << "cannot make the folder read-only";
  if (::geteuid() != 0 && ::access(program_folder_.c_str(), W_OK) == 0) GTEST_SKIP();
  EXPECT_EQ(Run(), repair::kBackupFailedText);
  EXPECT_TRUE(DatabaseIsOriginal());
}

// Backup, scratch file and database on different file systems: every copy writes its
// temporary file beside its target, so each rename stays within one file system.
TEST_F(EnvironmentTest, TheProgramFolderOnAnotherFileSystemStillWorks) {
  SmallDisk other(program_folder_, 8 << 20);
  if (!other.ok()) GTEST_SKIP() << "mounting a tmpfs needs root";
  PlaceDatabase();
  EXPECT_EQ(Run(), repair::kRepairedText);
  EXPECT_TRUE(Sound(database_path_));
  EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
}

// The database reached through a symbolic link: the file it names is repaired and
// replaced; the link stays a link to it.
TEST_F(EnvironmentTest, ADatabaseBehindASymbolicLinkIsRepairedWhereItLies) {
  const std::string elsewhere = dir_.File("elsewhere");
  ASSERT_TRUE(fs::create_directory(elsewhere));
  const std::string real = elsewhere + "/echte.mdb";
  PlaceDatabase(real);
  ASSERT_EQ(::symlink(real.c_str(), database_path_.c_str()), 0);
  EXPECT_EQ(Run(), repair::kRepairedText);
  ASSERT_TRUE(fs::is_symlink(database_path_)) << "the link was replaced";
  EXPECT_EQ(fs::read_symlink(database_path_).string(), real);
  EXPECT_FALSE(ReadFileBytes(real) == original_) << "the database behind the link was not repaired";
  EXPECT_TRUE(Sound(real));
  EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
  for (const auto& entry : fs::directory_iterator(elsewhere))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

TEST_F(EnvironmentTest, AFolderInPlaceOfTheDatabaseIsRefusedUntouched) {
  ASSERT_TRUE(fs::create_directory(database_path_));
  ASSERT_TRUE(WriteFileBytes(database_path_ + "/inhoud", "blijft"));
  EXPECT_EQ(Run(), repair::kBackupFailedText);
  EXPECT_TRUE(fs::is_directory(database_path_));
  EXPECT_EQ(ReadFileBytes(database_path_ + "/inhoud"), "blijft");
}

// Between the start-up check and the click the file may have changed: what the
// procedure works on is what is there at the click.
TEST_F(EnvironmentTest, ADatabaseReplacedBeforeTheClickIsJudgedAsItIsThen) {
  ASSERT_TRUE(WriteFileBytes(database_path_, std::string(5000, 'z')));
  EXPECT_EQ(Run(), Failure(repair::kNotRepairedText, ErrorKind::kNotJetDatabase));
  EXPECT_EQ(ReadFileBytes(database_path_), std::string(5000, 'z'));
  EXPECT_EQ(ReadFileBytes(backup_path_), std::string(5000, 'z'));

  // Grown by appended garbage: still a database; repaired and compacted.
  PlaceDatabase();
  {
    std::string grown = original_ + std::string(3 * 2048, '\0');
    ASSERT_TRUE(WriteFileBytes(database_path_, grown));
  }
  EXPECT_EQ(Run(), repair::kRepairedText);
  EXPECT_TRUE(Sound(database_path_));
}

// Full disks: under the database (the repaired copy and the copy-back cannot be
// written beside it), and under the program folder (room for the backup only, or for
// nothing). The database is never left partial, and the box says what happened.
TEST_F(EnvironmentTest, AFullDiskAtEachStageNeverLeavesTheDatabasePartial) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  const size_t size = original_.size();
  {
    SmallDisk disk(database_folder_, size + 4096);
    ASSERT_TRUE(disk.ok());
    PlaceDatabase();
    EXPECT_EQ(Run().rfind(repair::kNotRepairedText, 0), 0u);
    EXPECT_TRUE(DatabaseIsOriginal());
    EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
    EXPECT_EQ(std::distance(fs::directory_iterator(database_folder_), fs::directory_iterator()), 1);
  }
  {
    SmallDisk disk(program_folder_, 4096);
    ASSERT_TRUE(disk.ok());
    PlaceDatabase();
    EXPECT_EQ(Run(), repair::kBackupFailedText);
    EXPECT_TRUE(DatabaseIsOriginal());
  }
  {
    // The backup fits; the compacted copy beside it does not.
    SmallDisk disk(program_folder_, size + 4096);
    ASSERT_TRUE(disk.ok());
    PlaceDatabase();
    const std::string box = Run();
    EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
    // The repair (beside the database) succeeded; the compaction did not.
    EXPECT_EQ(box, Failure(repair::kPartlyRepairedText, ErrorKind::kNoSpace)) << box;
    EXPECT_TRUE(Sound(database_path_));
    EXPECT_FALSE(fs::exists(program_folder_ + "/new.mdb"));
  }
}

// Stale temporary files: only our own pattern, only of writers that are gone.
TEST(StaleTemporaryFilesTest, OnlyFilesOfDeadWritersAreSwept) {
  testing_support::TempDir dir;
  const int ended = testing_support::EndedProcessId();
  ASSERT_GT(ended, 0);
  const std::string dead = std::to_string(ended);
  const std::string live = std::to_string(::getpid());
  const std::string stale_plain = ".morvik.mdb.tmp-" + dead + "-0";
  const std::string stale_nested = "..morvik.mdb.tmp-" + dead + "-1.tmp-" + dead + "-2";
  const std::string keep[] = {
      ".morvik.mdb.tmp-" + live + "-3",            // a writer at work
      ".other.mdb.tmp-" + dead + "-0",             // another target's
      ".morvik.mdb.tmp-" + dead,                   // not our pattern
      ".morvik.mdb.tmp-" + dead + "-x",            // not our pattern
      "morvik.mdb",                                // the database itself
  };
  for (const std::string& name : {stale_plain, stale_nested}) ASSERT_TRUE(WriteFileBytes(dir.File(name), "x"));
  for (const std::string& name : keep) ASSERT_TRUE(WriteFileBytes(dir.File(name), "x"));
  const std::string stale_folder = ".morvik.mdb.tmp-" + dead + "-9";
  ASSERT_TRUE(fs::create_directory(dir.File(stale_folder)));

  jet::RemoveStaleTemporaryFiles(jet::Env::Default(), dir.File("morvik.mdb"));
  EXPECT_FALSE(fs::exists(dir.File(stale_plain)));
  EXPECT_FALSE(fs::exists(dir.File(stale_nested)));
  for (const std::string& name : keep) EXPECT_TRUE(fs::exists(dir.File(name))) << name;
  EXPECT_TRUE(fs::is_directory(dir.File(stale_folder))) << "only plain files are ours";
}

}  // namespace
