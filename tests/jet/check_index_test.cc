// The check's comparison of indexes with their rows: a row value changed under an
// index is found at its row, a row whose key cannot be computed is matched by its
// pointer alone, and comparing a disagreeing index in runs of rows finds the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "jet/maintain/check.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "jet/write/index_key.h"
#include "jet/file/page_file.h"
#include "jet/read/row.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"
#include "tools/damage/page_damage.h"

namespace {

using testing_support::TempDir;
using testing_support::TestDataDir;

// A text value of a column that leads an index whose keys can be computed.
struct TextValue {
  std::string table;
  jet::RowId row;
  uint64_t offset = 0;  // of its first byte in the file
  uint32_t size = 0;
};

// Every non-empty such value of the Jet 3 file at `path` (code page text, one byte a
// character), table by table in storage order.
std::vector<TextValue> IndexedTextValues(const std::string& path) {
  std::vector<TextValue> found;
  std::unique_ptr<jet::Database> db;
  if (!jet::Database::Open(path, &db).ok()) return found;
  const jet::Format& format = db->format();
  std::vector<uint8_t> page(format.page_size);
  for (const jet::CatalogObject* object : db->Tables(false)) {
    const jet::TableDef* table = nullptr;
    if (!db->GetTableDefByName(object->name, &table).ok()) continue;
    int column = -1;
    for (const jet::RealIndex& index : table->real_indexes) {
      const int pos = table->FindColumnByNumber(index.columns[0].column_number);
      if (pos >= 0 && table->columns[pos].type() == jet::ColumnType::kText &&
          jet::CanComputeKeys(format, *table, index)) {
        column = pos;
        break;
      }
    }
    if (column < 0) continue;
    db->ScanRows(*table, [&](const jet::RowId& id, const std::vector<jet::Value>&) {
      jet::DataPageHeader header;
      jet::RowSlot slot;
      std::vector<jet::RawColumn> raw;
      if (!db->file().ReadPage(id.page, page.data()).ok() || !jet::ParseDataPage(format, page.data(), &header).ok() ||
          !jet::GetRowSlot(format, page.data(), header, id.row, &slot).ok() || slot.overflow ||
          !jet::CrackRow(format, *table, page.data() + slot.start, slot.size(), &raw).ok())
        return true;
      const jet::RawColumn& r = raw[size_t(column)];
      if (r.is_null || r.size == 0) return true;
      found.push_back({object->name, id, uint64_t(id.page) * format.page_size + slot.start + r.offset, r.size});
      return true;
    });
  }
  return found;
}

void PatchByte(const std::string& path, uint64_t offset, uint8_t byte) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(std::streamoff(offset));
  f.put(char(byte));
  ASSERT_TRUE(f.good()) << path;
}

uint8_t ReadByte(const std::string& path, uint64_t offset) {
  std::ifstream f(path, std::ios::binary);
  f.seekg(std::streamoff(offset));
  return uint8_t(f.get());
}

// The first character as another letter, so that the row's key changes.
void ChangeLetter(const std::string& path, const TextValue& v) {
  const uint8_t b = ReadByte(path, v.offset);
  PatchByte(path, v.offset, b == 'a' ? 'b' : b == 'A' ? 'B' : (b >= 'A' && b <= 'Z') ? 'A' : 'a');
}

jet::CheckReport Check(const std::string& path, uint64_t run_rows = jet::CheckOptions().detailed_run_rows,
                       uint64_t second_thread_pages = jet::CheckOptions().second_thread_pages) {
  jet::CheckReport report;
  std::unique_ptr<jet::PageFile> file;
  jet::Status s = jet::PageFile::Open(path, &file);
  EXPECT_TRUE(s.ok()) << s.ToString();
  if (!s.ok()) return report;
  jet::CheckOptions options;
  options.detailed_run_rows = run_rows;
  options.second_thread_pages = second_thread_pages;
  s = jet::CheckPageFile(*file, options, &report);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return report;
}

