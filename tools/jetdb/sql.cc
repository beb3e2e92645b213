// SQL DDL and literals for SQLite, PostgreSQL and MySQL.
#include "tools/jetdb/sql.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "jet/read/properties.h"

namespace jetdb {
namespace {

using jet::ColumnType;

// MSysRelationships.grbit: the relationship is not enforced; cascades.
constexpr int64_t kRelationNotEnforced = 0x2;
constexpr int64_t kRelationCascadeUpdates = 0x100;
constexpr int64_t kRelationCascadeDeletes = 0x1000;

// MySQL indexes only a prefix of a long text or binary column.
constexpr int kMysqlIndexPrefix = 255;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string TextLiteral(Dialect dialect, const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += '\'';
    // MySQL reads backslash escapes in strings unless told otherwise.
    if (c == '\\' && dialect == Dialect::kMysql) out += '\\';
    out += c;
  }
  out += '\'';
  return out;
}

// Text of the column's "Text (n)" size in characters (Jet 4 stores bytes of UCS-2).
int TextLength(const jet::ColumnDef& column, jet::Version version) {
  return jet::IsJet3(version) ? column.length : column.length / 2;
}

std::string Joined(const std::vector<std::string>& parts, const std::string& separator) {
  std::string out;
  for (size_t n = 0; n < parts.size(); ++n) out += (n ? separator : "") + parts[n];
  return out;
}

// A primary key or unique index: no two rows share a key.
bool IsUnique(const jet::TableDef& def, const jet::LogicalIndex& index) {
  return index.index_type == jet::kLogicalIndexPrimaryKey ||
         (index.real_index < def.real_indexes.size() && (def.real_indexes[index.real_index].flags & jet::kIndexUnique));
}

// The primary key, when the table has one its rows keep to.
const jet::LogicalIndex* PrimaryKey(const SqlTable& table) {
  const jet::TableDef& def = *table.def;
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
    const jet::LogicalIndex& index = def.logical_indexes[i];
    const bool broken = i < table.not_unique.size() && table.not_unique[i];
    if (index.index_type == jet::kLogicalIndexPrimaryKey && index.real_index < def.real_indexes.size() && !broken)
      return &index;
  }
  return nullptr;
}

// The columns of a logical index, by position in def.columns; empty when the
// definition names a column that is not there.
std::vector<std::pair<size_t, bool>> IndexColumns(const jet::TableDef& def, const jet::LogicalIndex& index) {
  std::vector<std::pair<size_t, bool>> columns;
  if (index.real_index >= def.real_indexes.size()) return {};
  for (const jet::IndexColumn& c : def.real_indexes[index.real_index].columns) {
    const int position = def.FindColumnByNumber(c.column_number);
    if (position < 0) return {};
    columns.push_back({size_t(position), c.ascending});
  }
  return columns;
}

// SQLite gives a column AUTOINCREMENT only as the table's whole INTEGER PRIMARY KEY.
bool IsSqliteRowIdKey(const SqlTable& table, size_t column) {
  const jet::LogicalIndex* key = PrimaryKey(table);
  if (key == nullptr) return false;
  const auto columns = IndexColumns(*table.def, *key);
  return columns.size() == 1 && columns[0].first == column && IsAutoNumber(table.def->columns[column]);
}

// Index names are per database in SQLite and PostgreSQL: the table's name goes first.
std::string IndexName(Dialect dialect, const std::string& table, const std::string& index) {
  return dialect == Dialect::kMysql ? index : table + "_" + index;
}

bool IsLongColumn(const jet::ColumnDef& column) {
  return column.type() == ColumnType::kMemo || column.type() == ColumnType::kOle;
}

// A key of some columns of a row as one string, or "" when one of them is null (such
// a key is never a duplicate nor a dangling reference in the other databases).
std::string KeyOf(const std::vector<jet::Value>& row, const std::vector<size_t>& columns) {
  std::string key;
  for (size_t c : columns) {
    if (c >= row.size() || row[c].is_null()) return std::string();
    key += char('A' + int(row[c].type()));
    key += row[c].type() == jet::ValueType::kBinary ? Hex(row[c].bytes()) : row[c].ToText();
    key += '\x1f';
  }
  return key;
}

