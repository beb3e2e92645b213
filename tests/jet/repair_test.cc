// RepairDatabase: every kind of damage repaired into a file that passes the check and
// keeps every row that was not on a damaged page; an undamaged file left byte for
// byte; a file in use refused and unchanged; a file beyond repair left as it was.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <iostream>
#include <map>
#include <random>

#include "jet/maintain/check.h"
#include "jet/read/database.h"
#include "jet/maintain/engine.h"
#include "jet/file/header.h"
#include "jet/file/lock.h"
#include "jet/maintain/repair.h"
#include "tests/support/database_bytes.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TableRowCounts;
using testing_support::TempDir;
using testing_support::TestDataDir;
using testing_support::WriteFileBytes;

// Rows the repair may lose for each kind: those stored on the damaged page. A data
// page whose type byte alone is wrong keeps its rows: the rest of its header says
// what it is.
bool LosesPageRows(damage::Kind kind) {
  return kind == damage::Kind::kZeroDataPage || kind == damage::Kind::kRowInFreeSpace ||
         kind == damage::Kind::kTruncated;
}

const char* const kRepairFiles[] = {"jet3/nwind.mdb", "jet3/jk_compindex.mdb", "jet3/jk_test2.mdb",
                                    "jet3/rk_library.mdb", "jet4/sqlp_northwind.mdb", "jet4/jk_test2_2000.mdb",
                                    "jet4/fc_reviews.mdb", "jet4/mdbr_nycflights.mdb",
                                    // text whose keys the encoder refuses: those come from the old tree
                                    "jet4/jk_unicomp_2003.mdb"};

TEST(Repair, EveryDamageKindIsRepaired) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  std::map<damage::Kind, int> repaired;
  for (const char* name : kRepairFiles) {
    const std::string source = TestDataDir() + "/" + name;
    const std::map<std::string, uint64_t> before = TableRowCounts(source);
    for (damage::Kind kind : damage::AllKinds()) {
      const std::string path = dir.File(std::string(damage::KindName(kind)) + "-" + std::to_string(repaired[kind]) +
                                        "-" + std::to_string(std::hash<std::string>()(name)) + ".mdb");
      damage::Result result;
      jet::Status s = damage::MakeDamagedCopy(source, path, kind, &result);
      if (s.kind() == jet::ErrorKind::kNotFound) continue;
      ASSERT_TRUE(s.ok()) << s.ToString();
      const std::string what = std::string(name) + " " + damage::KindName(kind);

      jet::RepairReport report;
      s = jet::RepairDatabaseWithReport(path, &report);
      ASSERT_TRUE(s.ok()) << what << ": " << s.ToString();
      jet::CheckReport after;
      ASSERT_TRUE(jet::CheckDatabase(path, &after).ok());
      EXPECT_FALSE(after.HasDamage()) << what;
      for (const jet::CheckFinding& f : after.findings)
        if (f.severity == jet::CheckSeverity::kDamage) {
          ADD_FAILURE() << what << ": " << jet::FindingKindName(f.kind) << " " << f.detail;
        }

      // Every row survives except those on the damaged page, and the report says so.
      const std::map<std::string, uint64_t> now = TableRowCounts(path);
      uint64_t total_before = 0, total_after = 0;
      for (const auto& [table, count] : before) {
        total_before += count;
        uint64_t expected = count;
        if (LosesPageRows(kind) && table == result.table) expected -= result.rows_on_page;
        auto it = now.find(table);
        ASSERT_NE(it, now.end()) << what << ": table " << table << " is gone";
        EXPECT_EQ(it->second, expected) << what << ": table " << table;
        total_after += it->second;
      }
      EXPECT_EQ(report.RowsLost(), total_before - total_after) << what;
      if (kind == damage::Kind::kBrokenLongValue || kind == damage::Kind::kLongValueCycle) {
        EXPECT_EQ(report.ValuesCut(), 1u) << what;
      }
      if (kind == damage::Kind::kCommitState) {
        EXPECT_TRUE(report.commit_state_cleared) << what;
        EXPECT_FALSE(report.rewritten) << what;
      } else {
        EXPECT_TRUE(report.rewritten) << what;
        // The repair ends in a compaction, which writes rows in primary-key order.
        EXPECT_EQ(testing_support::TablesOutOfKeyOrder(path), std::vector<std::string>()) << what;
      }
      std::cout << what << ": rows " << total_before << " -> " << total_after << " (lost " << report.RowsLost()
                << ", on the damaged page " << (LosesPageRows(kind) ? result.rows_on_page : 0) << "), values cut "
                << report.ValuesCut() << "\n";
      ++repaired[kind];
    }
  }
  for (damage::Kind kind : damage::AllKinds()) EXPECT_GE(repaired[kind], 2) << damage::KindName(kind);
}

