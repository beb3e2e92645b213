// Rows: splitting a stored row into per-column byte slices (CrackRow), and turning
// those slices into Values (RowDecoder). The raw form is what the compactor works on:
// it re-points long-value headers inside rows without re-encoding anything else.
//
// Row layout (offsets from the row start, E = row length, nm = ceil(count / 8)):
//   0        1 | 2   column count this row was written with
//   1 | 2    ...     fixed area; column at count_size + fixed_offset
//   ...              variable data, in var-index order
//   trailer          only when the table has variable columns:
//     Jet 4: E-nm-2 var_count (2); E-nm-4-2i offset of var column i; the entry after
//            the last (i = var_count) is the end of the variable data
//     Jet 3: E-nm-1 var_count (1); jump bytes below it; then 1-byte offset low bytes
//            from col_off = E-nm-2-J downward, J = (E-1)/256; high parts come from
//            the jump table (see DecodeJet3Offsets)
//   E-nm     null mask, bit n for column number n, 1 = present; booleans live here
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/file/format.h"
#include "jet/read/long_value.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

class PageFile;

struct RawColumn {
  bool is_null = true;   // no value (null bit clear, or added after the row was written)
  bool bit = false;      // the null-mask bit; a boolean column's value
  uint32_t offset = 0;   // where the value's bytes start in the row
  uint32_t size = 0;     // how many bytes (0 for booleans)
};

// The row's own bookkeeping, before any column is looked at: what it says it holds.
struct RowLayout {
  uint32_t column_count = 0;          // columns the row was written with
  uint32_t mask_size = 0;             // bytes of the null mask, at the row's end
  uint32_t var_count = 0;             // entries of the variable-offset table (0: none)
  std::vector<uint16_t> var_offsets;  // var_count + 1 entries; the last is the data end
  uint32_t trailer_start = 0;         // lowest byte of the trailer (offsets, counts, mask)
};

// Reads the layout of `row`. kDamaged when the trailer does not fit in the row.
Status ReadRowLayout(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                     RowLayout* layout);

// Splits `row` into one RawColumn per entry of table.columns (same positions).
// kDamaged when the row's trailer or a column's bytes lie outside the row.
Status CrackRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                std::vector<RawColumn>* columns);
// The same for a row whose `layout` ReadRowLayout has read already (a caller that
// needs both reads the trailer once).
Status CrackRowWithLayout(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                          const RowLayout& layout, std::vector<RawColumn>* columns);

// Converts rows of one table into Values. Holds the buffers it needs, and decodes
// text into the Value's own buffer, so decoding a stream of rows into the same
// Values allocates only where a value outgrows the one before it.
class RowDecoder {
 public:
  RowDecoder(const PageFile& file, const TableDef& table);

  // All values of `row`, by position in table.columns.
  Status Decode(const uint8_t* row, size_t size, std::vector<Value>* values);
  // The same for a row the caller has cracked already (CrackRow's `raw` of it).
  Status DecodeCracked(const uint8_t* row, const std::vector<RawColumn>& raw, std::vector<Value>* values);
  // The value of column `position` from an already cracked row.
  Status ColumnValue(size_t position, const uint8_t* row, const RawColumn& raw, Value* value);
  // The value of Memo or OLE column `position` from the bytes its long value holds,
  // for a caller that has read them already (ColumnValue reads them itself).
  Status LongColumnValue(size_t position, const std::vector<uint8_t>& bytes, Value* value);

  const std::vector<RawColumn>& raw() const { return raw_; }
  // The reader the decoder reads long values with, for a caller that reads one whole
  // first: the pages it read ahead serve the decoding after it.
  LongValueReader& long_values() { return long_values_; }

 private:
  Status TextValue(const ColumnDef& column, const uint8_t* data, size_t size, Value* value);

  const PageFile& file_;
  const TableDef& table_;
  LongValueReader long_values_;
  std::vector<RawColumn> raw_;
  std::vector<uint8_t> long_value_;
};

}  // namespace jet
