// Repair of a file's opening: page 0 rebuilt from the pages when it is lost or holds
// impossible values, the catalog rebuilt from the built-in MSysObjects, tables whose
// catalog rows are lost found by their definitions; a Jet 3 file naming code page 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/header.h"
#include "jet/file/page_file.h"
#include "jet/base/env.h"
#include "jet/maintain/check.h"
#include "jet/maintain/compact.h"
#include "jet/maintain/index_drop.h"
#include "jet/maintain/repair.h"
#include "jet/read/catalog.h"
#include "jet/read/database.h"
#include "jet/write/tdef_writer.h"
#include "tests/support/database_bytes.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::ReadFileBytes;
using testing_support::TableRowCounts;
using testing_support::TempDir;
using testing_support::WriteFileBytes;

const jet::Version kVersions[] = {jet::Version::kJet3, jet::Version::kJet4};

jet::Header HeaderOf(const std::string& path) {
  std::unique_ptr<jet::PageFile> file;
  jet::Status s = jet::PageFile::Open(path, &file);
  EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  return s.ok() ? file->header() : jet::Header();
}

// Writes a masked 16-bit field of page 0.
void SetHeaderField(std::string* bytes, jet::Version version, size_t offset, uint16_t value) {
  uint8_t* page = reinterpret_cast<uint8_t*>(bytes->data());
  const size_t size = jet::FormatFor(version).page_size;
  jet::ApplyHeaderMask(version, page, size);
  jet::StoreLe16(page + offset, value);
  jet::ApplyHeaderMask(version, page, size);
}

// Writes `bytes` at `path` and repairs it; the repair must succeed.
jet::RepairReport Repair(const std::string& bytes, const std::string& path) {
  EXPECT_TRUE(WriteFileBytes(path, bytes));
  jet::RepairReport report;
  jet::Status s = jet::RepairDatabaseWithReport(path, &report);
  EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  EXPECT_TRUE(report.rewritten) << path;
  return report;
}

TEST(RepairRebuild, LostOrImpossiblePageZeroIsRebuilt) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    const std::string fixture = testing_support::FixtureDatabase(version);
    ASSERT_FALSE(fixture.empty()) << testing_support::FixtureError();
    const std::string original = ReadFileBytes(fixture);
    const std::map<std::string, uint64_t> counts = TableRowCounts(fixture);
    const jet::Header header = HeaderOf(fixture);
    const size_t page_size = jet::FormatFor(version).page_size;
    const size_t sort_offset = jet::IsJet3(version) ? jet::kHeaderJet3SortOffset : jet::kHeaderJet4SortOffset;

    std::string zeroed = original;
    std::fill(zeroed.begin(), zeroed.begin() + page_size, '\0');
    // Flipped fields: no locale's sort order, no code page, a key on plain pages.
    std::string flipped = original;
    SetHeaderField(&flipped, version, sort_offset, 1184);
    SetHeaderField(&flipped, version, jet::kHeaderCodePageOffset, 48381);
    SetHeaderField(&flipped, version, jet::kHeaderDbKeyOffset, 0x5A17);
    {
      ASSERT_TRUE(WriteFileBytes(dir.File("flipped-check.mdb"), flipped));
      jet::CheckReport check;
      ASSERT_TRUE(jet::CheckDatabase(dir.File("flipped-check.mdb"), &check).ok());
      EXPECT_TRUE(check.Has(jet::FindingKind::kHeaderField));
    }
    int n = 0;
    for (const std::string& damaged : {zeroed, flipped}) {
      const std::string path = dir.File(std::string(jet::VersionName(version)) + std::to_string(n++) + ".mdb");
      const jet::RepairReport report = Repair(damaged, path);
      EXPECT_FALSE(report.assumptions.empty() && report.rebuilt.empty()) << path;
      // Whatever password a lost page 0 held is gone, and the report says so.
      EXPECT_EQ(report.password_lost, n == 1) << path;
      EXPECT_EQ(TableRowCounts(path), counts) << path;
      const jet::Header repaired = HeaderOf(path);
      EXPECT_EQ(repaired.version, version) << path;
      EXPECT_EQ(repaired.code_page, header.code_page) << path;
      EXPECT_EQ(repaired.sort_lcid, header.sort_lcid) << path;
      EXPECT_FALSE(repaired.is_encoded()) << path;
      EXPECT_FALSE(repaired.has_password) << path;
      jet::CheckReport check;
      ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_FALSE(check.HasDamage()) << path;
    }
    // RC4-encoded pages, and a page 0 that does not decode (its engine name hit) but
    // still holds their key: the key is kept, and the pages read.
    const std::string encoded = dir.File(std::string(jet::VersionName(version)) + "-encoded.mdb");
    jet::CompactOptions options;
    options.encoding = jet::PageEncoding::kEncode;
    ASSERT_TRUE(jet::Compact(jet::Env::Default(), fixture, encoded, options, nullptr).ok());
    std::string nameless = ReadFileBytes(encoded);
    nameless[4] = '\x1A';
    const std::string path = dir.File(std::string(jet::VersionName(version)) + "-nameless.mdb");
    Repair(nameless, path);
    EXPECT_EQ(TableRowCounts(path), counts) << path;
    EXPECT_TRUE(HeaderOf(path).is_encoded()) << path;
  }
}

