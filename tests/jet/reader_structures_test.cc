// Long values, usage maps, index pages and table-definition chains on hand-built
// pages: every storage form, and every kind of broken pointer or cycle.
#include <gtest/gtest.h>

#include "jet/file/data_page.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/read/table_def.h"
#include "jet/file/usage_map.h"
#include "tests/jet/reader_synthetic.h"

namespace {

using namespace reader_test;

uint32_t Ptr(uint32_t page, uint8_t row) { return page << 8 | row; }

Bytes LongValueField(uint32_t length, uint8_t kind, uint32_t pointer, const Bytes& inline_data = {}) {
  return Cat({Le32(length | uint32_t(kind) << 24), Le32(pointer), Le32(0), inline_data});
}

// Page 3 is an LVAL page: 0 "hello world" (single row); 1 -> 2 a chain "abc" + "defg";
// 3 a chain row pointing at itself. Page 4 is an ordinary data page.
SyntheticFile LongValueFile() {
  SyntheticFile f(jet::Version::kJet4, 6);
  f.SetDataPage(3, jet::kLongValueOwner,
                {{B("hello world"), 0},
                 {Cat({Le32(Ptr(3, 2)), B("abc")}), 0},
                 {Cat({Le32(0), B("defg")}), 0},
                 {Cat({Le32(Ptr(3, 3)), B("xx")}), 0}});
  f.SetDataPage(4, 2, {{Cat({Le32(0), B("data")}), 0}});
  return f;
}

std::string Str(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(ReaderLongValueTest, AllThreeKinds) {
  SyntheticFile f = LongValueFile();
  auto file = f.Open();
  ASSERT_NE(file, nullptr);
  jet::LongValueReader reader(*file);
  Bytes out;
  std::vector<jet::RowId> rows;

  Bytes field = LongValueField(5, jet::kLongValueInline, 0, B("12345"));
  ASSERT_TRUE(reader.Read(field.data(), field.size(), &out).ok());
  EXPECT_EQ(Str(out), "12345");

  field = LongValueField(11, jet::kLongValueSingle, Ptr(3, 0));
  ASSERT_TRUE(reader.Read(field.data(), field.size(), &out, &rows).ok());
  EXPECT_EQ(Str(out), "hello world");
  EXPECT_EQ(rows, (std::vector<jet::RowId>{{3, 0}}));

  field = LongValueField(7, jet::kLongValueChain, Ptr(3, 1));
  ASSERT_TRUE(reader.Read(field.data(), field.size(), &out, &rows).ok());
  EXPECT_EQ(Str(out), "abcdefg");
  EXPECT_EQ(rows, (std::vector<jet::RowId>{{3, 1}, {3, 2}}));
}

TEST(ReaderLongValueTest, BrokenChainsKeepWhatWasRead) {
  SyntheticFile f = LongValueFile();
  auto file = f.Open();
  jet::LongValueReader reader(*file);
  Bytes out;

  // The chain ends before the stated length.
  Bytes field = LongValueField(10, jet::kLongValueChain, Ptr(3, 1));
  jet::Status s = reader.Read(field.data(), field.size(), &out);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
  EXPECT_NE(s.detail().find("after 7 of 10 bytes"), std::string::npos) << s.detail();
  EXPECT_EQ(Str(out), "abcdefg");

  // A row that points at itself.
  field = LongValueField(1000, jet::kLongValueChain, Ptr(3, 3));
  s = reader.Read(field.data(), field.size(), &out);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
  EXPECT_NE(s.detail().find("loops"), std::string::npos) << s.detail();
  EXPECT_EQ(Str(out), "xx");

  // Past the end of the file, on a page that is not an LVAL page, a deleted/missing row.
  for (uint32_t pointer : {Ptr(50, 0), Ptr(4, 0), Ptr(3, 9), Ptr(0, 0)}) {
    field = LongValueField(4, jet::kLongValueSingle, pointer);
    EXPECT_EQ(reader.Read(field.data(), field.size(), &out).kind(), jet::ErrorKind::kDamaged) << pointer;
  }
  // Longer than the file, an inline value cut short, a header cut short.
  field = LongValueField(0x3FFFFFFF, jet::kLongValueChain, Ptr(3, 1));
  EXPECT_EQ(reader.Read(field.data(), field.size(), &out).kind(), jet::ErrorKind::kDamaged);
  field = LongValueField(20, jet::kLongValueInline, 0, B("12345"));
  EXPECT_EQ(reader.Read(field.data(), field.size(), &out).kind(), jet::ErrorKind::kDamaged);
  EXPECT_EQ(Str(out), "12345");
  EXPECT_EQ(reader.Read(field.data(), 11, &out).kind(), jet::ErrorKind::kDamaged);
}

TEST(ReaderUsageMapTest, InlineMap) {
  SyntheticFile f(jet::Version::kJet4, 10);
  auto file = f.Open();
  jet::UsageMap map;
  const Bytes row = Cat({{0x00}, Le32(8), {0x81, 0x01}});  // pages 8, 15, 16
  ASSERT_TRUE(jet::DecodeUsageMap(*file, row.data(), row.size(), &map).ok());
  EXPECT_EQ(map.pages, (std::vector<uint32_t>{8}));
  EXPECT_EQ(map.pages_past_end, 2u);
  // A start page near 2^32 must not wrap around to small page numbers.
  const Bytes high = Cat({{0x00}, Le32(0xFFFFFFF8), {0x00, 0xFF}});
  ASSERT_TRUE(jet::DecodeUsageMap(*file, high.data(), high.size(), &map).ok());
  EXPECT_TRUE(map.pages.empty());
  EXPECT_EQ(map.pages_past_end, 8u);
  const Bytes short_row = {0x00, 1, 0};
  EXPECT_EQ(jet::DecodeUsageMap(*file, short_row.data(), short_row.size(), &map).kind(), jet::ErrorKind::kDamaged);
}

TEST(ReaderUsageMapTest, ReferenceMapThroughBitmapPages) {
  for (jet::Version v : {jet::Version::kJet3, jet::Version::kJet4}) {
    SyntheticFile f(v, 8);
    // Bitmap page 4 covers pages from 0: bits 1, 3, 6.
    uint8_t* bitmap = f.page(4);
    bitmap[0] = jet::kPageUsageBitmap;
    bitmap[1] = 1;
    bitmap[4] = 0x4A;
    // Bitmap page 5 would cover the second range, far past this file's end.
    f.page(5)[0] = jet::kPageUsageBitmap;
    f.page(5)[4] = 0x01;
    const Bytes row = Cat({{0x01}, Le32(4), Le32(5), Le32(0)});
    f.SetDataPage(2, 0, {{row, 0}});
    auto file = f.Open();
    jet::UsageMap map;
    ASSERT_TRUE(jet::ReadUsageMap(*file, Ptr(2, 0), &map).ok());
    EXPECT_EQ(map.type, jet::kUsageMapReference);
    EXPECT_EQ(map.pages, (std::vector<uint32_t>{1, 3, 6}));
    EXPECT_EQ(map.pages_past_end, 1u);

    const Bytes to_data_page = Cat({{0x01}, Le32(2)});
    EXPECT_EQ(jet::DecodeUsageMap(*file, to_data_page.data(), to_data_page.size(), &map).kind(), jet::ErrorKind::kDamaged);
    const Bytes past_end = Cat({{0x01}, Le32(80)});
    EXPECT_EQ(jet::DecodeUsageMap(*file, past_end.data(), past_end.size(), &map).kind(), jet::ErrorKind::kDamaged);
    const Bytes unknown = Cat({{0x02}, Le32(4)});
    EXPECT_EQ(jet::DecodeUsageMap(*file, unknown.data(), unknown.size(), &map).kind(), jet::ErrorKind::kDamaged);
    EXPECT_EQ(jet::ReadUsageMap(*file, Ptr(0, 0), &map).kind(), jet::ErrorKind::kDamaged);
    EXPECT_EQ(jet::ReadUsageMap(*file, Ptr(2, 5), &map).kind(), jet::ErrorKind::kDamaged);
  }
}

// Writes an index page: `stored` are the entries as stored (the first complete, later
// ones without the shared prefix).
void SetIndexPage(SyntheticFile& f, uint32_t n, uint8_t type, uint32_t owner, uint16_t prefix,
                  const std::vector<Bytes>& stored, uint32_t prev, uint32_t next, uint32_t tail) {
  const jet::Format& fm = f.format();
  uint8_t* p = f.page(n);
  std::memset(p, 0, fm.page_size);
  p[0] = type;
  p[1] = 1;
  jet::StoreLe32(p + 4, owner);
  jet::StoreLe32(p + fm.index_prev_page, prev);
  jet::StoreLe32(p + fm.index_next_page, next);
  jet::StoreLe32(p + fm.index_tail_page, tail);
  if (jet::IsJet3(fm.version))
    p[fm.index_prefix_length] = static_cast<uint8_t>(prefix);
  else
    jet::StoreLe16(p + fm.index_prefix_length, prefix);
  p[fm.index_node_flag] = type == jet::kPageIndexNode ? 1 : 0;
  size_t at = 0;
  for (const Bytes& e : stored) {
    std::memcpy(p + fm.index_entries + at, e.data(), e.size());
    at += e.size();
    p[fm.index_bitmap + at / 8] |= uint8_t(1u << (at % 8));
  }
  jet::StoreLe16(p + 2, static_cast<uint16_t>(fm.page_size - fm.index_entries - at));
}

Bytes RowPtr(uint32_t page, uint8_t row) { return {uint8_t(page >> 16), uint8_t(page >> 8), uint8_t(page), row}; }
Bytes Be32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

TEST(ReaderIndexTest, LeafPrefixCompression) {
  for (jet::Version v : {jet::Version::kJet3, jet::Version::kJet4}) {
    SyntheticFile f(v, 4);
    SetIndexPage(f, 3, jet::kPageIndexLeaf, 2, 3,
                 {Cat({{0x7F}, B("abc"), RowPtr(0x010203, 1)}), Cat({B("d"), RowPtr(5, 2)}),
                  Cat({B("e"), RowPtr(6, 0)})},
                 0, 0, 0);
    jet::IndexPage page;
    ASSERT_TRUE(jet::DecodeIndexPage(f.format(), f.page(3), &page).ok());
    ASSERT_EQ(page.entries.size(), 3u);
    EXPECT_EQ(page.entries[0].key, "\x7F" "abc");
    EXPECT_EQ(page.entries[0].row, (jet::RowId{0x010203, 1}));
    EXPECT_EQ(page.entries[1].key, "\x7F" "abd");
    EXPECT_EQ(page.entries[1].row, (jet::RowId{5, 2}));
    EXPECT_EQ(page.entries[2].key, "\x7F" "abe");
    EXPECT_EQ(page.entries[2].row, (jet::RowId{6, 0}));

    // A prefix longer than the first entry, an entry shorter than its pointer.
    SetIndexPage(f, 3, jet::kPageIndexLeaf, 2, 40, {Cat({B("a"), RowPtr(5, 0)})}, 0, 0, 0);
    EXPECT_EQ(jet::DecodeIndexPage(f.format(), f.page(3), &page).kind(), jet::ErrorKind::kDamaged);
    SetIndexPage(f, 3, jet::kPageIndexLeaf, 2, 0, {B("abc")}, 0, 0, 0);
    EXPECT_EQ(jet::DecodeIndexPage(f.format(), f.page(3), &page).kind(), jet::ErrorKind::kDamaged);
    // An entry-end bit past the entry area.
    SetIndexPage(f, 3, jet::kPageIndexLeaf, 2, 0, {}, 0, 0, 0);
    f.page(3)[f.format().index_entries - 1] = 0x80;
    EXPECT_EQ(jet::DecodeIndexPage(f.format(), f.page(3), &page).kind(), jet::ErrorKind::kDamaged);
  }
}

// Root node 3 with one entry (child 4) and the tail child 5; leaves 4 <-> 5.
SyntheticFile IndexTree(jet::Version v) {
  SyntheticFile f(v, 7);
  SetIndexPage(f, 3, jet::kPageIndexNode, 2, 0, {Cat({{0x7F, 'b'}, RowPtr(6, 1), Be32(4)})}, 0, 0, 5);
  SetIndexPage(f, 4, jet::kPageIndexLeaf, 2, 1,
               {Cat({{0x7F, 'a'}, RowPtr(6, 0)}), Cat({{'b'}, RowPtr(6, 1)})}, 0, 5, 0);
  SetIndexPage(f, 5, jet::kPageIndexLeaf, 2, 0, {Cat({{0x7F, 'c'}, RowPtr(6, 2)})}, 4, 0, 0);
  return f;
}

std::string Walk(jet::PageFile& file, uint32_t root, jet::IndexWalkStats* stats, jet::Status* s) {
  std::string keys;
  *s = jet::WalkIndex(file, 2, root,
                      [&](const std::string& key, const jet::RowId& row) {
                        keys += key.substr(1) + std::to_string(row.row);
                        return true;
                      },
                      stats);
  return keys;
}

TEST(ReaderIndexTest, TreeWithTailPage) {
  for (jet::Version v : {jet::Version::kJet3, jet::Version::kJet4}) {
    SyntheticFile f = IndexTree(v);
    auto file = f.Open();
    jet::IndexWalkStats stats;
    jet::Status s;
    EXPECT_EQ(Walk(*file, 3, &stats, &s), "a0b1c2");
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(stats.node_pages, 1u);
    EXPECT_EQ(stats.leaf_pages, 2u);
    EXPECT_EQ(stats.entries, 3u);
    EXPECT_TRUE(stats.sibling_links_consistent);

    // Broken sibling links are reported; the tree order still gives every entry.
    jet::StoreLe32(f.page(5) + f.format().index_prev_page, 0);
    EXPECT_EQ(Walk(*file, 3, &stats, &s), "a0b1c2");
    EXPECT_TRUE(s.ok());
    EXPECT_FALSE(stats.sibling_links_consistent);
  }
}

TEST(ReaderIndexTest, Jet3NodeFlagIsNotPartOfThePrefixLength) {
  // Byte 21 of a Jet 3 node page is 1; read as the high byte of a 2-byte prefix length
  // it would claim a 256-byte prefix.
  SyntheticFile f = IndexTree(jet::Version::kJet3);
  ASSERT_EQ(f.page(3)[21], 1);
  jet::IndexPage page;
  ASSERT_TRUE(jet::DecodeIndexPage(f.format(), f.page(3), &page).ok());
  EXPECT_EQ(page.prefix_length, 0);
  EXPECT_EQ(page.entries.at(0).child, 4u);
}

TEST(ReaderIndexTest, CyclesForeignPagesAndBadPointers) {
  jet::IndexWalkStats stats;
  jet::Status s;
  {
    SyntheticFile f = IndexTree(jet::Version::kJet4);
    jet::StoreLe32(f.page(3) + f.format().index_tail_page, 3);  // the root is its own tail
    auto file = f.Open();
    Walk(*file, 3, &stats, &s);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    EXPECT_NE(s.detail().find("cycle"), std::string::npos);
  }
  {
    SyntheticFile f = IndexTree(jet::Version::kJet4);
    jet::StoreLe32(f.page(4) + 4, 9);  // leaf of another table
    auto file = f.Open();
    Walk(*file, 3, &stats, &s);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
  }
  {
    SyntheticFile f = IndexTree(jet::Version::kJet4);
    jet::StoreLe32(f.page(3) + f.format().index_tail_page, 60);  // past the end
    auto file = f.Open();
    Walk(*file, 3, &stats, &s);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    Walk(*file, 6, &stats, &s);  // root is not an index page
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    Walk(*file, 0, &stats, &s);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
  }
  {
    // A chain of nodes deeper than any real tree: each node's tail is the next page.
    SyntheticFile f(jet::Version::kJet4, 40);
    for (uint32_t n = 1; n < 40; ++n)
      SetIndexPage(f, n, jet::kPageIndexNode, 2, 0, {}, 0, 0, n + 1 < 40 ? n + 1 : 0);
    auto file = f.Open();
    Walk(*file, 1, &stats, &s);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    EXPECT_NE(s.detail().find("deeper"), std::string::npos);
  }
}

// A one-page Jet 4 definition: a Long column "Id", a Memo column "Text" with its
// long-value maps, one real and one logical index "PrimaryKey".
Bytes Jet4Tdef() {
  Bytes t(63, 0);
  t[0] = jet::kPageTableDef;
  t[1] = 1;
  jet::StoreLe32(&t[12], 1625);
  jet::StoreLe32(&t[16], 3);            // row count
  t[40] = 'N';
  jet::StoreLe16(&t[41], 2);            // max columns
  jet::StoreLe16(&t[43], 1);            // var columns
  jet::StoreLe16(&t[45], 2);            // columns
  jet::StoreLe32(&t[47], 1);            // logical indexes
  jet::StoreLe32(&t[51], 1);            // real indexes
  jet::StoreLe32(&t[55], Ptr(5, 0));
  jet::StoreLe32(&t[59], Ptr(5, 1));
  Bytes stats = Cat({Le32(3), Le32(3), Le32(0)});
  Bytes id(25, 0), text(25, 0);
  id[0] = 0x04; jet::StoreLe16(&id[5], 0); id[15] = 0x03; jet::StoreLe16(&id[23], 4);
  text[0] = 0x0C; jet::StoreLe16(&text[5], 1); jet::StoreLe16(&text[7], 0); text[15] = 0x02;
  jet::StoreLe16(&text[11], 1033); text[16] = 0x01;
  Bytes names = Cat({Le16(4), {'I', 0, 'd', 0}, Le16(8), {'T', 0, 'e', 0, 'x', 0, 't', 0}});
  Bytes real(52, 0);
  jet::StoreLe16(&real[4], 0); real[6] = 1;
  for (int i = 1; i < 10; ++i) jet::StoreLe16(&real[4 + 3 * i], 0xFFFF);
  jet::StoreLe32(&real[34], Ptr(5, 2));
  jet::StoreLe32(&real[38], 6);          // root page
  real[46] = 0x89;
  Bytes logical(28, 0);
  jet::StoreLe32(&logical[8], 0);        // real index 0
  jet::StoreLe32(&logical[13], 0xFFFFFFFF);
  logical[23] = 1;
  Bytes lname = Cat({Le16(20), {'P', 0, 'r', 0, 'i', 0, 'm', 0, 'a', 0, 'r', 0, 'y', 0, 'K', 0, 'e', 0, 'y', 0}});
  Bytes maps = Cat({Le16(1), Le32(Ptr(5, 3)), Le32(0), Le16(0xFFFF)});
  Bytes all = Cat({t, stats, id, text, names, real, logical, lname, maps});
  jet::StoreLe32(&all[8], static_cast<uint32_t>(all.size()));
  return all;
}

TEST(ReaderTableDefTest, AllRecordsOfAOnePageDefinition) {
  SyntheticFile f(jet::Version::kJet4, 8);
  const Bytes tdef = Jet4Tdef();
  std::memcpy(f.page(2), tdef.data(), tdef.size());
  auto file = f.Open();
  jet::TableDef t;
  jet::Status s = jet::ReadTableDef(*file, 2, &t);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(t.pages, (std::vector<uint32_t>{2}));
  EXPECT_EQ(t.row_count, 3u);
  EXPECT_EQ(t.table_type, 'N');
  ASSERT_EQ(t.columns.size(), 2u);
  EXPECT_EQ(t.columns[0].name, "Id");
  EXPECT_TRUE(t.columns[0].is_fixed());
  EXPECT_EQ(t.columns[1].name, "Text");
  EXPECT_TRUE(t.columns[1].is_long_value());
  EXPECT_EQ(t.columns[1].sort_lcid, 1033);
  EXPECT_EQ(t.columns[1].ext_flags, jet::kColumnCompressedUnicode);
  ASSERT_EQ(t.real_indexes.size(), 1u);
  EXPECT_EQ(t.real_indexes[0].root_page, 6u);
  EXPECT_EQ(t.real_indexes[0].flags, 0x89);
  EXPECT_EQ(t.real_indexes[0].stat_unique, 3u);
  ASSERT_EQ(t.real_indexes[0].columns.size(), 1u);
  EXPECT_TRUE(t.real_indexes[0].columns[0].ascending);
  ASSERT_EQ(t.logical_indexes.size(), 1u);
  EXPECT_EQ(t.logical_indexes[0].name, "PrimaryKey");
  EXPECT_EQ(t.logical_indexes[0].index_type, jet::kLogicalIndexPrimaryKey);
  EXPECT_EQ(t.logical_indexes[0].related_index, -1);
  ASSERT_EQ(t.long_value_maps.size(), 1u);
  EXPECT_EQ(t.long_value_maps[0].column_number, 1);
  EXPECT_EQ(t.long_value_maps[0].owned_map, Ptr(5, 3));
  EXPECT_EQ(t.FindColumnByName("TEXT"), 1);
  EXPECT_EQ(t.FindColumnByNumber(1), 1);

}

TEST(ReaderTableDefTest, BrokenChainsAndCounts) {
  SyntheticFile f(jet::Version::kJet4, 8);
  const Bytes tdef = Jet4Tdef();
  auto install = [&]() {
    std::memset(f.page(2), 0, 4096);
    std::memcpy(f.page(2), tdef.data(), tdef.size());
  };
  auto file = f.Open();
  jet::TableDef t;

  install();
  jet::StoreLe32(f.page(2) + 4, 3);  // continues on page 3 ...
  f.page(3)[0] = jet::kPageTableDef;
  jet::StoreLe32(f.page(3) + 4, 2);  // ... which leads back to page 2
  jet::Status s = jet::ReadTableDef(*file, 2, &t);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
  EXPECT_NE(s.detail().find("loops"), std::string::npos);

  jet::StoreLe32(f.page(3) + 4, 0);
  f.page(3)[0] = jet::kPageData;  // continuation of the wrong type
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  jet::StoreLe32(f.page(2) + 4, 99);  // past the end
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  EXPECT_EQ(jet::ReadTableDef(*file, 4, &t).kind(), jet::ErrorKind::kDamaged);  // not a TDEF

  install();
  jet::StoreLe16(f.page(2) + 45, 60000);  // far more columns than fit
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  jet::StoreLe32(f.page(2) + 51, 0x7FFFFFFF);
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  jet::StoreLe16(f.page(2) + 63 + 12 + 50, 5000);  // first column name length
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  const size_t real_at = 63 + 12 + 50 + 16;  // header, statistics, columns, names
  jet::StoreLe32(f.page(2) + real_at + 38, 500);  // index root past the end
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  jet::StoreLe32(f.page(2) + real_at + 52 + 8, 3);  // logical index names real index 3 of 1
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  jet::StoreLe16(f.page(2) + 75 + 5, 9);  // Id's column number past max columns (2)
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  jet::StoreLe16(f.page(2) + 100 + 7, 4);  // Text's var index past var columns (1)
  EXPECT_EQ(jet::ReadTableDef(*file, 2, &t).kind(), jet::ErrorKind::kDamaged);
  install();
  ASSERT_TRUE(jet::ReadTableDef(*file, 2, &t).ok());
}

}  // namespace
