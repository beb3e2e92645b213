// jetdb check and jetdb repair: exit codes, the JSON form, the repair report, and the
// repaired files read back by mdbtools (mdb-export of every table).
#include <gtest/gtest.h>

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "jet/read/database.h"
#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"
#include "tools/damage/damage.h"

namespace {

using testing_support::TempDir;
using testing_support::TestDataDir;
using tools_test::JetdbPath;
using tools_test::RunProgram;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(CheckTool, ExitCodesAndJson) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string clean = TestDataDir() + "/jet4/fc_relational.mdb";
  tools_test::ProgramResult r = RunProgram({JetdbPath(), "check", clean});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(", 0 damage"), std::string::npos) << r.out;

  const std::string damaged = dir.File("damaged.mdb");
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(clean, damaged, damage::Kind::kRowInFreeSpace, &result).ok());
  r = RunProgram({JetdbPath(), "check", "--json", damaged});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  bool row_slot = false, summary = false;
  for (const std::string& line : Lines(r.out)) {
    const nlohmann::json j = nlohmann::json::parse(line);  // every line is one JSON object
    if (j.contains("summary")) {
      summary = true;
      EXPECT_GT(j["damage"].get<int>(), 0);
    } else if (j["kind"] == "row-slot") {
      row_slot = true;
      EXPECT_EQ(j["severity"], "damage");
      EXPECT_EQ(j["page"].get<int64_t>(), result.page);
      EXPECT_EQ(j["row"].get<int>(), result.row);
      EXPECT_EQ(j["table"], result.table);
    }
  }
  EXPECT_TRUE(row_slot) << r.out;
  EXPECT_TRUE(summary) << r.out;

  EXPECT_EQ(RunProgram({JetdbPath(), "check"}).exit_code, 2);
  EXPECT_EQ(RunProgram({JetdbPath(), "check", "--bogus", clean}).exit_code, 2);
  EXPECT_EQ(RunProgram({JetdbPath(), "check", dir.File("absent.mdb")}).exit_code, 3);
}

TEST(RepairTool, ReportsWhatWasLost) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string path = dir.File("morvik.mdb");
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(TestDataDir() + "/jet3/nwind.mdb", path, damage::Kind::kZeroDataPage, &result)
                  .ok());
  tools_test::ProgramResult r = RunProgram({JetdbPath(), "repair", path});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("table \"" + result.table + "\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::to_string(result.rows_on_page) + " rows lost"), std::string::npos) << r.out;
  r = RunProgram({JetdbPath(), "repair", path});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("no damage found; the file was not changed"), std::string::npos) << r.out;
  EXPECT_EQ(RunProgram({JetdbPath(), "check", path}).exit_code, 0);
}

// A row whose offset points into free space: repair --output leaves the source as it
// was and reports the loss in JSON; an export of the damaged table is partial.
TEST(RepairTool, NewFileJsonReportAndPartialExport) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string damaged = dir.File("damaged.mdb"), repaired = dir.File("repaired.mdb");
  damage::Result result;
  ASSERT_TRUE(damage::MakeDamagedCopy(TestDataDir() + "/jet3/nwind.mdb", damaged, damage::Kind::kRowInFreeSpace,
                                      &result).ok());
  const std::string before = testing_support::ReadFileBytes(damaged);
  ASSERT_TRUE(testing_support::WriteFileBytes(repaired, "taken"));
  tools_test::ProgramResult r = RunProgram({JetdbPath(), "repair", damaged, "-o", repaired});
  EXPECT_EQ(r.exit_code, 3) << r.err;
  EXPECT_EQ(r.err, "jetdb: destination exists: " + repaired + "\n");
  ASSERT_EQ(std::remove(repaired.c_str()), 0);

  r = RunProgram({JetdbPath(), "repair", "--json", damaged, "--output", repaired});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(testing_support::ReadFileBytes(damaged), before);
  EXPECT_EQ(RunProgram({JetdbPath(), "check", repaired}).exit_code, 0);
  const nlohmann::json report = nlohmann::json::parse(r.out);
  EXPECT_EQ(report["rewritten"], true);
  EXPECT_EQ(report["rows_lost"], 1);
  bool found = false;
  for (const nlohmann::json& t : report["tables"]) {
    uint64_t by_reason = 0;
    for (const auto& [reason, rows] : t["lost_by_reason"].items()) by_reason += rows.get<uint64_t>();
    EXPECT_EQ(by_reason, t["rows_lost"].get<uint64_t>()) << t;
    EXPECT_EQ(t["rows_found"].get<uint64_t>(), t["rows_kept"].get<uint64_t>() + by_reason) << t;
    if (t["name"] != result.table) continue;
    found = true;
    EXPECT_EQ(t["rows_lost"], 1);
    EXPECT_EQ(t["lost_by_reason"]["undecodable"], 1);
  }
  EXPECT_TRUE(found) << r.out;

  // The export leaves out the one row, says so, and exits 1; the repaired file
  // exports the same rows, whole.
  r = RunProgram({JetdbPath(), "export", damaged, result.table});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("table \"" + result.table + "\": 1 row could not be read"), std::string::npos) << r.err;
  const tools_test::ProgramResult whole = RunProgram({JetdbPath(), "export", repaired, result.table});
  EXPECT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_EQ(r.out, whole.out);
}