// A password field with a byte no password has loses the password (a flip may also
// have changed a character that still looks right), and the report says so.
TEST(RepairRebuild, DamagedPasswordIsReportedLost) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    const std::string fixture = testing_support::FixtureDatabase(version);
    ASSERT_FALSE(fixture.empty()) << testing_support::FixtureError();
    jet::Header header = HeaderOf(fixture);
    ASSERT_TRUE(jet::SetHeaderPassword("geheim", &header).ok());
    std::vector<uint8_t> page;
    ASSERT_TRUE(jet::EncodeHeader(header, &page).ok());
    std::string bytes = ReadFileBytes(fixture);
    std::copy(page.begin(), page.end(), bytes.begin());
    // A control character past the end of "geheim": the field is masked by XOR, so a
    // flip passes through.
    bytes[jet::kHeaderPasswordOffset + 9 * (jet::IsJet3(version) ? 1 : 2)] ^= 0x1F;
    const std::string path = dir.File(std::string(jet::VersionName(version)) + ".mdb");
    const jet::RepairReport report = Repair(bytes, path);
    EXPECT_FALSE(HeaderOf(path).has_password) << path;
    EXPECT_TRUE(report.password_lost) << path;
  }
}

// Jet 4 texts carry no code page; when page 0 is lost, the sort order of the
// catalog's text columns names it (Chinese PRC: 936).
TEST(RepairRebuild, Jet4CodePageFollowsTheSortOrder) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  const std::string source = testing_support::TestDataDir() + "/jet4/nodeadodb.mdb";
  std::string bytes = ReadFileBytes(source);
  std::fill(bytes.begin(), bytes.begin() + jet::FormatFor(jet::Version::kJet4).page_size, '\0');
  const std::string path = dir.File("zeroed.mdb");
  Repair(bytes, path);
  EXPECT_EQ(HeaderOf(path).code_page, HeaderOf(source).code_page);
  EXPECT_EQ(HeaderOf(path).code_page, 936);
  EXPECT_EQ(TableRowCounts(path), TableRowCounts(source));
}

TEST(RepairRebuild, CatalogIsRebuiltAndTablesWithoutCatalogRowsAreFound) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    const std::string fixture = testing_support::FixtureDatabase(version);
    ASSERT_FALSE(fixture.empty()) << testing_support::FixtureError();
    const std::string original = ReadFileBytes(fixture);
    const std::map<std::string, uint64_t> counts = TableRowCounts(fixture);
    const jet::Format& format = jet::FormatFor(version);
    const std::string name = jet::VersionName(version);

    // The catalog's definition lost: the built-in one reads its rows.
    std::string bytes = original;
    std::fill(bytes.begin() + 2 * format.page_size, bytes.begin() + 3 * format.page_size, '\0');
    Repair(bytes, dir.File(name + "-definition.mdb"));
    EXPECT_EQ(TableRowCounts(dir.File(name + "-definition.mdb")), counts);

    // Every catalog row lost: the tables come back by their definitions, the system
    // tables under their own names, the others as Recovered_Table_<page>.
    bytes = original;
    for (size_t p = 3; p < bytes.size() / format.page_size; ++p) {
      uint8_t* page = reinterpret_cast<uint8_t*>(bytes.data()) + p * format.page_size;
      if (page[0] == jet::kPageData && jet::LoadLe32(page + jet::kPageOwnerOffset) == jet::kCatalogTdefPage)
        std::fill(page, page + format.page_size, 0);
    }
    const std::string path = dir.File(name + "-rows.mdb");
    const jet::RepairReport report = Repair(bytes, path);
    const std::map<std::string, uint64_t> after = TableRowCounts(path);
    std::vector<uint64_t> user_before, user_after;
    for (const auto& [table, rows] : counts) {
      if (table.rfind("MSys", 0) != 0) user_before.push_back(rows);
      else if (table != "MSysObjects") { EXPECT_EQ(after.count(table) ? after.at(table) : ~0ull, rows) << table; }
    }
    for (const auto& [table, rows] : after)
      if (table.rfind("Recovered_Table_", 0) == 0) user_after.push_back(rows);
    std::sort(user_before.begin(), user_before.end());
    std::sort(user_after.begin(), user_after.end());
    EXPECT_EQ(user_after, user_before) << name;
    size_t recovered = 0;
    for (const jet::RepairTableReport& t : report.tables)
      if (t.name.rfind("Recovered_Table_", 0) == 0) recovered += t.recovered_from.empty() ? 0 : 1;
    EXPECT_EQ(recovered, user_before.size()) << name;
  }
}

