// Data pages: the header and slot table of type-0x01 pages (table rows, long-value
// rows and usage-map rows all live on them) and the extent of each row.
//
//   offset J3 J4  size
//   0      0  0   1   page type 0x01
//   2      2  2   2   free space (bytes unused on the page)
//   4      4  4   4   owner: TDEF page, "LVAL", or 0 for usage-map host pages
//          -  8   4   unknown
//   count  8  12  2   number of slots (deleted ones included)
//   slots  10 14  2*n slot i: bits 0-12 row start, 0x4000 overflow, 0x8000 deleted
//
// Rows are packed downward from the end of the page in slot order: row i ends where
// row i-1 starts (row 0 ends at the page end).
// Free-space invariant: free = page_size - header - sum(row lengths) - 2 * count.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

inline constexpr uint16_t kSlotDeleted = 0x8000;
inline constexpr uint16_t kSlotOverflow = 0x4000;
inline constexpr uint16_t kSlotOffsetMask = 0x1FFF;
// "LVAL" read as a little-endian 32-bit owner field.
inline constexpr uint32_t kLongValueOwner = 0x4C41564C;

struct DataPageHeader {
  uint8_t page_type = 0;
  uint16_t free_space = 0;        // as stored
  uint32_t owner = 0;
  uint16_t row_count = 0;
  bool free_space_matches = true; // false: the stored value disagrees with the slots
};

struct RowSlot {
  uint16_t start = 0;   // offset of the first byte in the page
  uint16_t end = 0;     // one past the last byte; start <= end
  bool deleted = false;
  bool overflow = false;
  bool impossible_extent = false;  // deleted, with an extent outside the row area
  size_t size() const { return size_t(end) - start; }
};

// Reads the header of a data page and checks that the slot table fits on it.
// kDamaged when the page is not a data page or its slot table runs off the page.
// A free-space value that disagrees with the rows is reported, not an error.
Status ParseDataPage(const Format& format, const uint8_t* page, DataPageHeader* header);

// The slot count the page's free space implies, for a page whose stored count is
// damaged (a flipped or torn count): the one n <= 255 for which the end of an n-slot
// table plus the stored free space is where slot n-1 places its row. 0 when no n fits
// (then the free space is what is damaged) or more than one does. A garbled slot among
// the first n does not hide the count; it is the row's to fail.
uint16_t RowCountFromFreeSpace(const Format& format, const uint8_t* page);

// True when the page's second half is all zeros and the byte before it is not: what a
// page write torn halfway leaves (the disk wrote the first half of the new page, then
// nothing). Rows lying in that half have lost their bytes.
bool TornSecondHalf(const Format& format, const uint8_t* page);

// The extent and flags of slot `row`. kDamaged when `row` >= row_count or a live row
// lies outside the row area of the page. A deleted slot with an impossible extent is
// returned as an empty deleted row (Access leaves garbage there).
Status GetRowSlot(const Format& format, const uint8_t* page, const DataPageHeader& header,
                  unsigned row, RowSlot* slot);

// The live rows (well-formed, not deleted, not empty) whose extent holds all of another
// live row's and more, by slot number, ascending. Rows never share bytes: when one
// row's extent holds another's whole, its slot offset was changed (a flipped or torn
// slot table) and its bytes are others'. Empty for a sound page.
std::vector<unsigned> RowsHoldingOtherRows(const Format& format, const uint8_t* page, const DataPageHeader& header);

// The live rows, other than those in `holding` (sorted), whose extent shares bytes
// with another of them, by slot number, ascending: a changed slot offset moved the
// bounds of one of each pair, and which one the slots alone do not tell. Either may
// read whole; neither may be written to, since its bytes may be the other's. Empty
// for a sound page.
std::vector<unsigned> RowsSharingBytes(const Format& format, const uint8_t* page, const DataPageHeader& header,
                                       const std::vector<unsigned>& holding);

}  // namespace jet
