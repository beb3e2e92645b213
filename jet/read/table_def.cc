// TableDef: reading a table definition from its TDEF page chain.
//
// TDEF page header (each page of the chain):
//   0  1  page type 0x02
//   2  2  Jet 3: "VC"; Jet 4: free space on this page
//   4  4  next TDEF page of the chain (0 = last)
// The logical buffer is the first page whole plus bytes 8.. of every further page;
// every offset below is into that buffer. Table header block: see jet/file/format.h
// (tdef_* offsets; tdef_length at 8). The variable part follows, in this order:
//   1. real-index statistics    real_index_count * (8 | 12)
//   2. column definitions       column_count * (18 | 25)
//   3. column names             column_count * (length 1 | 2, bytes)
//   4. real index definitions   real_index_count * (39 | 52)
//   5. logical index defs       logical_index_count * (20 | 28)
//   6. logical index names      as column names
//   7. long-value column maps   [column 2][owned map 4][free map 4] ... until 0xFFFF
#include "jet/read/table_def.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "jet/base/byte_order.h"
#include "jet/file/page_file.h"
#include "jet/base/text.h"

namespace jet {
namespace {

constexpr size_t kTdefChainHeader = 8;
constexpr size_t kIndexColumnSlots = 10;
constexpr uint16_t kNoColumn = 0xFFFF;
// Far beyond any real definition (255 columns and 32 indexes take a few pages); keeps a
// hostile chain from pulling the whole file into memory.
constexpr size_t kMaxTdefPages = 256;

Status Damaged(uint32_t first_page, const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged,
                       "table definition at page " + std::to_string(first_page) + ": " + detail);
}

// Column definition record (offsets J3 / J4):
//   type 0/0, column number 1/5, var index 3/7, sort order 9 (2) / 11 (LCID 2 + version
//   at 14), J3 code page 11, numeric precision 11 / scale 12 (both formats), ACE complex
//   id -/11 (4), flags 13/15, ext flags -/16, fixed offset 14/21, length 16/23.
void DecodeColumn(const Format& f, ByteReader& r, size_t at, ColumnDef* c) {
  const bool j3 = IsJet3(f.version);
  c->def_offset = at;
  c->type_code = r.U8(at);
  c->number = r.U16(at + ColumnNumberOffset(f));
  c->var_index = r.U16(at + ColumnVarIndexOffset(f));
  c->flags = r.U8(at + ColumnFlagsOffset(f));
  c->ext_flags = j3 ? 0 : r.U8(at + 16);
  c->fixed_offset = r.U16(at + ColumnFixedOffsetOffset(f));
  c->length = r.U16(at + ColumnLengthOffset(f));
  const ColumnType type = c->type();
  if (type == ColumnType::kNumeric) {
    c->precision = r.U8(at + 11);
    c->scale = r.U8(at + 12);
  } else if (type == ColumnType::kComplex && !j3) {
    c->complex_id = r.U32(at + 11);
  } else if (type == ColumnType::kText || type == ColumnType::kMemo) {
    if (j3) {
      c->sort_lcid = r.U16(at + 9);
      c->code_page = r.U16(at + 11);
    } else {
      c->sort_lcid = r.U16(at + 11);
      c->sort_version = r.U8(at + 14);
    }
  }
}

// Real index definition (J3 / J4 offsets): [J4: 4 unknown] 10 * (column 2, flags 1)
// at 0/4, usage map 30/34, root page 34/38, flags 38/46.
void DecodeRealIndex(const Format& f, ByteReader& r, size_t at, RealIndex* index) {
  const size_t base = IsJet3(f.version) ? at : at + 4;
  index->def_offset = at;
  for (size_t i = 0; i < kIndexColumnSlots; ++i) {
    uint16_t number = r.U16(base + 3 * i);
    uint8_t flags = r.U8(base + 3 * i + 2);
    if (number == kNoColumn) continue;
    index->columns.push_back(IndexColumn{number, (flags & 0x01) != 0});
  }
  index->usage_map = r.U32(base + 30);
  index->root_page = r.U32(base + 34);
  index->flags = r.U8(at + RealIndexFlagsOffset(f));
}

// Logical index definition (J3 / J4): number 0/4, real index 4/8, related table type
// 8/12, related index 9/13, related table 13/17, cascade updates 17/21, cascade deletes
// 18/22, index type 19/23.
void DecodeLogicalIndex(const Format& f, ByteReader& r, size_t at, LogicalIndex* index) {
  const size_t base = IsJet3(f.version) ? at : at + 4;
  index->def_offset = at;
  index->number = r.U32(base + 0);
  index->real_index = r.U32(base + 4);
  index->related_table_type = r.U8(base + 8);
  index->related_index = static_cast<int32_t>(r.U32(base + 9));
  index->related_table = r.U32(base + 13);
  index->cascade_updates = r.U8(base + 17);
  index->cascade_deletes = r.U8(base + 18);
  index->index_type = r.U8(base + 19);
}

std::string Latin1ToUtf8(const uint8_t* data, size_t size) {
  std::string out;
  for (size_t i = 0; i < size; ++i) AppendUtf8(data[i], &out);
  return out;
}

// Reads a length-prefixed name at *at and advances past it.
bool ReadName(const Format& f, uint16_t code_page, ByteReader& r, size_t* at, std::string* name) {
  const size_t length = f.name_length_size == 1 ? r.U8(*at) : r.U16(*at);
  const uint8_t* bytes = r.Span(*at + f.name_length_size, length);
  if (bytes == nullptr) return false;
  *at += f.name_length_size + length;
  if (IsJet3(f.version)) {
    if (!DecodeCodePageText(bytes, length, code_page, name).ok()) *name = Latin1ToUtf8(bytes, length);
  } else {
    DecodeJet4Text(bytes, length, name);
  }
  return true;
}

// Follows the TDEF chain from `first_page` and concatenates it into table->buffer.
Status LoadChain(PageFile& file, uint32_t first_page, TableDef* table) {
  const uint32_t page_size = file.page_size();
  std::vector<uint8_t> page(page_size);
  std::set<uint32_t> seen;
  uint32_t number = first_page;
  while (number != 0) {
    if (number >= file.page_count())
      return Damaged(first_page, "chain leads to page " + std::to_string(number) +
                                     " past the end of the file");
    if (!seen.insert(number).second)
      return Damaged(first_page, "chain loops back to page " + std::to_string(number));
    if (seen.size() > kMaxTdefPages)
      return Damaged(first_page, "chain is longer than " + std::to_string(kMaxTdefPages) + " pages");
    Status s = file.ReadPage(number, page.data());
    if (!s.ok()) return s;
    if (page[0] != kPageTableDef)
      return Damaged(first_page, "page " + std::to_string(number) + " of the chain has type " +
                                     std::to_string(page[0]) + ", not a table definition");
    table->pages.push_back(number);
    const size_t skip = table->buffer.empty() ? 0 : kTdefChainHeader;
    table->buffer.insert(table->buffer.end(), page.begin() + skip, page.end());
    number = LoadLe32(page.data() + 4);
  }
  return Status::Ok();
}

// A row carries at most 255 columns (its count is one byte in Jet 3): header counts
// below what the columns use are raised only within that limit.
constexpr uint16_t kMaxRowColumns = 255;

// Access allows 255 columns and 32 indexes a table, so the bytes of a column or index
// count above its lowest are zero. A count past its limit with exactly one of them
// set has a flipped byte: it is its lowest byte, where that is within the limit.
// The count as stored otherwise.
constexpr uint32_t kMaxTableIndexes = 32;
uint32_t CountWithoutFlippedByte(uint32_t stored, uint32_t limit) {
  if (stored <= limit || (stored & 0xFF) > limit) return stored;
  unsigned set = 0;
  for (uint32_t high = stored >> 8; high != 0; high >>= 8) set += (high & 0xFF) != 0;
  return set == 1 ? (stored & 0xFF) : stored;
}

// The header's column and index counts mended by CountWithoutFlippedByte, where
// `mends` is given; each mend is noted there.
void MendHeaderCount(size_t offset, uint8_t width, uint32_t limit, const char* what, uint32_t* count,
                     std::vector<TableDefMend>* mends) {
  const uint32_t mended = CountWithoutFlippedByte(*count, limit);
  if (mends == nullptr || mended == *count) return;
  mends->push_back({offset, width, mended,
                    std::string("the ") + what + " count " + std::to_string(*count) + " is past any table's; set to " +
                        std::to_string(mended) + ", as its one byte that can be set says"});
  *count = mended;
}

// A count that holds every column is taken as sound: a column past it is the damaged
// field, and raising the count would read that column as absent from every row.
void MendHeaderCounts(const Format& f, TableDef* table, std::vector<TableDefMend>* mends) {
  uint32_t numbers = 0, var_indexes = 0, variables = 0;
  for (const ColumnDef& column : table->columns) {
    numbers = std::max<uint32_t>(numbers, column.number + 1u);
    if (column.is_variable()) {
      var_indexes = std::max<uint32_t>(var_indexes, column.var_index + 1u);
      ++variables;
    }
  }
  if (table->max_columns >= table->columns.size()) numbers = 0;
  if (table->var_columns >= variables) var_indexes = 0;
  if (numbers > table->max_columns && numbers <= kMaxRowColumns) {
    mends->push_back({f.tdef_max_columns, 2, numbers,
                      "the column-number count " + std::to_string(table->max_columns) + " is below what the columns use; set to " +
                          std::to_string(numbers)});
    table->max_columns = uint16_t(numbers);
  }
  if (var_indexes > table->var_columns && var_indexes <= kMaxRowColumns) {
    mends->push_back({f.tdef_var_columns, 2, var_indexes,
                      "the variable-column count " + std::to_string(table->var_columns) +
                          " is below what the columns use; set to " + std::to_string(var_indexes)});
    table->var_columns = uint16_t(var_indexes);
  }
}

// Access numbers the variable columns 0, 1, 2, ... below the header's count. One
// variable index out of that range, where the others leave exactly one number of it
// free, is a damaged field: it gets that number.
void MendVariableIndexes(const Format& f, TableDef* table, std::vector<TableDefMend>* mends) {
  ColumnDef* broken = nullptr;
  std::vector<bool> used(table->var_columns, false);
  for (ColumnDef& column : table->columns) {
    if (!column.is_variable()) continue;
    if (column.var_index < used.size()) {
      if (used[column.var_index]) return;  // used twice: not one field to blame
      used[column.var_index] = true;
    } else if (broken == nullptr) {
      broken = &column;
    } else {
      return;
    }
  }
  if (broken == nullptr || std::count(used.begin(), used.end(), false) != 1) return;
  const uint16_t free = uint16_t(std::find(used.begin(), used.end(), false) - used.begin());
  mends->push_back({broken->def_offset + ColumnVarIndexOffset(f), 2, free,
                    "column \"" + broken->name + "\" had variable index " + std::to_string(broken->var_index) +
                        "; set to " + std::to_string(free) + ", the one no other column uses"});
  broken->var_index = free;
}

// A record cut short: its last fields (flags, fixed offset, size) are zero, as a write
// torn inside the record, or a zeroed record whose type byte alone was hit, leaves.
// Every record Access writes has flags (kColumnAlwaysSet), and every column but a
// memo, an OLE value or a Yes/No has a size, so this is no column with damaged flags
// alone: what the record said of where its values lie is gone.
bool CutShortRecord(const ColumnDef& column) {
  const ColumnType type = column.type();
  return column.flags == 0 && column.fixed_offset == 0 && column.length == 0 && !column.is_long_value() &&
         type != ColumnType::kBoolean;
}

// A record that is no column at all: no type of the format, or cut short.
bool NoColumnRecord(const Format& format, const ColumnDef& column) {
  return !FormatHasColumnType(format, column.type_code) || CutShortRecord(column);
}

// A flags byte its column's type cannot have (ImpossibleColumnFlags) is damaged, and
// its fixed bit, the one its rows depend on, with it. Those bits are taken from the
// header's count of variable columns where the count decides them: the variable
// columns with sound flags leave a number to the damaged ones, and where that is
// none they are all fixed (unless one cannot be: text, memo, OLE, a size not its
// type's); where it is all of them, each holding a variable index below the count
// that no other column holds, they are all variable. Otherwise the stored bits stand.
// The impossible bits are cleared, and kColumnAlwaysSet is set.
void MendColumnFlags(const Format& f, uint16_t stated_var_columns, std::vector<ColumnDef>* columns,
                     std::vector<TableDefMend>* mends) {
  const auto may_be_fixed = [](const ColumnDef& c) {
    const ColumnType type = c.type();
    return type != ColumnType::kText && type != ColumnType::kMemo && type != ColumnType::kOle &&
           (FixedColumnSize(type) == 0 || c.length == FixedColumnSize(type));
  };
  std::vector<ColumnDef*> either;  // damaged flags, fixed or variable
  uint32_t variable = 0;           // the rest that are variable
  bool any = false;
  // A record that is no column (a zeroed one) has no flags to mend; it is left out
  // later.
  for (ColumnDef& column : *columns) {
    if (NoColumnRecord(f, column)) continue;
    const bool damaged = ImpossibleColumnFlags(column.type_code, column.flags) != 0;
    any = any || damaged;
    if (damaged && column.type() != ColumnType::kBoolean) either.push_back(&column);
    else if (column.is_variable()) ++variable;
  }
  if (!any) return;
  const bool all_fixed = !either.empty() && stated_var_columns == variable &&
                         std::all_of(either.begin(), either.end(), [&](const ColumnDef* c) { return may_be_fixed(*c); });
  bool all_variable = !either.empty() && stated_var_columns == variable + either.size();
  for (const ColumnDef* column : either) {
    if (!all_variable) break;
    all_variable = column->var_index < stated_var_columns;
    for (const ColumnDef& other : *columns)
      if (&other != column && other.var_index == column->var_index &&
          (other.is_variable() || std::find(either.begin(), either.end(), &other) != either.end()))
        all_variable = false;
  }
  for (ColumnDef& column : *columns) {
    const uint8_t impossible = ImpossibleColumnFlags(column.type_code, column.flags);
    if (impossible == 0 || NoColumnRecord(f, column)) continue;
    const bool decided = std::find(either.begin(), either.end(), &column) != either.end() && (all_fixed || all_variable);
    const bool fixed = decided ? all_fixed : column.is_fixed();
    const uint8_t mended = uint8_t((column.flags & ~impossible & ~kColumnFixed) | kColumnAlwaysSet | (fixed ? kColumnFixed : 0));
    char stored[8], now[8];
    std::snprintf(stored, sizeof stored, "0x%02X", column.flags);
    std::snprintf(now, sizeof now, "0x%02X", mended);
    mends->push_back({column.def_offset + ColumnFlagsOffset(f), 1, mended,
                      "column \"" + column.name + "\" had flags " + stored + ", which no " + ColumnTypeName(column.type_code) +
                          " column has; set to " + now + (fixed ? ", fixed" : ", variable") +
                          (decided ? " as the header's count of variable columns says" : " as stored")});
    column.flags = mended;
  }
}

// Whether `column` is fixed (a Boolean lives in the null mask) with bytes past the
// largest row a page holds: no engine writes such a record.
bool FixedBytesPastAnyRow(const Format& f, const ColumnDef& column) {
  return column.in_fixed_area() &&
         uint32_t(column.fixed_offset) + column.length > f.max_row_size;
}

// A fixed column's bytes lie in a row's fixed area, which a page bounds; one column
// whose offset puts them past any row is a damaged field. Access lays the fixed
// columns out in the order of their numbers, so the offset lies between the bytes of
// the fixed columns numbered just before and just after it (the last one ends the
// area). Where exactly one value there differs from the stored one in one byte, as a
// flipped byte leaves it, the column gets that value.
void MendFixedOffsets(const Format& f, std::vector<ColumnDef>* columns, std::vector<TableDefMend>* mends) {
  ColumnDef* broken = nullptr;
  std::vector<const ColumnDef*> sound;
  for (ColumnDef& column : *columns) {
    if (!column.in_fixed_area()) continue;
    if (!FixedBytesPastAnyRow(f, column)) {
      sound.push_back(&column);
    } else if (broken == nullptr) {
      broken = &column;
    } else {
      return;  // two: not one field to blame
    }
  }
  if (broken == nullptr) return;
  std::sort(sound.begin(), sound.end(), [](const ColumnDef* a, const ColumnDef* b) { return a->number < b->number; });
  uint32_t low = 0, high = 0;
  bool after = false;
  for (size_t i = 0; i < sound.size(); ++i) {
    const uint32_t start = sound[i]->fixed_offset, end = start + sound[i]->length;
    if (i > 0 && start < uint32_t(sound[i - 1]->fixed_offset) + sound[i - 1]->length) return;  // not laid out so
    if (sound[i]->number < broken->number) low = end;
    if (sound[i]->number > broken->number && !after) {
      high = start;
      after = true;
    }
  }
  if (!after) high = low + broken->length;
  const uint16_t stored = broken->fixed_offset;
  std::vector<uint16_t> fits;
  for (unsigned b = 0; b < 256; ++b) {
    for (const uint16_t value : {uint16_t((stored & 0xFF00) | b), uint16_t((stored & 0x00FF) | (b << 8))})
      if (value != stored && value >= low && uint32_t(value) + broken->length <= high &&
          std::find(fits.begin(), fits.end(), value) == fits.end())
        fits.push_back(value);
  }
  if (fits.size() != 1) return;
  mends->push_back({broken->def_offset + ColumnFixedOffsetOffset(f), 2, fits[0],
                    "column \"" + broken->name + "\" had fixed offset " + std::to_string(stored) +
                        ", past any row; set to " + std::to_string(fits[0]) +
                        ", between the columns numbered before and after it"});
  broken->fixed_offset = fits[0];
}

// A column number or variable index is below 255, so its high byte is zero. One past
// that with its high byte alone changed, where its low byte is a value no other
// column has, is that value (as CountWithoutFlippedByte reads a count).
void MendFlippedNumbers(const Format& f, std::vector<ColumnDef>* columns, std::vector<TableDefMend>* mends) {
  for (ColumnDef& column : *columns) {
    const bool variable = column.is_variable();
    for (const bool of_number : {true, false}) {
      if (!of_number && !variable) continue;
      uint16_t& field = of_number ? column.number : column.var_index;
      const uint16_t low = uint16_t(CountWithoutFlippedByte(field, kMaxRowColumns));
      if (low == field) continue;
      const bool taken = std::any_of(columns->begin(), columns->end(), [&](const ColumnDef& other) {
        const bool other_variable = other.is_variable();
        return &other != &column && (of_number ? other.number == low : other_variable && other.var_index == low);
      });
      if (taken) continue;
      const std::string what = of_number ? "number" : "variable index";
      mends->push_back({column.def_offset + (of_number ? ColumnNumberOffset(f) : ColumnVarIndexOffset(f)), 2, low,
                        "column \"" + column.name + "\" had " + what + " " + std::to_string(field) +
                            ", past any table's; set to " + std::to_string(low) + ", as its one byte that can be set says"});
      field = low;
    }
  }
}

// A Jet 3 text column names the code page of its text; one no converter knows is a
// damaged field (no reader could decode a value of it): the file's code page is
// what Access writes there.
void MendColumnCodePages(const Format& f, uint16_t file_code_page, TableDef* table,
                         std::vector<TableDefMend>* mends) {
  if (!IsJet3(f.version)) return;
  for (ColumnDef& column : table->columns) {
    if (column.type() != ColumnType::kText && column.type() != ColumnType::kMemo) continue;
    if (column.code_page == 0 || IsKnownCodePage(column.code_page)) continue;
    mends->push_back({column.def_offset + 11, 2, file_code_page,
                      "column \"" + column.name + "\" named code page " + std::to_string(column.code_page) +
                          ", which does not exist; set to the file's, " + std::to_string(file_code_page)});
    column.code_page = file_code_page;
  }
}

// An index slot naming a column the table lacks is a damaged field; most often the
// "no column" mark of an unused slot with a byte changed. The slot is marked unused
// again, where the index keeps another column.
void MendIndexColumns(const Format& f, TableDef* table, std::vector<TableDefMend>* mends) {
  const size_t slots_at = IsJet3(f.version) ? 0 : 4;
  for (RealIndex& index : table->real_indexes) {
    std::vector<IndexColumn> kept;
    std::vector<size_t> unknown;
    for (size_t i = 0; i < kIndexColumnSlots; ++i) {
      const size_t at = index.def_offset + slots_at + 3 * i;
      if (at + 2 > table->buffer.size()) break;
      const uint16_t number = LoadLe16(table->buffer.data() + at);
      if (number == kNoColumn) continue;
      if (table->FindColumnByNumber(number) < 0) unknown.push_back(at);
    }
    for (const IndexColumn& ic : index.columns)
      if (table->FindColumnByNumber(ic.column_number) >= 0) kept.push_back(ic);
    if (unknown.empty() || kept.empty()) continue;
    for (size_t at : unknown)
      mends->push_back({at, 2, kNoColumn,
                        "an index named column number " + std::to_string(LoadLe16(table->buffer.data() + at)) +
                            ", which the table does not have; that slot is marked unused and the index rebuilt"});
    index.columns = kept;
    index.root_page = 0;
    mends->push_back({index.def_offset + RealIndexRootPageOffset(f), 4, 0, "the index is rebuilt from the rows"});
  }
}

// Every real index serves at least one logical index. A logical index naming a real
// index that does not exist is pointed at the one real index no other serves, when
// there is exactly one such.
void MendLogicalIndexes(const Format& f, TableDef* table, std::vector<TableDefMend>* mends) {
  const size_t real_count = table->real_indexes.size();
  std::vector<int> served(real_count, 0);
  size_t broken = 0;
  for (const LogicalIndex& index : table->logical_indexes) {
    if (index.real_index < real_count) ++served[index.real_index];
    else ++broken;
  }
  if (broken != 1) return;
  const size_t unserved = size_t(std::count(served.begin(), served.end(), 0));
  if (unserved != 1) return;
  const uint32_t real = uint32_t(std::find(served.begin(), served.end(), 0) - served.begin());
  for (LogicalIndex& index : table->logical_indexes) {
    if (index.real_index < real_count) continue;
    mends->push_back({index.def_offset + (IsJet3(f.version) ? 4 : 8), 4, real,
                      "logical index \"" + index.name + "\" named real index " + std::to_string(index.real_index) +
                          " of " + std::to_string(real_count) + "; set to " + std::to_string(real) +
                          ", the one no other index uses"});
    index.real_index = real;
  }
}

Status ParseTableDef(PageFile& file, uint32_t first_page, TableDef* table, uint16_t text_code_page,
                     std::vector<TableDefMend>* mends);
// ParseTableDef's work past loading the chain: `table` holds the pages and buffer of
// its chain, and nothing else. `column_count`, when not 0, is read in place of the
// stored count.
Status DecodeTableDef(PageFile& file, TableDef* table, uint16_t text_code_page, std::vector<TableDefMend>* mends,
                      uint32_t column_count = 0);

}  // namespace

