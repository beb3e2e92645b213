// Row generator: deterministic rows for a schema, for test files, the demo database
// and large files for performance work. The same (schema, count, seed) always gives
// the same rows. About one row in eight is marked deleted; Memo and OLE values come
// in every storage size (empty, inline, one LVAL row, chains of several pages); text
// is drawn from plain ASCII words so that every index key can be computed.
// Values of unique and primary-key index columns follow the row number, and the
// columns of an enforced relationship take values of a live row of the referenced
// table (or null when it has none), so the relationships hold.
#pragma once

#include <cstdint>

#include "jet/schema.h"
#include "jet/status.h"

namespace jet {

// Appends `rows_per_table` rows (times the table's generated_rows_factor, with its
// generated_deleted_percent if set) to every table of `schema`, after any rows it has.
// kInvalidArgument when a unique index cannot take that many distinct values (a
// unique Byte column and more than 256 rows, for example).
Status GenerateRows(uint32_t rows_per_table, uint64_t seed, Schema* schema);

}  // namespace jet