// Catalog rows a flipped byte makes impossible are dropped and written anew, and
// their tables keep their names and rows: MSysObjects' own row of another type, a
// table id with its high byte set, a system table's name changed, a required
// container under another id, a catalog page with its type byte changed; a user
// table's flags with bits no table's have (mended in place: it stays a user table).
TEST(RepairRebuild, ImpossibleCatalogRowsAreWrittenAnew) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    jet::TableSpec table;
    table.name = "Kunden";
    table.columns = {{"id", jet::ColumnType::kLong}};
    for (int i = 0; i < 4; ++i) table.rows.push_back({{jet::Value::Long(i)}});
    testing_support::DatabaseBytes original;
    ASSERT_TRUE(original.Create({table}, version)) << original.error();
    const std::string source = dir.File("source.mdb");
    ASSERT_TRUE(original.WriteTo(source));
    const std::map<std::string, uint64_t> counts = TableRowCounts(source);
    std::map<std::string, jet::RowId> rows;
    size_t id_at = 0, type_at = 0, flags_at = 0;
    {
      auto db = original.Open();
      ASSERT_TRUE(db != nullptr);
      for (const jet::CatalogObject& o : db->objects()) rows[o.name] = o.row;
      const jet::TableDef* catalog = nullptr;
      ASSERT_TRUE(db->GetTableDef(jet::kCatalogTdefPage, &catalog).ok());
      const size_t count_size = original.format().row_column_count_size;
      id_at = count_size + catalog->columns[size_t(catalog->FindColumnByName("Id"))].fixed_offset;
      type_at = count_size + catalog->columns[size_t(catalog->FindColumnByName("Type"))].fixed_offset;
      flags_at = count_size + catalog->columns[size_t(catalog->FindColumnByName("Flags"))].fixed_offset;
    }
    const auto field = [&](testing_support::DatabaseBytes& db, const std::string& name, size_t at) {
      size_t size = 0;
      return db.Row(rows.at(name), &size) + at;
    };
    const std::vector<std::function<void(testing_support::DatabaseBytes&)>> damages = {
        [&](auto& db) { jet::StoreLe16(field(db, "MSysObjects", type_at), 64); },
        [&](auto& db) { field(db, "Kunden", id_at)[3] = 0x4C; },
        [&](auto& db) {
          size_t size = 0;
          uint8_t* row = db.Row(rows.at("MSysACEs"), &size);
          uint8_t* c = std::find(row + id_at, row + size, uint8_t('C'));
          ASSERT_NE(c, row + size);
          *c = 'Q';
        },
        [&](auto& db) { field(db, "Databases", id_at)[0] ^= 0x2C; },
        [&](auto& db) { db.Page(rows.at("MSysObjects").page)[0] = 0xBF; },
        [&](auto& db) { field(db, "Kunden", flags_at)[0] = 0x4B; },
    };
    for (size_t n = 0; n < damages.size(); ++n) {
      testing_support::DatabaseBytes db = original;
      damages[n](db);
      const std::string path = dir.File(std::string(jet::VersionName(version)) + "-" + std::to_string(n) + ".mdb");
      ASSERT_TRUE(db.WriteTo(path));
      jet::RepairReport report;
      const jet::Status s = jet::RepairDatabaseWithReport(path, &report);
      ASSERT_TRUE(s.ok()) << path << ": " << s.ToString();
      EXPECT_TRUE(report.rewritten) << path;
      EXPECT_EQ(TableRowCounts(path), counts) << path;
      std::unique_ptr<jet::Database> repaired;
      ASSERT_TRUE(jet::Database::Open(path, &repaired).ok()) << path;
      const std::vector<const jet::CatalogObject*> user = repaired->Tables(false);
      EXPECT_TRUE(std::any_of(user.begin(), user.end(), [](const auto* o) { return o->name == "Kunden"; })) << path;
    }
  }
}