using FindingTuple = std::tuple<int, std::string, int64_t, int, std::string, std::string, std::string>;

bool IsSummary(const jet::CheckFinding& f) {
  return f.page == -1 && f.detail.find(" more findings of this kind are not listed") != std::string::npos;
}

// The findings in a comparable order. Of a kind with more than 100 findings, which
// ones are listed depends on the order they were met in: only their number counts.
std::vector<FindingTuple> Sorted(const jet::CheckReport& report) {
  std::map<std::string, uint64_t> listed, total;
  std::map<std::string, int> severity;
  for (const jet::CheckFinding& f : report.findings) {
    ++(IsSummary(f) ? total : listed)[jet::FindingKindName(f.kind)];
    if (IsSummary(f)) total[jet::FindingKindName(f.kind)] += std::stoull(f.detail) - 1;
    severity[jet::FindingKindName(f.kind)] = int(f.severity);
  }
  std::vector<FindingTuple> all;
  for (const jet::CheckFinding& f : report.findings)
    if (listed[jet::FindingKindName(f.kind)] < 100) all.emplace_back(int(f.severity), jet::FindingKindName(f.kind), f.page, f.row, f.table, f.index, f.detail);
  for (const auto& [kind, n] : listed)
    if (n >= 100) all.emplace_back(severity[kind], kind, -2, -2, "", "", std::to_string(n + total[kind]) + " in all");
  std::sort(all.begin(), all.end());
  return all;
}

// The findings as the report lists them.
std::vector<FindingTuple> InOrder(const jet::CheckReport& report) {
  std::vector<FindingTuple> all;
  for (const jet::CheckFinding& f : report.findings)
    all.emplace_back(int(f.severity), jet::FindingKindName(f.kind), f.page, f.row, f.table, f.index, f.detail);
  return all;
}

size_t CountIndexDamage(const jet::CheckReport& report) {
  size_t n = 0;
  for (const jet::CheckFinding& f : report.findings)
    n += f.severity == jet::CheckSeverity::kDamage && jet::FindingKindInfoOf(f.kind).repair == jet::RepairAction::kRebuildIndex;
  return n;
}

TEST(CheckIndexes, ChangedValueIsAWrongKeyOfItsRow) {
  TempDir dir;
  const std::string path = dir.File("changed.mdb");
  ASSERT_TRUE(testing_support::CopyFixture(jet::Version::kJet3, path)) << testing_support::FixtureError();
  const std::vector<TextValue> values = IndexedTextValues(path);
  ASSERT_FALSE(values.empty());
  ASSERT_EQ(CountIndexDamage(Check(path)), 0u);

  const TextValue& v = values[values.size() / 2];
  ChangeLetter(path, v);
  const jet::CheckReport report = Check(path);
  ASSERT_EQ(CountIndexDamage(report), 1u);
  bool found = false;
  for (const jet::CheckFinding& f : report.findings)
    if (f.kind == jet::FindingKind::kIndexKey) {
      EXPECT_EQ(f.page, int64_t(v.row.page));
      EXPECT_EQ(f.row, int(v.row.row));
      EXPECT_EQ(f.table, v.table);
      found = true;
    }
  EXPECT_TRUE(found);
}

TEST(CheckIndexes, RowWhoseKeyCannotBeComputedIsMatchedByPointer) {
  // U+001A has no General 97 code: the encoder refuses the key.
  std::string refused;
  ASSERT_FALSE(jet::AppendTextSortKey(jet::TextCollation::kGeneral97, "\x1a", true, &refused).ok());
  TempDir dir;
  const std::string path = dir.File("refused.mdb");
  ASSERT_TRUE(testing_support::CopyFixture(jet::Version::kJet3, path)) << testing_support::FixtureError();
  const std::vector<TextValue> values = IndexedTextValues(path);
  ASSERT_GE(values.size(), 2u);
  PatchByte(path, values.front().offset, 0x1A);
  PatchByte(path, values.back().offset, 0x1A);
  EXPECT_EQ(CountIndexDamage(Check(path)), 0u);
  // Such a row among rows with known keys does not hide a wrong key of another.
  ChangeLetter(path, values[values.size() / 2]);
  const jet::CheckReport report = Check(path);
  EXPECT_EQ(CountIndexDamage(report), 1u);
  EXPECT_TRUE(report.Has(jet::FindingKind::kIndexKey));
}

