// What a compaction writes anew instead of copying: index keys computed from the row
// values (a damaged key or an entry re-pointed at another row in the source does not
// reach the result), rows encoded from their values (the space of deleted columns
// goes), saved queries without their compiled plans, the password and page encoding
// the options ask for, and the conversions to another format or sort order.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/file/data_page.h"
#include "jet/maintain/check.h"
#include "jet/maintain/compact.h"
#include "jet/read/database.h"
#include "jet/read/index_reader.h"
#include "jet/read/properties.h"
#include "jet/read/row_fetch.h"
#include "tests/support/database_bytes.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace {

using jet::RowId;
using jet::Value;

// Table "t": id (primary key) and name (an index on text), one leaf each.
jet::TableSpec SmallTable() {
  jet::TableSpec t;
  t.name = "t";
  t.columns = {{"id", jet::ColumnType::kLong}, {"name", jet::ColumnType::kText, 40}};
  t.indexes = {{"PrimaryKey", {{"id", true}}, true}, {"name", {{"name", true}}}};
  for (int i = 0; i < 40; ++i) t.rows.push_back({{Value::Long(i), Value::Text("naam " + std::to_string(i))}});
  return t;
}

// The entry area and the ends of the entries (one past each) of the root leaf of
// real index `real` of table "t".
struct Leaf {
  uint8_t* area = nullptr;
  std::vector<size_t> ends;
};

Leaf RootLeaf(testing_support::DatabaseBytes& db, size_t real) {
  Leaf leaf;
  auto reader = db.Open();
  const jet::TableDef* def = nullptr;
  EXPECT_TRUE(reader != nullptr && reader->GetTableDefByName("t", &def).ok());
  if (def == nullptr) return leaf;
  uint8_t* page = db.Page(def->real_indexes[real].root_page);
  const jet::Format& f = db.format();
  EXPECT_EQ(page[0], 0x04) << "the root is a leaf";
  leaf.area = page + f.index_entries;
  for (size_t bit = 0; bit < 8 * size_t(f.index_entries - f.index_bitmap); ++bit)
    if (page[f.index_bitmap + bit / 8] & (1u << (bit % 8))) leaf.ends.push_back(bit);
  return leaf;
}

void ExpectCleanCheck(const std::string& path) {
  jet::CheckReport report;
  ASSERT_TRUE(jet::CheckDatabase(path, &report).ok());
  for (const jet::CheckFinding& f : report.findings) ADD_FAILURE() << f.table << " " << f.index << ": " << f.detail;
}

TEST(CompactRewrite, DamagedKeysAndRepointedEntriesDoNotSurvive) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    SCOPED_TRACE(jet::VersionName(version));
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({SmallTable()}, version)) << db.error();
    // One byte of the name index's first key (inside the key, not its row pointer) ...
    Leaf names = RootLeaf(db, 1);
    ASSERT_GE(names.ends.size(), 2u);
    names.area[names.ends[0] - 5] ^= 0x01;
    // ... and the primary key's first two entries pointing at each other's rows.
    Leaf ids = RootLeaf(db, 0);
    ASSERT_GE(ids.ends.size(), 2u);
    std::swap(ids.area[ids.ends[0] - 1], ids.area[ids.ends[1] - 1]);

    testing_support::TempDir dir;
    const std::string source = dir.File("damaged.mdb"), result = dir.File("compacted.mdb");
    ASSERT_TRUE(db.WriteTo(source));
    jet::CheckReport before;
    ASSERT_TRUE(jet::CheckDatabase(source, &before).ok());
    EXPECT_TRUE(before.HasDamage()) << "the damage is one the check sees";
    jet::CompactReport report;
    const jet::Status s = jet::Compact(jet::Env::Default(), source, result, jet::CompactOptions(), &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    for (const jet::CompactTableReport& t : report.tables) EXPECT_TRUE(t.copied_keys.empty()) << t.name;
    ExpectCleanCheck(result);
  }
}

