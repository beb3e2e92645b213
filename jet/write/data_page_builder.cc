// DataPageBuilder: rows packed downward from the page end, slots growing upward.
#include "jet/write/data_page_builder.h"

#include <algorithm>

#include "jet/base/byte_writer.h"
#include "jet/file/data_page.h"

namespace jet {

DataPageBuilder::DataPageBuilder(const Format& format, uint32_t owner)
    : format_(format), page_(format.page_size) {
  Reset(owner);
}

size_t DataPageBuilder::MaxRowSize(const Format& format) {
  return format.page_size - format.data_header_size - 2;
}

void DataPageBuilder::Reset(uint32_t owner) {
  std::fill(page_.begin(), page_.end(), 0);
  row_count_ = 0;
  free_end_ = format_.page_size;
  ByteWriter w(page_);
  w.U8(0, kPageData);
  w.U8(1, 0x01);
  w.Le32(kPageOwnerOffset, owner);
  w.Le16(format_.data_row_count, 0);
  w.Le16(kPageFreeSpaceOffset, static_cast<uint16_t>(free_space()));
}

bool DataPageBuilder::Fits(size_t length) const {
  return row_count_ < kMaxRowsPerDataPage && length + 2 <= free_space();
}

void DataPageBuilder::AppendSlot(uint16_t slot) {
  ByteWriter w(page_);
  w.Le16(slots_end(), slot);
  ++row_count_;
  w.Le16(format_.data_row_count, static_cast<uint16_t>(row_count_));
  w.Le16(kPageFreeSpaceOffset, static_cast<uint16_t>(free_space()));
}

bool DataPageBuilder::Add(std::span<const uint8_t> row) {
  if (!Fits(row.size())) return false;
  free_end_ -= row.size();
  ByteWriter(page_).Bytes(free_end_, row);
  AppendSlot(static_cast<uint16_t>(free_end_));
  return true;
}

bool DataPageBuilder::AddDeletedSlot() {
  if (!Fits(0)) return false;
  AppendSlot(static_cast<uint16_t>(kSlotDeleted | kSlotOverflow | free_end_));
  return true;
}

}  // namespace jet
