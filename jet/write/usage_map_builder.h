// Usage-map builders: the map rows that name the pages of a table, an index or a
// long-value column, and page 1 with the global free-page map. The forms are the
// ones jet/file/usage_map.h reads:
//
//   type 0, inline:    [0x00][start page: 4][bitmap]   bit b <=> page start + b
//   type 1, reference: [0x01][page: 4] * n             pointer i names a type-0x05
//                      page [05 01 00 00][bitmap] covering [i*P, (i+1)*P),
//                      P = (page_size - 4) * 8; 0 = no page (nothing set there)
//
// Row length: a map row is DefaultUsageMapRowSize bytes (133 J3, 69 J4), the size
// Access gives new maps, so a table map holds 1,024 / 512 pages inline. The start page
// is 0 when that covers the pages (what Access writes), otherwise the first page
// rounded down to a multiple of 8; pages spread wider than that take the reference
// form, whose row has the same length. Access also grows inline rows in 4-byte steps
// (97..189-byte rows occur); the compaction keeps every table's pages contiguous, so
// the fixed size with a moved start almost always stays inline.
//
// Page 1: two rows of equal length, row 0 the global map (bit set = page free), row
// 1 all zero, owner field 1, as in every Access file. The global map always starts at
// page 0 and, like Access's, is as long as the file needs: the default length, or 5
// + 4 * ceil(pages / 32) bytes for larger files. Pages past the end of the file but
// inside the map's range are marked free (Access files show every such bit set); a
// compacted file has no free page inside it. A file too large for an inline map on
// page 1 gets the reference form.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

// A type-0x05 page of a reference map; the caller writes it at page_number.
struct UsageBitmapPage {
  uint32_t page_number = 0;
  std::vector<uint8_t> image;  // page_size bytes
};

struct UsageMapImage {
  std::vector<uint8_t> row;                   // to be added to a host page (owner 0)
  std::vector<UsageBitmapPage> bitmap_pages;  // empty for the inline form
};

// Pages pointer i of a reference map covers: (page_size - 4) * 8.
uint32_t UsageBitmapPageSpan(const Format& format);

// Number of type-0x05 pages the map of `pages` needs; 0 when it fits inline.
// `pages` must be ascending without duplicates (as for BuildUsageMap).
size_t UsageMapBitmapPageCount(const Format& format, std::span<const uint32_t> pages);

// The map row of `pages` (ascending, no duplicates; kInvalidArgument otherwise).
// `bitmap_page_numbers` holds exactly UsageMapBitmapPageCount(pages) page numbers the
// caller allocated; they are used in ascending order of the range they cover.
Status BuildUsageMap(const Format& format, std::span<const uint32_t> pages,
                     std::span<const uint32_t> bitmap_page_numbers, UsageMapImage* map);

// Number of type-0x05 pages the global map of a file of `page_count` pages needs.
size_t GlobalMapBitmapPageCount(const Format& format, uint32_t page_count);
// How many bitmap pages to allocate at the end of a file that uses `used_pages`
// pages otherwise: n with n == GlobalMapBitmapPageCount(used_pages + n).
uint32_t GlobalMapExtraPages(const Format& format, uint32_t used_pages);

// Page 1 of a file of `page_count` pages (page 1 and any bitmap pages included), all
// in use. `bitmap_page_numbers` as GlobalMapBitmapPageCount(page_count) says.
Status BuildGlobalMapPage(const Format& format, uint32_t page_count,
                          std::span<const uint32_t> bitmap_page_numbers,
                          std::vector<uint8_t>* page1,
                          std::vector<UsageBitmapPage>* bitmap_pages);

}  // namespace jet