std::string ColumnTypeName(uint8_t type_code) {
  switch (static_cast<ColumnType>(type_code)) {
    case ColumnType::kBoolean: return "Boolean";
    case ColumnType::kByte: return "Byte";
    case ColumnType::kInteger: return "Integer";
    case ColumnType::kLong: return "Long Integer";
    case ColumnType::kCurrency: return "Currency";
    case ColumnType::kSingle: return "Single";
    case ColumnType::kDouble: return "Double";
    case ColumnType::kDateTime: return "Date/Time";
    case ColumnType::kBinary: return "Binary";
    case ColumnType::kText: return "Text";
    case ColumnType::kOle: return "OLE Object";
    case ColumnType::kMemo: return "Memo";
    case ColumnType::kGuid: return "Replication ID";
    case ColumnType::kNumeric: return "Decimal";
    case ColumnType::kComplex: return "Complex";
    case ColumnType::kBigInt: return "Large Number";
    case ColumnType::kExtDateTime: return "Date/Time Extended";
    case ColumnType::kUnknown0D:
    case ColumnType::kUnknown11: break;
  }
  static const char kHex[] = "0123456789ABCDEF";
  std::string name = "Unknown 0x";
  name.push_back(kHex[type_code >> 4]);
  name.push_back(kHex[type_code & 15]);
  return name;
}

