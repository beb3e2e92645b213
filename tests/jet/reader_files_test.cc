// The reader against the real Access-written files: page 0 of every file, every table
// of every Jet 3 / Jet 4 file scanned and counted against mdbtools, every index walked.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>

#include "jet/read/database.h"
#include "jet/read/index_reader.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"
#include "jet/base/text.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::TestDataFiles;

std::string BaseName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::vector<std::string> JetFiles() {
  std::vector<std::string> files = TestDataFiles("jet3");
  for (const std::string& f : TestDataFiles("jet4")) files.push_back(f);
  return files;
}

std::string ShellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out.push_back(c);
  }
  return out + "'";
}

// Runs a command and returns its standard output; false when it did not exit 0.
bool RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  int status = ::pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool HaveMdbTools() {
  std::string out;
  return RunCommand("command -v mdb-export >/dev/null 2>&1 && command -v mdb-count >/dev/null 2>&1 && echo yes", &out) &&
         out == "yes\n";
}

// Rows mdb-export gives out (it reads the pages), counted by a row separator that no
// test file holds (some hold every single byte value, so it has to be a string).
bool MdbExportRowCount(const std::string& file, const std::string& table, uint64_t* count) {
  std::string out;
  if (!RunCommand("mdb-export -H -b strip -R '@@ROW@@' " + ShellQuote(file) + " " + ShellQuote(table) +
                      " 2>/dev/null",
                  &out))
    return false;
  *count = 0;
  for (size_t at = out.find("@@ROW@@"); at != std::string::npos; at = out.find("@@ROW@@", at + 7)) ++*count;
  return true;
}

// mdb-count prints the row count stored in the table definition.
bool MdbCount(const std::string& file, const std::string& table, uint64_t* count) {
  std::string out;
  if (!RunCommand("mdb-count " + ShellQuote(file) + " " + ShellQuote(table) + " 2>/dev/null", &out))
    return false;
  *count = std::strtoull(out.c_str(), nullptr, 10);
  return true;
}

TEST(ReaderFilesTest, HeaderOfEveryFile) {
  SKIP_WITHOUT_TESTDATA();
  const std::map<std::string, std::string> passwords = {
      {"mr_pwd2000.mdb", "password"}, {"mr_pwd2003.mdb", "password"}, {"ua_password.mdb", "ucanaccess"}};
  const std::set<std::string> encoded = {"jk_enc97.mdb", "jk_enc.mdb"};
  for (const std::string folder : {"jet3", "jet4", "ace"}) {
    for (const std::string& path : TestDataFiles(folder)) {
      SCOPED_TRACE(path);
      const std::string name = BaseName(path);
      std::unique_ptr<jet::PageFile> file;
      ASSERT_TRUE(jet::PageFile::Open(path, &file).ok());
      const jet::Header& h = file->header();
      if (folder == "jet3") {
        EXPECT_EQ(h.version, jet::Version::kJet3);
        EXPECT_EQ(h.engine_name, "Standard Jet DB");
      } else if (folder == "jet4") {
        EXPECT_EQ(h.version, jet::Version::kJet4);
      } else {
        EXPECT_TRUE(jet::IsAce(h.version));
        EXPECT_EQ(h.engine_name, "Standard ACE DB");
      }
      EXPECT_EQ(file->page_count() * uint64_t(file->page_size()), file->file_size());
      EXPECT_FALSE(file->has_partial_page());
      EXPECT_EQ(h.raw_page.size(), file->page_size());
      if (name == "nodeadodb.mdb") {
        EXPECT_EQ(h.code_page, 936);
        EXPECT_EQ(h.sort_lcid, 2052);
      } else {
        EXPECT_EQ(h.code_page, 1252);
        EXPECT_EQ(h.sort_lcid, 1033);
      }
      EXPECT_EQ(h.has_creation_date, folder != "jet3");
      if (h.has_creation_date) {
        // Creation dates of these files lie between 1995 and 2030.
        EXPECT_GT(h.creation_date, 34700.0);
        EXPECT_LT(h.creation_date, 47500.0);
      }
      EXPECT_EQ(h.is_encoded(), encoded.count(name) == 1);
      auto pw = passwords.find(name);
      EXPECT_EQ(h.has_password, pw != passwords.end());
      if (pw != passwords.end()) {
        EXPECT_EQ(h.password, pw->second);
      }

      // Re-encoding the decoded header gives back page 0 byte for byte.
      std::vector<uint8_t> again;
      ASSERT_TRUE(jet::EncodeHeader(h, &again).ok());
      EXPECT_EQ(again, h.raw_page);
    }
  }
}

