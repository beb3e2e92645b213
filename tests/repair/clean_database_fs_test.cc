// The repair procedure against real file-system failures rather than injected ones:
// a read-only program folder, a read-only database folder, and a full disk (a small
// tmpfs, root only). Whatever fails, the database is whole afterwards.
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "gtest/gtest.h"
#include "repair/clean_database.h"
#include "repair/messages.h"
#include "services/recording_runtime.h"
#include "tests/repair/fake_engine.h"
#include "tests/support/test_support.h"

namespace {

using jet::ErrorKind;
using repair_test::FakeEngine;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

std::string Bytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 13 + 5) % 256);
  return bytes;
}

size_t EntryCount(const std::string& folder) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) ++count;
  return count;
}

// Makes an existing folder unwritable for this process until destroyed. Permission
// bits do not stop root, so as root the folder is bind-mounted read-only onto itself;
// otherwise its write bits are taken away.
class ReadOnlyFolder {
 public:
  explicit ReadOnlyFolder(const std::string& dir) : dir_(dir) {
    if (::geteuid() != 0) {
      ok_ = ::chmod(dir.c_str(), 0555) == 0;
      if (!ok_) why_ = std::strerror(errno);
      return;
    }
    if (::mount(dir.c_str(), dir.c_str(), nullptr, MS_BIND, nullptr) != 0) {
      why_ = std::string("bind mount: ") + std::strerror(errno);
      return;
    }
    mounted_ = true;
    ok_ = ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
    if (!ok_) why_ = std::string("read-only remount: ") + std::strerror(errno);
  }
  ~ReadOnlyFolder() {
    if (mounted_) {
      ::umount2(dir_.c_str(), MNT_DETACH);
    } else if (::geteuid() != 0) {
      ::chmod(dir_.c_str(), 0755);
    }
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  std::string dir_;
  bool ok_ = false;
  bool mounted_ = false;
  std::string why_;
};

// A tmpfs of `bytes` bytes mounted on `dir` (root only), unmounted when destroyed.
class SmallDisk {
 public:
  SmallDisk(const std::string& dir, size_t bytes) : dir_(dir) {
    if (::geteuid() != 0) {
      why_ = "mounting a small tmpfs needs root";
      return;
    }
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    ok_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!ok_) why_ = std::string("mount tmpfs: ") + std::strerror(errno);
  }
  ~SmallDisk() {
    if (ok_) ::umount2(dir_.c_str(), MNT_DETACH);
  }
  bool ok() const { return ok_; }
  const std::string& why() const { return why_; }

 private:
  std::string dir_;
  bool ok_ = false;
  std::string why_;
};

// Two temporary folders (database, program) and a recording run with a fake engine.
// The folders outlive any mount a test puts on them: members are destroyed in
// reverse order and tests declare their mounts as locals.
class CleanDatabaseFileSystemTest : public ::testing::Test {
 protected:
  CleanDatabaseFileSystemTest()
      : runtime_(services::RecordingRuntime::ExitMode::kRecordAndReturn),
        holder_([this] {
          auto engine = std::make_unique<FakeEngine>();
          engine->repair_changes_file = repair_changes_file_;
          fake_ = engine.get();
          return std::unique_ptr<repair::DBEngine>(std::move(engine));
        }) {}

  std::string database() const { return db_dir_.File("morvik.mdb"); }
  std::string backup() const { return program_dir_.File("morvikbackup.mdb"); }
  std::string scratch() const { return program_dir_.File("new.mdb"); }

  void Run() { repair::CleanDatabase(db_dir_.path(), program_dir_.path(), runtime_, holder_); }

  void ExpectBox(const std::string& text, int style, const std::string& title) {
    ASSERT_EQ(runtime_.boxes().size(), 1u);
    EXPECT_EQ(runtime_.boxes()[0].text, text);
    EXPECT_EQ(runtime_.boxes()[0].style, style);
    EXPECT_EQ(runtime_.boxes()[0].title, title);
    EXPECT_TRUE(runtime_.exited());
  }
  void ExpectFailureBox(const char* first_line, ErrorKind kind) {
    ExpectBox(std::string(first_line) + "\n" + repair::ReasonText(kind), 16, "Foutmelding");
  }