uint16_t FixedColumnSize(ColumnType type) {
  switch (type) {
    case ColumnType::kByte: return 1;
    case ColumnType::kInteger: return 2;
    case ColumnType::kLong: case ColumnType::kSingle: return 4;
    case ColumnType::kCurrency: case ColumnType::kDouble: case ColumnType::kDateTime: return 8;
    case ColumnType::kGuid: return 16;
    case ColumnType::kNumeric: return 17;
    default: return 0;
  }
}

bool Jet3HasType(ColumnType type) {
  switch (type) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong:
    case ColumnType::kCurrency:
    case ColumnType::kSingle:
    case ColumnType::kDouble:
    case ColumnType::kDateTime:
    case ColumnType::kBinary:
    case ColumnType::kText:
    case ColumnType::kOle:
    case ColumnType::kMemo:
    case ColumnType::kGuid:
      return true;
    default:
      return false;
  }
}

int TableDef::FindColumnByNumber(uint16_t number) const {
  for (size_t i = 0; i < columns.size(); ++i)
    if (columns[i].number == number) return static_cast<int>(i);
  return -1;
}

int TableDef::FindColumnByName(const std::string& name) const {
  for (size_t i = 0; i < columns.size(); ++i) {
    if (EqualsIgnoringAsciiCase(columns[i].name, name)) return static_cast<int>(i);
  }
  return -1;
}