TEST(RepairRebuild, Jet3CodePageZeroIsReadAsWindows1252) {
  TempDir dir;
  const std::string fixture = testing_support::FixtureDatabase(jet::Version::kJet3);
  ASSERT_FALSE(fixture.empty()) << testing_support::FixtureError();
  std::string bytes = ReadFileBytes(fixture);
  SetHeaderField(&bytes, jet::Version::kJet3, jet::kHeaderCodePageOffset, 0);
  // Text columns that name no code page of their own either: the header's counts.
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(fixture, &db).ok());
  const jet::Format& format = jet::FormatFor(jet::Version::kJet3);
  std::map<std::string, std::vector<std::string>> expected;
  for (const jet::CatalogObject* table : db->Tables(false)) {
    const jet::TableDef* def;
    ASSERT_TRUE(db->GetTableDef(uint32_t(table->id), &def).ok());
    for (const jet::ColumnDef& c : def->columns)
      if (c.type() == jet::ColumnType::kText && c.def_offset + 13 <= format.page_size)
        jet::StoreLe16(reinterpret_cast<uint8_t*>(bytes.data()) + size_t(def->first_page) * format.page_size +
                           c.def_offset + 11,
                       0);
    ASSERT_TRUE(db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
      for (const jet::Value& v : values) expected[table->name].push_back(v.ToText());
      return true;
    }).ok());
  }
  const std::string path = dir.File("codepage0.mdb");
  ASSERT_TRUE(WriteFileBytes(path, bytes));
  std::unique_ptr<jet::Database> patched;
  jet::Status s = jet::Database::Open(path, &patched);
  ASSERT_TRUE(s.ok()) << s.ToString();
  EXPECT_EQ(patched->header().code_page, 0);
  for (const auto& [name, values] : expected) {
    const jet::TableDef* def;
    ASSERT_TRUE(patched->GetTableDefByName(name, &def).ok());
    std::vector<std::string> read;
    s = patched->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& row) {
      for (const jet::Value& v : row) read.push_back(v.ToText());
      return true;
    });
    ASSERT_TRUE(s.ok()) << name << ": " << s.ToString();
    EXPECT_EQ(read, values) << name;
  }
}

// The definition of table `name` of `db`, as read now.
jet::TableDef DefinitionOf(const testing_support::DatabaseBytes& db, const std::string& name) {
  auto opened = db.Open();
  const jet::TableDef* found = nullptr;
  EXPECT_TRUE(opened != nullptr && opened->GetTableDefByName(name, &found).ok()) << name;
  return found != nullptr ? *found : jet::TableDef();
}

// Values of every row of table `name` of the file at `path`, as text.
std::vector<std::string> RowTexts(const std::string& path, const std::string& name) {
  std::unique_ptr<jet::Database> db;
  std::vector<std::string> texts;
  const jet::TableDef* def = nullptr;
  EXPECT_TRUE(jet::Database::Open(path, &db).ok() && db->GetTableDefByName(name, &def).ok()) << path;
  if (def == nullptr) return texts;
  EXPECT_TRUE(db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& row) {
    for (const jet::Value& v : row) texts.push_back(v.ToText());
    return true;
  }).ok());
  return texts;
}

