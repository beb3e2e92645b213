// Usage-map builders: rows and page 1 decoded back with the usage-map reader, and
// page 1 compared with Access-written files.
#include "jet/write/usage_map_builder.h"

#include <gtest/gtest.h>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/write/data_page_builder.h"
#include "jet/file/usage_map.h"
#include "tests/jet/writer_test_util.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;

// Decodes `row` inside an image of `page_count` pages holding its bitmap pages.
Status Decode(const Format& f, const UsageMapImage& image, uint32_t page_count, UsageMap* map) {
  writer_test::MemorySink sink(f, page_count);
  std::map<uint32_t, std::vector<uint8_t>> extra;
  for (const UsageBitmapPage& p : image.bitmap_pages) extra[p.page_number] = p.image;
  std::vector<uint8_t> bytes = writer_test::MakeImage(sink, extra);
  std::unique_ptr<PageFile> file = writer_test::OpenImage(bytes);
  if (!file) return Status::Error(ErrorKind::kDamaged, "image does not open");
  return DecodeUsageMap(*file, image.row.data(), image.row.size(), map);
}

TEST(WriterUsageMap, InlineFormStartsAtZeroOrMovesItsStart) {
  const Format& f = Jet4();
  struct Case {
    std::vector<uint32_t> pages;
    uint32_t start;
  } cases[] = {{{}, 0}, {{2, 3, 9, 511}, 0}, {{1003, 1004, 1300, 1511}, 1000}};
  for (const Case& c : cases) {
    ASSERT_EQ(UsageMapBitmapPageCount(f, c.pages), 0u);
    UsageMapImage image;
    ASSERT_TRUE(BuildUsageMap(f, c.pages, {}, &image).ok());
    ASSERT_EQ(image.row.size(), 69u);
    EXPECT_EQ(image.row[0], kUsageMapInline);
    EXPECT_EQ(LoadLe32(image.row.data() + 1), c.start);
    EXPECT_TRUE(image.bitmap_pages.empty());
    UsageMap map;
    ASSERT_TRUE(Decode(f, image, 2000, &map).ok());
    EXPECT_EQ(map.pages, c.pages);
    EXPECT_EQ(map.pages_past_end, 0u);
  }
}

TEST(WriterUsageMap, SpreadPagesSwitchToTheReferenceForm) {
  const Format& f = Jet3();  // 16,352 pages per bitmap page keeps the image small
  const std::vector<uint32_t> pages = {3, 700, 1500, 16352 + 40};
  ASSERT_EQ(UsageMapBitmapPageCount(f, pages), 2u);
  UsageMapImage image;
  // Wrong number of bitmap pages is refused.
  EXPECT_EQ(BuildUsageMap(f, pages, std::vector<uint32_t>{1600}, &image).kind(),
            ErrorKind::kInvalidArgument);
  ASSERT_TRUE(BuildUsageMap(f, pages, std::vector<uint32_t>{1600, 1601}, &image).ok());
  ASSERT_EQ(image.row.size(), 133u);
  EXPECT_EQ(image.row[0], kUsageMapReference);
  EXPECT_EQ(LoadLe32(image.row.data() + 1), 1600u);
  EXPECT_EQ(LoadLe32(image.row.data() + 5), 1601u);
  EXPECT_EQ(LoadLe32(image.row.data() + 9), 0u);
  ASSERT_EQ(image.bitmap_pages.size(), 2u);
  EXPECT_EQ(image.bitmap_pages[0].image[0], kPageUsageBitmap);
  EXPECT_EQ(image.bitmap_pages[0].image[1], 0x01);

  UsageMap map;
  ASSERT_TRUE(Decode(f, image, 1700, &map).ok());
  EXPECT_EQ(map.type, kUsageMapReference);
  EXPECT_EQ(map.pages, (std::vector<uint32_t>{3, 700, 1500}));
  EXPECT_EQ(map.pages_past_end, 1u);  // page 16,392 lies past this small image
}

TEST(WriterUsageMap, MapRowsShareAHostPage) {
  // As for a table: owned pages, free-space pages and one index map as rows 0..2 of a
  // host page, found again through their row pointers.
  const Format& f = Jet4();
  const std::vector<std::vector<uint32_t>> maps = {{20, 21, 22, 23}, {22}, {24, 25}};
  DataPageBuilder host(f, 0);
  for (const std::vector<uint32_t>& pages : maps) {
    UsageMapImage image;
    ASSERT_TRUE(BuildUsageMap(f, pages, {}, &image).ok());
    ASSERT_TRUE(host.Add(image.row));
  }
  writer_test::MemorySink sink(f, 30);
  std::vector<uint8_t> bytes = writer_test::MakeImage(sink, {{7, host.page()}});
  std::unique_ptr<PageFile> file = writer_test::OpenImage(bytes);
  ASSERT_NE(file, nullptr);
  for (uint8_t row = 0; row < maps.size(); ++row) {
    UsageMap map;
    ASSERT_TRUE(ReadUsageMap(*file, RowId{7, row}.ToPointer(), &map).ok());
    EXPECT_EQ(map.pages, maps[row]);
  }
}

