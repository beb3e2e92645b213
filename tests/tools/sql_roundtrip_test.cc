// Every real test file, carried into real databases by jetdb and read back there:
//  * SQLite, through libsqlite3: the file `jetdb to-sqlite` writes, and a database
//    made by running `jetdb schema --sql sqlite` and `jetdb export --format sql`;
//  * PostgreSQL: a throwaway server (tests/support/postgres.sh) loaded with
//    `jetdb schema --sql postgres` and `jetdb export --all --format sql` by psql.
// Each table must hold the rows `jetdb export --format json` gives: the same count
// and, compared as sorted lists, the same values.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <sstream>

#include "jet/read/database.h"
#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"

namespace {

using tools_test::JetdbPath;
using tools_test::ProgramResult;
using tools_test::RunProgram;
using Row = std::vector<std::optional<std::string>>;
using jet::ColumnType;

std::vector<std::string> AllTestFiles() {
  std::vector<std::string> files;
  for (const char* folder : {"jet3", "jet4", "ace"})
    for (const std::string& f : testing_support::TestDataFiles(folder)) files.push_back(f);
  return files;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (size_t n = 0; n < size; ++n) {
    out += kDigits[bytes[n] >> 4];
    out += kDigits[bytes[n] & 15];
  }
  return out;
}

// One value in a form both sides agree on when the value is the same: floats as
// their exact binary value, dates with a blank, binary as lowercase hex, GUIDs in
// lowercase without braces, Yes/No as 1/0; everything else as its text.
std::optional<std::string> Canonical(ColumnType type, std::optional<std::string> text) {
  if (!text) return text;
  std::string& t = *text;
  char buffer[64];
  switch (type) {
    case ColumnType::kBoolean:
      return std::string(t == "true" || t == "1" ? "1" : "0");
    case ColumnType::kSingle:
      std::snprintf(buffer, sizeof buffer, "%.9g", double(std::strtof(t.c_str(), nullptr)));
      return std::string(buffer);
    case ColumnType::kDouble:
      std::snprintf(buffer, sizeof buffer, "%.17g", std::strtod(t.c_str(), nullptr));
      return std::string(buffer);
    case ColumnType::kDateTime:
      if (t.size() > 10 && t[10] == 'T') t[10] = ' ';
      return t;
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return t.rfind("\\x", 0) == 0 ? t.substr(2) : t;
    case ColumnType::kGuid: {
      std::string out;
      for (char c : t)
        if (c != '{' && c != '}') out += char(std::tolower(static_cast<unsigned char>(c)));
      return out;
    }
    default:
      return t;
  }
}

struct Table {
  std::string name;
  std::vector<ColumnType> types;
  std::vector<std::string> columns;
};

std::vector<Table> UserTables(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  EXPECT_TRUE(jet::Database::Open(path, &db).ok()) << path;
  std::vector<Table> tables;
  if (!db) return tables;
  for (const jet::CatalogObject* object : db->Tables(false)) {
    const jet::TableDef* def = nullptr;
    if (!db->GetTableDefByName(object->name, &def).ok()) continue;
    Table table{object->name, {}, {}};
    for (const jet::ColumnDef& c : def->columns) {
      table.types.push_back(c.type());
      table.columns.push_back(c.name);
    }
    tables.push_back(table);
  }
  return tables;
}

// The rows of `table` as jetdb exports them, canonical and sorted.
std::vector<Row> ExportedRows(const std::string& path, const Table& table) {
  const ProgramResult r = RunProgram({JetdbPath(), "export", "--format", "json", path, table.name});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<Row> rows;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json object = nlohmann::json::parse(line);
    Row row;
    for (size_t c = 0; c < table.columns.size(); ++c) {
      const nlohmann::json& v = object.at(table.columns[c]);
      row.push_back(Canonical(table.types[c], v.is_null() ? std::nullopt
                                              : v.is_string() ? std::optional<std::string>(v.get<std::string>())
                                                              : std::optional<std::string>(v.dump())));
    }
    rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

std::string SqliteName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::vector<Row> SqliteRows(sqlite3* db, const Table& table) {
  std::vector<Row> rows;
  sqlite3_stmt* statement = nullptr;
  const std::string sql = "SELECT * FROM " + SqliteName(table.name);
  EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
    Row row;
    for (size_t c = 0; c < table.columns.size(); ++c) {
      const int column = int(c);
      std::optional<std::string> text;
      if (sqlite3_column_type(statement, column) == SQLITE_BLOB) {
        text = Hex(static_cast<const unsigned char*>(sqlite3_column_blob(statement, column)),
                   size_t(sqlite3_column_bytes(statement, column)));
      } else if (sqlite3_column_type(statement, column) == SQLITE_FLOAT) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.17g", sqlite3_column_double(statement, column));
        text = buffer;
      } else if (sqlite3_column_type(statement, column) != SQLITE_NULL) {
        text = std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, column)),
                           size_t(sqlite3_column_bytes(statement, column)));
      }
      row.push_back(Canonical(table.types[c], text));
    }
    rows.push_back(row);
  }
  sqlite3_finalize(statement);
  std::sort(rows.begin(), rows.end());
  return rows;
}