// "1 row", "2 rows".
std::string Rows(uint64_t n) { return std::to_string(n) + (n == 1 ? " row" : " rows"); }

int FindTable(const SqlSchema& schema, const std::string& name) {
  for (size_t n = 0; n < schema.tables.size(); ++n)
    if (schema.tables[n].name == name) return int(n);
  return -1;
}

std::vector<size_t> ColumnPositions(const jet::TableDef& def, const std::vector<std::string>& names) {
  std::vector<size_t> positions;
  for (const std::string& name : names) {
    const int position = def.FindColumnByName(name);
    if (position < 0) return {};
    positions.push_back(size_t(position));
  }
  return positions;
}

// Reads every row once and takes out of the schema what the rows break.
jet::Status FitRulesToRows(jet::Database& db, SqlSchema* schema) {
  // Keys the foreign keys refer to, by (referenced table, key columns).
  std::vector<std::set<std::string>> referenced(schema->foreign_keys.size());
  std::vector<uint64_t> dangling(schema->foreign_keys.size(), 0);
  std::vector<std::vector<std::string>> references(schema->foreign_keys.size());
  for (size_t t = 0; t < schema->tables.size(); ++t) {
    SqlTable& table = schema->tables[t];
    const jet::TableDef& def = *table.def;
    std::vector<uint64_t> nulls(def.columns.size(), 0);
    std::vector<std::set<std::string>> seen(def.logical_indexes.size());
    std::vector<uint64_t> repeats(def.logical_indexes.size(), 0);
    std::vector<std::vector<size_t>> index_columns(def.logical_indexes.size());
    for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
      if (!IsUnique(def, def.logical_indexes[i])) continue;
      for (const auto& [position, ascending] : IndexColumns(def, def.logical_indexes[i]))
        index_columns[i].push_back(position);
    }
    std::vector<std::vector<size_t>> from(schema->foreign_keys.size()), to(schema->foreign_keys.size());
    for (size_t k = 0; k < schema->foreign_keys.size(); ++k) {
      const ForeignKey& fk = schema->foreign_keys[k];
      if (fk.table == table.name) from[k] = ColumnPositions(def, fk.columns);
      if (fk.referenced_table == table.name) to[k] = ColumnPositions(def, fk.referenced_columns);
    }
    // Only the rows that can be read go anywhere; the export names the others.
    std::vector<std::string> unreadable;
    jet::Status s = db.ScanReadableRows(def, [&](const jet::RowId&, const std::vector<jet::Value>& row) {
      for (size_t c = 0; c < def.columns.size(); ++c)
        if (c >= row.size() || row[c].is_null()) ++nulls[c];
      for (size_t i = 0; i < index_columns.size(); ++i) {
        if (index_columns[i].empty()) continue;
        const std::string key = KeyOf(row, index_columns[i]);
        if (!key.empty() && !seen[i].insert(key).second) ++repeats[i];
      }
      for (size_t k = 0; k < from.size(); ++k) {
        if (!from[k].empty())
          if (std::string key = KeyOf(row, from[k]); !key.empty()) references[k].push_back(std::move(key));
        if (!to[k].empty())
          if (std::string key = KeyOf(row, to[k]); !key.empty()) referenced[k].insert(std::move(key));
      }
      return true;
    }, &unreadable);
    if (!s.ok()) return s;
    table.not_unique.assign(def.logical_indexes.size(), false);
    for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
      const bool primary = def.logical_indexes[i].index_type == jet::kLogicalIndexPrimaryKey;
      uint64_t missing = 0;
      if (primary)
        for (size_t c : index_columns[i]) missing += nulls[c];
      if (repeats[i] == 0 && missing == 0) continue;
      table.not_unique[i] = true;
      schema->notes.push_back("table \"" + table.name + "\": " +
                              (repeats[i] ? Rows(repeats[i]) + " repeat" + (repeats[i] == 1 ? "s" : "") + " a key of " : "") +
                              (repeats[i] && missing ? "and " : "") +
                              (missing ? Rows(missing) + " lack" + (missing == 1 ? "s" : "") + " a column of " : "") +
                              (primary ? "the primary key" : "the unique index \"" + def.logical_indexes[i].name + "\"") +
                              "; made a plain index");
    }
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (!table.required[c] || nulls[c] == 0) continue;
      table.required[c] = false;
      schema->notes.push_back("table \"" + table.name + "\": " + Rows(nulls[c]) +
                              (nulls[c] == 1 ? " has" : " have") + " no value in \"" + def.columns[c].name +
                              "\", which Access requires of new rows; NOT NULL left out");
    }
  }
  std::vector<ForeignKey> kept;
  for (size_t k = 0; k < schema->foreign_keys.size(); ++k) {
    for (const std::string& key : references[k]) dangling[k] += referenced[k].count(key) == 0;
    ForeignKey& fk = schema->foreign_keys[k];
    // The other databases want the referenced columns unique; a table whose rows
    // broke that key got a plain index instead.
    const int target = FindTable(*schema, fk.referenced_table);
    bool unique_target = false;
    if (target >= 0) {
      const SqlTable& t = schema->tables[size_t(target)];
      const std::vector<size_t> wanted = ColumnPositions(*t.def, fk.referenced_columns);
      for (size_t i = 0; i < t.def->logical_indexes.size(); ++i) {
        if (t.not_unique[i]) continue;
        std::vector<size_t> columns;
        const jet::LogicalIndex& index = t.def->logical_indexes[i];
        for (const auto& [position, ascending] : IndexColumns(*t.def, index)) columns.push_back(position);
        unique_target |= IsUnique(*t.def, index) && !columns.empty() &&
                         std::is_permutation(columns.begin(), columns.end(), wanted.begin(), wanted.end());
      }
    }
    if (dangling[k] == 0 && unique_target) {
      kept.push_back(std::move(fk));
      continue;
    }
    schema->notes.push_back("foreign key \"" + fk.name + "\": " +
                            (dangling[k] ? Rows(dangling[k]) + " of \"" + fk.table + "\" refer" +
                                               (dangling[k] == 1 ? "s" : "") + " to no row of \"" +
                                               fk.referenced_table + "\""
                                         : "the columns of \"" + fk.referenced_table + "\" it refers to are not unique") +
                            "; left out");
  }
  schema->foreign_keys = std::move(kept);
  return jet::Status::Ok();
}

