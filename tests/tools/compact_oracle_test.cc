// `jetdb compact` on every real Jet 3 and Jet 4 test file, judged by mdbtools: the
// compacted file lists the same tables (system tables included) and mdb-export gives
// every table the same rows as it gives the source (rows compared as sets, since the
// compaction reorders them on purpose; long values and binary data in hex; table ids
// in the system tables that hold them mapped by table name; saved queries' compiled
// plans dropped). The command's own output
// and failures are checked too.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) lines.push_back(line);
  return lines;
}

std::vector<std::string> SortedTables(const std::string& path, bool system) {
  std::vector<std::string> argv = {"mdb-tables", "-1"};
  if (system) argv.push_back("-S");
  argv.push_back(path);
  const tools_test::ProgramResult r = tools_test::RunProgram(argv);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<std::string> names = Lines(r.out);
  std::sort(names.begin(), names.end());
  return names;
}

// The rows of `table` as mdb-export gives them, parsed; false when it fails.
bool ExportRows(const std::string& path, const std::string& table, std::vector<tools_test::CsvRow>* rows) {
  const tools_test::ProgramResult r = tools_test::RunProgram({"mdb-export", "-b", "hex", path, table});
  return r.exit_code == 0 && tools_test::ParseCsv(r.out, rows) && !rows->empty();
}

int ColumnOf(const tools_test::CsvRow& header, const std::string& name) {
  for (size_t i = 0; i < header.size(); ++i)
    if (header[i] && *header[i] == name) return int(i);
  return -1;
}

// Table ids are definition pages, which the compaction moves: old id -> new id of
// every local table (Type 1), matched by name in the two MSysObjects exports.
std::map<std::string, std::string> TableIdMap(const std::string& source, const std::string& result) {
  std::map<std::string, std::string> by_name, ids;
  std::vector<tools_test::CsvRow> rows;
  for (int pass = 0; pass < 2; ++pass) {
    rows.clear();
    EXPECT_TRUE(ExportRows(pass == 0 ? result : source, "MSysObjects", &rows));
    if (rows.empty()) return ids;
    const int id = ColumnOf(rows[0], "Id"), name = ColumnOf(rows[0], "Name"), type = ColumnOf(rows[0], "Type");
    EXPECT_TRUE(id >= 0 && name >= 0 && type >= 0);
    if (id < 0 || name < 0 || type < 0) return ids;
    for (size_t r = 1; r < rows.size(); ++r) {
      const tools_test::CsvRow& row = rows[r];
      if (row.size() <= size_t(std::max({id, name, type})) || row[type].value_or("") != "1") continue;
      if (pass == 0) by_name[row[name].value_or("")] = row[id].value_or("");
      else ids[row[id].value_or("")] = by_name[row[name].value_or("")];
    }
  }
  return ids;
}

// The columns of system tables that hold table ids.
const std::map<std::string, std::string> kIdColumns = {{"MSysObjects", "Id"},
                                                       {"MSysACEs", "ObjectId"},
                                                       {"MSysNavPaneObjectIDs", "Id"},
                                                       {"MSysNavPaneGroupToObjects", "ObjectID"}};

