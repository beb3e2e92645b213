// The repair against the page damage crashes leave (a page never written, a write torn
// in half, flipped bytes) on every page a user table depends on: no row is invented,
// none is kept garbled, the report's losses are the real losses, and damage to a usage
// map loses nothing. Each lost row that the primary key still indexes is named.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/maintain/check.h"
#include "jet/maintain/repair.h"
#include "jet/read/database.h"
#include "tests/support/database_bytes.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/table_rows.h"
#include "tools/damage/page_damage.h"

namespace {

using testing_support::ReadTableRows;
using testing_support::TableRows;

using jet::Value;

size_t RowCount(const TableRows& rows) {
  size_t n = 0;
  for (const auto& [name, table] : rows) n += table.size();
  return n;
}

// A table "keyed" with a primary key on "id" and an index on the text "name", one row
// for each name, ids from 1.
jet::TableSpec KeyedTable(const std::vector<std::string>& names) {
  jet::TableSpec keyed;
  keyed.name = "keyed";
  keyed.columns = {{"id", jet::ColumnType::kLong}, {"name", jet::ColumnType::kText, 20}};
  keyed.indexes = {{"PrimaryKey", {{"id", true}}, true}, {"name", {{"name", true}}}};
  for (const std::string& name : names)
    keyed.rows.push_back({{Value::Long(int32_t(keyed.rows.size()) + 1), Value::Text(name)}});
  return keyed;
}

// Where the rows of `table` lie, in scan order; empty when the table cannot be read.
std::vector<jet::RowId> RowIds(const testing_support::DatabaseBytes& db, const std::string& table) {
  std::vector<jet::RowId> ids;
  auto reader = db.Open();
  const jet::TableDef* def = nullptr;
  if (reader == nullptr || !reader->GetTableDefByName(table, &def).ok()) return ids;
  reader->ScanRows(*def, [&](const jet::RowId& id, const std::vector<Value>&) { return ids.push_back(id), true; });
  return ids;
}

// Writes `db` to `path`, repairs it there and reads back what it holds.
void WriteAndRepair(const testing_support::DatabaseBytes& db, const std::string& path, jet::RepairReport* report,
                    TableRows* after) {
  ASSERT_TRUE(db.WriteTo(path));
  ASSERT_TRUE(jet::RepairDatabaseWithReport(path, report).ok());
  std::string error;
  ASSERT_TRUE(ReadTableRows(path, after, &error)) << error;
}

TEST(RepairPages, DamagedPagesLoseOnlyWhatTheyHeldAndSayIt) {
  testing_support::TempDir dir;
  const std::vector<std::string> files = testing_support::FixtureDatabaseFiles();
  ASSERT_EQ(files.size(), 2u) << testing_support::FixtureError();
  int cases = 0;
  for (const std::string& source : files) {
    TableRows before;
    std::string error;
    ASSERT_TRUE(ReadTableRows(source, &before, &error)) << error;
    for (damage::Role role : {damage::Role::kData, damage::Role::kLongValue, damage::Role::kUsageMap,
                              damage::Role::kTableDefinition}) {
      for (damage::Mode mode : {damage::Mode::kZero, damage::Mode::kTorn, damage::Mode::kFlip}) {
        // Bytes flipped inside rows and definitions can still garble a value beyond
        // what the row's bookkeeping shows; only maps are held to that here.
        if (mode == damage::Mode::kFlip && role != damage::Role::kUsageMap) continue;
        for (uint64_t seed = 1; seed <= 3; ++seed) {
          damage::PageDamage damage;
          damage.role = role;
          damage.mode = mode;
          damage.seed = seed;
          const std::string path = dir.File(std::to_string(++cases) + ".mdb");
          damage::PageDamageResult result;
          jet::Status s = damage::MakePageDamagedCopy(source, path, damage, &result);
          if (s.kind() == jet::ErrorKind::kNotFound) continue;
          ASSERT_TRUE(s.ok()) << s.ToString();
          if (result.bytes_changed == 0) continue;
          SCOPED_TRACE(source + ": " + result.description + " (seed " + std::to_string(seed) + ")");

          jet::RepairReport report;
          s = jet::RepairDatabaseWithReport(path, &report);
          ASSERT_TRUE(s.ok()) << s.ToString();
          jet::CheckReport check;
          ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
          for (const jet::CheckFinding& f : check.findings)
            EXPECT_NE(f.severity, jet::CheckSeverity::kDamage) << jet::FindingKindName(f.kind) << " " << f.detail;

          TableRows after;
          ASSERT_TRUE(ReadTableRows(path, &after, &error)) << error;
          // A flipped byte inside a stored value changes that row for every reader.
          const size_t changed = result.rows_value_changed;
          EXPECT_LE(testing_support::RowsNotIn(after, before), changed) << "rows invented or kept garbled";
          const size_t kept = testing_support::RowsKept(before, after);
          uint64_t reported = 0;
          for (const jet::RepairTableReport& t : report.tables) {
            if (before.count(t.name)) reported += t.rows_lost;
            // Data pages are hit, the primary-key index is intact: it names every lost row.
            if (role == damage::Role::kData) {
              EXPECT_EQ(t.lost_keys.size(), t.rows_lost) << t.name;
              for (const std::string& key : t.lost_keys) EXPECT_EQ(key.rfind("id=", 0), 0u) << key;
            }
          }
          const size_t lost = RowCount(before) - kept;
          EXPECT_LE(reported, lost);
          EXPECT_GE(reported + changed, lost) << "losses under-reported";
          if (role == damage::Role::kUsageMap) { EXPECT_EQ(kept, RowCount(before)) << "a map lost rows"; }
        }
      }
    }
  }
  EXPECT_GT(cases, 30);
}

// Evidence beside a row's own bookkeeping: the index entries that point at it, and
// the row count a definition stores. A row whose primary key is null while its entry
// holds a key is garbled and dropped, its key listed, as is a row whose text an end
// offset cut short of its entry's key; a row whose text differs from a non-unique
// index's entry is kept as it reads, one whose number differs from its entry on a
// page that lost rows gets the entry's number back; the rows of a lost page of a
// table without indexes are counted from the definition.
TEST(RepairPages, RowsAreJudgedByTheirIndexEntriesAndLostPagesByTheRowCount) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const jet::TableSpec keyed = KeyedTable({"alpha", "bravo", "charlie", "delta"});
    jet::TableSpec plain;
    plain.name = "plain";
    plain.columns = {{"v", jet::ColumnType::kLong}};
    for (int i = 0; i < 5; ++i) plain.rows.push_back({{Value::Long(i)}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({keyed, plain}, version)) << db.error();
    const std::vector<jet::RowId> rows = RowIds(db, "keyed");
    const std::vector<jet::RowId> plain_rows = RowIds(db, "plain");
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(plain_rows.size(), 5u);
    const uint32_t plain_page = plain_rows[0].page;
    db.SetPresent(rows[0], 0, false);  // "alpha" loses its id
    size_t size = 0;
    uint8_t* bravo = db.Row(rows[1], &size);
    uint8_t* r = std::find(bravo, bravo + size, uint8_t('r'));
    ASSERT_NE(r, bravo + size);
    *r = 'x';  // "bravo" reads "bxavo"
    uint8_t* charlie = db.Row(rows[2], &size);  // its end offset cut by 2: "charl"
    const size_t end = version == jet::Version::kJet3 ? size - 4 : size - 7;
    charlie[end] = uint8_t(charlie[end] - 2);
    jet::StoreLe32(db.Row(rows[3], &size) + db.format().row_column_count_size, 77);  // "delta" reads id 77
    std::fill(db.Page(plain_page), db.Page(plain_page) + db.format().page_size, 0);
    jet::RepairReport report;
    TableRows after;
    WriteAndRepair(db, dir.File(std::string(jet::VersionName(version)) + ".mdb"), &report, &after);
    if (HasFatalFailure()) return;
    EXPECT_EQ(after["keyed"].size(), 2u);
    EXPECT_EQ(after["keyed"].count("4\x1f" "delta\x1f"), 1u);
    EXPECT_TRUE(after["plain"].empty());
    std::string texts;
    for (const std::string& row : after["keyed"]) texts += row + "\n";
    EXPECT_NE(texts.find("bxavo"), std::string::npos) << texts;
    for (const jet::RepairTableReport& t : report.tables) {
      if (t.name == "keyed") {
        EXPECT_EQ(t.lost_by_reason[size_t(jet::LossReason::kInvalid)], 2u);
        EXPECT_EQ(t.lost_keys, (std::vector<std::string>{"id=1", "id=3"}));
        EXPECT_EQ(t.rows_kept, 2u);
      }
      if (t.name == "plain") { EXPECT_EQ(t.lost_by_reason[size_t(jet::LossReason::kPageLost)], 5u); }
    }
  }
}

