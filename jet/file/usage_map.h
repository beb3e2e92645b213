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
// The global free-page map is row 0 of page 1; its set bits mark pages free for reuse.
// Access never marks a page in use free (the check calls that damage), so a page it
// marks free holds nothing live, whatever the page's own bytes still say.
inline constexpr uint32_t kGlobalFreeMapPointer = 1u << 8;

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

// Where the bit of `page` lies in the map in `row` (`size` bytes of a map row), for
// one who changes it: in the row itself (bitmap_page 0, offset from the row's start)
// or in a type-0x05 bitmap page (bitmap_page, offset from that page's start; the
// caller checks the page). False when the map does not cover `page`.
struct MapBit {
  uint32_t bitmap_page = 0;
  size_t offset = 0;
  uint8_t mask = 0;
};
bool FindMapBit(uint32_t page_size, const uint8_t* row, size_t size, uint32_t page, MapBit* bit);

// Leaves out of `pages` (ascending) those the global free map marks free: pages a
// table gave back, whose rows are an earlier life's. A reader that finds a table's
// pages by their owner field, its map being lost, goes by this. Without a readable
// free map there is no such evidence, and every page stays.
void DropPagesMarkedFree(const PageFile& file, std::vector<uint32_t>* pages);

}  // namespace jet
