// The repair procedure with a scripted engine, in temporary folders: the order of the
// steps, the files each outcome leaves, and the exact box the user sees.
#include "repair/clean_database.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "repair/jet_db_engine.h"
#include "repair/messages.h"
#include "services/recording_runtime.h"
#include "tests/repair/fake_engine.h"
#include "tests/support/test_support.h"

namespace {

using jet::ErrorKind;
using jet::Status;
using repair_test::FakeEngine;
using repair_test::FaultEnv;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// Binary, with NULs and every byte value, so a copy that stops at a NUL or mangles
// bytes is caught.
std::string SampleDatabase() {
  std::string bytes;
  for (int i = 0; i < 5000; ++i) bytes += static_cast<char>((i * 7) % 256);
  return bytes;
}

// Names in `folder` that none of the three files of the procedure has: temporary
// files a failed copy left behind.
std::vector<std::string> StrayFiles(const std::string& folder) {
  std::vector<std::string> stray;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name != "morvik.mdb" && name != "morvikbackup.mdb" && name != "new.mdb") {
      stray.push_back(name);
    }
  }
  return stray;
}

class CleanDatabaseTest : public ::testing::Test {
 protected:
  CleanDatabaseTest()
      : runtime_(services::RecordingRuntime::ExitMode::kRecordAndReturn),
        pending_engine_(std::make_unique<FakeEngine>()),
        fake_(pending_engine_.get()),
        holder_([this] {
          ++engines_made_;
          return std::unique_ptr<repair::DBEngine>(std::move(pending_engine_));
        }) {
    EXPECT_TRUE(WriteFileBytes(database(), original_));
  }

  std::string database() const { return db_dir_.File("morvik.mdb"); }
  std::string backup() const { return program_dir_.File("morvikbackup.mdb"); }
  std::string scratch() const { return program_dir_.File("new.mdb"); }

  void Run(jet::Env* env = jet::Env::Default()) {
    repair::CleanDatabase(db_dir_.path(), program_dir_.path(), runtime_, holder_, env);
  }

  // The one box shown, and the program ended right after it.
  void ExpectOnlyBox(const std::string& text, int style, const std::string& title) {
    ASSERT_EQ(runtime_.boxes().size(), 1u);
    EXPECT_EQ(runtime_.boxes()[0].text, text);
    EXPECT_EQ(runtime_.boxes()[0].style, style);
    EXPECT_EQ(runtime_.boxes()[0].title, title);
    EXPECT_TRUE(runtime_.exited());
    EXPECT_EQ(runtime_.exit_status(), 0);
  }
  void ExpectFailureBox(const char* first_line, ErrorKind kind) {
    ExpectOnlyBox(std::string(first_line) + "\n" + repair::ReasonText(kind), 16, "Foutmelding");
  }

  std::string Compacted(const std::string& bytes) const {
    return repair_test::kCompactedMark + bytes;
  }

  const std::string original_ = SampleDatabase();
  const std::string repaired_ = original_ + repair_test::kRepairedMark;
  testing_support::TempDir db_dir_;
  testing_support::TempDir program_dir_;
  services::RecordingRuntime runtime_;
  std::unique_ptr<FakeEngine> pending_engine_;  // handed to the holder on first use
  FakeEngine* const fake_;                      // stays valid: the holder keeps it
  int engines_made_ = 0;
  repair::EngineHolder holder_;
};

// --- the happy path ---------------------------------------------------------------

TEST_F(CleanDatabaseTest, HappyPathRunsStepsInOrderAndLeavesBothFiles) {
  std::string backup_at_repair;
  fake_->on_repair = [&] { backup_at_repair = ReadFileBytes(backup()); };

  Run();

  // Repair of the database, then compaction of it into the scratch path.
  EXPECT_EQ(fake_->calls, (std::vector<std::string>{
                              "RepairDatabase " + database(),
                              "CompactDatabase " + database() + " -> " + scratch()}));
  EXPECT_EQ(backup_at_repair, original_);  // the backup existed before the engine ran
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  // The compaction saw the repaired file, and the database is now its compacted copy.
  EXPECT_EQ(ReadFileBytes(scratch()), Compacted(repaired_));
  EXPECT_EQ(ReadFileBytes(database()), Compacted(repaired_));
  EXPECT_TRUE(StrayFiles(program_dir_.path()).empty());
  EXPECT_TRUE(StrayFiles(db_dir_.path()).empty());
  EXPECT_EQ(engines_made_, 1);
  ExpectOnlyBox("Database is hersteld !", 64, "Mededeling");
}