// A table large enough to have its rebuilt indexes' keys computed on a second thread
// comes out as one small enough for a single thread does: every kept row in every
// rebuilt index, each lost row named by its key.
TEST(RepairPages, ALargeTableRebuildsItsIndexesFromEveryKeptRow) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const size_t rows = 6000;
    std::vector<std::string> names;
    for (size_t i = 0; i < rows; ++i) names.push_back("name " + std::to_string(i % 997));
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({KeyedTable(names)}, version)) << db.error();
    const std::vector<jet::RowId> ids = RowIds(db, "keyed");
    ASSERT_EQ(ids.size(), rows);
    const uint32_t lost_page = ids[rows / 2].page;
    const size_t on_page = size_t(std::count_if(ids.begin(), ids.end(), [&](jet::RowId id) { return id.page == lost_page; }));
    std::fill(db.Page(lost_page), db.Page(lost_page) + db.format().page_size, 0);
    jet::RepairReport report;
    TableRows after;
    WriteAndRepair(db, dir.File(std::string(jet::VersionName(version)) + ".mdb"), &report, &after);
    if (HasFatalFailure()) return;
    EXPECT_EQ(after["keyed"].size(), rows - on_page);
    const std::string kept = std::to_string(rows - on_page);
    for (const char* index : {"PrimaryKey", "name"}) {
      const std::string line = std::string("index \"") + index + "\" of table \"keyed\" rebuilt: " + kept +
                               " entries, " + kept + " keys computed from the rows";
      EXPECT_NE(std::find(report.rebuilt.begin(), report.rebuilt.end(), line), report.rebuilt.end()) << line;
    }
    for (const jet::RepairTableReport& t : report.tables)
      if (t.name == "keyed") {
        EXPECT_EQ(t.lost_keys.size(), on_page);
      }
  }
}

