// The repair procedure while another program replaces the database under it: the
// replacement is made before each single file operation of a whole run in turn (an
// Env that runs a hook before its N-th call), and each time the file the other
// program put there must survive exactly, no temporary file may stay behind, and the
// box may say "hersteld" only when the replacement came after the procedure's work.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "jet/create/create.h"
#include "repair/clean_database.h"
#include "repair/jet_db_engine.h"
#include "repair/messages.h"
#include "services/files.h"
#include "services/recording_runtime.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

// An Env over the real one that counts every call -- Env operations and the calls on
// the files it hands out -- records what each was, and runs `hook` once, just before
// call number `hook_at` (1-based) goes ahead.
class HookEnv final : public jet::Env {
 public:
  HookEnv(uint64_t hook_at, std::function<void()> hook) : hook_at_(hook_at), hook_(std::move(hook)) {}

  void Before(const std::string& what) {
    ++calls_;
    log_.push_back(what);
    if (calls_ == hook_at_ && hook_) {
      hook_();
      fired_ = true;
    }
  }
  uint64_t calls() const { return calls_; }
  bool fired() const { return fired_; }
  const std::vector<std::string>& log() const { return log_; }

  jet::Status NewWritableFile(const std::string& path, unsigned mode,
                              std::unique_ptr<jet::WritableFile>* result) override;
  jet::Status NewSequentialFile(const std::string& path,
                                std::unique_ptr<jet::SequentialFile>* result) override;
  jet::Status RenameFile(const std::string& from, const std::string& to) override {
    Before("rename " + to);
    return base_->RenameFile(from, to);
  }
  jet::Status RemoveFile(const std::string& path) override {
    Before("remove " + path);
    return base_->RemoveFile(path);
  }
  jet::Status SyncDir(const std::string& dir) override {
    Before("syncdir " + dir);
    return base_->SyncDir(dir);
  }
  jet::Status GetFileInfo(const std::string& path, jet::FileInfo* info) override {
    Before("examine " + path);
    return base_->GetFileInfo(path, info);
  }
  jet::Status SetPermissions(const std::string& path, unsigned permissions) override {
    Before("chmod " + path);
    return base_->SetPermissions(path, permissions);
  }
  jet::Status ResolvePath(const std::string& path, std::string* resolved) override {
    Before("resolve " + path);
    return base_->ResolvePath(path, resolved);
  }
  jet::Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    Before("list " + dir);
    return base_->GetChildren(dir, names);
  }

 private:
  jet::Env* base_ = jet::Env::Default();
  const uint64_t hook_at_;
  std::function<void()> hook_;
  uint64_t calls_ = 0;
  bool fired_ = false;
  std::vector<std::string> log_;
};

class HookWritableFile final : public jet::WritableFile {
 public:
  HookWritableFile(HookEnv* env, std::unique_ptr<jet::WritableFile> base) : env_(env), base_(std::move(base)) {}
  jet::Status Append(const void* data, size_t size) override {
    env_->Before("append");
    return base_->Append(data, size);
  }
  jet::Status WriteAt(uint64_t offset, const void* data, size_t size) override {
    env_->Before("write");
    return base_->WriteAt(offset, data, size);
  }
  jet::Status Sync() override {
    env_->Before("sync");
    return base_->Sync();
  }
  jet::Status Close() override {
    env_->Before("close");
    return base_->Close();
  }

 private:
  HookEnv* env_;
  std::unique_ptr<jet::WritableFile> base_;
};

class HookSequentialFile final : public jet::SequentialFile {
 public:
  HookSequentialFile(HookEnv* env, std::unique_ptr<jet::SequentialFile> base) : env_(env), base_(std::move(base)) {}
  jet::Status Read(void* buffer, size_t size, size_t* read_size) override {
    env_->Before("read");
    return base_->Read(buffer, size, read_size);
  }

 private:
  HookEnv* env_;
  std::unique_ptr<jet::SequentialFile> base_;
};

jet::Status HookEnv::NewWritableFile(const std::string& path, unsigned mode,
                                     std::unique_ptr<jet::WritableFile>* result) {
  Before("create " + path);
  std::unique_ptr<jet::WritableFile> file;
  jet::Status s = base_->NewWritableFile(path, mode, &file);
  if (s.ok()) *result = std::make_unique<HookWritableFile>(this, std::move(file));
  return s;
}

