// DatabaseBytes: a created database file patched in memory.
#include "tests/support/database_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "jet/base/byte_order.h"
#include "jet/base/env.h"
#include "jet/create/create.h"
#include "jet/file/data_page.h"
#include "tests/support/test_support.h"

namespace testing_support {

bool DatabaseBytes::Create(const std::vector<jet::TableSpec>& tables, jet::Version version) {
  jet::Schema schema;
  schema.version = version;
  schema.creation_date = 45000;  // 2023-03-15
  schema.tables = tables;
  TempDir dir;
  const std::string path = dir.File("created.mdb");
  const jet::Status s = jet::CreateDatabase(schema, path, jet::Env::Default());
  if (!s.ok()) {
    error_ = s.ToString();
    return false;
  }
  version_ = schema.version;
  bytes_ = ReadFileBytes(path);
  return !bytes_.empty();
}

uint8_t* DatabaseBytes::Row(jet::RowId id, size_t* size) {
  const jet::Format& f = format();
  const uint16_t start = jet::LoadLe16(Slot(id)) & jet::kSlotOffsetMask;
  const uint16_t end = id.row == 0 ? f.page_size : jet::LoadLe16(Slot({id.page, uint8_t(id.row - 1)})) & jet::kSlotOffsetMask;
  *size = end - start;
  return Page(id.page) + start;
}

void DatabaseBytes::SetPresent(jet::RowId id, uint16_t column_number, bool present) {
  size_t size;
  uint8_t* row = Row(id, &size);
  const uint32_t count = format().row_column_count_size == 1 ? row[0] : jet::LoadLe16(row);
  uint8_t& bits = row[size - (count + 7) / 8 + column_number / 8];
  const uint8_t bit = uint8_t(1u << (column_number % 8));
  bits = present ? uint8_t(bits | bit) : uint8_t(bits & ~bit);
}

uint8_t* DatabaseBytes::EntryPointer(uint32_t index_page, jet::RowId row) {
  const uint8_t pointer[4] = {uint8_t(row.page >> 16), uint8_t(row.page >> 8), uint8_t(row.page), row.row};
  uint8_t* const end = Page(index_page) + format().page_size;
  uint8_t* found = std::search(Page(index_page) + format().index_entries, end, pointer, pointer + 4);
  if (found == end || std::search(found + 1, end, pointer, pointer + 4) != end) return nullptr;
  return found;
}

std::unique_ptr<jet::Database> DatabaseBytes::Open() const {
  std::unique_ptr<jet::Database> db;
  jet::Status s = jet::Database::OpenMemory(reinterpret_cast<const uint8_t*>(bytes_.data()), bytes_.size(), &db);
  return s.ok() ? std::move(db) : nullptr;
}

std::vector<jet::RowId> DatabaseBytes::LiveRows(const std::string& name) const {
  std::vector<jet::RowId> rows;
  std::unique_ptr<jet::Database> db = Open();
  const jet::TableDef* def = nullptr;
  EXPECT_TRUE(db != nullptr && db->GetTableDefByName(name, &def).ok()) << name;
  if (def == nullptr) return rows;
  db->ScanRows(*def, [&](const jet::RowId& id, const std::vector<jet::Value>&) { return rows.push_back(id), true; });
  return rows;
}

bool DatabaseBytes::WriteTo(const std::string& path) const { return WriteFileBytes(path, bytes_); }

namespace {

// The file at `path` opened through the engine's reader; null, and a failed
// expectation, when it cannot be.
std::unique_ptr<jet::Database> OpenDatabase(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  jet::Status s = jet::Database::Open(path, &db);
  EXPECT_TRUE(s.ok()) << path << ": " << s.ToString();
  return s.ok() ? std::move(db) : nullptr;
}

}  // namespace

std::map<std::string, uint64_t> TableRowCounts(const std::string& path) {
  std::map<std::string, uint64_t> counts;
  const std::unique_ptr<jet::Database> db = OpenDatabase(path);
  if (db == nullptr) return counts;
  jet::Status s;
  for (const jet::CatalogObject* table : db->Tables(true)) {
    const jet::TableDef* def;
    s = db->GetTableDef(uint32_t(table->id), &def);
    EXPECT_TRUE(s.ok()) << table->name << ": " << s.ToString();
    if (!s.ok()) continue;
    uint64_t n = 0;
    s = db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>&) {
      ++n;
      return true;
    });
    EXPECT_TRUE(s.ok()) << table->name << ": " << s.ToString();
    counts[table->name] = n;
  }
  return counts;
}

std::vector<std::string> TablesOutOfKeyOrder(const std::string& path) {
  std::vector<std::string> out;
  const std::unique_ptr<jet::Database> db = OpenDatabase(path);
  if (db == nullptr) return out;
  for (const jet::CatalogObject* table : db->Tables(true)) {
    const jet::TableDef* def;
    if (!db->GetTableDef(uint32_t(table->id), &def).ok()) continue;
    for (size_t real = 0; real < def->real_indexes.size(); ++real) {
      if (!def->IsPrimaryKey(real)) continue;
      std::vector<jet::IndexEntry> entries;
      const jet::Status s = db->ReadIndexEntries(*def, real, &entries);
      EXPECT_TRUE(s.ok()) << table->name << ": " << s.ToString();
      if (!std::is_sorted(entries.begin(), entries.end(), [](const jet::IndexEntry& a, const jet::IndexEntry& b) {
            return a.row.ToPointer() < b.row.ToPointer();
          }))
        out.push_back(table->name);
    }
  }
  return out;
}

}  // namespace testing_support