// One table's rows as sorted text lines. With `ids` (the source's rows, as the result
// should have them): the id column mapped through `ids`, and saved queries' compiled
// plans (MSysObjects.Lv of Type 5) null, as the compaction drops them.
std::vector<std::string> RowLines(const std::vector<tools_test::CsvRow>& rows, const std::string& table,
                                  const std::map<std::string, std::string>* ids) {
  int id_column = -1, plan_column = -1, type_column = -1;
  if (ids != nullptr && kIdColumns.count(table)) id_column = ColumnOf(rows[0], kIdColumns.at(table));
  if (ids != nullptr && table == "MSysObjects") {
    plan_column = ColumnOf(rows[0], "Lv");
    type_column = ColumnOf(rows[0], "Type");
  }
  std::vector<std::string> lines;
  for (size_t r = 1; r < rows.size(); ++r) {
    std::string line;
    const bool query = type_column >= 0 && size_t(type_column) < rows[r].size() &&
                       rows[r][type_column].value_or("") == "5";
    for (size_t c = 0; c < rows[r].size(); ++c) {
      std::string field = rows[r][c] && !(query && int(c) == plan_column) ? "\"" + *rows[r][c] + "\"" : "<null>";
      if (int(c) == id_column && rows[r][c] && ids->count(*rows[r][c])) field = "\"" + ids->at(*rows[r][c]) + "\"";
      line += field + ",";
    }
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> JetFiles() {
  std::vector<std::string> files = testing_support::TestDataFiles("jet3");
  for (const std::string& f : testing_support::TestDataFiles("jet4")) files.push_back(f);
  if (files.empty()) files.push_back("");  // one test that skips with the reason
  return files;
}

class CompactOracleTest : public testing::TestWithParam<std::string> {};

TEST_P(CompactOracleTest, MdbtoolsReadsTheSameRowsFromTheCompactedFile) {
  SKIP_WITHOUT_TESTDATA();
  if (!tools_test::OnPath("mdb-export") || !tools_test::OnPath("mdb-tables"))
    GTEST_SKIP() << "mdbtools (mdb-export, mdb-tables) is not installed";
  const std::string source = GetParam();
  testing_support::TempDir dir;
  const std::string result = dir.File("compacted.mdb");
  const tools_test::ProgramResult run = tools_test::RunProgram({tools_test::JetdbPath(), "compact", source, result});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_NE(run.out.find("Pages:"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("reclaimed"), std::string::npos) << run.out;

  EXPECT_EQ(SortedTables(result, false), SortedTables(source, false));
  const std::vector<std::string> all = SortedTables(source, true);
  EXPECT_EQ(SortedTables(result, true), all);
  const std::map<std::string, std::string> ids = TableIdMap(source, result);
  EXPECT_FALSE(ids.empty());
  size_t compared = 0;
  for (const std::string& table : all) {
    SCOPED_TRACE(table);
    std::vector<tools_test::CsvRow> expected, found;
    if (!ExportRows(source, table, &expected)) continue;  // a table mdbtools cannot export at all
    ASSERT_TRUE(ExportRows(result, table, &found));
    EXPECT_TRUE(found[0] == expected[0]) << "the columns differ";
    const std::vector<std::string> a = RowLines(expected, table, &ids);
    const std::vector<std::string> b = RowLines(found, table, nullptr);
    EXPECT_TRUE(a == b) << "mdb-export gives " << b.size() << " rows, " << a.size() << " from the source";
    ++compared;
  }
  EXPECT_GT(compared, 0u);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, CompactOracleTest, testing::ValuesIn(JetFiles()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param.empty() ? "none" : info.param.substr(info.param.rfind('/') + 1);
                           for (char& c : name)
                             if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

TEST(CompactCommand, RefusesAnExistingDestinationAndBadArguments) {
  SKIP_WITHOUT_TESTDATA();
  const std::vector<std::string> files = testing_support::TestDataFiles("jet4");
  ASSERT_FALSE(files.empty());
  testing_support::TempDir dir;
  const std::string there = dir.File("there.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(there, "x"));
  tools_test::ProgramResult r = tools_test::RunProgram({tools_test::JetdbPath(), "compact", files[0], there});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.err, "jetdb: destination exists: " + there + "\n");
  EXPECT_EQ(testing_support::ReadFileBytes(there), "x");

  r = tools_test::RunProgram({tools_test::JetdbPath(), "compact", files[0]});
  EXPECT_EQ(r.exit_code, 2);
  r = tools_test::RunProgram({tools_test::JetdbPath(), "compact", "--format", "jet5", files[0], dir.File("a.mdb")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("--format takes jet3 or jet4"), std::string::npos) << r.err;
  r = tools_test::RunProgram(
      {tools_test::JetdbPath(), "compact", "--sort-order", "klingon", files[0], dir.File("b.mdb")});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_NE(r.err.find("sort order \"klingon\" is not one a Jet 4 file can be given (general, general-legacy, "
                       "chinese-prc)"),
            std::string::npos)
      << r.err;
  r = tools_test::RunProgram({tools_test::JetdbPath(), "compact", "--help"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.out.find("Usage: jetdb compact"), std::string::npos);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
}

}  // namespace
