// Row validation: whether a stored row is what its table's definition allows, judged
// from the row's own bookkeeping (column count, null mask, variable-offset table,
// fixed area). A page write that never finished leaves zeros where a row's count or
// trailer was; a bad sector leaves noise. Such a row often still "decodes" (zeros
// read as an all-null row), so decoding is no proof: the check reports a row that
// fails here as damage, and the salvage drops it instead of keeping it as data.
//
// The rules hold for every row Access writes, including rows written before a column
// was added (they carry fewer columns):
//   - the column count is at least 1 and at most the table's highest column number + 1;
//   - the fixed area of the columns the row carries ends before its trailer, and no
//     variable value it holds starts inside that area (offsets of null columns are
//     never read by any reader, so they are not judged);
//   - every variable column the row carries has an entry in the offset table, and
//     one its null mask says is null takes no bytes (Jet stores no bytes for a null
//     variable value; a flipped mask bit turns a value into a null that does), unless
//     an entry of its own falls back against its neighbour's: then a flipped entry
//     gave it those bytes, and the null is what the row holds.
// One rule no reader depends on, and so the check's alone: the offset table never
// falls back (Access writes the offsets of null and deleted columns equal to the next
// one). An entry that does was flipped; as no reader reads it, the row stays as every
// reader reads it, and a repair, which writes every row anew, mends the table.
//
// A flipped count byte leaves the rest of a row as it was, and other readers, which
// find the offsets and the null mask from the row's end, still read it whole. Such a
// row is mended, not dropped, when the rest of its bookkeeping names the one count it
// must have had (MendRowCounts):
//   - a column count beyond the highest column number + 1 (not 0, nor a row of zeros:
//     what a torn write leaves) is the definition's, when
//     the row then holds exactly what that many columns take (its variable data
//     ending where its trailer starts, or, without variable columns, its fixed area
//     ending at its null mask);
//   - a variable-column count is the one n for which entry n of the offset table,
//     the end of the variable data, is where the trailer of n entries starts, the
//     entries before it never falling back;
//   - that last entry, where it lies past the trailer, is the trailer's start, when
//     the row is then tight.
// and rules for long values, whose pages tear like any other:
//   - a memo's text holds no NUL character but a final one (no one can type one into
//     Access; zeros are what a page write that never finished leaves);
//   - the catalog's LvProp value, where it holds bytes, is a property value
//     (read/properties.h: its mark, and chunks within it), as Access and every reader
//     parse it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"
#include "jet/read/row.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

// Ok when `row` (its `size` bytes) keeps the rules above; kDamaged saying which not.
Status ValidateRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size);

// The same for a row already split: `layout` and `raw` are what ReadRowLayout and
// CrackRow (or CrackRowWithLayout) gave for it, both without failing.
Status ValidateCrackedRow(const Format& format, const TableDef& table, const RowLayout& layout,
                          const std::vector<RawColumn>& raw);

// CrackRow into `raw`, then ValidateRow into *valid, with the row's trailer read once.
// Returns CrackRow's status; *valid is ValidateRow's verdict, or that same failure
// when the row does not crack.
Status CrackAndValidateRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                           std::vector<RawColumn>* raw, Status* valid);

// Ok when the variable-offset table of a row ValidateRow accepts never falls back;
// kDamaged naming the entry that does. `layout` is the row's, from ReadRowLayout.
Status ValidateUnreadOffsets(const RowLayout& layout);

// Whether `row` cracks, keeps the rules above, and accounts for every byte it has:
// its variable data ends where its trailer starts (the offsets never falling back
// before that), or, without variable columns, its fixed area ends at its null mask.
// Every row Access writes but a rare few is so; few byte ranges that are not a row are.
bool RowIsTight(const Format& format, const TableDef& table, const uint8_t* row, size_t size);

// Mends the column count or the variable-column count of `row` (its `size` bytes, in
// place) as described above, when the row breaks the rules with them and keeps them
// with the count its other bookkeeping names. True, and what was mended in `what`,
// when it did; false (the row unchanged) when no single count fits.
bool MendRowCounts(const Format& format, const TableDef& table, uint8_t* row, size_t size, std::string* what);

// A flipped null-mask bit can also turn a fixed value into a null while its bytes stay
// in the fixed area. True when column `position` of `row` is such a null: a fixed
// column (not a boolean) the row carries, whose bit is clear; `raw` then names its
// stored bytes, as if the bit were set. No rule by itself (Access may leave the bytes
// of a value it set to null), but evidence where an index entry holds their key.
bool FixedBytesUnderNull(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                         size_t position, RawColumn* raw);

// Likewise a flipped end entry of the offset table cuts the last variable value short
// and leaves a gap before the trailer (Access leaves such gaps too, rarely). True
// when `row` has such a gap and its end entry can be moved to the trailer, which it
// then is (in place); false, the row unchanged, otherwise. Evidence where an index
// entry holds the key the row gives then.
bool CloseGapBeforeTrailer(const Format& format, const TableDef& table, uint8_t* row, size_t size);

// Ok when `value`, the value of column `column` of `table`, keeps the long-value
// rules above (any other column's value passes); kDamaged saying what is wrong.
Status ValidateLongValueContent(Version version, const TableDef& table, size_t column, const Value& value);
// Whether those rules judge column `column` of `table` at all: a caller may then skip
// decoding a value no rule reads.
bool LongValueContentIsJudged(const TableDef& table, size_t column);

}  // namespace jet
