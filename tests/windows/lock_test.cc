// A database that another Jet client holds open is refused on Windows as on Linux,
// and left untouched: by the engine's repair and compaction and by the whole repair
// procedure. The other client is a second process (jet_lock_holder.exe) that takes
// the share modes and byte-range locks Jet takes. A lock file nobody holds is stale
// and does not count.
#include <windows.h>

#include <string>

#include <gtest/gtest.h>

#include "jet/base/win32.h"
#include "jet/file/lock.h"
#include "jet/maintain/engine.h"
#include "repair/clean_database.h"
#include "repair/engine_holder.h"
#include "repair/jet_db_engine.h"
#include "repair/messages.h"
#include "services/recording_runtime.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TempDir;

// Runs jet_lock_holder.exe on `database` until the object goes away.
class Holder {
 public:
  Holder(const std::string& database, const char* how) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE child_in = nullptr, child_out = nullptr;
    EXPECT_TRUE(::CreatePipe(&child_in, &release_, &inherit, 0));
    EXPECT_TRUE(::CreatePipe(&ready_, &child_out, &inherit, 0));
    ::SetHandleInformation(release_, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(ready_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = child_in;
    startup.hStdOutput = child_out;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring command = L"\"" + jet::Widen(JET_LOCK_HOLDER_PATH) + L"\" \"" +
                           jet::Widen(database) + L"\" " + jet::Widen(how);
    EXPECT_TRUE(::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &startup, &process_));
    ::CloseHandle(child_in);
    ::CloseHandle(child_out);
    char line[16] = {};
    DWORD got = 0;
    ::ReadFile(ready_, line, sizeof line - 1, &got, nullptr);
    EXPECT_EQ(std::string(line, got).rfind("holding", 0), 0u) << "the holder could not take its locks";
  }
  ~Holder() {
    ::CloseHandle(release_);  // the holder ends when its input closes
    ::WaitForSingleObject(process_.hProcess, 10000);
    ::CloseHandle(process_.hProcess);
    ::CloseHandle(process_.hThread);
    ::CloseHandle(ready_);
  }

 private:
  HANDLE release_ = nullptr;
  HANDLE ready_ = nullptr;
  PROCESS_INFORMATION process_ = {};
};

// A damaged copy of the Jet 3 fixture, so that a repair that went ahead would change it.
std::string DamagedDatabase(const TempDir& dir) {
  const std::string fixture = testing_support::FixtureDatabase(jet::Version::kJet3);
  EXPECT_FALSE(fixture.empty()) << testing_support::FixtureError();
  const std::string path = dir.File("morvik.mdb");
  damage::Result result;
  EXPECT_TRUE(damage::MakeDamagedCopy(fixture, path, damage::Kind::kStaleRowCount, &result).ok());
  return path;
}

TEST(WindowsLock, ADatabaseAnotherJetClientHoldsIsRefusedAndUntouched) {
  TempDir dir;
  const std::string path = DamagedDatabase(dir);
  const std::string bytes = ReadFileBytes(path);
  for (const char* how : {"mdb", "ldb", "both"}) {
    SCOPED_TRACE(how);
    Holder holder(path, how);
    jet::Status s = jet::RepairDatabase(path);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    s = jet::CompactDatabase(path, dir.File("new.mdb"));
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    EXPECT_FALSE(testing_support::ReadFileBytes(dir.File("new.mdb")).size() > 0);

    // The whole procedure, as the button runs it: an error box saying the database
    // is unchanged. (The backup itself is refused already: the holder has the file
    // open for writing, and a copy read meanwhile could be torn.)
    services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
    repair::EngineHolder engine(repair::NewJetDBEngine);
    repair::CleanDatabase(dir.path(), dir.path(), runtime, engine);
    ASSERT_EQ(runtime.boxes().size(), 1u);
    EXPECT_EQ(runtime.boxes()[0].title, repair::kErrorTitle);
    EXPECT_NE(runtime.boxes()[0].text.find("De database is niet gewijzigd."), std::string::npos)
        << runtime.boxes()[0].text;
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
    ::DeleteFileW(jet::Widen(dir.File("new.mdb")).c_str());
  }

  // The holder is gone; its lock file stays behind, stale, and does not block.
  bool held = true;
  ASSERT_TRUE(jet::LockFileHeld(jet::LockFilePath(path), &held).ok());
  EXPECT_FALSE(held);
  jet::Status s = jet::RepairDatabase(path);
  EXPECT_TRUE(s.ok()) << s.ToString();
  EXPECT_FALSE(ReadFileBytes(path) == bytes);
}

}  // namespace
