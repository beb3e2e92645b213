// Compaction of every real Jet 3 and Jet 4 test file: it must succeed (which means
// its self-verification passed), keep header, encoding and password, make the file
// no larger (smaller where there was slack), reach a fixed point when run again, and
// leave a file whose structures hold up to checks made here independently of the
// compaction code: every page claimed exactly once, the global map naming no page in
// use as free, row counts and AutoNumber seeds right, indexes complete and in order,
// and index keys equal to keys computed from the rows wherever that is possible.
#include "jet/maintain/compact.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "jet/base/byte_order.h"
#include "jet/base/env.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "jet/write/index_key.h"
#include "jet/read/index_reader.h"
#include "jet/read/long_value.h"
#include "jet/file/page_file.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "jet/file/usage_map.h"
#include "tests/support/test_support.h"

namespace jet {
namespace {

std::vector<std::string> JetFiles() {
  std::vector<std::string> files = testing_support::TestDataFiles("jet3");
  for (const std::string& f : testing_support::TestDataFiles("jet4")) files.push_back(f);
  return files;
}


// Every row of every table, as text, keyed by table name; table ids are not mapped,
// so this is for comparing two results of the same layout.
std::map<std::string, std::vector<std::string>> AllRows(Database& db) {
  std::map<std::string, std::vector<std::string>> rows;
  for (const CatalogObject* object : db.Tables(true)) {
    const TableDef* def;
    EXPECT_TRUE(db.GetTableDef(uint32_t(object->id), &def).ok()) << object->name;
    std::vector<std::string>& lines = rows[object->name];
    EXPECT_TRUE(db.ScanRows(*def, [&](const RowId&, const std::vector<Value>& values) {
                    std::string line;
                    for (const Value& v : values) line += v.ToText() + "|";
                    lines.push_back(line);
                    return true;
                  }).ok());
  }
  return rows;
}

// Page claims: every page of a compacted file belongs to exactly one structure.
class PageClaims {
 public:
  explicit PageClaims(uint32_t page_count) : owner_(page_count) {}
  void Claim(uint32_t page, const std::string& what) {
    if (page >= owner_.size()) {
      ADD_FAILURE() << what << " names page " << page << " past the end";
      return;
    }
    if (!owner_[page].empty()) ADD_FAILURE() << "page " << page << " claimed by " << owner_[page] << " and " << what;
    owner_[page] = what;
  }
  void ExpectAllClaimed() const {
    for (size_t p = 0; p < owner_.size(); ++p) EXPECT_FALSE(owner_[p].empty()) << "page " << p << " is reached by nothing";
  }

