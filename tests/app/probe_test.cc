// End-to-end tests of the start-up check as a process: the test-only program is
// hard-linked (or copied) into a fresh program folder, given the files each case
// needs, and run from another folder; its printed box, exit status and whether the
// check passed are what the user would have seen.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using testing_support::ReadFileBytes;
using testing_support::WriteFileBytes;

const char kNoSettingsFile[] =
    "MSGBOX style=16 title=\"Foutmelding\" text=\"Kan morvik.ini bestand niet vinden !\"\n";
const char kNoDatabaseFolder[] =
    "MSGBOX style=16 title=\"Foutmelding\" text=\"Kan database-bestand niet vinden !, "
    "controleer instellingen van Morvik\"\n";
const char kNoDatabase[] =
    "MSGBOX style=16 title=\"Foutmelding\" text=\"Kan morvik database niet vinden !\"\n";

class ProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = dir_.File("program");
    data_ = dir_.File("data");
    fs::create_directory(program_);
    fs::create_directory(data_);
    // Not a symbolic link: the program would then find its folder in the build tree.
    std::error_code ec;
    fs::create_hard_link(ZIVADIDUZ_PROBE_PATH, program_ + "/zivadiduz-probe", ec);
    if (ec) fs::copy_file(ZIVADIDUZ_PROBE_PATH, program_ + "/zivadiduz-probe");
  }

  void WriteSettings(const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(program_ + "/morvik.ini", text));
  }
  void WriteDatabase() { ASSERT_TRUE(WriteFileBytes(data_ + "/morvik.mdb", "db")); }

  // Runs the program with the root folder as current folder; returns its stdout and
  // sets *status to its exit status (-1 when it did not exit normally).
  std::string Run(int* status, const std::string& arguments = "") {
    const std::string command = "cd / && exec '" + program_ + "/zivadiduz-probe'" + arguments + " </dev/null";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    EXPECT_NE(pipe, nullptr);
    if (pipe == nullptr) return "";
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int wait_status = ::pclose(pipe);
    *status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
    return out;
  }

  void ExpectOutput(const std::string& expected, int expected_status) {
    int status = -2;
    EXPECT_EQ(Run(&status), expected);
    EXPECT_EQ(status, expected_status);
  }

  testing_support::TempDir dir_;
  std::string program_;
  std::string data_;
};

TEST_F(ProbeTest, NoSettingsFile) {
  WriteDatabase();
  ExpectOutput(kNoSettingsFile, 0);
}

TEST_F(ProbeTest, SettingsWithoutTheSection) {
  WriteSettings("[Instellingen]\r\nDatabasePath=" + data_ + "\r\n");
  ExpectOutput(kNoDatabaseFolder, 0);
}

TEST_F(ProbeTest, SettingsWithoutTheKey) {
  WriteSettings("[Files]\r\nDatabase=" + data_ + "\r\n");
  ExpectOutput(kNoDatabaseFolder, 0);
}

TEST_F(ProbeTest, AnEmptyValue) {
  WriteSettings("[Files]\r\nDatabasePath=\r\n");
  ExpectOutput(kNoDatabaseFolder, 0);
}

TEST_F(ProbeTest, BlanksOnlyValue) {
  // Unquoted, the blanks are trimmed away and the setting is empty; quoted, they are
  // the folder name "   ", whose database path "   /morvik.mdb" does not exist.
  WriteSettings("[Files]\r\nDatabasePath=   \r\n");
  ExpectOutput(kNoDatabaseFolder, 0);
  WriteSettings("[Files]\r\nDatabasePath=\"   \"\r\n");
  ExpectOutput(kNoDatabase, 0);
}

TEST_F(ProbeTest, AValueEndingInASeparatorIsUsedAsItResults) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "/\r\n");
  ExpectOutput(kNoDatabase, 0);
  WriteDatabase();  // "<data>//morvik.mdb" names the same file here
  ExpectOutput("CHECK-PASSED folder=\"" + data_ + "/\"\n", 0);
}

TEST_F(ProbeTest, TheDatabaseFolderIsMissing) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "/gone\r\n");
  ExpectOutput(kNoDatabase, 0);
}

TEST_F(ProbeTest, TheDatabaseFileIsMissing) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "\r\n");
  ExpectOutput(kNoDatabase, 0);
}

TEST_F(ProbeTest, AllPresentPassesTheCheck) {
  WriteSettings("\xEF\xBB\xBF; Morvik\r\n[Files]\r\nDatabasePath = " + data_ + "\r\n");
  WriteDatabase();
  ExpectOutput("CHECK-PASSED folder=\"" + data_ + "\"\n", 0);
}

TEST_F(ProbeTest, AnUnreadableSettingsFileEndsWithARunTimeError) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "\r\n" + std::string(17u << 20, 'x'));
  WriteDatabase();
  int status = 0;
  const std::string out = Run(&status);
  EXPECT_EQ(out.rfind("MSGBOX style=16 title=\"zivadiduz - fout bij het starten\" text=\"", 0), 0u)
      << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << out;  // one line, no CHECK-PASSED
  EXPECT_NE(status, 0);
}

// The whole job as a process, as the window's button runs it: the box the user sees,
// the backup in the program folder and the compacted copy in the database's place.
TEST_F(ProbeTest, TheClickRepairsAndCompactsTheDatabase) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "\r\n");
  ASSERT_TRUE(testing_support::CopyFixture(jet::Version::kJet3, data_ + "/morvik.mdb"))
      << testing_support::FixtureError();
  const std::string original = ReadFileBytes(data_ + "/morvik.mdb");
  int status = -2;
  EXPECT_EQ(Run(&status, " --click"),
            "CHECK-PASSED folder=\"" + data_ + "\"\n"
            "MSGBOX style=64 title=\"Mededeling\" text=\"Database is hersteld !\"\n");
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(ReadFileBytes(program_ + "/morvikbackup.mdb") == original);
  EXPECT_TRUE(ReadFileBytes(data_ + "/morvik.mdb") == ReadFileBytes(program_ + "/new.mdb"));
}

// A file that is no database: the engine refuses it, the box says so, and nothing
// but the backup is written.
TEST_F(ProbeTest, TheClickOnANonDatabaseLeavesItAsItWas) {
  WriteSettings("[Files]\r\nDatabasePath=" + data_ + "\r\n");
  WriteDatabase();
  int status = -2;
  EXPECT_EQ(Run(&status, " --click"),
            "CHECK-PASSED folder=\"" + data_ + "\"\n"
            "MSGBOX style=16 title=\"Foutmelding\" text=\"Database kon niet hersteld worden ! "
            "De database is niet gewijzigd.\\nHet bestand is geen geldige database.\"\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFileBytes(data_ + "/morvik.mdb"), "db");
  EXPECT_EQ(ReadFileBytes(program_ + "/morvikbackup.mdb"), "db");
  EXPECT_FALSE(fs::exists(program_ + "/new.mdb"));
}

}  // namespace
