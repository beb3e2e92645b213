// Database: opening a file, the catalog, table definitions, row scans and index walks.
#include "jet/read/database.h"

#include "jet/base/text.h"
#include "jet/read/catalog.h"
#include "jet/read/index_reader.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"

namespace jet {
namespace {

// Local tables' object ids are their TDEF page numbers (in the low 24 bits).
constexpr uint32_t kTablePageMask = 0x00FFFFFF;

}  // namespace

Database::~Database() = default;

Status Database::Open(const std::string& path, std::unique_ptr<Database>* db) {
  return Open(path, OpenOptions(), db);
}

Status Database::Open(const std::string& path, const OpenOptions& options,
                      std::unique_ptr<Database>* db) {
  std::unique_ptr<PageFile> file;
  Status s = PageFile::Open(path, &file);
  if (!s.ok()) return s;
  std::unique_ptr<Database> result(new Database());
  result->options_ = options;
  s = result->Init(std::move(file));
  if (!s.ok()) return s;
  *db = std::move(result);
  return Status::Ok();
}

Status Database::OpenMemory(const uint8_t* bytes, size_t size, std::unique_ptr<Database>* db) {
  std::unique_ptr<PageFile> file;
  Status s = PageFile::OpenMemory(bytes, size, &file);
  if (!s.ok()) return s;
  return OpenPageFile(std::move(file), db);
}

Status Database::OpenPageFile(std::unique_ptr<PageFile> file, std::unique_ptr<Database>* db) {
  std::unique_ptr<Database> result(new Database());
  Status s = result->Init(std::move(file));
  if (!s.ok()) return s;
  *db = std::move(result);
  return Status::Ok();
}

Status Database::Init(std::unique_ptr<PageFile> file) {
  file_ = std::move(file);
  if (file_->has_partial_page())
    notes_.push_back("the file ends in a partial page (" + std::to_string(file_->file_size()) +
                     " bytes is not a whole number of pages); it is left out");
  if (file_->page_count() <= kCatalogTdefPage)
    return Status::Error(ErrorKind::kNotJetDatabase,
                         "file has " + std::to_string(file_->page_count()) + " pages, too few for a catalog");
  const TableDef* catalog;
  Status s = GetTableDef(kCatalogTdefPage, &catalog);
  if (!s.ok()) return Status::Error(s.kind(), "catalog: " + s.detail());
  return ReadCatalog(*file_, *catalog, &objects_, &notes_);
}

std::vector<const CatalogObject*> Database::Tables(bool include_system) const {
  std::vector<const CatalogObject*> tables;
  for (const CatalogObject& o : objects_) {
    if (o.type != kObjectLocalTable) continue;
    if (!include_system && o.is_system()) continue;
    tables.push_back(&o);
  }
  return tables;
}

const CatalogObject* Database::FindObject(const std::string& name, int16_t type) const {
  for (const CatalogObject& o : objects_)
    if (o.type == type && EqualsIgnoringAsciiCase(o.name, name)) return &o;
  return nullptr;
}

std::vector<const CatalogObject*> Database::LinkedTables() const {
  std::vector<const CatalogObject*> tables;
  for (const CatalogObject& o : objects_)
    if (o.type == kObjectLinkedTable || o.type == kObjectLinkedOdbcTable) tables.push_back(&o);
  return tables;
}

const Value& Database::CatalogField(const CatalogObject& object, const std::string& column) const {
  static const Value kNull;
  // The catalog's definition was read when the file was opened.
  const auto catalog = table_defs_.find(kCatalogTdefPage);
  if (catalog == table_defs_.end()) return kNull;
  const int position = catalog->second->FindColumnByName(column);
  if (position < 0) return kNull;
  const uint16_t number = catalog->second->columns[position].number;
  return number < object.values.size() ? object.values[number] : kNull;
}

Status Database::GetTableDef(uint32_t first_page, const TableDef** table) {
  auto it = table_defs_.find(first_page);
  if (it == table_defs_.end()) {
    auto def = std::make_unique<TableDef>();
    Status s = ReadTableDef(*file_, first_page, def.get(), options_.text_code_page);
    if (!s.ok()) return s;
    it = table_defs_.emplace(first_page, std::move(def)).first;
  }
  *table = it->second.get();
  return Status::Ok();
}

Status Database::GetTableDefByName(const std::string& name, const TableDef** table) {
  const CatalogObject* object = FindObject(name, kObjectLocalTable);
  if (object == nullptr) return Status::Error(ErrorKind::kNotFound, "no table named \"" + name + "\"");
  return GetTableDef(static_cast<uint32_t>(object->id) & kTablePageMask, table);
}

Status Database::ScanRows(const TableDef& table, const RowVisitor& visit) {
  return Scan(table, visit, nullptr);
}

Status Database::ScanReadableRows(const TableDef& table, const RowVisitor& visit,
                                  std::vector<std::string>* unreadable) {
  return Scan(table, visit, unreadable);
}

Status Database::Scan(const TableDef& table, const RowVisitor& visit, std::vector<std::string>* unreadable) {
  RowDecoder decoder(*file_, table);
  std::vector<Value> values;
  Status failure;
  uint64_t rows = 0, skipped = 0;
  bool stopped = false;
  TableScanner scanner(*file_, table);
  if (unreadable != nullptr) {
    scanner.SkipDamagedRows([&](const RowId&, const Status& why) {
      unreadable->push_back(why.detail());
      ++skipped;
    });
  }
  Status s = scanner.Scan(
      [&](const RowId& row, const uint8_t* bytes, size_t size) {
        failure = decoder.Decode(bytes, size, &values);
        if (!failure.ok()) {
          failure = Status::Error(failure.kind(), "table " + std::to_string(table.first_page) +
                                                      " row " + std::to_string(row.page) + ":" +
                                                      std::to_string(row.row) + ": " + failure.detail());
          if (unreadable == nullptr || failure.kind() != ErrorKind::kDamaged) return false;
          unreadable->push_back(failure.detail());
          failure = Status::Ok();
          ++skipped;
          return true;
        }
        ++rows;
        if (!visit(row, values)) {
          stopped = true;
          return false;
        }
        return true;
      },
      &notes_);
  if (!s.ok()) return s;
  if (!failure.ok()) return failure;
  if (!stopped && skipped == 0 && rows != table.row_count)
    notes_.push_back("table " + std::to_string(table.first_page) + ": definition says " +
                     std::to_string(table.row_count) + " rows, the pages hold " + std::to_string(rows));
  return Status::Ok();
}

Status Database::ReadIndexEntries(const TableDef& table, size_t real_index,
                                  std::vector<IndexEntry>* entries) {
  entries->clear();
  if (real_index >= table.real_indexes.size())
    return Status::Error(ErrorKind::kInvalidArgument, "table has no real index " + std::to_string(real_index));
  IndexWalkStats stats;
  Status s = WalkIndex(
      *file_, table.first_page, table.real_indexes[real_index].root_page,
      [&](const std::string& key, const RowId& row) {
        entries->push_back(IndexEntry{key, row});
        return true;
      },
      &stats);
  if (!s.ok()) return s;
  if (!stats.sibling_links_consistent)
    notes_.push_back("table " + std::to_string(table.first_page) + " index " + std::to_string(real_index) +
                     ": leaf sibling links disagree with the tree");
  return Status::Ok();
}

}  // namespace jet
