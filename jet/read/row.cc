// Rows: cracking the row layout and converting column bytes to Values.
#include "jet/read/row.h"

#include <string>

#include "jet/base/byte_order.h"
#include "jet/file/page_file.h"
#include "jet/base/text.h"
#include "jet/base/thread_scratch.h"

namespace jet {
namespace {

Status Damaged(const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "row: " + detail);
}

// The variable-offset table of one row: offsets[i] for i = 0..count (the last entry is
// the end of the variable data), and the lowest byte the trailer occupies.
struct VarTable {
  uint32_t count = 0;
  uint32_t trailer_start = 0;
  uint16_t offsets[0x10000];
};

// Jet 4: 2-byte entries below the 2-byte var count.
bool DecodeJet4Offsets(const uint8_t* row, size_t size, size_t data_start, size_t mask_size,
                       VarTable* t) {
  if (size < data_start + mask_size + 2) return false;
  const size_t count_at = size - mask_size - 2;
  t->count = LoadLe16(row + count_at);
  const uint64_t table_bytes = 2 * (uint64_t(t->count) + 1);
  if (count_at < data_start + table_bytes) return false;
  for (uint32_t i = 0; i <= t->count; ++i) t->offsets[i] = LoadLe16(row + count_at - 2 - 2 * i);
  t->trailer_start = static_cast<uint32_t>(count_at - table_bytes);
  return true;
}

// Jet 3: 1-byte offsets whose high parts come from a jump table. jump[k] is the index
// of the first table entry at or beyond 256 * (k + 1); the jump bytes sit just below the
// var count, and when the last one is not needed it is a dummy at the lowest address.
bool DecodeJet3Offsets(const uint8_t* row, size_t size, size_t data_start, size_t mask_size,
                       VarTable* t) {
  if (size < data_start + mask_size + 1) return false;
  const size_t count_at = size - mask_size - 1;
  t->count = row[count_at];
  size_t jumps = (size - 1) / 256;
  if (count_at < 1 + jumps) return false;
  const size_t col_off = count_at - 1 - jumps;  // = E - nm - 2 - J
  if (col_off < data_start + t->count) return false;
  if ((col_off - t->count) / 256 < jumps) --jumps;
  size_t used = 0;
  for (uint32_t i = 0; i <= t->count; ++i) {
    while (used < jumps && i == row[count_at - 1 - used]) ++used;
    t->offsets[i] = static_cast<uint16_t>(row[col_off - i] + 256 * used);
  }
  t->trailer_start = static_cast<uint32_t>(col_off - t->count);
  return true;
}

}  // namespace

Status ReadRowLayout(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                     RowLayout* layout) {
  const size_t count_size = format.row_column_count_size;
  if (size < count_size) return Damaged("empty row");
  layout->column_count = count_size == 1 ? row[0] : LoadLe16(row);
  layout->mask_size = (layout->column_count + 7) / 8;
  if (size < count_size + layout->mask_size)
    return Damaged("row of " + std::to_string(size) + " bytes cannot hold its null mask");
  layout->var_count = 0;
  layout->var_offsets.clear();
  layout->trailer_start = static_cast<uint32_t>(size - layout->mask_size);
  if (table.var_columns == 0) return Status::Ok();
  thread_local VarTable vars;
  vars.count = 0;
  const bool ok = IsJet3(format.version) ? DecodeJet3Offsets(row, size, count_size, layout->mask_size, &vars)
                                         : DecodeJet4Offsets(row, size, count_size, layout->mask_size, &vars);
  if (!ok) return Damaged("variable-column table does not fit in the row");
  layout->var_count = vars.count;
  layout->var_offsets.assign(vars.offsets, vars.offsets + vars.count + 1);
  layout->trailer_start = vars.trailer_start;
  return Status::Ok();
}

