// Tests of the pieces that keep compaction and file generation workable at large sizes:
// a compaction's row maps (CompactedTable: old to new through a per-page index, new
// back to old), and the per-table generation options of `jetdb create --rows` (row
// factor, deleted share).
#include <algorithm>
#include <cstdint>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "jet/maintain/compact_verify.h"
#include "jet/create/row_generator.h"
#include "jet/create/schema.h"
#include "jet/create/schema_json.h"

namespace {

jet::RowId Row(uint32_t page, uint8_t row) { return jet::RowId{page, row}; }

// Source rows on scattered pages (gaps, full pages, a single-row page), written in a
// shuffled order onto pages of varying fill: mapping old to new and new back to old
// must agree with a plain map. The maps are built while pointers are still relative
// (as the compaction plans) and used once the first data page is known.
TEST(CompactedTableTest, RowMapsAgreeWithAPlainMap) {
  jet::CompactedTable t;
  std::mt19937 rng(5);
  for (uint32_t page : {7u, 8u, 9u, 40u, 41u, 300u}) {
    const int rows = page == 40 ? 1 : page == 41 ? 256 : int(rng() % 30) + 1;
    for (int r = 0; r < rows; ++r) {
      if (page != 41 && rng() % 3 == 0) continue;  // a deleted row: not copied
      t.old_rows.push_back(Row(page, uint8_t(r)).ToPointer());
    }
  }
  std::shuffle(t.old_rows.begin(), t.old_rows.end(), rng);
  // Pages of 1 to 40 rows, the last one partly filled.
  std::map<uint32_t, uint32_t> truth;  // old pointer -> new pointer
  std::map<uint32_t, size_t> written;  // new pointer -> k
  uint32_t page = 0, slot = 0, per_page = 1;
  for (size_t k = 0; k < t.old_rows.size(); ++k) {
    if (k == 0 || slot == per_page) {
      if (k != 0) ++page;
      t.page_first_row.push_back(uint32_t(k));
      slot = 0;
      per_page = rng() % 40 + 1;
    }
    const uint32_t pointer = Row(1000 + page, uint8_t(slot++)).ToPointer();
    truth[t.old_rows[k]] = pointer;
    written[pointer] = k;
  }
  jet::CompactedTable indexed = t;
  indexed.IndexRowMap();
  ASSERT_FALSE(indexed.page_starts.empty());
  jet::RowId relative;
  ASSERT_TRUE(indexed.MapRow(jet::RowId::FromPointer(t.old_rows[0]), &relative));
  EXPECT_EQ(relative.page, 0u);
  indexed.data_start = 1000;
  for (size_t k = 0; k < t.old_rows.size(); ++k) EXPECT_EQ(indexed.NewRow(k), truth[t.old_rows[k]]) << k;
  for (uint32_t p = 0; p < 310; ++p) {
    for (int r = 0; r < 256; ++r) {
      const jet::RowId old_row = Row(p, uint8_t(r));
      jet::RowId b;
      const bool in_indexed = indexed.MapRow(old_row, &b);
      auto it = truth.find(old_row.ToPointer());
      ASSERT_EQ(in_indexed, it != truth.end()) << p << "/" << r;
      if (it != truth.end()) { EXPECT_EQ(b.ToPointer(), it->second); }
    }
  }
  // Back from where rows were written, including slots and pages where none was.
  for (uint32_t p = 990; p <= 1000 + page + 2; ++p) {
    for (int r = 0; r < 256; ++r) {
      const uint32_t pointer = Row(p, uint8_t(r)).ToPointer();
      size_t k = 0;
      auto it = written.find(pointer);
      ASSERT_EQ(indexed.WrittenAt(pointer, &k), it != written.end()) << p << "/" << r;
      if (it != written.end()) { EXPECT_EQ(k, it->second); }
    }
  }
  // Pages far outside the span, and an empty map.
  jet::RowId unused;
  EXPECT_FALSE(indexed.MapRow(Row(0xFFFFFF, 255), &unused));
  jet::CompactedTable empty;
  empty.IndexRowMap();
  EXPECT_TRUE(empty.page_starts.empty());
  EXPECT_FALSE(empty.MapRow(Row(7, 0), &unused));
  size_t k;
  EXPECT_FALSE(empty.WrittenAt(Row(0, 0).ToPointer(), &k));
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
