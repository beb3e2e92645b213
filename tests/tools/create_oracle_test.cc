// jetdb create, checked by a second reader: files made from a schema must read back in
// mdbtools (mdb-export, mdb-schema, mdb-tables) exactly as in our reader, for Jet 3
// and Jet 4; and the command itself must refuse bad command lines and never write
// over a file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>

#include "tests/support/test_support.h"
#include "tests/tools/run_program.h"

namespace {

using tools_test::CsvRow;
using tools_test::RunProgram;

// Every column type both readers print alike, rows given inline (edge texts, a
// deleted row) and generated on top; an enforced relationship with cascades; a
// descending text index over an empty text and punctuation (@ [ ] ! " #).
std::string SchemaText(bool jet3) {
  std::string decimal_column = jet3 ? "" : R"(, {"name": "bedrag", "type": "decimal", "precision": 12, "scale": 2})";
  std::string decimal_value = jet3 ? "" : R"(, "bedrag": "-1234567890.12")";
  return R"({"tables": [
    {"name": "klanten",
     "columns": [{"name": "id", "type": "long", "autonumber": true},
                 {"name": "naam", "type": "text", "size": 80, "required": true},
                 {"name": "actief", "type": "boolean"}, {"name": "saldo", "type": "currency"},
                 {"name": "geboren", "type": "datetime"}, {"name": "punten", "type": "integer"},
                 {"name": "niveau", "type": "byte"}, {"name": "score", "type": "double"},
                 {"name": "notitie", "type": "memo"}, {"name": "foto", "type": "ole"},
                 {"name": "plaats", "type": "text", "size": 255})" +
         decimal_column + R"(],
     "indexes": [{"name": "PrimaryKey", "columns": ["id"], "primary": true},
                 {"name": "naam", "columns": ["naam"]},
                 {"name": "plaats", "columns": [{"column": "plaats", "order": "desc"}]}],
     "rows": [{"naam": "Jansen, Piet", "actief": true, "saldo": "-922337203685477.5808",
               "geboren": "1970-05-01 10:20:30", "punten": -32768, "niveau": 255, "score": 2.5,
               "notitie": "regel 1\nregel 2", "foto": "0102030405", "plaats": "Zoë's \"café\"")" +
         decimal_value + R"(},
              {"naam": "Weg", "$deleted": true, "notitie": "weg"},
              {"naam": "Leeg", "notitie": "", "plaats": "", "foto": ""},
              {"naam": "Tekens", "plaats": "@[]!\"# "}]},
    {"name": "afspraken",
     "columns": [{"name": "nr", "type": "long", "autonumber": true},
                 {"name": "klant", "type": "long"}, {"name": "wanneer", "type": "datetime"},
                 {"name": "verslag", "type": "memo"}],
     "indexes": [{"name": "PrimaryKey", "columns": ["nr"], "primary": true},
                 {"name": "klant", "columns": ["klant"]}]}],
  "relationships": [{"name": "klantenafspraken", "from": {"table": "afspraken", "columns": ["klant"]},
                     "to": {"table": "klanten", "columns": ["id"]}, "cascade_deletes": true}]})";
}

std::vector<CsvRow> Csv(const std::string& text) {
  std::vector<CsvRow> rows;
  EXPECT_TRUE(tools_test::ParseCsv(text, &rows));
  return rows;
}

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Known, value-preserving differences of the two exports (see oracle_test.cc): an
// empty text is a null to mdb-export (and an empty OLE value "" in both), hex is upper case there, doubles are printed
// with 16 digits there (compared as numbers).
bool SameField(const std::string& column, const std::optional<std::string>& ours,
               const std::optional<std::string>& theirs) {
  std::optional<std::string> a = ours, b = theirs;
  if (a && a->empty()) a.reset();
  if (b && b->empty()) b.reset();
  if (!a || !b) return !a && !b;
  if (column == "score") return std::strtod(a->c_str(), nullptr) == std::strtod(b->c_str(), nullptr);
  if (column == "foto") return Upper(*a) == Upper(*b);
  return *a == *b;
}

class CreateOracleTest : public ::testing::TestWithParam<bool> {};