TEST(CompactRewrite, DeletedColumnsLoseTheirNumbersAndSpace) {
  SKIP_WITHOUT_TESTDATA();
  // Its table "Table1" keeps max_cols=6 with 4 columns (numbers 0, 2, 3, 5).
  {
    const std::string source = testing_support::TestDataDir() + "/jet4/jk_delcol_2003.mdb";
    testing_support::TempDir dir;
    const std::string result = dir.File("compacted.mdb");
    ASSERT_TRUE(jet::Compact(jet::Env::Default(), source, result, jet::CompactOptions(), nullptr).ok());
    std::unique_ptr<jet::Database> src, dst;
    ASSERT_TRUE(jet::Database::Open(source, &src).ok());
    ASSERT_TRUE(jet::Database::Open(result, &dst).ok());
    size_t tables_with_gaps = 0;
    for (const jet::CatalogObject* object : src->Tables(false)) {
      const jet::TableDef *a, *b;
      ASSERT_TRUE(src->GetTableDefByName(object->name, &a).ok());
      ASSERT_TRUE(dst->GetTableDefByName(object->name, &b).ok());
      EXPECT_EQ(b->max_columns, b->columns.size()) << object->name;
      if (a->max_columns == a->columns.size()) continue;
      ++tables_with_gaps;
      // Every row is shorter: the deleted columns' bytes and null-mask bits are gone.
      size_t source_bytes = 0, result_bytes = 0, rows = 0;
      // A struct, not a structured binding: clang before 16 cannot capture the latter.
      struct Side {
        jet::Database* db;
        const jet::TableDef* def;
        size_t* total;
      };
      for (const Side& side : {Side{src.get(), a, &source_bytes}, Side{dst.get(), b, &result_bytes}}) {
        jet::RowFetcher fetcher(side.db->file(), *side.def);
        ASSERT_TRUE(side.db->ScanRows(*side.def, [&](const RowId& id, const std::vector<Value>&) {
                        const uint8_t* bytes;
                        size_t size;
                        EXPECT_TRUE(fetcher.Fetch(id, &bytes, &size).ok());
                        *side.total += size;
                        rows += side.def == a;
                        return true;
                      }).ok());
      }
      EXPECT_GT(rows, 0u);
      EXPECT_LT(result_bytes, source_bytes) << object->name;
    }
    EXPECT_EQ(tables_with_gaps, 1u);
    ExpectCleanCheck(result);
  }
}

TEST(CompactRewrite, SavedQueriesLoseTheirCompiledPlans) {
  SKIP_WITHOUT_TESTDATA();
  // sqlp_northwind.mdb: 22 saved queries, 13 of them compiled.
  const std::string source = testing_support::TestDataDir() + "/jet4/sqlp_northwind.mdb";
  testing_support::TempDir dir;
  const std::string result = dir.File("compacted.mdb");
  jet::CompactReport report;
  ASSERT_TRUE(jet::Compact(jet::Env::Default(), source, result, jet::CompactOptions(), &report).ok());
  EXPECT_EQ(report.query_plans_dropped, 13u);
  std::unique_ptr<jet::Database> dst;
  ASSERT_TRUE(jet::Database::Open(result, &dst).ok());
  const jet::TableDef* def;
  ASSERT_TRUE(dst->GetTableDefByName("MSysObjects", &def).ok());
  const int type = def->FindColumnByName("Type"), plan = def->FindColumnByName("Lv");
  ASSERT_TRUE(type >= 0 && plan >= 0);
  size_t queries = 0;
  ASSERT_TRUE(dst->ScanRows(*def, [&](const RowId&, const std::vector<Value>& values) {
                   if (values[size_t(type)].is_null() || values[size_t(type)].integer() != jet::kObjectQuery) return true;
                   ++queries;
                   EXPECT_TRUE(values[size_t(plan)].is_null());
                   return true;
                 }).ok());
  EXPECT_EQ(queries, 22u);
}

}  // namespace

