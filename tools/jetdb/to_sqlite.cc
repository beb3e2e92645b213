// jetdb to-sqlite: a Jet file as a new SQLite database, through Debian's libsqlite3.
// The database is written beside its final name, one transaction per table (its
// table, rows and indexes), each table's row count checked against the rows read,
// and renamed into place only when whole.
#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/publish_file.h"
#include "jet/base/stale_temporary.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/sql.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {
namespace {

const char kToSqliteHelp[] =
    "Usage: jetdb to-sqlite [-q] [-c CP] SOURCE DEST.sqlite\n"
    "Writes the user tables of SOURCE, their rows, primary keys, indexes and foreign\n"
    "keys into the new SQLite database DEST.sqlite, which must not exist. Memo\n"
    "becomes TEXT, OLE and binary BLOB, dates ISO 8601 text (YYYY-MM-DD HH:MM:SS),\n"
    "currency and decimals text with every digit. Each table is one transaction and\n"
    "its row count is checked; DEST.sqlite appears only when it is whole. Rules the\n"
    "rows break (see jetdb(1)) are left out and named on standard error.\n\n"
    "  -c, --codepage CP  read Jet 3 text in Windows code page CP\n"
    "  -q, --quiet        no progress on the terminal\n"
    "  -h, --help         this help\n";

// An open SQLite database that is closed when it goes away.
class Connection {
 public:
  ~Connection() { sqlite3_close(db_); }
  sqlite3* db_ = nullptr;