// Bookkeeping that flips and tears garble, and what the repair makes of it: a row count
// the page's free space contradicts is mended from it; a text value whose null bit was
// cleared, yet keeps its bytes, drops its row; an overflow target whose pointer was
// garbled is kept as that row; a long value on a page torn halfway is cut and counted,
// and a long-value page with a garbled header is written anew with its value intact,
// as is a value kept in one row whose length is garbled.
TEST(RepairPages, GarbledBookkeepingIsMendedOrDroppedAndCounted) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    jet::TableSpec t;
    t.name = "t";
    t.columns = {{"id", jet::ColumnType::kLong}, {"name", jet::ColumnType::kText, 20}};
    for (const char* name : {"alpha", "bravo", "charlie", "delta"})
      t.rows.push_back({{Value::Long(int32_t(t.rows.size()) + 1), Value::Text(name)}});
    jet::TableSpec blob;
    blob.name = "blob";
    blob.columns = {{"id", jet::ColumnType::kLong}, {"data", jet::ColumnType::kOle}};
    const size_t page_size = jet::FormatFor(version).page_size;
    blob.rows.push_back({{Value::Long(1), Value::Binary(std::vector<uint8_t>(page_size * 3 / 4, 0x5A))}});
    testing_support::DatabaseBytes original;
    ASSERT_TRUE(original.Create({t, blob}, version)) << original.error();
    const std::vector<jet::RowId> rows = original.LiveRows("t");
    const std::vector<jet::RowId> blob_rows = original.LiveRows("blob");
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(blob_rows.size(), 1u);
    const jet::RowId blob_row = blob_rows[0];
    uint32_t lval = 0;
    for (uint32_t p = 1; p < original.page_count() && lval == 0; ++p)
      if (original.Page(p)[0] == jet::kPageData && jet::LoadLe32(original.Page(p) + 4) == jet::kLongValueOwner) lval = p;
    ASSERT_NE(lval, 0u);

    // Returns the rows of "t" after the repair, and its report and the blob's.
    auto repair = [&](const testing_support::DatabaseBytes& db, const std::string& name, jet::RepairTableReport* t_report,
                      jet::RepairTableReport* blob_report) {
      const std::string path = dir.File(name + jet::VersionName(version) + ".mdb");
      EXPECT_TRUE(db.WriteTo(path));
      jet::RepairReport report;
      EXPECT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
      EXPECT_TRUE(report.rewritten);
      jet::CheckReport check;
      EXPECT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_FALSE(check.HasDamage());
      for (const jet::RepairTableReport& r : report.tables) (r.name == "t" ? *t_report : *blob_report) = r;
      TableRows after;
      std::string error;
      EXPECT_TRUE(ReadTableRows(path, &after, &error)) << error;
      return after;
    };
    jet::RepairTableReport t_report, blob_report;

    // The row count's high byte set; "alpha" null in its mask though it keeps its text.
    testing_support::DatabaseBytes db = original;
    db.Page(rows[0].page)[db.format().data_row_count + 1] = 0x70;
    db.SetPresent(rows[0], 1, false);
    TableRows after = repair(db, "count", &t_report, &blob_report);
    EXPECT_EQ(after["t"].size(), 3u);
    EXPECT_EQ(t_report.rows_kept, 3u);
    EXPECT_EQ(t_report.lost_by_reason[size_t(jet::LossReason::kInvalid)], 1u);

    // The page's type byte and its row count both garbled: the free space and slots
    // give the count, the rows read as the table's, and every row stays.
    db = original;
    db.Page(rows[0].page)[0] = 0x2C;
    db.Page(rows[0].page)[db.format().data_row_count] = 9;
    after = repair(db, "type-count", &t_report, &blob_report);
    EXPECT_EQ(after["t"].size(), 4u);
    EXPECT_EQ(t_report.rows_lost, 0u);

    // "alpha" moved to an overflow target ("delta"'s slot) whose pointer is garbled.
    db = original;
    size_t size = 0;
    jet::StoreLe32(db.Row(rows[0], &size), uint32_t(db.page_count() + 5) << 8);
    jet::StoreLe16(db.Slot(rows[0]), uint16_t(jet::LoadLe16(db.Slot(rows[0])) | jet::kSlotOverflow));
    jet::StoreLe16(db.Slot(rows[3]), uint16_t(jet::LoadLe16(db.Slot(rows[3])) | jet::kSlotDeleted));
    after = repair(db, "overflow", &t_report, &blob_report);
    EXPECT_EQ(after["t"].size(), 3u);  // bravo, charlie, and delta's bytes
    EXPECT_EQ(t_report.rows_lost, 0u);

    // The long-value page torn halfway: the value is cut (or nulled) and counted.
    db = original;
    std::fill(db.Page(lval) + page_size / 2, db.Page(lval) + page_size, 0);
    after = repair(db, "torn", &t_report, &blob_report);
    EXPECT_EQ(blob_report.values_cut, 1u);
    EXPECT_EQ(blob_report.rows_kept, 1u);

    // Its header garbled: the page is written anew, the value as it was.
    db = original;
    db.Page(lval)[1] = 0x7F;
    TableRows before;
    std::string error;
    const std::string original_path = dir.File("original" + std::string(jet::VersionName(version)) + ".mdb");
    ASSERT_TRUE(original.WriteTo(original_path));
    ASSERT_TRUE(ReadTableRows(original_path, &before, &error)) << error;
    after = repair(db, "header", &t_report, &blob_report);
    EXPECT_EQ(after["blob"], before["blob"]);
    EXPECT_EQ(blob_report.values_cut, 0u);

    // The length of the value, kept in one LVAL row, garbled up or down: the row is
    // the value, as other readers take it.
    for (uint32_t wrong : {uint32_t(page_size / 2), uint32_t(page_size - 20)}) {
      db = original;
      size_t size = 0;
      uint8_t* row = db.Row(blob_row, &size);
      const uint32_t word = uint32_t(page_size * 3 / 4) | 0x40000000u;
      uint8_t* length = nullptr;
      for (size_t i = 0; i + 4 <= size && length == nullptr; ++i)
        if (jet::LoadLe32(row + i) == word) length = row + i;
      ASSERT_NE(length, nullptr);
      jet::StoreLe32(length, wrong | 0x40000000u);
      after = repair(db, "length" + std::to_string(wrong), &t_report, &blob_report);
      EXPECT_EQ(after["blob"], before["blob"]) << wrong;
      EXPECT_EQ(blob_report.values_cut, 0u) << wrong;
    }
  }
}

