// Every user table of every real Jet 3 and Jet 4 test file, exported by jetdb and by
// mdbtools' mdb-export, must give the same rows after the normalisation below, which
// lists every known difference and, where the two readers disagree on a value, the
// bytes that show which one is right.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>

#include "jet/read/database.h"
#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"

namespace {

using tools_test::CsvRow;

// mdb-export's options that bring its output closest to ours: dates in the same
// ISO-like form (-D for dates, -T for date/times), binary and OLE data as hex (-b hex).
// Its quoting (text-like fields always quoted, quotes doubled) parses to the same
// fields as ours, and both write a null as an empty unquoted field and an empty text
// as "", so neither needs normalising.
const std::vector<std::string> kMdbExportOptions = {
    "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex"};

// The remaining known differences, applied to our field so that it compares equal to
// mdb-export's when the stored value is the same. Each was checked against the bytes
// of the files; where the two disagree on the value, ours is the one the bytes give.
//  * Column order: we list columns in the order of the table definition (the order
//    Access shows them in); mdb-export orders them by column number, which differs
//    when columns were added or moved (dbjs_test, fc_relational, fc_reviews,
//    rk_inventory). Fields are matched by column name (see CompareTable).
//  * Double: mdb-export prints "%.16g", which is not always the shortest text that
//    reads back to the same double (-88.1012428 shows as -88.10124279999999); we print
//    the shortest. Our text is read back and printed the same way.
//  * Single: mdb-export prints "%.8g" of the float (0.15 shows as 0.15000001); we
//    print the shortest text of the float.
//  * Binary and OLE: mdb-export's hex is upper case, ours lower case.
//  * GUID (Replication ID): mdb-export writes {8E39276A-BCA8-4AC4-891E49911D8438DD},
//    without the hyphen between the fourth and fifth groups that the GUID form has
//    (8-4-4-4-12, as Access shows it), and with -b hex the hex of that ASCII text
//    (jk_indexcodes Table13); we write the text in the standard form.
//  * Dates mdb-export cannot show: before 1899-12-30 (negative day counts) and in the
//    year 9999 it writes the impossible "1900-01-00 00:00:00". The bytes hold -728.0 (1898-01-01) and
//    2958101.0 (9999-01-01) in mdbtd_dates, whose text columns say "Pre-1900 years" and
//    "Year 9999"; meza_test holds 17th-century dates the same way. Ours is right.
//  * Zero-length text: a variable column whose null-mask bit is set and whose length
//    is 0 is an empty text, not a null (rk_inventory "Switchboard Items".Argument of
//    rows 17 and 18: mask 0x1F, offsets 0x3A..0x3A); mdb-export writes it as a null.
//  * Jet 3 text in code page 1252, bytes 0x81, 0x8D, 0x8F, 0x90, 0x9D: Windows maps them
//    to U+0081 ... U+009D, and so do we; mdb-export's iconv refuses them and writes "?"
//    (jk_indexcodes Table1, Table14: rows made of every byte value). Jet 4 text is
//    UCS-2 and has no such bytes.
// Everything else (integers, currency with 4 decimals, booleans as 0/1, text, dates
// to the second, quoting, nulls as empty unquoted fields) is written alike.
std::optional<std::string> NormaliseOurs(jet::ColumnType type, bool jet3,
                                         const std::optional<std::string>& field) {
  if (!field) return field;
  char buffer[64];
  switch (type) {
    case jet::ColumnType::kDouble:
      std::snprintf(buffer, sizeof buffer, "%.16g", std::strtod(field->c_str(), nullptr));
      return std::string(buffer);
    case jet::ColumnType::kSingle:
      std::snprintf(buffer, sizeof buffer, "%.8g",
                    static_cast<double>(std::strtof(field->c_str(), nullptr)));
      return std::string(buffer);
    case jet::ColumnType::kBinary:
    case jet::ColumnType::kOle: {
      std::string upper = *field;
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      return upper;
    }
    case jet::ColumnType::kGuid: {
      static const char kHex[] = "0123456789ABCDEF";
      std::string text = *field;
      if (text.size() == 38 && text[24] == '-') text.erase(24, 1);
      std::string hex;
      for (unsigned char c : text) {
        hex += kHex[c >> 4];
        hex += kHex[c & 0xF];
      }
      return hex;
    }
    case jet::ColumnType::kDateTime:
      if (*field < "1899-12-30" || field->rfind("9999-", 0) == 0) return "1900-01-00 00:00:00";
      return field;
    case jet::ColumnType::kText:
    case jet::ColumnType::kMemo: {
      if (field->empty()) return std::nullopt;
      if (!jet3) return field;
      std::string text;
      for (size_t n = 0; n < field->size(); ++n) {
        const unsigned char c = (*field)[n], next = n + 1 < field->size() ? (*field)[n + 1] : 0;
        if (c == 0xC2 && (next == 0x81 || next == 0x8D || next == 0x8F || next == 0x90 || next == 0x9D)) {
          text += '?';
          ++n;
        } else {
          text += static_cast<char>(c);
        }
      }
      return text;
    }
    default:
      return field;
  }
}

std::string RowText(const std::vector<std::string>& header, const CsvRow& row) {
  std::string text;
  for (size_t n = 0; n < row.size(); ++n) {
    if (n > 0) text += " | ";
    if (n < header.size()) text += header[n] + "=";
    std::string value = row[n] ? *row[n] : "<null>";
    if (value.size() > 60) value = value.substr(0, 60) + "...";
    text += value;
  }
  return text;
}

struct TableResult {
  bool matched = false;
  std::string message;
};

TableResult CompareTable(const std::string& path, const std::string& table_name, jet::Database& db) {
  TableResult result;
  std::vector<std::string> mdb_argv = {"mdb-export"};
  mdb_argv.insert(mdb_argv.end(), kMdbExportOptions.begin(), kMdbExportOptions.end());
  mdb_argv.push_back(path);
  mdb_argv.push_back(table_name);
  const tools_test::ProgramResult mdb = tools_test::RunProgram(mdb_argv);
  const tools_test::ProgramResult ours =
      tools_test::RunProgram({tools_test::JetdbPath(), "export", path, table_name});
  if (mdb.exit_code != 0) {
    result.message = "mdb-export failed: " + mdb.err;
    return result;
  }
  if (ours.exit_code != 0) {
    result.message = "jetdb export failed (" + std::to_string(ours.exit_code) + "): " + ours.err;
    return result;
  }
  std::vector<CsvRow> mdb_rows, our_rows;
  if (!tools_test::ParseCsv(mdb.out, &mdb_rows)) {
    result.message = "mdb-export's output is not CSV";
    return result;
  }
  if (!tools_test::ParseCsv(ours.out, &our_rows)) {
    result.message = "jetdb's output is not CSV";
    return result;
  }
  if (mdb_rows.empty() || our_rows.empty()) {
    result.message = "no header line";
    return result;
  }
  std::vector<std::string> header;
  for (const auto& name : our_rows[0]) header.push_back(name.value_or(""));
  // The same columns, perhaps in another order: mdb_columns[n] is the position in
  // mdb-export's lines of our column n.
  std::vector<size_t> mdb_columns;
  for (const auto& name : our_rows[0]) {
    const auto it = std::find(mdb_rows[0].begin(), mdb_rows[0].end(), name);
    if (it == mdb_rows[0].end() || mdb_rows[0].size() != our_rows[0].size()) {
      result.message = "columns differ: ours " + RowText({}, our_rows[0]) + "; mdb-export " +
                       RowText({}, mdb_rows[0]);
      return result;
    }
    mdb_columns.push_back(it - mdb_rows[0].begin());
  }
  for (CsvRow& row : mdb_rows) {
    if (row.size() != mdb_columns.size()) continue;  // left as is; will not compare equal
    CsvRow reordered;
    for (size_t position : mdb_columns) reordered.push_back(row[position]);
    row = std::move(reordered);
  }

  const jet::TableDef* table = nullptr;
  const jet::Status status = db.GetTableDefByName(table_name, &table);
  if (!status.ok()) {
    result.message = "table definition: " + status.ToString();
    return result;
  }
  std::vector<jet::ColumnType> types;
  for (const std::string& name : header) {
    const int position = table->FindColumnByName(name);
    types.push_back(position >= 0 ? table->columns[position].type() : jet::ColumnType::kText);
  }
  const auto prepare = [&](std::vector<CsvRow>& rows, bool normalise) {
    rows.erase(rows.begin());
    for (CsvRow& row : rows) {
      for (size_t n = 0; normalise && n < row.size() && n < types.size(); ++n)
        row[n] = NormaliseOurs(types[n], jet::IsJet3(db.format().version), row[n]);
    }
    // Row order is storage order in both, but neither promises it; compare as sets.
    std::sort(rows.begin(), rows.end());
  };
  prepare(our_rows, true);
  prepare(mdb_rows, false);
  if (our_rows == mdb_rows) {
    result.matched = true;
    return result;
  }

  std::ostringstream message;
  message << "rows differ (ours " << our_rows.size() << ", mdb-export " << mdb_rows.size() << ")";
  std::vector<CsvRow> only_ours, only_mdb;
  std::set_difference(our_rows.begin(), our_rows.end(), mdb_rows.begin(), mdb_rows.end(),
                      std::back_inserter(only_ours));
  std::set_difference(mdb_rows.begin(), mdb_rows.end(), our_rows.begin(), our_rows.end(),
                      std::back_inserter(only_mdb));
  for (size_t n = 0; n < only_ours.size() && n < 3; ++n)
    message << "\n    only ours:       " << RowText(header, only_ours[n]);
  for (size_t n = 0; n < only_mdb.size() && n < 3; ++n)
    message << "\n    only mdb-export: " << RowText(header, only_mdb[n]);
  result.message = message.str();
  return result;
}

std::vector<std::string> OracleFiles() {
  std::vector<std::string> files;
  for (const char* folder : {"jet3", "jet4"})
    for (const std::string& path : testing_support::TestDataFiles(folder)) files.push_back(path);
  // Without the test files there is still one test, which skips with the reason.
  if (files.empty()) files.push_back("");
  return files;
}

class MdbExportOracleTest : public testing::TestWithParam<std::string> {};

TEST_P(MdbExportOracleTest, EveryTableExportsTheSameRows) {
  SKIP_WITHOUT_TESTDATA();
  if (!tools_test::OnPath("mdb-export") || !tools_test::OnPath("mdb-tables"))
    GTEST_SKIP() << "mdbtools (mdb-export, mdb-tables) is not installed";
  const std::string path = GetParam();
  const std::string file_name = path.substr(path.find_last_of('/') + 1);

  const tools_test::ProgramResult tables = tools_test::RunProgram({"mdb-tables", "-1", path});
  ASSERT_EQ(tables.exit_code, 0) << tables.err;
  std::vector<std::string> names;
  std::istringstream lines(tables.out);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) names.push_back(line);