jet::Status HookEnv::NewSequentialFile(const std::string& path,
                                       std::unique_ptr<jet::SequentialFile>* result) {
  Before("open " + path);
  std::unique_ptr<jet::SequentialFile> file;
  jet::Status s = base_->NewSequentialFile(path, &file);
  if (s.ok()) *result = std::make_unique<HookSequentialFile>(this, std::move(file));
  return s;
}

jet::Schema Customers(int count, const std::string& prefix) {
  jet::TableSpec table;
  table.name = "klanten";
  table.columns = {{"id", jet::ColumnType::kLong}, {"naam", jet::ColumnType::kText, 50}};
  table.indexes = {{"PrimaryKey", {{"id"}}, /*primary=*/true}};
  for (int i = 1; i <= count; ++i)
    table.rows.push_back({{jet::Value::Long(i), jet::Value::Text(prefix + std::to_string(i))}});
  jet::Schema schema;
  schema.version = jet::Version::kJet3;
  schema.tables.push_back(table);
  return schema;
}

std::vector<std::string> TemporaryFiles(const std::string& folder) {
  std::vector<std::string> found;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp-") != std::string::npos) found.push_back(name);
  }
  return found;
}

class ReplacedDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The database the procedure is started on: damaged, so the repair rewrites it
    // and every step of the procedure has work to do.
    const std::string made = dir_.File("made.mdb");
    ASSERT_TRUE(jet::CreateDatabase(Customers(40, "klant "), made, jet::Env::Default()).ok());
    damage::Result result;
    ASSERT_TRUE(damage::MakeDamagedCopy(made, dir_.File("damaged.mdb"), damage::Kind::kStaleRowCount, &result).ok());
    original_ = ReadFileBytes(dir_.File("damaged.mdb"));
    // What the other program puts in its place: a different, sound database.
    const std::string other = dir_.File("other.mdb");
    ASSERT_TRUE(jet::CreateDatabase(Customers(7, "ander "), other, jet::Env::Default()).ok());
    replacement_ = ReadFileBytes(other);
    ASSERT_FALSE(original_.empty());
    ASSERT_NE(original_, replacement_);
  }

  // Fresh folders with the original database in place.
  void Prepare() {
    fs::remove_all(database_folder_);
    fs::remove_all(program_folder_);
    ASSERT_TRUE(fs::create_directory(database_folder_));
    ASSERT_TRUE(fs::create_directory(program_folder_));
    ASSERT_TRUE(WriteFileBytes(database_path_, original_));
  }

  // The other program's move: its file is renamed over the database, as an editor or
  // a restore tool would do it.
  void Replace() {
    const std::string staged = database_folder_ + "/staged.mdb";
    ASSERT_TRUE(WriteFileBytes(staged, replacement_));
    ASSERT_EQ(std::rename(staged.c_str(), database_path_.c_str()), 0);
  }

  // One run with the hook at `hook_at` (0: never); gives the one box's text.
  std::string Run(HookEnv* env) {
    services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
    repair::EngineHolder engine([env] { return std::make_unique<repair::JetDBEngine>(env); });
    repair::CleanDatabase(database_folder_, program_folder_, runtime, engine, env);
    if (runtime.boxes().size() != 1) return "boxes: " + std::to_string(runtime.boxes().size());
    return runtime.boxes()[0].text;
  }

  testing_support::TempDir dir_;
  const std::string database_folder_ = dir_.File("data");
  const std::string program_folder_ = dir_.File("program");
  const std::string database_path_ = database_folder_ + "/morvik.mdb";
  const std::string backup_path_ = program_folder_ + "/morvikbackup.mdb";
  std::string original_;
  std::string replacement_;
};

