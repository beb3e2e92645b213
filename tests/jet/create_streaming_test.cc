// Tests of making a database from streamed rows (jet/create/row_generator.h as a RowSupplier
// for jet::CreateDatabase) and of the sorted, possibly spilled, index entries and
// relationship keys: the same file whether rows are held or streamed and whether the
// sorts fit their memory or not; the unique-index and relationship rules across runs;
// nothing left behind when a scratch file cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "jet/create/create.h"
#include "jet/testing/fault_injection_env.h"
#include "jet/create/row_generator.h"
#include "jet/create/schema.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"

namespace {

using jet::ColumnType;
using jet::Value;
using jet::Version;

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

jet::ColumnSpec Column(const char* name, ColumnType type) {
  jet::ColumnSpec c;
  c.name = name;
  c.type = type;
  return c;
}

jet::IndexSpec Index(const char* name, const char* column, bool primary, bool unique = false) {
  jet::IndexSpec index;
  index.name = name;
  index.columns = {{column, true}};
  index.primary = primary;
  index.unique = unique;
  return index;
}

// Small enough for every sort of the fixture to spill several runs.
jet::CreateOptions TinySortMemory() {
  jet::CreateOptions options;
  options.sort_memory = 16384;
  return options;
}

class StreamedCreateTest : public ::testing::TestWithParam<Version> {};

TEST_P(StreamedCreateTest, StreamedHeldAndSpilledGiveTheSameFile) {
  const jet::Schema schema = testing_support::FixtureSchema(GetParam());
  testing_support::TempDir dir;
  std::unique_ptr<jet::RowGenerator> generator;
  ASSERT_TRUE(jet::RowGenerator::Make(schema, 300, 99, &generator).ok());
  jet::Status s = jet::CreateDatabase(schema, generator.get(), dir.File("streamed.mdb"), jet::Env::Default());
  ASSERT_TRUE(s.ok()) << s.ToString();
  // A source can be opened again and gives the same rows: a second file is the same.
  s = jet::CreateDatabase(schema, generator.get(), dir.File("spilled.mdb"), jet::Env::Default(), TinySortMemory());
  ASSERT_TRUE(s.ok()) << s.ToString();

  jet::Schema held = schema;
  ASSERT_TRUE(jet::GenerateRows(300, 99, &held).ok());
  for (size_t t = 0; t < held.tables.size(); ++t) EXPECT_EQ(held.tables[t].rows.size(), generator->RowCount(t));
  s = jet::CreateDatabase(held, dir.File("held.mdb"), jet::Env::Default());
  ASSERT_TRUE(s.ok()) << s.ToString();

  const std::string streamed = testing_support::ReadFileBytes(dir.File("streamed.mdb"));
  EXPECT_GT(streamed.size(), 100000u);
  EXPECT_TRUE(streamed == testing_support::ReadFileBytes(dir.File("held.mdb")));
  EXPECT_TRUE(streamed == testing_support::ReadFileBytes(dir.File("spilled.mdb")));
  EXPECT_EQ(FilesIn(dir.path()).size(), 3u) << "scratch files left behind";
}

INSTANTIATE_TEST_SUITE_P(Formats, StreamedCreateTest, ::testing::Values(Version::kJet3, Version::kJet4),
                         [](const auto& info) { return info.param == Version::kJet3 ? "Jet3" : "Jet4"; });

// "a" has ids 1..n (every tenth row deleted); "b" refers to them.
jet::Schema ReferencingSchema(int n, const std::vector<int>& b_targets) {
  jet::Schema schema;
  schema.version = Version::kJet4;
  schema.creation_date = 45000;
  jet::TableSpec a;
  a.name = "a";
  a.columns = {Column("id", ColumnType::kLong)};
  a.indexes = {Index("PrimaryKey", "id", true)};
  for (int i = 1; i <= n; ++i) {
    jet::RowSpec row;
    row.values = {Value::Long(i)};
    row.deleted = i % 10 == 0;
    a.rows.push_back(row);
  }
  jet::TableSpec b;
  b.name = "b";
  b.columns = {Column("nr", ColumnType::kLong), Column("a_id", ColumnType::kLong)};
  b.indexes = {Index("PrimaryKey", "nr", true)};
  for (size_t i = 0; i < b_targets.size(); ++i) {
    jet::RowSpec row;
    row.values = {Value::Long(int32_t(i)), b_targets[i] == 0 ? Value::Null() : Value::Long(b_targets[i])};
    b.rows.push_back(row);
  }
  // The referencing table first: its keys are met before the referenced ones.
  schema.tables = {b, a};
  jet::RelationshipSpec rel;
  rel.name = "ab";
  rel.from_table = "b";
  rel.from_columns = {"a_id"};
  rel.to_table = "a";
  rel.to_columns = {"id"};
  schema.relationships = {rel};
  return schema;
}

TEST(StreamedCreateReferenceTest, FirstRowReferringToNothingIsNamedAcrossRuns) {
  std::vector<int> targets;
  for (int i = 0; i < 3000; ++i) targets.push_back(i % 7 == 0 ? 0 : 1 + (i * 37) % 2999);
  // (3,000 keys a side: with TinySortMemory each side spills many runs.)
  for (int& t : targets)
    if (t % 10 == 0) t = 1;  // only live targets
  for (const jet::CreateOptions& options : {jet::CreateOptions(), TinySortMemory()}) {
    testing_support::TempDir dir;
    jet::Schema good = ReferencingSchema(3000, targets);
    std::unique_ptr<jet::RowSupplier> rows = jet::SchemaRows(good);
    jet::Status s = jet::CreateDatabase(good, rows.get(), dir.File("good.mdb"), jet::Env::Default(), options);
    EXPECT_TRUE(s.ok()) << s.ToString();

    std::vector<int> bad = targets;
    bad[2500] = 5000;  // no such row
    bad[1200] = 30;    // a deleted row; the first bad one
    bad[1800] = 4000;
    jet::Schema schema = ReferencingSchema(3000, bad);
    rows = jet::SchemaRows(schema);
    s = jet::CreateDatabase(schema, rows.get(), dir.File("bad.mdb"), jet::Env::Default(), options);
    EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument);
    EXPECT_NE(s.detail().find("row 1201 of \"b\""), std::string::npos) << s.detail();
    EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"good.mdb"});
  }
}