 private:
  std::vector<std::string> owner_;
};

std::vector<uint32_t> MapPages(const PageFile& file, uint32_t pointer, const std::string& what) {
  UsageMap map;
  Status s = ReadUsageMap(file, pointer, &map);
  EXPECT_TRUE(s.ok()) << what << ": " << s.ToString();
  EXPECT_EQ(map.pages_past_end, 0u) << what;
  return map.pages;
}

// Structural checks of one compacted file (see the file comment).
void CheckStructures(const std::string& path) {
  SCOPED_TRACE(path);
  std::unique_ptr<Database> db;
  ASSERT_TRUE(Database::Open(path, &db).ok());
  const PageFile& file = db->file();
  ASSERT_FALSE(file.has_partial_page());
  const Format& format = db->format();
  PageClaims claims(file.page_count());
  claims.Claim(0, "header");
  claims.Claim(1, "global map");

  // Page 1, row 0: the global map; a set bit means free, and nothing inside the file is.
  std::vector<uint8_t> page(format.page_size);
  ASSERT_TRUE(file.ReadPage(1, page.data()).ok());
  DataPageHeader header;
  ASSERT_TRUE(ParseDataPage(format, page.data(), &header).ok());
  RowSlot slot;
  ASSERT_TRUE(GetRowSlot(format, page.data(), header, 0, &slot).ok());
  UsageMap global;
  ASSERT_TRUE(DecodeUsageMap(file, page.data() + slot.start, slot.size(), &global).ok());
  EXPECT_TRUE(global.pages.empty()) << "the global map marks " << global.pages.size() << " pages in use as free";

  std::set<uint32_t> host_pages;
  const auto note_host = [&](uint32_t pointer) {
    if (pointer != 0) host_pages.insert(pointer >> 8);
  };
  for (const CatalogObject* object : db->Tables(true)) {
    const std::string name = object->name;
    SCOPED_TRACE(name);
    const TableDef* def;
    ASSERT_TRUE(db->GetTableDef(uint32_t(object->id), &def).ok());
    EXPECT_EQ(def->first_page, uint32_t(object->id));
    for (uint32_t p : def->pages) claims.Claim(p, name + " definition");
    note_host(def->owned_map);
    note_host(def->free_map);

    const std::vector<uint32_t> owned = MapPages(file, def->owned_map, name + " owned map");
    for (uint32_t p : owned) claims.Claim(p, name + " data");
    const std::vector<uint32_t> free = MapPages(file, def->free_map, name + " free map");
    for (uint32_t p : free) EXPECT_TRUE(std::binary_search(owned.begin(), owned.end(), p)) << "free page " << p;

    // Rows: count, AutoNumber seed, long values and their pages.
    std::vector<RowId> live;
    int64_t max_auto = 0;
    int auto_column = -1;
    for (size_t i = 0; i < def->columns.size(); ++i) {
      const ColumnDef& c = def->columns[i];
      if (c.type() == ColumnType::kLong && (c.flags & kColumnAutoNumber) && !(c.flags & kColumnGuidAutoNumber) &&
          auto_column < 0)
        auto_column = int(i);
    }
    std::set<uint32_t> lv_pages_by_column_number[256];
    std::set<uint32_t> lv_pages;
    LongValueReader lv_reader(file);
    std::vector<RawColumn> raw;
    std::vector<uint8_t> lv_value;
    std::vector<RowId> lv_rows;
    TableScanner scanner(file, *def);
    std::vector<std::string> notes;
    ASSERT_TRUE(scanner.Scan([&](const RowId& row, const uint8_t* bytes, size_t size) {
                          live.push_back(row);
                          EXPECT_TRUE(CrackRow(format, *def, bytes, size, &raw).ok());
                          for (size_t i = 0; i < def->columns.size(); ++i) {
                            const ColumnDef& c = def->columns[i];
                            if (int(i) == auto_column && !raw[i].is_null)
                              max_auto = std::max<int64_t>(max_auto, int32_t(LoadLe32(bytes + raw[i].offset)));
                            if (!c.is_long_value() || raw[i].is_null || raw[i].size == 0) continue;
                            lv_rows.clear();
                            EXPECT_TRUE(lv_reader.Read(bytes + raw[i].offset, raw[i].size, &lv_value, &lv_rows).ok());
                            for (const RowId& r : lv_rows) {
                              lv_pages.insert(r.page);
                              lv_pages_by_column_number[c.number & 0xFF].insert(r.page);
                            }
                          }
                          return true;
                        },
                        &notes)
                    .ok());
    EXPECT_EQ(def->row_count, live.size());
    if (auto_column >= 0) {
      EXPECT_EQ(def->last_autonumber, uint32_t(max_auto)) << "AutoNumber seed";
    }
    for (const LongValueMaps& maps : def->long_value_maps) {
      note_host(maps.owned_map);
      note_host(maps.free_map);
      if (maps.owned_map == 0) continue;
      const std::vector<uint32_t> pages = MapPages(file, maps.owned_map, name + " long-value map");
      const std::set<uint32_t>& used = lv_pages_by_column_number[maps.column_number & 0xFF];
      EXPECT_EQ(std::vector<uint32_t>(used.begin(), used.end()), pages) << "long-value map of column " << maps.column_number;
    }
    for (uint32_t p : lv_pages) claims.Claim(p, name + " long values");

    // Indexes: usage map = tree pages; entries ascending; every row reachable.
    std::sort(live.begin(), live.end());
    for (size_t i = 0; i < def->real_indexes.size(); ++i) {
      const RealIndex& index = def->real_indexes[i];
      SCOPED_TRACE("index " + std::to_string(i));
      note_host(index.usage_map);
      const std::vector<uint32_t> pages = MapPages(file, index.usage_map, name + " index map");
      for (uint32_t p : pages) claims.Claim(p, name + " index " + std::to_string(i));
      std::vector<IndexEntry> entries;
      IndexWalkStats stats;
      ASSERT_TRUE(WalkIndex(file, def->first_page, index.root_page,
                            [&](const std::string& key, const RowId& row) {
                              entries.push_back({key, row});
                              return true;
                            },
                            &stats)
                      .ok());
      EXPECT_TRUE(stats.sibling_links_consistent);
      EXPECT_EQ(stats.node_pages + stats.leaf_pages, pages.size());
      EXPECT_EQ(index.stat_entries, entries.size());
      std::set<RowId> reached;
      for (size_t e = 0; e < entries.size(); ++e) {
        if (e > 0) {
          const int c = entries[e - 1].key.compare(entries[e].key);
          EXPECT_TRUE(c < 0 || (c == 0 && entries[e - 1].row < entries[e].row)) << "entry " << e << " out of order";
        }
        EXPECT_TRUE(std::binary_search(live.begin(), live.end(), entries[e].row)) << "entry " << e << " points at no row";
        reached.insert(entries[e].row);
      }
      if (!(index.flags & kIndexIgnoreNulls)) {
        EXPECT_EQ(reached.size(), live.size()) << "rows the index does not reach";
      }
      // Keys recomputed from the rows, where the encoder can: catches wrong table ids.
      if (CanComputeKeys(format, *def, index)) {
        std::map<RowId, std::vector<Value>> values;
        ASSERT_TRUE(db->ScanRows(*def, [&](const RowId& row, const std::vector<Value>& v) {
                        values[row] = v;
                        return true;
                      }).ok());
        for (const IndexEntry& entry : entries) {
          std::string key;
          if (!EncodeIndexKey(format, *def, index, values[entry.row], &key).ok()) continue;
          EXPECT_EQ(key, entry.key) << "row " << entry.row.page << ":" << int(entry.row.row);
        }
      }
    }
  }
  for (uint32_t p : host_pages) claims.Claim(p, "usage-map host page");
  claims.ExpectAllClaimed();
}

// Files whose slack the manifest names; compaction must make each smaller.
const std::set<std::string> kFilesWithSlack = {"asp_test.mdb", "nwind.mdb",   "jk_del.mdb",
                                               "sqlp_northwind.mdb", "mr_pwd2000.mdb", "rk_inventory.mdb",
                                               "dbjs_test.mdb", "jk_overflow_2003.mdb"};

TEST(CompactFiles, EveryJetFileCompactsVerifiesAndReachesAFixedPoint) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  std::printf("%-24s %10s %10s %6s %6s\n", "file", "source", "result", "pages", "again");
  for (const std::string& source : JetFiles()) {
    const std::string name = jet::BaseName(source);
    SCOPED_TRACE(name);
    const std::string first = dir.File(name + ".1");
    const std::string second = dir.File(name + ".2");
    CompactReport report, again;
    Status s = Compact(Env::Default(), source, first, CompactOptions(), &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    // Again with every table's keys on a second thread: that must change nothing either.
    CompactOptions threaded;
    threaded.second_thread_pages = 0;
    s = Compact(Env::Default(), first, second, threaded, &again);
    ASSERT_TRUE(s.ok()) << s.ToString();
    std::printf("%-24s %10llu %10llu %6u %6u\n", name.c_str(), static_cast<unsigned long long>(report.source_bytes),
                static_cast<unsigned long long>(report.result_bytes), report.result_pages, again.result_pages);

    EXPECT_LE(report.result_bytes, report.source_bytes);
    if (kFilesWithSlack.count(name)) {
      EXPECT_LT(report.result_bytes, report.source_bytes);
    }
    EXPECT_EQ(testing_support::ReadFileBytes(first).size(), report.result_bytes);
    EXPECT_EQ(again.result_bytes, report.result_bytes) << "not a fixed point";
    EXPECT_TRUE(testing_support::ReadFileBytes(first) == testing_support::ReadFileBytes(second))
        << "compacting the result again changed its bytes";

    std::unique_ptr<Database> src, dst, dst2;
    ASSERT_TRUE(Database::Open(source, &src).ok());
    ASSERT_TRUE(Database::Open(first, &dst).ok());
    ASSERT_TRUE(Database::Open(second, &dst2).ok());
    // Header: format, code page, sort order, key and password carried over.
    EXPECT_EQ(dst->header().version, src->header().version);
    EXPECT_EQ(dst->header().code_page, src->header().code_page);
    EXPECT_EQ(dst->header().sort_lcid, src->header().sort_lcid);
    EXPECT_EQ(dst->header().db_key, src->header().db_key);
    EXPECT_EQ(dst->header().has_password, src->header().has_password);
    EXPECT_EQ(dst->header().password, src->header().password);
    EXPECT_TRUE(AllRows(*dst) == AllRows(*dst2)) << "compacting the result again changed its rows";
    // Same tables, same live row counts as the source.
    size_t tables = 0;
    for (const CatalogObject* object : src->Tables(true)) {
      const CatalogObject* copy = dst->FindObject(object->name, kObjectLocalTable);
      ASSERT_NE(copy, nullptr) << object->name;
      ++tables;
    }
    EXPECT_EQ(dst->Tables(true).size(), tables);
    uint64_t rows = 0;
    for (const CompactTableReport& t : report.tables) rows += t.rows;
    uint64_t source_rows = 0;
    for (const CatalogObject* object : src->Tables(true)) {
      const TableDef* def;
      ASSERT_TRUE(src->GetTableDef(uint32_t(object->id), &def).ok());
      ASSERT_TRUE(src->ScanRows(*def, [&](const RowId&, const std::vector<Value>&) {
                       ++source_rows;
                       return true;
                     }).ok());
    }
    EXPECT_EQ(rows, source_rows);
    CheckStructures(first);
  }
}

TEST(CompactFiles, EncodedFilesStayEncoded) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  for (const std::string& source : JetFiles()) {
    const std::string name = jet::BaseName(source);
    if (name != "jk_enc97.mdb" && name != "jk_enc.mdb") continue;
    SCOPED_TRACE(name);
    const std::string out = dir.File(name);
    ASSERT_TRUE(Compact(Env::Default(), source, out, CompactOptions(), nullptr).ok());
    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(out, &file).ok());
    ASSERT_NE(file->header().db_key, 0u);
    // Page 2 decodes to a definition but is not one on disk: it really is encoded.
    std::vector<uint8_t> decoded(file->page_size());
    ASSERT_TRUE(file->ReadPage(2, decoded.data()).ok());
    EXPECT_EQ(decoded[0], kPageTableDef);
    const std::string bytes = testing_support::ReadFileBytes(out);
    EXPECT_NE(std::string(reinterpret_cast<const char*>(decoded.data()), decoded.size()),
              bytes.substr(2 * file->page_size(), file->page_size()));
  }
}

TEST(CompactFiles, PageZeroIsTheSourcesWithNeutralCommitBytes) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  for (const std::string& source : JetFiles()) {
    const std::string name = jet::BaseName(source);
    if (name != "mr_pwd2003.mdb" && name != "nwind.mdb") continue;
    SCOPED_TRACE(name);
    const std::string out = dir.File(name);
    ASSERT_TRUE(Compact(Env::Default(), source, out, CompactOptions(), nullptr).ok());
    const std::string a = testing_support::ReadFileBytes(source);
    const std::string b = testing_support::ReadFileBytes(out);
    std::unique_ptr<PageFile> file;
    ASSERT_TRUE(PageFile::Open(out, &file).ok());
    const size_t page_size = file->page_size();
    EXPECT_EQ(a.substr(0, page_size - 512), b.substr(0, page_size - 512));
    for (size_t at = page_size - 512; at < page_size; at += 2) {
      EXPECT_EQ(b[at], 0x00) << at;
      EXPECT_EQ(b[at + 1], 0x01) << at;
    }
  }
}

}  // namespace
}  // namespace jet
