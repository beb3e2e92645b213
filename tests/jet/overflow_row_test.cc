// The overflow-row follower through every caller: the table scan and the row fetcher
// read the row's real bytes or fail with kDamaged, the check reports an
// "overflow-pointer" finding at the row, and the repair drops the row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/maintain/check.h"
#include "jet/maintain/repair.h"
#include "jet/read/database.h"
#include "jet/read/overflow_row.h"
#include "jet/read/row_fetch.h"
#include "jet/read/table_scan.h"
#include "tests/support/database_bytes.h"
#include "tests/support/test_support.h"

namespace {

using jet::OverflowFault;
using jet::RowId;
using jet::Value;

enum class Pointer { kChain, kLoop, kForeignPage, kOutsideFile, kShort };

struct Case {
  const char* name;
  Pointer pointer;
  int hops;             // kChain: rows 0 -> 1 -> ... -> hops
  OverflowFault fault;  // kNone: row 0 reads as row `hops`
};

const Case kCases[] = {
    {"no overflow", Pointer::kChain, 0, OverflowFault::kNone},
    {"1 hop", Pointer::kChain, 1, OverflowFault::kNone},
    {"2 hops", Pointer::kChain, 2, OverflowFault::kNone},
    {"3 hops", Pointer::kChain, 3, OverflowFault::kNone},
    {"4 hops", Pointer::kChain, 4, OverflowFault::kNone},
    {"5 hops", Pointer::kChain, 5, OverflowFault::kChainTooLong},
    {"loop", Pointer::kLoop, 0, OverflowFault::kChainTooLong},
    {"foreign page", Pointer::kForeignPage, 0, OverflowFault::kForeignPage},
    {"outside the file", Pointer::kOutsideFile, 0, OverflowFault::kOutsideFile},
    {"short pointer", Pointer::kShort, 0, OverflowFault::kShortPointer},
};

// Table "t" with seven rows on one page and no indexes, and table "u" with one row.
// A case leaves row 0 the only live row of "t"; rows 1-6 become the deleted rows an
// overflow chain passes through, as Access marks an overflow target.
std::vector<jet::TableSpec> OverflowTables() {
  jet::TableSpec t;
  t.name = "t";
  t.columns = {{"id", jet::ColumnType::kLong}, {"naam", jet::ColumnType::kText, 40}};
  for (int i = 0; i < 7; ++i) t.rows.push_back({{Value::Long(i), Value::Text("rij " + std::to_string(i))}});
  jet::TableSpec u = t;
  u.name = "u";
  u.rows.resize(1);
  return {t, u};
}

void PointAt(testing_support::DatabaseBytes& db, RowId from, RowId to) {
  size_t size;
  jet::StoreLe32(db.Row(from, &size), to.ToPointer());
  jet::StoreLe16(db.Slot(from), uint16_t(jet::LoadLe16(db.Slot(from)) | jet::kSlotOverflow));
}

TEST(OverflowRows, EveryCallerFollowsThemAlike) {
  testing_support::DatabaseBytes original;
  ASSERT_TRUE(original.Create(OverflowTables())) << original.error();
  auto reader = original.Open();
  ASSERT_NE(reader, nullptr);
  const jet::TableDef *t, *u;
  ASSERT_TRUE(reader->GetTableDefByName("t", &t).ok());
  ASSERT_TRUE(reader->GetTableDefByName("u", &u).ok());
  std::vector<RowId> rows, u_rows;
  ASSERT_TRUE(reader->ScanRows(*t, [&](const RowId& id, const std::vector<Value>&) { return rows.push_back(id), true; }).ok());
  ASSERT_TRUE(reader->ScanRows(*u, [&](const RowId& id, const std::vector<Value>&) { return u_rows.push_back(id), true; }).ok());
  ASSERT_EQ(rows.size(), 7u);
  ASSERT_EQ(rows.back().page, rows.front().page);
  std::vector<std::string> stored;  // the bytes of each row before the case
  for (RowId id : rows) {
    size_t size;
    const uint8_t* bytes = original.Row(id, &size);
    stored.emplace_back(bytes, bytes + size);
  }
  const RowId first = rows[0];
  const jet::TableDef def = *t;
  reader.reset();

  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    testing_support::DatabaseBytes db = original;
    for (size_t i = 1; i < rows.size(); ++i)
      jet::StoreLe16(db.Slot(rows[i]), uint16_t(jet::LoadLe16(db.Slot(rows[i])) | jet::kSlotDeleted));
    jet::StoreLe32(db.Page(def.first_page) + db.format().tdef_row_count, 1);
    switch (c.pointer) {
      case Pointer::kChain:
        for (int i = 0; i < c.hops; ++i) PointAt(db, rows[i], rows[i + 1]);
        break;
      case Pointer::kLoop:
        PointAt(db, rows[0], rows[1]);
        PointAt(db, rows[1], rows[0]);
        break;
      case Pointer::kForeignPage: PointAt(db, rows[0], u_rows[0]); break;
      case Pointer::kOutsideFile: PointAt(db, rows[0], {db.page_count() + 10, 0}); break;
      case Pointer::kShort:
        // Row 0 keeps three bytes; row 1 (deleted) takes the rest of its room.
        PointAt(db, rows[0], rows[1]);
        jet::StoreLe16(db.Slot(rows[0]), uint16_t(jet::kSlotOverflow | (db.format().page_size - 3)));
        break;
    }
    const bool readable = c.fault == OverflowFault::kNone;
    const std::string expected = stored[size_t(c.hops)];
    auto read = db.Open();
    ASSERT_NE(read, nullptr);

    // The follower itself.
    if (c.pointer != Pointer::kChain || c.hops > 0) {
      jet::OverflowFollower follower(read->file(), def.first_page);
      size_t size;
      const uint8_t* pointer = db.Row(first, &size);
      jet::OverflowTarget target;
      EXPECT_EQ(follower.Follow(pointer, size, &target).ok(), readable);
      EXPECT_EQ(follower.failure().fault, c.fault);
      if (readable) {
        EXPECT_EQ(std::string(target.bytes, target.bytes + target.size), expected);
      }
    }

    // The scan: row 0 with the bytes it leads to, or kDamaged.
    jet::TableScanner scanner(read->file(), def);
    std::vector<std::pair<RowId, std::string>> seen;
    std::vector<std::string> notes;
    jet::Status s = scanner.Scan(
        [&](const RowId& id, const uint8_t* bytes, size_t size) {
          seen.emplace_back(id, std::string(bytes, bytes + size));
          return true;
        },
        &notes);
    if (readable) {
      ASSERT_TRUE(s.ok()) << s.ToString();
      ASSERT_EQ(seen.size(), 1u);
      EXPECT_EQ(seen[0].first, first);
      EXPECT_EQ(seen[0].second, expected);
    } else {
      EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    }

    // The fetcher: the same.
    jet::RowFetcher fetcher(read->file(), def);
    const uint8_t* bytes = nullptr;
    size_t size = 0;
    s = fetcher.Fetch(first, &bytes, &size);
    if (readable) {
      ASSERT_TRUE(s.ok()) << s.ToString();
      EXPECT_EQ(std::string(bytes, bytes + size), expected);
    } else {
      EXPECT_EQ(s.kind(), jet::ErrorKind::kDamaged);
    }
    read.reset();

    // The check: an overflow-pointer finding at row 0, which then is missing from the
    // row count; nothing else.
    testing_support::TempDir dir;
    const std::string path = dir.File("overflow.mdb");
    ASSERT_TRUE(db.WriteTo(path));
    jet::CheckReport check;
    ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
    EXPECT_EQ(check.DamageCount(), readable ? 0u : 2u);
    EXPECT_EQ(check.Has(jet::FindingKind::kOverflowPointer), !readable);
    EXPECT_EQ(check.Has(jet::FindingKind::kRowCount), !readable);
    for (const jet::CheckFinding& f : check.findings) {
      if (f.kind != jet::FindingKind::kOverflowPointer) continue;
      EXPECT_EQ(f.page, int64_t(first.page));
      EXPECT_EQ(f.row, int(first.row));
    }

    // The repair: nothing to do, or the row dropped and a clean file.
    jet::RepairReport repair;
    s = jet::RepairDatabaseWithReport(path, &repair);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(repair.rewritten, !readable);
    EXPECT_EQ(repair.RowsLost(), readable ? 0u : 1u);
    if (!readable) {
      ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_FALSE(check.HasDamage());
    }
  }
}

}  // namespace