  testing_support::TempDir db_dir_;
  testing_support::TempDir program_dir_;
  services::RecordingRuntime runtime_;
  bool repair_changes_file_ = true;
  FakeEngine* fake_ = nullptr;  // set when the holder makes the engine
  repair::EngineHolder holder_;
};

TEST_F(CleanDatabaseFileSystemTest, ReadOnlyProgramFolderMeansNoBackupAndNoRepair) {
  const std::string original = Bytes(30000);
  const std::string old_backup = Bytes(1000);
  ASSERT_TRUE(WriteFileBytes(database(), original));
  ASSERT_TRUE(WriteFileBytes(backup(), old_backup));
  ReadOnlyFolder read_only(program_dir_.path());
  if (!read_only.ok()) GTEST_SKIP() << "cannot make a folder read-only: " << read_only.why();

  Run();

  EXPECT_EQ(fake_, nullptr);  // the engine was never used
  EXPECT_EQ(ReadFileBytes(database()), original);
  EXPECT_EQ(ReadFileBytes(backup()), old_backup);
  EXPECT_EQ(EntryCount(program_dir_.path()), 1u);
  ExpectBox("Kan geen backup maken van de database ! De database is niet gewijzigd.", 16,
            "Foutmelding");
}

// The engine works (and, on a read-only folder, changes nothing); only the copy-back
// into the database folder fails.
TEST_F(CleanDatabaseFileSystemTest, UnwritableDatabaseFolderFailsTheCopyBackOnly) {
  const std::string original = Bytes(30000);
  ASSERT_TRUE(WriteFileBytes(database(), original));
  repair_changes_file_ = false;
  ReadOnlyFolder read_only(db_dir_.path());
  if (!read_only.ok()) GTEST_SKIP() << "cannot make a folder read-only: " << read_only.why();

  Run();

  ASSERT_NE(fake_, nullptr);
  EXPECT_EQ(fake_->calls.size(), 2u);
  EXPECT_EQ(ReadFileBytes(database()), original);
  EXPECT_EQ(ReadFileBytes(backup()), original);
  EXPECT_EQ(ReadFileBytes(scratch()), repair_test::kCompactedMark + original);
  EXPECT_EQ(EntryCount(db_dir_.path()), 1u);
  ExpectFailureBox(repair::kNotRepairedText, ErrorKind::kIoError);
}

// 64 KiB of disk for the database folder: the repaired database fits, a second copy of
// it beside it does not. The copy-back fails for lack of space and the database keeps
// the whole repaired file.
TEST_F(CleanDatabaseFileSystemTest, FullDiskUnderTheDatabaseNeverLeavesItPartial) {
  SmallDisk disk(db_dir_.path(), 64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.why();
  const std::string original = Bytes(40000);
  ASSERT_TRUE(WriteFileBytes(database(), original));

  Run();

  const std::string repaired = original + repair_test::kRepairedMark;
  EXPECT_EQ(ReadFileBytes(database()), repaired);
  EXPECT_EQ(ReadFileBytes(backup()), original);
  EXPECT_EQ(EntryCount(db_dir_.path()), 1u);  // no temporary file left on the full disk
  ExpectFailureBox(repair::kPartlyRepairedText, ErrorKind::kNoSpace);
}

// 64 KiB of disk for the program folder, holding an old backup: the new backup does
// not fit beside it. The old backup stays and the engine never runs.
TEST_F(CleanDatabaseFileSystemTest, FullDiskUnderTheBackupKeepsTheOldBackup) {
  SmallDisk disk(program_dir_.path(), 64 * 1024);
  if (!disk.ok()) GTEST_SKIP() << disk.why();
  const std::string original = Bytes(50000);
  const std::string old_backup = Bytes(20000);
  ASSERT_TRUE(WriteFileBytes(database(), original));
  ASSERT_TRUE(WriteFileBytes(backup(), old_backup));

  Run();

  EXPECT_EQ(fake_, nullptr);
  EXPECT_EQ(ReadFileBytes(database()), original);
  EXPECT_EQ(ReadFileBytes(backup()), old_backup);
  EXPECT_EQ(EntryCount(program_dir_.path()), 1u);
  ExpectBox(repair::kBackupFailedText, 16, "Foutmelding");
}

}  // namespace