Status CrackRow(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                std::vector<RawColumn>* columns) {
  thread_local RowLayout* layout_slot = nullptr;
  RowLayout& layout = ThreadScratch(&layout_slot);
  Status s = ReadRowLayout(format, table, row, size, &layout);
  if (!s.ok()) {
    columns->assign(table.columns.size(), RawColumn());
    return s;
  }
  return CrackRowWithLayout(format, table, row, size, layout, columns);
}

Status CrackRowWithLayout(const Format& format, const TableDef& table, const uint8_t* row, size_t size,
                          const RowLayout& layout, std::vector<RawColumn>* columns) {
  const size_t count_size = format.row_column_count_size;
  columns->assign(table.columns.size(), RawColumn());
  const uint8_t* mask = row + size - layout.mask_size;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    RawColumn& raw = (*columns)[i];
    if (c.number >= layout.column_count) continue;  // added after this row was written
    raw.bit = (mask[c.number / 8] >> (c.number % 8)) & 1;
    if (c.type() == ColumnType::kBoolean) {
      raw.is_null = false;
      continue;
    }
    if (!raw.bit) continue;
    if (c.is_fixed()) {
      const size_t start = count_size + c.fixed_offset;
      if (!InBounds(start, c.length, layout.trailer_start))
        return Damaged("fixed column \"" + c.name + "\" lies outside the row");
      raw.offset = static_cast<uint32_t>(start);
      raw.size = c.length;
    } else {
      if (c.var_index >= layout.var_count) continue;  // var table written before the column existed
      const uint32_t start = layout.var_offsets[c.var_index];
      const uint32_t end = layout.var_offsets[c.var_index + 1];
      if (start < count_size || start > end || end > layout.trailer_start)
        return Damaged("variable column \"" + c.name + "\" has extent [" + std::to_string(start) +
                       ", " + std::to_string(end) + ") outside the row");
      raw.offset = start;
      raw.size = end - start;
    }
    raw.is_null = false;
  }
  return Status::Ok();
}

RowDecoder::RowDecoder(const PageFile& file, const TableDef& table)
    : file_(file), table_(table), long_values_(file) {}

Status RowDecoder::Decode(const uint8_t* row, size_t size, std::vector<Value>* values) {
  Status s = CrackRow(file_.format(), table_, row, size, &raw_);
  if (!s.ok()) return s;
  return DecodeCracked(row, raw_, values);
}