TEST(CheckIndexes, RunsOfRowsGiveTheSameFindings) {
  TempDir dir;
  const std::string path = dir.File("runs.mdb");
  ASSERT_TRUE(testing_support::CopyFixture(jet::Version::kJet3, path)) << testing_support::FixtureError();
  const std::vector<TextValue> values = IndexedTextValues(path);
  ASSERT_GE(values.size(), 6u);
  size_t changed = 0;
  for (size_t i = 0; i < values.size(); i += 3, ++changed) ChangeLetter(path, values[i]);
  const jet::CheckReport whole = Check(path);
  size_t wrong_keys = 0;
  for (const jet::CheckFinding& f : whole.findings) wrong_keys += f.kind == jet::FindingKind::kIndexKey;
  EXPECT_EQ(wrong_keys, std::min<size_t>(changed, 100));
  for (uint64_t run : {1, 2, 7}) EXPECT_EQ(Sorted(Check(path, run)), Sorted(whole)) << "runs of " << run << " rows";
}

TEST(CheckIndexes, RunsOfRowsGiveTheSameFindingsOnDamagedFiles) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  size_t compared = 0, capped = 0;
  for (const char* name : {"jet3/nwind.mdb", "jet3/jk_compindex.mdb", "jet4/sqlp_northwind.mdb",
                           "jet4/fc_reviews.mdb"}) {
    for (damage::Kind kind : {damage::Kind::kIndexLeaf, damage::Kind::kZeroDataPage, damage::Kind::kRowInFreeSpace}) {
      const std::string copy = dir.File(std::string(damage::KindName(kind)) + "-" + std::to_string(compared) + ".mdb");
      damage::Result result;
      jet::Status s = damage::MakeDamagedCopy(TestDataDir() + "/" + name, copy, kind, &result);
      if (s.kind() == jet::ErrorKind::kNotFound) continue;
      ASSERT_TRUE(s.ok()) << name << ": " << s.ToString();
      const jet::CheckReport whole = Check(copy);
      EXPECT_TRUE(whole.HasDamage()) << name << " " << damage::KindName(kind);
      // A kind listed 100 times says how many more there are.
      std::map<std::string, size_t> listed, summaries;
      for (const jet::CheckFinding& f : whole.findings) {
        ++(IsSummary(f) ? summaries : listed)[jet::FindingKindName(f.kind)];
        if (IsSummary(f)) {
          EXPECT_FALSE(f.table.empty()) << name << " " << jet::FindingKindName(f.kind);
        }
      }
      for (const auto& [k, n] : listed) {
        if (n < 100) continue;
        EXPECT_GE(summaries[k], 1u) << name << " " << k;
        ++capped;
      }
      for (uint64_t run : {1, 5})
        EXPECT_EQ(Sorted(Check(copy, run)), Sorted(whole)) << name << " " << damage::KindName(kind) << " runs of " << run;
      ++compared;
    }
  }
  EXPECT_GE(compared, 8u);
  EXPECT_GT(capped, 0u);
}