// Fields of a definition that a flipped byte makes impossible while the columns stay
// readable: a variable index past the count, a Jet 3 code page that does not exist,
// an unused index slot naming a column, a fixed column's flags with the fixed bit
// cleared and the hyperlink bit set, a fixed offset past any row, a column count
// with a high byte set. Each is mended and every row comes back.
TEST(RepairRebuild, ImpossibleDefinitionFieldsAreMended) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    const bool j3 = jet::IsJet3(version);
    jet::TableSpec t;
    t.name = "t";
    t.columns = {{"id", jet::ColumnType::kLong}, {"a", jet::ColumnType::kText, 20},
                 {"b", jet::ColumnType::kText, 20}, {"c", jet::ColumnType::kText, 20}, {"d", jet::ColumnType::kLong}};
    t.indexes = {{"PrimaryKey", {{"id", true}}, true}};
    for (int i = 1; i <= 3; ++i)
      t.rows.push_back({{jet::Value::Long(i), jet::Value::Text("a" + std::to_string(i)),
                         jet::Value::Text("b" + std::to_string(i)), jet::Value::Text("c" + std::to_string(i)),
                         jet::Value::Long(100 + i)}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({t}, version)) << db.error();
    const std::string name = jet::VersionName(version);
    ASSERT_TRUE(db.WriteTo(dir.File(name + "-original.mdb")));
    const std::vector<std::string> before = RowTexts(dir.File(name + "-original.mdb"), "t");
    jet::TableDef def;
    {
      auto reader = db.Open();
      const jet::TableDef* read = nullptr;
      ASSERT_TRUE(reader != nullptr && reader->GetTableDefByName("t", &read).ok());
      def = *read;
    }
    ASSERT_EQ(def.pages.size(), 1u);
    testing_support::DatabaseBytes miscounted = db;
    uint8_t* page = db.Page(def.first_page);
    const jet::ColumnDef& b = def.columns[size_t(def.FindColumnByName("b"))];
    jet::StoreLe16(page + b.def_offset + (j3 ? 3 : 7), 0x3603);
    jet::StoreLe16(page + def.real_indexes[0].def_offset + (j3 ? 0 : 4) + 3, 0xFF49);
    if (j3) jet::StoreLe16(page + def.columns[size_t(def.FindColumnByName("a"))].def_offset + 11, 31204);
    page[def.columns[size_t(def.FindColumnByName("id"))].def_offset + jet::ColumnFlagsOffset(jet::FormatFor(version))] = 0x82;
    const jet::ColumnDef& d = def.columns[size_t(def.FindColumnByName("d"))];
    ASSERT_EQ(d.fixed_offset, 4u);
    jet::StoreLe16(page + d.def_offset + (j3 ? 14 : 21), 0x2104);
    page[d.def_offset + jet::ColumnFlagsOffset(jet::FormatFor(version))] = 0x20;  // fixed bit gone, no bit impossible
    page[jet::FormatFor(version).tdef_column_count + 1] = 0x83;
    ASSERT_TRUE(db.WriteTo(dir.File(name + ".mdb")));
    const jet::RepairReport report = Repair(ReadFileBytes(dir.File(name + ".mdb")), dir.File(name + ".mdb"));
    EXPECT_EQ(RowTexts(dir.File(name + ".mdb"), "t"), before) << name;
    size_t mended = 0;
    for (const std::string& line : report.rebuilt) mended += line.find("mended") != std::string::npos;
    EXPECT_GE(mended, j3 ? 7u : 6u) << name;
    // A column count above the column numbers, its low byte changed: the one count
    // with which the definition reads whole is the one it had.
    miscounted.Page(def.first_page)[jet::FormatFor(version).tdef_column_count] = 0xB1;
    ASSERT_TRUE(miscounted.WriteTo(dir.File(name + "-count.mdb")));
    Repair(ReadFileBytes(dir.File(name + "-count.mdb")), dir.File(name + "-count.mdb"));
    EXPECT_EQ(RowTexts(dir.File(name + "-count.mdb"), "t"), before) << name;
  }
}

// An index whose unique flag a flipped bit set, over rows that repeat its keys: the
// rows read whole, so the flag gives way and every row stays. Alone the check names
// the index; with another index's root lost too the definition cannot be read, and
// the repair finds the repeated keys in the old tree itself; with its own root lost,
// its damaged record puts the flag in doubt.
TEST(RepairRebuild, AUniqueFlagTheRowsContradictIsCleared) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    for (const std::string damage : {"flag", "other-root", "own-root"}) {
      jet::TableSpec t;
      t.name = "t";
      t.columns = {{"id", jet::ColumnType::kLong}, {"grp", jet::ColumnType::kLong}};
      t.indexes = {{"PrimaryKey", {{"id", true}}, true}, {"grp", {{"grp", true}}}};
      for (int i = 1; i <= 40; ++i) t.rows.push_back({{jet::Value::Long(i), jet::Value::Long(i % 3)}});
      testing_support::DatabaseBytes db;
      ASSERT_TRUE(db.Create({t}, version)) << db.error();
      const std::string name = jet::VersionName(version) + ("-" + damage);
      ASSERT_TRUE(db.WriteTo(dir.File(name + "-original.mdb")));
      const std::vector<std::string> before = RowTexts(dir.File(name + "-original.mdb"), "t");
      const jet::TableDef def = DefinitionOf(db, "t");
      ASSERT_EQ(def.real_indexes.size(), 2u);
      const size_t grp = def.IsPrimaryKey(0) ? 1 : 0;
      uint8_t* page = db.Page(def.first_page);
      page[def.real_indexes[grp].def_offset + jet::RealIndexFlagsOffset(db.format())] |= jet::kIndexUnique;
      if (damage != "flag")
        jet::StoreLe32(page + def.real_indexes[damage == "own-root" ? grp : 1 - grp].def_offset +
                           jet::RealIndexRootPageOffset(db.format()),
                       0x00D8FFDB);
      ASSERT_TRUE(db.WriteTo(dir.File(name + ".mdb")));
      const jet::RepairReport report = Repair(ReadFileBytes(dir.File(name + ".mdb")), dir.File(name + ".mdb"));
      EXPECT_EQ(RowTexts(dir.File(name + ".mdb"), "t"), before) << name;
      const bool told = std::any_of(report.rebuilt.begin(), report.rebuilt.end(), [](const std::string& line) {
        return line.find("index \"grp\" of table \"t\": 37 rows repeat the key") != std::string::npos;
      });
      EXPECT_TRUE(told) << name;
      std::unique_ptr<jet::Database> repaired;
      const jet::TableDef* after = nullptr;
      ASSERT_TRUE(jet::Database::Open(dir.File(name + ".mdb"), &repaired).ok());
      ASSERT_TRUE(repaired->GetTableDefByName("t", &after).ok());
      for (size_t i = 0; i < after->real_indexes.size(); ++i)
        EXPECT_EQ((after->real_indexes[i].flags & jet::kIndexUnique) != 0, after->IsPrimaryKey(i)) << name << " " << i;
    }
  }
}