TEST(WriterUsageMap, RefusesUnsortedPages) {
  UsageMapImage image;
  EXPECT_EQ(BuildUsageMap(Jet4(), std::vector<uint32_t>{5, 4}, {}, &image).kind(),
            ErrorKind::kInvalidArgument);
  EXPECT_EQ(BuildUsageMap(Jet4(), std::vector<uint32_t>{5, 5}, {}, &image).kind(),
            ErrorKind::kInvalidArgument);
}

// Page 1's rows, decoded through the data-page reader.
std::vector<std::vector<uint8_t>> PageRows(const Format& f, const uint8_t* page) {
  DataPageHeader header;
  std::vector<std::vector<uint8_t>> rows;
  if (!ParseDataPage(f, page, &header).ok()) return rows;
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    if (!GetRowSlot(f, page, header, i, &slot).ok()) return {};
    rows.emplace_back(page + slot.start, page + slot.end);
  }
  return rows;
}

TEST(WriterGlobalMap, MarksPagesPastTheEndFreeAndGrowsWithTheFile) {
  struct Case {
    const Format* f;
    uint32_t pages;
    size_t row_size;
  } cases[] = {{&Jet4(), 30, 69}, {&Jet4(), 636, 85}, {&Jet4(), 836, 113},
               {&Jet3(), 32, 133}, {&Jet3(), 1466, 189}};  // sizes as in Access files
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pages);
    ASSERT_EQ(GlobalMapBitmapPageCount(*c.f, c.pages), 0u);
    std::vector<uint8_t> page1;
    std::vector<UsageBitmapPage> bitmaps;
    ASSERT_TRUE(BuildGlobalMapPage(*c.f, c.pages, {}, &page1, &bitmaps).ok());
    EXPECT_EQ(LoadLe32(page1.data() + 4), 1u);
    std::vector<std::vector<uint8_t>> rows = PageRows(*c.f, page1.data());
    ASSERT_EQ(rows.size(), 2u);
    ASSERT_EQ(rows[0].size(), c.row_size);
    EXPECT_EQ(rows[1], std::vector<uint8_t>(c.row_size, 0));

    UsageMapImage image{rows[0], {}};
    UsageMap map;
    ASSERT_TRUE(Decode(*c.f, image, c.pages, &map).ok());
    EXPECT_TRUE(map.pages.empty());
    EXPECT_EQ(map.pages_past_end, (c.row_size - 5) * 8 - c.pages);
  }
}

TEST(WriterGlobalMap, LargeFilesTakeTheReferenceForm) {
  const Format& f = Jet3();
  EXPECT_EQ(GlobalMapExtraPages(f, 8096), 0u);   // largest inline map on page 1
  EXPECT_EQ(GlobalMapExtraPages(f, 8097), 1u);
  EXPECT_EQ(GlobalMapExtraPages(f, 16351), 1u);
  EXPECT_EQ(GlobalMapExtraPages(f, 16352), 2u);  // its own page crosses the boundary

  const uint32_t count = 10000;
  ASSERT_EQ(GlobalMapBitmapPageCount(f, count), 1u);
  std::vector<uint8_t> page1;
  std::vector<UsageBitmapPage> bitmaps;
  ASSERT_TRUE(BuildGlobalMapPage(f, count, std::vector<uint32_t>{count - 1}, &page1, &bitmaps).ok());
  ASSERT_EQ(bitmaps.size(), 1u);
  std::vector<std::vector<uint8_t>> rows = PageRows(f, page1.data());
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][0], kUsageMapReference);
  UsageMap map;
  ASSERT_TRUE(Decode(f, UsageMapImage{rows[0], bitmaps}, count, &map).ok());
  EXPECT_TRUE(map.pages.empty());
  EXPECT_EQ(map.pages_past_end, UsageBitmapPageSpan(f) - count);
}

// Where an Access file has no free page inside it, page 1 as built here must be the
// same bytes: header, slots and both rows.
TEST(WriterGlobalMap, MatchesAccessFilesWithoutFreePages) {
  SKIP_WITHOUT_TESTDATA();
  int compared = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      std::unique_ptr<PageFile> file;
      if (!PageFile::Open(path, &file).ok() || file->header().is_encoded()) continue;
      const Format& f = file->format();
      std::vector<uint8_t> real(f.page_size);
      ASSERT_TRUE(file->ReadPage(1, real.data()).ok());
      std::vector<std::vector<uint8_t>> real_rows = PageRows(f, real.data());
      ASSERT_EQ(real_rows.size(), 2u) << path;
      UsageMap map;
      ASSERT_TRUE(DecodeUsageMap(*file, real_rows[0].data(), real_rows[0].size(), &map).ok());
      const uint64_t capacity = (real_rows[0].size() - 5) * 8;
      if (!map.pages.empty() || map.pages_past_end + file->page_count() != capacity) continue;

      std::vector<uint8_t> built;
      std::vector<UsageBitmapPage> bitmaps;
      ASSERT_TRUE(BuildGlobalMapPage(f, file->page_count(), {}, &built, &bitmaps).ok());
      const size_t header = f.data_header_size + 4;
      EXPECT_TRUE(std::equal(built.begin(), built.begin() + header, real.begin())) << path;
      EXPECT_EQ(PageRows(f, built.data()), real_rows) << path;
      ++compared;
    }
  }
  EXPECT_GE(compared, 10);
}

}  // namespace
}  // namespace jet
