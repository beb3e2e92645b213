// DataPageBuilder: pages decoded back with the data-page reader.
#include "jet/write/data_page_builder.h"

#include <gtest/gtest.h>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "tests/jet/writer_test_util.h"

namespace jet {
namespace {

using writer_test::Jet3;
using writer_test::Jet4;

std::vector<uint8_t> RowOf(size_t length, uint8_t seed) {
  std::vector<uint8_t> row(length);
  for (size_t i = 0; i < length; ++i) row[i] = uint8_t(seed + i);
  return row;
}

// Decodes every slot and checks it against the rows that were added.
void ExpectRows(const Format& f, const std::vector<uint8_t>& page, uint32_t owner,
                const std::vector<std::vector<uint8_t>>& rows) {
  DataPageHeader header;
  ASSERT_TRUE(ParseDataPage(f, page.data(), &header).ok());
  EXPECT_EQ(header.owner, owner);
  EXPECT_EQ(page[1], 0x01);
  ASSERT_EQ(header.row_count, rows.size());
  EXPECT_TRUE(header.free_space_matches);
  size_t sum = 0;
  for (unsigned i = 0; i < rows.size(); ++i) {
    RowSlot slot;
    ASSERT_TRUE(GetRowSlot(f, page.data(), header, i, &slot).ok());
    EXPECT_FALSE(slot.deleted);
    ASSERT_EQ(slot.size(), rows[i].size());
    EXPECT_TRUE(std::equal(rows[i].begin(), rows[i].end(), page.begin() + slot.start));
    sum += rows[i].size();
  }
  EXPECT_EQ(header.free_space, f.page_size - f.data_header_size - sum - 2 * rows.size());
}

TEST(WriterDataPage, RowsPackDownwardUntilFull) {
  for (const Format* f : {&Jet3(), &Jet4()}) {
    DataPageBuilder builder(*f, 17);
    EXPECT_EQ(builder.free_space(), f->page_size - f->data_header_size);
    std::vector<std::vector<uint8_t>> rows;
    for (uint8_t seed = 0;; ++seed) {
      std::vector<uint8_t> row = RowOf(100 + seed % 7, seed);
      const bool fits = builder.Fits(row.size());
      if (!builder.Add(row)) {
        EXPECT_FALSE(fits);
        break;
      }
      rows.push_back(row);
    }
    // Full: what is left is smaller than the refused row and its slot.
    EXPECT_LT(builder.free_space(), 100u + 7 + 2);
    ExpectRows(*f, builder.page(), 17, rows);
    if (!IsJet3(f->version)) {
      EXPECT_EQ(LoadLe32(builder.page().data() + 8), 0u);
    }
    // Row 0 ends at the page end.
    EXPECT_EQ(LoadLe16(builder.page().data() + f->data_header_size),
              f->page_size - rows[0].size());
  }
}

TEST(WriterDataPage, LargestRowAndRowLimit) {
  const Format& f = Jet4();
  DataPageBuilder big(f, kLongValueOwner);
  const size_t max = DataPageBuilder::MaxRowSize(f);
  EXPECT_FALSE(big.Add(RowOf(max + 1, 0)));
  ASSERT_TRUE(big.Add(RowOf(max, 1)));
  EXPECT_EQ(big.free_space(), 0u);
  EXPECT_EQ(std::string(big.page().begin() + 4, big.page().begin() + 8), "LVAL");
  ExpectRows(f, big.page(), kLongValueOwner, {RowOf(max, 1)});

  // One-byte rows stop at 255, the most a one-byte row number can address.
  DataPageBuilder many(f, 3);
  std::vector<std::vector<uint8_t>> rows;
  while (many.Add(RowOf(1, uint8_t(rows.size())))) rows.push_back(RowOf(1, uint8_t(rows.size())));
  EXPECT_EQ(rows.size(), kMaxRowsPerDataPage);
  EXPECT_FALSE(many.AddDeletedSlot());
  ExpectRows(f, many.page(), 3, rows);
}

TEST(WriterDataPage, DeletedSlotKeepsLaterRowNumbers) {
  const Format& f = Jet3();
  DataPageBuilder builder(f, 9);
  ASSERT_TRUE(builder.Add(RowOf(40, 1)));
  ASSERT_TRUE(builder.AddDeletedSlot());
  ASSERT_TRUE(builder.Add(RowOf(30, 2)));
  DataPageHeader header;
  ASSERT_TRUE(ParseDataPage(f, builder.page().data(), &header).ok());
  EXPECT_TRUE(header.free_space_matches);
  EXPECT_EQ(header.free_space, f.page_size - f.data_header_size - 70 - 6);
  RowSlot slot;
  ASSERT_TRUE(GetRowSlot(f, builder.page().data(), header, 1, &slot).ok());
  EXPECT_TRUE(slot.deleted);
  EXPECT_EQ(slot.size(), 0u);
  EXPECT_EQ(LoadLe16(builder.page().data() + f.data_header_size + 2) & 0xC000, 0xC000);
  ASSERT_TRUE(GetRowSlot(f, builder.page().data(), header, 2, &slot).ok());
  EXPECT_EQ(slot.size(), 30u);
  EXPECT_EQ(builder.page()[slot.start], 2);

  builder.Reset(0);
  EXPECT_TRUE(builder.empty());
  ExpectRows(f, builder.page(), 0, {});
}

}  // namespace
}  // namespace jet