TEST(StreamedCreateReferenceTest, UniqueIndexDuplicatesAreFoundAcrossRunsAndNullsAreNot) {
  const auto make = [](int duplicate_of) {
    jet::Schema schema;
    schema.version = Version::kJet3;
    jet::TableSpec t;
    t.name = "t";
    t.columns = {Column("code", ColumnType::kLong)};
    t.indexes = {Index("code", "code", false, true)};
    for (int i = 0; i < 4000; ++i) {
      jet::RowSpec row;
      // Many nulls: no conflict in a unique index.
      row.values = {i % 3 == 0 ? Value::Null() : Value::Long(i)};
      t.rows.push_back(row);
    }
    if (duplicate_of > 0) t.rows[3998].values = {Value::Long(duplicate_of)};
    schema.tables = {t};
    return schema;
  };
  testing_support::TempDir dir;
  jet::Schema nulls = make(0);
  std::unique_ptr<jet::RowSupplier> rows = jet::SchemaRows(nulls);
  jet::Status s = jet::CreateDatabase(nulls, rows.get(), dir.File("nulls.mdb"), jet::Env::Default(), TinySortMemory());
  EXPECT_TRUE(s.ok()) << s.ToString();
  jet::Schema twice = make(2);
  rows = jet::SchemaRows(twice);
  s = jet::CreateDatabase(twice, rows.get(), dir.File("twice.mdb"), jet::Env::Default(), TinySortMemory());
  EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument);
  EXPECT_NE(s.detail().find("same key in unique index \"code\""), std::string::npos) << s.detail();
  EXPECT_EQ(FilesIn(dir.path()), std::vector<std::string>{"nulls.mdb"});
}

// Whatever call fails -- calls on the sorts' scratch files included -- the
// destination either is made in full or does not appear, and no temporary file stays.
// The one exception is a scratch file whose removal itself failed: the database is
// fine then, and the file is left for the stale-temporary cleanup of a later run.
TEST(StreamedCreateReferenceTest, AFailedCallWithSpilledSortsLeavesNothingBehind) {
  std::vector<int> targets;
  for (int i = 0; i < 60; ++i) targets.push_back(1 + i % 9);
  const jet::Schema schema = ReferencingSchema(60, targets);
  std::unique_ptr<jet::RowSupplier> rows = jet::SchemaRows(schema);
  jet::CreateOptions options;
  options.sort_memory = 1024;
  testing_support::TempDir dir;
  jet::FaultInjectionEnv counting(jet::Env::Default());
  ASSERT_TRUE(jet::CreateDatabase(schema, rows.get(), dir.File("count.mdb"), &counting, options).ok());
  const uint64_t calls = counting.calls();
  const std::string expected = testing_support::ReadFileBytes(dir.File("count.mdb"));
  std::filesystem::remove(dir.File("count.mdb"));
  jet::FaultInjectionEnv unspilled(jet::Env::Default());
  ASSERT_TRUE(jet::CreateDatabase(schema, rows.get(), dir.File("count.mdb"), &unspilled).ok());
  ASSERT_GT(calls, unspilled.calls() + 10) << "the sorts did not spill";
  std::filesystem::remove(dir.File("count.mdb"));
  size_t failed = 0;
  for (uint64_t call = 1; call <= calls; ++call) {
    jet::FaultInjectionEnv env(jet::Env::Default());
    env.FailAt(call, call % 2 ? EIO : ENOSPC);
    const jet::Status s = jet::CreateDatabase(schema, rows.get(), dir.File("x.mdb"), &env, options);
    std::vector<std::string> left = FilesIn(dir.path());
    if (!s.ok()) {
      ++failed;
      EXPECT_TRUE(left.empty()) << "call " << call << ": " << left.front();
      continue;
    }
    EXPECT_TRUE(testing_support::ReadFileBytes(dir.File("x.mdb")) == expected) << "call " << call;
    left.erase(std::remove(left.begin(), left.end(), "x.mdb"), left.end());
    EXPECT_LE(left.size(), 1u) << "call " << call;
    for (const std::string& name : left) EXPECT_EQ(name.rfind(".x.mdb.tmp-", 0), 0u) << name;
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
  }
  EXPECT_GT(failed, calls / 2);  // most calls matter
}