// A slot offset changed to where a later row starts, or past the page with the
// overflow flag set, is put back where the two rows it bounds read whole, and every
// row comes back. With a second offset changed, each is judged alone: the one a
// flipped byte explains is put back, and the row of the other, which no one byte
// explains, goes. An inline value whose length word took a garbled high byte keeps
// the bytes its field holds, as other readers take them.
TEST(RepairPages, ChangedSlotOffsetsArePutBackOrTheirRowsGo) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    jet::TableSpec t = KeyedTable({"alpha", "bravo", "charlie", "delta", "echo"});
    t.columns.push_back({"data", jet::ColumnType::kOle});
    for (jet::RowSpec& row : t.rows) row.values.push_back(Value::Binary(std::vector<uint8_t>(19, 0xA5)));
    testing_support::DatabaseBytes original;
    ASSERT_TRUE(original.Create({t}, version)) << original.error();
    const std::vector<jet::RowId> rows = original.LiveRows("keyed");
    ASSERT_EQ(rows.size(), 5u);
    ASSERT_EQ(rows[1].page, rows[3].page);
    const std::string original_path = dir.File("original.mdb");
    ASSERT_TRUE(original.WriteTo(original_path));
    TableRows before, after;
    std::string error;
    ASSERT_TRUE(ReadTableRows(original_path, &before, &error)) << error;
    jet::RepairReport report;

    ASSERT_EQ(rows[4].page, rows[1].page);
    for (uint16_t changed : {jet::LoadLe16(original.Slot(rows[3])), uint16_t(0x6000 | (jet::LoadLe16(original.Slot(rows[1])) + 0x700))}) {
      testing_support::DatabaseBytes db = original;
      jet::StoreLe16(db.Slot(rows[1]), changed);
      WriteAndRepair(db, dir.File("put-back.mdb"), &report, &after);
      EXPECT_EQ(after, before) << changed;
      ASSERT_FALSE(report.tables.back().notes.empty());
      EXPECT_NE(report.tables.back().notes.front().find("put back"), std::string::npos) << report.tables.back().notes.front();
    }

    testing_support::DatabaseBytes db = original;
    jet::StoreLe16(db.Slot(rows[1]), jet::LoadLe16(db.Slot(rows[3])));
    jet::StoreLe16(db.Slot(rows[4]), 0x1FF0);
    WriteAndRepair(db, dir.File("slot.mdb"), &report, &after);
    EXPECT_EQ(testing_support::RowsNotIn(after, before), 0u) << "no row is kept garbled";
    EXPECT_EQ(after["keyed"].size(), 4u) << "bravo's offset is put back, echo goes";
    EXPECT_EQ(report.tables.back().rows_lost, 1u);

    db = original;
    size_t size = 0;
    uint8_t* row = db.Row(rows[2], &size);
    uint8_t* word = nullptr;
    for (size_t i = 0; i + 4 <= size && word == nullptr; ++i)
      if (jet::LoadLe32(row + i) == (19u | 0x80000000u)) word = row + i;
    ASSERT_NE(word, nullptr);
    word[3] = 0xA1;
    WriteAndRepair(db, dir.File("inline.mdb"), &report, &after);
    EXPECT_EQ(after, before);
    EXPECT_EQ(report.tables.back().rows_lost, 0u);
  }
}