jet::Status ReadRelationships(jet::Database& db, SqlSchema* schema) {
  const jet::TableDef* def = nullptr;
  if (db.FindObject("MSysRelationships", jet::kObjectLocalTable) == nullptr) return jet::Status::Ok();
  jet::Status s = db.GetTableDefByName("MSysRelationships", &def);
  if (!s.ok()) return s;
  const auto column = [&](const char* name) { return def->FindColumnByName(name); };
  const int name_col = column("szRelationship"), flags_col = column("grbit"), index_col = column("icolumn"),
            table_col = column("szObject"), column_col = column("szColumn"),
            referenced_col = column("szReferencedObject"), referenced_column_col = column("szReferencedColumn");
  if (name_col < 0 || flags_col < 0 || index_col < 0 || table_col < 0 || column_col < 0 ||
      referenced_col < 0 || referenced_column_col < 0)
    return jet::Status::Ok();  // not the table Access makes; nothing to read from it

  const auto is_user_table = [&](const std::string& name) {
    for (const SqlTable& t : schema->tables)
      if (t.name == name) return true;
    return false;
  };
  // One row per column pair, in any order; icolumn gives the pair's place.
  std::map<std::string, std::map<int64_t, std::pair<std::string, std::string>>> pairs;
  std::map<std::string, ForeignKey> keys;
  std::vector<std::string> order;
  s = db.ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& row) {
    const int64_t flags = row[flags_col].integer();
    if (flags & kRelationNotEnforced) return true;
    const std::string name = row[name_col].text();
    ForeignKey& key = keys[name];
    if (key.name.empty()) {
      order.push_back(name);
      key.name = name;
      key.table = row[table_col].text();
      key.referenced_table = row[referenced_col].text();
      key.cascade_updates = (flags & kRelationCascadeUpdates) != 0;
      key.cascade_deletes = (flags & kRelationCascadeDeletes) != 0;
    }
    pairs[name][row[index_col].integer()] = {row[column_col].text(), row[referenced_column_col].text()};
    return true;
  });
  if (!s.ok()) return s;
  for (const std::string& name : order) {
    ForeignKey& key = keys[name];
    if (!is_user_table(key.table) || !is_user_table(key.referenced_table)) continue;
    for (const auto& [place, pair] : pairs[name]) {
      key.columns.push_back(pair.first);
      key.referenced_columns.push_back(pair.second);
    }
    schema->foreign_keys.push_back(std::move(key));
  }
  return jet::Status::Ok();
}

}  // namespace

