// The repair study's instruments: page roles and page damage on the fixture files
// (what each mode changes, and that a seed names one damage), and the judge's
// outcomes on small made-up readings.
#include <gtest/gtest.h>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/maintain/repair.h"
#include "tests/support/database_bytes.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "tools/damage/page_damage.h"
#include "tools/repair_study/judge.h"

namespace {

using damage::Mode;
using damage::Role;
using study::Outcome;

// Usage maps with flipped bits that name pages not the table's: the pages stay
// another's (jk_delcol_2003 names a deleted table's leftovers, whose rows must not
// become the table's), and the repair still succeeds (sqlp_northwind).
TEST(PageDamage, FlippedMapsAdoptNoOtherPages) {
  SKIP_WITHOUT_TESTDATA();
  testing_support::TempDir dir;
  const struct {
    const char* file;
    int64_t page;
    uint64_t seed;
  } cases[] = {{"jet4/jk_delcol_2003.mdb", 25, 1}, {"jet4/sqlp_northwind.mdb", 18, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    const std::string source = testing_support::TestDataDir() + "/" + c.file;
    const std::string path = dir.File(std::to_string(c.page) + ".mdb");
    damage::PageDamageResult result;
    ASSERT_TRUE(damage::MakePageDamagedCopy(source, path, {Role::kUsageMap, Mode::kFlip, c.seed, 8, c.page}, &result).ok());
    ASSERT_GT(result.bytes_changed, 0u);
    jet::RepairReport report;
    const jet::Status s = jet::RepairDatabaseWithReport(path, &report);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_EQ(testing_support::TableRowCounts(path), testing_support::TableRowCounts(source));
  }
}

// The bytes of page `page` of a file image.
std::string PageOf(const std::string& bytes, uint32_t page, uint32_t size) {
  return bytes.substr(size_t(page) * size, size);
}

TEST(PageDamage, RolesAndModesOnFixtures) {
  for (jet::Version version : {jet::Version::kJet3, jet::Version::kJet4}) {
    const std::string path = testing_support::FixtureDatabase(version);
    ASSERT_FALSE(path.empty()) << testing_support::FixtureError();
    const uint32_t page_size = jet::FormatFor(version).page_size;
    damage::PageRoles roles;
    ASSERT_TRUE(damage::ListPageRoles(path, &roles).ok());
    EXPECT_EQ(roles.Candidates(Role::kHeader), std::vector<uint32_t>{0});
    EXPECT_EQ(roles.Candidates(Role::kCatalogDefinition), std::vector<uint32_t>{2});
    for (Role role : {Role::kCatalogData, Role::kTableDefinition, Role::kData, Role::kLongValue, Role::kUsageMap,
                      Role::kIndexLeaf})
      EXPECT_FALSE(roles.Candidates(role).empty()) << damage::RoleName(role);

    const std::string original = testing_support::ReadFileBytes(path);
    testing_support::TempDir dir;
    int copies = 0;
    auto damaged = [&](const damage::PageDamage& d, damage::PageDamageResult* result) {
      const std::string out = dir.File(std::to_string(++copies) + ".mdb");
      EXPECT_TRUE(damage::MakePageDamagedCopy(path, out, d, result).ok());
      const std::string bytes = testing_support::ReadFileBytes(out);
      EXPECT_EQ(bytes.size(), original.size());
      // Nothing outside the damaged page changes.
      for (uint32_t p = 0; p < original.size() / page_size; ++p)
        if (p != result->page) {
          EXPECT_EQ(PageOf(bytes, p, page_size), PageOf(original, p, page_size)) << p;
        }
      return PageOf(bytes, result->page, page_size);
    };

    damage::PageDamageResult r;
    EXPECT_EQ(damaged({Role::kData, Mode::kZero, 1}, &r), std::string(page_size, '\0'));
    const std::string torn = damaged({Role::kData, Mode::kTorn, 1}, &r);
    EXPECT_EQ(torn.substr(0, page_size / 2), PageOf(original, r.page, page_size).substr(0, page_size / 2));
    EXPECT_EQ(torn.substr(page_size / 2), std::string(page_size / 2, '\0'));

    // A flip changes exactly N bytes; the same seed the same ones, another seed others.
    damage::PageDamageResult again, other;
    const std::string flipped = damaged({Role::kLongValue, Mode::kFlip, 5, 6}, &r);
    const std::string before = PageOf(original, r.page, page_size);
    int changed = 0;
    for (uint32_t i = 0; i < page_size; ++i) changed += flipped[i] != before[i];
    EXPECT_EQ(changed, 6);
    EXPECT_EQ(r.bytes_changed, 6u);
    EXPECT_EQ(damaged({Role::kLongValue, Mode::kFlip, 5, 6}, &again), flipped);
    EXPECT_NE(damaged({Role::kLongValue, Mode::kFlip, 6, 6, int64_t(r.page)}, &other), flipped);
    EXPECT_EQ(other.page, r.page);

    damage::PageDamage not_a_candidate{Role::kData, Mode::kZero, 1, 8, 0};
    EXPECT_FALSE(damage::MakePageDamagedCopy(path, dir.File("x.mdb"), not_a_candidate, &r).ok());
  }
}

// A long value whose table row is deleted stays on its page beside a live one: no
// reader reads its bytes, which the roles set apart from the live value's.
TEST(PageDamage, LongValuesNoRowReachesAreUnread) {
  jet::TableSpec blob;
  blob.name = "blob";
  blob.columns = {{"id", jet::ColumnType::kLong}, {"data", jet::ColumnType::kOle}};
  for (int i = 0; i < 2; ++i) blob.rows.push_back({{jet::Value::Long(i), jet::Value::Binary(std::vector<uint8_t>(600, 0x41))}});
  testing_support::DatabaseBytes db;
  ASSERT_TRUE(db.Create({blob}, jet::Version::kJet4)) << db.error();
  const std::vector<jet::RowId> rows = db.LiveRows("blob");
  ASSERT_EQ(rows.size(), 2u);
  jet::StoreLe16(db.Slot(rows[0]), uint16_t(jet::LoadLe16(db.Slot(rows[0])) | jet::kSlotDeleted));
  testing_support::TempDir dir;
  ASSERT_TRUE(db.WriteTo(dir.File("blob.mdb")));
  damage::PageRoles roles;
  ASSERT_TRUE(damage::ListPageRoles(dir.File("blob.mdb"), &roles).ok());
  ASSERT_EQ(roles.Candidates(Role::kLongValue).size(), 1u);
  const uint32_t page = roles.Candidates(Role::kLongValue)[0];
  ASSERT_EQ(roles.value_bytes[page].size(), 1u);
  ASSERT_EQ(roles.unread_bytes[page].size(), 1u);
  const damage::Extent live = roles.value_bytes[page][0], unread = roles.unread_bytes[page][0];
  EXPECT_TRUE(unread.end <= live.begin || live.end <= unread.begin);
  EXPECT_GE(unread.end - unread.begin, 600u);
}

// Readings of a one-table file: rows by their text.
study::FileRead Rows(std::initializer_list<std::string> rows) {
  study::FileRead read;
  study::TableRead& table = read.tables["T"];
  table.ok = true;
  for (const std::string& row : rows) ++table.rows[row];
  return read;
}

study::FileRead Failed() {
  study::FileRead read;
  read.tables["T"].error = "cannot read";
  return read;
}

struct JudgeCase {
  const char* name;
  bool acted;
  study::FileRead ours, others_damaged, others_repaired;
  uint64_t reported_lost;
  bool value_bytes_only;
  Outcome outcome;
  bool worse, under;
};

TEST(StudyJudge, Outcomes) {
  study::Reads original;
  for (study::FileRead& read : original) read = Rows({"a", "b", "c"});
  const std::vector<JudgeCase> cases = {
      {"all back", true, Rows({"a", "b", "c"}), Rows({"a", "b"}), Rows({"a", "b", "c"}), 0, false,
       Outcome::kLossless, false, false},
      {"one lost, counted", true, Rows({"a", "b"}), Rows({"a"}), Rows({"a", "b"}), 1, false, Outcome::kWithLoss,
       false, false},
      {"one lost, not counted", true, Rows({"a", "b"}), Rows({"a"}), Rows({"a", "b"}), 0, false,
       Outcome::kWithLoss, false, true},
      {"a reader had it", true, Rows({"a", "b"}), Rows({"a", "c"}), Rows({"a", "b"}), 1, false,
       Outcome::kWithLoss, true, false},
      {"garbled row kept", true, Rows({"a", "b", "x"}), Rows({"a", "b"}), Rows({"a", "b", "x"}), 1, false,
       Outcome::kCorrupted, false, false},
      {"output unreadable by others", true, Rows({"a", "b", "c"}), Rows({"a"}), Failed(), 0, false,
       Outcome::kCorrupted, true, false},
      {"check clean, a reader fails", false, Rows({"a", "b", "c"}), Failed(), Failed(), 0, false,
       Outcome::kSilent, false, false},
      {"value flipped, all alike", false, Rows({"a", "b", "x"}), Rows({"a", "b", "y"}), Rows({"a", "b", "y"}), 0,
       true, Outcome::kInvisible, false, false},
      {"value flipped, readers differ", false, Rows({"a", "b", "x"}), Rows({"a", "b"}), Rows({"a", "b"}), 0, true,
       Outcome::kSilent, false, true},
  };
  for (const JudgeCase& c : cases) {
    study::CaseFacts facts;
    facts.original = &original;
    facts.value_bytes_only = c.value_bytes_only;
    facts.repair.ok = true;
    facts.repair.acted = c.acted;
    facts.repair.rows_lost["T"] = c.reported_lost;
    facts.damaged[size_t(study::Reader::kOurs)] = c.ours;
    for (study::Reader other : {study::Reader::kMdbReader, study::Reader::kMdbtools}) {
      facts.damaged[size_t(other)] = c.others_damaged;
      facts.repaired[size_t(other)] = c.acted ? c.others_repaired : c.others_damaged;
    }
    facts.repaired[size_t(study::Reader::kOurs)] = c.ours;
    const study::Verdict v = study::Judge(facts);
    EXPECT_EQ(study::OutcomeName(v.outcome), std::string(study::OutcomeName(c.outcome))) << c.name << ": " << v.reason;
    EXPECT_EQ(v.worse_than_no_tool, c.worse) << c.name;
    EXPECT_EQ(v.under_reported, c.under) << c.name;
  }

  study::CaseFacts facts;
  facts.original = &original;
  facts.repair.died = true;
  EXPECT_EQ(study::Judge(facts).outcome, Outcome::kCrash);
  facts.repair = study::RepairRun();
  facts.repair.error = "damaged beyond repair";
  facts.damaged[size_t(study::Reader::kMdbtools)] = Rows({"a", "b"});
  const study::Verdict refused = study::Judge(facts);
  EXPECT_EQ(refused.outcome, Outcome::kRefused);
  EXPECT_EQ(refused.readable_intact, 2u);

  // Every row back, but page 0 lost the password: a loss when the report says so,
  // corruption when page 0 differs unannounced.
  facts = study::CaseFacts();
  facts.original = &original;
  facts.repair.ok = facts.repair.acted = true;
  for (study::FileRead& read : facts.repaired) read = Rows({"a", "b", "c"});
  facts.password_lost = true;
  EXPECT_EQ(study::Judge(facts).outcome, Outcome::kWithLoss);
  facts.password_lost = false;
  facts.header_change = "says password none where the original says set";
  EXPECT_EQ(study::Judge(facts).outcome, Outcome::kCorrupted);

  // Rows back without a column the report dropped: a loss, reported; the same rows
  // without the report saying so are garbled ones.
  study::Reads two_columns;
  for (study::FileRead& read : two_columns) read = Rows({"[1,\"a,b\"]\x1f[]", "[2,null]\x1f[]"});
  facts = study::CaseFacts();
  facts.original = &two_columns;
  facts.repair.ok = facts.repair.acted = true;
  for (study::FileRead& read : facts.repaired) read = Rows({"[1]\x1f[]", "[2]\x1f[]"});
  facts.repair.columns_dropped["T"] = 1;
  const study::Verdict dropped = study::Judge(facts);
  EXPECT_EQ(dropped.outcome, Outcome::kWithLoss) << dropped.reason;
  EXPECT_EQ(dropped.without_dropped_rows, 2u);
  EXPECT_FALSE(dropped.under_reported);
  EXPECT_FALSE(dropped.over_reported());
  facts.repair.rows_lost["T"] = 1;
  EXPECT_TRUE(study::Judge(facts).over_reported());
  facts.repair.rows_lost.clear();
  facts.repair.columns_dropped.clear();
  EXPECT_EQ(study::Judge(facts).outcome, Outcome::kCorrupted);

  // Three dropped, each row's values matched in its original's order: a value that is
  // not its original's is still a garbled row.
  study::Reads five_columns;
  for (study::FileRead& read : five_columns) read = Rows({"[1,2,3,4,5]\x1f[]", "[6,7,8,9,0]\x1f[]"});
  facts.original = &five_columns;
  for (study::FileRead& read : facts.repaired) read = Rows({"[1,4]\x1f[]", "[6,1]\x1f[]"});
  facts.repair.columns_dropped["T"] = 3;
  const study::Verdict three = study::Judge(facts);
  EXPECT_EQ(three.outcome, Outcome::kCorrupted) << three.reason;
  EXPECT_EQ(three.without_dropped_rows, 1u);
}

}  // namespace