// A slot offset moved into the row before makes the next row's extent run into that
// row's bytes (its own row garbled, so that it is not put back). Here the
// next row still reads (the bytes where its extent now ends are a copy of its own
// trailer, held as data by the row before), and its long value is unreadable: its
// mend would write into the row before, so it is dropped instead, and the row before
// stays as it was.
TEST(RepairPages, RowsSharingBytesAreNotMendedIntoEachOther) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    jet::TableSpec t;
    t.name = "t";
    t.columns = {{"id", jet::ColumnType::kLong}, {"data", jet::ColumnType::kOle}};
    t.indexes = {{"PrimaryKey", {{"id", true}}, true}};
    for (int i = 0; i < 4; ++i)
      t.rows.push_back({{Value::Long(i + 1), Value::Binary(std::vector<uint8_t>(i == 2 ? 3000 : 40, 0x5A))}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({t}, version)) << db.error();
    const std::vector<jet::RowId> rows = db.LiveRows("t");
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_TRUE(rows[0].page == rows[3].page && rows[0].row == 0 && rows[3].row == 3);
    size_t first_size = 0, last_size = 0;
    uint8_t* first = db.Row(rows[0], &first_size);
    const uint8_t* last = db.Row(rows[2], &last_size);
    uint8_t* data = std::search_n(first, first + first_size, 16, 0x5A);
    ASSERT_NE(data, first + first_size);
    std::copy(last + last_size - 16, last + last_size, data);
    const std::string planted = dir.File("planted.mdb");
    ASSERT_TRUE(db.WriteTo(planted));
    TableRows before, after;
    std::string error;
    ASSERT_TRUE(ReadTableRows(planted, &before, &error)) << error;

    size_t size = 0;
    db.Row(rows[1], &size)[0] = 0;  // a column count no row has
    jet::StoreLe16(db.Slot(rows[1]), uint16_t(data + 16 - db.Page(rows[0].page)));
    jet::StoreLe16(db.Slot(rows[3]), 0x1FF0);
    uint8_t* row = db.Row(rows[2], &size);
    uint8_t* length = nullptr;
    for (size_t i = 0; i + 8 <= size && length == nullptr; ++i)
      if ((jet::LoadLe32(row + i) & 0x3FFFFFFFu) == 3000u) length = row + i;
    ASSERT_NE(length, nullptr);
    jet::StoreLe32(length + 4, 0xFFFFFF00u);  // its value's row, far past the end of the file
    jet::RepairReport report;
    WriteAndRepair(db, dir.File("shared.mdb"), &report, &after);
    EXPECT_EQ(testing_support::RowsNotIn(after, before), 0u) << "the first row is not written into";
    EXPECT_EQ(after["t"].size(), 1u);
    EXPECT_EQ(report.tables.back().rows_lost, 3u);
  }
}

// Repairs a copy of test file `file` with `damage` done to it; the repair must
// succeed and lose `lost` rows in all (the rows the damage destroyed). The copy's path.
std::string RepairDamagedTestFile(const testing_support::TempDir& dir, const std::string& file,
                                  const damage::PageDamage& damage, uint64_t lost) {
  const std::string path = dir.File(std::to_string(damage.page) + ".mdb");
  damage::PageDamageResult result;
  EXPECT_TRUE(damage::MakePageDamagedCopy(testing_support::TestDataDir() + "/" + file, path, damage, &result).ok());
  jet::RepairReport report;
  const jet::Status s = jet::RepairDatabaseWithReport(path, &report);
  EXPECT_TRUE(s.ok()) << file << ": " << s.ToString();
  uint64_t rows_lost = 0;
  for (const jet::RepairTableReport& table : report.tables) rows_lost += table.rows_lost;
  EXPECT_EQ(rows_lost, lost) << file;
  return path;
}

// RepairDamagedTestFile with page `page` of `role` flipped (8 bytes, seed `seed`).
std::string RepairFlippedTestFile(const testing_support::TempDir& dir, const std::string& file, damage::Role role,
                                  int64_t page, uint64_t seed, uint64_t lost = 0) {
  return RepairDamagedTestFile(dir, file, {role, damage::Mode::kFlip, seed, 8, page}, lost);
}

// A catalog page whose slot offset a flipped byte changed, with a row at odds with
// an index entry: the offset is put back, no row is lost, and the catalog's indexes
// are rebuilt though no row was, so that the result is sound (flipped bytes also
// changed two system tables' names, which stay as they read). An index leaf whose
// flipped pointers reach pages of an earlier life of their table (in no map) does
// not bring those pages' old rows back, which would repeat the primary key's keys;
// nor does a flipped map that leaves the table's pages to be found by owner: the
// global free map marks those old pages free.
TEST(RepairPages, FlippedSlotsAndPointersOfRealFiles) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  std::string path = RepairFlippedTestFile(dir, "jet4/jk_delcol_2003.mdb", damage::Role::kCatalogData, 14, 1);
  EXPECT_EQ(testing_support::TableRowCounts(path)["Table1"], 2u);
  path = RepairFlippedTestFile(dir, "jet3/nwind.mdb", damage::Role::kIndexLeaf, 810, 1);
  EXPECT_EQ(testing_support::TableRowCounts(path)["Ums\xC3\xA4tze"], 830u);
  path = RepairFlippedTestFile(dir, "jet3/nwind.mdb", damage::Role::kUsageMap, 756, 1);
  EXPECT_EQ(testing_support::TableRowCounts(path)["Ums\xC3\xA4tze"], 830u);
  // The page's owner field flipped to name another table, whose map leaves the page out;
  // 3 of its 10 rows are garbled by the other flipped bytes.
  path = RepairFlippedTestFile(dir, "jet3/jk_indexcodes.mdb", damage::Role::kData, 98, 2, 3);
  EXPECT_EQ(testing_support::TableRowCounts(path)["Table12_desc_desc"], 7u);
  // The page's type byte and owner field both flipped (the map still names it); the
  // other flipped bytes garble 2 of its 4 rows.
  path = RepairFlippedTestFile(dir, "jet3/rk_hotel.mdb", damage::Role::kData, 48, 1, 2);
  EXPECT_EQ(testing_support::TableRowCounts(path)["user"], 2u);
  // Three deleted slots flipped into live ones with extents no row has, and the one
  // row garbled: the definition's row count says the slots held no rows.
  RepairFlippedTestFile(dir, "jet3/fc_acc95.mdb", damage::Role::kData, 44, 1, 1);
  // A lost definition's rows are counted on the pages that name it, but for those the
  // free map marks free (257 of its 308 pages hold stale rows of an earlier life).
  RepairDamagedTestFile(dir, "jet3/nwind.mdb", {damage::Role::kTableDefinition, damage::Mode::kZero, 1, 8, 753}, 830);
}

