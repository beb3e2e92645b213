// SQL for other databases: the schema of a Jet file as DDL (tables, keys, indexes,
// foreign keys) and its values as literals, in the dialects of SQLite, PostgreSQL and
// MySQL. doc/sql-types.md gives the type mapping; ColumnTypeSql is its one home.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/read/database.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jetdb {

enum class Dialect { kSqlite, kPostgres, kMysql };

// "sqlite", "postgres" (or "postgresql"), "mysql"; false for anything else.
bool ParseDialect(const std::string& name, Dialect* dialect);

// A table, column, index or constraint name, quoted for the dialect.
std::string QuoteName(Dialect dialect, const std::string& name);

// An enforced relationship of the file as a foreign key: `table`.`columns` refer to
// `referenced_table`.`referenced_columns`.
struct ForeignKey {
  std::string name;
  std::string table;
  std::vector<std::string> columns;
  std::string referenced_table;
  std::vector<std::string> referenced_columns;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

struct SqlTable {
  std::string name;
  const jet::TableDef* def = nullptr;  // owned by the Database
  std::vector<bool> required;          // by position in def->columns: NOT NULL
  std::vector<bool> not_unique;        // by position in def->logical_indexes: the rows
                                       // repeat a key of this unique index (or primary key)
};

// What the DDL is made from: the user tables in catalog order and the foreign keys
// between them.
struct SqlSchema {
  jet::Version version = jet::Version::kJet4;
  std::vector<SqlTable> tables;
  std::vector<ForeignKey> foreign_keys;
  // Rules of the file its rows break, each left out of the DDL so that the rows load.
  std::vector<std::string> notes;
};

// Reads the definitions of every user table, the "Required" setting of each column
// (MSysObjects.LvProp) and the enforced relationships (MSysRelationships) whose two
// tables are both user tables of the file. Access applies a rule added later only
// to rows written after it (and a damaged file may break any rule), so the rows are
// read too: a NOT NULL, unique index, primary key or foreign key the rows break is
// left out (the primary key and unique index become plain indexes), with a note.
jet::Status ReadSqlSchema(jet::Database& db, SqlSchema* schema);

// The column's type in the dialect (doc/sql-types.md).
std::string ColumnTypeSql(Dialect dialect, const jet::ColumnDef& column, jet::Version version);

// True for an AutoNumber column (a Long Integer the engine numbers).
bool IsAutoNumber(const jet::ColumnDef& column);

// CREATE TABLE for schema.tables[n], with its primary key and, for SQLite (which has
// no ALTER TABLE for them), its foreign keys.
std::string CreateTableSql(Dialect dialect, const SqlSchema& schema, size_t n);
// CREATE [UNIQUE] INDEX statements for the other indexes of schema.tables[n].
std::string CreateIndexesSql(Dialect dialect, const SqlSchema& schema, size_t n);
// ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY for every foreign key (PostgreSQL:
// deferrable, so rows may be loaded in any order within one transaction); "" for
// SQLite, whose foreign keys are part of CREATE TABLE.
std::string ForeignKeysSql(Dialect dialect, const SqlSchema& schema);
// All of it: tables, indexes, then foreign keys.
std::string SchemaSql(Dialect dialect, const SqlSchema& schema);

// A value as an SQL literal of the dialect: NULL, numbers, exact decimals, dates as
// 'YYYY-MM-DD HH:MM:SS', text quoted, binary as the dialect's blob literal.
std::string SqlLiteral(Dialect dialect, const jet::Value& value);

// "INSERT INTO t (c1, c2) VALUES (" for the table's columns; the row's literals and
// ");" complete a statement.
std::string InsertPrefix(Dialect dialect, const SqlTable& table);
// What follows the rows of a table with an AutoNumber: the number the next new row
// gets, past both the largest value loaded (`largest`) and the last one Access gave
// out. PostgreSQL's identity and MySQL's AUTO_INCREMENT are set to it; SQLite's
// AUTOINCREMENT follows the rows by itself. "" when nothing is needed.
std::string AfterRowsSql(Dialect dialect, const SqlTable& table, int64_t largest);
// What precedes the rows of a table: MySQL turns foreign-key checks off for the
// session, so tables may be loaded in any order; "" otherwise.
std::string BeforeRowsSql(Dialect dialect);

}  // namespace jetdb
