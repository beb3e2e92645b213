// TDEF writer: patching a definition's raw bytes and cutting them into pages.
#include "jet/write/tdef_writer.h"

#include <algorithm>
#include <string>
#include <utility>

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