// A definition with one column that nothing places keeps its other columns and rows:
// here a fixed offset that two gaps take (columns deleted long ago left one). But a
// column whose flipped type and flags read its text as a variable Double, its values
// not 8 bytes long, is no column: with the other column's type gone too, the table is
// lost rather than kept with numbers made of text.
TEST(RepairPages, DefinitionsDropTheColumnsNothingPlaces) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  std::string path = RepairFlippedTestFile(dir, "jet3/rk_library.mdb", damage::Role::kTableDefinition, 78, 2);
  EXPECT_EQ(testing_support::TableRowCounts(path)["Fine"], 3u);
  path = RepairFlippedTestFile(dir, "jet4/jk_unicomp_2003.mdb", damage::Role::kTableDefinition, 53, 1, 8);
  EXPECT_EQ(testing_support::TableRowCounts(path).count("Table"), 0u);
}

// A catalog row's property value whose mark a flipped byte changed reads as a long
// value, but no reader can parse it: the check calls it damage, and the repair nulls
// it (counted) instead of writing it out as data. Every user row stays.
TEST(RepairPages, GarbledCatalogPropertiesAreNulledNotKept) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  const std::string original = testing_support::TestDataDir() + "/jet4/asp_test.mdb";
  std::string bytes = testing_support::ReadFileBytes(original);
  // The mark of the first live catalog row whose properties lie in the row itself.
  std::unique_ptr<jet::Database> db;
  const jet::TableDef* catalog = nullptr;
  ASSERT_TRUE(jet::Database::Open(original, &db).ok() && db->GetTableDefByName("MSysObjects", &catalog).ok());
  const jet::Format& format = db->format();
  size_t mark = std::string::npos;
  ASSERT_TRUE(db->ScanRows(*catalog, [&](const jet::RowId& id, const std::vector<Value>&) {
    const size_t page = size_t(id.page) * format.page_size;
    const auto slot = [&](int row) {
      return row < 0 ? format.page_size
                     : jet::LoadLe16(reinterpret_cast<const uint8_t*>(bytes.data()) + page +
                                     format.data_header_size + 2 * row) & jet::kSlotOffsetMask;
    };
    const size_t start = page + slot(id.row), end = page + slot(int(id.row) - 1);
    mark = bytes.find(std::string("MR2\0", 4), start);
    if (mark < end && (uint8_t(bytes[mark - 9]) & 0x80) != 0) return false;  // inline
    mark = std::string::npos;
    return true;
  }).ok());
  ASSERT_NE(mark, std::string::npos);
  bytes[mark] = '9';
  const std::string path = dir.File("props.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(path, bytes));
  jet::CheckReport check;
  ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
  EXPECT_TRUE(check.HasDamage());
  jet::RepairReport report;
  ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
  ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
  EXPECT_FALSE(check.HasDamage());
  EXPECT_EQ(report.tables.front().name, "MSysObjects");
  EXPECT_GE(report.tables.front().values_cut, 1u);
  TableRows before, after;
  std::string error;
  ASSERT_TRUE(ReadTableRows(original, &before, &error)) << error;
  ASSERT_TRUE(ReadTableRows(path, &after, &error)) << error;
  EXPECT_EQ(after, before);
}

