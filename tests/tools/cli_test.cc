// Tests of the jetdb command line: exit codes, help, error messages, and what the
// commands print for real files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"
#include "tools/damage/damage.h"
#include "tools/jetdb/cli.h"

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
      {"info", "--codepage", "klingon", "a.mdb"},
      {"schema", "--sql", "oracle", "a.mdb"},
      {"export", "--format", "sql", "a.mdb", "t"},           // no --dialect
      {"export", "--format", "json", "--null", "-", "a.mdb", "t"},  // a CSV option
      {"export", "--delimiter", "ab", "a.mdb", "t"},
      {"export", "--all", "out", "a.mdb", "t"},              // --all takes no TABLE
      {"to-sqlite", "a.mdb"},
      {"queries"},
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

TEST(JetdbCliTest, NotAJetFileExitsThree) {
  testing_support::TempDir dir;
  const std::string text_file = dir.File("notes.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(text_file, std::string(8192, 'x')));
  for (const std::string command : {"info", "tables", "schema"}) {
    const ProgramResult r = Jetdb({command, text_file});
    EXPECT_EQ(r.exit_code, 3) << command;
    EXPECT_EQ(r.err.rfind("jetdb: not a Jet database: ", 0), 0u) << command << ": " << r.err;
  }
  const ProgramResult empty_file =
      (testing_support::WriteFileBytes(dir.File("empty.mdb"), ""), Jetdb({"info", dir.File("empty.mdb")}));
  EXPECT_EQ(empty_file.exit_code, 3);
  EXPECT_NE(empty_file.err.find("not a Jet database"), std::string::npos) << empty_file.err;
  const ProgramResult missing = Jetdb({"export", dir.File("absent.mdb"), "T"});
  EXPECT_EQ(missing.exit_code, 3);
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
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err.rfind("jetdb: not found: ", 0), 0u) << r.err;
}

TEST(JetdbCliTest, FailedWritesAreReported) {
  SKIP_WITHOUT_TESTDATA();
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  const std::string path = testing_support::TestDataDir() + "/jet3/nwind.mdb";
  const ProgramResult r =
      RunProgram({"sh", "-c", "\"$0\" export \"$1\" Orders > /dev/full", JetdbPath(), path});
  EXPECT_EQ(r.exit_code, 3);
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
  EXPECT_EQ(missing.exit_code, 3);
  EXPECT_EQ(missing.err.rfind("jetdb: not found: ", 0), 0u) << missing.err;
}

TEST(JetdbCliTest, ShortOptionsMeanWhatTheLongOnesDo) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet3/jk_test.mdb";
  EXPECT_EQ(Jetdb({"tables", "-s", path}).out, Jetdb({"tables", "--system", path}).out);
  // Options may follow the arguments, and take their value attached or apart.
  const ProgramResult short_form = Jetdb({"export", path, "Table1", "-fjson"});
  ASSERT_EQ(short_form.exit_code, 0) << short_form.err;
  EXPECT_EQ(short_form.out, Jetdb({"export", "--format=json", path, "Table1"}).out);
  EXPECT_EQ(Jetdb({"export", "-d", ";", "-H", path, "Table1"}).out,
            Jetdb({"export", "--delimiter", ";", "--no-header", path, "Table1"}).out);
}

TEST(JetdbCliTest, MessagesNameWhatTheUserNamed) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  const std::string schema = std::string(ZIVADIDUZ_SOURCE_DIR) + "/scripts/demo-schema.json";
  // A destination that cannot be made: the message names it, not a temporary file.
  ProgramResult r = Jetdb({"create", schema, dir.File("no/such/folder/out.mdb")});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err.find(".tmp-"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(dir.File("no/such/folder/out.mdb")), std::string::npos) << r.err;

  // A file the repair can mend: compact says so instead of giving up.
  const std::string damaged = dir.File("damaged.mdb");
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(testing_support::TestDataDir() + "/jet3/nwind.mdb", damaged,
                                      damage::Kind::kBrokenLongValue, &result)
                  .ok());
  r = Jetdb({"compact", damaged, dir.File("out.mdb")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err.find("beyond repair"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("'jetdb repair' can repair " + damaged), std::string::npos) << r.err;
}

TEST(JetdbCliTest, AnInterruptedCreateLeavesNoTemporaryFile) {
  testing_support::TempDir dir;
  const std::string schema = dir.File("schema.json");
  ASSERT_TRUE(testing_support::WriteFileBytes(
      schema, R"({"tables": [{"name": "t", "columns": [{"name": "id", "type": "long", "autonumber": true},
                                                       {"name": "notes", "type": "memo"}]}]})"));
  const std::string out = dir.File("out");
  ASSERT_EQ(mkdir(out.c_str(), 0700), 0);
  // Terminated once its temporary file shows (the shell polls for it); then the
  // folder must be empty again.
  const ProgramResult r = RunProgram(
      {"bash", "-c",
       "\"$0\" create -q --rows 100000 \"$1\" \"$2/out.mdb\" & pid=$!; "
       "for _ in $(seq 1 400); do ls -A \"$2\" | grep -q tmp- && { echo found; break; }; sleep 0.05; done; "
       "kill -TERM $pid; wait $pid; echo $?",
       JetdbPath(), schema, out});
  EXPECT_EQ(r.out, "found\n" + std::to_string(128 + SIGTERM) + "\n") << r.err;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(out)) left.push_back(entry.path().filename().string());
  EXPECT_TRUE(left.empty()) << left.size() << " files left, the first " << left[0];
}

