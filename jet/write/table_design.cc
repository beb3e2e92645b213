// Table design: the definition of a new table, laid out and serialised.
#include "jet/write/table_design.h"

#include "jet/base/byte_writer.h"
#include "jet/base/text.h"

namespace jet {
namespace {

constexpr uint32_t kTdefMagic = 1625;        // J4 column / logical records, TDEF header
constexpr uint32_t kRealIndexMagic = 1923;   // J4 real index records
constexpr uint16_t kSortGeneral = 1033;
constexpr size_t kIndexColumnSlots = 10;

}  // namespace


namespace {

bool IsVariable(ColumnType type) {
  return type == ColumnType::kText || type == ColumnType::kBinary || type == ColumnType::kMemo ||
         type == ColumnType::kOle;
}

bool IsTextual(ColumnType type) { return type == ColumnType::kText || type == ColumnType::kMemo; }

Status EncodeName(const Format& f, uint16_t code_page, const std::string& name,
                  std::vector<uint8_t>* out) {
  if (IsJet3(f.version)) {
    Status s = EncodeCodePageText(name, code_page, out);
    if (!s.ok()) return Status::Error(ErrorKind::kInvalidArgument, "name \"" + name + "\": " + s.detail());
  } else {
    *out = Utf8ToUtf16Le(name);
  }
  const size_t limit = f.name_length_size == 1 ? 0xFF : 0xFFFF;
  if (out->size() > limit) return Status::Error(ErrorKind::kInvalidArgument, "name \"" + name + "\" too long");
  return Status::Ok();
}

}  // namespace

Status BuildTableDef(const Format& f, uint16_t code_page, const TableDesign& design, TableDef* table) {
  *table = TableDef();
  const bool j3 = IsJet3(f.version);
  if (design.columns.empty() || design.columns.size() > 255)
    return Status::Error(ErrorKind::kInvalidArgument, "a table has 1 to 255 columns");

  // Column layout: numbers by position, variable indexes and fixed offsets in order.
  uint16_t var_count = 0, fixed_end = 0;
  for (size_t i = 0; i < design.columns.size(); ++i) {
    const ColumnDesign& d = design.columns[i];
    ColumnDef c;
    c.type_code = uint8_t(d.type);
    c.number = uint16_t(i);
    c.name = d.name;
    const uint16_t size = d.size == 0 ? 255 : d.size;
    if (IsVariable(d.type)) {
      c.var_index = var_count++;
      c.flags = kColumnAlwaysSet;
      if (d.type == ColumnType::kText) c.length = j3 ? size : uint16_t(2 * size);
      if (d.type == ColumnType::kBinary) c.length = size;
    } else {
      c.flags = kColumnFixed | kColumnAlwaysSet;
      c.length = d.type == ColumnType::kBoolean ? 1 : FixedColumnSize(d.type);
      if (d.type != ColumnType::kBoolean) {
        c.fixed_offset = fixed_end;
        fixed_end = uint16_t(fixed_end + c.length);
      }
    }
    if (d.autonumber) c.flags |= kColumnAutoNumber;
    if (design.system) c.flags |= 0x10;
    c.flags |= d.extra_flags;
    if (IsTextual(d.type)) {
      c.sort_lcid = kSortGeneral;
      if (j3) c.code_page = code_page;
      else if (!design.system) c.ext_flags = kColumnCompressedUnicode;
    }
    if (d.type == ColumnType::kNumeric) {
      c.precision = d.precision;
      c.scale = d.scale;
    }
    table->columns.push_back(c);
  }
  if (fixed_end + f.row_column_count_size > f.max_row_size)
    return Status::Error(ErrorKind::kInvalidArgument, "the fixed-length columns do not fit in a row");

  // Names, encoded once to size the buffer.
  std::vector<std::vector<uint8_t>> column_names, index_names;
  for (const ColumnDesign& d : design.columns) {
    column_names.emplace_back();
    Status s = EncodeName(f, code_page, d.name, &column_names.back());
    if (!s.ok()) return s;
  }
  for (const LogicalIndexDesign& d : design.logical_indexes) {
    index_names.emplace_back();
    Status s = EncodeName(f, code_page, d.name, &index_names.back());
    if (!s.ok()) return s;
  }
  size_t length = f.tdef_header_end + design.real_indexes.size() * f.real_index_stat_size +
                  design.columns.size() * f.column_def_size +
                  design.real_indexes.size() * f.real_index_def_size +
                  design.logical_indexes.size() * f.logical_index_def_size + 2;
  for (const auto& n : column_names) length += f.name_length_size + n.size();
  for (const auto& n : index_names) length += f.name_length_size + n.size();
  for (const ColumnDef& c : table->columns)
    if (c.is_long_value()) length += 10;

  table->buffer.assign(length, 0);
  table->tdef_length = uint32_t(length);
  table->table_type = design.system ? 'S' : 'N';
  table->max_columns = uint16_t(design.columns.size());
  table->var_columns = var_count;
  ByteWriter w(table->buffer);

  // Header block.
  w.U8(0, kPageTableDef);
  w.U8(1, 0x01);
  w.Le32(kTdefLengthOffset, uint32_t(length));
  if (!j3) {
    w.Le32(12, kTdefMagic);
    w.U8(24, 0x01);  // AutoNumber value valid, as Access writes it
  }
  w.U8(f.tdef_table_type, table->table_type);
  w.Le16(f.tdef_max_columns, table->max_columns);
  w.Le16(f.tdef_var_columns, var_count);
  w.Le16(f.tdef_column_count, uint16_t(design.columns.size()));
  w.Le32(f.tdef_logical_indexes, uint32_t(design.logical_indexes.size()));
  w.Le32(f.tdef_real_indexes, uint32_t(design.real_indexes.size()));

  size_t at = f.tdef_header_end;
  // 1. Real-index statistics (filled in when the index is built).
  table->real_indexes.resize(design.real_indexes.size());
  for (RealIndex& index : table->real_indexes) {
    index.stat_offset = at;
    at += f.real_index_stat_size;
  }
  // 2. Column definitions.
  for (ColumnDef& c : table->columns) {
    c.def_offset = at;
    w.U8(at, c.type_code);
    if (j3) {
      w.Le16(at + 1, c.number);
      w.Le16(at + 3, c.var_index);
      w.Le16(at + 5, design.system ? 0 : c.number);
      w.Le16(at + 7, 0x0001);
      w.Le16(at + 9, kSortGeneral);
      w.Le16(at + 11, code_page);
      w.U8(at + 13, c.flags);
      w.Le16(at + 14, c.fixed_offset);
      w.Le16(at + 16, c.length);
    } else {
      w.Le32(at + 1, kTdefMagic);
      w.Le16(at + 5, c.number);
      w.Le16(at + 7, c.var_index);
      w.Le16(at + 9, design.system ? 0 : c.number);
      w.Le16(at + 11, kSortGeneral);
      w.U8(at + 15, c.flags);
      w.U8(at + 16, c.ext_flags);
      w.Le16(at + 21, c.fixed_offset);
      w.Le16(at + 23, c.length);
    }
    if (c.type() == ColumnType::kNumeric) {
      w.U8(at + 11, c.precision);
      w.U8(at + 12, c.scale);
    }
    at += f.column_def_size;
  }
  // 3. Column names.
  for (const auto& n : column_names) {
    if (j3) w.U8(at, uint8_t(n.size()));
    else w.Le16(at, uint16_t(n.size()));
    w.Bytes(at + f.name_length_size, n);
    at += f.name_length_size + n.size();
  }
  // 4. Real index definitions.
  for (size_t i = 0; i < design.real_indexes.size(); ++i) {
    const RealIndexDesign& d = design.real_indexes[i];
    RealIndex& index = table->real_indexes[i];
    if (d.columns.empty() || d.columns.size() > kIndexColumnSlots)
      return Status::Error(ErrorKind::kInvalidArgument, "an index has 1 to 10 columns");
    index.def_offset = at;
    index.columns = d.columns;
    index.flags = uint8_t(d.flags | (j3 ? 0 : 0x80));
    const size_t base = j3 ? at : at + 4;
    if (!j3) w.Le32(at, kRealIndexMagic);
    for (size_t slot = 0; slot < kIndexColumnSlots; ++slot) {
      if (slot < d.columns.size()) {
        w.Le16(base + 3 * slot, d.columns[slot].column_number);
        w.U8(base + 3 * slot + 2, d.columns[slot].ascending ? 0x01 : 0x00);
      } else {
        w.Le16(base + 3 * slot, 0xFFFF);
      }
    }
    w.U8(at + RealIndexFlagsOffset(f), index.flags);
    at += f.real_index_def_size;
  }
  // 5. Logical index definitions.
  for (size_t i = 0; i < design.logical_indexes.size(); ++i) {
    const LogicalIndexDesign& d = design.logical_indexes[i];
    LogicalIndex index;
    index.number = uint32_t(i);
    index.real_index = d.real_index;
    index.related_table_type = d.related_table_type;
    index.related_index = d.related_index;
    index.related_table = d.related_table;
    // Access writes 04 04 into the cascade bytes of indexes outside relationships.
    const bool related = d.related_table_type != 0;
    index.cascade_updates = related ? d.cascade_updates : 0x04;
    index.cascade_deletes = related ? d.cascade_deletes : 0x04;
    index.index_type = d.index_type;
    index.name = d.name;
    index.def_offset = at;
    const size_t base = j3 ? at : at + 4;
    if (!j3) w.Le32(at, kTdefMagic);
    w.Le32(base + 0, index.number);
    w.Le32(base + 4, index.real_index);
    w.U8(base + 8, index.related_table_type);
    w.Le32(base + 9, uint32_t(index.related_index));
    w.Le32(base + 13, index.related_table);
    w.U8(base + 17, index.cascade_updates);
    w.U8(base + 18, index.cascade_deletes);
    w.U8(base + 19, index.index_type);
    table->logical_indexes.push_back(index);
    at += f.logical_index_def_size;
  }
  // 6. Logical index names.
  for (const auto& n : index_names) {
    if (j3) w.U8(at, uint8_t(n.size()));
    else w.Le16(at, uint16_t(n.size()));
    w.Bytes(at + f.name_length_size, n);
    at += f.name_length_size + n.size();
  }
  // 7. Long-value column maps (pointers filled in later), then the terminator.
  for (const ColumnDef& c : table->columns) {
    if (!c.is_long_value()) continue;
    LongValueMaps maps;
    maps.column_number = c.number;
    maps.def_offset = at;
    w.Le16(at, c.number);
    table->long_value_maps.push_back(maps);
    at += 10;
  }
  w.Le16(at, 0xFFFF);
  at += 2;
  if (at != length) {
    return Status::Error(ErrorKind::kInvalidArgument, "internal: definition size " +
                                                          std::to_string(at) + " != " +
                                                          std::to_string(length));
  }
  return Status::Ok();
}

}  // namespace jet
