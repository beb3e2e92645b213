// New databases from schemas: what CreateDatabase writes must read back through the
// engine's reader exactly as described -- catalog, definitions, rows, index entries
// (every key recomputed from its row) and relationships -- for Jet 3 and Jet 4, also
// at the edges of every value range; and it must refuse what it cannot write without
// leaving anything behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <filesystem>
#include <map>
#include <set>

#include "jet/maintain/check.h"
#include "jet/maintain/compact.h"
#include "jet/create/create.h"
#include "jet/read/database.h"
#include "jet/testing/fault_injection_env.h"
#include "jet/write/index_key.h"
#include "jet/create/row_generator.h"
#include "jet/create/schema_json.h"
#include "jet/write/system_tables.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace {

using jet::ColumnType;
using jet::Value;
using jet::Version;

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The live rows a table must read back as: deleted rows dropped, AutoNumber columns
// numbered as CreateDatabase numbers them.
std::vector<std::vector<Value>> ExpectedRows(const jet::TableSpec& t) {
  std::vector<jet::RowSpec> rows = t.rows;
  for (size_t c = 0; c < t.columns.size(); ++c) {
    if (!t.columns[c].autonumber) continue;
    int64_t counter = 0;
    for (jet::RowSpec& r : rows) {
      r.values.resize(t.columns.size());
      if (r.values[c].is_null()) r.values[c] = Value::Long(int32_t(++counter));
      else counter = std::max<int64_t>(counter, r.values[c].integer());
    }
  }
  std::vector<std::vector<Value>> live;
  for (jet::RowSpec& r : rows) {
    if (r.deleted) continue;
    r.values.resize(t.columns.size());
    for (size_t c = 0; c < t.columns.size(); ++c)  // Yes/No columns cannot be null
      if (t.columns[c].type == ColumnType::kBoolean && r.values[c].is_null()) r.values[c] = Value::Boolean(false);
    live.push_back(r.values);
  }
  return live;
}

const jet::CatalogObject* FindObject(const jet::Database& db, const std::string& name) {
  for (const jet::CatalogObject& o : db.objects())
    if (Lower(o.name) == Lower(name)) return &o;
  return nullptr;
}

