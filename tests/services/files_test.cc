// Tests of FileExists, FileCopy and Kill, including every way a copy can fail part
// way through (through a fault-injecting Env).
#include "services/files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

std::set<std::string> Listing(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

std::string PatternBytes(size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
  return bytes;
}

// Passes every call to the real Env, except the one step it is told to fail.
class FaultEnv final : public jet::EnvWrapper {
 public:
  enum class Step { kNone, kCreate, kFirstAppend, kSecondAppend, kSync, kClose, kRename };
  explicit FaultEnv(Step step) : EnvWrapper(jet::Env::Default()), step_(step) {}

  jet::Status NewWritableFile(const std::string& path, unsigned mode,
                              std::unique_ptr<jet::WritableFile>* result) override {
    if (step_ == Step::kCreate) return Injected();
    std::unique_ptr<jet::WritableFile> real;
    jet::Status s = target()->NewWritableFile(path, mode, &real);
    if (s.ok()) result->reset(new File(this, std::move(real)));
    return s;
  }
  jet::Status RenameFile(const std::string& from, const std::string& to) override {
    if (step_ == Step::kRename) return Injected();
    return target()->RenameFile(from, to);
  }

 private:
  static jet::Status Injected() { return jet::Status::Error(jet::ErrorKind::kNoSpace, "injected"); }

  class File final : public jet::WritableFile {
   public:
    File(FaultEnv* env, std::unique_ptr<jet::WritableFile> real)
        : env_(env), real_(std::move(real)) {}
    jet::Status Append(const void* data, size_t size) override {
      ++appends_;
      if ((env_->step_ == Step::kFirstAppend && appends_ == 1) ||
          (env_->step_ == Step::kSecondAppend && appends_ == 2)) {
        return Injected();
      }
      return real_->Append(data, size);
    }
    jet::Status WriteAt(uint64_t offset, const void* data, size_t size) override {
      return real_->WriteAt(offset, data, size);
    }
    jet::Status Sync() override {
      if (env_->step_ == Step::kSync) return Injected();
      return real_->Sync();
    }
    jet::Status Close() override {
      jet::Status s = real_->Close();
      if (env_->step_ == Step::kClose) return Injected();
      return s;
    }

   private:
    FaultEnv* env_;
    std::unique_ptr<jet::WritableFile> real_;
    int appends_ = 0;
  };

  const Step step_;
};

TEST(FileExistsTest, AnswersTrueOnlyForAFile) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
  ASSERT_TRUE(fs::create_directory(dir.File("folder")));

  EXPECT_TRUE(services::FileExists(dir.File("file")));
  EXPECT_FALSE(services::FileExists(dir.File("folder")));
  EXPECT_FALSE(services::FileExists(dir.File("missing")));
  EXPECT_FALSE(services::FileExists(dir.File("missing-folder/file")));
  EXPECT_FALSE(services::FileExists(dir.File("file/file")));  // a file used as a folder
  EXPECT_FALSE(services::FileExists(""));
  // A NUL would make the system look at a different, existing, file.
  EXPECT_FALSE(services::FileExists(dir.File("file") + std::string("\0x", 2)));
}

// Links, pipes and permission bits as Linux has them; Windows has none of these in
// this form.
#ifndef _WIN32
unsigned PermissionBits(const std::string& path) {
  struct stat info;
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

TEST(FileExistsTest, AnswersTrueForALinkToAFileOnly) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
  ASSERT_TRUE(fs::create_directory(dir.File("folder")));
  ASSERT_EQ(::symlink(dir.File("file").c_str(), dir.File("to-file").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("folder").c_str(), dir.File("to-folder").c_str()), 0);
  ASSERT_EQ(::symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);

  EXPECT_TRUE(services::FileExists(dir.File("to-file")));
  EXPECT_FALSE(services::FileExists(dir.File("to-folder")));
  EXPECT_FALSE(services::FileExists(dir.File("dangling")));
  EXPECT_FALSE(services::FileExists(dir.File("pipe")));
}
#endif  // _WIN32

TEST(FileCopyTest, ReplacesALongerFileWithoutLeavingATail) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("short"), "new"));
  ASSERT_TRUE(WriteFileBytes(dir.File("dest"), std::string(10000, 'o')));
  ASSERT_TRUE(services::FileCopy(dir.File("short"), dir.File("dest")).ok());
  EXPECT_EQ(ReadFileBytes(dir.File("dest")), "new");
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"short", "dest"}));
}

TEST(FileCopyTest, CopiesEveryByteOfAFileLargerThanOneChunk) {
  TempDir dir;
  const std::string bytes = PatternBytes((3u << 20) + 7, 5);
  ASSERT_TRUE(WriteFileBytes(dir.File("big"), bytes));
  ASSERT_TRUE(services::FileCopy(dir.File("big"), dir.File("copy")).ok());
  EXPECT_EQ(ReadFileBytes(dir.File("copy")), bytes);

  ASSERT_TRUE(WriteFileBytes(dir.File("empty"), ""));
  ASSERT_TRUE(services::FileCopy(dir.File("empty"), dir.File("copy")).ok());
  EXPECT_EQ(ReadFileBytes(dir.File("copy")), "");
}

