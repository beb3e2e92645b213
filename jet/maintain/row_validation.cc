// Row validation: the rules a stored row's bookkeeping keeps (see the header).
#include "jet/maintain/row_validation.h"

#include <algorithm>
#include <string>
#include <vector>

#include "jet/base/byte_order.h"
#include "jet/base/thread_scratch.h"
#include "jet/read/catalog.h"
#include "jet/read/properties.h"
#include "jet/read/row.h"

namespace jet {
namespace {

Status Invalid(const std::string& detail) { return Status::Error(ErrorKind::kDamaged, "row: " + detail); }

// Where the fixed area of the columns a row with `count` columns carries ends.
uint32_t FixedAreaEnd(const Format& format, const TableDef& table, uint32_t count) {
  const uint32_t count_size = format.row_column_count_size;
  uint32_t fixed_end = count_size;
  for (const ColumnDef& c : table.columns) {
    if (c.number >= count || !c.in_fixed_area()) continue;
    fixed_end = std::max<uint32_t>(fixed_end, count_size + c.fixed_offset + c.length);
  }
  return fixed_end;
}

// The rules on the row's counts and its fixed area.
Status ValidateCounts(const Format& format, const TableDef& table, const RowLayout& layout) {
  const uint32_t count = layout.column_count;
  if (count == 0) return Invalid("it claims no columns (its bytes are zeros or noise)");
  if (count > table.max_columns)
    return Invalid("it claims " + std::to_string(count) + " columns of " + std::to_string(table.max_columns));
  const uint32_t fixed_end = FixedAreaEnd(format, table, count);
  if (fixed_end > layout.trailer_start)
    return Invalid("its fixed area (" + std::to_string(fixed_end) + " bytes) runs into its trailer at " +
                   std::to_string(layout.trailer_start));
  return Status::Ok();
}

// The rules on where the columns the row holds lie, given its split `raw`.
Status ValidateColumns(const Format& format, const TableDef& table, const RowLayout& layout,
                       const std::vector<RawColumn>& raw) {
  const uint32_t count = layout.column_count;
  // Offsets of null columns are never read, by any reader: only the values the row
  // holds must lie past the fixed area.
  const uint32_t fixed_end = FixedAreaEnd(format, table, count);
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    if (raw[i].is_null || !c.is_variable()) continue;
    if (raw[i].offset < fixed_end)
      return Invalid("variable column \"" + c.name + "\" starts at " + std::to_string(raw[i].offset) +
                     ", inside the fixed area of " + std::to_string(fixed_end) + " bytes");
  }
  if (table.var_columns > 0) {
    for (size_t i = 0; i < table.columns.size(); ++i) {
      const ColumnDef& c = table.columns[i];
      if (c.number >= count || !c.is_variable()) continue;
      if (c.var_index >= layout.var_count)
        return Invalid("variable column \"" + c.name + "\" has no entry among its " +
                       std::to_string(layout.var_count) + " variable offsets");
      const std::vector<uint16_t>& at = layout.var_offsets;
      const uint32_t k = c.var_index, length = at[k + 1] - at[k];
      // Bytes that come from an entry falling back against its neighbour are a
      // flipped offset, which no reader reads (ValidateUnreadOffsets), not a value.
      const bool entries_in_order =
          (k == 0 || at[k - 1] <= at[k]) && (k + 2 > layout.var_count || at[k + 1] <= at[k + 2]);
      if (raw[i].is_null && at[k + 1] > at[k] && entries_in_order)
        return Invalid("variable column \"" + c.name + "\" is null in the null mask, yet its offsets give it " +
                       std::to_string(length) + " bytes");
    }
  }
  return Status::Ok();
}

}  // namespace

Status ValidateRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  Status s = ReadRowLayout(format, table, row, size, &layout);
  if (!s.ok()) return s;
  s = ValidateCounts(format, table, layout);
  if (!s.ok()) return s;
  thread_local std::vector<RawColumn>* raw_slot = nullptr;
  std::vector<RawColumn>& raw = ThreadScratch(&raw_slot);
  s = CrackRowWithLayout(format, table, row, size, layout, &raw);
  if (!s.ok()) return s;
  return ValidateColumns(format, table, layout, raw);
}

Status ValidateCrackedRow(const Format& format, const TableDef& table, const RowLayout& layout,
                          const std::vector<RawColumn>& raw) {
  Status s = ValidateCounts(format, table, layout);
  if (!s.ok()) return s;
  return ValidateColumns(format, table, layout, raw);
}

Status CrackAndValidateRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                           std::vector<RawColumn>* raw, Status* valid) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  Status s = ReadRowLayout(format, table, row, size, &layout);
  if (s.ok()) {
    s = CrackRowWithLayout(format, table, row, size, layout, raw);
  } else {
    raw->assign(table.columns.size(), RawColumn());  // as CrackRow leaves it
  }
  *valid = s.ok() ? ValidateCrackedRow(format, table, layout, *raw) : s;
  return s;
}

