// Usage maps: the bitmaps that say which pages belong to a table, an index or a
// long-value column (and, on page 1, which pages are free). A map is a row on a data
// page, addressed by a row pointer, in one of two forms:
//
//   type 0, inline:    [0x00][start page: 4][bitmap...]
//                      bit b (byte b/8, LSB first) <=> page start + b
//   type 1, reference: [0x01][page: 4] * n
//                      pointer i names a type-0x05 page (0 = none) whose bitmap from
//                      byte 4 on covers pages [i*P, (i+1)*P), P = (page_size - 4) * 8
//
// The usable length of the row comes from the slot table; it is never assumed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/base/status.h"

namespace jet {

class PageFile;

inline constexpr uint8_t kUsageMapInline = 0x00;
inline constexpr uint8_t kUsageMapReference = 0x01;

struct UsageMap {
  uint8_t type = kUsageMapInline;
  std::vector<uint32_t> pages;  // set pages inside the file, ascending
  uint64_t pages_past_end = 0;  // set bits naming pages at or past page_count
};

// Decodes the map in `row` (the bytes of a map row). kDamaged for an unknown map type,
// a reference to a page past the end or one that is not a type-0x05 page.
Status DecodeUsageMap(const PageFile& file, const uint8_t* row, size_t size, UsageMap* map);

// Finds the row at row pointer `pointer` (page << 8 | row) and decodes it.
// kDamaged when the pointer is 0 or leads nowhere valid.
Status ReadUsageMap(const PageFile& file, uint32_t pointer, UsageMap* map);

}  // namespace jet
