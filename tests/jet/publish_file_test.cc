// Publication with a fault at each call it makes: every call of an undisturbed run,
// in both modes, once failing and once crashing with what was not flushed lost (a
// power cut). Whatever happens, the target holds the old file or the new one, whole
// (with kCreate: nothing or the new one); a failure leaves no temporary file of its
// own; and after the next publication of the target, nothing but the target is left.
#include "jet/base/publish_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "jet/testing/fault_injection_env.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;

// Of different sizes and each more than one write, so that a mix of the two shows.
const std::string kOld(10000, 'o');
const std::string kNew = std::string(6000, 'n') + std::string(6000, 'N');

Status WriteNewFile(Env* env, const std::string& path) {
  std::unique_ptr<WritableFile> file;
  Status s = env->NewWritableFile(path, 0644, &file);
  if (s.ok()) s = file->Append(kNew.data(), 6000);
  if (s.ok()) s = file->Append(kNew.data() + 6000, kNew.size() - 6000);
  if (s.ok()) s = file->Sync();
  if (s.ok()) s = file->Close();
  return s;
}

Status Publish(Env* env, const std::string& target, PublishMode mode) {
  PublishOptions options;
  options.mode = mode;
  Publication publication;
  Status s = publication.Begin(env, target, options);
  if (s.ok()) s = WriteNewFile(env, publication.temporary());
  if (s.ok()) s = publication.Commit();
  return s;
}

std::set<std::string> Names(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.insert(entry.path().filename().string());
  return names;
}

// A folder with the old file (kReplace) and what a crashed writer of it left, so that
// the sweep's calls are among those the faults hit.
struct Scene {
  testing_support::TempDir dir;
  std::string target = dir.File("db.mdb");
  std::string stale;

  Scene(PublishMode mode, int ended_pid) {
    stale = ".db.mdb.tmp-" + std::to_string(ended_pid) + "-0";
    EXPECT_TRUE(testing_support::WriteFileBytes(dir.File(stale), "left by a crash"));
    if (mode == PublishMode::kReplace) { EXPECT_TRUE(testing_support::WriteFileBytes(target, kOld)); }
  }
  // The target is the old file or the new one, whole; with kCreate, nothing or the new one.
  void ExpectWholeTarget(PublishMode mode) const {
    if (mode == PublishMode::kCreate && !fs::exists(target)) return;
    const std::string now = ReadFileBytes(target);
    EXPECT_TRUE(now == kNew || (mode == PublishMode::kReplace && now == kOld)) << now.size() << " bytes";
  }
};

TEST(PublicationTest, AFaultAtAnyCallLeavesTheOldFileOrTheNewOne) {
  const int ended_pid = testing_support::EndedProcessId();
  ASSERT_GT(ended_pid, 0);
  ::testing::FLAGS_gtest_death_test_style = "fast";
  for (PublishMode mode : {PublishMode::kCreate, PublishMode::kReplace}) {
    uint64_t calls = 0;
    {
      Scene scene(mode, ended_pid);
      FaultInjectionEnv counting(Env::Default());
      ASSERT_TRUE(Publish(&counting, scene.target, mode).ok());
      calls = counting.calls();
      EXPECT_EQ(Names(scene.dir.path()), std::set<std::string>{"db.mdb"});
    }
    // Check and sweep, create, two writes, flush, close, rename, folder flush at least.
    ASSERT_GE(calls, 11u);
    for (uint64_t call = 1; call <= calls; ++call) {
      for (bool crash : {false, true}) {
        SCOPED_TRACE((mode == PublishMode::kCreate ? "create, " : "replace, ") +
                     std::string(crash ? "crash" : "failure") + " at call " + std::to_string(call));
        Scene scene(mode, ended_pid);
        if (crash) {
          EXPECT_EXIT(
              {
                FaultInjectionEnv env(Env::Default());
                env.CrashAt(call, /*drop_unsynced=*/true);
                Publish(&env, scene.target, mode);
                std::_Exit(0);
              },
              ::testing::ExitedWithCode(FaultInjectionEnv::kCrashExitStatus), "");
        } else {
          FaultInjectionEnv env(Env::Default());
          env.FailAt(call, EIO);
          const Status s = Publish(&env, scene.target, mode);
          if (s.ok()) { EXPECT_EQ(ReadFileBytes(scene.target), kNew); }
          if (!s.ok() && mode == PublishMode::kCreate) { EXPECT_FALSE(fs::exists(scene.target)); }
          for (const std::string& name : Names(scene.dir.path()))
            EXPECT_TRUE(name == "db.mdb" || name == scene.stale) << name << " left behind";
        }
        scene.ExpectWholeTarget(mode);
        ASSERT_TRUE(Publish(Env::Default(), scene.target, PublishMode::kReplace).ok());
        EXPECT_EQ(Names(scene.dir.path()), std::set<std::string>{"db.mdb"});
      }
    }
  }
}

}  // namespace
}  // namespace jet