TEST_F(ReplacedDatabaseTest, AReplacementAtAnyStepIsNeverOverwritten) {
  // The undisturbed run: how many calls it makes, and which one puts the compacted
  // copy in the database's place.
  Prepare();
  HookEnv counting(0, nullptr);
  ASSERT_EQ(Run(&counting), repair::kRepairedText);
  const uint64_t total = counting.calls();
  uint64_t copy_back = 0;
  for (uint64_t i = 0; i < counting.log().size(); ++i)
    if (counting.log()[i] == "rename " + database_path_) copy_back = i + 1;
  ASSERT_GT(copy_back, 0u) << "no rename over the database in the undisturbed run";
  ASSERT_GT(total, 20u);

  int refused = 0;
  int window = 0;
  int handover = 0;
  const std::string look = "examine " + database_path_;
  for (uint64_t n = 1; n <= total; ++n) {
    SCOPED_TRACE("replaced before call " + std::to_string(n) + " (" + counting.log()[n - 1] + ")");
    // A rename over the database follows its last look at the file with no call in
    // between; a replacement "at" that call falls in the one gap between stat(2) and
    // rename(2) that no file system interface here closes.
    if (counting.log()[n - 1] == "rename " + database_path_) {
      ++window;
      continue;
    }
    // A look at the database that comes first, or right after another look: the
    // replacement falls before anyone looked, or where one party hands the file to the
    // next (the procedure to the engine's repair, the repair back to the procedure),
    // each taking its own stamp. Nothing between two stamps can notice a change there.
    if (counting.log()[n - 1] == look && (n == 1 || counting.log()[n - 2] == look)) {
      ++handover;
      continue;
    }
    Prepare();
    HookEnv env(n, [this] { Replace(); });
    const std::string box = Run(&env);
    ASSERT_TRUE(env.fired());
    // The other program's file is there, byte for byte, whenever it came.
    EXPECT_TRUE(ReadFileBytes(database_path_) == replacement_);
    // A backup, when there is one, is of the file the procedure started on.
    if (fs::exists(backup_path_)) {
      EXPECT_TRUE(ReadFileBytes(backup_path_) == original_);
    }
    EXPECT_TRUE(TemporaryFiles(database_folder_).empty());
    EXPECT_TRUE(TemporaryFiles(program_folder_).empty());
    if (n <= copy_back) {
      // The procedure's own work had not reached the database yet: no success.
      EXPECT_NE(box, repair::kRepairedText) << box;
      ++refused;
    } else {
      // Replaced after the compacted copy was in place: the procedure had finished.
      EXPECT_EQ(box, repair::kRepairedText);
    }
  }
  std::printf("database replaced before each of %llu calls (%d of them renames over it and %d "
              "between two stamps, not run); %d runs refused to go on with it\n",
              static_cast<unsigned long long>(total), window, handover, refused);
}

// The copy refuses a source that changes while it is read, and a destination that
// is no longer the file the caller expected.
TEST_F(ReplacedDatabaseTest, TheFileCopyNoticesAChangedSourceOrDestination) {
  Prepare();
  const std::string copy = program_folder_ + "/copy.mdb";
  {
    // Call 1 examines the source (its stamp), call 2 the destination, call 3 opens the
    // source: call 4 comes after the open, before the read.
    HookEnv env(4, [this] { Replace(); });
    const jet::Status s = services::FileCopy(database_path_, copy, &env);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(TemporaryFiles(program_folder_).empty());
  }
  Prepare();
  jet::FileStamp stamp;
  ASSERT_TRUE(jet::StampFile(jet::Env::Default(), database_path_, &stamp).ok());
  ASSERT_TRUE(WriteFileBytes(copy, "nieuw"));
  {
    HookEnv env(0, nullptr);
    Replace();
    const jet::Status s = services::FileCopy(copy, database_path_, &env, &stamp);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    EXPECT_TRUE(ReadFileBytes(database_path_) == replacement_);
    EXPECT_TRUE(TemporaryFiles(database_folder_).empty());
  }
  {
    // Unchanged: the copy goes ahead.
    ASSERT_TRUE(jet::StampFile(jet::Env::Default(), database_path_, &stamp).ok());
    HookEnv env(0, nullptr);
    EXPECT_TRUE(services::FileCopy(copy, database_path_, &env, &stamp).ok());
    EXPECT_EQ(ReadFileBytes(database_path_), "nieuw");
  }
}

}  // namespace
