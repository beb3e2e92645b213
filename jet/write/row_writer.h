// Row writer: encodes one row of a table from its Values, the inverse of CrackRow and
// RowDecoder (jet/read/row.h, where the layout is documented). The row is written with the
// table's current column count (TDEF max_columns) and variable-table size (TDEF
// var_columns), as Access writes a new row:
//
//   column count      1 (J3) / 2 (J4) bytes
//   fixed area        every fixed column at its fixed_offset; a null fixed column
//                     keeps its bytes (zero)
//   variable data     variable columns in var-index order; null, and var indexes no
//                     column has any more (deleted columns), are empty
//   trailer           only when the table has variable columns:
//     J4: EOD, offsets var_count-1..0 (2 bytes each), var_count (2)
//     J3: low bytes of EOD and offsets var_count-1..0, [dummy 0xFF], jump bytes
//         from the highest 256-byte boundary down, var_count (1). The jump-byte count
//         depends on the final row length, so the layout is solved iteratively.
//   null mask         bit n = column number n present; booleans are their bit
//
// Memo and OLE columns take their field from the caller: the 12-byte long-value
// header, plus the data when the value is stored inline (jet/write/long_value_writer.h
// builds them). Text is encoded with jet/base/text.h: Jet 3 in the column's code page
// (or the database's), Jet 4 as UCS-2, compressed when the column allows it.
#pragma once

#include <cstdint>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

struct RowFields {
  // By position in table.columns, like RowDecoder's output.
  std::vector<Value> values;
  // By position too, used for Memo / OLE columns whose value is not null: the bytes
  // stored in the row (header [+ inline data]). May be empty when the table has no
  // long-value columns; a non-null long value with an empty field is stored as a
  // zero-length value, which reads back as "" (Memo) or no bytes (OLE).
  std::vector<std::vector<uint8_t>> long_value_fields;
};

// Encodes `fields` as a row of `table`. `database_code_page` is used for Jet 3 text
// columns whose definition names no code page. kInvalidArgument when a value does
// not fit its column (type, text too long for the column, a character the code page
// lacks) or the row exceeds the format's maximum row size (2,012 / 4,060 bytes).
Status EncodeRow(const Format& format, const TableDef& table, const RowFields& fields,
                 uint16_t database_code_page, std::vector<uint8_t>* row);

// EncodeRow for many rows in turn: its working buffers are kept from one row to the
// next, which spares a writer of millions of rows as many allocations.
class RowEncoder {
 public:
  Status Encode(const Format& format, const TableDef& table, const RowFields& fields, uint16_t database_code_page,
                std::vector<uint8_t>* row);

 private:
  // Where a variable column's bytes lie in var_area_; a null or unused one is empty.
  struct VarSpan {
    uint32_t start = 0, size = 0;
  };
  std::vector<uint8_t> mask_;
  std::vector<uint8_t> var_area_;  // the variable columns' bytes, in column order
  std::vector<VarSpan> var_spans_;  // by var_index
  std::vector<uint32_t> offsets_;
  std::vector<uint8_t> bytes_;  // one column's
};

}  // namespace jet