// Checks everything a reader can see of `path` against `schema`. A file straight from
// CreateDatabase (`fresh`) also has the system tables on pages 2 to 5.
void ExpectMatchesSchema(const std::string& path, const jet::Schema& schema, bool fresh = true) {
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(path, &db).ok());
  EXPECT_EQ(db->format().version, schema.version);
  EXPECT_EQ(db->header().code_page, schema.code_page);
  EXPECT_EQ(db->header().sort_lcid, 1033);
  EXPECT_EQ(db->header().db_key, 0u);
  EXPECT_FALSE(db->header().has_password);

  // Catalog: Jet's own objects, then one entry per table (id = definition page) and
  // per relationship.
  for (const char* name : {"Tables", "Databases", "Relationships"}) {
    const jet::CatalogObject* o = FindObject(*db, name);
    ASSERT_NE(o, nullptr) << name;
    EXPECT_EQ(o->type, jet::kObjectContainer);
    EXPECT_EQ(o->parent_id, jet::kRootContainerId);
  }
  ASSERT_NE(FindObject(*db, "MSysDb"), nullptr);
  EXPECT_EQ(FindObject(*db, "MSysDb")->id, jet::kMSysDbId);
  int page = 2;
  for (const char* name : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"}) {
    const jet::CatalogObject* o = FindObject(*db, name);
    ASSERT_NE(o, nullptr) << name;
    if (fresh) {
      EXPECT_EQ(o->id, page) << name;
    }
    ++page;
    EXPECT_TRUE(o->is_system());
  }
  EXPECT_EQ(db->Tables(false).size(), schema.tables.size());

  for (const jet::TableSpec& t : schema.tables) {
    SCOPED_TRACE("table " + t.name);
    const jet::CatalogObject* o = FindObject(*db, t.name);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->type, jet::kObjectLocalTable);
    EXPECT_EQ(o->parent_id, jet::kTablesContainerId);
    const jet::TableDef* def = nullptr;
    ASSERT_TRUE(db->GetTableDef(uint32_t(o->id), &def).ok());
    EXPECT_EQ(def->table_type, 'N');
    ASSERT_EQ(def->columns.size(), t.columns.size());
    for (size_t c = 0; c < t.columns.size(); ++c) {
      EXPECT_EQ(def->columns[c].name, t.columns[c].name);
      EXPECT_EQ(def->columns[c].type(), t.columns[c].type);
      EXPECT_EQ((def->columns[c].flags & jet::kColumnAutoNumber) != 0, t.columns[c].autonumber);
    }

    // Rows, in the order given.
    std::vector<std::vector<Value>> rows;
    std::vector<jet::RowId> row_ids;
    ASSERT_TRUE(db->ScanRows(*def, [&](const jet::RowId& id, const std::vector<Value>& v) {
                    rows.push_back(v);
                    row_ids.push_back(id);
                    return true;
                  }).ok());
    const std::vector<std::vector<Value>> expected = ExpectedRows(t);
    ASSERT_EQ(rows.size(), expected.size());
    EXPECT_EQ(def->row_count, expected.size());
    for (size_t r = 0; r < rows.size(); ++r)
      for (size_t c = 0; c < t.columns.size(); ++c)
        EXPECT_TRUE(rows[r][c] == expected[r][c])
            << "row " << r << " column " << t.columns[c].name << ": " << rows[r][c].ToText()
            << " != " << expected[r][c].ToText();

    // Every schema index is a logical index over a real one with its columns.
    for (const jet::IndexSpec& wanted : t.indexes) {
      const jet::LogicalIndex* logical = nullptr;
      for (const jet::LogicalIndex& l : def->logical_indexes)
        if (l.name == wanted.name) logical = &l;
      ASSERT_NE(logical, nullptr) << wanted.name;
      EXPECT_EQ(logical->index_type, wanted.primary ? jet::kLogicalIndexPrimaryKey : 0);
      const jet::RealIndex& real = def->real_indexes[logical->real_index];
      ASSERT_EQ(real.columns.size(), wanted.columns.size());
      for (size_t i = 0; i < wanted.columns.size(); ++i) {
        EXPECT_EQ(real.columns[i].column_number, jet::FindColumnSpec(t, wanted.columns[i].column));
        EXPECT_EQ(real.columns[i].ascending, wanted.columns[i].ascending);
      }
      EXPECT_EQ((real.flags & jet::kIndexUnique) != 0, wanted.primary || wanted.unique);
      EXPECT_EQ((real.flags & jet::kIndexIgnoreNulls) != 0, wanted.ignore_nulls);
    }

    // Index entries: one per live row (ignore-nulls indexes skip all-null keys), in
    // (key, row) order, each key the one computed from its row.
    std::map<uint32_t, size_t> row_position;
    for (size_t r = 0; r < row_ids.size(); ++r) row_position[row_ids[r].ToPointer()] = r;
    for (size_t i = 0; i < def->real_indexes.size(); ++i) {
      const jet::RealIndex& real = def->real_indexes[i];
      std::vector<jet::IndexEntry> entries;
      ASSERT_TRUE(db->ReadIndexEntries(*def, i, &entries).ok());
      size_t eligible = 0;
      for (const std::vector<Value>& row : rows) {
        bool all_null = true;
        for (const jet::IndexColumn& ic : real.columns)
          all_null = all_null && row[def->FindColumnByNumber(ic.column_number)].is_null();
        if (!(all_null && (real.flags & jet::kIndexIgnoreNulls))) ++eligible;
      }
      EXPECT_EQ(entries.size(), eligible) << "index " << i;
      EXPECT_EQ(real.stat_entries, entries.size());
      for (size_t e = 0; e < entries.size(); ++e) {
        if (e > 0) {
          EXPECT_TRUE(std::tie(entries[e - 1].key, entries[e - 1].row) < std::tie(entries[e].key, entries[e].row))
              << "index " << i << " entry " << e << " out of order";
        }
        auto at = row_position.find(entries[e].row.ToPointer());
        ASSERT_NE(at, row_position.end()) << "index " << i << " points at a row that is not live";
        std::string key;
        ASSERT_TRUE(jet::EncodeIndexKey(db->format(), *def, real, rows[at->second], &key).ok());
        EXPECT_EQ(key, entries[e].key) << "index " << i << " entry " << e;
      }
    }
  }

  // Relationships: catalog entries, MSysRelationships rows, and for enforced ones the
  // pair of logical indexes pointing at each other.
  const jet::TableDef* relationships = nullptr;
  ASSERT_TRUE(db->GetTableDefByName("MSysRelationships", &relationships).ok());
  std::multiset<std::string> relationship_rows;
  ASSERT_TRUE(db->ScanRows(*relationships, [&](const jet::RowId&, const std::vector<Value>& v) {
                  relationship_rows.insert(v[0].text() + "|" + v[4].text() + "." + v[5].text() + "->" +
                                           v[6].text() + "." + v[7].text());
                  return true;
                }).ok());
  std::multiset<std::string> expected_rows;
  for (const jet::RelationshipSpec& rel : schema.relationships) {
    SCOPED_TRACE("relationship " + rel.name);
    const jet::CatalogObject* o = FindObject(*db, rel.name);
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->type, jet::kObjectRelationship);
    EXPECT_EQ(o->parent_id, jet::kRelationshipsContainerId);
    for (size_t i = 0; i < rel.from_columns.size(); ++i)
      expected_rows.insert(rel.name + "|" + rel.from_table + "." + rel.from_columns[i] + "->" + rel.to_table +
                           "." + rel.to_columns[i]);
    const jet::TableDef* from = nullptr;
    const jet::TableDef* to = nullptr;
    ASSERT_TRUE(db->GetTableDefByName(rel.from_table, &from).ok());
    ASSERT_TRUE(db->GetTableDefByName(rel.to_table, &to).ok());
    const jet::LogicalIndex* fk = nullptr;
    for (const jet::LogicalIndex& l : from->logical_indexes)
      if (l.name == rel.name) fk = &l;
    if (!rel.enforced) {
      EXPECT_EQ(fk, nullptr);
      continue;
    }
    ASSERT_NE(fk, nullptr);
    EXPECT_EQ(fk->index_type, jet::kLogicalIndexForeignKey);
    EXPECT_EQ(fk->related_table_type, 2);
    EXPECT_EQ(fk->related_table, to->first_page);
    EXPECT_EQ(fk->cascade_deletes != 0, rel.cascade_deletes);
    ASSERT_GE(fk->related_index, 0);
    ASSERT_LT(size_t(fk->related_index), to->logical_indexes.size());
    const jet::LogicalIndex& back = to->logical_indexes[fk->related_index];
    EXPECT_EQ(back.related_table_type, 1);
    EXPECT_EQ(back.related_table, from->first_page);
    EXPECT_EQ(back.related_index, int32_t(fk->number));
    EXPECT_TRUE(to->real_indexes[back.real_index].flags & jet::kIndexUnique);
  }
  EXPECT_EQ(relationship_rows, expected_rows);

  // The engine's integrity check finds no damage (orphaned long values of deleted
  // rows are harmless findings).
  jet::CheckReport report;
  ASSERT_TRUE(jet::CheckDatabase(path, &report).ok());
  for (const jet::CheckFinding& f : report.findings)
    EXPECT_EQ(f.severity, jet::CheckSeverity::kHarmless) << jet::FindingKindName(f.kind) << ": " << f.detail;
}

