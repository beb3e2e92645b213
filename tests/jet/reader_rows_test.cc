// The row layer on hand-built bytes: data-page slots, the Jet 4 trailer, the Jet 3 jump
// table, columns added or deleted after a row was written, compressed text through the
// row decoder, and overflow rows through the table scan.
#include <gtest/gtest.h>

#include "jet/file/data_page.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "tests/jet/reader_synthetic.h"

namespace {

using namespace reader_test;
using jet::ColumnDef;
using jet::ColumnType;
using jet::RawColumn;
using jet::TableDef;

ColumnDef Column(const char* name, ColumnType type, uint16_t number, bool fixed, uint16_t var_index,
                 uint16_t fixed_offset, uint16_t length) {
  ColumnDef c;
  c.name = name;
  c.type_code = static_cast<uint8_t>(type);
  c.number = number;
  c.flags = fixed ? jet::kColumnFixed : 0;
  c.var_index = var_index;
  c.fixed_offset = fixed_offset;
  c.length = length;
  return c;
}

std::string Slice(const Bytes& row, const RawColumn& raw) {
  return std::string(row.begin() + raw.offset, row.begin() + raw.offset + raw.size);
}

TEST(ReaderDataPageTest, SlotsFlagsAndExtents) {
  SyntheticFile f(jet::Version::kJet4, 2);
  f.SetDataPage(1, 7, {{B("first"), 0}, {{}, jet::kSlotDeleted | jet::kSlotOverflow}, {B("ptr!"), jet::kSlotOverflow}});
  jet::DataPageHeader h;
  ASSERT_TRUE(jet::ParseDataPage(f.format(), f.page(1), &h).ok());
  EXPECT_EQ(h.owner, 7u);
  EXPECT_EQ(h.row_count, 3);
  EXPECT_TRUE(h.free_space_matches);
  jet::RowSlot s0, s1, s2;
  ASSERT_TRUE(jet::GetRowSlot(f.format(), f.page(1), h, 0, &s0).ok());
  ASSERT_TRUE(jet::GetRowSlot(f.format(), f.page(1), h, 1, &s1).ok());
  ASSERT_TRUE(jet::GetRowSlot(f.format(), f.page(1), h, 2, &s2).ok());
  EXPECT_EQ(s0.end, 4096);
  EXPECT_EQ(s0.size(), 5u);
  EXPECT_FALSE(s0.deleted);
  EXPECT_TRUE(s1.deleted);
  EXPECT_EQ(s1.size(), 0u);
  EXPECT_TRUE(s2.overflow);
  EXPECT_FALSE(s2.deleted);
  EXPECT_EQ(s2.size(), 4u);
  EXPECT_FALSE(jet::GetRowSlot(f.format(), f.page(1), h, 3, &s0).ok());

  // A wrong free-space value is reported, not an error.
  jet::StoreLe16(f.page(1) + 2, 100);
  ASSERT_TRUE(jet::ParseDataPage(f.format(), f.page(1), &h).ok());
  EXPECT_FALSE(h.free_space_matches);

  // A live row starting inside the slot table is damage; a deleted one is just empty.
  jet::StoreLe16(f.page(1) + 14 + 4, 16 | jet::kSlotOverflow);
  EXPECT_EQ(jet::GetRowSlot(f.format(), f.page(1), h, 2, &s2).kind(), jet::ErrorKind::kDamaged);
  jet::StoreLe16(f.page(1) + 14 + 4, 16 | jet::kSlotDeleted);
  ASSERT_TRUE(jet::GetRowSlot(f.format(), f.page(1), h, 2, &s2).ok());
  EXPECT_EQ(s2.size(), 0u);

  // A slot table that does not fit on the page.
  jet::StoreLe16(f.page(1) + 12, 3000);
  EXPECT_EQ(jet::ParseDataPage(f.format(), f.page(1), &h).kind(), jet::ErrorKind::kDamaged);
}

// Jet 4 table: Id (Long, fixed), Name (Text, var 0), Flag (Boolean), [deleted column
// with var index 1], Note (Text, var 2), Later (Long, column number 5, added after the
// rows were written).
TableDef Jet4Table() {
  TableDef t;
  t.first_page = 2;
  t.max_columns = 6;
  t.var_columns = 3;
  t.columns.push_back(Column("Id", ColumnType::kLong, 0, true, 0, 0, 4));
  t.columns.push_back(Column("Name", ColumnType::kText, 1, false, 0, 0, 100));
  t.columns.push_back(Column("Flag", ColumnType::kBoolean, 2, true, 0, 0, 0));
  t.columns.push_back(Column("Note", ColumnType::kText, 4, false, 2, 0, 100));
  t.columns.push_back(Column("Later", ColumnType::kLong, 5, true, 0, 4, 4));
  return t;
}

// [count 5][Id][Name: FF FE "hi" 00 "\u0416"][deleted var: "zz"][Note: "ok" UTF-16]
// then EOD, offsets 2..0, var count 3, null mask.
Bytes Jet4Row(uint8_t mask) {
  Bytes name = {0xFF, 0xFE, 'h', 'i', 0x00, 0x16, 0x04};  // compressed "hi", then U+0416
  Bytes row = Cat({Le16(5), Le32(42), name, B("zz"), {'o', 0, 'k', 0}});
  const uint16_t name_at = 6, deleted_at = 13, note_at = 15, end = 19;
  return Cat({row, Le16(end), Le16(note_at), Le16(deleted_at), Le16(name_at), Le16(3), {mask}});
}

TEST(ReaderRowTest, Jet4TrailerNullMaskAndAddedColumns) {
  const TableDef t = Jet4Table();
  const jet::Format& format = jet::FormatFor(jet::Version::kJet4);
  const Bytes row = Jet4Row(0x17);  // columns 0, 1, 2, 4 present; 3 (deleted) clear
  std::vector<RawColumn> raw;
  ASSERT_TRUE(jet::CrackRow(format, t, row.data(), row.size(), &raw).ok());
  ASSERT_EQ(raw.size(), 5u);
  EXPECT_EQ(Slice(row, raw[0]), std::string("\x2A\0\0\0", 4));
  EXPECT_EQ(raw[1].offset, 6u);
  EXPECT_EQ(raw[1].size, 7u);
  EXPECT_FALSE(raw[2].is_null);
  EXPECT_TRUE(raw[2].bit);
  EXPECT_EQ(Slice(row, raw[3]), std::string("o\0k\0", 4));
  EXPECT_TRUE(raw[4].is_null);  // column number 5 >= the row's 5 columns

  SyntheticFile f(jet::Version::kJet4, 3);
  auto file = f.Open();
  ASSERT_NE(file, nullptr);
  jet::RowDecoder decoder(*file, t);
  std::vector<jet::Value> values;
  ASSERT_TRUE(decoder.Decode(row.data(), row.size(), &values).ok());
  EXPECT_EQ(values[0].integer(), 42);
  EXPECT_EQ(values[1].text(), "hi\xD0\x96");
  EXPECT_TRUE(values[2].boolean());
  EXPECT_EQ(values[3].text(), "ok");
  EXPECT_TRUE(values[4].is_null());

  // Clear bits: a null text and a false boolean (which is never null).
  const Bytes row2 = Jet4Row(0x11);
  ASSERT_TRUE(decoder.Decode(row2.data(), row2.size(), &values).ok());
  EXPECT_TRUE(values[1].is_null());
  EXPECT_EQ(values[2].type(), jet::ValueType::kBoolean);
  EXPECT_FALSE(values[2].boolean());

  // A var offset past the trailer, and a var count too large for the row.
  Bytes bad = Jet4Row(0x17);
  jet::StoreLe16(bad.data() + bad.size() - 5, 200);  // Name's start offset
  EXPECT_EQ(jet::CrackRow(format, t, bad.data(), bad.size(), &raw).kind(), jet::ErrorKind::kDamaged);
  bad = Jet4Row(0x17);
  jet::StoreLe16(bad.data() + bad.size() - 3, 900);
  EXPECT_EQ(jet::CrackRow(format, t, bad.data(), bad.size(), &raw).kind(), jet::ErrorKind::kDamaged);
  // A fixed column the row is too short for.
  const Bytes tiny = Cat({Le16(5), {0xAB}, Le16(3), Le16(3), Le16(3), Le16(3), Le16(3), {0x01}});
  EXPECT_EQ(jet::CrackRow(format, t, tiny.data(), tiny.size(), &raw).kind(), jet::ErrorKind::kDamaged);
}

TEST(ReaderRowTest, RowsOfATableWithoutVariableColumnsHaveNoTrailer) {
  TableDef t;
  t.max_columns = 2;
  t.columns.push_back(Column("A", ColumnType::kInteger, 0, true, 0, 0, 2));
  t.columns.push_back(Column("B", ColumnType::kByte, 1, true, 0, 2, 1));
  const Bytes row = Cat({Le16(2), Le16(0xFFFE), {7}, {0x03}});
  std::vector<RawColumn> raw;
  ASSERT_TRUE(jet::CrackRow(jet::FormatFor(jet::Version::kJet4), t, row.data(), row.size(), &raw).ok());
  EXPECT_EQ(raw[0].offset, 2u);
  EXPECT_EQ(raw[1].offset, 4u);
  EXPECT_EQ(row[raw[1].offset], 7);
}

// Jet 3 table: Id (Long, fixed), then three var columns.
TableDef Jet3Table() {
  TableDef t;
  t.max_columns = 4;
  t.var_columns = 3;
  t.columns.push_back(Column("Id", ColumnType::kLong, 0, true, 0, 0, 4));
  t.columns.push_back(Column("A", ColumnType::kText, 1, false, 0, 0, 255));
  t.columns.push_back(Column("B", ColumnType::kText, 2, false, 1, 0, 255));
  t.columns.push_back(Column("C", ColumnType::kText, 3, false, 2, 0, 255));
  return t;
}

TEST(ReaderRowTest, Jet3JumpTable) {
  // A = 200 'a' at 5, B = 100 'b' at 205, C = "xyz" at 305, end 308: entries 2 and 3
  // are past 256, so jump[0] = 2. The row is 315 bytes: data, 4 offset low bytes (EOD
  // first), one jump byte, the var count, the null mask.
  const Bytes data = Cat({{4}, Le32(9), Bytes(200, 'a'), Bytes(100, 'b'), B("xyz")});
  const Bytes row = Cat({data, {308 & 0xFF, 305 & 0xFF, 205, 5}, {2}, {3}, {0x0F}});
  ASSERT_EQ(row.size(), 315u);
  std::vector<RawColumn> raw;
  const TableDef t = Jet3Table();
  ASSERT_TRUE(jet::CrackRow(jet::FormatFor(jet::Version::kJet3), t, row.data(), row.size(), &raw).ok());
  EXPECT_EQ(Slice(row, raw[1]), std::string(200, 'a'));
  EXPECT_EQ(Slice(row, raw[2]), std::string(100, 'b'));
  EXPECT_EQ(Slice(row, raw[3]), "xyz");

  // A 257-byte row whose data ends before 256: its one jump byte is a dummy, to be
  // ignored whatever its value (mdbtools writes 0xFF; 1 would wrongly lift B and C).
  const Bytes small = Cat({{4}, Le32(9), Bytes(200, 'a'), Bytes(40, 'b'), Bytes(5, 'c')});  // ends at 250
  const Bytes row2 = Cat({small, {250, 245, 205, 5}, {0x01}, {3}, {0x0F}});
  ASSERT_EQ(row2.size(), 257u);
  ASSERT_TRUE(jet::CrackRow(jet::FormatFor(jet::Version::kJet3), t, row2.data(), row2.size(), &raw).ok());
  EXPECT_EQ(Slice(row2, raw[2]), std::string(40, 'b'));
  EXPECT_EQ(Slice(row2, raw[3]), std::string(5, 'c'));
}

TEST(ReaderRowTest, Jet3TextUsesTheCodePage) {
  TableDef t = Jet3Table();
  t.columns[1].code_page = 1252;
  const Bytes row = Cat({{4}, Le32(1), {0xE4, 'x'}, {7, 7, 7, 5}, {3}, {0x03}});
  SyntheticFile f(jet::Version::kJet3, 3, 1252);
  auto file = f.Open();
  ASSERT_NE(file, nullptr);
  jet::RowDecoder decoder(*file, t);
  std::vector<jet::Value> values;
  ASSERT_TRUE(decoder.Decode(row.data(), row.size(), &values).ok());
  EXPECT_EQ(values[1].text(), "\xC3\xA4x");  // "äx"
  EXPECT_TRUE(values[2].is_null());
}

TEST(ReaderRowTest, FixedValuesAreExact) {
  TableDef t;
  t.max_columns = 4;
  t.columns.push_back(Column("Money", ColumnType::kCurrency, 0, true, 0, 0, 8));
  t.columns.push_back(Column("When", ColumnType::kDateTime, 1, true, 0, 8, 8));
  t.columns.push_back(Column("Dec", ColumnType::kNumeric, 2, true, 0, 16, 17));
  t.columns.push_back(Column("Guid", ColumnType::kGuid, 3, true, 0, 33, 16));
  t.columns[2].precision = 18;
  t.columns[2].scale = 2;
  Bytes when(8);
  jet::StoreLeDouble(when.data(), 36526.5);
  // -12345.67 at scale 2: magnitude 1234567 in the last (least significant) word.
  const Bytes numeric = Cat({{0x80}, Le32(0), Le32(0), Le32(0), Le32(1234567)});
  Bytes guid(16);
  for (int i = 0; i < 16; ++i) guid[i] = uint8_t(i);
  const Bytes row = Cat({Le16(4), Le32(0xFFFFFFFF), Le32(0x7FFFFFFF), when, numeric, guid, {0x0F}});
  SyntheticFile f(jet::Version::kJet4, 3);
  auto file = f.Open();
  jet::RowDecoder decoder(*file, t);
  std::vector<jet::Value> values;
  ASSERT_TRUE(decoder.Decode(row.data(), row.size(), &values).ok());
  EXPECT_EQ(values[0].integer(), INT64_MAX);
  EXPECT_EQ(values[1].type(), jet::ValueType::kDateTime);
  EXPECT_EQ(values[1].real(), 36526.5);
  EXPECT_TRUE(values[2].numeric().negative);
  EXPECT_EQ(values[2].numeric().low, 1234567u);
  EXPECT_EQ(values[2].numeric().high, 0u);
  EXPECT_EQ(values[2].numeric().scale, 2);
  EXPECT_EQ(values[3].bytes(), guid);
}

// Table 2's rows on pages 3 and 4, its owned-pages map at 1:1 (beside the global free
// map, which marks nothing free): row 3:0 is an overflow pointer to 4:0, 3:1 is
// deleted, 3:2 is an ordinary row.
SyntheticFile OverflowFile() {
  SyntheticFile f(jet::Version::kJet4, 6);
  const Bytes map = Cat({{0x00}, Le32(0), {0x18}});  // pages 3 and 4
  f.SetDataPage(1, 0, {{Cat({{0x00}, Le32(0), {0x00}}), 0}, {map, 0}});
  f.SetDataPage(3, 2, {{Le32(4u << 8 | 0), jet::kSlotOverflow},
                       {B("gone"), jet::kSlotDeleted},
                       {B("plain"), 0}});
  f.SetDataPage(4, 2, {{B("moved row"), jet::kSlotDeleted}});
  return f;
}

TEST(ReaderScanTest, OverflowRowsAreFollowedAndDeletedSlotsSkipped) {
  SyntheticFile f = OverflowFile();
  auto file = f.Open();
  ASSERT_NE(file, nullptr);
  TableDef t;
  t.first_page = 2;
  t.owned_map = 1u << 8 | 1;
  jet::TableScanner scanner(*file, t);
  std::vector<std::pair<jet::RowId, std::string>> rows;
  std::vector<std::string> notes;
  auto collect = [&](const jet::RowId& id, const uint8_t* bytes, size_t size) {
    rows.emplace_back(id, std::string(bytes, bytes + size));
    return true;
  };
  ASSERT_TRUE(scanner.Scan(collect, &notes).ok());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].first, (jet::RowId{3, 0}));
  EXPECT_EQ(rows[0].second, "moved row");
  EXPECT_EQ(rows[1].first, (jet::RowId{3, 2}));
  EXPECT_EQ(rows[1].second, "plain");
  EXPECT_TRUE(notes.empty());

  // Without a readable map the scan finds the same pages by their owner field.
  t.owned_map = 5u << 8;  // page 5 is all zeros
  rows.clear();
  ASSERT_TRUE(scanner.Scan(collect, &notes).ok());
  EXPECT_EQ(rows.size(), 2u);
  EXPECT_EQ(notes.size(), 1u);
  // ... but for a page the global free map marks free: it was given back.
  f.page(1)[4096 - 1] = 0x08;  // page 3
  rows.clear();
  ASSERT_TRUE(scanner.Scan(collect, &notes).ok());
  EXPECT_EQ(rows.size(), 0u);
  f.page(1)[4096 - 1] = 0x00;

  // A map that also claims a page holding something else: skipped, with one note.
  f.page(1)[4096 - 6 - 1] = 0x38;  // pages 3, 4, 5
  t.owned_map = 1u << 8 | 1;
  rows.clear();
  notes.clear();
  ASSERT_TRUE(scanner.Scan(collect, &notes).ok());
  EXPECT_EQ(rows.size(), 2u);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("first: page 5"), std::string::npos) << notes[0];

  // An overflow pointer past the end of the file, or at another table's page.
  jet::StoreLe32(f.page(3) + 4096 - 4, 77u << 8);
  EXPECT_EQ(scanner.Scan(collect, &notes).kind(), jet::ErrorKind::kDamaged);
  jet::StoreLe32(f.page(3) + 4096 - 4, 1u << 8);
  EXPECT_EQ(scanner.Scan(collect, &notes).kind(), jet::ErrorKind::kDamaged);
  // An overflow row pointing at itself is a chain that never ends.
  jet::StoreLe32(f.page(3) + 4096 - 4, 3u << 8);
  EXPECT_EQ(scanner.Scan(collect, &notes).kind(), jet::ErrorKind::kDamaged);
}

}  // namespace