bool TableDef::IsPrimaryKey(size_t real) const {
  for (const LogicalIndex& logical : logical_indexes)
    if (logical.real_index == real && logical.index_type == kLogicalIndexPrimaryKey) return true;
  return false;
}

namespace {

// Strict when `mends` is null; otherwise mends what ReadTableDefMending names.
Status ParseTableDef(PageFile& file, uint32_t first_page, TableDef* table, uint16_t text_code_page,
                     std::vector<TableDefMend>* mends) {
  *table = TableDef();
  table->first_page = first_page;
  if (first_page == 0) return Damaged(first_page, "page 0 cannot hold a table definition");
  Status s = LoadChain(file, first_page, table);
  if (!s.ok()) return s;
  return DecodeTableDef(file, table, text_code_page, mends);
}

Status DecodeTableDef(PageFile& file, TableDef* table, uint16_t text_code_page, std::vector<TableDefMend>* mends,
                      uint32_t column_count_read) {
  const uint32_t first_page = table->first_page;
  const Format& f = file.format();
  const uint16_t code_page = text_code_page != 0 ? text_code_page : TextCodePage(file.header());
  ByteReader r(table->buffer.data(), table->buffer.size());
  table->tdef_length = r.U32(kTdefLengthOffset);
  table->row_count = r.U32(f.tdef_row_count);
  table->last_autonumber = r.U32(f.tdef_autonumber);
  table->table_type = r.U8(f.tdef_table_type);
  table->max_columns = r.U16(f.tdef_max_columns);
  table->var_columns = r.U16(f.tdef_var_columns);
  uint32_t column_count = column_count_read != 0 ? column_count_read : r.U16(f.tdef_column_count);
  uint32_t logical_count = r.U32(f.tdef_logical_indexes);
  uint32_t real_count = r.U32(f.tdef_real_indexes);
  table->owned_map = r.U32(f.tdef_owned_map);
  table->free_map = r.U32(f.tdef_free_map);
  if (r.failed()) return Damaged(first_page, "header block is cut short");
  if (column_count_read == 0) MendHeaderCount(f.tdef_column_count, 2, kMaxRowColumns, "column", &column_count, mends);
  MendHeaderCount(f.tdef_logical_indexes, 4, kMaxTableIndexes, "logical index", &logical_count, mends);
  MendHeaderCount(f.tdef_real_indexes, 4, kMaxTableIndexes, "real index", &real_count, mends);

  // Each count must leave room for its records; checking against the buffer first
  // keeps a hostile count from reserving gigabytes.
  const size_t room = table->buffer.size();
  if (uint64_t(real_count) * f.real_index_stat_size > room ||
      uint64_t(logical_count) * f.logical_index_def_size > room ||
      uint64_t(column_count) * f.column_def_size > room)
    return Damaged(first_page, "counts (" + std::to_string(column_count) + " columns, " +
                                   std::to_string(real_count) + " real / " +
                                   std::to_string(logical_count) +
                                   " logical indexes) do not fit in the definition");

  size_t at = f.tdef_header_end;
  table->real_indexes.resize(real_count);
  for (RealIndex& index : table->real_indexes) {
    index.stat_offset = at;
    index.stat_entries = r.U32(at);
    index.stat_unique = r.U32(at + 4);
    at += f.real_index_stat_size;
  }
  table->columns.resize(column_count);
  for (ColumnDef& column : table->columns) {
    DecodeColumn(f, r, at, &column);
    at += f.column_def_size;
  }
  if (r.failed()) return Damaged(first_page, "column definitions run past the end");
  for (const ColumnDef& column : table->columns)
    if (!FormatHasColumnType(f, column.type_code))
      return Damaged(first_page, "a column has type " + ColumnTypeName(column.type_code) + ", no column type of the format");
  if (text_code_page != 0 && IsJet3(f.version))
    for (ColumnDef& column : table->columns)
      if (column.type() == ColumnType::kText || column.type() == ColumnType::kMemo)
        column.code_page = text_code_page;
  for (ColumnDef& column : table->columns) {
    column.name_offset = at;
    if (!ReadName(f, code_page, r, &at, &column.name))
      return Damaged(first_page, "column names run past the end");
    if (column.name.empty()) return Damaged(first_page, "a column has an empty name");
  }
  for (RealIndex& index : table->real_indexes) {
    DecodeRealIndex(f, r, at, &index);
    at += f.real_index_def_size;
  }
  table->logical_indexes.resize(logical_count);
  for (LogicalIndex& index : table->logical_indexes) {
    DecodeLogicalIndex(f, r, at, &index);
    at += f.logical_index_def_size;
  }
  if (r.failed()) return Damaged(first_page, "index definitions run past the end");
  for (LogicalIndex& index : table->logical_indexes) {
    if (!ReadName(f, code_page, r, &at, &index.name))
      return Damaged(first_page, "index names run past the end");
  }

  // Long-value column maps: optional, so a definition that simply ends here is fine.
  while (r.Has(at, 2)) {
    const uint16_t column = r.U16(at);
    if (column == kNoColumn) break;
    if (!r.Has(at, 10)) {
      if (mends == nullptr) return Damaged(first_page, "long-value column map cut short");
      mends->push_back({at, 2, kNoColumn, "the long-value page maps are cut short; the list ends there"});
      break;
    }
    LongValueMaps maps;
    maps.column_number = column;
    maps.owned_map = r.U32(at + 2);
    maps.free_map = r.U32(at + 6);
    maps.def_offset = at;
    table->long_value_maps.push_back(maps);
    at += 10;
  }

  // Rows are decoded by column number (null mask) and var index (offset table); both
  // must lie inside the sizes the header declares, as they do in every Access file.
  if (mends != nullptr) MendColumnFlags(f, table->var_columns, &table->columns, mends);
  if (mends != nullptr) MendHeaderCounts(f, table, mends);
  if (mends != nullptr) MendVariableIndexes(f, table, mends);
  if (mends != nullptr) MendColumnCodePages(f, code_page, table, mends);
  if (mends != nullptr) MendFixedOffsets(f, &table->columns, mends);
  for (const ColumnDef& column : table->columns) {
    if (column.number >= table->max_columns)
      return Damaged(first_page, "column \"" + column.name + "\" has number " +
                                     std::to_string(column.number) + " of " +
                                     std::to_string(table->max_columns));
    if (column.is_variable() &&
        column.var_index >= table->var_columns)
      return Damaged(first_page, "column \"" + column.name + "\" has variable index " +
                                     std::to_string(column.var_index) + " of " +
                                     std::to_string(table->var_columns));
  }
  for (RealIndex& index : table->real_indexes) {
    if (index.root_page >= file.page_count() && mends != nullptr) {
      mends->push_back({index.def_offset + RealIndexRootPageOffset(f), 4, 0,
                        "an index root page " + std::to_string(index.root_page) +
                            " is past the end of the file; the index is rebuilt from the rows"});
      index.root_page = 0;
    }
    if (index.root_page >= file.page_count())
      return Damaged(first_page, "an index root page " + std::to_string(index.root_page) +
                                     " is past the end of the file");
  }
  if (mends != nullptr) MendLogicalIndexes(f, table, mends);
  if (mends != nullptr) MendIndexColumns(f, table, mends);
  for (const LogicalIndex& index : table->logical_indexes) {
    if (index.real_index >= real_count)
      return Damaged(first_page, "logical index \"" + index.name + "\" names real index " +
                                     std::to_string(index.real_index) + " of " +
                                     std::to_string(real_count));
  }
  return Status::Ok();
}

}  // namespace