namespace {

// Every row of every user table as text, by table name.
std::map<std::string, std::multiset<std::string>> UserRows(const std::string& path) {
  std::map<std::string, std::multiset<std::string>> rows;
  std::unique_ptr<jet::Database> db;
  EXPECT_TRUE(jet::Database::Open(path, &db).ok()) << path;
  if (db == nullptr) return rows;
  for (const jet::CatalogObject* object : db->Tables(false)) {
    const jet::TableDef* def;
    EXPECT_TRUE(db->GetTableDef(uint32_t(object->id), &def).ok());
    EXPECT_TRUE(db->ScanRows(*def, [&](const RowId&, const std::vector<Value>& values) {
                    std::string line;
                    for (const Value& v : values) line += v.ToText() + "|";
                    rows[object->name].insert(line);
                    return true;
                  }).ok());
  }
  return rows;
}

TEST(CompactRewrite, PasswordAndPageEncodingAsAsked) {
  for (const std::string& source : testing_support::FixtureDatabaseFiles()) {
    SCOPED_TRACE(source);
    testing_support::TempDir dir;
    const std::string encoded = dir.File("encoded.mdb"), plain = dir.File("plain.mdb");
    jet::CompactOptions options;
    options.password = "Geheim! \xC3\xA9";  // "é" is in code page 1252 too
    options.encoding = jet::PageEncoding::kEncode;
    jet::Status s = jet::Compact(jet::Env::Default(), source, encoded, options, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();
    options.password = "";
    options.encoding = jet::PageEncoding::kDecode;
    s = jet::Compact(jet::Env::Default(), encoded, plain, options, nullptr);
    ASSERT_TRUE(s.ok()) << s.ToString();

    std::unique_ptr<jet::Database> a, b;
    ASSERT_TRUE(jet::Database::Open(encoded, &a).ok());
    ASSERT_TRUE(jet::Database::Open(plain, &b).ok());
    EXPECT_TRUE(a->header().is_encoded());
    EXPECT_TRUE(a->header().has_password);
    EXPECT_EQ(a->header().password, "Geheim! \xC3\xA9");
    EXPECT_FALSE(b->header().is_encoded());
    EXPECT_FALSE(b->header().has_password);
    // The catalog's page is stored differently when encoded, and the rows read the same.
    const std::string bytes_a = testing_support::ReadFileBytes(encoded), bytes_b = testing_support::ReadFileBytes(plain);
    const size_t page = a->format().page_size;
    EXPECT_NE(bytes_a.substr(2 * page, page), bytes_b.substr(2 * page, page));
    const auto rows = UserRows(source);
    EXPECT_FALSE(rows.empty());
    EXPECT_TRUE(UserRows(encoded) == rows);
    EXPECT_TRUE(UserRows(plain) == rows);

    options.password = std::string(21, 'x');
    EXPECT_EQ(jet::Compact(jet::Env::Default(), source, dir.File("long.mdb"), options, nullptr).kind(),
              jet::ErrorKind::kInvalidArgument);
  }
}

// The fixtures hold every type of their format: the Jet 3 one converts to Jet 4 and
// back with the same rows and sound indexes; the Jet 4 one holds a Decimal column,
// which Jet 3 lacks, and is refused.
TEST(CompactConvert, FixturesBetweenJet3AndJet4) {
  testing_support::TempDir dir;
  const std::string jet3 = testing_support::FixtureDatabase(jet::Version::kJet3);
  ASSERT_FALSE(jet3.empty()) << testing_support::FixtureError();
  const std::string jet4 = dir.File("jet4.mdb"), back = dir.File("back.mdb");
  jet::CompactOptions options;
  options.format = jet::Version::kJet4;
  options.password = "Geheim! \xC3\xA9";  // the password is carried into the other format
  jet::CompactReport report;
  jet::Status s = jet::Compact(jet::Env::Default(), jet3, jet4, options, &report);
  ASSERT_TRUE(s.ok()) << s.ToString();
  for (const jet::CompactTableReport& t : report.tables) EXPECT_TRUE(t.copied_keys.empty()) << t.name;
  options.format = jet::Version::kJet3;
  options.password.reset();
  s = jet::Compact(jet::Env::Default(), jet4, back, options, nullptr);
  ASSERT_TRUE(s.ok()) << s.ToString();

  const auto rows = UserRows(jet3);
  EXPECT_FALSE(rows.empty());
  for (const std::string& path : {jet4, back}) {
    SCOPED_TRACE(path);
    std::unique_ptr<jet::Database> db;
    ASSERT_TRUE(jet::Database::Open(path, &db).ok());
    EXPECT_EQ(db->format().version, path == jet4 ? jet::Version::kJet4 : jet::Version::kJet3);
    EXPECT_EQ(db->header().password, "Geheim! \xC3\xA9");
    EXPECT_TRUE(UserRows(path) == rows);
    ExpectCleanCheck(path);
  }

  const std::string decimal = testing_support::FixtureDatabase(jet::Version::kJet4);
  ASSERT_FALSE(decimal.empty()) << testing_support::FixtureError();
  s = jet::Compact(jet::Env::Default(), decimal, dir.File("refused.mdb"), options, nullptr);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kUnsupportedFormat);
  EXPECT_NE(s.detail().find("Decimal, which a Jet 3 file cannot hold"), std::string::npos) << s.ToString();
  EXPECT_FALSE(testing_support::PathExists(dir.File("refused.mdb")));

  options = jet::CompactOptions();
  options.sort_order = "chinese-prc";  // Jet 4 only
  EXPECT_EQ(jet::Compact(jet::Env::Default(), jet3, dir.File("prc.mdb"), options, nullptr).kind(),
            jet::ErrorKind::kInvalidArgument);
}

// A converted file's properties are written by EncodeProperties: of every properties
// value Access wrote into the real files, it must give back the very bytes.
TEST(CompactConvert, PropertiesEncodeAsAccessWroteThem) {
  SKIP_WITHOUT_TESTDATA();
  size_t values = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      std::unique_ptr<jet::Database> db;
      ASSERT_TRUE(jet::Database::Open(path, &db).ok()) << path;
      const jet::TableDef* catalog;
      ASSERT_TRUE(db->GetTableDef(2, &catalog).ok()) << path;
      const int column = catalog->FindColumnByName("LvProp");
      ASSERT_GE(column, 0) << path;
      const uint16_t code_page = jet::TextCodePage(db->header());
      EXPECT_TRUE(db->ScanRows(*catalog, [&](const RowId& row, const std::vector<Value>& v) {
                    const Value& blob = v[size_t(column)];
                    if (blob.is_null() || blob.bytes().empty()) return true;
                    std::vector<jet::PropertyBlock> blocks;
                    std::vector<std::string> names;
                    std::vector<uint8_t> again;
                    const jet::Version version = db->format().version;
                    EXPECT_TRUE(jet::ParseProperties(blob.bytes(), version, code_page, &blocks, &names).ok());
                    EXPECT_TRUE(jet::EncodeProperties(blocks, names, version, code_page, &again).ok());
                    EXPECT_TRUE(again == blob.bytes()) << path << " row " << row.page << ":" << int(row.row);
                    ++values;
                    return true;
                  }).ok());
    }
  }
  EXPECT_GT(values, 100u);
}

}  // namespace