jet::TableSpec KeyedTable(const char* name) {
  jet::TableSpec t;
  t.name = name;
  t.columns = {Column("id", ColumnType::kLong), Column("ref", ColumnType::kLong), Column("vrij", ColumnType::kLong)};
  t.columns[0].autonumber = true;
  t.indexes = {Index("PrimaryKey", "id", true)};
  return t;
}

jet::RelationshipSpec Relationship(const char* name, const char* from, const char* from_column, const char* to,
                                   const char* to_column, bool enforced = true) {
  jet::RelationshipSpec rel;
  rel.name = name;
  rel.from_table = from;
  rel.from_columns = {from_column};
  rel.to_table = to;
  rel.to_columns = {to_column};
  rel.enforced = enforced;
  return rel;
}

// A streamed referencing row copies its target's key from the row number alone, so
// keys that would need the target row itself are refused up front.
TEST(RowGeneratorTest, RefusesReferencesToKeysThatAreNotARowNumber) {
  jet::Schema schema;
  schema.tables = {KeyedTable("a"), KeyedTable("b"), KeyedTable("c")};
  std::unique_ptr<jet::RowGenerator> generator;

  schema.relationships = {Relationship("ba", "b", "ref", "a", "id"), Relationship("cb", "c", "ref", "b", "id")};
  EXPECT_TRUE(jet::RowGenerator::Make(schema, 50, 1, &generator).ok());

  // To a column of random values (a relationship Access does not enforce).
  schema.relationships = {Relationship("ba", "b", "ref", "a", "vrij", false)};
  EXPECT_EQ(jet::RowGenerator::Make(schema, 50, 1, &generator).kind(), jet::ErrorKind::kInvalidArgument);
  // To a column an earlier relationship fills.
  schema.relationships = {Relationship("ba", "b", "id", "a", "id"), Relationship("cb", "c", "ref", "b", "id")};
  jet::Status s = jet::RowGenerator::Make(schema, 50, 1, &generator);
  EXPECT_EQ(s.kind(), jet::ErrorKind::kInvalidArgument);
  EXPECT_NE(s.detail().find("\"cb\""), std::string::npos) << s.detail();
  // With no generated rows in the referenced table, its own rows are all there is.
  schema.tables[1].generated_rows_factor = 0;
  EXPECT_TRUE(jet::RowGenerator::Make(schema, 50, 1, &generator).ok());
}

// The k-th live row is found in the bitmap of deleted rows: every referencing value
// names a live row, and over many rows every live row is picked now and then.
TEST(RowGeneratorTest, ReferencesNameLiveRowsOnly) {
  jet::Schema schema;
  schema.tables = {KeyedTable("a"), KeyedTable("b")};
  schema.tables[0].generated_deleted_percent = 60;
  schema.tables[1].generated_rows_factor = 20;
  schema.relationships = {Relationship("ba", "b", "ref", "a", "id")};
  ASSERT_TRUE(jet::GenerateRows(500, 5, &schema).ok());
  std::vector<int> state(501, 0);  // by id: 1 live, 2 deleted
  for (const jet::RowSpec& row : schema.tables[0].rows) state[size_t(row.values[0].integer())] = row.deleted ? 2 : 1;
  std::vector<bool> picked(501, false);
  for (const jet::RowSpec& row : schema.tables[1].rows) {
    if (row.values[1].is_null()) continue;
    const int64_t id = row.values[1].integer();
    ASSERT_TRUE(id >= 1 && id <= 500) << id;
    ASSERT_EQ(state[size_t(id)], 1) << "row " << id << " is not live";
    picked[size_t(id)] = true;
  }
  size_t live = 0, live_picked = 0;
  for (size_t id = 1; id <= 500; ++id) {
    live += state[id] == 1;
    live_picked += state[id] == 1 && picked[id];
  }
  EXPECT_GT(live, 120u);
  EXPECT_GT(live_picked, live * 9 / 10);
}

}  // namespace
