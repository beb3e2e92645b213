// TableDef: a table definition (TDEF) as read from its chain of type-0x02 pages.
// The structures keep every field the engine must carry over when it rewrites a
// definition, plus the offset of each raw record in the logical TDEF buffer so that a
// writer can patch page numbers and statistics in place without re-encoding fields it
// does not understand. Decoding lives in jet/read/table_def.cc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

class PageFile;

enum class ColumnType : uint8_t {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0A,
  kOle = 0x0B,
  kMemo = 0x0C,
  kUnknown0D = 0x0D,
  kGuid = 0x0F,
  kNumeric = 0x10,
  kUnknown11 = 0x11,  // fixed 3,992 bytes (MSysAccessObjects.Data)
  kComplex = 0x12,
  kBigInt = 0x13,
  kExtDateTime = 0x14,
};

// "Text", "Long Integer", ...; "Unknown 0xNN" for codes outside the table.
std::string ColumnTypeName(uint8_t type_code);

// Whether Jet 3 files have columns of `type`: not the types Jet 4 and ACE added
// (Decimal, Access 2000's 0x11, complex columns, Large Number, extended date/time).
bool Jet3HasType(ColumnType type);

// Column flag bits (byte 13 in Jet 3, 15 in Jet 4).
inline constexpr uint8_t kColumnFixed = 0x01;
// Set on every column of every file seen, system tables included (over 4,000 column
// records of 56 files written by Access); its meaning is uncertain.
inline constexpr uint8_t kColumnAlwaysSet = 0x02;
inline constexpr uint8_t kColumnAutoNumber = 0x04;
inline constexpr uint8_t kColumnGuidAutoNumber = 0x40;
inline constexpr uint8_t kColumnHyperlink = 0x80;
// The flag bits of a column of type `type_code` that no engine leaves so on that type:
// AutoNumber on a type that cannot count (any but Long Integer, Replication ID,
// Decimal, Large Number and ACE's complex columns), hyperlink on anything but a memo,
// and kColumnAlwaysSet where it is clear. 0 when there are none. A flipped flags
// byte most often leaves one of them so.
uint8_t ImpossibleColumnFlags(uint8_t type_code, uint8_t flags);
// Extended flag bits (Jet 4 byte 16).
inline constexpr uint8_t kColumnCompressedUnicode = 0x01;

struct ColumnDef {
  uint8_t type_code = 0;   // ColumnType value as stored (may be unknown)
  uint16_t number = 0;     // null-mask bit; stable for the life of the column
  uint16_t var_index = 0;  // index into the row's variable-offset table
  uint16_t fixed_offset = 0;
  uint16_t length = 0;     // fixed: size; text: max bytes; memo/OLE: 0
  uint8_t flags = 0;
  uint8_t ext_flags = 0;   // Jet 4 only
  uint16_t sort_lcid = 0;  // text/memo collation
  uint8_t sort_version = 0;
  uint16_t code_page = 0;  // Jet 3 text columns
  uint8_t precision = 0;   // numeric
  uint8_t scale = 0;
  uint32_t complex_id = 0; // ACE complex columns
  std::string name;        // UTF-8
  size_t def_offset = 0;   // offset of the raw column record in TableDef::buffer
  size_t name_offset = 0;  // offset of its stored name (length first) in the buffer

  ColumnType type() const { return static_cast<ColumnType>(type_code); }
  bool is_fixed() const { return (flags & kColumnFixed) != 0; }
  // A Yes/No value is its null-mask bit, whatever its flags say: it has neither bytes
  // in the fixed area nor a slot in the variable-offset table.
  bool in_fixed_area() const { return is_fixed() && type() != ColumnType::kBoolean; }
  bool is_variable() const { return !is_fixed() && type() != ColumnType::kBoolean; }
  bool is_long_value() const {
    return type_code == static_cast<uint8_t>(ColumnType::kMemo) ||
           type_code == static_cast<uint8_t>(ColumnType::kOle);
  }
};

struct IndexColumn {
  uint16_t column_number = 0;
  bool ascending = true;
};

// Index flag bits.
inline constexpr uint8_t kIndexUnique = 0x01;
inline constexpr uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr uint8_t kIndexRequired = 0x08;