bool ParseDialect(const std::string& name, Dialect* dialect) {
  if (name == "sqlite" || name == "sqlite3") {
    *dialect = Dialect::kSqlite;
  } else if (name == "postgres" || name == "postgresql") {
    *dialect = Dialect::kPostgres;
  } else if (name == "mysql" || name == "mariadb") {
    *dialect = Dialect::kMysql;
  } else {
    return false;
  }
  return true;
}

std::string QuoteName(Dialect dialect, const std::string& name) {
  const char quote = dialect == Dialect::kMysql ? '`' : '"';
  std::string out(1, quote);
  for (char c : name) {
    if (c == quote) out += quote;
    out += c;
  }
  out += quote;
  return out;
}

bool IsAutoNumber(const jet::ColumnDef& column) {
  return (column.flags & jet::kColumnAutoNumber) && column.type() == ColumnType::kLong;
}

jet::Status ReadSqlSchema(jet::Database& db, SqlSchema* schema) {
  *schema = SqlSchema();
  schema->version = db.format().version;
  for (const jet::CatalogObject* object : db.Tables(false)) {
    SqlTable table;
    table.name = object->name;
    jet::Status s = db.GetTableDefByName(object->name, &table.def);
    if (!s.ok()) return s;
    table.required.assign(table.def->columns.size(), false);
    const jet::Value& blob = db.CatalogField(*object, "LvProp");
    std::vector<jet::PropertyBlock> properties;
    // Unreadable settings only cost the NOT NULLs; the rows are what matter.
    if (blob.type() == jet::ValueType::kBinary &&
        jet::ParseProperties(blob.bytes(), db.format().version, db.header().code_page, &properties).ok()) {
      for (size_t n = 0; n < table.def->columns.size(); ++n)
        table.required[n] = jet::IsColumnRequired(properties, table.def->columns[n].name);
    }
    schema->tables.push_back(std::move(table));
  }
  jet::Status s = ReadRelationships(db, schema);
  return s.ok() ? FitRulesToRows(db, schema) : s;
}

