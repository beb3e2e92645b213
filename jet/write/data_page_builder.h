// DataPageBuilder: builds one type-0x01 page (table rows, long-value rows or usage-map
// rows) from rows appended one at a time. The layout is the one jet/file/data_page.h
// reads:
//
//   offset J3 J4  size
//   0      0  0   1   0x01
//   1      1  1   1   0x01
//   2      2  2   2   free space = page_size - header - sum(row lengths) - 2 * rows
//   4      4  4   4   owner: TDEF page, kLongValueOwner ("LVAL"), or 0 (usage maps)
//          -  8   4   0
//   8      8  12  2   row count
//   10     10 14  2*n slot i = offset of row i (deleted: 0xC000 | offset, length 0)
//
// Rows are packed downward from the end of the page in slot order, so row i ends
// where row i-1 starts; a zero-length deleted slot takes only its 2 slot bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/file/format.h"

namespace jet {

class DataPageBuilder {
 public:
  DataPageBuilder(const Format& format, uint32_t owner);

  // Appends a live row. False (and nothing changes) when the row and its slot do not
  // fit in the free space or the page already has 255 rows: the caller starts a new
  // page. The row number of the appended row is row_count() - 1.
  bool Add(std::span<const uint8_t> row);
  // Appends a zero-length deleted slot (keeps later row numbers where they were).
  bool AddDeletedSlot();
  // Whether a row of `length` bytes would be accepted now.
  bool Fits(size_t length) const;

  unsigned row_count() const { return row_count_; }
  bool empty() const { return row_count_ == 0; }
  size_t free_space() const { return free_end_ - slots_end(); }
  // Largest row an empty page takes: page_size - header - one slot.
  static size_t MaxRowSize(const Format& format);

  // The page image: page_size bytes, everything not written zero.
  const std::vector<uint8_t>& page() const { return page_; }
  // Starts over with an empty page (same format), for the next page of the same kind.
  void Reset(uint32_t owner);

 private:
  size_t slots_end() const { return format_.data_header_size + 2 * size_t(row_count_); }
  void AppendSlot(uint16_t slot);

  Format format_;
  std::vector<uint8_t> page_;
  unsigned row_count_ = 0;
  // Invariant: rows occupy [free_end_, page_size); free_end_ >= slots_end(); the
  // stored free-space field always equals free_space().
  size_t free_end_ = 0;
};

}  // namespace jet