// A repair that lost data still ends in the notice, which says what is gone (counted
// in words a user reads: one record, several values) and where the old file is.
TEST_F(CleanDatabaseTest, LossInTheRepairIsToldInTheClosingNotice) {
  fake_->repair_loss = {3, 1};
  Run();
  EXPECT_EQ(ReadFileBytes(database()), Compacted(repaired_));
  ExpectOnlyBox("Database is hersteld, maar 3 records en 1 memo- of OLE-waarde konden niet worden "
                "teruggehaald ! De backup staat in morvikbackup.mdb.",
                64, "Mededeling");
  EXPECT_EQ(repair::RepairedWithLossText(1, 0),
            "Database is hersteld, maar 1 record kon niet worden teruggehaald ! De backup staat in "
            "morvikbackup.mdb.");
  EXPECT_EQ(repair::RepairedWithLossText(2, 1, 1),
            "Database is hersteld, maar 2 records, 1 kolom en 1 memo- of OLE-waarde konden niet worden "
            "teruggehaald ! De backup staat in morvikbackup.mdb.");
}

TEST(EngineHolderTest, MakesTheEngineOnFirstUseAndKeepsIt) {
  int made = 0;
  repair::EngineHolder holder([&] {
    ++made;
    return std::unique_ptr<repair::DBEngine>(std::make_unique<FakeEngine>());
  });
  EXPECT_EQ(made, 0);
  repair::DBEngine* first = holder.Get();
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(holder.Get(), first);
  EXPECT_EQ(made, 1);
}

TEST(CleanDatabaseNoEngineTest, EngineThatCannotBeMadeIsReportedAndChangesNothing) {
  testing_support::TempDir db_dir, program_dir;
  const std::string original = SampleDatabase();
  ASSERT_TRUE(WriteFileBytes(db_dir.File("morvik.mdb"), original));
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
  repair::EngineHolder holder([] { return std::unique_ptr<repair::DBEngine>(); });

  repair::CleanDatabase(db_dir.path(), program_dir.path(), runtime, holder);

  EXPECT_EQ(ReadFileBytes(db_dir.File("morvik.mdb")), original);
  EXPECT_EQ(ReadFileBytes(program_dir.File("morvikbackup.mdb")), original);
  ASSERT_EQ(runtime.boxes().size(), 1u);
  EXPECT_EQ(runtime.boxes()[0].text,
            "Database kon niet hersteld worden ! De database is niet gewijzigd.\n"
            "De database-engine kon niet worden gestart.");
  EXPECT_EQ(runtime.boxes()[0].style, 16);
  EXPECT_TRUE(runtime.exited());
}

// The engine of this build refuses to repair; the user must be told so, not
// "hersteld".
TEST(CleanDatabaseJetEngineTest, TodaysRealEngineReportsFailureTruthfully) {
  testing_support::TempDir db_dir, program_dir;
  const std::string original = SampleDatabase();
  ASSERT_TRUE(WriteFileBytes(db_dir.File("morvik.mdb"), original));
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
  repair::EngineHolder holder(repair::NewJetDBEngine);

  repair::CleanDatabase(db_dir.path(), program_dir.path(), runtime, holder);

  EXPECT_EQ(ReadFileBytes(db_dir.File("morvik.mdb")), original);
  EXPECT_EQ(ReadFileBytes(program_dir.File("morvikbackup.mdb")), original);
  EXPECT_FALSE(testing_support::PathExists(program_dir.File("new.mdb")));
  ASSERT_EQ(runtime.boxes().size(), 1u);
  EXPECT_EQ(runtime.boxes()[0].text,
            "Database kon niet hersteld worden ! De database is niet gewijzigd.\n"
            "Het bestand is geen geldige database.");  // the sample bytes are no Jet file
  EXPECT_EQ(runtime.boxes()[0].style, 16);
  EXPECT_EQ(runtime.boxes()[0].title, "Foutmelding");
}

// --- old backup, stale scratch -------------------------------------------------------

TEST_F(CleanDatabaseTest, OldBackupIsReplacedByTheCurrentDatabaseWithNoTail) {
  ASSERT_TRUE(WriteFileBytes(backup(), std::string(20000, 'B')));  // longer than the database
  Run();
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  ExpectOnlyBox("Database is hersteld !", 64, "Mededeling");
}

