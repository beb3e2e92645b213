// Tests of the jetdb command line: exit codes, help, error messages, and what the
// commands print for real files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <sstream>

#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"

namespace {

using tools_test::JetdbPath;
using tools_test::ProgramResult;
using tools_test::RunProgram;

ProgramResult Jetdb(std::vector<std::string> args) {
  args.insert(args.begin(), JetdbPath());
  return RunProgram(args);
}

TEST(JetdbCliTest, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate"},
      {"info"},
      {"info", "a.mdb", "b.mdb"},
      {"info", "--bogus", "a.mdb"},
      {"tables", "-x", "a.mdb"},
      {"schema", "a.mdb", "t1", "t2"},
      {"export", "a.mdb"},
      {"export", "--format"},
      {"export", "--format", "xml", "a.mdb", "t"},
      {"tables", "--system=yes", "a.mdb"},
  };
  for (const auto& args : cases) {
    const ProgramResult r = Jetdb(args);
    std::string joined;
    for (const auto& a : args) joined += a + " ";
    EXPECT_EQ(r.exit_code, 2) << joined;
    EXPECT_EQ(r.err.rfind("jetdb: ", 0), 0u) << joined << ": " << r.err;
    EXPECT_TRUE(r.out.empty()) << joined;
  }
}

TEST(JetdbCliTest, HelpOnEveryCommandExitsZero) {
  for (const std::string command : {"info", "tables", "schema", "export"}) {
    const ProgramResult r = Jetdb({command, "--help"});
    EXPECT_EQ(r.exit_code, 0) << command;
    EXPECT_EQ(r.out.rfind("Usage: jetdb " + command, 0), 0u) << command << ": " << r.out;
  }
  const ProgramResult r = Jetdb({"--help"});
  EXPECT_EQ(r.exit_code, 0);
  for (const char* command : {"info", "tables", "schema", "export"})
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
}

TEST(JetdbCliTest, NotAJetFileExitsOne) {
  testing_support::TempDir dir;
  const std::string text_file = dir.File("notes.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(text_file, std::string(8192, 'x')));
  for (const std::string command : {"info", "tables", "schema"}) {
    const ProgramResult r = Jetdb({command, text_file});
    EXPECT_EQ(r.exit_code, 1) << command;
    EXPECT_EQ(r.err.rfind("jetdb: not a Jet database: ", 0), 0u) << command << ": " << r.err;
  }
  const ProgramResult empty_file =
      (testing_support::WriteFileBytes(dir.File("empty.mdb"), ""), Jetdb({"info", dir.File("empty.mdb")}));
  EXPECT_EQ(empty_file.exit_code, 1);
  EXPECT_NE(empty_file.err.find("not a Jet database"), std::string::npos) << empty_file.err;
  const ProgramResult missing = Jetdb({"export", dir.File("absent.mdb"), "T"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err.rfind("jetdb: ", 0), 0u) << missing.err;
}

TEST(JetdbCliTest, InfoOfRealFiles) {
  SKIP_WITHOUT_TESTDATA();
  const std::string dir = testing_support::TestDataDir();
  ProgramResult r = Jetdb({"info", dir + "/jet3/nwind.mdb"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Format:        Jet 3"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Page size:     2048"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Pages:         1466"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Code page:     1252"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Password:      none"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Page encoding: none"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Tables:        9"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  Shippers "), std::string::npos) << r.out;
  // Not a terminal: no progress output at all.
  EXPECT_TRUE(r.err.empty()) << r.err;

  // The password is reported as set but never shown.
  r = Jetdb({"info", dir + "/jet4/ua_password.mdb"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Password:      set"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("ucanaccess"), std::string::npos) << r.out;

  r = Jetdb({"info", dir + "/jet3/jk_enc97.mdb"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Page encoding: RC4"), std::string::npos) << r.out;
}

TEST(JetdbCliTest, TablesAndSchemaOfARealFile) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet3/jk_test.mdb";
  ProgramResult r = Jetdb({"tables", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "Table1\nTable2\nTable3\nTable4\n");
  r = Jetdb({"tables", "--system", path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("MSysObjects\n"), std::string::npos) << r.out;

  r = Jetdb({"schema", path, "table1"});  // names are case-insensitive
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Table table1"), std::string::npos) << r.out;
  std::istringstream lines(r.out);
  int columns = 0;
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("    ", 0) == 0 && line.find(':') == std::string::npos) ++columns;
  EXPECT_EQ(columns, 9) << r.out;

  r = Jetdb({"schema", path, "NoSuchTable"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("jetdb: not found: ", 0), 0u) << r.err;
}

TEST(JetdbCliTest, FailedWritesAreReported) {
  SKIP_WITHOUT_TESTDATA();
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const std::string path = testing_support::TestDataDir() + "/jet3/nwind.mdb";
  const ProgramResult r =
      RunProgram({"sh", "-c", "\"$0\" export \"$1\" Orders > /dev/full", JetdbPath(), path});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.rfind("jetdb: out of disk space: writing standard output", 0), 0u) << r.err;
}

TEST(JetdbCliTest, JsonExportHasExactValues) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet3/jk_test.mdb";
  const ProgramResult r = Jetdb({"export", "--format", "json", path, "Table1"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  std::istringstream lines(r.out);
  std::vector<nlohmann::json> rows;
  for (std::string line; std::getline(lines, line);) rows.push_back(nlohmann::json::parse(line));
  ASSERT_EQ(rows.size(), 2u) << r.out;
  const nlohmann::json* second = rows[0]["A"] == "abcdefg" ? &rows[0] : &rows[1];
  EXPECT_EQ((*second)["A"], "abcdefg");
  EXPECT_EQ((*second)["C"], 2);
  EXPECT_EQ((*second)["E"], 333333333);
  EXPECT_EQ((*second)["F"], 444.555);
  EXPECT_EQ((*second)["G"], "1974-09-21T00:00:00");
  EXPECT_EQ((*second)["H"], "3.5000");
  EXPECT_EQ((*second)["I"], true);

  const ProgramResult missing = Jetdb({"export", path, "NoSuchTable"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err.rfind("jetdb: not found: ", 0), 0u) << missing.err;
}

}  // namespace
