// Catalog rebuild: built-in system table definitions, unreached definition chains and
// new catalog rows.
#include "jet/maintain/catalog_rebuild.h"

#include <algorithm>
#include <chrono>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/header.h"
#include "jet/file/page_runs.h"
#include "jet/file/usage_map.h"
#include "jet/read/catalog.h"
#include "jet/read/row.h"
#include "jet/write/row_writer.h"
#include "jet/write/system_tables.h"
#include "jet/write/table_design.h"
#include "jet/write/tdef_writer.h"

namespace jet {
namespace {

// Row pointer of the global free-page map: row 0 of page 1.
constexpr uint32_t kGlobalMapPointer = 1u << 8;

const SystemTable* FindSystemTable(const std::vector<SystemTable>& tables, const std::string& name) {
  for (const SystemTable& t : tables)
    if (t.name == name) return &t;
  return nullptr;
}

double Today() {
  using namespace std::chrono;
  const double unix_days = duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
  return unix_days + 25569.0;  // days from 1899-12-30 to 1970-01-01
}

}  // namespace

Status BuiltInTablePages(const Format& format, uint16_t code_page, const std::string& name, uint32_t first_page,
                         TableDef* def, std::vector<std::vector<uint8_t>>* pages) {
  const std::vector<SystemTable> tables = SystemTables(format.version);
  const SystemTable* table = FindSystemTable(tables, name);
  if (table == nullptr) return Status::Error(ErrorKind::kInvalidArgument, name + " is no system table");
  Status s = BuildTableDef(format, code_page, table->design, def);
  if (!s.ok()) return s;
  def->first_page = first_page;
  std::vector<uint8_t> logical;
  s = EncodeTableDef(format, *def, &logical);
  if (!s.ok()) return s;
  std::vector<uint32_t> numbers(TableDefPageCount(format, logical.size()));
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = first_page + uint32_t(i);
  def->pages = numbers;
  return SplitTableDef(format, logical, numbers, pages);
}

bool SameLayout(const TableDef& stored, const TableDef& built_in) {
  if (stored.columns.size() != built_in.columns.size() || stored.var_columns != built_in.var_columns) return false;
  for (const ColumnDef& b : built_in.columns) {
    const int at = stored.FindColumnByName(b.name);
    if (at < 0) return false;
    const ColumnDef& c = stored.columns[size_t(at)];
    if (c.type_code != b.type_code || c.number != b.number || c.is_fixed() != b.is_fixed()) return false;
    if (c.is_fixed() ? c.fixed_offset != b.fixed_offset : c.var_index != b.var_index) return false;
  }
  if (stored.real_indexes.size() != built_in.real_indexes.size() ||
      stored.logical_indexes.size() != built_in.logical_indexes.size())
    return false;
  for (size_t i = 0; i < built_in.real_indexes.size(); ++i) {
    const std::vector<IndexColumn>& a = stored.real_indexes[i].columns;
    const std::vector<IndexColumn>& b = built_in.real_indexes[i].columns;
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
      if (a[k].column_number != b[k].column_number || a[k].ascending != b[k].ascending) return false;
  }
  // Logical indexes are stored in name order, which need not be the built-in order.
  for (const LogicalIndex& b : built_in.logical_indexes)
    if (std::none_of(stored.logical_indexes.begin(), stored.logical_indexes.end(), [&](const LogicalIndex& l) {
          return l.name == b.name && l.real_index == b.real_index && l.index_type == b.index_type;
        }))
      return false;
  return true;
}

std::string SystemTableNamed(const Format& format, uint16_t code_page, const TableDef& def) {
  for (const SystemTable& t : SystemTables(format.version)) {
    TableDef built_in;
    if (!BuildTableDef(format, code_page, t.design, &built_in).ok()) continue;
    if (def.columns.size() != built_in.columns.size()) continue;
    bool same = true;
    for (const ColumnDef& b : built_in.columns) {
      const int at = def.FindColumnByName(b.name);
      if (at < 0 || def.columns[size_t(at)].type_code != b.type_code) same = false;
    }
    if (same) return t.name;
  }
  return "";
}

std::string AccessSystemTableNamed(const TableDef& def, const std::set<std::string>& taken) {
  struct Shape {
    const char* name;
    std::vector<const char*> columns;
  };
  // Where two tables have the same columns (MSysModules2 of Access 97 and MSysModules
  // of Access 95), the later one comes first.
  static const std::vector<Shape> kShapes = {
      {"MSysModules2", {"Flags", "Form", "Module", "Name", "ReplicationVersion", "Type", "TypeInfo", "Version"}},
      {"MSysModules", {"Flags", "Form", "Module", "Name", "ReplicationVersion", "Type", "TypeInfo", "Version"}},
      {"MSysAccessObjects", {"Data", "ID"}},
      {"MSysAccessStorage", {"DateCreate", "DateUpdate", "Id", "Lv", "Name", "ParentId", "Type"}},
      {"MSysAccessXML", {"Id", "LValue", "ObjectGuid", "ObjectName", "Property", "Value"}},
      {"MSysCmdbars", {"Grptbcd", "TbName"}},
      {"MSysIMEXColumns", {"Attributes", "DataType", "FieldName", "IndexType", "SkipColumn", "SpecID", "Start", "Width"}},
      {"MSysIMEXColumns", {"DataType", "FieldName", "IndexType", "SkipColumn", "SpecID", "Start", "Width"}},
      {"MSysIMEXSpecs", {"DateDelim", "DateFourDigitYear", "DateLeadingZeros", "DateOrder", "DecimalPoint",
                         "FieldSeparator", "FileType", "SpecID", "SpecName", "SpecType", "StartRow", "TextDelim",
                         "TimeDelim"}},
      {"MSysNameMap", {"GUID", "Id", "Name", "NameMap", "Type"}},
      {"MSysNavPaneGroupCategories", {"Filter", "Flags", "Id", "Name", "Position", "SelectedObjectID", "Type"}},
      {"MSysNavPaneGroupToObjects", {"Flags", "GroupID", "Icon", "Id", "Name", "ObjectID", "Position"}},
      {"MSysNavPaneGroups", {"Flags", "GroupCategoryID", "Id", "Name", "Object Type Group", "ObjectID", "Position"}},
      {"MSysNavPaneObjectIDs", {"Id", "Name", "Type"}},
  };
  // Two columns are a shape a user table has too: MSysAccessObjects keeps its data
  // in a binary column, never in text.
  const auto typed_as_shape = [&](const Shape& shape) {
    const int data = def.FindColumnByName("Data");
    return std::string(shape.name) != "MSysAccessObjects" ||
           (data >= 0 && (def.columns[size_t(data)].type() == ColumnType::kBinary ||
                          def.columns[size_t(data)].type() == ColumnType::kUnknown11));
  };
  for (const Shape& shape : kShapes) {
    if (taken.count(shape.name) || def.columns.size() != shape.columns.size()) continue;
    if (std::all_of(shape.columns.begin(), shape.columns.end(),
                    [&](const char* column) { return def.FindColumnByName(column) >= 0; }) &&
        typed_as_shape(shape))
      return shape.name;
  }
  return "";
}

bool IsAttachmentFlatTable(const TableDef& def) {
  static const char* const kFileColumns[] = {"FileData", "FileFlags", "FileName", "FileTimeStamp", "FileType",
                                             "FileURL"};
  return def.columns.size() <= std::size(kFileColumns) + 2 &&
         std::all_of(std::begin(kFileColumns), std::end(kFileColumns),
                     [&](const char* column) { return def.FindColumnByName(column) >= 0; });
}

std::vector<uint32_t> UnreachedDefinitions(const PageFile& file, const std::set<uint32_t>& reached) {
  const Format& format = file.format();
  // Pages the global map calls free are not live, whatever they still hold.
  std::set<uint32_t> free_pages;
  UsageMap global;
  if (ReadUsageMap(file, kGlobalMapPointer, &global).ok()) free_pages.insert(global.pages.begin(), global.pages.end());
  std::set<uint32_t> continuations;
  std::vector<uint32_t> starts;
  ForEachPage(file, 1, file.page_count(), [&](uint32_t n, const uint8_t* page) {
    if (page[0] != kPageTableDef) return;
    const uint32_t next = LoadLe32(page + kTableDefNextPageOffset);
    if (next != 0) continuations.insert(next);
    if (LooksLikeTableDefPage(format, page) && !reached.count(n) && !free_pages.count(n)) starts.push_back(n);
  });
  std::vector<uint32_t> out;
  for (uint32_t n : starts)
    if (!continuations.count(n)) out.push_back(n);
  return out;
}

std::map<int32_t, CatalogObject> CatalogRowsOfLostPointers(const PageFile& file, const TableDef& catalog) {
  std::map<int32_t, CatalogObject> out;
  const int id = catalog.FindColumnByName("Id"), parent = catalog.FindColumnByName("ParentId"),
            name = catalog.FindColumnByName("Name"), type = catalog.FindColumnByName("Type"),
            flags = catalog.FindColumnByName("Flags");
  if (id < 0 || parent < 0 || name < 0 || type < 0 || flags < 0) return out;
  const Format& format = file.format();
  RowDecoder decoder(file, catalog);
  std::vector<Value> values;
  RowLayout layout;
  ForEachPage(file, 1, file.page_count(), [&](uint32_t n, const uint8_t* page) {
    DataPageHeader header;
    if (!ParseDataPage(format, page, &header).ok() || header.owner != kCatalogTdefPage) return;
    for (unsigned i = 0; i < header.row_count && i <= kMaxRowsPerDataPage; ++i) {
      RowSlot slot;
      if (!GetRowSlot(format, page, header, i, &slot).ok() || !slot.deleted || slot.overflow || slot.size() == 0)
        continue;
      // Only the five columns that name the object are read, each from its own
      // place: damage elsewhere in the row (what may have had it dropped) does not
      // take its name with it. A name is never null: a clear null bit over a name's
      // bytes is the damaged part.
      const uint8_t* row = page + slot.start;
      if (!ReadRowLayout(format, catalog, row, slot.size(), &layout).ok()) continue;
      values.assign(catalog.columns.size(), Value());
      bool readable = true;
      for (int c : {id, parent, name, type, flags}) {
        const ColumnDef& column = catalog.columns[size_t(c)];
        RawColumn raw;
        const uint32_t number = column.number;
        raw.bit = number < layout.column_count && ((row[slot.size() - layout.mask_size + number / 8] >> (number % 8)) & 1);
        if (column.is_fixed()) {
          raw.offset = format.row_column_count_size + column.fixed_offset;
          raw.size = column.length;
          raw.is_null = !raw.bit;
          readable = readable && (raw.is_null || raw.offset + raw.size <= layout.trailer_start);
        } else if (column.var_index < layout.var_count) {
          const uint32_t from = layout.var_offsets[column.var_index], to = layout.var_offsets[column.var_index + 1];
          raw.is_null = !(raw.bit || c == name) || from >= to;
          raw.offset = from;
          raw.size = to > from ? to - from : 0;
          readable = readable && (raw.is_null || to <= layout.trailer_start);
        }
        readable = readable && (raw.is_null || decoder.ColumnValue(size_t(c), row, raw, &values[size_t(c)]).ok());
      }
      const auto& v = values;
      if (!readable || v[size_t(id)].is_null() || v[size_t(name)].is_null() || v[size_t(type)].is_null() ||
          v[size_t(name)].text().empty())
        continue;
      CatalogObject o;
      o.id = int32_t(v[size_t(id)].integer());
      o.parent_id = v[size_t(parent)].is_null() ? 0 : int32_t(v[size_t(parent)].integer());
      o.name = v[size_t(name)].text();
      o.type = int16_t(v[size_t(type)].integer());
      o.flags = v[size_t(flags)].is_null() ? 0 : uint32_t(v[size_t(flags)].integer());
      o.row = RowId{n, uint8_t(i)};
      out.emplace(o.id, std::move(o));
    }
  });
  return out;
}

std::map<uint32_t, uint32_t> DataPagesByOwner(const PageFile& file) {
  std::map<uint32_t, uint32_t> out;
  ForEachPage(file, 1, file.page_count(), [&](uint32_t, const uint8_t* page) {
    if (page[0] == kPageData) ++out[LoadLe32(page + kPageOwnerOffset)];
  });
  return out;
}

Status NewCatalogRow(const Format& format, uint16_t code_page, const TableDef& catalog, int32_t id,
                     int32_t parent_id, const std::string& name, int16_t type, uint32_t flags,
                     std::vector<uint8_t>* row) {
  const std::vector<SystemTable> tables = SystemTables(format.version);
  const SystemTable& objects = tables[0];
  const std::vector<Value> values = CatalogRow(id, parent_id, name, type, flags, Today());
  // The built-in row is by the built-in column order; `catalog` may store another.
  RowFields fields;
  fields.values.resize(catalog.columns.size());
  for (size_t i = 0; i < objects.design.columns.size() && i < values.size(); ++i) {
    const int at = catalog.FindColumnByName(objects.design.columns[i].name);
    if (at >= 0) fields.values[size_t(at)] = values[i];
  }
  return EncodeRow(format, catalog, fields, code_page, row);
}

}  // namespace jet