TEST(ReaderFilesTest, EncodeHeaderRemasksThePasswordWithANewDate) {
  SKIP_WITHOUT_TESTDATA();
  const std::string path = testing_support::TestDataDir() + "/jet4/mr_pwd2003.mdb";
  std::unique_ptr<jet::PageFile> file;
  ASSERT_TRUE(jet::PageFile::Open(path, &file).ok());
  jet::Header h = file->header();
  h.creation_date += 1000.25;
  std::vector<uint8_t> page;
  ASSERT_TRUE(jet::EncodeHeader(h, &page).ok());
  EXPECT_NE(page, file->header().raw_page);
  jet::Header decoded;
  ASSERT_TRUE(jet::DecodeHeader(page.data(), page.size(), &decoded).ok());
  EXPECT_EQ(decoded.creation_date, h.creation_date);
  EXPECT_EQ(decoded.password, "password");
}

TEST(ReaderFilesTest, EncodedFilesDecodeToOrdinaryPages) {
  SKIP_WITHOUT_TESTDATA();
  for (const char* name : {"jet3/jk_enc97.mdb", "jet4/jk_enc.mdb"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<jet::PageFile> file;
    ASSERT_TRUE(jet::PageFile::Open(testing_support::TestDataDir() + "/" + name, &file).ok());
    ASSERT_TRUE(file->header().is_encoded());
    std::vector<uint8_t> page(file->page_size());
    size_t zero_pages = 0;
    for (uint32_t n = 1; n < file->page_count(); ++n) {
      ASSERT_TRUE(file->ReadPage(n, page.data()).ok());
      const bool zero = std::all_of(page.begin(), page.end(), [](uint8_t b) { return b == 0; });
      zero_pages += zero;
      if (zero) continue;
      EXPECT_TRUE(page[0] >= 1 && page[0] <= 9 && page[0] != 6 && page[0] != 7) << "page " << n << " type " << int(page[0]);
      EXPECT_EQ(page[1], 1) << "page " << n;
    }
    // jk_enc97.mdb ends in never-written pages, stored as plain zeros.
    if (std::string(name) == "jet3/jk_enc97.mdb") {
      EXPECT_GE(zero_pages, 2u);
    }
    // The last pages read in one run as one by one, each decoded with its own number;
    // a run past the end is refused.
    const uint32_t run = std::min<uint32_t>(file->page_count() - 1, 8);
    const uint32_t first = file->page_count() - run;
    std::vector<uint8_t> pages(size_t(run + 1) * file->page_size());
    ASSERT_TRUE(file->ReadPages(first, run, pages.data()).ok());
    for (uint32_t i = 0; i < run; ++i) {
      ASSERT_TRUE(file->ReadPage(first + i, page.data()).ok());
      EXPECT_TRUE(std::equal(page.begin(), page.end(), pages.begin() + ptrdiff_t(i) * file->page_size())) << i;
    }
    EXPECT_FALSE(file->ReadPages(first, run + 1, pages.data()).ok());
  }
}

TEST(ReaderFilesTest, DefinitionsSpanningTwoPages) {
  SKIP_WITHOUT_TESTDATA();
  for (const char* name : {"jet3/jk_test2.mdb", "jet4/jk_test2_2000.mdb"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<jet::Database> db;
    ASSERT_TRUE(jet::Database::Open(testing_support::TestDataDir() + "/" + name, &db).ok());
    const jet::TableDef* table;
    ASSERT_TRUE(db->GetTableDefByName("MSP_PROJECTS", &table).ok());
    EXPECT_EQ(table->pages.size(), 2u);
    EXPECT_LE(table->tdef_length, table->buffer.size());
    EXPECT_GT(table->tdef_length, db->format().page_size);
    EXPECT_EQ(table->columns.size(), 74u);  // as mdb-export lists them
    EXPECT_GE(table->FindColumnByName("PROJ_NAME"), 0);
  }
}

TEST(ReaderFilesTest, Jet3TextInAnUndeclaredCodePageIsKeptRaw) {
  // ua_gbk.mdb holds GBK text, but its header and column both declare code page 1252
  // (mdbtools shows the same cp1252 reading). The raw slice still holds the GBK bytes.
  SKIP_WITHOUT_TESTDATA();
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(testing_support::TestDataDir() + "/jet3/ua_gbk.mdb", &db).ok());
  const jet::TableDef* table;
  ASSERT_TRUE(db->GetTableDefByName("table1", &table).ok());
  const int col = table->FindColumnByName("field1");
  ASSERT_GE(col, 0);
  EXPECT_EQ(table->columns[col].code_page, 1252);
  jet::TableScanner scanner(db->file(), *table);
  std::vector<std::string> notes, texts;
  ASSERT_TRUE(scanner
                  .Scan(
                      [&](const jet::RowId&, const uint8_t* bytes, size_t size) {
                        std::vector<jet::RawColumn> raw;
                        EXPECT_TRUE(jet::CrackRow(db->format(), *table, bytes, size, &raw).ok());
                        std::string text;
                        EXPECT_TRUE(jet::DecodeCodePageText(bytes + raw[col].offset, raw[col].size, 936, &text).ok());
                        texts.push_back(text);
                        return true;
                      },
                      &notes)
                  .ok());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], "GBK\xE7\xBC\x96\xE7\xA0\x81");  // "GBK编码"
}