std::string ColumnTypeSql(Dialect dialect, const jet::ColumnDef& column, jet::Version version) {
  const bool sqlite = dialect == Dialect::kSqlite, postgres = dialect == Dialect::kPostgres;
  const std::string size = "(" + std::to_string(TextLength(column, version)) + ")";
  const std::string decimal =
      "(" + std::to_string(column.precision) + "," + std::to_string(column.scale) + ")";
  switch (column.type()) {
    case ColumnType::kBoolean: return sqlite ? "BOOLEAN" : postgres ? "boolean" : "BOOLEAN";
    case ColumnType::kByte: return sqlite ? "TINYINT" : postgres ? "smallint" : "TINYINT UNSIGNED";
    case ColumnType::kInteger: return sqlite ? "SMALLINT" : postgres ? "smallint" : "SMALLINT";
    case ColumnType::kLong:
    case ColumnType::kComplex: return sqlite ? "INTEGER" : postgres ? "integer" : "INT";
    case ColumnType::kBigInt: return sqlite ? "BIGINT" : postgres ? "bigint" : "BIGINT";
    // SQLite would turn a decimal into a double; as text every digit stays.
    case ColumnType::kCurrency: return sqlite ? "TEXT" : postgres ? "numeric(19,4)" : "DECIMAL(19,4)";
    case ColumnType::kNumeric: return sqlite ? "TEXT" : postgres ? "numeric" + decimal : "DECIMAL" + decimal;
    case ColumnType::kSingle: return sqlite ? "REAL" : postgres ? "real" : "FLOAT";
    case ColumnType::kDouble: return sqlite ? "REAL" : postgres ? "double precision" : "DOUBLE";
    case ColumnType::kDateTime:
    case ColumnType::kExtDateTime: return sqlite ? "DATETIME" : postgres ? "timestamp" : "DATETIME";
    case ColumnType::kText: return (postgres ? "varchar" : "VARCHAR") + size;
    case ColumnType::kMemo: return sqlite ? "TEXT" : postgres ? "text" : "LONGTEXT";
    case ColumnType::kBinary: return sqlite ? "BLOB" : postgres ? "bytea" : "VARBINARY" + size;
    case ColumnType::kGuid: return sqlite ? "CHAR(38)" : postgres ? "uuid" : "CHAR(38)";
    case ColumnType::kOle:
    default: return sqlite ? "BLOB" : postgres ? "bytea" : "LONGBLOB";
  }
}

std::string CreateTableSql(Dialect dialect, const SqlSchema& schema, size_t n) {
  const SqlTable& table = schema.tables[n];
  const jet::TableDef& def = *table.def;
  const jet::LogicalIndex* key = PrimaryKey(table);
  const auto key_columns = key ? IndexColumns(def, *key) : std::vector<std::pair<size_t, bool>>();
  std::vector<std::string> lines;
  bool rowid_key = false;
  for (size_t c = 0; c < def.columns.size(); ++c) {
    const jet::ColumnDef& column = def.columns[c];
    std::string line = "  " + QuoteName(dialect, column.name) + " " + ColumnTypeSql(dialect, column, schema.version);
    bool in_key = false;
    for (const auto& k : key_columns) in_key |= k.first == c;
    if (dialect == Dialect::kSqlite && IsSqliteRowIdKey(table, c)) {
      line += " PRIMARY KEY AUTOINCREMENT";
      rowid_key = true;
    } else {
      if (table.required[c] || in_key || (IsAutoNumber(column) && dialect == Dialect::kMysql))
        line += " NOT NULL";
      if (IsAutoNumber(column) && dialect == Dialect::kPostgres) line += " GENERATED BY DEFAULT AS IDENTITY";
      if (IsAutoNumber(column) && dialect == Dialect::kMysql) line += " AUTO_INCREMENT";
    }
    lines.push_back(line);
  }
  if (!key_columns.empty() && !rowid_key) {
    std::vector<std::string> names;
    for (const auto& k : key_columns) {
      std::string name = QuoteName(dialect, def.columns[k.first].name);
      if (dialect == Dialect::kMysql && IsLongColumn(def.columns[k.first]))
        name += "(" + std::to_string(kMysqlIndexPrefix) + ")";
      names.push_back(name);
    }
    lines.push_back("  PRIMARY KEY (" + Joined(names, ", ") + ")");
  }
  if (dialect == Dialect::kMysql) {
    // MySQL wants an AUTO_INCREMENT column to lead some index.
    for (size_t c = 0; c < def.columns.size(); ++c) {
      if (!IsAutoNumber(def.columns[c])) continue;
      bool leads = !key_columns.empty() && key_columns[0].first == c;
      for (const jet::LogicalIndex& index : def.logical_indexes) {
        const auto columns = IndexColumns(def, index);
        leads |= !columns.empty() && columns[0].first == c && index.index_type != jet::kLogicalIndexForeignKey;
      }
      if (!leads) lines.push_back("  KEY (" + QuoteName(dialect, def.columns[c].name) + ")");
    }
  }
  if (dialect == Dialect::kSqlite) {
    for (const ForeignKey& fk : schema.foreign_keys) {
      if (fk.table != table.name) continue;
      std::vector<std::string> from, to;
      for (const std::string& c : fk.columns) from.push_back(QuoteName(dialect, c));
      for (const std::string& c : fk.referenced_columns) to.push_back(QuoteName(dialect, c));
      std::string line = "  CONSTRAINT " + QuoteName(dialect, fk.name) + " FOREIGN KEY (" + Joined(from, ", ") +
                         ") REFERENCES " + QuoteName(dialect, fk.referenced_table) + " (" + Joined(to, ", ") + ")";
      if (fk.cascade_updates) line += " ON UPDATE CASCADE";
      if (fk.cascade_deletes) line += " ON DELETE CASCADE";
      lines.push_back(line);
    }
  }
  std::string sql = "CREATE TABLE " + QuoteName(dialect, table.name) + " (\n" + Joined(lines, ",\n") + "\n)";
  if (dialect == Dialect::kMysql) sql += " ENGINE=InnoDB DEFAULT CHARSET=utf8mb4";
  return sql + ";\n";
}