// Each kind of damage on a Jet 3 and a Jet 4 file: after the repair mdb-export reads
// every table, and its row count is what the engine counts.
TEST(RepairTool, RepairedFilesReadInMdbtools) {
  SKIP_WITHOUT_TESTDATA();
  if (!tools_test::OnPath("mdb-export") || !tools_test::OnPath("mdb-tables")) GTEST_SKIP() << "mdbtools not installed";
  TempDir dir;
  int exported = 0;
  for (const char* name : {"jet3/nwind.mdb", "jet4/jk_test2_2000.mdb", "jet4/sqlp_northwind.mdb"}) {
    for (damage::Kind kind : damage::AllKinds()) {
      const std::string path = dir.File(std::string(damage::KindName(kind)) + ".mdb");
      std::remove(path.c_str());
      damage::Result result;
      jet::Status s = damage::MakeDamagedCopy(TestDataDir() + "/" + name, path, kind, &result);
      if (s.kind() == jet::ErrorKind::kNotFound) continue;
      ASSERT_TRUE(s.ok()) << s.ToString();
      ASSERT_EQ(RunProgram({JetdbPath(), "repair", path}).exit_code, 0) << name << " " << damage::KindName(kind);
      tools_test::ProgramResult tables = RunProgram({"mdb-tables", "-1", path});
      ASSERT_EQ(tables.exit_code, 0) << tables.err;
      uint64_t rows = 0;
      for (const std::string& table : Lines(tables.out)) {
        if (table.empty()) continue;
        tools_test::ProgramResult e = RunProgram({"mdb-export", path, table});
        EXPECT_EQ(e.exit_code, 0) << name << " " << damage::KindName(kind) << " table " << table << ": " << e.err;
        std::vector<tools_test::CsvRow> csv;
        ASSERT_TRUE(tools_test::ParseCsv(e.out, &csv)) << table;
        ASSERT_FALSE(csv.empty());
        rows += csv.size() - 1;  // the header line
        ++exported;
      }
      // The engine counts the same rows.
      std::unique_ptr<jet::Database> db;
      ASSERT_TRUE(jet::Database::Open(path, &db).ok());
      uint64_t ours = 0;
      for (const jet::CatalogObject* table : db->Tables(false)) {
        const jet::TableDef* def;
        ASSERT_TRUE(db->GetTableDef(uint32_t(table->id), &def).ok());
        ASSERT_TRUE(db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>&) {
                       ++ours;
                       return true;
                     }).ok());
      }
      EXPECT_EQ(rows, ours) << name << " " << damage::KindName(kind);
      std::cout << name << " " << damage::KindName(kind) << ": mdb-export read " << rows << " user-table rows\n";
    }
  }
  EXPECT_GT(exported, 30);
}

}  // namespace
