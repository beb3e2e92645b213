// TDEF writer: real definitions re-serialised unchanged and with new values, read
// back with the definition reader; continuation pages checked byte by byte.
#include "jet/write/tdef_writer.h"

#include <gtest/gtest.h>

#include <set>

#include "jet/base/byte_order.h"
#include "tests/jet/writer_test_util.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;

// Bytes of the logical definition that page `i` of a split holds.
size_t BytesOnPage(const Format& f, size_t length, uint32_t i) {
  if (i == 0) return std::min<size_t>(length, f.page_size);
  const size_t before = f.page_size + size_t(i - 1) * (f.page_size - 8);
  return std::min<size_t>(length - before, f.page_size - 8) + 8;
}

TEST(WriterTableDef, SplitsIntoContinuationPages) {
  for (const Format* f : {&Jet3(), &Jet4()}) {
    const size_t length = 3 * f->page_size + 100;
    std::vector<uint8_t> logical(length);
    for (size_t i = 0; i < length; ++i) logical[i] = uint8_t(i * 31 + 7);
    const uint32_t count = TableDefPageCount(*f, length);
    ASSERT_EQ(count, 4u);
    EXPECT_EQ(TableDefPageCount(*f, f->page_size), 1u);
    EXPECT_EQ(TableDefPageCount(*f, f->page_size + 1), 2u);
    const std::vector<uint32_t> numbers = {10, 11, 40, 12};
    std::vector<std::vector<uint8_t>> pages;
    EXPECT_EQ(SplitTableDef(*f, logical, std::vector<uint32_t>{10, 11}, &pages).kind(),
              ErrorKind::kInvalidArgument);
    ASSERT_TRUE(SplitTableDef(*f, logical, numbers, &pages).ok());
    ASSERT_EQ(pages.size(), 4u);
    std::vector<uint8_t> joined(pages[0].begin() + 8, pages[0].end());
    for (uint32_t i = 1; i < count; ++i)
      joined.insert(joined.end(), pages[i].begin() + 8, pages[i].begin() + BytesOnPage(*f, length, i));
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), logical.begin() + 8, logical.end()));
    EXPECT_EQ(joined.size(), length - 8);
    for (uint32_t i = 0; i < count; ++i) {
      EXPECT_EQ(pages[i][0], kPageTableDef);
      EXPECT_EQ(pages[i][1], 0x01);
      EXPECT_EQ(LoadLe32(pages[i].data() + 4), i + 1 < count ? numbers[i + 1] : 0u);
      if (IsJet3(f->version)) {
        EXPECT_EQ(pages[i][2], 'V');
        EXPECT_EQ(pages[i][3], 'C');
      } else {
        const size_t used = BytesOnPage(*f, length, i);
        EXPECT_EQ(LoadLe16(pages[i].data() + 2), used + 8 > f->page_size ? 0 : f->page_size - used - 8);
      }
    }
  }
}

// First pages of all table definitions in a file (type-0x02 pages no chain continues to).
std::vector<uint32_t> DefinitionHeads(PageFile& file) {
  std::vector<uint8_t> page(file.page_size());
  std::set<uint32_t> continuations, heads;
  for (uint32_t n = 2; n < file.page_count(); ++n) {
    if (!file.ReadPage(n, page.data()).ok() || page[0] != kPageTableDef) continue;
    heads.insert(n);
    if (uint32_t next = LoadLe32(page.data() + 4)) continuations.insert(next);
  }
  std::vector<uint32_t> out;
  for (uint32_t n : heads)
    if (!continuations.count(n)) out.push_back(n);
  return out;
}

