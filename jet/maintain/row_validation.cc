// Row validation: the rules a stored row's bookkeeping keeps (see the header).
#include "jet/maintain/row_validation.h"

#include <algorithm>
#include <string>
#include <vector>

#include "jet/read/row.h"

namespace jet {
namespace {

Status Invalid(const std::string& detail) { return Status::Error(ErrorKind::kDamaged, "row: " + detail); }

}  // namespace

Status ValidateRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size) {
  thread_local RowLayout layout;
  Status s = ReadRowLayout(format, table, row, size, &layout);
  if (!s.ok()) return s;
  const uint32_t count = layout.column_count;
  if (count == 0) return Invalid("it claims no columns (its bytes are zeros or noise)");
  if (count > table.max_columns)
    return Invalid("it claims " + std::to_string(count) + " columns of " + std::to_string(table.max_columns));

  const uint32_t count_size = format.row_column_count_size;
  uint32_t fixed_end = count_size;
  for (const ColumnDef& c : table.columns) {
    if (c.number >= count || !c.is_fixed() || c.type() == ColumnType::kBoolean) continue;
    fixed_end = std::max<uint32_t>(fixed_end, count_size + c.fixed_offset + c.length);
  }
  if (fixed_end > layout.trailer_start)
    return Invalid("its fixed area (" + std::to_string(fixed_end) + " bytes) runs into its trailer at " +
                   std::to_string(layout.trailer_start));
  // Offsets of null columns are never read, by any reader: only the values the row
  // holds must lie past the fixed area.
  thread_local std::vector<RawColumn> raw;
  s = CrackRow(format, table, row, size, &raw);
  if (!s.ok()) return s;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    if (raw[i].is_null || c.is_fixed() || c.type() == ColumnType::kBoolean) continue;
    if (raw[i].offset < fixed_end)
      return Invalid("variable column \"" + c.name + "\" starts at " + std::to_string(raw[i].offset) +
                     ", inside the fixed area of " + std::to_string(fixed_end) + " bytes");
  }
  if (table.var_columns > 0) {
    for (size_t i = 0; i < table.columns.size(); ++i) {
      const ColumnDef& c = table.columns[i];
      if (c.number >= count || c.is_fixed() || c.type() == ColumnType::kBoolean) continue;
      if (c.var_index >= layout.var_count)
        return Invalid("variable column \"" + c.name + "\" has no entry among its " +
                       std::to_string(layout.var_count) + " variable offsets");
      const uint32_t length = layout.var_offsets[c.var_index + 1] - layout.var_offsets[c.var_index];
      if (raw[i].is_null && layout.var_offsets[c.var_index + 1] > layout.var_offsets[c.var_index])
        return Invalid("variable column \"" + c.name + "\" is null in the null mask, yet its offsets give it " +
                       std::to_string(length) + " bytes");
    }
  }
  return Status::Ok();
}

Status ValidateMemoText(const ColumnDef& column, const Value& value) {
  if (column.type() != ColumnType::kMemo || value.is_null()) return Status::Ok();
  // Access ends some memo text it writes itself (query expressions) with one NUL.
  const std::string& text = value.text();
  const size_t nul = text.find('\0');
  if (nul == std::string::npos || nul + 1 == text.size()) return Status::Ok();
  return Status::Error(ErrorKind::kDamaged, "memo \"" + column.name + "\" holds a NUL character at byte " +
                                                std::to_string(nul) + " of its " +
                                                std::to_string(value.text().size()) + " (zeroed or garbled text)");
}

}  // namespace jet
