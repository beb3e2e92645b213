// Fixture databases: their schema, and making them once per test program.
#include "tests/support/fixtures.h"

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>

#include "jet/create/create.h"
#include "jet/base/env.h"
#include "jet/create/row_generator.h"
#include "tests/support/test_support.h"

namespace testing_support {
namespace {

using jet::ColumnType;
using jet::Value;

jet::ColumnSpec Column(const char* name, ColumnType type, uint16_t size = 0) {
  jet::ColumnSpec c;
  c.name = name;
  c.type = type;
  c.size = size;
  return c;
}

jet::ColumnSpec AutoNumber(const char* name) {
  jet::ColumnSpec c = Column(name, ColumnType::kLong);
  c.autonumber = true;
  return c;
}

jet::IndexSpec Index(const char* name, std::vector<jet::IndexColumnSpec> columns, bool primary = false,
                     bool unique = false, bool ignore_nulls = false) {
  jet::IndexSpec index;
  index.name = name;
  index.columns = std::move(columns);
  index.primary = primary;
  index.unique = unique;
  index.ignore_nulls = ignore_nulls;
  return index;
}

double Date(const char* text) {
  double days = 0;
  jet::ParseDateTimeText(text, &days);
  return days;
}

std::string Repeat(const std::string& piece, size_t length) {
  std::string out;
  while (out.size() < length) out += piece;
  out.resize(length);
  return out;
}

std::vector<uint8_t> Pattern(size_t length, uint8_t start) {
  std::vector<uint8_t> out(length);
  for (size_t i = 0; i < length; ++i) out[i] = uint8_t(start + i * 7);
  return out;
}

// Rows by column name, so the schema reads like the table it describes.
jet::RowSpec Row(const jet::TableSpec& table, std::vector<std::pair<const char*, Value>> values,
                 bool deleted = false) {
  jet::RowSpec row;
  row.values.resize(table.columns.size());
  for (auto& [name, value] : values) row.values[jet::FindColumnSpec(table, name)] = std::move(value);
  row.deleted = deleted;
  return row;
}

struct FixtureState {
  std::mutex mutex;
  std::unique_ptr<TempDir> dir;
  std::map<jet::Version, std::string> paths;
  std::string error;
};

FixtureState& State() {
  static FixtureState state;  // destroyed at exit, and the folder with it
  return state;
}

}  // namespace

jet::Schema FixtureSchema(jet::Version version) {
  const bool jet3 = jet::IsJet3(version);
  jet::Schema schema;
  schema.version = version;
  schema.creation_date = Date("2024-01-15 10:00:00");

  jet::TableSpec klanten;
  klanten.name = "klanten";
  klanten.columns = {AutoNumber("id"),
                     Column("naam", ColumnType::kText, 60),
                     Column("email", ColumnType::kText, 100),
                     Column("actief", ColumnType::kBoolean),
                     Column("saldo", ColumnType::kCurrency),
                     Column("geboren", ColumnType::kDateTime),
                     Column("korting", ColumnType::kSingle),
                     Column("score", ColumnType::kDouble),
                     Column("bezoeken", ColumnType::kInteger),
                     Column("niveau", ColumnType::kByte),
                     Column("code", ColumnType::kGuid),
                     Column("kenmerk", ColumnType::kBinary, 16),
                     Column("notitie", ColumnType::kMemo),
                     Column("foto", ColumnType::kOle)};
  klanten.columns[1].required = true;
  if (!jet3) {
    jet::ColumnSpec bedrag = Column("bedrag", ColumnType::kNumeric);
    bedrag.precision = 12;
    bedrag.scale = 2;
    klanten.columns.push_back(bedrag);
  }
  klanten.indexes = {Index("PrimaryKey", {{"id", true}}, true),
                     Index("naam", {{"naam", true}}),
                     Index("email", {{"email", true}}, false, true, true),
                     Index("geboren", {{"geboren", false}})};
  std::array<uint8_t, 16> guid;
  jet::ParseGuidText("{6F9619FF-8B86-D011-B42D-00C04FC964FF}", &guid);
  klanten.rows.push_back(Row(klanten, {{"naam", Value::Text("Jansen")},
                                       {"email", Value::Text("jansen.example.nl")},
                                       {"actief", Value::Boolean(true)},
                                       {"saldo", Value::Currency(1234500)},
                                       {"geboren", Value::DateTime(Date("1970-05-01 10:20:30"))},
                                       {"korting", Value::Single(0.25f)},
                                       {"score", Value::Double(-3.5)},
                                       {"bezoeken", Value::Integer(12)},
                                       {"niveau", Value::Byte(3)},
                                       {"code", Value::Guid(guid)},
                                       {"kenmerk", Value::Binary(Pattern(16, 1))},
                                       {"notitie", Value::Text("Vaste klant, betaalt contant. Café om de hoek.")},
                                       {"foto", Value::Binary(Pattern(5000, 9))}}));
  klanten.rows.push_back(Row(klanten, {{"naam", Value::Text("Verhuisd")},
                                       {"notitie", Value::Text(Repeat("weg ", 3000))},
                                       {"foto", Value::Binary(Pattern(1500, 2))}},
                             /*deleted=*/true));
  klanten.rows.push_back(Row(klanten, {{"naam", Value::Text("Leeg")}, {"notitie", Value::Text("")},
                                       {"foto", Value::Binary({})}}));
  klanten.rows.push_back(Row(klanten, {{"naam", Value::Text(Repeat("Lange naam ", 60).substr(0, 60))},
                                       {"notitie", Value::Text(Repeat("Een heel lange notitie. ", 3000))}}));

  jet::TableSpec afspraken;
  afspraken.name = "afspraken";
  afspraken.columns = {AutoNumber("id"), Column("klant_id", ColumnType::kLong),
                       Column("wanneer", ColumnType::kDateTime), Column("omschrijving", ColumnType::kText, 200),
                       Column("duur", ColumnType::kInteger), Column("verslag", ColumnType::kMemo)};
  afspraken.columns[1].required = true;
  afspraken.indexes = {Index("PrimaryKey", {{"id", true}}, true), Index("klant_id", {{"klant_id", true}}),
                       Index("wanneer", {{"wanneer", true}, {"duur", true}})};
  afspraken.rows.push_back(Row(afspraken, {{"klant_id", Value::Long(1)},
                                           {"wanneer", Value::DateTime(Date("2024-02-01 09:30:00"))},
                                           {"omschrijving", Value::Text("")},
                                           {"duur", Value::Integer(45)},
                                           {"verslag", Value::Text(Repeat("Besproken: ", 150))}}));

  jet::TableSpec notities;
  notities.name = "notities";
  notities.columns = {AutoNumber("id"), Column("klant_id", ColumnType::kLong), Column("tekst", ColumnType::kMemo),
                      Column("bijlage", ColumnType::kOle)};
  notities.indexes = {Index("PrimaryKey", {{"id", true}}, true), Index("klant_id", {{"klant_id", true}})};
  notities.rows.push_back(Row(notities, {{"klant_id", Value::Long(3)}, {"tekst", Value::Text("kort")},
                                         {"bijlage", Value::Binary(Pattern(40, 5))}}));
  notities.rows.push_back(Row(notities, {{"klant_id", Value::Long(1)}, {"tekst", Value::Text(Repeat("ab", 700))},
                                         {"bijlage", Value::Binary(Pattern(70000, 3))}}));
  notities.rows.push_back(Row(notities, {{"klant_id", Value::Long(1)}, {"tekst", Value::Text(Repeat("x", 9000))}},
                              /*deleted=*/true));

  schema.tables = {klanten, afspraken, notities};
  jet::RelationshipSpec enforced;
  enforced.name = "klantenafspraken";
  enforced.from_table = "afspraken";
  enforced.from_columns = {"klant_id"};
  enforced.to_table = "klanten";
  enforced.to_columns = {"id"};
  enforced.cascade_deletes = true;
  jet::RelationshipSpec loose = enforced;
  loose.name = "klantennotities";
  loose.from_table = "notities";
  loose.enforced = false;
  loose.cascade_deletes = false;
  schema.relationships = {enforced, loose};
  // Some volume on top, with deleted rows and long values of random sizes.
  jet::GenerateRows(40, 11, &schema);
  return schema;
}

std::string FixtureDatabase(jet::Version version) {
  FixtureState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  auto it = state.paths.find(version);
  if (it != state.paths.end()) return it->second;
  if (!state.dir) state.dir = std::make_unique<TempDir>();
  if (state.dir->path().empty()) {
    state.error = "no temporary folder for the fixtures";
    return "";
  }
  const std::string path =
      state.dir->File(jet::IsJet3(version) ? "fixture-jet3.mdb" : "fixture-jet4.mdb");
  const jet::Status s = jet::CreateDatabase(FixtureSchema(version), path, jet::Env::Default());
  if (!s.ok()) {
    state.error = s.ToString();
    return "";
  }
  state.paths[version] = path;
  return path;
}

std::vector<std::string> FixtureDatabaseFiles() {
  std::vector<std::string> files;
  for (jet::Version v : {jet::Version::kJet3, jet::Version::kJet4}) {
    const std::string path = FixtureDatabase(v);
    if (path.empty()) return {};
    files.push_back(path);
  }
  return files;
}

std::string FixtureError() {
  FixtureState& state = State();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.error;
}

bool CopyFixture(jet::Version version, const std::string& destination) {
  const std::string source = FixtureDatabase(version);
  if (source.empty()) return false;
  std::error_code ec;
  if (std::filesystem::exists(destination, ec)) return false;
  return std::filesystem::copy_file(source, destination, ec) && !ec;
}

}  // namespace testing_support