// The second thread's share of a table (the second half of its rows, index walks) is
// reported where it comes in sequence: with damage in rows of both halves of a table,
// in long values and in index leaves, the report is the one thread's, order included.
TEST(CheckIndexes, TwoThreadsGiveTheReportOfOne) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  std::string path = TestDataDir() + "/jet4/mdbr_nycflights.mdb";
  int step = 0;
  for (damage::Role role : {damage::Role::kData, damage::Role::kData, damage::Role::kData, damage::Role::kData,
                            damage::Role::kData, damage::Role::kData, damage::Role::kLongValue,
                            damage::Role::kIndexLeaf, damage::Role::kIndexLeaf}) {
    damage::PageDamage hit;
    hit.role = role;
    hit.mode = role == damage::Role::kLongValue ? damage::Mode::kTorn : damage::Mode::kFlip;
    hit.seed = uint64_t(++step);
    const std::string next = dir.File("hit" + std::to_string(step) + ".mdb");
    damage::PageDamageResult result;
    jet::Status s = damage::MakePageDamagedCopy(path, next, hit, &result);
    if (s.kind() == jet::ErrorKind::kNotFound) continue;  // no page of the role
    ASSERT_TRUE(s.ok()) << s.ToString();
    path = next;
  }
  const jet::CheckReport one = Check(path, jet::CheckOptions().detailed_run_rows, UINT64_MAX);
  // Row damage on more than one page of a table: its order depends on the merge.
  std::map<std::string, std::set<int64_t>> row_damage_pages;
  for (const jet::CheckFinding& f : one.findings)
    if (f.severity == jet::CheckSeverity::kDamage && f.row >= 0 && f.index.empty())
      row_damage_pages[f.table].insert(f.page);
  size_t most = 0;
  for (const auto& [table, pages] : row_damage_pages) most = std::max(most, pages.size());
  ASSERT_GE(most, 2u) << testing::PrintToString(InOrder(one));
  EXPECT_GT(CountIndexDamage(one), 0u) << testing::PrintToString(InOrder(one));
  for (uint64_t pages : {1, 2}) {
    const jet::CheckReport two = Check(path, jet::CheckOptions().detailed_run_rows, pages);
    EXPECT_EQ(InOrder(two), InOrder(one)) << "second thread from " << pages << " pages";
    EXPECT_EQ(two.live_rows, one.live_rows);
  }
}

// Two threads read the rows of every index that disagrees with them once for all of
// them; one thread reads them again for each. The findings must be the same.
TEST(CheckIndexes, IndexesComparedTogetherGiveTheReportOfOneAtATime) {
  TempDir dir;
  const std::string fixture = testing_support::FixtureDatabase(jet::Version::kJet3);
  ASSERT_FALSE(fixture.empty()) << testing_support::FixtureError();
  std::set<uint32_t> pages;  // of klanten, which has four indexes
  {
    std::unique_ptr<jet::Database> db;
    ASSERT_TRUE(jet::Database::Open(fixture, &db).ok());
    const jet::TableDef* table = nullptr;
    ASSERT_TRUE(db->GetTableDefByName("klanten", &table).ok());
    ASSERT_TRUE(db->ScanRows(*table, [&](const jet::RowId& id, const std::vector<jet::Value>&) {
                    pages.insert(id.page);
                    return true;
                  }).ok());
  }
  ASSERT_GE(pages.size(), 2u);
  damage::PageDamage hit;
  hit.mode = damage::Mode::kTorn;
  hit.page = *std::next(pages.begin(), pages.size() / 2);
  const std::string path = dir.File("torn.mdb");
  damage::PageDamageResult result;
  ASSERT_TRUE(damage::MakePageDamagedCopy(fixture, path, hit, &result).ok());

  const jet::CheckReport one = Check(path, jet::CheckOptions().detailed_run_rows, UINT64_MAX);
  std::set<std::string> compared;
  for (const jet::CheckFinding& f : one.findings)
    if (f.table == "klanten" && !f.index.empty() && f.kind != jet::FindingKind::kIndexStatistics)
      compared.insert(f.index);
  ASSERT_GE(compared.size(), 2u) << testing::PrintToString(InOrder(one));
  EXPECT_EQ(InOrder(Check(path, jet::CheckOptions().detailed_run_rows, 1)), InOrder(one));
}

}  // namespace
