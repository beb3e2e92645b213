// Schema: the description of a new database that jet::CreateDatabase (jet/create/create.h)
// turns into a file -- its format, tables with columns, indexes and rows, and the
// relationships between tables. It is plain data; ValidateSchema checks everything a
// writer relies on (names, sizes, index columns, relationship columns, row values)
// before a single page is written. The JSON form is read by jet/create/schema_json.h.
//
// A table's rows reach the writer through a RowSource, one row at a time, so that a
// file of any size is made in bounded memory: SchemaRows serves the rows held in the
// TableSpecs, the row generator (jet/create/row_generator.h) makes its rows on demand.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

struct ColumnSpec {
  std::string name;
  ColumnType type = ColumnType::kText;
  // Text: maximum characters (1..255); binary: maximum bytes (1..255). 0 = 255 for
  // text and binary; ignored for every other type.
  uint16_t size = 0;
  bool autonumber = false;  // Long only: null values get the next number
  bool required = false;    // rows must give a value (checked when the file is made)
  uint8_t precision = 18;   // numeric: 1..28 digits
  uint8_t scale = 0;        // numeric: 0..precision
};

struct IndexColumnSpec {
  std::string column;
  bool ascending = true;
};

struct IndexSpec {
  std::string name;
  std::vector<IndexColumnSpec> columns;  // 1..10
  bool primary = false;                  // implies unique; at most one per table
  bool unique = false;
  bool ignore_nulls = false;
};

// One row. `values` are by column position; a shorter vector leaves the remaining
// columns null. A deleted row is written and then deleted the way Access deletes:
// its slot stays (flagged, zero length), its long values stay behind as orphans,
// and no index has an entry for it.
struct RowSpec {
  std::vector<Value> values;
  bool deleted = false;
};

struct TableSpec {
  std::string name;
  std::vector<ColumnSpec> columns;  // 1..255
  std::vector<IndexSpec> indexes;
  std::vector<RowSpec> rows;
  // For generated rows only (jet/create/row_generator.h): this table gets
  // generated_rows_factor times the rows asked for every table, and a row is deleted
  // with probability generated_deleted_percent / 100 (negative: one in eight).
  uint32_t generated_rows_factor = 1;
  int generated_deleted_percent = -1;
};

// A relationship from the referencing ("many") table to the referenced table, whose
// columns must carry a primary key or unique index. An enforced one becomes two
// logical indexes (one in each table definition) besides its MSysRelationships rows.
struct RelationshipSpec {
  std::string name;
  std::string from_table;
  std::vector<std::string> from_columns;
  std::string to_table;
  std::vector<std::string> to_columns;
  bool enforced = true;
  bool cascade_updates = false;
  bool cascade_deletes = false;
};

struct Schema {
  Version version = Version::kJet4;  // kJet3 or kJet4
  uint16_t code_page = 1252;         // Jet 3 text; informational in Jet 4
  // Creation date of the file and its catalog entries, days since 1899-12-30;
  // 0 = the current time. A fixed date makes the output byte-for-byte repeatable.
  double creation_date = 0;
  std::vector<TableSpec> tables;
  std::vector<RelationshipSpec> relationships;
};

// kInvalidArgument with a detail naming the table / column / row at fault when the
// schema cannot be written: empty, duplicate (case-insensitive) or over-long names,
// names starting with "MSys", too many columns, unknown index or relationship
// columns, more than one primary key, a relationship without a unique index on the
// referenced side, a row value whose type does not match its column, text longer
// than its column, a null in a required column, duplicate keys in a unique index.
// (Duplicates are checked on the key bytes when the file is written.)
Status ValidateSchema(const Schema& schema);

// ValidateSchema's check of one row of `table` (row_index counts from 0 and names the
// row in the detail): no more values than columns, each of its column's type and size,
// no null in a required column.
Status ValidateRow(const TableSpec& table, size_t row_index, const RowSpec& row);

// The rows of one table in insertion order.
class RowSource {
 public:
  virtual ~RowSource() = default;
  // The next row into *row; *done (and *row unspecified) past the last one.
  virtual Status Next(RowSpec* row, bool* done) = 0;
};

// A source over rows held in memory (not owned; they must outlive the source).
std::unique_ptr<RowSource> RowsInMemory(const std::vector<RowSpec>& rows);

// Where CreateDatabase gets the rows of each table of a schema.
class RowSupplier {
 public:
  virtual ~RowSupplier() = default;
  // A new source over the rows of schema.tables[table], from its first row. May be
  // called more than once for a table; every source gives the same rows.
  virtual Status OpenRows(size_t table, std::unique_ptr<RowSource>* source) = 0;
};

// The rows the schema's TableSpecs hold. `schema` must outlive the supplier.
std::unique_ptr<RowSupplier> SchemaRows(const Schema& schema);

// Position of the column named `name` (case-insensitive ASCII) in `table`, or -1.
int FindColumnSpec(const TableSpec& table, const std::string& name);
// Position of the table named `name` in `schema`, or -1.
int FindTableSpec(const Schema& schema, const std::string& name);

// Value parsing shared by the JSON reader and the tools. kInvalidArgument with the
// offending text in the detail.
//   "YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS" or with a "T": years 100..9999.
Status ParseDateTimeText(const std::string& text, double* days);
//   "-12.34" -> scaled by 10,000 (at most 4 decimals, range of a signed 64-bit value).
Status ParseCurrencyText(const std::string& text, int64_t* scaled);
//   "-123.45" for a column of `precision`/`scale`: at most `scale` decimals and
//   `precision` digits in all.
Status ParseNumericText(const std::string& text, uint8_t precision, uint8_t scale, Numeric* value);
//   "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (braces optional) -> 16 bytes as stored.
Status ParseGuidText(const std::string& text, std::array<uint8_t, 16>* bytes);
//   Even-length hexadecimal text -> bytes.
Status ParseHexText(const std::string& text, std::vector<uint8_t>* bytes);

}  // namespace jet
