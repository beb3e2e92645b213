// The repair against the page damage crashes leave (a page never written, a write torn
// in half, flipped bytes) on every page a user table depends on: no row is invented,
// none is kept garbled, the report's losses are the real losses, and damage to a usage
// map loses nothing. Each lost row that the primary key still indexes is named.
#include <gtest/gtest.h>

#include <iostream>

#include "jet/maintain/check.h"
#include "jet/maintain/repair.h"
#include "tests/support/fixtures.h"
#include "tests/support/test_support.h"
#include "tests/support/table_rows.h"
#include "tools/damage/page_damage.h"

namespace {

using testing_support::ReadTableRows;
using testing_support::TableRows;

size_t RowCount(const TableRows& rows) {
  size_t n = 0;
  for (const auto& [name, table] : rows) n += table.size();
  return n;
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
          if (role == damage::Role::kUsageMap) EXPECT_EQ(kept, RowCount(before)) << "a map lost rows";
        }
      }
    }
  }
  EXPECT_GT(cases, 30);
}

}  // namespace