Status RowDecoder::DecodeCracked(const uint8_t* row, const std::vector<RawColumn>& raw, std::vector<Value>* values) {
  values->resize(table_.columns.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    Status s = ColumnValue(i, row, raw[i], &(*values)[i]);
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

Status RowDecoder::TextValue(const ColumnDef& column, const uint8_t* data, size_t size,
                             Value* value) {
  // Decoded straight into the value, whose buffer is reused from the row before.
  std::string* text = value->ResetToText();
  if (IsJet3(file_.format().version)) {
    const uint16_t code_page = column.code_page != 0 ? column.code_page : TextCodePage(file_.header());
    Status s = DecodeCodePageText(data, size, code_page, text);
    if (!s.ok()) {
      *value = Value::Null();
      return Status::Error(ErrorKind::kUnsupportedFormat,
                           "column \"" + column.name + "\": " + s.detail());
    }
  } else {
    Status s = DecodeJet4Text(data, size, text);
    if (!s.ok()) {
      *value = Value::Null();
      return s;
    }
  }
  return Status::Ok();
}

Status RowDecoder::ColumnValue(size_t position, const uint8_t* row, const RawColumn& raw,
                               Value* value) {
  const ColumnDef& c = table_.columns[position];
  if (c.type() == ColumnType::kBoolean) {
    if (raw.is_null) value->SetNull();
    else value->SetInteger(ValueType::kBoolean, raw.bit ? 1 : 0);
    return Status::Ok();
  }
  if (raw.is_null) {
    value->SetNull();
    return Status::Ok();
  }
  const uint8_t* p = row + raw.offset;
  const size_t n = raw.size;
  auto too_short = [&](size_t need) {
    return Damaged("column \"" + c.name + "\" has " + std::to_string(n) + " bytes, needs " +
                   std::to_string(need));
  };
  switch (c.type()) {
    case ColumnType::kByte:
      if (n < 1) return too_short(1);
      value->SetInteger(ValueType::kByte, p[0]);
      return Status::Ok();
    case ColumnType::kInteger:
      if (n < 2) return too_short(2);
      value->SetInteger(ValueType::kInteger, static_cast<int16_t>(LoadLe16(p)));
      return Status::Ok();
    case ColumnType::kLong:
      if (n < 4) return too_short(4);
      value->SetInteger(ValueType::kLong, static_cast<int32_t>(LoadLe32(p)));
      return Status::Ok();
    case ColumnType::kComplex:
      if (n < 4) return too_short(4);
      value->SetInteger(ValueType::kComplex, static_cast<int32_t>(LoadLe32(p)));
      return Status::Ok();
    case ColumnType::kCurrency:
      if (n < 8) return too_short(8);
      value->SetInteger(ValueType::kCurrency, static_cast<int64_t>(LoadLe64(p)));
      return Status::Ok();
    case ColumnType::kBigInt:
      if (n < 8) return too_short(8);
      value->SetInteger(ValueType::kBigInt, static_cast<int64_t>(LoadLe64(p)));
      return Status::Ok();
    case ColumnType::kSingle:
      if (n < 4) return too_short(4);
      value->SetReal(ValueType::kSingle, LoadLeFloat(p));
      return Status::Ok();
    case ColumnType::kDouble:
      if (n < 8) return too_short(8);
      value->SetReal(ValueType::kDouble, LoadLeDouble(p));
      return Status::Ok();
    case ColumnType::kDateTime:
      if (n < 8) return too_short(8);
      value->SetReal(ValueType::kDateTime, LoadLeDouble(p));
      return Status::Ok();
    case ColumnType::kGuid: {
      if (n < 16) return too_short(16);
      std::array<uint8_t, 16> g;
      for (size_t i = 0; i < 16; ++i) g[i] = p[i];
      *value = Value::Guid(g);
      return Status::Ok();
    }
    case ColumnType::kNumeric: {
      // [sign: 0x80 negative][four 32-bit little-endian words, most significant first]
      if (n < 17) return too_short(17);
      Numeric num;
      num.negative = (p[0] & 0x80) != 0;
      num.high = (uint64_t(LoadLe32(p + 1)) << 32) | LoadLe32(p + 5);
      num.low = (uint64_t(LoadLe32(p + 9)) << 32) | LoadLe32(p + 13);
      num.precision = c.precision;
      num.scale = c.scale;
      *value = Value::NumericValue(num);
      return Status::Ok();
    }
    case ColumnType::kText:
      return TextValue(c, p, n, value);
    case ColumnType::kMemo:
    case ColumnType::kOle: {
      if (n == 0) {
        *value = c.type() == ColumnType::kMemo ? Value::Text("") : Value::Binary({});
        return Status::Ok();
      }
      Status s = long_values_.Read(p, n, &long_value_);
      if (!s.ok())
        return Status::Error(s.kind(), "column \"" + c.name + "\": " + s.detail());
      return LongColumnValue(position, long_value_, value);
    }
    case ColumnType::kExtDateTime: {
      size_t len = 0;
      while (len < n && p[len] != 0) ++len;
      *value = Value::Text(std::string(reinterpret_cast<const char*>(p), len));
      return Status::Ok();
    }
    case ColumnType::kBoolean:
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
      break;
  }
  *value = Value::Binary(std::vector<uint8_t>(p, p + n));
  return Status::Ok();
}

Status RowDecoder::LongColumnValue(size_t position, const std::vector<uint8_t>& bytes, Value* value) {
  const ColumnDef& c = table_.columns[position];
  if (c.type() == ColumnType::kMemo) return TextValue(c, bytes.data(), bytes.size(), value);
  *value = Value::Binary(bytes);
  return Status::Ok();
}

}  // namespace jet