// A table of Access's own (here MSysAccessObjects' columns) whose catalog row is lost
// goes back as that system table, not as a user table.
TEST(RepairRebuild, AccessSystemTablesKeepTheirNames) {
  TempDir dir;
  jet::TableSpec objects;
  objects.name = "objects";  // its name goes with its catalog row
  objects.columns = {{"Data", jet::ColumnType::kBinary}, {"ID", jet::ColumnType::kLong}};
  objects.rows = {{{jet::Value(), jet::Value::Long(1)}}, {{jet::Value(), jet::Value::Long(2)}}};
  jet::TableSpec user;
  user.name = "u";
  user.columns = {{"v", jet::ColumnType::kLong}};
  user.rows = {{{jet::Value::Long(7)}}};
  testing_support::DatabaseBytes db;
  ASSERT_TRUE(db.Create({objects, user}, jet::Version::kJet4)) << db.error();
  for (uint32_t p = 3; p < db.page_count(); ++p) {
    uint8_t* page = db.Page(p);
    if (page[0] == jet::kPageData && jet::LoadLe32(page + jet::kPageOwnerOffset) == jet::kCatalogTdefPage)
      std::fill(page, page + db.format().page_size, 0);
  }
  ASSERT_TRUE(db.WriteTo(dir.File("lost.mdb")));
  Repair(ReadFileBytes(dir.File("lost.mdb")), dir.File("lost.mdb"));
  const std::map<std::string, uint64_t> after = TableRowCounts(dir.File("lost.mdb"));
  EXPECT_EQ(after.count("MSysAccessObjects") ? after.at("MSysAccessObjects") : 0u, 2u);
  std::vector<uint64_t> recovered;
  for (const auto& [table, rows] : after)
    if (table.rfind("Recovered_Table_", 0) == 0) recovered.push_back(rows);
  EXPECT_EQ(recovered, std::vector<uint64_t>{1});
}