TEST(JetdbCliTest, LinkedTablesAreListedWithTheirTargets) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet4/ua_linked.mdb";
  const ProgramResult tables = Jetdb({"tables", path});
  ASSERT_EQ(tables.exit_code, 0) << tables.err;
  EXPECT_EQ(tables.out,
            "table2\tlinked to table2 in C:\\db\\linkee2.mdb\nTable1\tlinked to Table1 in C:\\db\\linkee1.mdb\n");
  const ProgramResult info = Jetdb({"info", path});
  EXPECT_NE(info.out.find("Tables:        0\nLinked tables: 2\n"), std::string::npos) << info.out;
}

TEST(JetdbCliTest, CodePageOverrideReadsTextAsMdbtoolsDoes) {
  SKIP_WITHOUT_TESTDATA();
  if (!tools_test::OnPath("mdb-export")) GTEST_SKIP() << "mdbtools (mdb-export) is not installed";
  const std::string path = testing_support::TestDataDir() + "/jet3/ua_gbk.mdb";
  const ProgramResult theirs = RunProgram({"env", "MDB_JET3_CHARSET=GBK", "mdb-export", path, "table1"});
  const ProgramResult ours = Jetdb({"export", "--codepage", "936", path, "table1"});
  ASSERT_EQ(ours.exit_code, 0) << ours.err;
  EXPECT_NE(ours.out.find("GBK\xE7\xBC\x96\xE7\xA0\x81"), std::string::npos) << ours.out;  // "GBK编码"
  std::vector<tools_test::CsvRow> our_rows, their_rows;
  ASSERT_TRUE(tools_test::ParseCsv(ours.out, &our_rows));
  ASSERT_TRUE(tools_test::ParseCsv(theirs.out, &their_rows));
  EXPECT_EQ(our_rows, their_rows);
  // Without it the text is read in the code page the file names (1252), as before.
  EXPECT_EQ(Jetdb({"export", path, "table1"}).out.find("\xE7\xBC\x96"), std::string::npos);
}

TEST(JetdbCliTest, ExportAllWritesOneSafelyNamedFilePerTable) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  const std::string path = testing_support::TestDataDir() + "/jet4/ua_weirdnames.mdb";
  const std::string out = dir.File("out");
  const ProgramResult r = Jetdb({"export", "--all", out, path});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const ProgramResult tables = Jetdb({"tables", path});
  std::istringstream names(tables.out);
  size_t files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    EXPECT_EQ(name.find_first_of("/\\:*?\"<>|"), std::string::npos) << name;
    EXPECT_EQ(entry.path().extension(), ".csv");
    ++files;
  }
  size_t table_count = 0;
  for (std::string line; std::getline(names, line);) ++table_count;
  EXPECT_EQ(files, table_count);
  // A second run does not overwrite what the first wrote.
  EXPECT_EQ(Jetdb({"export", "--all", out, path}).exit_code, 3);
}

TEST(JetdbCliTest, ExportForExcel) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet3/nwind.mdb";
  const ProgramResult r = Jetdb({"export", "--bom", "--crlf", "--delimiter", ";", "--null", "NULL",
                                 "--date-format", "%d.%m.%Y", path, "Employees"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out.rfind("\xEF\xBB\xBF" "EmployeeID;LastName;", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\r\n1;Davolio;Nancy;Sales Representative;Ms.;08.12.1948;01.05.1992;"), std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(";NULL;"), std::string::npos) << r.out;
  size_t bare_lf = 0;
  for (size_t i = 0; i < r.out.size(); ++i) bare_lf += r.out[i] == '\n' && (i == 0 || r.out[i - 1] != '\r');
  EXPECT_EQ(bare_lf, 0u);
}

TEST(ProgressLineTest, ShowsShareRateAndTimeLeftWithinTheWidth) {
  EXPECT_EQ(jetdb::ProgressLine("compact", "pages", 50, 200, 10.0, 80),
            "compact [=========>                            ]   25%  5.0 pages/s  0:30 left");
  const std::string narrow = jetdb::ProgressLine("to-sqlite", "rows", 7, 7, 1.0, 30);
  EXPECT_LE(narrow.size(), 29u);
  EXPECT_NE(narrow.find("100%"), std::string::npos) << narrow;
  // Nothing done yet: no rate and no guess at the time left.
  EXPECT_EQ(jetdb::ProgressLine("check", "pages", 0, 10, 0.5, 40).find("left"), std::string::npos);
}

}  // namespace