TEST_P(CreateOracleTest, MdbtoolsReadsWhatWeWrote) {
  if (!tools_test::OnPath("mdb-export") || !tools_test::OnPath("mdb-schema"))
    GTEST_SKIP() << "mdbtools is not installed";
  const bool jet3 = GetParam();
  testing_support::TempDir dir;
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("schema.json"), SchemaText(jet3)));
  const std::string out = dir.File("nieuw.mdb");
  auto created = RunProgram({tools_test::JetdbPath(), "create", "--format", jet3 ? "jet3" : "jet4", "--rows",
                             "60", "--seed", "5", dir.File("schema.json"), out});
  ASSERT_EQ(created.exit_code, 0) << created.err;

  // Every index key, the text ones included, is what our check computes from the rows.
  auto checked = RunProgram({tools_test::JetdbPath(), "check", out});
  EXPECT_EQ(checked.exit_code, 0) << checked.out << checked.err;

  auto version = RunProgram({"mdb-ver", out});
  EXPECT_EQ(version.out, jet3 ? "JET3\n" : "JET4\n");
  auto tables = RunProgram({"mdb-tables", "-1", out});
  EXPECT_EQ(tables.out, "klanten\nafspraken\n");

  for (const char* table : {"klanten", "afspraken"}) {
    SCOPED_TRACE(table);
    auto ours = RunProgram({tools_test::JetdbPath(), "export", out, table});
    auto theirs = RunProgram({"mdb-export", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex",
                              out, table});
    ASSERT_EQ(ours.exit_code, 0) << ours.err;
    ASSERT_EQ(theirs.exit_code, 0) << theirs.err;
    const std::vector<CsvRow> a = Csv(ours.out), b = Csv(theirs.out);
    ASSERT_FALSE(a.empty());
    ASSERT_EQ(a.size(), b.size());
    EXPECT_GT(a.size(), 40u);  // the generated rows, less the deleted ones
    ASSERT_EQ(a[0], b[0]);     // same columns in the same order
    for (size_t r = 1; r < a.size(); ++r) {
      ASSERT_EQ(a[r].size(), b[r].size());
      for (size_t c = 0; c < a[r].size(); ++c)
        EXPECT_TRUE(SameField(*a[0][c], a[r][c], b[r][c]))
            << "row " << r << " " << *a[0][c] << ": ours " << a[r][c].value_or("(null)") << ", mdb-export "
            << b[r][c].value_or("(null)");
    }
  }

  // The schema as mdbtools sees it: tables, columns, indexes, the relationship.
  auto schema = RunProgram({"mdb-schema", "--indexes", "--relations", out, "postgres"});
  ASSERT_EQ(schema.exit_code, 0) << schema.err;
  for (const char* expected :
       {"CREATE TABLE IF NOT EXISTS \"klanten\"", "CREATE TABLE IF NOT EXISTS \"afspraken\"", "\"notitie\"",
        "ADD CONSTRAINT \"klanten_pkey\" PRIMARY KEY (\"id\")", "ADD CONSTRAINT \"afspraken_pkey\" PRIMARY KEY (\"nr\")",
        "CREATE INDEX \"klanten_naam_idx\" ON \"klanten\" (\"naam\")",
        "CREATE INDEX \"klanten_plaats_idx\" ON \"klanten\" (\"plaats\" DESC)",
        "FOREIGN KEY (\"klant\") REFERENCES \"klanten\"(\"id\") ON DELETE CASCADE"})
    EXPECT_NE(schema.out.find(expected), std::string::npos) << expected << "\n" << schema.out;
}

INSTANTIATE_TEST_SUITE_P(Formats, CreateOracleTest, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Jet3" : "Jet4"; });

TEST(CreateCommandTest, RefusesBadCommandLinesAndExistingFiles) {
  testing_support::TempDir dir;
  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("s.json"), SchemaText(true)));
  const std::string jetdb = tools_test::JetdbPath();
  EXPECT_EQ(RunProgram({jetdb, "create"}).exit_code, 2);
  EXPECT_EQ(RunProgram({jetdb, "create", dir.File("s.json")}).exit_code, 2);
  EXPECT_EQ(RunProgram({jetdb, "create", "--format", "jet5", dir.File("s.json"), dir.File("a.mdb")}).exit_code, 2);
  EXPECT_EQ(RunProgram({jetdb, "create", "--rows", "-3", dir.File("s.json"), dir.File("a.mdb")}).exit_code, 2);
  auto help = RunProgram({jetdb, "create", "--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_NE(help.out.find("--rows N"), std::string::npos);

  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("taken.mdb"), "keep me"));
  auto taken = RunProgram({jetdb, "create", dir.File("s.json"), dir.File("taken.mdb")});
  EXPECT_EQ(taken.exit_code, 3);
  EXPECT_NE(taken.err.find("exists"), std::string::npos) << taken.err;
  EXPECT_EQ(testing_support::ReadFileBytes(dir.File("taken.mdb")), "keep me");

  ASSERT_TRUE(testing_support::WriteFileBytes(dir.File("bad.json"), R"({"tables": [{"name": "t"}]})"));
  auto bad = RunProgram({jetdb, "create", dir.File("bad.json"), dir.File("b.mdb")});
  EXPECT_EQ(bad.exit_code, 3);
  EXPECT_NE(bad.err.find("\"columns\""), std::string::npos) << bad.err;
  EXPECT_EQ(RunProgram({jetdb, "info", dir.File("b.mdb")}).exit_code, 3);  // nothing was written

  // The schema's own format applies without --format; the default is Jet 4.
  auto made = RunProgram({jetdb, "create", dir.File("s.json"), dir.File("c.mdb")});
  ASSERT_EQ(made.exit_code, 0) << made.err;
  EXPECT_NE(RunProgram({jetdb, "info", dir.File("c.mdb")}).out.find("Jet 4"), std::string::npos);
}

}  // namespace