// A flipped count byte leaves the rest of a row whole, as other readers read it: a
// column count no row can have, or a variable-column count the offset table does not
// end with, is mended from the rest and the row kept unchanged. A fixed key column
// whose null bit was cleared, while its bytes still give the key its index entry
// holds, drops the row; so does a slot garbled into a deleted one inside the free
// space, where the definition's row count shows the row it hid. An offset no reader
// reads that falls back is damage the check sees, and the repair keeps the row.
TEST(RepairPages, GarbledCountsAreMendedAndHiddenValuesDropTheirRows) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    jet::TableSpec t;
    t.name = "t";
    t.columns = {{"id", jet::ColumnType::kLong},
                 {"n", jet::ColumnType::kLong},
                 {"name", jet::ColumnType::kText, 20},
                 {"note", jet::ColumnType::kText, 20}};
    t.indexes = {{"n", {{"n", true}}}};
    for (int i = 1; i <= 4; ++i)
      t.rows.push_back({{Value::Long(i), Value::Long(10 * i), Value::Text("name " + std::to_string(i)), Value::Null()}});
    jet::TableSpec plain;
    plain.name = "plain";
    plain.columns = {{"v", jet::ColumnType::kLong}};
    for (int i = 0; i < 3; ++i) plain.rows.push_back({{Value::Long(i)}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({t, plain}, version)) << db.error();
    const std::vector<jet::RowId> rows = db.LiveRows("t"), plain_rows = db.LiveRows("plain");
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(plain_rows.size(), 3u);
    const std::string original = dir.File(std::string("original") + jet::VersionName(version) + ".mdb");
    ASSERT_TRUE(db.WriteTo(original));
    TableRows before;
    std::string error;
    ASSERT_TRUE(ReadTableRows(original, &before, &error)) << error;

    const size_t count_width = db.format().row_column_count_size;
    size_t size = 0;
    {
      // The end offset of the null "note", which no reader reads, falls back to 0:
      // damage the check sees, and the repair keeps the row as it reads.
      testing_support::DatabaseBytes offsets = db;
      uint8_t* row = offsets.Row(rows[3], &size);
      const size_t entry2 = version == jet::Version::kJet3 ? size - 1 - 1 - 3 : size - 1 - 2 - 2 - 4;
      std::fill(row + entry2, row + entry2 + count_width, uint8_t(0));
      const std::string path = dir.File(std::string("offsets") + jet::VersionName(version) + ".mdb");
      ASSERT_TRUE(offsets.WriteTo(path));
      jet::CheckReport check;
      ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_TRUE(check.HasDamage());
      jet::RepairReport report;
      ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
      TableRows after;
      ASSERT_TRUE(ReadTableRows(path, &after, &error)) << error;
      EXPECT_EQ(after, before);
    }
    db.Row(rows[0], &size)[0] = 0xC7;                       // 199 columns of 3
    uint8_t* row = db.Row(rows[1], &size);
    row[size - 1 - count_width] = 0x30;                     // 48 variable columns of 1
    db.SetPresent(rows[2], 1, false);                       // "n" null, its bytes still 30
    const jet::RowId last = plain_rows.back();              // a deleted slot in the free space
    const uint32_t row_area = db.format().data_header_size + 2u * jet::LoadLe16(db.Page(last.page) + db.format().data_row_count);
    jet::StoreLe16(db.Slot(last), uint16_t(jet::kSlotDeleted | (row_area + 2)));
    const std::string path = dir.File(std::string("counts") + jet::VersionName(version) + ".mdb");
    ASSERT_TRUE(db.WriteTo(path));

    jet::RepairReport report;
    ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
    TableRows after;
    ASSERT_TRUE(ReadTableRows(path, &after, &error)) << error;
    EXPECT_EQ(testing_support::RowsNotIn(after, before), 0u) << "a row kept garbled";
    EXPECT_EQ(after["t"].size(), 3u);
    EXPECT_EQ(after["plain"].size(), 2u);
    for (const jet::RepairTableReport& r : report.tables) {
      if (r.name == "t") {
        EXPECT_EQ(r.rows_kept, 3u);
        EXPECT_EQ(r.lost_by_reason[size_t(jet::LossReason::kInvalid)], 1u);
        EXPECT_EQ(r.rows_lost, 1u);
      }
      if (r.name == "plain") { EXPECT_EQ(r.rows_lost, 1u); }
    }
  }
}

// A flipped offset entry gives a null variable value bytes, which no reader reads: an
// inner entry that then stands past the next one leaves the row as every reader reads
// it, and an end entry past the trailer is put back at the trailer. Neither row is
// lost.
TEST(RepairPages, FlippedOffsetsOfNullValuesLoseNoRow) {
  testing_support::TempDir dir;
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    jet::TableSpec t;
    t.name = "t";
    t.columns = {{"id", jet::ColumnType::kLong}, {"a", jet::ColumnType::kText, 20},
                 {"b", jet::ColumnType::kText, 20}, {"c", jet::ColumnType::kText, 20}};
    for (int i = 1; i <= 3; ++i)
      t.rows.push_back({{Value::Long(i), Value::Text("a" + std::to_string(i)), Value::Null(), Value::Null()}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({t}, version)) << db.error();
    const std::vector<jet::RowId> rows = db.LiveRows("t");
    const std::string original = dir.File(std::string("original") + jet::VersionName(version) + ".mdb");
    ASSERT_TRUE(db.WriteTo(original));
    TableRows before, after;
    std::string error;
    ASSERT_TRUE(ReadTableRows(original, &before, &error)) << error;
    // Entry i of the offset table of a row of `size` bytes (3 variable columns, a
    // one-byte mask), and its width.
    const bool j3 = jet::IsJet3(version);
    const auto entry = [&](uint8_t* row, size_t size, size_t i) {
      return j3 ? row + size - 1 - 1 - (i + 1) : row + size - 1 - 2 - 2 * (i + 1);
    };
    size_t size = 0;
    uint8_t* row = db.Row(rows[0], &size);
    *entry(row, size, 2) += 9;  // b's end, c's start: past c's end
    row = db.Row(rows[1], &size);
    *entry(row, size, 3) += 9;  // the end entry: past the trailer
    const std::string path = dir.File(std::string("offsets") + jet::VersionName(version) + ".mdb");
    ASSERT_TRUE(db.WriteTo(path));
    jet::RepairReport report;
    ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
    EXPECT_EQ(report.RowsLost(), 0u);
    ASSERT_TRUE(ReadTableRows(path, &after, &error)) << error;
    EXPECT_EQ(after, before);
  }
}

