// The integrity check: real Access files carry no damage; each kind of damage the
// generator makes is found as damage at its place; hostile bytes never crash it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "jet/maintain/check.h"
#include "jet/file/data_page.h"
#include "jet/read/database.h"
#include "jet/read/row.h"
#include "jet/file/format.h"
#include "jet/file/header.h"
#include "tests/support/test_support.h"
#include "tools/damage/damage.h"

namespace {

using testing_support::TempDir;
using testing_support::TestDataDir;
using testing_support::TestDataFiles;

std::string Describe(const jet::CheckReport& report) {
  std::string text;
  for (const jet::CheckFinding& f : report.findings)
    text += std::string(jet::CheckSeverityName(f.severity)) + " " + jet::FindingKindName(f.kind) + " page " + std::to_string(f.page) +
            " [" + f.table + "] [" + f.index + "] " + f.detail + "\n";
  return text;
}

TEST(CheckFiles, RealFilesHaveNoDamage) {
  SKIP_WITHOUT_TESTDATA();
  std::map<std::string, int> harmless;  // kind -> files carrying it
  size_t files = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : TestDataFiles(folder)) {
      jet::CheckReport report;
      jet::Status s = jet::CheckDatabase(path, &report);
      ASSERT_TRUE(s.ok()) << path << ": " << s.ToString();
      EXPECT_FALSE(report.HasDamage()) << path << "\n" << Describe(report);
      EXPECT_GT(report.live_rows, 0u) << path;
      std::set<std::string> kinds;
      for (const jet::CheckFinding& f : report.findings) kinds.insert(jet::FindingKindName(f.kind));
      for (const std::string& k : kinds) ++harmless[k];
      ++files;
    }
  }
  EXPECT_EQ(files, 56u);
  for (const auto& [kind, count] : harmless) std::cout << "harmless finding " << kind << ": " << count << " files\n";
}

// Files with every structure the generator needs between them (index nodes, long
// value chains), Jet 3 and Jet 4.
const char* const kDamageFiles[] = {"jet3/nwind.mdb", "jet3/jk_compindex.mdb", "jet3/jk_test2.mdb",
                                    "jet3/rk_library.mdb", "jet4/sqlp_northwind.mdb", "jet4/jk_test2_2000.mdb",
                                    "jet4/fc_reviews.mdb", "jet4/mdbr_nycflights.mdb"};

TEST(CheckDamage, EveryKindIsFoundAtItsPlace) {
  SKIP_WITHOUT_TESTDATA();
  TempDir dir;
  std::map<damage::Kind, int> found;
  for (const char* name : kDamageFiles) {
    const std::string source = TestDataDir() + "/" + name;
    for (const damage::Kind kind : damage::AllKinds()) {
      const damage::ExpectedFindings& e = damage::FindingsOf(kind);
      const std::string copy = dir.File(std::string(damage::KindName(kind)) + "-" + std::to_string(found[kind]) +
                                        "-" + std::to_string(std::hash<std::string>()(name)) + ".mdb");
      damage::Result result;
      jet::Status s = damage::MakeDamagedCopy(source, copy, kind, &result);
      if (s.kind() == jet::ErrorKind::kNotFound) continue;  // no place for it in this file
      ASSERT_TRUE(s.ok()) << name << " " << damage::KindName(kind) << ": " << s.ToString();
      jet::CheckReport report;
      s = jet::CheckDatabase(copy, &report);
      ASSERT_TRUE(s.ok()) << s.ToString();
      bool kind_found = false, place_found = false;
      for (const jet::CheckFinding& f : report.findings) {
        const bool expected = std::find(e.kinds.begin(), e.kinds.end(), f.kind) != e.kinds.end();
        if (f.severity != jet::CheckSeverity::kDamage || !expected) continue;
        kind_found = true;
        if (f.page == result.page) place_found = true;
        if (!result.table.empty() && f.table != result.table && kind != damage::Kind::kTruncated)
          ADD_FAILURE() << name << " " << damage::KindName(kind) << ": finding names table " << f.table
                        << ", damage was in " << result.table;
      }
      EXPECT_TRUE(kind_found) << name << " " << damage::KindName(kind) << " (" << result.description << ")\n"
                              << Describe(report);
      if (e.at_page) {
        EXPECT_TRUE(place_found) << name << " " << damage::KindName(kind) << "\n" << Describe(report);
      }
      ++found[kind];
    }
  }
  // Every kind was placed in at least two of the files.
  for (const damage::Kind kind : damage::AllKinds()) EXPECT_GE(found[kind], 2) << damage::KindName(kind);
}