// A real index: one B-tree. Logical indexes (what users see) map onto these.
struct RealIndex {
  std::vector<IndexColumn> columns;  // 1..10, in key order
  uint32_t usage_map = 0;            // row pointer (page << 8 | row) of its page map
  uint32_t root_page = 0;
  uint8_t flags = 0;
  uint32_t stat_entries = 0;         // first statistics word (meaning uncertain)
  uint32_t stat_unique = 0;          // distinct keys, as stored
  size_t def_offset = 0;             // raw index-definition record in the buffer
  size_t stat_offset = 0;            // raw statistics record in the buffer
};

// Logical index type byte.
inline constexpr uint8_t kLogicalIndexPrimaryKey = 1;
inline constexpr uint8_t kLogicalIndexForeignKey = 2;

struct LogicalIndex {
  uint32_t number = 0;
  uint32_t real_index = 0;
  uint8_t related_table_type = 0;  // 0 none, 1 referenced side, 2 referencing side
  int32_t related_index = -1;
  uint32_t related_table = 0;      // TDEF page of the other table, 0 if none
  uint8_t cascade_updates = 0;
  uint8_t cascade_deletes = 0;
  uint8_t index_type = 0;          // kLogicalIndexPrimaryKey, kLogicalIndexForeignKey, 0
  std::string name;
  size_t def_offset = 0;
};

// Per long-value column page maps (absent in older files).
struct LongValueMaps {
  uint16_t column_number = 0;
  uint32_t owned_map = 0;  // row pointers; 0 = no map
  uint32_t free_map = 0;
  size_t def_offset = 0;
};

struct TableDef {
  uint32_t first_page = 0;            // also the table's object id in MSysObjects
  std::vector<uint32_t> pages;        // the TDEF chain, first page first
  std::vector<uint8_t> buffer;        // logical TDEF: page 1 whole + pages 2.. from byte 8

  uint32_t tdef_length = 0;
  uint32_t row_count = 0;             // as stored; may be stale
  uint32_t last_autonumber = 0;       // as stored
  uint8_t table_type = 0;             // 'N' user, 'S' system
  uint16_t max_columns = 0;           // highest column number ever used + 1
  uint16_t var_columns = 0;           // size of a row's variable-offset table
  uint32_t owned_map = 0;             // row pointer of the owned-pages map
  uint32_t free_map = 0;              // row pointer of the free-space map

  std::vector<ColumnDef> columns;     // in stored (display) order
  std::vector<RealIndex> real_indexes;
  std::vector<LogicalIndex> logical_indexes;
  std::vector<LongValueMaps> long_value_maps;

  // Position of a column in `columns` with this column number, or -1.
  int FindColumnByNumber(uint16_t number) const;
  // Position of a column in `columns` with this name (case-insensitive ASCII), or -1.
  int FindColumnByName(const std::string& name) const;
  // Whether a primary-key logical index is backed by real index `real`.
  bool IsPrimaryKey(size_t real) const;
};

// Offset of the definition's stated length (4 bytes) in its logical buffer.
inline constexpr size_t kTdefLengthOffset = 8;

// Bytes a fixed column of `type` takes in the row's fixed area; 0 for variable
// columns and booleans (which live in the null mask).
uint16_t FixedColumnSize(ColumnType type);

// Reads and decodes the definition whose first page is `first_page`, following the
// continuation chain with cycle and bounds checks. Fails with kDamaged on a malformed
// definition (counts beyond limits, records past the end, a broken chain).
// `text_code_page`, when not 0, replaces the code page of the header and of every
// Jet 3 text column: for files written under another code page than they say.
Status ReadTableDef(PageFile& file, uint32_t first_page, TableDef* table,
                    uint16_t text_code_page = 0);

// A change of `width` (1, 2 or 4) bytes at `offset` of the logical definition that makes
// a partly damaged definition readable again, and what it gives up.
struct TableDefMend {
  size_t offset = 0;
  uint8_t width = 4;
  uint32_t value = 0;
  std::string what;  // "index root page 91234 is past the end of the file; the index is rebuilt"
};

// Why no engine writes the column record `column` in `format`, or "": a type the
// format lacks, a record cut short (flags, fixed offset and size all zero, for a
// type that has a size), flags the type cannot have, a fixed column of a fixed-size
// type with another size, or fixed bytes past the largest row.
std::string ImpossibleColumnRecord(const Format& format, const ColumnDef& column);