void ExpectSameRows(const std::vector<Row>& ours, const std::vector<Row>& theirs, const std::string& where) {
  ASSERT_EQ(ours.size(), theirs.size()) << where << ": row counts differ";
  for (size_t n = 0; n < ours.size(); ++n)
    if (ours[n] != theirs[n]) {
      ADD_FAILURE() << where << ": the rows differ from sorted row " << n;
      return;
    }
}

std::string ReadAll(const std::string& path) { return testing_support::ReadFileBytes(path); }

// The rules Northwind's tables keep, as SQLite keeps them after to-sqlite: the next
// AutoNumber, a Required column, the foreign keys of Orders.
void ExpectNorthwindRules(sqlite3* db) {
  const auto scalar = [&](const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::string value = "(error)";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
      const int step = sqlite3_step(statement);
      value = step == SQLITE_ROW ? reinterpret_cast<const char*>(sqlite3_column_text(statement, 0))
                                 : step == SQLITE_DONE ? "" : "(error)";
    }
    sqlite3_finalize(statement);
    return value;
  };
  EXPECT_EQ(scalar("INSERT INTO Shippers (CompanyName) VALUES ('x') RETURNING ShipperID"), "4");
  EXPECT_EQ(scalar("INSERT INTO Shippers (CompanyName) VALUES (NULL) RETURNING ShipperID"), "(error)");
  EXPECT_EQ(scalar("SELECT count(*) FROM pragma_foreign_key_list('Orders')"), "3");
}

TEST(SqlRoundTrip, SqliteHoldsWhatJetdbExports) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  for (const std::string& path : AllTestFiles()) {
    SCOPED_TRACE(path);
    const std::string name = std::filesystem::path(path).filename().string();
    // By to-sqlite, and by the SQL text run through the library.
    const std::string converted = dir.File(name + ".sqlite");
    const ProgramResult made = RunProgram({JetdbPath(), "to-sqlite", path, converted});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    const ProgramResult schema = RunProgram({JetdbPath(), "schema", "--sql", "sqlite", path});
    ASSERT_EQ(schema.exit_code, 0) << schema.err;
    const std::string data = dir.File(name + ".data");
    const ProgramResult exported =
        RunProgram({JetdbPath(), "export", "--all", data, "--format", "sql", "--dialect", "sqlite", path});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    sqlite3* loaded = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &loaded), SQLITE_OK);
    std::string script = schema.out;
    for (const auto& entry : std::filesystem::directory_iterator(data)) script += ReadAll(entry.path().string());
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(loaded, script.c_str(), nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);

    sqlite3* written = nullptr;
    ASSERT_EQ(sqlite3_open_v2(converted.c_str(), &written, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    for (const Table& table : UserTables(path)) {
      const std::vector<Row> ours = ExportedRows(path, table);
      ExpectSameRows(ours, SqliteRows(written, table), name + " to-sqlite, table " + table.name);
      ExpectSameRows(ours, SqliteRows(loaded, table), name + " SQL text, table " + table.name);
    }
    if (name == "nwind.mdb") ExpectNorthwindRules(written);
    sqlite3_close(written);
    sqlite3_close(loaded);
  }
}

// A PostgreSQL server of its own for the test, stopped however the test ends.
class PostgresServer {
 public:
  explicit PostgresServer(const std::string& dir) : dir_(dir) {
    script_ = std::string(ZIVADIDUZ_SOURCE_DIR) + "/tests/support/postgres.sh";
    start_ = RunProgram({"bash", script_, "start", dir_});
    if (start_.exit_code == 0) socket_ = start_.out.substr(0, start_.out.find('\n'));
  }
  ~PostgresServer() {
    if (start_.exit_code != 77) {
      const ProgramResult stop = RunProgram({"bash", script_, "stop", dir_});
      EXPECT_EQ(stop.exit_code, 0) << stop.err;
    }
  }
  bool missing() const { return start_.exit_code == 77; }
  bool running() const { return !socket_.empty(); }
  const ProgramResult& start() const { return start_; }
  std::vector<std::string> Psql(const std::string& database) const {
    return {"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", socket_, "-U", "jetdb", "-d", database};
  }

 private:
  std::string dir_, script_, socket_;
  ProgramResult start_;
};