Status ValidateUnreadOffsets(const RowLayout& layout) {
  for (uint32_t i = 0; i < layout.var_count; ++i)
    if (layout.var_offsets[i + 1] < layout.var_offsets[i])
      return Invalid("its variable-offset table falls back at entry " + std::to_string(i + 1) + " (" +
                     std::to_string(layout.var_offsets[i + 1]) + " after " + std::to_string(layout.var_offsets[i]) +
                     "), an offset no reader reads");
  return Status::Ok();
}

namespace {

uint32_t LoadCount(const uint8_t* at, uint32_t width) { return width == 1 ? at[0] : LoadLe16(at); }
void StoreCount(uint8_t* at, uint32_t width, uint32_t value) {
  if (width == 1)
    at[0] = uint8_t(value);
  else
    StoreLe16(at, uint16_t(value));
}

// True when the row's bookkeeping accounts for every byte it has: its variable data
// ends where its trailer starts (the offsets never falling back before that), or,
// without variable columns, its fixed area ends at its null mask.
bool Tight(const Format& format, const TableDef& table, const uint8_t* row, size_t size) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  if (!ReadRowLayout(format, table, row, size, &layout).ok()) return false;
  if (table.var_columns == 0) return FixedAreaEnd(format, table, layout.column_count) == layout.trailer_start;
  for (uint32_t i = 0; i < layout.var_count; ++i)
    if (layout.var_offsets[i + 1] < layout.var_offsets[i]) return false;
  return layout.var_offsets[layout.var_count] == layout.trailer_start;
}

}  // namespace

bool RowIsTight(const Format& format, const TableDef& table, const uint8_t* row, size_t size) {
  thread_local std::vector<RawColumn>* raw_slot = nullptr;
  std::vector<RawColumn>& raw = ThreadScratch(&raw_slot);
  return CrackRow(format, table, row, size, &raw).ok() && ValidateRow(format, table, row, size).ok() &&
         Tight(format, table, row, size);
}

namespace {

// Where the variable-column count of a row of `size` bytes with `column_count`
// columns is stored.
size_t VarCountAt(const Format& format, size_t size, uint32_t column_count) {
  return size - (column_count + 7) / 8 - (IsJet3(format.version) ? 1 : 2);
}

// Sets the last entry of the variable-offset table of `row` (whose `layout` it is),
// the end of the variable data, to where the trailer starts, re-reading `layout`;
// true when it then reads so. A Jet 3 row of more than 256 bytes is left alone: its
// jump bytes lie between the count and that entry.
bool MoveEndEntryToTrailer(const Format& format, const TableDef& table, uint8_t* row, size_t size,
                           RowLayout* layout) {
  const size_t mask = layout->mask_size;
  if (IsJet3(format.version)) {
    if (size > 256) return false;
    row[size - mask - 2 - layout->var_count] = uint8_t(layout->trailer_start);
  } else {
    StoreLe16(row + size - mask - 2 - 2 - 2 * layout->var_count, uint16_t(layout->trailer_start));
  }
  return ReadRowLayout(format, table, row, size, layout).ok() &&
         layout->var_offsets[layout->var_count] == layout->trailer_start;
}

// An end entry past the trailer is no gap Access leaves but a flipped byte: the
// trailer's start is the one value it can have had, when the row is then tight. True,
// with the mend in `what`, when it was so mended; false, the row unchanged, otherwise.
bool MendEndEntryPastTrailer(const Format& format, const TableDef& table, uint8_t* row, size_t size,
                             std::string* what) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  if (!ReadRowLayout(format, table, row, size, &layout).ok() || layout.var_count == 0) return false;
  const uint32_t end = layout.var_offsets[layout.var_count];
  if (end <= layout.trailer_start) return false;
  const std::vector<uint8_t> before(row, row + size);
  if (MoveEndEntryToTrailer(format, table, row, size, &layout) && RowIsTight(format, table, row, size)) {
    *what = "its variable data ends at " + std::to_string(end) + ", past its trailer at " +
            std::to_string(layout.trailer_start) + ", where it must end";
    return true;
  }
  std::copy(before.begin(), before.end(), row);
  return false;
}

// The one variable-column count with which `row` is sound, written into it; false
// (the row unchanged) when none or several are.
bool MendVarCount(const Format& format, const TableDef& table, uint8_t* row, size_t size, uint32_t* from,
                  uint32_t* to) {
  const uint32_t width = IsJet3(format.version) ? 1 : 2;
  const uint32_t columns = LoadCount(row, format.row_column_count_size);
  const size_t mask = (columns + 7) / 8;
  if (size < format.row_column_count_size + mask + width) return false;
  uint8_t* at = row + VarCountAt(format, size, columns);
  const uint32_t stored = LoadCount(at, width);
  uint32_t found = 0, fits = 0;
  const uint32_t most = std::min<uint32_t>(width == 1 ? 255 : table.max_columns, uint32_t(size) / width);
  for (uint32_t n = 0; n <= most && fits < 2; ++n) {
    if (n == stored) continue;
    StoreCount(at, width, n);
    if (RowIsTight(format, table, row, size)) {
      found = n;
      ++fits;
    }
  }
  StoreCount(at, width, fits == 1 ? found : stored);
  *from = stored;
  *to = found;
  return fits == 1;
}

}  // namespace