Status ReadTableDef(PageFile& file, uint32_t first_page, TableDef* table, uint16_t text_code_page) {
  return ParseTableDef(file, first_page, table, text_code_page, nullptr);
}

bool FormatHasColumnType(const Format& format, uint8_t type_code) {
  // Jet 4 files carry type codes no reader names (0x11 in MSysAccessObjects): every
  // code up to the last one known may stand there.
  return IsJet3(format.version) ? Jet3HasType(ColumnType(type_code)) : type_code >= 0x01 && type_code <= 0x14;
}

uint8_t ImpossibleColumnFlags(uint8_t type_code, uint8_t flags) {
  const ColumnType type = ColumnType(type_code);
  uint8_t impossible = 0;
  if (type != ColumnType::kLong && type != ColumnType::kGuid && type != ColumnType::kNumeric &&
      type != ColumnType::kBigInt && type != ColumnType::kComplex)
    impossible |= flags & kColumnAutoNumber;
  if (type != ColumnType::kMemo) impossible |= flags & kColumnHyperlink;
  impossible |= ~flags & kColumnAlwaysSet;
  return impossible;
}

std::string ImpossibleColumnRecord(const Format& format, const ColumnDef& column) {
  const ColumnType type = column.type();
  if (!FormatHasColumnType(format, column.type_code)) return "its type " + ColumnTypeName(column.type_code) + " is no column type of the format";
  if (CutShortRecord(column)) return "its record is cut short (flags, fixed offset and size all zero)";
  if (ImpossibleColumnFlags(column.type_code, column.flags) != 0)
    return "its flags are ones no " + ColumnTypeName(column.type_code) + " column has";
  // Access stores some fixed-size types as variable (system tables do); a fixed one
  // takes its type's size.
  if (column.is_fixed() && FixedColumnSize(type) != 0 && column.length != FixedColumnSize(type))
    return "its size " + std::to_string(column.length) + " is not its type's";
  if (FixedBytesPastAnyRow(format, column))
    return "its fixed bytes, at " + std::to_string(column.fixed_offset) + ", lie past any row";
  return "";
}