// The files a failed creation must not leave: anything in `dir`.
std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

jet::ColumnSpec Column(const char* name, ColumnType type, uint16_t size = 0) {
  jet::ColumnSpec c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

class CreateTest : public ::testing::TestWithParam<Version> {};

TEST_P(CreateTest, FixtureReadsBackAsItsSchema) {
  const std::string path = testing_support::FixtureDatabase(GetParam());
  ASSERT_FALSE(path.empty()) << testing_support::FixtureError();
  const jet::Schema schema = testing_support::FixtureSchema(GetParam());
  size_t deleted = 0;
  for (const jet::TableSpec& t : schema.tables)
    for (const jet::RowSpec& r : t.rows) deleted += r.deleted;
  EXPECT_GT(deleted, 3u);  // the fixture exercises deletion
  ExpectMatchesSchema(path, schema);
}

// Values at the ends of every range, empty and all-null rows, a table with 255
// columns (several definition pages in Jet 3) and one without rows.
TEST_P(CreateTest, EdgeValuesReadBackExactly) {
  const bool jet3 = jet::IsJet3(GetParam());
  jet::Schema schema;
  schema.version = GetParam();
  schema.creation_date = 45000.5;

  jet::TableSpec edges;
  edges.name = "randen";
  edges.columns = {Column("tekst", ColumnType::kText), Column("memo", ColumnType::kMemo),
                   Column("ole", ColumnType::kOle), Column("datum", ColumnType::kDateTime),
                   Column("geld", ColumnType::kCurrency), Column("b", ColumnType::kByte),
                   Column("i", ColumnType::kInteger), Column("l", ColumnType::kLong),
                   Column("s", ColumnType::kSingle), Column("d", ColumnType::kDouble),
                   Column("ja", ColumnType::kBoolean), Column("bin", ColumnType::kBinary),
                   Column("vrij", ColumnType::kText)};
  if (!jet3) {
    jet::ColumnSpec n = Column("dec", ColumnType::kNumeric);
    n.precision = 28;
    edges.columns.push_back(n);
    jet::ColumnSpec f = Column("fractie", ColumnType::kNumeric);
    f.precision = 28;
    f.scale = 28;
    edges.columns.push_back(f);
  }
  edges.indexes = {{"datum", {{"datum", true}}, false, false, false},
                   {"geld", {{"geld", false}}, false, false, false},
                   {"tekst", {{"tekst", true}}, false, false, true}};
  double first_day = 0, last_second = 0;
  ASSERT_TRUE(jet::ParseDateTimeText("0100-01-01", &first_day).ok());
  ASSERT_TRUE(jet::ParseDateTimeText("9999-12-31 23:59:59", &last_second).ok());
  int64_t money_min = 0, money_max = 0;
  ASSERT_TRUE(jet::ParseCurrencyText("-922337203685477.5808", &money_min).ok());
  ASSERT_TRUE(jet::ParseCurrencyText("922337203685477.5807", &money_max).ok());
  EXPECT_EQ(money_min, INT64_MIN);
  EXPECT_EQ(money_max, INT64_MAX);
  jet::Numeric dec_max, dec_min, tiny;
  ASSERT_TRUE(jet::ParseNumericText("9999999999999999999999999999", 28, 0, &dec_max).ok());
  ASSERT_TRUE(jet::ParseNumericText("-9999999999999999999999999999", 28, 0, &dec_min).ok());
  ASSERT_TRUE(jet::ParseNumericText("0.0000000000000000000000000001", 28, 28, &tiny).ok());

  std::vector<uint8_t> big_ole(70000);
  for (size_t i = 0; i < big_ole.size(); ++i) big_ole[i] = uint8_t(i * 31 + 7);
  std::string long_memo;
  while (long_memo.size() < 100000) long_memo += "lang memoveld " + std::to_string(long_memo.size()) + " ";
  jet::RowSpec high, low, empty, nulls;
  high.values = {Value::Text(std::string(255, 'z')), Value::Text(long_memo), Value::Binary(big_ole),
                 Value::DateTime(last_second), Value::Currency(money_max), Value::Byte(255),
                 Value::Integer(32767), Value::Long(INT32_MAX), Value::Single(3.4028235e38f),
                 Value::Double(1.7976931348623157e308), Value::Boolean(true),
                 Value::Binary(std::vector<uint8_t>(255, 0xAB)), Value::Text(std::string(255, 'y'))};
  low.values = {Value::Text("a"), Value::Text("é"), Value::Binary({1}), Value::DateTime(first_day),
                Value::Currency(money_min), Value::Byte(0), Value::Integer(-32768), Value::Long(INT32_MIN),
                Value::Single(-1.17549435e-38f), Value::Double(-4.9e-324), Value::Boolean(false),
                Value::Binary({0x00}), Value::Text("\xC3\xA9\xC3\xA0 \xE2\x82\xAC")};
  empty.values = {Value::Text(""), Value::Text(""), Value::Binary({}), Value::DateTime(0)};
  empty.values.resize(13);
  empty.values[12] = Value::Text("");
  if (!jet3) {
    high.values.push_back(Value::NumericValue(dec_max));
    high.values.push_back(Value::NumericValue(tiny));
    low.values.push_back(Value::NumericValue(dec_min));
  }
  edges.rows = {high, low, empty, nulls};

  jet::TableSpec wide;
  wide.name = "breed";
  for (int i = 0; i < 255; ++i) {
    const std::string name = "kolom_met_een_lange_naam_" + std::to_string(i);
    jet::ColumnSpec c = Column(name.c_str(), i % 3 == 0 ? ColumnType::kText : ColumnType::kInteger, 10);
    wide.columns.push_back(c);
  }
  wide.indexes = {{"eerste", {{wide.columns[1].name, true}}, true, false, false}};
  for (int r = 0; r < 20; ++r) {
    jet::RowSpec row;
    for (int i = 0; i < 255; ++i)
      row.values.push_back(i % 3 == 0 ? Value::Text("r" + std::to_string(r)) : Value::Integer(int16_t(r * 255 + i)));
    row.deleted = r % 7 == 3;
    wide.rows.push_back(row);
  }

  jet::TableSpec none;
  none.name = "leeg";
  none.columns = {Column("id", ColumnType::kLong), Column("naam", ColumnType::kText, 20)};
  none.indexes = {{"PrimaryKey", {{"id", true}}, true, false, false}};

  schema.tables = {edges, wide, none};
  testing_support::TempDir dir;
  const std::string path = dir.File("randen.mdb");
  const jet::Status s = jet::CreateDatabase(schema, path, jet::Env::Default());
  ASSERT_TRUE(s.ok()) << s.ToString();
  ExpectMatchesSchema(path, schema);

  // The texts a user sees at the ends of the date range.
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(path, &db).ok());
  const jet::TableDef* def = nullptr;
  ASSERT_TRUE(db->GetTableDefByName("randen", &def).ok());
  std::vector<std::string> dates;
  ASSERT_TRUE(db->ScanRows(*def, [&](const jet::RowId&, const std::vector<Value>& v) {
                  dates.push_back(v[3].ToText());
                  return true;
                }).ok());
  EXPECT_EQ(dates, (std::vector<std::string>{"9999-12-31 23:59:59", "0100-01-01 00:00:00",
                                             "1899-12-30 00:00:00", ""}));
  const jet::TableDef* breed = nullptr;
  ASSERT_TRUE(db->GetTableDefByName("breed", &breed).ok());
  if (jet3) {
    EXPECT_GT(breed->pages.size(), 1u);  // the definition continues on further pages
  }
}

