// Database: the reading half of the engine as one object. Opens a file through
// PageFile, reads the catalog (MSysObjects), loads table definitions on demand, and
// gives out live rows as Values and index entries as key bytes and row pointers.
// The reader trusts pages, not statistics: stale row counts, pages no map owns and
// gaps left by deleted columns are reported as notes, never as failures.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/file/page_file.h"
#include "jet/base/status.h"
#include "jet/read/catalog.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

// A decoded index entry: the full key bytes (prefix compression undone) and the row
// it points at.
struct IndexEntry {
  std::string key;
  RowId row;
};

struct OpenOptions {
  // When not 0, Jet 3 text (names and values) is read in this Windows code page
  // instead of the one the header and the columns name: Access wrote text in the code
  // page of the machine, whatever the file says.
  uint16_t text_code_page = 0;
};

class Database {
 public:
  static Status Open(const std::string& path, std::unique_ptr<Database>* db);
  static Status Open(const std::string& path, const OpenOptions& options,
                     std::unique_ptr<Database>* db);
  static Status OpenMemory(const uint8_t* bytes, size_t size, std::unique_ptr<Database>* db);
  // The same over a page file already open (a repair's salvaged view), which the
  // database takes over.
  static Status OpenPageFile(std::unique_ptr<PageFile> file, std::unique_ptr<Database>* db);
  ~Database();

  PageFile& file() { return *file_; }
  const Header& header() const { return file_->header(); }
  const Format& format() const { return file_->format(); }

  // Every row of MSysObjects, in storage order.
  const std::vector<CatalogObject>& objects() const { return objects_; }
  // Local tables (type 1) in catalog order; system tables only when asked for.
  std::vector<const CatalogObject*> Tables(bool include_system) const;
  const CatalogObject* FindObject(const std::string& name, int16_t type) const;
  // Linked tables (types 4 and 6: the rows live in another database) in catalog order.
  std::vector<const CatalogObject*> LinkedTables() const;
  // The value of column `column` of MSysObjects ("Database", "LvProp", ...) in the
  // row of `object`; null when the catalog has no such column.
  const Value& CatalogField(const CatalogObject& object, const std::string& column) const;

  // The definition of the table whose TDEF starts at `first_page`, read once and kept.
  Status GetTableDef(uint32_t first_page, const TableDef** table);
  // The same by table name (case-insensitive).
  Status GetTableDefByName(const std::string& name, const TableDef** table);

  // Calls `visit` for every live row of `table` in storage order with the row id of
  // its header row and all its values indexed by position in table.columns. Overflow
  // rows are followed; deleted slots are skipped. Stops early when `visit` returns
  // false. A row that cannot be decoded fails the scan with kDamaged.
  using RowVisitor = std::function<bool(const RowId& row, const std::vector<Value>& values)>;
  Status ScanRows(const TableDef& table, const RowVisitor& visit);
  // ScanRows that goes on past a live row it cannot read (a malformed slot or
  // overflow pointer, a row that does not decode): each such row's place and reason
  // is added to `unreadable` instead. Other failures (I/O) still end the scan.
  Status ScanReadableRows(const TableDef& table, const RowVisitor& visit,
                          std::vector<std::string>* unreadable);

  // Every entry of real index `real_index` of `table`, in leaf order.
  Status ReadIndexEntries(const TableDef& table, size_t real_index,
                          std::vector<IndexEntry>* entries);

  // Things found while reading that are not errors (stale statistics, unowned pages).
  const std::vector<std::string>& notes() const { return notes_; }

 private:
  Database() = default;
  Status Init(std::unique_ptr<PageFile> file);

  OpenOptions options_;
  std::unique_ptr<PageFile> file_;
  std::vector<CatalogObject> objects_;
  std::map<uint32_t, std::unique_ptr<TableDef>> table_defs_;
  std::vector<std::string> notes_;

  // ScanRows, or ScanReadableRows when `unreadable` is not null.
  Status Scan(const TableDef& table, const RowVisitor& visit, std::vector<std::string>* unreadable);
};

}  // namespace jet