bool PlausibleColumnName(const std::string& name) {
  size_t characters = 0;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return false;
    if ((c & 0xC0) != 0x80) ++characters;
  }
  return characters >= 1 && characters <= 64;
}

const ColumnDef* UnallowedColumnName(const TableDef& table) {
  std::set<std::string> names;
  for (const ColumnDef& column : table.columns)
    if (!PlausibleColumnName(column.name) || !names.insert(AsciiLower(column.name)).second) return &column;
  return nullptr;
}

namespace {

// Appends `name` (ASCII) as a stored name of format `f` to the buffer; its offset.
size_t AppendStoredName(const Format& f, const std::string& name, std::vector<uint8_t>* buffer) {
  const size_t at = buffer->size();
  const bool wide = !IsJet3(f.version);
  const size_t bytes = name.size() * (wide ? 2 : 1);
  buffer->push_back(uint8_t(bytes & 0xFF));
  if (f.name_length_size == 2) buffer->push_back(uint8_t(bytes >> 8));
  for (char c : name) {
    buffer->push_back(uint8_t(c));
    if (wide) buffer->push_back(0);
  }
  return at;
}

// True when most of `count` column names, from `at`, read as names Access allows,
// each given once (a flipped byte may have hit one or two).
bool NamesMostlyRead(const Format& f, uint16_t code_page, ByteReader& r, size_t at, uint32_t count) {
  std::set<std::string> names;
  uint32_t plausible = 0;
  for (uint32_t i = 0; i < count; ++i) {
    std::string name;
    if (!ReadName(f, code_page, r, &at, &name)) break;
    plausible += PlausibleColumnName(name) && names.insert(AsciiLower(name)).second;
  }
  return 2 * plausible > count;
}

// True when the `count` names from `at` each read as a name Access allows, none
// given before (`names`) or twice.
bool NamesReadWhole(const Format& f, uint16_t code_page, ByteReader& r, size_t at, size_t count,
                    std::set<std::string> names) {
  for (size_t i = 0; i < count; ++i) {
    std::string name;
    if (!ReadName(f, code_page, r, &at, &name) || !PlausibleColumnName(name) || !names.insert(AsciiLower(name)).second)
      return false;
  }
  return true;
}

// Where the name after a lost one at `at` starts, so that the `rest` names after it
// keep theirs; 0 when that is not known. The stated length is taken where those
// names then read whole (the bytes of the name were hit, not its length). Otherwise
// its length was hit, and the start is the one length a name can have with which
// they do; more than one fitting, or fewer than two names to show it, is no evidence.
size_t NextNameAfterLost(const Format& f, uint16_t code_page, ByteReader& r, size_t at, size_t rest,
                         const std::set<std::string>& names) {
  size_t stated_end = at;
  std::string ignored;
  if (ReadName(f, code_page, r, &stated_end, &ignored) && NamesReadWhole(f, code_page, r, stated_end, rest, names))
    return stated_end;
  if (rest < 2) return 0;
  const size_t unit = IsJet3(f.version) ? 1 : 2;
  size_t found = 0;
  for (size_t length = unit; length <= 64 * 2; length += unit) {
    const size_t next = at + f.name_length_size + length;
    if (next == stated_end || !NamesReadWhole(f, code_page, r, next, rest, names)) continue;
    if (found != 0) return 0;
    found = next;
  }
  return found;
}

}  // namespace

