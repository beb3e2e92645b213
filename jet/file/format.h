// Format: the version of a Jet-family file and the layout constants that differ
// between Jet 3 (2 KB pages) and Jet 4 / ACE (4 KB pages). Every offset used to read
// or write a structure comes from here, so a reader never mixes the two layouts.
// The layouts themselves are documented beside the code that reads them.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>

namespace jet {

enum class Version : uint8_t {
  kJet3,   // version byte 0x00, Access 95/97
  kJet4,   // 0x01, Access 2000-2003
  kAce12,  // 0x02, Access 2007
  kAce14,  // 0x03, Access 2010
  kAce15,  // 0x04, Access 2013
  kAce16,  // 0x05, Access 2016
  kAce17,  // 0x06, Access 2019
};

// "Jet 3", "Jet 4", "ACE 12 (Access 2007)", ...
const char* VersionName(Version version);
inline bool IsJet3(Version v) { return v == Version::kJet3; }
inline bool IsAce(Version v) { return v >= Version::kAce12; }

struct Format {
  Version version;
  uint32_t page_size;

  // Page 0.
  uint32_t header_mask_size;      // bytes XOR-masked from 0x18: 126 / 128

  // Data pages (also LVAL and usage-map host pages).
  uint32_t data_row_count;        // offset of the slot count: 8 / 12
  uint32_t data_header_size;      // first slot entry: 10 / 14

  // TDEF header block (offsets into the logical TDEF buffer).
  uint32_t tdef_row_count;        // 12 / 16
  uint32_t tdef_autonumber;       // 16 / 20
  uint32_t tdef_table_type;       // 20 / 40
  uint32_t tdef_max_columns;      // 21 / 41
  uint32_t tdef_var_columns;      // 23 / 43
  uint32_t tdef_column_count;     // 25 / 45
  uint32_t tdef_logical_indexes;  // 27 / 47
  uint32_t tdef_real_indexes;     // 31 / 51
  uint32_t tdef_owned_map;        // 35 / 55
  uint32_t tdef_free_map;         // 39 / 59
  uint32_t tdef_header_end;       // 43 / 63
  uint32_t real_index_stat_size;  // 8 / 12
  uint32_t column_def_size;       // 18 / 25
  uint32_t real_index_def_size;   // 39 / 52
  uint32_t logical_index_def_size;// 20 / 28
  uint32_t name_length_size;      // 1 / 2

  // Rows.
  uint32_t row_column_count_size; // 1 / 2
  uint32_t max_row_size;          // 2012 / 4060

  // Index pages.
  uint32_t index_prev_page;       // 8 / 12
  uint32_t index_next_page;       // 12 / 16
  uint32_t index_tail_page;       // 16 / 20
  uint32_t index_prefix_length;   // 20 / 24 (1 / 2 bytes)
  uint32_t index_node_flag;       // 21 / 26
  uint32_t index_bitmap;          // 22 / 27
  uint32_t index_entries;         // 248 / 480
};

// Layout constants of a version; valid for every Version value.
const Format& FormatFor(Version version);

// Page-type byte (byte 0 of every page).
enum PageType : uint8_t {
  kPageHeader = 0x00,
  kPageData = 0x01,
  kPageTableDef = 0x02,
  kPageIndexNode = 0x03,
  kPageIndexLeaf = 0x04,
  kPageUsageBitmap = 0x05,
};

// A row address: the "page/row pointer" (value = page << 8 | row) used in rows,
// definitions and usage maps. Index entries store the same pair big-endian. The page
// takes 24 bits, so no page a row pointer reaches is past kMaxRowPointerPage.
inline constexpr uint32_t kMaxRowPointerPage = 0xFFFFFF;
struct RowId {
  uint32_t page = 0;
  uint8_t row = 0;

  static RowId FromPointer(uint32_t value) { return RowId{value >> 8, uint8_t(value & 0xFF)}; }
  uint32_t ToPointer() const { return (page << 8) | row; }
  bool operator==(const RowId&) const = default;
  auto operator<=>(const RowId&) const = default;
};

// Fields at the same place in every version, used by the page writers.
inline constexpr uint32_t kPageFreeSpaceOffset = 2;   // data, index and J4 TDEF pages
inline constexpr uint32_t kPageOwnerOffset = 4;       // data and index pages
inline constexpr uint32_t kTableDefNextPageOffset = 4;
inline constexpr uint32_t kTableDefPageHeaderSize = 8;  // header of every TDEF page
inline constexpr uint32_t kUsageBitmapHeaderSize = 4;   // type-0x05 page: 05 01 00 00
inline constexpr uint32_t kMaxRowsPerDataPage = 255;    // row numbers are one byte

// Offsets inside TDEF records that a writer patches (relative to the record start).
inline uint32_t ColumnNumberOffset(const Format& f) { return IsJet3(f.version) ? 1 : 5; }
inline uint32_t ColumnVarIndexOffset(const Format& f) { return IsJet3(f.version) ? 3 : 7; }
// A second copy of the number, which Access keeps equal to the first.
inline uint32_t ColumnNumberCopyOffset(const Format& f) { return IsJet3(f.version) ? 5 : 9; }
inline uint32_t ColumnFlagsOffset(const Format& f) { return IsJet3(f.version) ? 13 : 15; }
inline uint32_t ColumnFixedOffsetOffset(const Format& f) { return IsJet3(f.version) ? 14 : 21; }
inline uint32_t ColumnLengthOffset(const Format& f) { return IsJet3(f.version) ? 16 : 23; }
inline uint32_t RealIndexUsageMapOffset(const Format& f) { return IsJet3(f.version) ? 30 : 34; }
inline uint32_t RealIndexRootPageOffset(const Format& f) { return IsJet3(f.version) ? 34 : 38; }
inline uint32_t RealIndexFlagsOffset(const Format& f) { return IsJet3(f.version) ? 38 : 46; }
inline uint32_t LogicalIndexRelatedTableOffset(const Format& f) {
  return IsJet3(f.version) ? 13 : 17;
}
// Usage-map row length Access writes for a new map: 5 + 128 (J3) / 5 + 64 (J4).
inline uint32_t DefaultUsageMapRowSize(const Format& f) { return IsJet3(f.version) ? 133 : 69; }

}  // namespace jet
