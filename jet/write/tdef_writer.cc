// TDEF writer: patching a definition's raw bytes and cutting them into pages.
#include "jet/write/tdef_writer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "jet/base/byte_order.h"
#include "jet/base/byte_writer.h"

namespace jet {
namespace {

// Fails unless [offset, offset + 4) lies inside the definition.
Status CheckField(size_t offset, size_t length, const char* what) {
  if (InBounds(offset, 4, length)) return Status::Ok();
  return Status::Error(ErrorKind::kInvalidArgument,
                       std::string(what) + " at offset " + std::to_string(offset) +
                           " lies outside a definition of " + std::to_string(length) +
                           " bytes");
}

}  // namespace

Status EncodeTableDef(const Format& format, const TableDef& table, std::vector<uint8_t>* logical) {
  const size_t length = table.tdef_length;
  if (length < format.tdef_header_end || length > table.buffer.size())
    return Status::Error(ErrorKind::kInvalidArgument,
                         "definition length " + std::to_string(length) +
                             " does not match its buffer of " +
                             std::to_string(table.buffer.size()) + " bytes");
  std::vector<uint8_t> out(table.buffer.begin(), table.buffer.begin() + length);
  ByteWriter w(out);
  w.Le32(format.tdef_row_count, table.row_count);
  w.Le32(format.tdef_autonumber, table.last_autonumber);
  w.Le32(format.tdef_owned_map, table.owned_map);
  w.Le32(format.tdef_free_map, table.free_map);

  for (const RealIndex& index : table.real_indexes) {
    Status s = CheckField(index.stat_offset + 4, length, "index statistics");
    if (s.ok()) s = CheckField(index.def_offset + RealIndexRootPageOffset(format), length,
                               "index definition");
    if (!s.ok()) return s;
    w.Le32(index.stat_offset, index.stat_entries);
    w.Le32(index.stat_offset + 4, index.stat_unique);
    w.Le32(index.def_offset + RealIndexUsageMapOffset(format), index.usage_map);
    w.Le32(index.def_offset + RealIndexRootPageOffset(format), index.root_page);
  }
  for (const LogicalIndex& index : table.logical_indexes) {
    const size_t at = index.def_offset + LogicalIndexRelatedTableOffset(format);
    Status s = CheckField(at, length, "logical index definition");
    if (!s.ok()) return s;
    w.Le32(at, index.related_table);
  }
  for (const LongValueMaps& maps : table.long_value_maps) {
    Status s = CheckField(maps.def_offset + 6, length, "long-value column maps");
    if (!s.ok()) return s;
    w.Le32(maps.def_offset + 2, maps.owned_map);
    w.Le32(maps.def_offset + 6, maps.free_map);
  }
  *logical = std::move(out);
  return Status::Ok();
}

Status EncodeColumnsOnlyTableDef(const Format& format, const TableDef& table, std::vector<uint8_t>* logical) {
  if (table.buffer.size() < format.tdef_header_end)
    return Status::Error(ErrorKind::kInvalidArgument, "the definition is shorter than its header");
  std::vector<uint8_t> out(table.buffer.begin(), table.buffer.begin() + format.tdef_header_end);
  for (const ColumnDef& c : table.columns) {
    if (!InBounds(c.def_offset, format.column_def_size, table.buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "a column record lies outside the definition");
    out.insert(out.end(), table.buffer.begin() + c.def_offset, table.buffer.begin() + c.def_offset + format.column_def_size);
  }
  for (const ColumnDef& c : table.columns) {
    if (!InBounds(c.name_offset, format.name_length_size, table.buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "a column name lies outside the definition");
    const uint8_t* name = table.buffer.data() + c.name_offset;
    const size_t size = format.name_length_size + (format.name_length_size == 1 ? name[0] : LoadLe16(name));
    if (!InBounds(c.name_offset, size, table.buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "a column name lies outside the definition");
    out.insert(out.end(), name, name + size);
  }
  // The list of long-value maps, empty: its end mark alone.
  out.push_back(0xFF);
  out.push_back(0xFF);
  ByteWriter w(out);
  w.Le32(kTdefLengthOffset, uint32_t(out.size()));
  w.Le32(format.tdef_row_count, table.row_count);
  w.Le16(format.tdef_max_columns, table.max_columns);
  w.Le16(format.tdef_var_columns, table.var_columns);
  w.Le16(format.tdef_column_count, uint16_t(table.columns.size()));
  w.Le32(format.tdef_logical_indexes, 0);
  w.Le32(format.tdef_real_indexes, 0);
  w.Le32(format.tdef_owned_map, table.owned_map);
  w.Le32(format.tdef_free_map, table.free_map);
  *logical = std::move(out);
  return Status::Ok();
}

Status PackColumns(const Format& format, TableDef* table) {
  const bool j3 = IsJet3(format.version);
  std::vector<ColumnDef>& columns = table->columns;
  // Positions in the order of a key; the new value of each is its rank in that order.
  const auto ranked = [&](auto take, auto key) {
    std::vector<size_t> order;
    for (size_t i = 0; i < columns.size(); ++i)
      if (take(columns[i])) order.push_back(i);
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return key(columns[a]) < key(columns[b]); });
    return order;
  };
  const std::vector<size_t> by_number = ranked([](const ColumnDef&) { return true; },
                                               [](const ColumnDef& c) { return c.number; });
  const std::vector<size_t> by_var = ranked([](const ColumnDef& c) { return c.is_variable(); },
                                            [](const ColumnDef& c) { return c.var_index; });
  const std::vector<size_t> by_offset = ranked([](const ColumnDef& c) { return c.in_fixed_area(); },
                                               [](const ColumnDef& c) { return c.fixed_offset; });

  std::vector<std::pair<uint16_t, uint16_t>> renumbered;  // old number, new number
  ByteWriter w(table->buffer);
  const size_t record = format.column_def_size;
  for (size_t rank = 0; rank < by_number.size(); ++rank) {
    ColumnDef& c = columns[by_number[rank]];
    if (!InBounds(c.def_offset, record, table->buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "column \"" + c.name + "\" lies outside its definition");
    const size_t again = c.def_offset + ColumnNumberCopyOffset(format);
    if (LoadLe16(table->buffer.data() + again) == c.number) w.Le16(again, uint16_t(rank));
    renumbered.emplace_back(c.number, uint16_t(rank));
    c.number = uint16_t(rank);
    w.Le16(c.def_offset + ColumnNumberOffset(format), c.number);
  }
  for (size_t rank = 0; rank < by_var.size(); ++rank) {
    ColumnDef& c = columns[by_var[rank]];
    c.var_index = uint16_t(rank);
    w.Le16(c.def_offset + ColumnVarIndexOffset(format), c.var_index);
  }
  uint32_t offset = 0;
  for (size_t i : by_offset) {
    ColumnDef& c = columns[i];
    c.fixed_offset = uint16_t(offset);
    offset += c.length;
    w.Le16(c.def_offset + ColumnFixedOffsetOffset(format), c.fixed_offset);
  }
  const auto new_number = [&](uint16_t old) {
    for (const auto& [from, to] : renumbered)
      if (from == old) return to;
    return old;  // names no column; left as it is
  };
  for (RealIndex& index : table->real_indexes) {
    const size_t base = index.def_offset + (j3 ? 0 : 4);
    if (!InBounds(base, 30, table->buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "an index definition lies outside its definition");
    for (size_t slot = 0; slot < 10; ++slot) {
      const uint16_t number = LoadLe16(table->buffer.data() + base + 3 * slot);
      if (number != 0xFFFF) w.Le16(base + 3 * slot, new_number(number));
    }
    for (IndexColumn& column : index.columns) column.column_number = new_number(column.column_number);
  }
  for (LongValueMaps& maps : table->long_value_maps) {
    if (!InBounds(maps.def_offset, 2, table->buffer.size()))
      return Status::Error(ErrorKind::kInvalidArgument, "a long-value column map lies outside its definition");
    maps.column_number = new_number(maps.column_number);
    w.Le16(maps.def_offset, maps.column_number);
  }
  table->max_columns = uint16_t(columns.size());
  table->var_columns = uint16_t(by_var.size());
  if (!InBounds(format.tdef_var_columns, 2, table->buffer.size()))
    return Status::Error(ErrorKind::kInvalidArgument, "a definition shorter than its header");
  w.Le16(format.tdef_max_columns, table->max_columns);
  w.Le16(format.tdef_var_columns, table->var_columns);
  return Status::Ok();
}

uint32_t TableDefPageCount(const Format& format, size_t length) {
  if (length <= format.page_size) return 1;
  const size_t per_page = format.page_size - kTableDefPageHeaderSize;
  return uint32_t(1 + (length - format.page_size + per_page - 1) / per_page);
}

Status SplitTableDef(const Format& format, std::span<const uint8_t> logical,
                     std::span<const uint32_t> page_numbers,
                     std::vector<std::vector<uint8_t>>* pages) {
  if (logical.size() < kTableDefPageHeaderSize)
    return Status::Error(ErrorKind::kInvalidArgument, "a definition shorter than its header");
  const uint32_t count = TableDefPageCount(format, logical.size());
  if (page_numbers.size() != count)
    return Status::Error(ErrorKind::kInvalidArgument,
                         "the definition needs " + std::to_string(count) + " pages, got " +
                             std::to_string(page_numbers.size()));
  pages->clear();
  size_t at = 0;  // next logical byte to place
  for (uint32_t i = 0; i < count; ++i) {
    std::vector<uint8_t> page(format.page_size, 0);
    ByteWriter w(page);
    // The first page carries logical bytes 0..7 too; they are its header.
    const size_t data_start = i == 0 ? 0 : kTableDefPageHeaderSize;
    const size_t take = std::min(logical.size() - at, format.page_size - data_start);
    w.Bytes(data_start, logical.data() + at, take);
    at += take;
    const size_t used = data_start + take;
    w.U8(0, kPageTableDef);
    w.U8(1, 0x01);
    if (IsJet3(format.version)) {
      w.U8(2, 'V');
      w.U8(3, 'C');
    } else {
      const size_t free = format.page_size > used + 8 ? format.page_size - used - 8 : 0;
      w.Le16(kPageFreeSpaceOffset, static_cast<uint16_t>(free));
    }
    w.Le32(kTableDefNextPageOffset, i + 1 < count ? page_numbers[i + 1] : 0);
    pages->push_back(std::move(page));
  }
  return Status::Ok();
}

}  // namespace jet