std::string CreateIndexesSql(Dialect dialect, const SqlSchema& schema, size_t n) {
  const SqlTable& table = schema.tables[n];
  const jet::TableDef& def = *table.def;
  std::string sql;
  const jet::LogicalIndex* key = PrimaryKey(table);
  for (size_t i = 0; i < def.logical_indexes.size(); ++i) {
    const jet::LogicalIndex& index = def.logical_indexes[i];
    // The primary key is part of CREATE TABLE; a foreign key's own index is Access's
    // way of enforcing it, which the other database does by itself.
    if (&index == key || index.index_type == jet::kLogicalIndexForeignKey) continue;
    const auto columns = IndexColumns(def, index);
    if (columns.empty()) continue;
    std::vector<std::string> names;
    for (const auto& [position, ascending] : columns) {
      std::string name = QuoteName(dialect, def.columns[position].name);
      if (dialect == Dialect::kMysql && IsLongColumn(def.columns[position]))
        name += "(" + std::to_string(kMysqlIndexPrefix) + ")";
      names.push_back(name + (ascending ? "" : " DESC"));
    }
    const bool unique = IsUnique(def, index) && !(i < table.not_unique.size() && table.not_unique[i]);
    sql += std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " +
           QuoteName(dialect, IndexName(dialect, table.name, index.name)) + " ON " +
           QuoteName(dialect, table.name) + " (" + Joined(names, ", ") + ");\n";
  }
  return sql;
}

std::string ForeignKeysSql(Dialect dialect, const SqlSchema& schema) {
  if (dialect == Dialect::kSqlite) return std::string();
  std::string sql;
  for (const ForeignKey& fk : schema.foreign_keys) {
    std::vector<std::string> from, to;
    for (const std::string& c : fk.columns) from.push_back(QuoteName(dialect, c));
    for (const std::string& c : fk.referenced_columns) to.push_back(QuoteName(dialect, c));
    sql += "ALTER TABLE " + QuoteName(dialect, fk.table) + " ADD CONSTRAINT " + QuoteName(dialect, fk.name) +
           " FOREIGN KEY (" + Joined(from, ", ") + ") REFERENCES " + QuoteName(dialect, fk.referenced_table) +
           " (" + Joined(to, ", ") + ")";
    if (fk.cascade_updates) sql += " ON UPDATE CASCADE";
    if (fk.cascade_deletes) sql += " ON DELETE CASCADE";
    if (dialect == Dialect::kPostgres) sql += " DEFERRABLE INITIALLY DEFERRED";
    sql += ";\n";
  }
  return sql;
}