Status ReadTableDefColumns(PageFile& file, uint32_t first_page, ColumnsOnly* out) {
  *out = ColumnsOnly();
  TableDef* table = &out->table;
  table->first_page = first_page;
  if (first_page == 0) return Damaged(first_page, "page 0 cannot hold a table definition");
  Status s = LoadChain(file, first_page, table);
  if (!s.ok()) return s;
  const Format& f = file.format();
  ByteReader r(table->buffer.data(), table->buffer.size());
  table->row_count = r.U32(f.tdef_row_count);
  table->last_autonumber = r.U32(f.tdef_autonumber);
  table->table_type = r.U8(f.tdef_table_type);
  table->owned_map = r.U32(f.tdef_owned_map);
  table->free_map = r.U32(f.tdef_free_map);
  uint32_t column_count = CountWithoutFlippedByte(r.U16(f.tdef_column_count), kMaxRowColumns);
  const uint32_t real_count = CountWithoutFlippedByte(r.U32(f.tdef_real_indexes), kMaxTableIndexes);
  out->stated_max_columns = std::min<uint16_t>(r.U16(f.tdef_max_columns), kMaxRowColumns);
  out->stated_var_columns = std::min<uint16_t>(r.U16(f.tdef_var_columns), kMaxRowColumns);
  size_t at = f.tdef_header_end + size_t(real_count) * f.real_index_stat_size;
  // Column numbers are below the header's count of them, so a larger column count is
  // damaged where the names follow that many records and not the stated count's:
  // the records past it would be whatever bytes follow.
  const uint16_t code_page = TextCodePage(file.header());
  if (column_count > out->stated_max_columns && out->stated_max_columns > 0 &&
      NamesMostlyRead(f, code_page, r, at + size_t(out->stated_max_columns) * f.column_def_size,
                      out->stated_max_columns) &&
      !NamesMostlyRead(f, code_page, r, at + size_t(column_count) * f.column_def_size, column_count)) {
    out->named.push_back("the column count " + std::to_string(column_count) + " is past the header's " +
                         std::to_string(out->stated_max_columns) + " column numbers, whose names follow as many " +
                         "records; taken as " + std::to_string(out->stated_max_columns));
    column_count = out->stated_max_columns;
  }
  if (r.failed() || column_count == 0 || at + size_t(column_count) * f.column_def_size > table->buffer.size())
    return Damaged(first_page, "the column records cannot be located");
  std::vector<ColumnDef> columns(column_count);
  for (ColumnDef& column : columns) {
    DecodeColumn(f, r, at, &column);
    at += f.column_def_size;
  }
  // A lost name is given one from its position. The names after it keep theirs
  // where they can be found; otherwise they are lost too.
  std::set<std::string> names;
  bool rest_lost = false;
  std::vector<size_t> lost;  // positions (from 1) of names given
  size_t lost_from = 0;      // position of the first name lost with all after it
  for (size_t i = 0; i < columns.size(); ++i) {
    ColumnDef& column = columns[i];
    const size_t name_at = at;
    if (!rest_lost && ReadName(f, code_page, r, &at, &column.name) && PlausibleColumnName(column.name) &&
        names.insert(AsciiLower(column.name)).second) {
      column.name_offset = name_at;
      continue;
    }
    if (!rest_lost) {
      at = NextNameAfterLost(f, code_page, r, name_at, columns.size() - i - 1, names);
      rest_lost = at == 0 && i + 1 < columns.size();
      if (rest_lost) lost_from = i + 1;
    }
    std::string given = "Column_" + std::to_string(i + 1);
    while (!names.insert(AsciiLower(given)).second) given += "_";
    column.name = given;
    column.name_offset = 0;
    lost.push_back(i + 1);
  }
  if (lost_from != 0) {
    const std::string& first = columns[lost_from - 1].name;
    const std::string& last = columns.back().name;
    out->named.push_back("the column names from position " + std::to_string(lost_from) +
                         " on are lost (a stored name is cut short or is no name Access allows); the columns are named " +
                         (first == last ? first : first + " to " + last));
  }
  for (size_t position : lost)
    if (lost_from == 0 || position < lost_from)
      out->named.push_back("the name of column " + std::to_string(position) +
                           " is lost (it is no name Access allows); it is named " +
                           columns[position - 1].name);
  for (ColumnDef& column : columns)
    if (!lost.empty() && column.name_offset == 0) column.name_offset = AppendStoredName(f, column.name, &table->buffer);
  std::vector<TableDefMend> record_mends;
  MendColumnFlags(f, out->stated_var_columns, &columns, &record_mends);
  MendFlippedNumbers(f, &columns, &record_mends);  // before the offsets, which go by number
  MendFixedOffsets(f, &columns, &record_mends);
  for (const TableDefMend& mend : record_mends) {
    if (mend.width == 1) table->buffer[mend.offset] = uint8_t(mend.value);
    else StoreLe16(table->buffer.data() + mend.offset, uint16_t(mend.value));
    out->named.push_back(mend.what);
  }
  // The header's counts are trusted where they can hold every column; a number or
  // variable index past them, or used twice, is a damaged field.
  const uint16_t numbers_limit = out->stated_max_columns >= column_count ? out->stated_max_columns : kMaxRowColumns;
  uint16_t var_limit = kMaxRowColumns;
  {
    uint16_t var_columns = 0;
    for (const ColumnDef& column : columns)
      if (column.is_variable()) ++var_columns;
    if (out->stated_var_columns >= var_columns) var_limit = out->stated_var_columns;
  }
  // Fixed bytes claimed so far, to find overlaps; numbers and variable indexes used.
  std::vector<std::pair<uint32_t, uint32_t>> fixed;
  // A record that is no column (a zeroed one) is left out below, so its number and
  // variable index collide with nothing.
  std::map<uint16_t, size_t> numbers_used, var_used;  // -> count
  for (const ColumnDef& column : columns) {
    if (NoColumnRecord(f, column)) continue;
    ++numbers_used[column.number];
    if (column.is_variable()) ++var_used[column.var_index];
  }
  for (ColumnDef& column : columns) {
    const ColumnType type = column.type();
    const bool stored_fixed = column.in_fixed_area();
    const bool variable = column.is_variable();
    std::string why = ImpossibleColumnRecord(f, column);
    if (stored_fixed && FixedColumnSize(type) != 0 && column.length != FixedColumnSize(type) &&
        Jet3HasType(type)) {
      // A fixed column's size is its type's: the stored size alone is damaged.
      column.length = FixedColumnSize(type);
      StoreLe16(table->buffer.data() + column.def_offset + ColumnLengthOffset(f), column.length);
      why.clear();
    }
    const uint32_t fixed_end = uint32_t(column.fixed_offset) + column.length;
    if (why.empty() && stored_fixed && std::any_of(fixed.begin(), fixed.end(), [&](const auto& other) {
          return column.fixed_offset < other.second && other.first < fixed_end;
        })) {
      why = "its fixed bytes overlap another column's";
      out->overlap = true;
    }
    if (!why.empty()) {
      out->dropped.push_back("column \"" + column.name + "\" (number " + std::to_string(column.number) + "): " + why);
      continue;
    }
    if (stored_fixed) fixed.emplace_back(column.fixed_offset, fixed_end);
    if (column.number >= numbers_limit || numbers_used[column.number] > 1 ||
        (variable && (column.var_index >= var_limit || var_used[column.var_index] > 1))) {
      out->misplaced.push_back(std::move(column));
      continue;
    }
    table->max_columns = std::max<uint16_t>(table->max_columns, uint16_t(column.number + 1));
    if (variable) table->var_columns = std::max<uint16_t>(table->var_columns, uint16_t(column.var_index + 1));
    table->columns.push_back(std::move(column));
  }
  if (table->columns.empty() && out->misplaced.empty()) return Damaged(first_page, "no column record is one an engine writes");
  // A code page no converter knows would make every value of its column undecodable.
  std::vector<TableDefMend> code_pages;
  MendColumnCodePages(f, TextCodePage(file.header()), table, &code_pages);
  for (const TableDefMend& mend : code_pages) {
    StoreLe16(table->buffer.data() + mend.offset, uint16_t(mend.value));
    out->named.push_back(mend.what);
  }
  // What a row carries stays as the header says where it says more: rows hold the
  // offsets and null bits of every column they were written with.
  table->max_columns = std::max(table->max_columns, out->stated_max_columns);
  table->var_columns = std::max(table->var_columns, out->stated_var_columns);
  return Status::Ok();
}