  // The same user tables (catalog order may differ; compare as sets).
  const tools_test::ProgramResult our_tables =
      tools_test::RunProgram({tools_test::JetdbPath(), "tables", path});
  ASSERT_EQ(our_tables.exit_code, 0) << our_tables.err;
  std::vector<std::string> our_names;
  std::istringstream our_lines(our_tables.out);
  for (std::string line; std::getline(our_lines, line);)
    if (line.find('\t') == std::string::npos) our_names.push_back(line);  // not a linked table
  std::vector<std::string> sorted_names = names;
  std::sort(sorted_names.begin(), sorted_names.end());
  std::sort(our_names.begin(), our_names.end());
  EXPECT_EQ(our_names, sorted_names) << "jetdb tables and mdb-tables list different tables";

  std::unique_ptr<jet::Database> db;
  const jet::Status status = jet::Database::Open(path, &db);
  ASSERT_TRUE(status.ok()) << status.ToString();

  int matched = 0;
  for (const std::string& name : names) {
    const TableResult result = CompareTable(path, name, *db);
    if (result.matched) ++matched;
    else ADD_FAILURE() << file_name << " / " << name << ": " << result.message;
  }
  std::cout << "[ oracle   ] " << file_name << ": " << matched << " of " << names.size()
            << " tables match mdb-export\n";
}

std::string ParamName(const testing::TestParamInfo<std::string>& info) {
  if (info.param.empty()) return "NoTestData";
  std::string name = info.param;
  const size_t slash = name.find_last_of('/');
  const std::string folder = name.substr(0, slash);
  name = folder.substr(folder.find_last_of('/') + 1) + "_" + name.substr(slash + 1);
  for (char& c : name)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(RealFiles, MdbExportOracleTest, testing::ValuesIn(OracleFiles()), ParamName);

}  // namespace