TEST(Repair, UndamagedFileIsLeftByteForByte) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  for (const char* name : {"jet3/nwind.mdb", "jet3/jk_test2.mdb", "jet4/jk_enc.mdb", "jet4/mr_pwd2003.mdb",
                           "jet4/fc_relational.mdb"}) {
    const std::string original = ReadFileBytes(TestDataDir() + "/" + name);
    const std::string path = dir.File("clean.mdb");
    ASSERT_TRUE(WriteFileBytes(path, original));
    jet::Status s = jet::RepairDatabase(path);
    EXPECT_TRUE(s.ok()) << name << ": " << s.ToString();
    EXPECT_TRUE(ReadFileBytes(path) == original) << name;
  }
}

TEST(Repair, CommitStateAloneChangesOnlyTheCommitBytes) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string source = TestDataDir() + "/jet4/sqlp_northwind.mdb";
  const std::string path = dir.File("commit.mdb");
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(source, path, damage::Kind::kCommitState, &result).ok());
  const std::string damaged = ReadFileBytes(path);
  ASSERT_TRUE(jet::RepairDatabase(path).ok());
  const std::string repaired = ReadFileBytes(path);
  ASSERT_EQ(repaired.size(), damaged.size());
  const size_t area = 4096 - jet::kCommitAreaSize;
  for (size_t i = 0; i < repaired.size(); ++i)
    if (repaired[i] != damaged[i]) {
      EXPECT_TRUE(i >= area && i < 4096) << "byte " << i << " changed";
    }
  EXPECT_FALSE(jet::CommitStateSet(jet::FormatFor(jet::Version::kJet4),
                                   reinterpret_cast<const uint8_t*>(repaired.data())));
}

TEST(Repair, FileBeyondRepairIsLeftAsItWas) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  std::string bytes = ReadFileBytes(TestDataDir() + "/jet3/jk_enc97.mdb");
  // Page 0 of a file with RC4-encoded pages zeroed: the key went with it.
  std::fill(bytes.begin(), bytes.begin() + 2048, '\0');
  const std::string path = dir.File("nokey.mdb");
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  jet::Status s = jet::RepairDatabase(path);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kUnsupportedFormat) << s.ToString();
  EXPECT_NE(s.detail().find("RC4"), std::string::npos) << s.ToString();
  EXPECT_TRUE(ReadFileBytes(path) == bytes);

  const std::string text = dir.File("notes.mdb");
  ASSERT_TRUE(WriteFileBytes(text, std::string(5000, 'x')));
  EXPECT_EQ(jet::RepairDatabase(text).kind(), jet::ErrorKind::kNotJetDatabase);
  EXPECT_EQ(ReadFileBytes(text), std::string(5000, 'x'));
  EXPECT_EQ(jet::RepairDatabase(dir.File("absent.mdb")).kind(), jet::ErrorKind::kNotFound);
}

// Random damage the generator does not model: the repair either succeeds with a file
// that passes the check, or fails and leaves the file exactly as it was.
TEST(Repair, HostileFilesAreRepairedOrLeftAlone) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  std::mt19937 random(80);
  int rewritten = 0, refused = 0;
  for (const char* name : {"jet3/jk_test2.mdb", "jet4/jk_overflow_2003.mdb", "jet3/rk_library.mdb"}) {
    const std::string original = ReadFileBytes(TestDataDir() + "/" + name);
    for (int round = 0; round < 12; ++round) {
      std::string bytes = original;
      const int changes = 1 + int(random() % 30);
      for (int i = 0; i < changes; ++i) bytes[2048 + random() % (bytes.size() - 2048)] = char(random());
      const std::string path = dir.File("hostile.mdb");
      ASSERT_TRUE(WriteFileBytes(path, bytes));
      jet::RepairReport report;
      jet::Status s = jet::RepairDatabaseWithReport(path, &report);
      if (!s.ok()) {
        ++refused;
        std::cout << name << " round " << round << " refused: " << s.ToString() << "\n";
        EXPECT_TRUE(ReadFileBytes(path) == bytes) << name << " round " << round << ": " << s.ToString();
        continue;
      }
      if (report.rewritten) ++rewritten;
      jet::CheckReport after;
      ASSERT_TRUE(jet::CheckDatabase(path, &after).ok());
      EXPECT_FALSE(after.HasDamage()) << name << " round " << round;
    }
  }
  std::cout << "hostile files: " << rewritten << " rebuilt, " << refused << " refused\n";
  EXPECT_GT(rewritten, 0);
}

