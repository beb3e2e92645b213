// Hostile and damaged input: files that are not databases, truncated files, and many
// randomly damaged copies of real files. Every one must give a clear error or read
// cleanly; none may crash, hang or read out of bounds (these also run under
// AddressSanitizer and UndefinedBehaviorSanitizer).
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "jet/read/database.h"
#include "jet/read/index_reader.h"
#include "jet/file/usage_map.h"
#include "tests/support/test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadBytes(const std::string& path) {
  std::string s = testing_support::ReadFileBytes(path);
  return Bytes(s.begin(), s.end());
}

// An error from the reader must say what it is; these are the kinds a damaged file
// can produce.
void ExpectCleanError(const jet::Status& s) {
  if (s.ok()) return;
  EXPECT_FALSE(s.detail().empty());
  EXPECT_TRUE(s.kind() == jet::ErrorKind::kDamaged || s.kind() == jet::ErrorKind::kNotJetDatabase ||
              s.kind() == jet::ErrorKind::kUnsupportedFormat)
      << s.ToString();
}

struct ReadResult {
  jet::Status open;
  size_t tables_read = 0;
  size_t errors = 0;
  uint64_t rows = 0;
};

// Opens the bytes and reads every structure the reader knows: catalog, definitions,
// rows with their long values, indexes and usage maps.
ReadResult ReadEverything(const Bytes& bytes) {
  ReadResult result;
  std::unique_ptr<jet::Database> db;
  result.open = jet::Database::OpenMemory(bytes.data(), bytes.size(), &db);
  ExpectCleanError(result.open);
  if (!result.open.ok()) return result;
  auto note = [&](const jet::Status& s) {
    ExpectCleanError(s);
    if (!s.ok()) ++result.errors;
  };
  for (const jet::CatalogObject* object : db->Tables(true)) {
    const jet::TableDef* table;
    jet::Status s = db->GetTableDef(static_cast<uint32_t>(object->id) & 0xFFFFFF, &table);
    note(s);
    if (!s.ok()) continue;
    ++result.tables_read;
    note(db->ScanRows(*table, [&](const jet::RowId&, const std::vector<jet::Value>&) {
      ++result.rows;
      return true;
    }));
    for (size_t i = 0; i < table->real_indexes.size(); ++i) {
      std::vector<jet::IndexEntry> entries;
      note(db->ReadIndexEntries(*table, i, &entries));
      jet::UsageMap map;
      note(jet::ReadUsageMap(db->file(), table->real_indexes[i].usage_map, &map));
    }
    jet::UsageMap map;
    note(jet::ReadUsageMap(db->file(), table->free_map, &map));
    for (const jet::LongValueMaps& m : table->long_value_maps) note(jet::ReadUsageMap(db->file(), m.owned_map, &map));
  }
  return result;
}

TEST(ReaderHostileTest, NotADatabase) {
  for (size_t size : {0, 1, 100, 2047, 2048, 4096, 65536}) {
    SCOPED_TRACE(size);
    Bytes zeros(size, 0);
    ReadResult r = ReadEverything(zeros);
    EXPECT_EQ(r.open.kind(), jet::ErrorKind::kNotJetDatabase);
    std::mt19937 random(static_cast<unsigned>(size));
    Bytes noise(size);
    for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
    if (size > 0) noise[0] = 0;  // get past the first check
    r = ReadEverything(noise);
    EXPECT_EQ(r.open.kind(), jet::ErrorKind::kNotJetDatabase);
  }
  std::unique_ptr<jet::PageFile> file;
  EXPECT_EQ(jet::PageFile::Open("/nonexistent/x.mdb", &file).kind(), jet::ErrorKind::kNotFound);
  EXPECT_EQ(jet::PageFile::Open("/tmp", &file).kind(), jet::ErrorKind::kNotJetDatabase);
}

TEST(ReaderHostileTest, HeaderEdgeCases) {
  SKIP_WITHOUT_TESTDATA();
  Bytes bytes = ReadBytes(testing_support::TestDataDir() + "/jet4/jk_test2_2000.mdb");
  ASSERT_GT(bytes.size(), 8192u);
  std::unique_ptr<jet::PageFile> file;
  Bytes b = bytes;
  b[0x14] = 0x09;  // a version from the future
  EXPECT_EQ(jet::PageFile::OpenMemory(b.data(), b.size(), &file).kind(), jet::ErrorKind::kUnsupportedFormat);
  b = bytes;
  std::memcpy(&b[4], "MSISAM Database", 15);
  EXPECT_EQ(jet::PageFile::OpenMemory(b.data(), b.size(), &file).kind(), jet::ErrorKind::kUnsupportedFormat);
  b = bytes;
  std::memcpy(&b[4], "Standard ACE DB", 15);  // name and version byte disagree
  EXPECT_EQ(jet::PageFile::OpenMemory(b.data(), b.size(), &file).kind(), jet::ErrorKind::kNotJetDatabase);
  b = bytes;
  b[0x14] = 0x02;  // ACE ...
  std::memcpy(&b[4], "Standard ACE DB", 15);
  b[0x3E] ^= 0x5A;  // ... with a database key: Office encryption
  EXPECT_EQ(jet::PageFile::OpenMemory(b.data(), b.size(), &file).kind(), jet::ErrorKind::kUnsupportedFormat);
  // A Jet 4 file shorter than its first page.
  EXPECT_EQ(jet::PageFile::OpenMemory(bytes.data(), 3000, &file).kind(), jet::ErrorKind::kNotJetDatabase);
}