TEST(ReaderFilesTest, EveryTableScansWithTheRowsMdbtoolsSees) {
  SKIP_WITHOUT_TESTDATA();
  const bool mdbtools = HaveMdbTools();
  if (!mdbtools) std::fprintf(stderr, "mdbtools not installed: row counts are not compared\n");
  size_t tables = 0, compared = 0;
  for (const std::string& path : JetFiles()) {
    SCOPED_TRACE(path);
    std::unique_ptr<jet::Database> db;
    jet::Status s = jet::Database::Open(path, &db);
    ASSERT_TRUE(s.ok()) << s.ToString();
    ASSERT_FALSE(db->objects().empty());
    for (const jet::CatalogObject* object : db->Tables(/*include_system=*/true)) {
      SCOPED_TRACE(object->name);
      const jet::TableDef* table;
      s = db->GetTableDefByName(object->name, &table);
      ASSERT_TRUE(s.ok()) << s.ToString();
      ASSERT_EQ(table->first_page, uint32_t(object->id));
      uint64_t rows = 0;
      s = db->ScanRows(*table, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
        EXPECT_EQ(values.size(), table->columns.size());
        ++rows;
        return true;
      });
      ASSERT_TRUE(s.ok()) << s.ToString();
      ++tables;
      if (!mdbtools) continue;
      uint64_t exported = 0, stored = 0;
      ASSERT_TRUE(MdbExportRowCount(path, object->name, &exported));
      ASSERT_TRUE(MdbCount(path, object->name, &stored));
      EXPECT_EQ(rows, exported);
      EXPECT_EQ(table->row_count, stored);  // the definition's (possibly stale) statistic
      ++compared;
    }
  }
  EXPECT_GT(tables, 400u);
  std::fprintf(stderr, "%zu tables scanned, %zu compared with mdbtools\n", tables, compared);
}

