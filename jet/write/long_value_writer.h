// LongValueWriter: stores MEMO / OLE values on LVAL pages (type-0x01 data pages whose
// owner field reads "LVAL") and returns the 12-byte header that points at them:
//
//   header offset size
//   0             4    LE: bits 0-29 length, bits 30-31 kind (0x40 one row, 0x00 chain)
//   4             4    row pointer (page << 8 | row) of the first LVAL row
//   8             4    0
//
// A value that fits in one row is one row holding exactly its bytes (kind 0x40);
// a longer one is a chain (kind 0x00) of rows [4-byte row pointer of the next row]
// [chunk], the last next pointer 0. Rows of many values share pages: a value goes on
// the open page while it fits; a chain's first row fills what the open page has left
// (when that is worth a row), every further row starts a new page. The largest row is
// what Access writes: 2,036 bytes (J3, a full page) / 4,076 bytes (J4).
//
// One writer serves one long-value column (Jet keeps each column's values together);
// pages() lists its LVAL pages for the column's usage map. Only the open page is in
// memory; a full page goes to the sink at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "jet/write/data_page_builder.h"
#include "jet/read/long_value.h"
#include "jet/file/page_writer.h"
#include "jet/base/status.h"

namespace jet {

inline constexpr uint32_t kLongValueMaxLength = 0x3FFFFFFF;

// The 12 header bytes as they go into the row (kind constants: jet/read/long_value.h).
using LongValueField = std::array<uint8_t, kLongValueHeaderSize>;

class LongValueWriter {
 public:
  explicit LongValueWriter(PageSink* sink);

  // Largest LVAL row of the format (one-row values up to this length).
  static size_t MaxRowSize(const Format& format);

  // Stores `value` out of the row and fills `header`. An empty value needs no LVAL
  // row and gets an inline header of length 0. kInvalidArgument past 0x3FFFFFFF bytes;
  // sink failures are returned as they are, and leave the writer unusable.
  Status Store(std::span<const uint8_t> value, LongValueField* header);
  // Writes the open page, if any. Call once after the last Store.
  Status Flush();

  // Every LVAL page this writer used, ascending.
  const std::vector<uint32_t>& pages() const { return pages_; }
  uint64_t values_stored() const { return values_stored_; }

 private:
  // Makes sure an open page exists; a new one takes `reserved_` if set.
  Status OpenPage();
  Status StartNewPage();
  RowId NextRowId() const { return RowId{open_page_, uint8_t(builder_.row_count())}; }
  size_t OpenRoom() const;  // largest row the open page takes now

  PageSink* sink_;
  Format format_;
  DataPageBuilder builder_;
  bool page_open_ = false;
  uint32_t open_page_ = 0;
  std::optional<uint32_t> reserved_;  // allocated for the next row of a chain
  std::vector<uint32_t> pages_;
  uint64_t values_stored_ = 0;
};

}  // namespace jet