std::string SchemaSql(Dialect dialect, const SqlSchema& schema) {
  std::string sql;
  for (const std::string& note : schema.notes) sql += "-- " + note + "\n";
  if (!schema.notes.empty()) sql += "\n";
  for (size_t n = 0; n < schema.tables.size(); ++n) {
    sql += CreateTableSql(dialect, schema, n);
    sql += CreateIndexesSql(dialect, schema, n);
    sql += "\n";
  }
  return sql + ForeignKeysSql(dialect, schema);
}

std::string SqlLiteral(Dialect dialect, const jet::Value& value) {
  using jet::ValueType;
  switch (value.type()) {
    case ValueType::kNull:
      return "NULL";
    case ValueType::kBoolean:
      if (dialect == Dialect::kSqlite) return value.boolean() ? "1" : "0";
      return value.boolean() ? "TRUE" : "FALSE";
    case ValueType::kByte:
    case ValueType::kInteger:
    case ValueType::kLong:
    case ValueType::kComplex:
    case ValueType::kBigInt:
      return value.ToText();
    case ValueType::kCurrency:
    case ValueType::kNumeric:
      // SQLite keeps them as text (every digit); the others have exact decimals.
      return dialect == Dialect::kSqlite ? TextLiteral(dialect, value.ToText()) : value.ToText();
    case ValueType::kSingle:
    case ValueType::kDouble:
      if (std::isfinite(value.real())) return value.ToText();
      if (dialect == Dialect::kPostgres) return TextLiteral(dialect, std::isnan(value.real()) ? "NaN"
                                                                     : value.real() > 0 ? "Infinity" : "-Infinity");
      return "NULL";  // SQLite stores NaN as null; MySQL has neither
    case ValueType::kDateTime:
    case ValueType::kText:
    case ValueType::kGuid:
      return TextLiteral(dialect, value.ToText());
    case ValueType::kBinary:
      if (dialect == Dialect::kPostgres) return "'\\x" + Hex(value.bytes()) + "'";
      return "X'" + Hex(value.bytes()) + "'";
  }
  return "NULL";
}

std::string InsertPrefix(Dialect dialect, const SqlTable& table) {
  std::vector<std::string> names;
  for (const jet::ColumnDef& column : table.def->columns) names.push_back(QuoteName(dialect, column.name));
  return "INSERT INTO " + QuoteName(dialect, table.name) + " (" + Joined(names, ", ") + ") VALUES (";
}

std::string AfterRowsSql(Dialect dialect, const SqlTable& table, int64_t largest) {
  if (dialect == Dialect::kSqlite) return std::string();
  std::string sql;
  for (const jet::ColumnDef& column : table.def->columns) {
    if (!IsAutoNumber(column)) continue;
    const std::string next = std::to_string(std::max<int64_t>(largest, table.def->last_autonumber) + 1);
    // ALTER TABLE ... RESTART would wait for the deferred foreign-key checks of the
    // load; setting the identity's sequence does not, and in a DO block it prints
    // nothing. pg_get_serial_sequence takes the table as SQL text, the column as a name.
    if (dialect == Dialect::kPostgres)
      sql += "DO $$ BEGIN PERFORM setval(pg_get_serial_sequence(" +
             TextLiteral(dialect, QuoteName(dialect, table.name)) + ", " + TextLiteral(dialect, column.name) +
             "), " + next + ", false); END $$;\n";
    else
      sql += "ALTER TABLE " + QuoteName(dialect, table.name) + " AUTO_INCREMENT = " + next + ";\n";
  }
  return sql;
}

std::string BeforeRowsSql(Dialect dialect) {
  return dialect == Dialect::kMysql ? "SET FOREIGN_KEY_CHECKS = 0;\n" : std::string();
}

}  // namespace jetdb