namespace {

// A mend is worth making only when the rest of the definition is sound: the damage
// that hit one field often hit its neighbours, and a definition with a second,
// unmendable fault is no better than none.
Status SoundOnceMended(PageFile& file, uint32_t first_page, const TableDef* table) {
  std::set<uint16_t> numbers;
  std::vector<std::pair<uint32_t, uint32_t>> fixed;
  for (const ColumnDef& c : table->columns) {
    if (!numbers.insert(c.number).second) return Damaged(first_page, "column number " + std::to_string(c.number) + " is used twice");
    if (c.in_fixed_area()) fixed.emplace_back(c.fixed_offset, uint32_t(c.fixed_offset) + c.length);
  }
  std::sort(fixed.begin(), fixed.end());
  for (size_t i = 1; i < fixed.size(); ++i)
    if (fixed[i].first < fixed[i - 1].second) return Damaged(first_page, "fixed columns overlap");
  for (const RealIndex& index : table->real_indexes) {
    for (const IndexColumn& ic : index.columns)
      if (table->FindColumnByNumber(ic.column_number) < 0)
        return Damaged(first_page, "an index names column number " + std::to_string(ic.column_number));
    if (index.def_offset + RealIndexRootPageOffset(file.format()) + 4 > table->tdef_length)
      return Damaged(first_page, "index definitions run past the stated length");
  }
  for (const LogicalIndex& index : table->logical_indexes)
    if (index.def_offset + 4 > table->tdef_length) return Damaged(first_page, "index definitions run past the stated length");
  for (const LongValueMaps& maps : table->long_value_maps)
    if (maps.def_offset + 10 > table->tdef_length) return Damaged(first_page, "long-value maps run past the stated length");
  return Status::Ok();
}

// Column numbers are unique and below the header's count of them, so a column count
// above that count is damaged. The count it had is the one value up to there with
// which the whole definition reads as Access writes one: every column record one an
// engine writes, every name one Access allows and given once, and what follows
// within the stated length. A wrong count shifts every record and name after the
// columns, so that more than one such value is not expected; then nothing is mended.
Status MendColumnCount(PageFile& file, uint32_t first_page, TableDef* table, std::vector<TableDefMend>* mends) {
  const Format& f = file.format();
  // The chain, loaded once: each candidate is decoded from a copy of it.
  TableDef loaded;
  loaded.first_page = first_page;
  if (Status s = LoadChain(file, first_page, &loaded); !s.ok()) return s;
  if (loaded.buffer.size() < f.tdef_header_end) return Damaged(first_page, "header block is cut short");
  const uint32_t stored = LoadLe16(loaded.buffer.data() + f.tdef_column_count);
  const uint32_t numbers = std::min<uint32_t>(LoadLe16(loaded.buffer.data() + f.tdef_max_columns), kMaxRowColumns);
  if (stored <= numbers) return Damaged(first_page, "the column count is within the column numbers");
  TableDef found;
  std::vector<TableDefMend> found_mends;
  uint32_t fits = 0, count = 0;
  for (uint32_t candidate = 1; candidate <= numbers && fits < 2; ++candidate) {
    TableDef read = loaded;
    std::vector<TableDefMend> read_mends;
    if (!DecodeTableDef(file, &read, 0, &read_mends, candidate).ok() ||
        !SoundOnceMended(file, first_page, &read).ok())
      continue;
    const bool whole = UnallowedColumnName(read) == nullptr &&
                       std::all_of(read.columns.begin(), read.columns.end(),
                                   [&](const ColumnDef& c) { return ImpossibleColumnRecord(f, c).empty(); });
    if (!whole) continue;
    ++fits;
    count = candidate;
    found = std::move(read);
    found_mends = std::move(read_mends);
  }
  if (fits != 1) return Damaged(first_page, "no one column count reads the definition whole");
  *table = std::move(found);
  *mends = std::move(found_mends);
  mends->insert(mends->begin(), {f.tdef_column_count, 2, count,
                                 "the column count " + std::to_string(stored) + " is above the column numbers (" +
                                     std::to_string(numbers) + "); set to " + std::to_string(count) +
                                     ", the one count with which the definition reads whole"});
  return Status::Ok();
}

}  // namespace

Status ReadTableDefMending(PageFile& file, uint32_t first_page, TableDef* table, std::vector<TableDefMend>* mends) {
  mends->clear();
  Status s = ParseTableDef(file, first_page, table, 0, mends);
  if (!s.ok()) {
    if (!MendColumnCount(file, first_page, table, mends).ok()) return s;
    s = Status::Ok();
  }
  if (mends->empty()) return s;
  return SoundOnceMended(file, first_page, table);
}

}  // namespace jet