bool MendRowCounts(const Format& format, const TableDef& table, uint8_t* row, size_t size, std::string* what) {
  const uint32_t width = format.row_column_count_size;
  if (size < width || RowIsTight(format, table, row, size)) return false;
  const uint32_t columns = LoadCount(row, width);
  uint32_t from = 0, to = 0;
  // Zeros are what a torn write leaves, not a flipped byte: a row of them is no row.
  if (std::all_of(row, row + size, [](uint8_t b) { return b == 0; })) return false;
  if (columns > table.max_columns) {
    // An impossible column count: the definition's, if the row is then sound as it
    // is, or with its variable-column count mended too. (A count of 0 is a tear's.)
    StoreCount(row, width, table.max_columns);
    *what = "its column count " + std::to_string(columns) + " is impossible; the definition's " +
            std::to_string(table.max_columns) + " fits its other bookkeeping";
    if (RowIsTight(format, table, row, size)) return true;
    if (table.var_columns > 0 && MendVarCount(format, table, row, size, &from, &to)) {
      *what += ", with a variable-column count of " + std::to_string(to) + " (not " + std::to_string(from) + ")";
      return true;
    }
    StoreCount(row, width, columns);
    return false;
  }
  if (table.var_columns == 0) return false;
  if (MendEndEntryPastTrailer(format, table, row, size, what)) return true;
  // A variable-column count the offsets do not end with is mended only when the
  // stored one is what is wrong: with it, the table does not end at the trailer.
  if (Tight(format, table, row, size) || !MendVarCount(format, table, row, size, &from, &to)) return false;
  *what = "its variable-column count " + std::to_string(from) + " disagrees with its offset table, which " +
          "ends where a count of " + std::to_string(to) + " puts its trailer";
  return true;
}

bool FixedBytesUnderNull(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                         size_t position, RawColumn* raw) {
  const ColumnDef& c = table.columns[position];
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  if (!c.in_fixed_area() || !ReadRowLayout(format, table, row, size, &layout).ok() ||
      c.number >= layout.column_count)
    return false;
  const uint8_t* mask = row + size - layout.mask_size;
  const uint32_t start = format.row_column_count_size + c.fixed_offset;
  if ((mask[c.number / 8] >> (c.number % 8)) & 1 || start + c.length > layout.trailer_start) return false;
  *raw = RawColumn{false, false, start, c.length};
  return true;
}

bool CloseGapBeforeTrailer(const Format& format, const TableDef& table, uint8_t* row, size_t size) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  if (table.var_columns == 0 || !ReadRowLayout(format, table, row, size, &layout).ok() || layout.var_count == 0)
    return false;
  if (layout.var_offsets[layout.var_count] >= layout.trailer_start) return false;
  return MoveEndEntryToTrailer(format, table, row, size, &layout);
}

namespace {

Status ValidateMemoText(const ColumnDef& column, const Value& value) {
  // Access ends some memo text it writes itself (query expressions) with one NUL.
  const std::string& text = value.text();
  const size_t nul = text.find('\0');
  if (nul == std::string::npos || nul + 1 == text.size()) return Status::Ok();
  return Status::Error(ErrorKind::kDamaged, "memo \"" + column.name + "\" holds a NUL character at byte " +
                                                std::to_string(nul) + " of its " +
                                                std::to_string(value.text().size()) + " (zeroed or garbled text)");
}

bool IsCatalogProperties(const TableDef& table, const ColumnDef& column) {
  return table.first_page == kCatalogTdefPage && column.type() == ColumnType::kOle && column.name == "LvProp";
}

}  // namespace

bool LongValueContentIsJudged(const TableDef& table, size_t column) {
  const ColumnDef& def = table.columns[column];
  return def.type() == ColumnType::kMemo || IsCatalogProperties(table, def);
}

Status ValidateLongValueContent(Version version, const TableDef& table, size_t column, const Value& value) {
  const ColumnDef& def = table.columns[column];
  if (value.is_null()) return Status::Ok();
  if (def.type() == ColumnType::kMemo) return ValidateMemoText(def, value);
  if (IsCatalogProperties(table, def) && !value.bytes().empty()) {
    std::vector<PropertyBlock> blocks;
    // Names are not looked at here: the code page only decodes them.
    const Status s = ParseProperties(value.bytes(), version, 1252, &blocks);
    if (!s.ok())
      return Status::Error(ErrorKind::kDamaged, "the properties in \"LvProp\" cannot be read (" + s.detail() + ")");
  }
  return Status::Ok();
}

}  // namespace jet