// A flipped byte in an index leaf can garble an entry's row pointer rather than a
// row: the entry then points past any file, at another structure's page or at a slot
// no row holds, while its row is intact. That is no lost row, and its key is not
// listed as a lost row's, whether or not another index vouches for the row.
TEST(RepairPages, GarbledEntryPointersLoseNoRow) {
  testing_support::TempDir dir;
  for (bool second_index : {false, true}) {
    jet::TableSpec keyed;
    keyed.name = "keyed";
    keyed.columns = {{"id", jet::ColumnType::kLong}, {"name", jet::ColumnType::kText, 20}};
    keyed.indexes = {{"PrimaryKey", {{"id", true}}, true}};
    if (second_index) keyed.indexes.push_back({"name", {{"name", true}}});
    for (int i = 0; i < 20; ++i) keyed.rows.push_back({{Value::Long(1000 + i), Value::Text("row " + std::to_string(i))}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({keyed})) << db.error();
    std::vector<jet::RowId> rows;
    uint32_t leaf = 0;
    {
      auto reader = db.Open();
      ASSERT_TRUE(reader != nullptr);
      const jet::TableDef* def = nullptr;
      ASSERT_TRUE(reader->GetTableDefByName("keyed", &def).ok());
      leaf = def->real_indexes[def->logical_indexes[0].real_index].root_page;
      reader->ScanRows(*def, [&](const jet::RowId& id, const std::vector<Value>&) { return rows.push_back(id), true; });
    }
    ASSERT_EQ(rows.size(), 20u);
    uint8_t* past_any_file = db.EntryPointer(leaf, rows[0]);
    uint8_t* other_structure = db.EntryPointer(leaf, rows[1]);
    uint8_t* no_such_slot = db.EntryPointer(leaf, rows[2]);
    ASSERT_TRUE(past_any_file && other_structure && no_such_slot);
    std::fill(past_any_file, past_any_file + 3, uint8_t(0xFF));
    other_structure[0] = 0, other_structure[1] = 0, other_structure[2] = 2;  // the catalog's definition
    no_such_slot[3] = 0xF0;
    const std::string path = dir.File(second_index ? "two.mdb" : "one.mdb");
    ASSERT_TRUE(db.WriteTo(path));

    jet::RepairReport report;
    ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
    EXPECT_EQ(testing_support::TableRowCounts(path)["keyed"], 20u);
    for (const jet::RepairTableReport& t : report.tables) {
      if (t.name != "keyed") continue;
      EXPECT_EQ(t.rows_kept, 20u) << second_index;
      EXPECT_EQ(t.rows_lost, 0u) << second_index;
      EXPECT_TRUE(t.lost_keys.empty()) << second_index << ": " << t.lost_keys.front();
    }
  }
}

// A flip in a data page's owner field can name another table. The table's map and its
// index entries (or, without an index, its definition's row count) still name the
// page: the rows it no longer yields are reported lost, never dropped unreported, and
// the other table keeps what it had.
TEST(RepairPages, RowsOfAPageWhoseOwnerNamesAnotherTableAreAccounted) {
  testing_support::TempDir dir;
  for (bool indexed : {true, false}) {
    SCOPED_TRACE(indexed ? "indexed" : "without index");
    jet::TableSpec keyed;
    keyed.name = "keyed";
    keyed.columns = {{"id", jet::ColumnType::kLong}, {"name", jet::ColumnType::kText, 20}};
    if (indexed) keyed.indexes = {{"PrimaryKey", {{"id", true}}, true}};
    for (int i = 0; i < 10; ++i) keyed.rows.push_back({{Value::Long(i), Value::Text("row " + std::to_string(i))}});
    jet::TableSpec other;
    other.name = "other";
    other.columns = {{"x", jet::ColumnType::kLong}};
    other.rows.push_back({{Value::Long(7)}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({keyed, other})) << db.error();
    uint32_t keyed_first = 0, other_first = 0;
    {
      auto reader = db.Open();
      ASSERT_TRUE(reader != nullptr);
      const jet::TableDef* def = nullptr;
      ASSERT_TRUE(reader->GetTableDefByName("keyed", &def).ok());
      keyed_first = def->first_page;
      ASSERT_TRUE(reader->GetTableDefByName("other", &def).ok());
      other_first = def->first_page;
    }
    uint32_t page = 0;
    for (uint32_t p = 1; p < db.page_count() && page == 0; ++p)
      if (db.Page(p)[0] == jet::kPageData && jet::LoadLe32(db.Page(p) + 4) == keyed_first) page = p;
    ASSERT_NE(page, 0u);
    jet::StoreLe32(db.Page(page) + 4, other_first);
    const std::string path = dir.File(indexed ? "indexed.mdb" : "plain.mdb");
    ASSERT_TRUE(db.WriteTo(path));

    jet::RepairReport report;
    ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok());
    EXPECT_EQ(testing_support::TableRowCounts(path)["other"], 1u);
    bool reported = false;
    for (const jet::RepairTableReport& t : report.tables) {
      if (t.name != "keyed") continue;
      reported = true;
      EXPECT_EQ(t.rows_kept + t.rows_lost, 10u);
    }
    EXPECT_TRUE(reported);
  }
}

}  // namespace
