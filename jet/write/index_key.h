// Index keys computed from values: the key bytes of an index entry for a row, built
// from the row's Values exactly as Access builds them, so that a rebuilt index sorts
// and matches like the one Access wrote.
//
// A key is the concatenation, in index-column order, of one item per column:
//   flag byte   0x7F non-null ascending, 0x80 non-null descending,
//               0x00 null ascending,     0xFF null descending (nothing follows a null)
//   value bytes per type (big-endian, arranged so that plain unsigned byte comparison
//               gives the column's order; descending inverts them):
//     Byte                      the byte
//     Integer, Long, Currency,  two's complement big-endian, top bit flipped
//     Complex, BigInt
//     Single, Double, DateTime  IEEE big-endian; >= 0: sign bit flipped; < 0: all
//                               bytes inverted (so -0.0 sorts just below +0.0)
//     Numeric                   see AppendNumericKey; refused for real keys
//     Boolean                   0x00 true, 0xFF false (never null in a key)
//     Binary, Guid              8-byte segments, 0x09 after each segment that has a
//                               successor; the last one zero-padded and followed by
//                               its length 1..8. Descending inverts the data bytes
//                               and the final length byte, not the 0x09 markers.
//                               A GUID is taken in its canonical (big-endian) order.
//     Text, Memo                the sort key of the column's collation, see below;
//                               its first 255 characters only. Descending inverts
//                               it; a General legacy one then ends in 0x00 again.
//
// Text sort keys exist for the "General" sort orders (LCID 1033): Jet 3's General of
// Access 97 and Jet 4's "General legacy" (sort version 0, also used by ACE files), and
// for ASCII text in Jet 4's Chinese PRC order (LCID 2052), whose keys of such text
// are General legacy keys. Their per-character codes were derived from keys Access
// wrote into real files (jet/write/index_key_tables.cc, doc/index-keys.md); a
// character the tables do not confirm makes the encoder refuse with
// kUnsupportedFormat instead of guessing, and callers then keep the key bytes Access
// stored. Every other sort order (another LCID, or ACE's newer General, sort version
// 1, whose two-byte codes the available files do not pin down) is reported as one
// whose keys cannot be computed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

enum class TextCollation : uint8_t {
  kGeneral97,      // Jet 3, LCID 1033, code page 1252
  kGeneralLegacy,  // Jet 4 / ACE, LCID 1033, sort version 0
  kChinesePrc,     // Jet 4, LCID 2052, sort version 0: ASCII text only
  kOther,          // any other sort order: keys are never computed
};

// The collation of a Text or Memo column of a file in `format`.
TextCollation ColumnCollation(const Format& format, const ColumnDef& column);

// Whether keys of `index` can be computed at all: every key column has an encodable
// type and every text column a supported collation and direction. False with a reason
// like "keys cannot be computed for sort order 2052". A true answer still lets a
// single value be refused (a character the code tables do not confirm), so callers
// that rebuild an index must check each EncodeIndexKey result too.
bool CanComputeKeys(const Format& format, const TableDef& table, const RealIndex& index,
                    std::string* reason = nullptr);

// The key bytes of `index` for a row whose values are given by position in
// table.columns (as Database::ScanRows and RowDecoder give them). Row pointer excluded.
// kUnsupportedFormat when the key cannot be computed (the detail says why, e.g.
// "cannot compute key: unconfirmed character U+0152"); kInvalidArgument when a value
// does not fit its column type.
Status EncodeIndexKey(const Format& format, const TableDef& table, const RealIndex& index,
                      const std::vector<Value>& values, std::string* key);

// Whether `index` has an entry for a row with these values: always, except in an index
// that ignores nulls (kIndexIgnoreNulls) for a row whose key columns are all null.
bool IndexHoldsRow(const TableDef& table, const RealIndex& index, const std::vector<Value>& values);

// The positions of `table`'s columns that some real index's key reads, ascending.
std::vector<size_t> IndexKeyColumns(const TableDef& table);

// The flag byte that opens each key item.
inline constexpr uint8_t kKeyFlagAscending = 0x7F;
inline constexpr uint8_t kKeyFlagDescending = 0x80;
inline constexpr uint8_t kKeyFlagNullAscending = 0x00;
inline constexpr uint8_t kKeyFlagNullDescending = 0xFF;

// Whether two entries with keys `a` and `b` break a unique index: the same key, unless
// every column of it is null (its bytes null flags alone), as several rows with nulls
// do not collide (Jet's rule).
bool UniqueKeysCollide(std::string_view a, std::string_view b);

// Width of the value bytes after a non-null flag for a column of `type`, for the
// types whose items have a fixed width (Boolean, Byte 1; Integer 2; Long, Complex,
// Single 4; Currency, Double, DateTime, BigInt 8; Numeric 17); 0 for the types whose
// item width depends on the value (Text, Memo, Binary, GUID) and types without keys.
size_t KeyValueWidth(ColumnType type);

// The values an index key holds, read back, for keys whose columns are all Byte,
// Integer or Long (the counters and numbers keys are usually made of): `values` (one
// per column of `table`, as a row's) gets each key column's value, null where the key
// holds a null; the other columns are left as they are. False for any other key, or
// bytes that are not such a key.
bool DecodeIndexKey(const TableDef& table, const RealIndex& index, const std::string& key, std::vector<Value>* values);
// The same values as text, "ID=17" or "OrderID=3, Line=2" (column names in key order).
bool DescribeIndexKey(const TableDef& table, const RealIndex& index, const std::string& key, std::string* text);

// One key item (flag byte and value bytes) for a column; appended to `key`.
Status AppendIndexKeyColumn(const Format& format, const ColumnDef& column, bool ascending,
                            const Value& value, std::string* key);

// The value bytes (after the flag) of a Numeric, by the rule of the format notes:
//   Jet 3 / Jet 4: [sign][16-byte magnitude] big-endian, inverted when
//     (negative == ascending), then byte 0 set to 0x00 for negative and 0xFF
//     otherwise -- Jet's own ordering, wrong for descending mixed signs;
//   ACE: byte 0 set to 0xFF, then inverted when (negative == ascending).
// No Access-written Numeric index was available to confirm it, and Microsoft's own
// advice for the descending-sort fault of Decimal fields (KB 837148: index the field)
// suggests the index orders them correctly, which this rule would not. So
// CanComputeKeys and EncodeIndexKey refuse Numeric key columns; callers keep the
// stored keys.
void AppendNumericKey(const Numeric& value, bool ace, bool ascending, std::string* out);

// The value bytes (after the flag) of a text in a collation; appended to `out`.
Status AppendTextSortKey(TextCollation collation, const std::string& utf8, bool ascending,
                         std::string* out);

}  // namespace jet