TEST_F(CleanDatabaseTest, StaleScratchIsRemovedBeforeTheCompaction) {
  ASSERT_TRUE(WriteFileBytes(scratch(), "stale scratch from an earlier run"));
  Run();
  EXPECT_EQ(ReadFileBytes(scratch()), Compacted(repaired_));
  EXPECT_EQ(ReadFileBytes(database()), Compacted(repaired_));
  ExpectOnlyBox("Database is hersteld !", 64, "Mededeling");
}

// A stale scratch file that resists deletion must never be copied over the database.
TEST_F(CleanDatabaseTest, StaleScratchThatCannotBeDeletedIsNotCopiedBack) {
  const std::string stale = "stale scratch from an earlier run";
  ASSERT_TRUE(WriteFileBytes(scratch(), stale));
  FaultEnv env;
  env.fail_remove = scratch();
  env.kind = ErrorKind::kIoError;
  fake_->repair_changes_file = false;

  Run(&env);

  EXPECT_EQ(ReadFileBytes(scratch()), stale);
  EXPECT_EQ(ReadFileBytes(database()), original_);
  ExpectFailureBox(repair::kNotRepairedText, ErrorKind::kDestinationExists);
}

// A folder named new.mdb: not a file, so nothing deletes it, and the compaction must
// refuse it. The repair already done stays; the box says so.
TEST_F(CleanDatabaseTest, FolderInPlaceOfScratchStopsTheCompaction) {
  ASSERT_TRUE(std::filesystem::create_directory(scratch()));
  ASSERT_TRUE(WriteFileBytes(scratch() + "/inside", "x"));

  Run();

  EXPECT_EQ(ReadFileBytes(scratch() + "/inside"), "x");
  EXPECT_EQ(ReadFileBytes(database()), repaired_);
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  ExpectOnlyBox(std::string("Database kon niet volledig hersteld worden ! De backup staat in "
                            "morvikbackup.mdb.\n") +
                    "Het oude bestand new.mdb kon niet worden verwijderd.",
                16, "Foutmelding");
}

// --- each failure point ------------------------------------------------------------

// No repair without a backup; the previous backup survives a failed new one.
TEST_F(CleanDatabaseTest, FailedBackupKeepsOldBackupAndLeavesDatabaseUntouched) {
  const std::string old_backup(3000, 'O');
  const std::string stale = "stale scratch";
  ASSERT_TRUE(WriteFileBytes(backup(), old_backup));
  ASSERT_TRUE(WriteFileBytes(scratch(), stale));
  FaultEnv env;  // the disk of the program folder fills up halfway through the copy
  env.fail_append_in = program_dir_.path();
  env.append_limit = original_.size() / 2;

  Run(&env);

  EXPECT_EQ(ReadFileBytes(backup()), old_backup);
  EXPECT_EQ(ReadFileBytes(database()), original_);
  EXPECT_EQ(ReadFileBytes(scratch()), stale);  // steps 4 to 8 did not run
  EXPECT_TRUE(StrayFiles(program_dir_.path()).empty());
  EXPECT_EQ(engines_made_, 0);  // the engine was never even needed
  ExpectOnlyBox("Kan geen backup maken van de database ! De database is niet gewijzigd.", 16,
                "Foutmelding");
}

TEST_F(CleanDatabaseTest, MissingDatabaseGivesTheBackupBox) {
  ASSERT_EQ(::unlink(database().c_str()), 0);
  Run();
  EXPECT_FALSE(testing_support::PathExists(database()));
  EXPECT_EQ(engines_made_, 0);
  ExpectOnlyBox(repair::kBackupFailedText, 16, "Foutmelding");
}

// An empty program folder would put the backup at the root of the file system.
TEST_F(CleanDatabaseTest, UnknownProgramFolderGivesTheBackupBox) {
  repair::CleanDatabase(db_dir_.path(), "", runtime_, holder_);
  EXPECT_EQ(engines_made_, 0);
  EXPECT_EQ(ReadFileBytes(database()), original_);
  ExpectOnlyBox(repair::kBackupFailedText, 16, "Foutmelding");
}