TEST(ReaderHostileTest, TruncatedFiles) {
  SKIP_WITHOUT_TESTDATA();
  for (const char* name : {"jet3/jk_test2.mdb", "jet4/jk_test2_2000.mdb", "jet3/nwind_orig.mdb",
                           "jet4/jk_overflow_2003.mdb"}) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadBytes(testing_support::TestDataDir() + "/" + name);
    std::unique_ptr<jet::PageFile> file;
    ASSERT_TRUE(jet::PageFile::OpenMemory(bytes.data(), bytes.size(), &file).ok());
    const size_t page = file->page_size();
    for (size_t size : {page * 3 - 1, page * 3, page * 3 + 100, page * 8, bytes.size() / 2,
                        bytes.size() / 2 + 7, bytes.size() - page, bytes.size() - 1}) {
      SCOPED_TRACE(size);
      const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
      ReadResult r = ReadEverything(cut);
      if (size % page != 0 && r.open.ok()) {
        ASSERT_TRUE(jet::PageFile::OpenMemory(cut.data(), cut.size(), &file).ok());
        EXPECT_TRUE(file->has_partial_page());
        EXPECT_EQ(file->page_count(), size / page);
      }
      // The first few pages cannot hold a whole catalog; a later cut may lose only
      // unused pages, so there only a clean result is required.
      if (size <= page * 8) {
        EXPECT_TRUE(!r.open.ok() || r.errors > 0) << "read without any error";
      }
    }
  }
}

TEST(ReaderHostileTest, UnreadableOwnedMapFallsBackToOwnerScan) {
  SKIP_WITHOUT_TESTDATA();
  Bytes bytes = ReadBytes(testing_support::TestDataDir() + "/jet3/jk_overflow.mdb");
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::OpenMemory(bytes.data(), bytes.size(), &db).ok());
  const jet::TableDef* table;
  ASSERT_TRUE(db->GetTableDefByName("Table1", &table).ok());
  const uint32_t tdef_page = table->first_page;
  auto count = [&](jet::Database& d, const jet::TableDef& t) {
    uint64_t rows = 0;
    EXPECT_TRUE(d.ScanRows(t, [&](const jet::RowId&, const std::vector<jet::Value>&) {
                   ++rows;
                   return true;
                 }).ok());
    return rows;
  };
  const uint64_t expected = count(*db, *table);
  ASSERT_EQ(expected, 7u);
  db.reset();

  // Point the owned-pages map (Jet 3 TDEF offset 35) past the end of the file.
  const size_t at = size_t(tdef_page) * 2048 + 35;
  bytes[at] = 0;
  bytes[at + 1] = 0xFF;
  bytes[at + 2] = 0xFF;
  ASSERT_TRUE(jet::Database::OpenMemory(bytes.data(), bytes.size(), &db).ok());
  ASSERT_TRUE(db->GetTableDefByName("Table1", &table).ok());
  EXPECT_EQ(count(*db, *table), expected);
  bool noted = false;
  for (const std::string& n : db->notes()) noted |= n.find("owned-pages map unreadable") != std::string::npos;
  EXPECT_TRUE(noted);
}

TEST(ReaderHostileTest, DamagedCatalogIsACleanError) {
  SKIP_WITHOUT_TESTDATA();
  Bytes bytes = ReadBytes(testing_support::TestDataDir() + "/jet4/jk_test2_2000.mdb");
  std::fill(bytes.begin() + 2 * 4096, bytes.begin() + 3 * 4096, 0);
  ReadResult r = ReadEverything(bytes);
  EXPECT_EQ(r.open.kind(), jet::ErrorKind::kDamaged);
}

// Random damage: a few bytes overwritten anywhere past page 0, many times over.
TEST(ReaderHostileTest, RandomlyDamagedCopies) {
  SKIP_WITHOUT_TESTDATA();
  size_t opened = 0, with_errors = 0;
  for (const char* name : {"jet3/jk_test2.mdb", "jet3/jk_index.mdb", "jet4/jk_test2_2000.mdb",
                           "jet4/jk_overflow_2003.mdb", "jet3/jk_enc97.mdb"}) {
    SCOPED_TRACE(name);
    const Bytes original = ReadBytes(testing_support::TestDataDir() + "/" + name);
    ASSERT_FALSE(original.empty());
    const size_t page = original[0x14] == 0 ? 2048 : 4096;
    std::mt19937 random(12345);
    for (int round = 0; round < 150; ++round) {
      Bytes damaged = original;
      const int hits = 1 + static_cast<int>(random() % 24);
      for (int h = 0; h < hits; ++h) {
        const size_t at = page + random() % (damaged.size() - page);
        switch (random() % 3) {
          case 0: damaged[at] = static_cast<uint8_t>(random()); break;
          case 1: damaged[at] = 0xFF; break;
          default: damaged[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
        }
      }
      ReadResult r = ReadEverything(damaged);
      if (r.open.ok()) ++opened;
      if (!r.open.ok() || r.errors > 0) ++with_errors;
    }
  }
  // The damage must be found some of the time, and must not stop every open.
  EXPECT_GT(opened, 100u);
  EXPECT_GT(with_errors, 50u);
}

}  // namespace