TEST(WriterTableDef, AccessDefinitionsRoundTrip) {
  SKIP_WITHOUT_TESTDATA();
  int definitions = 0, multi_page = 0, patched = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      SCOPED_TRACE(path);
      std::unique_ptr<PageFile> file;
      if (!PageFile::Open(path, &file).ok()) continue;
      const Format& f = file->format();
      for (uint32_t head : DefinitionHeads(*file)) {
        TableDef table;
        if (!ReadTableDef(*file, head, &table).ok()) continue;  // left-over scratch pages
        SCOPED_TRACE(head);
        ++definitions;
        // Unchanged values give the same bytes, and the same pages at the same numbers.
        std::vector<uint8_t> logical;
        Status s = EncodeTableDef(f, table, &logical);
        ASSERT_TRUE(s.ok()) << s.ToString();
        ASSERT_TRUE(std::equal(logical.begin(), logical.end(), table.buffer.begin()));
        std::vector<std::vector<uint8_t>> pages;
        ASSERT_TRUE(SplitTableDef(f, logical, table.pages, &pages).ok());
        ASSERT_EQ(pages.size(), table.pages.size());
        if (pages.size() > 1) ++multi_page;
        for (size_t i = 0; i < pages.size(); ++i) {
          std::vector<uint8_t> real(f.page_size);
          ASSERT_TRUE(file->ReadPage(table.pages[i], real.data()).ok());
          const size_t used = BytesOnPage(f, logical.size(), uint32_t(i));
          EXPECT_TRUE(std::equal(pages[i].begin(), pages[i].begin() + used, real.begin()))
              << "page " << table.pages[i];
        }

        // New values, written to new pages at the end of a copy of the file, read back.
        TableDef changed = table;
        changed.row_count = 4242;
        changed.last_autonumber = 99;
        changed.owned_map = (7u << 8) | 3;
        changed.free_map = (7u << 8) | 4;
        for (size_t i = 0; i < changed.real_indexes.size(); ++i) {
          changed.real_indexes[i].root_page = uint32_t(2 + i);
          changed.real_indexes[i].usage_map = (8u << 8) | uint32_t(i);
          changed.real_indexes[i].stat_entries = uint32_t(1000 + i);
          changed.real_indexes[i].stat_unique = uint32_t(500 + i);
        }
        for (size_t i = 0; i < changed.logical_indexes.size(); ++i)
          changed.logical_indexes[i].related_table = uint32_t(3000 + i);
        for (size_t i = 0; i < changed.long_value_maps.size(); ++i) {
          changed.long_value_maps[i].owned_map = (9u << 8) | uint32_t(i);
          changed.long_value_maps[i].free_map = 0;
        }
        ASSERT_TRUE(EncodeTableDef(f, changed, &logical).ok());
        std::vector<uint32_t> numbers;
        for (uint32_t i = 0; i < TableDefPageCount(f, logical.size()); ++i)
          numbers.push_back(file->page_count() + 2 * i);  // not contiguous on purpose
        ASSERT_TRUE(SplitTableDef(f, logical, numbers, &pages).ok());
        writer_test::MemorySink sink(f, numbers.back() + 1);
        std::map<uint32_t, std::vector<uint8_t>> extra;
        for (size_t i = 0; i < numbers.size(); ++i) extra[numbers[i]] = pages[i];
        std::vector<uint8_t> image = writer_test::MakeImage(sink, extra);
        std::unique_ptr<PageFile> copy = writer_test::OpenImage(image);
        ASSERT_NE(copy, nullptr);
        TableDef back;
        s = ReadTableDef(*copy, numbers[0], &back);
        ASSERT_TRUE(s.ok()) << s.ToString();
        EXPECT_EQ(back.pages, numbers);
        EXPECT_EQ(back.row_count, 4242u);
        EXPECT_EQ(back.last_autonumber, 99u);
        EXPECT_EQ(back.owned_map, changed.owned_map);
        EXPECT_EQ(back.free_map, changed.free_map);
        ASSERT_EQ(back.columns.size(), table.columns.size());
        for (size_t i = 0; i < back.columns.size(); ++i)
          EXPECT_EQ(back.columns[i].name, table.columns[i].name);
        ASSERT_EQ(back.real_indexes.size(), changed.real_indexes.size());
        for (size_t i = 0; i < back.real_indexes.size(); ++i) {
          EXPECT_EQ(back.real_indexes[i].root_page, changed.real_indexes[i].root_page);
          EXPECT_EQ(back.real_indexes[i].usage_map, changed.real_indexes[i].usage_map);
          EXPECT_EQ(back.real_indexes[i].stat_entries, changed.real_indexes[i].stat_entries);
          EXPECT_EQ(back.real_indexes[i].stat_unique, changed.real_indexes[i].stat_unique);
          EXPECT_EQ(back.real_indexes[i].flags, table.real_indexes[i].flags);
        }
        ASSERT_EQ(back.logical_indexes.size(), changed.logical_indexes.size());
        for (size_t i = 0; i < back.logical_indexes.size(); ++i) {
          EXPECT_EQ(back.logical_indexes[i].related_table, 3000 + i);
          EXPECT_EQ(back.logical_indexes[i].name, table.logical_indexes[i].name);
        }
        ASSERT_EQ(back.long_value_maps.size(), changed.long_value_maps.size());
        for (size_t i = 0; i < back.long_value_maps.size(); ++i)
          EXPECT_EQ(back.long_value_maps[i].owned_map, changed.long_value_maps[i].owned_map);
        ++patched;
        if (HasFatalFailure()) return;
      }
    }
  }
  EXPECT_GE(definitions, 300);
  EXPECT_GE(multi_page, 1);
  EXPECT_EQ(patched, definitions);
}

TEST(WriterTableDef, RefusesRecordsOutsideTheDefinition) {
  TableDef table;
  table.buffer.assign(200, 0);
  table.tdef_length = 100;
  std::vector<uint8_t> logical;
  ASSERT_TRUE(EncodeTableDef(Jet4(), table, &logical).ok());
  EXPECT_EQ(logical.size(), 100u);
  EXPECT_EQ(LoadLe32(logical.data() + Jet4().tdef_row_count), 0u);
  table.logical_indexes.push_back(LogicalIndex{});
  table.logical_indexes.back().def_offset = 90;  // related table at 107: outside
  EXPECT_EQ(EncodeTableDef(Jet4(), table, &logical).kind(), ErrorKind::kInvalidArgument);
  table.logical_indexes.clear();
  table.tdef_length = 300;  // longer than the buffer
  EXPECT_EQ(EncodeTableDef(Jet4(), table, &logical).kind(), ErrorKind::kInvalidArgument);
}

}  // namespace
}  // namespace jet