// The rows of every table of schema `schema`, canonical and sorted, by one psql run:
// one line per row, "<table number> TAB <JSON array of the values as text>".
std::vector<std::vector<Row>> PostgresRows(const PostgresServer& server, const std::string& schema,
                                           const std::vector<Table>& tables) {
  std::vector<std::string> argv = server.Psql("postgres");
  argv.insert(argv.end(), {"-A", "-t"});
  for (size_t t = 0; t < tables.size(); ++t) {
    std::string select = "SELECT '" + std::to_string(t) + "' || chr(9) || array_to_json(ARRAY[";
    for (size_t c = 0; c < tables[t].columns.size(); ++c)
      select += (c ? ", " : "") + SqliteName(tables[t].columns[c]) + "::text";
    select += "]::text[])::text FROM " + schema + "." + SqliteName(tables[t].name);
    argv.insert(argv.end(), {"-c", select});
  }
  std::vector<std::vector<Row>> rows(tables.size());
  if (tables.empty()) return rows;
  const ProgramResult r = RunProgram(argv);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    const size_t tab = line.find('\t');
    const size_t t = std::stoul(line.substr(0, tab));
    const nlohmann::json values = nlohmann::json::parse(line.substr(tab + 1));
    Row row;
    for (size_t c = 0; c < tables[t].columns.size(); ++c)
      row.push_back(Canonical(tables[t].types[c], values[c].is_null()
                                                      ? std::nullopt
                                                      : std::optional<std::string>(values[c].get<std::string>())));
    rows[t].push_back(row);
  }
  for (auto& table_rows : rows) std::sort(table_rows.begin(), table_rows.end());
  return rows;
}

TEST(SqlRoundTrip, PostgresHoldsWhatJetdbExports) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  PostgresServer server(dir.path());
  if (server.missing()) GTEST_SKIP() << "PostgreSQL is not installed: " << server.start().err;
  ASSERT_TRUE(server.running()) << server.start().err;
  if (!tools_test::OnPath("psql")) GTEST_SKIP() << "psql is not installed";
  int file_number = 0;
  for (const std::string& path : AllTestFiles()) {
    SCOPED_TRACE(path);
    const std::string name = std::filesystem::path(path).filename().string();
    // A schema per file in one database: far quicker to make than a database each.
    const std::string schema_name = "f" + std::to_string(++file_number);
    const std::string schema = dir.File(name + ".schema.sql"), data = dir.File(name + ".data");
    const ProgramResult ddl = RunProgram({JetdbPath(), "schema", "--sql", "postgres", path});
    ASSERT_EQ(ddl.exit_code, 0) << ddl.err;
    ASSERT_TRUE(testing_support::WriteFileBytes(schema, ddl.out));
    const ProgramResult exported =
        RunProgram({JetdbPath(), "export", "--all", data, "--format", "sql", "--dialect", "postgres", path});
    ASSERT_EQ(exported.exit_code, 0) << exported.err;

    // One transaction, so the deferred foreign keys are checked once all rows are in.
    std::vector<std::string> load = server.Psql("postgres");
    load.insert(load.end(), {"-1", "-c", "CREATE SCHEMA " + schema_name + "; SET search_path TO " + schema_name,
                             "-f", schema});
    for (const auto& entry : std::filesystem::directory_iterator(data)) {
      load.push_back("-f");
      load.push_back(entry.path().string());
    }
    const ProgramResult loaded = RunProgram(load);
    ASSERT_EQ(loaded.exit_code, 0) << loaded.err;

    const std::vector<Table> tables = UserTables(path);
    const std::vector<std::vector<Row>> theirs = PostgresRows(server, schema_name, tables);
    for (size_t t = 0; t < tables.size(); ++t)
      ExpectSameRows(ExportedRows(path, tables[t]), theirs[t], name + ", table " + tables[t].name);
    if (name == "nwind.mdb") {
      // After the comparison: the next AutoNumber, a Required column and the foreign
      // keys, as PostgreSQL keeps them.
      std::vector<std::string> rules = server.Psql("postgres");
      rules.insert(rules.end(), {"-A", "-t", "-c", "SET search_path TO " + schema_name, "-c",
                                 "INSERT INTO \"Shippers\" (\"CompanyName\") VALUES ('x') RETURNING \"ShipperID\"",
                                 "-c",
                                 "SELECT count(*) FROM pg_constraint WHERE contype = 'f' AND "
                                 "conrelid = '\"Orders\"'::regclass"});
      const ProgramResult r = RunProgram(rules);
      EXPECT_EQ(r.out, "4\n3\n") << r.err;
      rules.resize(rules.size() - 4);
      rules.insert(rules.end(), {"-c", "INSERT INTO \"Shippers\" (\"CompanyName\") VALUES (NULL)"});
      EXPECT_NE(RunProgram(rules).exit_code, 0);
    }
  }
}

}  // namespace