// Whether `type_code` is a column type of `format` (ImpossibleColumnRecord's first
// test); ReadTableDef refuses a definition with a column of another type.
bool FormatHasColumnType(const Format& format, uint8_t type_code);

// A column name Access would have let stand: 1 to 64 characters, none a control
// character. Anything else is what a damaged length or name leaves.
bool PlausibleColumnName(const std::string& name);

// The first column of `table` whose name Access would not have let stand
// (PlausibleColumnName) or that an earlier column has too, ignoring case; nullptr
// when every name is one Access allows.
const ColumnDef* UnallowedColumnName(const TableDef& table);

// What ReadTableDefColumns makes of a damaged definition.
struct ColumnsOnly {
  // The header (its page maps as stored), the columns kept and their names; indexes
  // and long-value maps empty; max_columns and var_columns cover the columns kept. A name given to a column
  // whose stored name is lost is appended to `buffer` (at its name_offset), so that a
  // writer copying names from the buffer writes the given one.
  TableDef table;
  std::vector<std::string> dropped;  // columns left out, each with why
  // A column was left out for fixed bytes that overlap another's: one of the two
  // records is damaged, and nothing says which, so the kept one may be the wrong one.
  bool overlap = false;
  std::vector<std::string> named;    // columns given a name or a code page, each with why
  // Columns whose record is sound but whose number (or variable index) is past the
  // header's counts or used by another column: the field is damaged, and only the
  // rows can tell which free number it had (jet/maintain/column_evidence.h).
  std::vector<ColumnDef> misplaced;
  uint16_t stated_max_columns = 0;   // the header's counts, bounded by a row's limit
  uint16_t stated_var_columns = 0;
};

// The columns alone of the definition at `first_page`, for a repair whose definition
// is damaged past them (its index or long-value sections, its stated length): the
// header, and the column records and names, each column judged on its own. A fixed
// column whose stored size is not its type's gets its type's (in the buffer too); a
// column whose flags its type cannot have, or one fixed column whose offset lies past
// any row, gets them mended as ReadTableDefMending does, and a number or variable
// index past 255 with its high byte alone set is read as its low byte where no other
// column has that; a column whose record no engine writes otherwise
// (ImpossibleColumnRecord), or whose fixed bytes overlap another's, is left out; one
// whose number or variable index is damaged goes to `misplaced`. Where the names run
// past the end of the definition or a name is none Access allows (empty, control
// characters, longer than 64, given twice), that column is named "Column_<position>".
// A name's length is what places the next one, so the later names keep theirs only
// where they read whole after the stated length, or after the one length a name can
// have with which at least two of them do; otherwise they are named so too. A column count
// past the header's count of column numbers is cut to that count where the names
// follow as many records and not the stored count's. kDamaged when the columns cannot
// be located or none is kept.
Status ReadTableDefColumns(PageFile& file, uint32_t first_page, ColumnsOnly* out);

// ReadTableDef for a damaged file: where one part of the definition is damaged but
// the columns around it are intact, it returns the definition as the mends in `mends`
// would make it instead of failing. The parts it mends:
//   - an index root past the end of the file (set to 0: the index must be rebuilt);
//   - a long-value map list cut short (ended where it breaks);
//   - header counts of column numbers or variable indexes below what the columns use,
//     where those stay within a row's limits (raised to what the columns use);
//   - one variable column whose variable index is past the header's count, where the
//     other columns leave exactly one index free (given that one);
//   - a column or index count past what Access allows with one byte above its lowest
//     set (its lowest byte);
//   - columns whose flags their types cannot have (set bits cleared, kColumnAlwaysSet
//     set; their fixed bits as the header's count of variable columns says, where
//     that count decides them);
//   - one fixed column whose bytes lie past any row (put between the fixed columns
//     numbered before and after it, where one value a byte away fits);
//   - a Jet 3 text column naming a code page that does not exist (given the file's);
//   - an index slot naming a column the table lacks, where the index keeps another
//     column (marked unused; the index must be rebuilt);
//   - one logical index naming a real index that does not exist, where exactly one
//     real index serves no logical index (pointed at that one).
// Anything else fails as in ReadTableDef, and so does a mended definition that is not
// sound otherwise (column numbers used twice, fixed columns that overlap, an index
// naming a column the table lacks, records past the definition's stated length).
Status ReadTableDefMending(PageFile& file, uint32_t first_page, TableDef* table, std::vector<TableDefMend>* mends);

}  // namespace jet