TEST(CheckCommitBytes, StateIsSetAndCleared) {
  const jet::Format& format = jet::FormatFor(jet::Version::kJet4);
  std::vector<uint8_t> page(format.page_size, 0);
  for (size_t at = jet::CommitAreaOffset(format); at < format.page_size; at += 2) page[at + 1] = 0x01;
  page[jet::CommitAreaOffset(format)] = 0x43;  // a counter, as Access leaves it
  EXPECT_FALSE(jet::CommitStateSet(format, page.data()));
  page[jet::CommitAreaOffset(format) + 7] = 0x00;
  EXPECT_TRUE(jet::CommitStateSet(format, page.data()));
  jet::ClearCommitState(format, page.data());
  EXPECT_FALSE(jet::CommitStateSet(format, page.data()));
  EXPECT_EQ(page[jet::CommitAreaOffset(format)], 0x43);  // slots in a clean state are kept
  EXPECT_EQ(page[jet::CommitAreaOffset(format) + 6], 0x00);
  EXPECT_EQ(page[jet::CommitAreaOffset(format) + 7], 0x01);
}

// Random byte changes and cuts of real files: the check must finish (and, for bytes it
// can read at all, report) without crashing, hanging or reading out of bounds.
TEST(CheckHostile, MutatedFilesNeverCrash) {
  SKIP_WITHOUT_TESTDATA();
  std::mt19937 random(8);
  for (const char* name : {"jet3/jk_test2.mdb", "jet4/jk_overflow_2003.mdb", "jet3/jk_compindex.mdb"}) {
    const std::string original = testing_support::ReadFileBytes(TestDataDir() + "/" + name);
    ASSERT_FALSE(original.empty());
    int damaged = 0;
    for (int round = 0; round < 60; ++round) {
      std::string bytes = original;
      const int changes = 1 + int(random() % 40);
      for (int i = 0; i < changes; ++i) {
        // Mostly structure pages near the front; sometimes anywhere.
        const size_t limit = (random() % 2) ? std::min<size_t>(bytes.size(), 40 * 4096) : bytes.size();
        bytes[random() % limit] = char(random());
      }
      if (round % 10 == 9) bytes.resize(random() % bytes.size());
      jet::CheckReport report;
      jet::Status s = jet::CheckDatabaseBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &report);
      if (s.ok() && report.HasDamage()) ++damaged;
    }
    EXPECT_GT(damaged, 10) << name;
  }
}

}  // namespace

namespace {

// A query row whose ObjectId names no query: found as damage at that row.
TEST(CheckCatalog, QueryRowsMustNameQueries) {
  SKIP_WITHOUT_TESTDATA();
  std::string bytes = testing_support::ReadFileBytes(TestDataDir() + "/jet3/jk_query.mdb");
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::OpenMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &db).ok());
  const jet::TableDef* queries;
  ASSERT_TRUE(db->GetTableDefByName("MSysQueries", &queries).ok());
  const int column = queries->FindColumnByName("ObjectId");
  ASSERT_GE(column, 0);
  // The first row: find its bytes on its page and overwrite the id.
  jet::RowId first;
  bool found = false;
  ASSERT_TRUE(db->ScanRows(*queries, [&](const jet::RowId& row, const std::vector<jet::Value>&) {
                  first = row;
                  found = true;
                  return false;
                }).ok());
  ASSERT_TRUE(found);
  const uint32_t page_size = db->format().page_size;
  std::vector<uint8_t> page(bytes.begin() + first.page * page_size, bytes.begin() + (first.page + 1) * page_size);
  jet::DataPageHeader header;
  jet::RowSlot slot;
  ASSERT_TRUE(jet::ParseDataPage(db->format(), page.data(), &header).ok());
  ASSERT_TRUE(jet::GetRowSlot(db->format(), page.data(), header, first.row, &slot).ok());
  ASSERT_FALSE(slot.overflow);
  std::vector<jet::RawColumn> raw;
  ASSERT_TRUE(jet::CrackRow(db->format(), *queries, page.data() + slot.start, slot.size(), &raw).ok());
  ASSERT_EQ(raw[column].size, 4u);
  const size_t at = size_t(first.page) * page_size + slot.start + raw[column].offset;
  bytes[at] = 0x55;
  bytes[at + 1] = 0x44;
  jet::CheckReport report;
  ASSERT_TRUE(jet::CheckDatabaseBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &report).ok());
  bool reported = false;
  for (const jet::CheckFinding& f : report.findings)
    if (f.kind == jet::FindingKind::kCatalogQueryObject && f.page == first.page && f.row == first.row) reported = true;
  EXPECT_TRUE(reported) << Describe(report);
}

}  // namespace

namespace {

// The ACE sample with rows that break its own unique index (written that way on
// purpose by its authors): the check finds exactly that.
TEST(CheckFiles, LogicallyCorruptSampleIsFound) {
  SKIP_WITHOUT_TESTDATA();
  jet::CheckReport report;
  ASSERT_TRUE(jet::CheckDatabase(TestDataDir() + "/ace/ua_corrupted.accdb", &report).ok());
  ASSERT_EQ(report.DamageCount(), 1u) << Describe(report);
  for (const jet::CheckFinding& f : report.findings)
    if (f.severity == jet::CheckSeverity::kDamage) {
      EXPECT_EQ(f.kind, jet::FindingKind::kIndexUnique);
      EXPECT_EQ(f.table, "UK");
    }
}

}  // namespace
