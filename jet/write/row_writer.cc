// Row writer: column bytes from Values, then the row layout of jet/write/row_writer.h.
#include "jet/write/row_writer.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "jet/base/byte_order.h"
#include "jet/base/text.h"

namespace jet {
namespace {

Status Invalid(const ColumnDef& column, const std::string& what) {
  return Status::Error(ErrorKind::kInvalidArgument, "column \"" + column.name + "\": " + what);
}

Status Mismatch(const ColumnDef& column, const Value& value) {
  return Invalid(column, "a value of type " + std::to_string(int(value.type())) +
                             " does not fit type " + ColumnTypeName(column.type_code));
}

bool TypeIs(const Value& v, std::initializer_list<ValueType> types) {
  return std::find(types.begin(), types.end(), v.type()) != types.end();
}

void PutLe(uint64_t v, size_t bytes, std::vector<uint8_t>* out) {
  for (size_t i = 0; i < bytes; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// The stored bytes of a non-null, non-boolean value.
Status ColumnBytes(const Format& format, const ColumnDef& column, const Value& value,
                   const std::vector<uint8_t>* long_value_field, uint16_t database_code_page,
                   std::vector<uint8_t>* out) {
  out->clear();
  switch (column.type()) {
    case ColumnType::kByte:
      if (!TypeIs(value, {ValueType::kByte})) return Mismatch(column, value);
      out->push_back(uint8_t(value.integer()));
      return Status::Ok();
    case ColumnType::kInteger:
      if (!TypeIs(value, {ValueType::kInteger})) return Mismatch(column, value);
      PutLe(uint64_t(value.integer()), 2, out);
      return Status::Ok();
    case ColumnType::kLong:
    case ColumnType::kComplex:
      if (!TypeIs(value, {ValueType::kLong, ValueType::kComplex})) return Mismatch(column, value);
      PutLe(uint64_t(value.integer()), 4, out);
      return Status::Ok();
    case ColumnType::kCurrency:
    case ColumnType::kBigInt:
      if (!TypeIs(value, {ValueType::kCurrency, ValueType::kBigInt})) return Mismatch(column, value);
      PutLe(uint64_t(value.integer()), 8, out);
      return Status::Ok();
    case ColumnType::kSingle: {
      if (!TypeIs(value, {ValueType::kSingle})) return Mismatch(column, value);
      const float f = float(value.real());
      uint32_t bits;
      std::memcpy(&bits, &f, sizeof bits);
      PutLe(bits, 4, out);
      return Status::Ok();
    }
    case ColumnType::kDouble:
    case ColumnType::kDateTime: {
      if (!TypeIs(value, {ValueType::kDouble, ValueType::kDateTime})) return Mismatch(column, value);
      const double d = value.real();
      uint64_t bits;
      std::memcpy(&bits, &d, sizeof bits);
      PutLe(bits, 8, out);
      return Status::Ok();
    }
    case ColumnType::kGuid:
      if (!TypeIs(value, {ValueType::kGuid}) || value.bytes().size() != 16)
        return Mismatch(column, value);
      *out = value.bytes();
      return Status::Ok();
    case ColumnType::kNumeric: {
      // [sign: 0x80 negative][four 32-bit little-endian words, most significant first]
      if (!TypeIs(value, {ValueType::kNumeric})) return Mismatch(column, value);
      const Numeric& n = value.numeric();
      out->push_back(n.negative ? 0x80 : 0x00);
      PutLe(n.high >> 32, 4, out);
      PutLe(n.high & 0xFFFFFFFF, 4, out);
      PutLe(n.low >> 32, 4, out);
      PutLe(n.low & 0xFFFFFFFF, 4, out);
      return Status::Ok();
    }
    case ColumnType::kText: {
      if (!TypeIs(value, {ValueType::kText})) return Mismatch(column, value);
      Status s;
      size_t stored_units;  // what the column's length limits: bytes (J3), 2 x chars (J4)
      if (IsJet3(format.version)) {
        const uint16_t code_page = column.code_page != 0 ? column.code_page : database_code_page;
        s = EncodeCodePageText(value.text(), code_page, out);
        stored_units = out->size();
      } else {
        s = EncodeJet4Text(value.text(), (column.ext_flags & kColumnCompressedUnicode) != 0, out);
        stored_units = Utf16LeSize(value.text());
      }
      if (!s.ok()) return Invalid(column, s.detail());
      if (column.length != 0 && stored_units > column.length)
        return Invalid(column, "text of " + std::to_string(stored_units) +
                                   " bytes is longer than the column's " +
                                   std::to_string(column.length));
      return Status::Ok();
    }
    case ColumnType::kMemo:
    case ColumnType::kOle:
      if (long_value_field == nullptr)
        return Invalid(column, "no long-value field given for a non-null value");
      *out = *long_value_field;
      return Status::Ok();
    case ColumnType::kExtDateTime:
      if (TypeIs(value, {ValueType::kText})) {
        out->assign(value.text().begin(), value.text().end());
        if (out->size() >= column.length) return Invalid(column, "value too long");
        out->resize(column.length, 0);
        return Status::Ok();
      }
      return Mismatch(column, value);
    case ColumnType::kBinary:
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11:
    default:
      if (!TypeIs(value, {ValueType::kBinary})) return Mismatch(column, value);
      *out = value.bytes();
      if (column.length != 0 && !column.is_fixed() && out->size() > column.length &&
          column.type() == ColumnType::kBinary)
        return Invalid(column, "binary value longer than the column's " +
                                   std::to_string(column.length) + " bytes");
      return Status::Ok();
    case ColumnType::kBoolean:
      return Status::Ok();  // lives in the null mask
  }
}

// Jet 3 trailer below the null mask, for a row whose variable data ends at `eod`
// with `offsets` (var_count + 1 entries, the last = eod). Appends to `row`.
// False when the jump table cannot express the layout (a 255-entry table straddling
// a boundary its data does not reach).
bool AppendJet3Trailer(const std::vector<uint32_t>& offsets, size_t mask_size,
                       std::vector<uint8_t>* row) {
  const size_t var_count = offsets.size() - 1;
  const size_t base = row->size() + offsets.size() + 1 + mask_size;  // length without jumps
  // Find J with J == (E - 1) / 256 for E = base + J; one always exists because the
  // right side grows by at most one per step of J.
  size_t jumps = 0;
  while ((base + jumps - 1) / 256 != jumps) ++jumps;
  const size_t trailer_start = row->size();  // = col_off - var_count in the decoder
  // The decoder reads one jump fewer (the lowest byte is then a dummy) when the
  // offset table starts below the last boundary the row length implies.
  const size_t real_jumps = (trailer_start / 256 < jumps) ? jumps - 1 : jumps;
  for (size_t i = var_count + 1; i-- > 0;) row->push_back(uint8_t(offsets[i] & 0xFF));
  if (real_jumps < jumps) row->push_back(0xFF);
  for (size_t k = real_jumps; k-- > 0;) {
    // jump[k]: the first table entry at or beyond 256 * (k + 1); entries never reach
    // a boundary past the data only when the table itself straddles it, and then no
    // entry may match.
    size_t first = var_count + 1;
    for (size_t i = 0; i <= var_count; ++i) {
      if (offsets[i] >= 256 * (k + 1)) {
        first = i;
        break;
      }
    }
    if (first > 255) return false;
    row->push_back(uint8_t(first));
  }
  row->push_back(uint8_t(var_count));
  return true;
}

}  // namespace

Status EncodeRow(const Format& format, const TableDef& table, const RowFields& fields,
                 uint16_t database_code_page, std::vector<uint8_t>* row) {
  RowEncoder encoder;
  return encoder.Encode(format, table, fields, database_code_page, row);
}

Status RowEncoder::Encode(const Format& format, const TableDef& table, const RowFields& fields,
                          uint16_t database_code_page, std::vector<uint8_t>* row) {
  row->clear();
  if (fields.values.size() != table.columns.size())
    return Status::Error(ErrorKind::kInvalidArgument,
                         "row has " + std::to_string(fields.values.size()) + " values for " +
                             std::to_string(table.columns.size()) + " columns");
  const bool jet3 = IsJet3(format.version);
  uint16_t column_count = table.max_columns;
  for (const ColumnDef& c : table.columns) column_count = std::max<uint16_t>(column_count, c.number + 1);
  if (jet3 && column_count > 255)
    return Status::Error(ErrorKind::kInvalidArgument, "a Jet 3 row holds at most 255 columns");
  const size_t count_size = format.row_column_count_size;
  const size_t mask_size = (column_count + 7) / 8;
  mask_.assign(mask_size, 0);

  // Fixed area.
  size_t fixed_size = 0;
  for (const ColumnDef& c : table.columns)
    if (c.in_fixed_area())
      fixed_size = std::max<size_t>(fixed_size, size_t(c.fixed_offset) + c.length);
  row->assign(count_size + fixed_size, 0);
  if (jet3) (*row)[0] = uint8_t(column_count);
  else StoreLe16(row->data(), column_count);

  // Readers look for a trailer exactly when the definition counts variable columns.
  const uint16_t var_count = table.var_columns;
  for (const ColumnDef& c : table.columns)
    if (c.is_variable() && c.var_index >= var_count)
      return Invalid(c, "variable index " + std::to_string(c.var_index) +
                            " beyond the table's " + std::to_string(var_count) + " variable columns");
  if (jet3 && var_count > 255)
    return Status::Error(ErrorKind::kInvalidArgument, "a Jet 3 row holds at most 255 variable columns");
  var_area_.clear();
  var_spans_.assign(var_count, VarSpan());

  for (size_t i = 0; i < table.columns.size(); ++i) {
    const ColumnDef& c = table.columns[i];
    const Value& value = fields.values[i];
    if (c.type() == ColumnType::kBoolean) {
      if (!value.is_null() && value.type() != ValueType::kBoolean) return Mismatch(c, value);
      if (!value.is_null() && value.boolean()) mask_[c.number / 8] |= uint8_t(1 << (c.number % 8));
      continue;
    }
    if (value.is_null()) continue;
    const std::vector<uint8_t>* field =
        i < fields.long_value_fields.size() ? &fields.long_value_fields[i] : nullptr;
    Status s = ColumnBytes(format, c, value, field, database_code_page, &bytes_);
    if (!s.ok()) return s;
    mask_[c.number / 8] |= uint8_t(1 << (c.number % 8));
    if (c.is_fixed()) {
      if (bytes_.size() != c.length)
        return Invalid(c, std::to_string(bytes_.size()) + " bytes for a fixed column of " +
                              std::to_string(c.length));
      std::memcpy(row->data() + count_size + c.fixed_offset, bytes_.data(), bytes_.size());
    } else {
      var_spans_[c.var_index] = VarSpan{uint32_t(var_area_.size()), uint32_t(bytes_.size())};
      var_area_.insert(var_area_.end(), bytes_.begin(), bytes_.end());
    }
  }

  if (var_count > 0) {
    offsets_.clear();
    row->reserve(row->size() + var_area_.size() + 2 * (var_count + 2) + mask_size);
    for (const VarSpan& span : var_spans_) {
      offsets_.push_back(uint32_t(row->size()));
      row->insert(row->end(), var_area_.begin() + span.start, var_area_.begin() + span.start + span.size);
      if (row->size() > format.max_row_size) break;
    }
    offsets_.push_back(uint32_t(row->size()));  // end of the variable data
    if (row->size() > format.max_row_size)
      return Status::Error(ErrorKind::kInvalidArgument,
                           "row of more than " + std::to_string(format.max_row_size) +
                               " bytes exceeds the format's maximum row size");
    if (jet3) {
      if (!AppendJet3Trailer(offsets_, mask_size, row))
        return Status::Error(ErrorKind::kInvalidArgument,
                             "the row's variable-column table cannot be laid out");
    } else {
      for (size_t i = offsets_.size(); i-- > 0;) PutLe(offsets_[i], 2, row);
      PutLe(var_count, 2, row);
    }
  }
  row->insert(row->end(), mask_.begin(), mask_.end());
  if (row->size() > format.max_row_size)
    return Status::Error(ErrorKind::kInvalidArgument,
                         "row of " + std::to_string(row->size()) +
                             " bytes exceeds the format's maximum row size of " +
                             std::to_string(format.max_row_size));
  return Status::Ok();
}

}  // namespace jet