TEST(FileCopyTest, AFailureAtAnyStepLeavesTheDestinationAndNoTemporaryFile) {
  using Step = FaultEnv::Step;
  for (Step step : {Step::kCreate, Step::kFirstAppend, Step::kSecondAppend, Step::kSync,
                    Step::kClose, Step::kRename}) {
    SCOPED_TRACE(static_cast<int>(step));
    TempDir dir;
    const std::string source = PatternBytes((2u << 20) + 1, 1);  // more than one append
    const std::string original = PatternBytes(5000, 2);
    ASSERT_TRUE(WriteFileBytes(dir.File("source"), source));
    ASSERT_TRUE(WriteFileBytes(dir.File("dest"), original));
    FaultEnv env(step);
    jet::Status s = services::FileCopy(dir.File("source"), dir.File("dest"), &env);
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.kind(), jet::ErrorKind::kNoSpace);
    EXPECT_EQ(ReadFileBytes(dir.File("dest")), original);
    EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"source", "dest"}));
  }
}

TEST(FileCopyTest, AMissingOrUnusableSourceFailsAndChangesNothing) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("dest"), "keep"));
  ASSERT_TRUE(fs::create_directory(dir.File("folder")));

  jet::Status s = services::FileCopy(dir.File("missing"), dir.File("dest"));
  EXPECT_EQ(s.kind(), jet::ErrorKind::kNotFound) << s.ToString();
  // A folder or a pipe as source is refused at once (a pipe would otherwise block).
  EXPECT_FALSE(services::FileCopy(dir.File("folder"), dir.File("dest")).ok());
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(services::FileCopy(dir.File("pipe"), dir.File("dest")).ok());
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"dest", "folder", "pipe"}));
#endif
  EXPECT_EQ(ReadFileBytes(dir.File("dest")), "keep");
}

#ifndef _WIN32
TEST(FileCopyTest, KeepsTheDestinationsPermissionBitsAndGivesANewOneTheSources) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("source"), "data"));
  ASSERT_EQ(::chmod(dir.File("source").c_str(), 0750), 0);
  ASSERT_TRUE(WriteFileBytes(dir.File("dest"), "old"));
  ASSERT_EQ(::chmod(dir.File("dest").c_str(), 0604), 0);  // survives any umask

  ASSERT_TRUE(services::FileCopy(dir.File("source"), dir.File("dest")).ok());
  EXPECT_EQ(PermissionBits(dir.File("dest")), 0604u);

  const mode_t mask = ::umask(0);
  ::umask(mask);
  ASSERT_TRUE(services::FileCopy(dir.File("source"), dir.File("new")).ok());
  EXPECT_EQ(PermissionBits(dir.File("new")), 0750u & ~mask);
}

TEST(FileCopyTest, ADestinationLinkKeepsPointingAtTheReplacedFile) {
  TempDir dir;
  ASSERT_TRUE(fs::create_directory(dir.File("real")));
  ASSERT_TRUE(WriteFileBytes(dir.File("real/db"), "old contents"));
  ASSERT_EQ(::symlink(dir.File("real/db").c_str(), dir.File("link").c_str()), 0);
  ASSERT_TRUE(WriteFileBytes(dir.File("source"), "new"));

  ASSERT_TRUE(services::FileCopy(dir.File("source"), dir.File("link")).ok());
  EXPECT_TRUE(fs::is_symlink(dir.File("link")));
  EXPECT_EQ(ReadFileBytes(dir.File("real/db")), "new");
  EXPECT_EQ(Listing(dir.File("real")), (std::set<std::string>{"db"}));
}

TEST(FileCopyTest, RefusesAFolderOrADanglingLinkAsDestination) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("source"), "new"));
  ASSERT_TRUE(fs::create_directory(dir.File("folder")));
  ASSERT_EQ(::symlink(dir.File("gone").c_str(), dir.File("dangling").c_str()), 0);
  EXPECT_FALSE(services::FileCopy(dir.File("source"), dir.File("folder")).ok());
  EXPECT_FALSE(services::FileCopy(dir.File("source"), dir.File("dangling")).ok());
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
  EXPECT_TRUE(fs::is_symlink(dir.File("dangling")));
  EXPECT_EQ(Listing(dir.path()), (std::set<std::string>{"source", "folder", "dangling"}));
}

TEST(FileCopyTest, FailsCleanlyIntoAReadOnlyFolder) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("source"), "new"));
  ASSERT_TRUE(fs::create_directory(dir.File("locked")));
  ASSERT_TRUE(WriteFileBytes(dir.File("locked/dest"), "old"));
  ASSERT_EQ(::chmod(dir.File("locked").c_str(), 0555), 0);
  EXPECT_FALSE(services::FileCopy(dir.File("source"), dir.File("locked/dest")).ok());
  EXPECT_EQ(ReadFileBytes(dir.File("locked/dest")), "old");
  EXPECT_EQ(Listing(dir.File("locked")), (std::set<std::string>{"dest"}));
}
#endif  // _WIN32

TEST(KillTest, DeletesAFileAndReportsWhatCannotBeDeleted) {
  TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("file"), "x"));
  ASSERT_TRUE(fs::create_directory(dir.File("folder")));

  ASSERT_TRUE(services::Kill(dir.File("file")).ok());
  EXPECT_FALSE(fs::exists(dir.File("file")));
  EXPECT_EQ(services::Kill(dir.File("file")).kind(), jet::ErrorKind::kNotFound);
  EXPECT_FALSE(services::Kill(dir.File("folder")).ok());
  EXPECT_TRUE(fs::is_directory(dir.File("folder")));
}

}  // namespace
