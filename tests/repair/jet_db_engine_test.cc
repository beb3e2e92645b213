// The real DBEngine over jet/: it checks its arguments, never writes a file while
// refusing, and passes on what a repair lost.
#include "repair/jet_db_engine.h"

#include <filesystem>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "gtest/gtest.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

using jet::ErrorKind;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

TEST(JetDBEngineTest, RepairOfMissingFileIsNotFound) {
  testing_support::TempDir dir;
  repair::JetDBEngine engine;
  repair::RepairLoss loss;
  EXPECT_EQ(engine.RepairDatabase(dir.File("morvik.mdb"), &loss).kind(), ErrorKind::kNotFound);
  EXPECT_FALSE(testing_support::PathExists(dir.File("morvik.mdb")));
}

TEST(JetDBEngineTest, RepairRefusesAndLeavesTheFileAlone) {
  testing_support::TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("morvik.mdb"), "some database bytes"));
  repair::JetDBEngine engine;
  repair::RepairLoss loss;
  jet::Status s = engine.RepairDatabase(dir.File("morvik.mdb"), &loss);
  EXPECT_EQ(s.kind(), ErrorKind::kNotJetDatabase) << s.ToString();  // no Jet file at all
  EXPECT_EQ(ReadFileBytes(dir.File("morvik.mdb")), "some database bytes");
}

// The loss the closing notice tells comes from the engine's own count: none for a
// sound file, the rows of a zeroed data page for a damaged one.
TEST(JetDBEngineTest, RepairTellsWhatItLost) {
  SKIP_WITHOUT_TESTDATA();
  const std::string source = testing_support::TestDataDir() + "/jet4/fc_relational.mdb";
  testing_support::TempDir dir;
  const std::string sound = dir.File("sound.mdb"), damaged = dir.File("damaged.mdb");
  ASSERT_TRUE(WriteFileBytes(sound, ReadFileBytes(source)));
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(source, damaged, damage::Kind::kZeroDataPage, &result).ok());
  repair::JetDBEngine engine;
  repair::RepairLoss loss{1, 1};
  ASSERT_TRUE(engine.RepairDatabase(sound, &loss).ok());
  EXPECT_FALSE(loss.Any());
  ASSERT_TRUE(engine.RepairDatabase(damaged, &loss).ok());
  EXPECT_GT(loss.rows, 0u);
}

// A file, a folder and (on Linux) a dangling link at the destination all count as
// "exists".
TEST(JetDBEngineTest, CompactionRefusesEveryExistingDestination) {
  testing_support::TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("source.mdb"), "source"));
  ASSERT_TRUE(WriteFileBytes(dir.File("file.mdb"), "keep me"));
  ASSERT_TRUE(std::filesystem::create_directory(dir.File("folder.mdb")));
  std::vector<const char*> names = {"file.mdb", "folder.mdb"};
#ifndef _WIN32
  ASSERT_EQ(::symlink(dir.File("nowhere").c_str(), dir.File("link.mdb").c_str()), 0);
  names.push_back("link.mdb");
#endif
  repair::JetDBEngine engine;
  for (const char* name : names) {
    EXPECT_EQ(engine.CompactDatabase(dir.File("source.mdb"), dir.File(name)).kind(),
              ErrorKind::kDestinationExists)
        << name;
  }
  EXPECT_EQ(ReadFileBytes(dir.File("file.mdb")), "keep me");
  EXPECT_FALSE(testing_support::PathExists(dir.File("nowhere")));
}

TEST(JetDBEngineTest, CompactionIntoFreeDestinationRefusesAndWritesNothing) {
  testing_support::TempDir dir;
  ASSERT_TRUE(WriteFileBytes(dir.File("source.mdb"), "source"));
  repair::JetDBEngine engine;
  jet::Status s = engine.CompactDatabase(dir.File("source.mdb"), dir.File("new.mdb"));
  EXPECT_EQ(s.kind(), ErrorKind::kNotJetDatabase) << s.ToString();  // "source" is no Jet file
  EXPECT_FALSE(testing_support::PathExists(dir.File("new.mdb")));
  EXPECT_EQ(ReadFileBytes(dir.File("source.mdb")), "source");
}

}  // namespace