TEST_P(CreateTest, GeneratedRowsAreRepeatableAndCompactToTheSameRows) {
  jet::Schema schema = testing_support::FixtureSchema(GetParam());
  ASSERT_TRUE(jet::GenerateRows(150, 99, &schema).ok());
  testing_support::TempDir dir;
  ASSERT_TRUE(jet::CreateDatabase(schema, dir.File("a.mdb"), jet::Env::Default()).ok());
  ASSERT_TRUE(jet::CreateDatabase(schema, dir.File("b.mdb"), jet::Env::Default()).ok());
  EXPECT_EQ(testing_support::ReadFileBytes(dir.File("a.mdb")), testing_support::ReadFileBytes(dir.File("b.mdb")));

  jet::Schema other = testing_support::FixtureSchema(GetParam());
  ASSERT_TRUE(jet::GenerateRows(150, 100, &other).ok());
  EXPECT_FALSE(other.tables[0].rows.back().values == schema.tables[0].rows.back().values);

  // Compaction verifies its result against the source itself; the rows it keeps must
  // also be exactly the schema's live rows, and the file smaller.
  jet::CompactReport report;
  const jet::Status s = jet::Compact(jet::Env::Default(), dir.File("a.mdb"), dir.File("c.mdb"),
                                     jet::CompactOptions(), &report);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_LT(report.result_bytes, report.source_bytes);
  // (Compaction keeps rows in primary-key order, which here is the order given.)
  ExpectMatchesSchema(dir.File("c.mdb"), schema, /*fresh=*/false);
}