TEST(ReaderFilesTest, StaleStoredRowCountsAreNotesNotErrors) {
  SKIP_WITHOUT_TESTDATA();
  std::unique_ptr<jet::Database> db;
  ASSERT_TRUE(jet::Database::Open(testing_support::TestDataDir() + "/jet4/fc_relational.mdb", &db).ok());
  const jet::TableDef* catalog;
  ASSERT_TRUE(db->GetTableDef(2, &catalog).ok());
  EXPECT_EQ(catalog->row_count, 26u);  // as stored; two of those rows are deleted
  EXPECT_EQ(db->objects().size(), 24u);
  uint64_t rows = 0;
  ASSERT_TRUE(db->ScanRows(*catalog, [&](const jet::RowId&, const std::vector<jet::Value>&) {
                  ++rows;
                  return true;
                }).ok());
  EXPECT_EQ(rows, 24u);
  bool noted = false;
  for (const std::string& note : db->notes()) noted |= note.find("definition says 26 rows") != std::string::npos;
  EXPECT_TRUE(noted);
}

TEST(ReaderFilesTest, EveryIndexHasOneOrderedEntryPerLiveRow) {
  SKIP_WITHOUT_TESTDATA();
  size_t indexes = 0, multi_page = 0;
  for (const std::string& path : JetFiles()) {
    SCOPED_TRACE(path);
    std::unique_ptr<jet::Database> db;
    ASSERT_TRUE(jet::Database::Open(path, &db).ok());
    for (const jet::CatalogObject* object : db->Tables(true)) {
      SCOPED_TRACE(object->name);
      const jet::TableDef* table;
      ASSERT_TRUE(db->GetTableDefByName(object->name, &table).ok());
      std::set<jet::RowId> live;
      ASSERT_TRUE(db->ScanRows(*table, [&](const jet::RowId& row, const std::vector<jet::Value>&) {
                      live.insert(row);
                      return true;
                    }).ok());
      for (size_t i = 0; i < table->real_indexes.size(); ++i) {
        SCOPED_TRACE("real index " + std::to_string(i));
        std::vector<jet::IndexEntry> entries;
        jet::IndexWalkStats stats;
        jet::Status s = jet::WalkIndex(
            db->file(), table->first_page, table->real_indexes[i].root_page,
            [&](const std::string& key, const jet::RowId& row) {
              entries.push_back({key, row});
              return true;
            },
            &stats);
        ASSERT_TRUE(s.ok()) << s.ToString();
        EXPECT_TRUE(stats.sibling_links_consistent);
        ++indexes;
        if (stats.leaf_pages > 1) ++multi_page;
        if (table->real_indexes[i].flags & jet::kIndexIgnoreNulls)
          EXPECT_LE(entries.size(), live.size());
        else
          EXPECT_EQ(entries.size(), live.size());
        std::set<jet::RowId> pointed;
        for (size_t k = 0; k < entries.size(); ++k) {
          EXPECT_EQ(live.count(entries[k].row), 1u) << "entry " << k << " points at no live row";
          pointed.insert(entries[k].row);
          if (k > 0) {
            const auto& a = entries[k - 1];
            const auto& b = entries[k];
            EXPECT_TRUE(a.key < b.key || (a.key == b.key && a.row < b.row)) << "entries " << k - 1 << ", " << k << " out of order";
          }
        }
        EXPECT_EQ(pointed.size(), entries.size()) << "two entries point at one row";
      }
    }
  }
  EXPECT_GT(indexes, 300u);
  EXPECT_GT(multi_page, 5u);  // some trees have node pages
}

TEST(ReaderFilesTest, AceCatalogsRead) {
  SKIP_WITHOUT_TESTDATA();
  for (const std::string& path : TestDataFiles("ace")) {
    SCOPED_TRACE(path);
    std::unique_ptr<jet::Database> db;
    jet::Status s = jet::Database::Open(path, &db);
    ASSERT_TRUE(s.ok()) << s.ToString();
    EXPECT_NE(db->FindObject("MSysObjects", jet::kObjectLocalTable), nullptr);
  }
}

}  // namespace