// Another program holds the database: both engine steps fail, nothing is copied back.
TEST_F(CleanDatabaseTest, DatabaseInUseLeavesEverythingAsItWas) {
  ASSERT_TRUE(WriteFileBytes(scratch(), "stale"));
  fake_->repair_result = Status::Error(ErrorKind::kInUse, "locked");
  fake_->compact_result = Status::Error(ErrorKind::kInUse, "locked");

  Run();

  EXPECT_EQ(fake_->calls.size(), 2u);  // both engine steps were still tried
  EXPECT_EQ(ReadFileBytes(database()), original_);
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  EXPECT_FALSE(testing_support::PathExists(scratch()));  // the stale one was removed, no new one written
  ExpectOnlyBox("Database kon niet hersteld worden ! De database is niet gewijzigd.\n"
                "De database is in gebruik door een ander programma.",
                16, "Foutmelding");
}

// The repair failed without touching the file, the compaction worked: the compacted
// copy goes back, but the user hears that the repair failed.
TEST_F(CleanDatabaseTest, FailedRepairIsReportedEvenWhenCompactionWorked) {
  fake_->repair_result = Status::Error(ErrorKind::kDamaged, "beyond repair");

  Run();

  EXPECT_EQ(ReadFileBytes(database()), Compacted(original_));
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  ExpectFailureBox(repair::kPartlyRepairedText, ErrorKind::kDamaged);
}

// A repair that changed the file and then failed leaves a file nobody can trust; its
// compaction is not copied back, and the user is pointed to the backup.
TEST_F(CleanDatabaseTest, RepairThatChangedTheFileAndFailedIsNotCopiedBack) {
  fake_->repair_result = Status::Error(ErrorKind::kDamaged, "beyond repair");
  fake_->failed_repair_changes_file = true;

  Run();

  EXPECT_EQ(ReadFileBytes(database()), FakeEngine::kHalfRepaired);
  EXPECT_EQ(ReadFileBytes(scratch()), Compacted(FakeEngine::kHalfRepaired));
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  ExpectOnlyBox("Database kon niet volledig hersteld worden ! De backup staat in "
                "morvikbackup.mdb.\nDe database is te zwaar beschadigd om te herstellen.",
                16, "Foutmelding");
}

TEST_F(CleanDatabaseTest, FailedCompactionKeepsTheRepairedDatabase) {
  fake_->compact_result = Status::Error(ErrorKind::kNoSpace, "disk full");

  Run();

  EXPECT_EQ(ReadFileBytes(database()), repaired_);
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  EXPECT_FALSE(testing_support::PathExists(scratch()));
  ExpectOnlyBox("Database kon niet volledig hersteld worden ! De backup staat in "
                "morvikbackup.mdb.\nOnvoldoende schijfruimte.",
                16, "Foutmelding");
}

// The partial scratch file of a failed compaction is left, never copied back.
TEST_F(CleanDatabaseTest, PartialScratchOfFailedCompactionIsNotCopiedBack) {
  fake_->repair_changes_file = false;
  fake_->compact_result = Status::Error(ErrorKind::kIoError, "read error");
  fake_->failed_compaction_leaves_partial = true;

  Run();

  const std::string full = Compacted(original_);
  EXPECT_EQ(ReadFileBytes(scratch()), full.substr(0, full.size() / 2));
  EXPECT_EQ(ReadFileBytes(database()), original_);
  ExpectFailureBox(repair::kNotRepairedText, ErrorKind::kIoError);
}

// The disk of the database folder fills up halfway through the copy-back: the
// database still holds the whole repaired file, and no temporary file is left.
TEST_F(CleanDatabaseTest, FailedCopyBackLeavesTheWholeRepairedDatabase) {
  FaultEnv env;
  env.fail_append_in = db_dir_.path();
  env.append_limit = 100;

  Run(&env);

  EXPECT_EQ(ReadFileBytes(database()), repaired_);
  EXPECT_EQ(ReadFileBytes(scratch()), Compacted(repaired_));
  EXPECT_EQ(ReadFileBytes(backup()), original_);
  EXPECT_TRUE(StrayFiles(db_dir_.path()).empty());
  ExpectFailureBox(repair::kPartlyRepairedText, ErrorKind::kNoSpace);
}

TEST_F(CleanDatabaseTest, FailedCopyBackAfterNoOpRepairSaysUnchanged) {
  fake_->repair_changes_file = false;
  FaultEnv env;
  env.fail_create_in = db_dir_.path();
  env.kind = ErrorKind::kIoError;

  Run(&env);

  EXPECT_EQ(ReadFileBytes(database()), original_);
  ExpectFailureBox(repair::kNotRepairedText, ErrorKind::kIoError);
}

}  // namespace