// More data pages than an inline usage map describes: the table's map takes the
// reference form, with bitmap pages of its own.
TEST_P(CreateTest, LargeTableGetsReferenceUsageMaps) {
  jet::Schema schema;
  schema.version = GetParam();
  schema.creation_date = 45000;
  jet::TableSpec t;
  t.name = "groot";
  t.columns = {Column("nr", ColumnType::kLong), Column("tekst", ColumnType::kText, 200)};
  t.indexes = {{"PrimaryKey", {{"nr", true}}, true, false, false}};
  const int rows = jet::IsJet3(GetParam()) ? 16000 : 14000;  // > 1,024 / 512 data pages
  for (int i = 0; i < rows; ++i) {
    jet::RowSpec r;
    r.values = {Value::Long(i), Value::Text(std::string(150, char('a' + i % 26)))};
    r.deleted = i % 50 == 7;
    t.rows.push_back(r);
  }
  schema.tables = {t};
  testing_support::TempDir dir;
  const jet::Status s = jet::CreateDatabase(schema, dir.File("groot.mdb"), jet::Env::Default());
  ASSERT_TRUE(s.ok()) << s.ToString();
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(dir.File("groot.mdb"), &db).ok());
  const jet::TableDef* def = nullptr;
  ASSERT_TRUE(db->GetTableDefByName("groot", &def).ok());
  std::vector<uint8_t> host(db->format().page_size);
  const jet::RowId owned = jet::RowId::FromPointer(def->owned_map);
  ASSERT_TRUE(db->file().ReadPage(owned.page, host.data()).ok());
  const uint16_t slot = uint16_t(host[db->format().data_header_size + 2 * owned.row] |
                                 host[db->format().data_header_size + 2 * owned.row + 1] << 8);
  EXPECT_EQ(host[slot & 0x1FFF], 0x01) << "owned-pages map in the reference form";
  ExpectMatchesSchema(dir.File("groot.mdb"), schema);
}