  jet::Status Error(const std::string& what) const {
    const int code = db_ ? sqlite3_errcode(db_) : SQLITE_CANTOPEN;
    const jet::ErrorKind kind = code == SQLITE_FULL ? jet::ErrorKind::kNoSpace : jet::ErrorKind::kIoError;
    return jet::Status::Error(kind, what + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open"));
  }
  jet::Status Exec(const std::string& sql) const {
    return sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK ? jet::Status::Ok()
                                                                                 : Error("sqlite");
  }
};

// A prepared statement, finalized when it goes away.
class Statement {
 public:
  ~Statement() { sqlite3_finalize(statement_); }
  sqlite3_stmt* statement_ = nullptr;
};

// Binds one value as its SQLite storage class (doc/sql-types.md).
int Bind(sqlite3_stmt* statement, int place, const jet::Value& value) {
  using jet::ValueType;
  switch (value.type()) {
    case ValueType::kNull:
      return sqlite3_bind_null(statement, place);
    case ValueType::kBoolean:
      return sqlite3_bind_int(statement, place, value.boolean() ? 1 : 0);
    case ValueType::kByte:
    case ValueType::kInteger:
    case ValueType::kLong:
    case ValueType::kComplex:
    case ValueType::kBigInt:
      return sqlite3_bind_int64(statement, place, value.integer());
    case ValueType::kSingle:
    case ValueType::kDouble:
      return sqlite3_bind_double(statement, place, value.real());
    case ValueType::kText: {
      const std::string& text = value.text();
      return sqlite3_bind_text(statement, place, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
    case ValueType::kBinary: {
      const std::vector<uint8_t>& bytes = value.bytes();
      return sqlite3_bind_blob(statement, place, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    case ValueType::kCurrency:
    case ValueType::kNumeric:
    case ValueType::kDateTime:
    case ValueType::kGuid: {
      const std::string text = value.ToText();
      return sqlite3_bind_text(statement, place, text.data(), int(text.size()), SQLITE_TRANSIENT);
    }
  }
  return sqlite3_bind_null(statement, place);
}

// One table in one transaction: CREATE TABLE, its rows, its indexes; then its count.
jet::Status WriteTable(jet::Database& db, const SqlSchema& schema, size_t n, const Connection& out,
                       const std::function<void()>& row_done) {
  const SqlTable& table = schema.tables[n];
  jet::Status s = out.Exec("BEGIN");
  if (s.ok()) s = out.Exec(CreateTableSql(Dialect::kSqlite, schema, n));
  Statement insert;
  std::string sql = InsertPrefix(Dialect::kSqlite, table);
  for (size_t c = 0; c < table.def->columns.size(); ++c) sql += c ? ", ?" : "?";
  sql += ")";
  if (s.ok() && sqlite3_prepare_v2(out.db_, sql.c_str(), -1, &insert.statement_, nullptr) != SQLITE_OK)
    s = out.Error("table \"" + table.name + "\"");
  uint64_t rows = 0;
  jet::Status row_status;
  if (s.ok())
    s = db.ScanRows(*table.def, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
      sqlite3_reset(insert.statement_);
      for (size_t c = 0; c < table.def->columns.size(); ++c) {
        static const jet::Value kNull;
        if (Bind(insert.statement_, int(c + 1), c < values.size() ? values[c] : kNull) != SQLITE_OK) {
          row_status = out.Error("table \"" + table.name + "\"");
          return false;
        }
      }
      if (sqlite3_step(insert.statement_) != SQLITE_DONE) {
        row_status = out.Error("table \"" + table.name + "\", row " + std::to_string(rows + 1));
        return false;
      }
      ++rows;
      row_done();
      return true;
    });
  if (s.ok()) s = row_status;
  if (s.ok()) s = out.Exec(CreateIndexesSql(Dialect::kSqlite, schema, n));
  if (s.ok()) s = out.Exec("COMMIT");
  if (!s.ok()) return s;

  Statement count;
  const std::string count_sql = "SELECT count(*) FROM " + QuoteName(Dialect::kSqlite, table.name);
  if (sqlite3_prepare_v2(out.db_, count_sql.c_str(), -1, &count.statement_, nullptr) != SQLITE_OK ||
      sqlite3_step(count.statement_) != SQLITE_ROW)
    return out.Error("counting table \"" + table.name + "\"");
  const uint64_t counted = uint64_t(sqlite3_column_int64(count.statement_, 0));
  if (counted != rows)
    return jet::Status::Error(jet::ErrorKind::kIoError, "table \"" + table.name + "\": " + std::to_string(rows) +
                                                            " rows read but " + std::to_string(counted) +
                                                            " in the SQLite database");
  return jet::Status::Ok();
}

jet::Status WriteDatabase(jet::Database& db, const SqlSchema& schema, const std::string& path,
                          const std::function<void()>& row_done) {
  Connection out;
  if (sqlite3_open_v2(path.c_str(), &out.db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
    return out.Error("creating " + path);
  // The journal stays in memory: the file is not in place until it is whole, so a
  // crash only leaves a temporary file, which the next run removes. Every commit is
  // still flushed to disk (synchronous FULL), the last one before the rename.
  jet::Status s = out.Exec("PRAGMA journal_mode = MEMORY; PRAGMA synchronous = FULL; PRAGMA encoding = 'UTF-8'");
  for (size_t n = 0; s.ok() && n < schema.tables.size(); ++n) s = WriteTable(db, schema, n, out, row_done);
  if (s.ok() && sqlite3_close(out.db_) != SQLITE_OK) s = out.Error("closing " + path);
  if (s.ok()) out.db_ = nullptr;
  return s;
}

}  // namespace

int RunToSqlite(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const CommandSpec command{"to-sqlite", kToSqliteHelp, {kCodePageOption, kQuietOption}, 2, 2,
                            "a SOURCE and a DEST.sqlite"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  uint16_t code_page = 0;
  std::string error;
  if (!ParseCodePage(parsed, &code_page, &error)) return UsageError("to-sqlite", error);
  const std::string& destination = parsed.positional[1];
  jet::Env* env = jet::Env::Default();
  // Refuses an existing destination before any work, and clears what a crashed run
  // left beside it.
  jet::Publication publication;
  jet::Status s = publication.Begin(env, destination, jet::PublishOptions());
  if (!s.ok()) return ReportError(s);

  std::unique_ptr<jet::Database> db;
  s = OpenDatabase(parsed.positional[0], code_page, &db);
  SqlSchema schema;
  if (s.ok()) s = ReadSqlSchema(*db, &schema);
  if (!s.ok()) return ReportError(s);
  for (const std::string& note : schema.notes) std::fprintf(stderr, "jetdb: note: %s\n", note.c_str());

  CleanUpOnInterrupt([destination] { jet::RemoveOwnTemporaryFiles(jet::Env::Default(), destination); });
  uint64_t rows_done = 0, rows_total = 0;
  for (const SqlTable& table : schema.tables) rows_total += table.def->row_count;
  {
    Progress progress("to-sqlite", "rows", parsed.Has("quiet"));
    // SQLite writes the file itself, not through the Env; each of its commits is
    // flushed (synchronous FULL), so the file is on disk before the rename.
    s = WriteDatabase(*db, schema, publication.temporary(), [&] { progress.Update(++rows_done, rows_total); });
  }
  if (s.ok()) s = publication.Commit();
  if (!s.ok()) return ReportError(s);  // an unfinished publication takes its file away
  std::printf("%zu tables, %llu rows written to %s\n", schema.tables.size(),
              static_cast<unsigned long long>(rows_done), destination.c_str());
  s = FinishOutput();
  return s.ok() ? kExitOk : ReportError(s);
}

}  // namespace jetdb