TEST(Lock, LockFilePath) {
  EXPECT_EQ(jet::LockFilePath("/data/morvik.mdb"), "/data/morvik.ldb");
  EXPECT_EQ(jet::LockFilePath("/data/MORVIK.MDB"), "/data/MORVIK.ldb");
  EXPECT_EQ(jet::LockFilePath("/da.ta/morvik"), "/da.ta/morvik.ldb");
  EXPECT_EQ(jet::LockFilePath("/data/.hidden"), "/data/.hidden.ldb");
}

// Linux's lock families, taken by a forked child; the Windows share modes and range
// locks have their own test (tests/windows/lock_test.cc).
#ifndef _WIN32
// A child process that holds a lock until the parent closes the pipe.
class LockHolder {
 public:
  enum class How { kPosixWhole, kPosixFar, kFlock };
  LockHolder(const std::string& path, How how) {
    int ready[2], release[2];
    EXPECT_EQ(::pipe(ready), 0);
    EXPECT_EQ(::pipe(release), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      const int fd = ::open(path.c_str(), O_RDWR);
      bool ok = fd >= 0;
      if (ok && how == How::kFlock) {
        ok = ::flock(fd, LOCK_EX) == 0;
      } else if (ok) {
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        // Jet's user locks lie far past the end of the lock file.
        lock.l_start = how == How::kPosixFar ? 0x10000001 : 0;
        lock.l_len = how == How::kPosixFar ? 1 : 0;
        ok = ::fcntl(fd, F_SETLK, &lock) == 0;
      }
      const char c = ok ? 'y' : 'n';
      (void)!::write(ready[1], &c, 1);
      char buffer;
      (void)!::read(release[0], &buffer, 1);  // returns at EOF, when the parent is done
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    release_ = release[1];
    char c = 0;
    EXPECT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y') << "the child could not take its lock";
    ::close(ready[0]);
  }
  ~LockHolder() {
    ::close(release_);
    int status;
    ::waitpid(pid_, &status, 0);
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
};

TEST(Lock, FileInUseIsRefusedAndUnchanged) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string path = dir.File("morvik.mdb");
  damage::Result result;
  // A damaged file, so that a repair that went ahead would change it.
  ASSERT_TRUE(damage::MakeDamagedCopy(TestDataDir() + "/jet3/jk_compindex.mdb", path, damage::Kind::kStaleRowCount,
                                      &result).ok());
  const std::string bytes = ReadFileBytes(path);
  const std::string ldb = dir.File("morvik.ldb");

  for (LockHolder::How how : {LockHolder::How::kPosixWhole, LockHolder::How::kFlock}) {
    LockHolder holder(path, how);
    jet::Status s = jet::RepairDatabase(path);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
  }
  ASSERT_TRUE(WriteFileBytes(ldb, std::string(64, ' ')));
  for (LockHolder::How how : {LockHolder::How::kPosixFar, LockHolder::How::kPosixWhole, LockHolder::How::kFlock}) {
    LockHolder holder(ldb, how);
    bool held = false;
    ASSERT_TRUE(jet::LockFileHeld(ldb, &held).ok());
    EXPECT_TRUE(held);
    jet::Status s = jet::RepairDatabase(path);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInUse) << s.ToString();
    EXPECT_NE(s.detail().find("morvik.ldb"), std::string::npos) << s.detail();
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
  }
  // A stale lock file nobody holds: the repair goes ahead.
  bool held = true;
  ASSERT_TRUE(jet::LockFileHeld(ldb, &held).ok());
  EXPECT_FALSE(held);
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  jet::Status s = jet::RepairDatabase(path);
  EXPECT_TRUE(s.ok()) << s.ToString();
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u) << "the repaired file keeps the original's permissions";
  EXPECT_FALSE(ReadFileBytes(path) == bytes);
  jet::CheckReport after;
  ASSERT_TRUE(jet::CheckDatabase(path, &after).ok());
  EXPECT_FALSE(after.HasDamage());
}
#endif  // _WIN32

}  // namespace