INSTANTIATE_TEST_SUITE_P(Formats, CreateTest, ::testing::Values(Version::kJet3, Version::kJet4),
                         [](const auto& info) { return info.param == Version::kJet3 ? "Jet3" : "Jet4"; });

jet::Schema SmallSchema(Version version) {
  jet::Schema schema;
  schema.version = version;
  jet::TableSpec t;
  t.name = "t";
  t.columns = {Column("id", ColumnType::kLong), Column("naam", ColumnType::kText, 20),
               Column("memo", ColumnType::kMemo)};
  t.indexes = {{"PrimaryKey", {{"id", true}}, true, false, false}};
  for (int i = 0; i < 30; ++i) {
    jet::RowSpec r;
    r.values = {Value::Long(i), Value::Text("n" + std::to_string(i)), Value::Text(std::string(3000, 'm'))};
    t.rows.push_back(r);
  }
  schema.tables = {t};
  return schema;
}

TEST(CreateDatabaseTest, NeverWritesOverAnExistingFile) {
  testing_support::TempDir dir;
  const std::string path = dir.File("x.mdb");
  ASSERT_TRUE(testing_support::WriteFileBytes(path, "not mine"));
  const jet::Status s = jet::CreateDatabase(SmallSchema(Version::kJet3), path, jet::Env::Default());
  EXPECT_EQ(s.kind(), jet::ErrorKind::kDestinationExists);
  EXPECT_EQ(testing_support::ReadFileBytes(path), "not mine");
  EXPECT_EQ(FilesIn(dir.path()).size(), 1u);
}

// Whatever call fails, the destination does not appear and no temporary file stays.
TEST(CreateDatabaseTest, AFailedCallLeavesNothingBehind) {
  testing_support::TempDir dir;
  const jet::Schema schema = SmallSchema(Version::kJet4);
  jet::FaultInjectionEnv counting(jet::Env::Default());
  ASSERT_TRUE(jet::CreateDatabase(schema, dir.File("count.mdb"), &counting).ok());
  const uint64_t calls = counting.calls();
  ASSERT_GT(calls, 5u);
  std::filesystem::remove(dir.File("count.mdb"));
  for (uint64_t call = 1; call <= calls; ++call) {
    jet::FaultInjectionEnv env(jet::Env::Default());
    env.FailAt(call, call % 2 ? EIO : ENOSPC);
    const jet::Status s = jet::CreateDatabase(schema, dir.File("x.mdb"), &env);
    if (s.ok()) {
      // Only the sweep of stale files may fail without failing the creation.
      EXPECT_EQ(env.injected().rfind("list folder", 0), 0u) << "call " << call << ": " << env.injected();
      std::filesystem::remove(dir.File("x.mdb"));
      continue;
    }
    EXPECT_TRUE(FilesIn(dir.path()).empty()) << "call " << call << ": " << FilesIn(dir.path()).front();
  }
}

