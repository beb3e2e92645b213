// Row generator: deterministic rows for a schema, for test files, the demo database
// and large files for performance work. The same (schema, count, seed) always gives
// the same rows. About one row in eight is marked deleted; Memo and OLE values come
// in every storage size (empty, inline, one LVAL row, chains of several pages); text
// is drawn from plain ASCII words so that every index key can be computed.
// Values of unique and primary-key index columns follow the row number, and the
// columns of an enforced relationship take values of a live row of the referenced
// table (or null when it has none), so the relationships hold.
//
// Rows are made on demand, one at a time (RowGenerator is a RowSupplier for
// jet::CreateDatabase), so a file of any size is made in bounded memory. What stays
// in memory per table is its own rows from the schema and, for a table others refer
// to, one bit per row (whether it is deleted).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "jet/create/schema.h"
#include "jet/base/status.h"

namespace jet {

class RowGenerator : public RowSupplier {
 public:
  // A supplier of, per table of `schema`, its own rows followed by `rows_per_table`
  // generated rows (times the table's generated_rows_factor, with its
  // generated_deleted_percent if set). `schema` must outlive the generator.
  // kInvalidArgument when a unique index cannot take that many distinct values (a
  // unique Byte column and more than 256 rows, for example), for an unknown table or
  // column of a relationship, and when a relationship refers to columns whose
  // generated values are not a function of the row number (a column another
  // relationship fills, or one in no unique index).
  static Status Make(const Schema& schema, uint32_t rows_per_table, uint64_t seed,
                     std::unique_ptr<RowGenerator>* generator);
  ~RowGenerator() override;

  Status OpenRows(size_t table, std::unique_ptr<RowSource>* source) override;
  // Rows OpenRows gives for the table: the schema's own plus the generated ones.
  uint64_t RowCount(size_t table) const;

  struct State;

 private:
  explicit RowGenerator(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

// Appends the generated rows to every table of `schema` itself, after any rows it
// has: the rows RowGenerator would give, held in memory. For small files and tests.
Status GenerateRows(uint32_t rows_per_table, uint64_t seed, Schema* schema);

}  // namespace jet