// A definition whose stated length or a column's fixed size is impossible: the
// columns are kept (the size set to its type's), the indexes rebuilt without, and
// every row comes back.
TEST(RepairRebuild, DefinitionsKeepTheirColumnsWhenTheRestIsLost) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    jet::TableSpec table;
    table.name = "orders";
    table.columns = {{"id", jet::ColumnType::kLong}, {"qty", jet::ColumnType::kInteger},
                     {"note", jet::ColumnType::kText, 20}};
    table.indexes = {{"PrimaryKey", {{"id", true}}, true}};
    for (int i = 0; i < 6; ++i)
      table.rows.push_back({{jet::Value::Long(i), jet::Value::Integer(int16_t(i * 3)), jet::Value::Text("n" + std::to_string(i))}});
    testing_support::DatabaseBytes original;
    ASSERT_TRUE(original.Create({table}, version)) << original.error();
    const std::string source = dir.File("source.mdb");
    ASSERT_TRUE(original.WriteTo(source));
    const std::vector<std::string> rows = RowTexts(source, "orders");
    const jet::TableDef def = DefinitionOf(original, "orders");
    const jet::Format& format = jet::FormatFor(version);
    for (const int variant : {0, 1, 2}) {
      // A column type no format has is damage: the check says so, as readers fail on it.
      // The repair drops that column alone, says so, and keeps every row's other values;
      // also where the column count was hit too (the records past the header's count
      // of column numbers are no columns: its names follow them), and for a record cut
      // short by a torn write (its flags, fixed offset and size zero: where its values
      // lie is gone).
      testing_support::DatabaseBytes db = original;
      uint8_t* page = db.Page(def.first_page);
      const size_t record = def.columns[1].def_offset;
      if (variant < 2) page[record] = 0x61;
      if (variant == 1) jet::StoreLe16(page + format.tdef_column_count, 0x43);
      if (variant == 2)
        std::fill(page + record + jet::ColumnFlagsOffset(format), page + record + format.column_def_size, 0);
      const std::string path = dir.File(std::string(jet::VersionName(version)) + "-type" + std::to_string(variant) + ".mdb");
      ASSERT_TRUE(db.WriteTo(path));
      jet::CheckReport check;
      ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_TRUE(check.HasDamage()) << path;
      jet::RepairReport report;
      ASSERT_TRUE(jet::RepairDatabaseWithReport(path, &report).ok()) << path;
      std::vector<std::string> without_qty;
      for (size_t i = 0; i < rows.size(); ++i)
        if (i % 3 != 1) without_qty.push_back(rows[i]);
      EXPECT_EQ(RowTexts(path, "orders"), without_qty) << path;
      EXPECT_EQ(report.RowsLost(), 0u) << path;
      ASSERT_EQ(report.ColumnsDropped(), 1u) << path;
      EXPECT_NE(report.tables.back().columns_dropped.front().find("\"qty\""), std::string::npos) << path;
    }
    const bool j3 = jet::IsJet3(version);
    const size_t qty_size_at = def.columns[1].def_offset + (j3 ? 16 : 23);
    // Damage past the columns (with an impossible index count, a fixed column's flags
    // read as variable and holding bits its type cannot have, and another's fixed
    // offset past any row), a column's size
    // (with another's flags holding a hyperlink bit), its name's length (the names from
    // there on are lost), its number (the rows tell which free number it had), its
    // number's high byte (its low byte is the number), a fixed offset within a row's
    // limits but past every row's fixed area (the definition reads; the one gap the
    // rows agree with is the column's); in Jet 3, names lost as well as a text column
    // naming a code page that does not exist (none of its values would decode); the
    // first name's bytes, then its length (the names after it are found and kept).
    for (int n = 0; n < 9; ++n) {
      if (n == 6 && !j3) continue;
      testing_support::DatabaseBytes db = original;
      uint8_t* page = db.Page(def.first_page);
      if (n == 0) {
        jet::StoreLe32(page + jet::kTdefLengthOffset, 42187);
        jet::StoreLe32(page + jet::FormatFor(version).tdef_logical_indexes, 0x006A0002);
        page[def.columns[1].def_offset + jet::ColumnFlagsOffset(jet::FormatFor(version))] = 0xC4;
        page[def.columns[0].def_offset + (j3 ? 15 : 22)] = 0x92;
      }
      else if (n == 1) {
        jet::StoreLe16(page + qty_size_at, 66);
        page[def.columns[0].def_offset + jet::ColumnFlagsOffset(jet::FormatFor(version))] = 0x87;
      }
      else if (n == 2 && j3) page[def.columns[1].name_offset] = 0xF0;
      else if (n == 2) jet::StoreLe16(page + def.columns[1].name_offset, 0xFFF0);
      else if (n == 3) jet::StoreLe16(page + def.columns[2].def_offset + (j3 ? 1 : 5), 200);
      else if (n == 4) page[def.columns[2].def_offset + (j3 ? 2 : 6)] = 0x48;
      else if (n == 5) jet::StoreLe16(page + def.columns[1].def_offset + (j3 ? 14 : 21), 0xAB);
      else if (n == 6) {
        page[def.columns[1].name_offset] = 0xF0;
        jet::StoreLe16(page + def.columns[2].def_offset + 11, 1177);
      }
      else if (n == 7) page[def.columns[0].name_offset + jet::FormatFor(version).name_length_size] = 0x01;
      else page[def.columns[0].name_offset] = 0x0A;
      const std::string path = dir.File(std::string(jet::VersionName(version)) + std::to_string(n) + ".mdb");
      ASSERT_TRUE(db.WriteTo(path));
      jet::RepairReport report;
      const jet::Status s = jet::RepairDatabaseWithReport(path, &report);
      ASSERT_TRUE(s.ok()) << path << ": " << s.ToString();
      EXPECT_EQ(RowTexts(path, "orders"), rows) << path;
      jet::CheckReport check;
      ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
      EXPECT_FALSE(check.HasDamage()) << path;
      if (n == 1) {
        const bool said = std::any_of(report.rebuilt.begin(), report.rebuilt.end(), [](const std::string& line) {
          return line.find("\"id\" had flags 0x87") != std::string::npos;
        });
        EXPECT_TRUE(said) << path << ": the mend of the flags stays in the columns kept, and in the report";
      }
      if (n >= 2 && n <= 4) {
        const std::string assumed = report.assumptions.empty() ? "" : report.assumptions.back();
        const char* said[] = {"named Column_2 to Column_3", "given 2", "one byte that can be set"};
        EXPECT_NE(assumed.find(said[n - 2]), std::string::npos) << path << ": " << assumed;
      }
      if (n >= 7) {
        std::unique_ptr<jet::Database> repaired;
        const jet::TableDef* read = nullptr;
        ASSERT_TRUE(jet::Database::Open(path, &repaired).ok() && repaired->GetTableDefByName("orders", &read).ok());
        std::vector<std::string> names;
        for (const jet::ColumnDef& column : read->columns) names.push_back(column.name);
        EXPECT_EQ(names, (std::vector<std::string>{"Column_1", "qty", "note"})) << path;
      }
    }
  }
}

}  // namespace

