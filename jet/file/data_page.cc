// Data pages: header, slot table and row extents.
#include "jet/file/data_page.h"

#include <algorithm>
#include <string>

#include "jet/base/byte_order.h"

namespace jet {
namespace {

uint16_t SlotValue(const Format& format, const uint8_t* page, unsigned row) {
  return LoadLe16(page + format.data_header_size + 2 * row);
}

// Start of slot `row` (bits 0-12), and end = start of the previous slot.
void RawExtent(const Format& format, const uint8_t* page, unsigned row, uint32_t* start,
               uint32_t* end) {
  *start = SlotValue(format, page, row) & kSlotOffsetMask;
  *end = row == 0 ? format.page_size : (SlotValue(format, page, row - 1) & kSlotOffsetMask);
}

}  // namespace

Status ParseDataPage(const Format& format, const uint8_t* page, DataPageHeader* header) {
  *header = DataPageHeader();
  header->page_type = page[0];
  if (page[0] != kPageData)
    return Status::Error(ErrorKind::kDamaged,
                         "not a data page (type " + std::to_string(page[0]) + ")");
  header->free_space = LoadLe16(page + 2);
  header->owner = LoadLe32(page + 4);
  header->row_count = LoadLe16(page + format.data_row_count);
  const uint32_t table_end = format.data_header_size + 2u * header->row_count;
  if (table_end > format.page_size)
    return Status::Error(ErrorKind::kDamaged, "slot table of " + std::to_string(header->row_count) +
                                                  " rows does not fit on the page");
  // Free-space check: the sum of row lengths telescopes to page_size - start of the
  // last slot when every extent is well formed; compute it row by row so that a
  // malformed extent simply makes the check fail.
  uint64_t used = table_end;
  for (unsigned i = 0; i < header->row_count; ++i) {
    uint32_t start, end;
    RawExtent(format, page, i, &start, &end);
    if (start < end) used += end - start;
  }
  header->free_space_matches = used <= format.page_size && header->free_space == format.page_size - used;
  return Status::Ok();
}

uint16_t RowCountFromFreeSpace(const Format& format, const uint8_t* page) {
  const uint32_t free_space = LoadLe16(page + 2);
  uint16_t found = 0;
  for (unsigned n = 1; n <= 255; ++n) {
    const uint32_t table_end = format.data_header_size + 2u * n;
    if (table_end + free_space > format.page_size) break;
    if (table_end + free_space != (SlotValue(format, page, n - 1) & kSlotOffsetMask)) continue;
    if (found != 0) return 0;  // two counts fit: no evidence for either
    found = uint16_t(n);
  }
  return found;
}

bool TornSecondHalf(const Format& format, const uint8_t* page) {
  const uint32_t half = format.page_size / 2;
  if (page[half - 1] == 0) return false;
  for (uint32_t i = half; i < format.page_size; ++i)
    if (page[i] != 0) return false;
  return true;
}

Status GetRowSlot(const Format& format, const uint8_t* page, const DataPageHeader& header,
                  unsigned row, RowSlot* slot) {
  *slot = RowSlot();
  if (row >= header.row_count)
    return Status::Error(ErrorKind::kDamaged, "row " + std::to_string(row) + " is past the slot table (" +
                                                  std::to_string(header.row_count) + " slots)");
  const uint16_t value = SlotValue(format, page, row);
  slot->deleted = (value & kSlotDeleted) != 0;
  slot->overflow = (value & kSlotOverflow) != 0;
  uint32_t start, end;
  RawExtent(format, page, row, &start, &end);
  const uint32_t row_area = format.data_header_size + 2u * header.row_count;
  const bool well_formed = start >= row_area && start <= end && end <= format.page_size;
  if (!well_formed) {
    if (slot->deleted) {
      slot->impossible_extent = true;
      slot->start = slot->end = static_cast<uint16_t>(row_area);
      return Status::Ok();
    }
    return Status::Error(ErrorKind::kDamaged, "row " + std::to_string(row) + " has extent [" +
                                                  std::to_string(start) + ", " + std::to_string(end) +
                                                  ") outside the row area");
  }
  slot->start = static_cast<uint16_t>(start);
  slot->end = static_cast<uint16_t>(end);
  return Status::Ok();
}

namespace {

struct Extent {
  uint32_t start, end;
  unsigned row;
};

// The well-formed, live, non-empty rows of the page, by start (the longer first).
std::vector<Extent> LiveExtents(const Format& format, const uint8_t* page, const DataPageHeader& header) {
  std::vector<Extent> live;
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    if (GetRowSlot(format, page, header, i, &slot).ok() && !slot.deleted && slot.size() > 0)
      live.push_back({slot.start, slot.end, i});
  }
  std::sort(live.begin(), live.end(), [](const Extent& a, const Extent& b) {
    return a.start != b.start ? a.start < b.start : a.end > b.end;
  });
  return live;
}

bool Disjoint(const std::vector<Extent>& live) {
  for (size_t k = 1; k < live.size(); ++k)
    if (live[k - 1].end > live[k].start) return false;
  return true;
}

}  // namespace

std::vector<unsigned> RowsHoldingOtherRows(const Format& format, const uint8_t* page, const DataPageHeader& header) {
  const std::vector<Extent> live = LiveExtents(format, page, header);
  std::vector<unsigned> holding;
  if (Disjoint(live)) return holding;  // every sound page, in one pass
  for (const Extent& a : live) {
    for (const Extent& b : live) {
      if (b.start > a.end) break;
      const bool within = a.start <= b.start && b.end <= a.end;
      if (b.row != a.row && within && (b.start != a.start || b.end != a.end)) {
        holding.push_back(a.row);
        break;
      }
    }
  }
  std::sort(holding.begin(), holding.end());
  return holding;
}

std::vector<unsigned> RowsSharingBytes(const Format& format, const uint8_t* page, const DataPageHeader& header,
                                       const std::vector<unsigned>& holding) {
  std::vector<Extent> live = LiveExtents(format, page, header);
  std::erase_if(live, [&](const Extent& e) { return std::binary_search(holding.begin(), holding.end(), e.row); });
  std::vector<unsigned> sharing;
  if (Disjoint(live)) return sharing;
  uint32_t reach = 0;  // the furthest end of the rows that start before row k
  for (size_t k = 0; k < live.size(); ++k) {
    const bool after = k + 1 < live.size() && live[k + 1].start < live[k].end;
    if (reach > live[k].start || after) sharing.push_back(live[k].row);
    reach = std::max(reach, live[k].end);
  }
  std::sort(sharing.begin(), sharing.end());
  return sharing;
}

}  // namespace jet
