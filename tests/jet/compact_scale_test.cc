// Tests of the pieces that keep compaction and file generation workable at large sizes:
// the per-page index of a compaction's row map (CompactedTable::MapRow), and the
// per-table generation options of `jetdb create --rows` (row factor, deleted share).
#include <cstdint>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "jet/compact_verify.h"
#include "jet/row_generator.h"
#include "jet/schema.h"
#include "jet/schema_json.h"

namespace {

jet::RowId Row(uint32_t page, uint8_t row) { return jet::RowId{page, row}; }

// Rows on scattered pages (gaps, full pages, a single-row page), mapped both with the
// per-page index and without it: every lookup must agree with a plain map.
TEST(CompactedTableTest, PageIndexedMapRowAgreesWithTheWholeSearch) {
  jet::CompactedTable t;
  std::map<uint32_t, uint32_t> truth;
  std::mt19937 rng(5);
  for (uint32_t page : {7u, 8u, 9u, 40u, 41u, 300u}) {
    const int rows = page == 40 ? 1 : page == 41 ? 256 : int(rng() % 30) + 1;
    for (int r = 0; r < rows; ++r) {
      if (page != 41 && rng() % 3 == 0) continue;  // a deleted row: not copied
      const uint32_t old_pointer = Row(page, uint8_t(r)).ToPointer();
      const uint32_t new_pointer = uint32_t(truth.size() + 1) << 8;
      truth[old_pointer] = new_pointer;
      t.row_map.emplace_back(old_pointer, new_pointer);
    }
  }
  // row_map is built sorted; the index needs that.
  jet::CompactedTable indexed = t;
  indexed.IndexRowMap();
  ASSERT_FALSE(indexed.page_starts.empty());
  for (uint32_t page = 0; page < 310; ++page) {
    for (int r = 0; r < 256; ++r) {
      const jet::RowId old_row = Row(page, uint8_t(r));
      jet::RowId a, b;
      const bool in_plain = t.MapRow(old_row, &a);
      const bool in_indexed = indexed.MapRow(old_row, &b);
      auto it = truth.find(old_row.ToPointer());
      ASSERT_EQ(in_plain, it != truth.end()) << page << "/" << r;
      ASSERT_EQ(in_indexed, it != truth.end()) << page << "/" << r;
      if (it != truth.end()) {
        EXPECT_EQ(a.ToPointer(), it->second);
        EXPECT_EQ(b.ToPointer(), it->second);
      }
    }
  }
  // Pages far outside the span, and an empty map.
  jet::RowId unused;
  EXPECT_FALSE(indexed.MapRow(Row(0xFFFFFF, 255), &unused));
  jet::CompactedTable empty;
  empty.IndexRowMap();
  EXPECT_TRUE(empty.page_starts.empty());
  EXPECT_FALSE(empty.MapRow(Row(7, 0), &unused));
}

const char kSchema[] = R"({"tables": [
  {"name": "groot", "generated_rows_factor": 5, "generated_deleted_percent": 30,
   "columns": [{"name": "id", "type": "long", "autonumber": true},
               {"name": "naam", "type": "text", "size": 40}],
   "indexes": [{"name": "PrimaryKey", "columns": ["id"], "primary": true}]},
  {"name": "klein",
   "columns": [{"name": "id", "type": "long", "autonumber": true},
               {"name": "groot", "type": "long"}],
   "indexes": [{"name": "PrimaryKey", "columns": ["id"], "primary": true}]},
  {"name": "leeg", "generated_rows_factor": 0, "generated_deleted_percent": 0,
   "columns": [{"name": "id", "type": "long"}]}],
 "relationships": [{"name": "kg", "from": {"table": "klein", "columns": ["groot"]},
                    "to": {"table": "groot", "columns": ["id"]}, "enforced": true}]})";

TEST(GenerateRowsTest, PerTableFactorAndDeletedShare) {
  jet::Schema schema;
  ASSERT_TRUE(jet::ParseSchemaJson(kSchema, &schema).ok());
  ASSERT_TRUE(jet::GenerateRows(2000, 3, &schema).ok());
  const jet::TableSpec& groot = schema.tables[0];
  const jet::TableSpec& klein = schema.tables[1];
  ASSERT_EQ(groot.rows.size(), 10000u);
  ASSERT_EQ(klein.rows.size(), 2000u);
  EXPECT_TRUE(schema.tables[2].rows.empty());
  size_t deleted = 0;
  std::map<int64_t, bool> live_ids;  // id -> live
  for (const jet::RowSpec& r : groot.rows) {
    deleted += r.deleted;
    live_ids[r.values[0].integer()] = !r.deleted;
  }
  EXPECT_GT(deleted, 2700u);  // 30% of 10,000, give or take the draw
  EXPECT_LT(deleted, 3300u);
  size_t klein_deleted = 0;
  for (const jet::RowSpec& r : klein.rows) {
    klein_deleted += r.deleted;
    // The relationship still holds: a referencing value names a live row.
    if (!r.values[1].is_null()) {
      auto it = live_ids.find(r.values[1].integer());
      ASSERT_NE(it, live_ids.end());
      EXPECT_TRUE(it->second);
    }
  }
  EXPECT_GT(klein_deleted, 150u);  // the default: about one in eight
  EXPECT_LT(klein_deleted, 350u);
}

TEST(GenerateRowsTest, OutOfRangeOptionsAreRefused) {
  jet::Schema schema;
  EXPECT_FALSE(jet::ParseSchemaJson(R"({"tables": [{"name": "t", "generated_deleted_percent": 101,
      "columns": [{"name": "a", "type": "long"}]}]})", &schema).ok());
  jet::Schema other;
  EXPECT_FALSE(jet::ParseSchemaJson(R"({"tables": [{"name": "t", "generated_rows_factor": -1,
      "columns": [{"name": "a", "type": "long"}]}]})", &other).ok());
}

}  // namespace