namespace {

// An index whose rebuilt tree would miss rows is left out: the definition without it
// reads, keeps the other indexes and every row, and the check finds it sound.
TEST(RepairRebuild, AnIndexLeftOutLeavesASoundDefinition) {
  TempDir dir;
  for (jet::Version version : kVersions) {
    jet::TableSpec table;
    table.name = "orders";
    table.columns = {{"id", jet::ColumnType::kLong}, {"note", jet::ColumnType::kText, 20},
                     {"code", jet::ColumnType::kLong}};
    table.indexes = {{"PrimaryKey", {{"id", true}}, true}, {"byNote", {{"note", true}}}, {"byCode", {{"code", true}}}};
    for (int i = 0; i < 5; ++i)
      table.rows.push_back({{jet::Value::Long(i), jet::Value::Text("n" + std::to_string(i)), jet::Value::Long(9 - i)}});
    testing_support::DatabaseBytes db;
    ASSERT_TRUE(db.Create({table}, version)) << db.error();
    const std::string source = dir.File("source.mdb");
    ASSERT_TRUE(db.WriteTo(source));
    const std::vector<std::string> rows = RowTexts(source, "orders");
    const jet::TableDef def = DefinitionOf(db, "orders");
    const jet::Format& format = jet::FormatFor(version);
    const auto by_note = std::find_if(def.logical_indexes.begin(), def.logical_indexes.end(),
                                      [](const jet::LogicalIndex& l) { return l.name == "byNote"; });
    ASSERT_NE(by_note, def.logical_indexes.end());
    std::vector<uint8_t> logical;
    std::vector<std::string> names;
    ASSERT_TRUE(jet::DefinitionWithoutIndex(format, def, by_note->real_index, &logical, &names).ok());
    EXPECT_EQ(names, std::vector<std::string>{"byNote"});
    std::vector<std::vector<uint8_t>> pages;
    const uint32_t needed = jet::TableDefPageCount(format, logical.size());
    ASSERT_LE(needed, def.pages.size());
    ASSERT_TRUE(jet::SplitTableDef(format, logical, std::span<const uint32_t>(def.pages.data(), needed), &pages).ok());
    for (size_t i = 0; i < pages.size(); ++i) std::memcpy(db.Page(def.pages[i]), pages[i].data(), pages[i].size());
    const std::string path = dir.File(std::string(jet::VersionName(version)) + "-dropped.mdb");
    ASSERT_TRUE(db.WriteTo(path));
    const jet::TableDef after = DefinitionOf(db, "orders");
    std::vector<std::string> left;
    for (const jet::LogicalIndex& l : after.logical_indexes) {
      left.push_back(l.name);
      ASSERT_LT(l.real_index, after.real_indexes.size());
      const uint16_t column = after.real_indexes[l.real_index].columns.at(0).column_number;
      EXPECT_EQ(after.columns[size_t(after.FindColumnByNumber(column))].name, l.name == "byCode" ? "code" : "id");
    }
    EXPECT_EQ(left, (std::vector<std::string>{"PrimaryKey", "byCode"})) << path;
    EXPECT_EQ(RowTexts(path, "orders"), rows) << path;
    jet::CheckReport check;
    ASSERT_TRUE(jet::CheckDatabase(path, &check).ok());
    EXPECT_FALSE(check.HasDamage()) << path;
  }
}

}  // namespace