TEST(CreateDatabaseTest, RefusesWhatItCannotWrite) {
  struct Case {
    const char* what;
    std::function<void(jet::Schema*)> change;
    jet::ErrorKind kind;
    const char* detail;
  };
  const std::vector<Case> cases = {
      {"duplicate table", [](jet::Schema* s) { s->tables.push_back(s->tables[0]); s->tables[1].name = "T"; },
       jet::ErrorKind::kInvalidArgument, "two tables"},
      {"system name", [](jet::Schema* s) { s->tables[0].name = "MSysMine"; }, jet::ErrorKind::kInvalidArgument, "MSys"},
      {"unknown index column", [](jet::Schema* s) { s->tables[0].indexes[0].columns[0].column = "nope"; },
       jet::ErrorKind::kInvalidArgument, "no column"},
      {"text too long", [](jet::Schema* s) { s->tables[0].rows[0].values[1] = Value::Text(std::string(21, 'x')); },
       jet::ErrorKind::kInvalidArgument, "longer than 20"},
      {"wrong value type", [](jet::Schema* s) { s->tables[0].rows[0].values[0] = Value::Text("1"); },
       jet::ErrorKind::kInvalidArgument, "wrong type"},
      {"required null", [](jet::Schema* s) { s->tables[0].columns[1].required = true; s->tables[0].rows[3].values[1] = Value(); },
       jet::ErrorKind::kInvalidArgument, "required"},
      {"duplicate primary key", [](jet::Schema* s) { s->tables[0].rows[5].values[0] = Value::Long(4); },
       jet::ErrorKind::kInvalidArgument, "same key"},
      {"relationship without unique index",
       [](jet::Schema* s) {
         s->tables.push_back(s->tables[0]);
         s->tables[1].name = "u";
         s->tables[1].indexes.clear();
         s->relationships.push_back({"r", "t", {"id"}, "u", {"id"}, true, false, false});
       },
       jet::ErrorKind::kInvalidArgument, "unique index"},
      {"broken reference",
       [](jet::Schema* s) {
         s->tables.push_back(s->tables[0]);
         s->tables[1].name = "kind";
         s->relationships.push_back({"r", "kind", {"id"}, "t", {"id"}, true, false, false});
         s->tables[0].rows[4].deleted = true;  // kind row 5 (id 4) now refers to nothing
       },
       jet::ErrorKind::kInvalidArgument, "refers to no row"},
      {"decimal in Jet 3", [](jet::Schema* s) { s->version = Version::kJet3; s->tables[0].columns.push_back(Column("n", ColumnType::kNumeric)); },
       jet::ErrorKind::kInvalidArgument, "Decimal"},
      // The key encoder confirms no CJK characters of General legacy: the index is
      // not written with guessed keys.
      {"unconfirmed character",
       [](jet::Schema* s) {
         s->tables[0].indexes.push_back({"n", {{"naam", true}}, false, false, false});
         s->tables[0].rows[2].values[1] = Value::Text("\xE4\xB8\xAD");
       },
       jet::ErrorKind::kUnsupportedFormat, "U+4E2D"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    jet::Schema schema = SmallSchema(Version::kJet4);
    c.change(&schema);
    testing_support::TempDir dir;
    const jet::Status s = jet::CreateDatabase(schema, dir.File("x.mdb"), jet::Env::Default());
    EXPECT_EQ(s.kind(), c.kind) << s.ToString();
    EXPECT_NE(s.detail().find(c.detail), std::string::npos) << s.detail();
    EXPECT_TRUE(FilesIn(dir.path()).empty());
  }
}

TEST(SchemaJsonTest, ReadsEveryPartOfTheFormat) {
  const std::string text = R"({
    "format": "jet3", "code_page": 1252, "creation_date": "2024-03-01 08:00:00",
    "tables": [
      {"name": "klanten",
       "columns": [{"name": "id", "type": "long", "autonumber": true},
                   {"name": "naam", "type": "text", "size": 40, "required": true},
                   {"name": "geld", "type": "currency"}, {"name": "dag", "type": "date"},
                   {"name": "blob", "type": "ole"}, {"name": "g", "type": "guid"},
                   {"name": "ja", "type": "boolean"}],
       "indexes": [{"name": "PrimaryKey", "columns": ["id"], "primary": true},
                   {"name": "naam", "columns": [{"column": "naam", "order": "desc"}], "ignore_nulls": true}],
       "rows": [{"naam": "A", "geld": "-1.5", "dag": "2001-02-03T04:05:06", "blob": "00ff10",
                 "g": "{00112233-4455-6677-8899-AABBCCDDEEFF}", "ja": true},
                [7, "B", 3],
                {"naam": "C", "$deleted": true}]},
      {"name": "b", "columns": [{"name": "k", "type": "long"}]}],
    "relationships": [{"name": "r", "from": {"table": "b", "columns": ["k"]},
                       "to": {"table": "klanten", "columns": ["id"]}, "enforced": false,
                       "cascade_updates": true}]})";
  jet::Schema schema;
  const jet::Status s = jet::ParseSchemaJson(text, &schema);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(schema.version, Version::kJet3);
  ASSERT_EQ(schema.tables.size(), 2u);
  const jet::TableSpec& t = schema.tables[0];
  EXPECT_EQ(t.columns[1].size, 40);
  EXPECT_TRUE(t.columns[1].required);
  EXPECT_TRUE(t.columns[0].autonumber);
  EXPECT_EQ(t.columns[3].type, ColumnType::kDateTime);
  ASSERT_EQ(t.indexes.size(), 2u);
  EXPECT_FALSE(t.indexes[1].columns[0].ascending);
  EXPECT_TRUE(t.indexes[1].ignore_nulls);
  ASSERT_EQ(t.rows.size(), 3u);
  EXPECT_EQ(t.rows[0].values[2].ToText(), "-1.5000");
  EXPECT_EQ(t.rows[0].values[3].ToText(), "2001-02-03 04:05:06");
  EXPECT_EQ(t.rows[0].values[4].ToText(), "00ff10");
  EXPECT_EQ(t.rows[0].values[5].ToText(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
  EXPECT_EQ(t.rows[1].values[0].integer(), 7);
  EXPECT_EQ(t.rows[1].values[2].ToText(), "3.0000");
  EXPECT_TRUE(t.rows[2].deleted);
  ASSERT_EQ(schema.relationships.size(), 1u);
  EXPECT_FALSE(schema.relationships[0].enforced);
  EXPECT_TRUE(schema.relationships[0].cascade_updates);
  EXPECT_EQ(jet::Value::DateTime(schema.creation_date).ToText(), "2024-03-01 08:00:00");
  EXPECT_TRUE(jet::ValidateSchema(schema).ok());
}

TEST(SchemaJsonTest, NamesWhatIsWrong) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{", "not valid JSON"},
      {R"({"tables": [], "colour": 1})", "unknown key \"colour\""},
      {R"({"format": "jet5", "tables": []})", "jet3"},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "texte"}]}]})", "unknown type"},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "currency"}], "rows": [{"c": "1.23456"}]}]})",
       "4 decimals"},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "date"}], "rows": [{"c": "2023-02-29"}]}]})",
       "not a date"},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "byte"}], "rows": [{"c": 256}]}]})",
       "does not fit"},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "long"}], "rows": [{"d": 1}]}]})",
       "no column \"d\""},
      {R"({"tables": [{"name": "t", "columns": [{"name": "c", "type": "ole"}], "rows": [{"c": "abc"}]}]})",
       "odd length"},
  };
  for (const auto& [text, detail] : cases) {
    jet::Schema schema;
    const jet::Status s = jet::ParseSchemaJson(text, &schema);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument) << text;
    EXPECT_NE(s.detail().find(detail), std::string::npos) << text << " -> " << s.detail();
  }
}

}  // namespace
