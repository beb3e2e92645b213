// TDEF writer: re-serialises a table definition for a new file. The definition's raw
// logical buffer (jet/read/table_def.h) is copied as it is, so every field this engine does
// not interpret survives, and only the values that change with the pages are written
// over it, at the offsets the reader recorded:
//
//   header      row count, last AutoNumber, owned-pages and free-space map pointers
//   real index  statistics [entries 4][distinct keys 4]; usage map pointer and root
//               page in its definition (J3 30 / 34, J4 34 / 38)
//   logical     related table's TDEF page (J3 13, J4 17)
//   LV columns  [column 2][owned map 4][free map 4]
//
// The logical buffer is then split into pages: the first page holds its first
// page_size bytes; each continuation page is an 8-byte header followed by the next
// page_size - 8 bytes. Every page starts 02 01, then J3 "VC" / J4 the free space left
// on that page (page_size - bytes on it - 8, at least 0), then the next page (0 last).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

// The logical definition (tdef_length bytes) of `table` with the current values of
// the fields above written in. kInvalidArgument when the buffer is shorter than
// tdef_length or a recorded record lies outside it.
Status EncodeTableDef(const Format& format, const TableDef& table, std::vector<uint8_t>* logical);

// A new logical definition of `table` as ReadTableDefColumns (jet/read/table_def.h)
// gives it: the header of its buffer, then the records and names of its columns, no
// indexes, and the end mark (FF FF) of an empty list of long-value maps; counts,
// length and map pointers as `table` has them.
Status EncodeColumnsOnlyTableDef(const Format& format, const TableDef& table, std::vector<uint8_t>* logical);

// Closes the gaps deleted columns leave, as a compaction that writes every row anew
// does: column numbers become 0..n-1 and variable indexes 0..v-1 (both in their old
// order), the fixed columns are packed from offset 0 (in their old order), and the
// header's column count (max_columns) and variable-table size (var_columns) become n
// and v. Index column slots and long-value column maps follow the new numbers. Both
// the structure and its raw buffer are changed; the column record fields (J3 / J4):
//   number 1 / 5, variable index 3 / 7, number again 5 / 9 (where it holds the
//   number, as in every Access file seen), fixed offset 14 / 21.
// kInvalidArgument when a recorded offset lies outside the buffer.
Status PackColumns(const Format& format, TableDef* table);

// Number of pages a logical definition of `length` bytes takes (first page included).
uint32_t TableDefPageCount(const Format& format, size_t length);

// Page images of `logical`, one per entry of `page_numbers` (the first page, then the
// continuation pages in chain order), which must hold TableDefPageCount numbers.
Status SplitTableDef(const Format& format, std::span<const uint8_t> logical,
                     std::span<const uint32_t> page_numbers,
                     std::vector<std::vector<uint8_t>>* pages);

}  // namespace jet
