// A database file held in memory, for tests that damage it on purpose: made from a
// schema by jet::CreateDatabase, its pages, slots and rows patched in place, read
// back through the engine's reader, and written out for the check and the repair.
//
// Usage:
//   testing_support::DatabaseBytes db;
//   ASSERT_TRUE(db.Create({table})) << db.error();
//   jet::StoreLe16(db.Slot(row), ...);           // patch
//   ASSERT_TRUE(db.WriteTo(dir.File("x.mdb")));  // then check or repair the file
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/create/schema.h"
#include "jet/file/format.h"
#include "jet/read/database.h"

namespace testing_support {

class DatabaseBytes {
 public:
  // Makes a file of `version` holding `tables` (with a fixed creation date, so that
  // the bytes are the same every time); false (and error()) on failure.
  bool Create(const std::vector<jet::TableSpec>& tables, jet::Version version = jet::Version::kJet4);
  const std::string& error() const { return error_; }

  const jet::Format& format() const { return jet::FormatFor(version_); }
  uint32_t page_count() const { return uint32_t(bytes_.size() / format().page_size); }
  uint8_t* Page(uint32_t number) { return reinterpret_cast<uint8_t*>(bytes_.data()) + size_t(number) * format().page_size; }
  // The 2-byte slot of row `id` (offset and flags) on its data page.
  uint8_t* Slot(jet::RowId id) { return Page(id.page) + format().data_header_size + 2 * size_t(id.row); }
  // The stored bytes of row `id` (for an overflow row, its pointer); *size gets their count.
  uint8_t* Row(jet::RowId id, size_t* size);
  // Sets or clears the null-mask bit of column `column_number` in the row at `id`
  // (set: the value is present).
  void SetPresent(jet::RowId id, uint16_t column_number, bool present);
  // The row pointer (3 bytes of page number, big-endian, then the row) of the entry on
  // index page `index_page` that points at `row`; nullptr unless exactly one matches.
  uint8_t* EntryPointer(uint32_t index_page, jet::RowId row);

  // A reader over the bytes as they are now; valid until the bytes change size.
  std::unique_ptr<jet::Database> Open() const;
  // Where the live rows of table `name` are, in scan order; a table that cannot be
  // read fails the test.
  std::vector<jet::RowId> LiveRows(const std::string& name) const;
  bool WriteTo(const std::string& path) const;

 private:
  jet::Version version_ = jet::Version::kJet4;
  std::string bytes_;
  std::string error_;
};

// Live rows of every table of the file at `path` (system tables too), by name, read
// through the engine's reader; a file or table that cannot be read fails the test.
std::map<std::string, uint64_t> TableRowCounts(const std::string& path);

// Tables of the file at `path` with a primary key whose entries do not point at the
// rows in storage order: a compacted file has none.
std::vector<std::string> TablesOutOfKeyOrder(const std::string& path);

}  // namespace testing_support
