// Catalog: MSysObjects rows as CatalogObjects.
#include "jet/read/catalog.h"

#include "jet/base/text.h"
#include "jet/file/page_file.h"
#include "jet/read/row.h"
#include "jet/read/table_scan.h"

namespace jet {

bool CatalogObject::is_system() const {
  return (flags & 0x80000000u) != 0 || (flags & 0x2u) != 0 || has_system_name();
}

bool CatalogObject::has_system_name() const {
  return name.size() >= 4 && EqualsIgnoringAsciiCase(name.substr(0, 4), "MSys");
}

bool CatalogObject::flags_possible() const {
  constexpr uint32_t kTableFlagBits = 0x80000000u | 0x40000000u | 0x20000000u | 0x00080000u | 0x00040000u | 0x00020000u |
                                      0x00010000u | 0x8u | 0x2u | 0x1u;
  return !is_table() || (flags & ~kTableFlagBits) == 0;
}

Status ReadCatalog(const PageFile& file, const TableDef& catalog,
                   std::vector<CatalogObject>* objects, std::vector<std::string>* notes) {
  objects->clear();
  const int id_col = catalog.FindColumnByName("Id");
  const int parent_col = catalog.FindColumnByName("ParentId");
  const int name_col = catalog.FindColumnByName("Name");
  const int type_col = catalog.FindColumnByName("Type");
  const int flags_col = catalog.FindColumnByName("Flags");
  if (id_col < 0 || parent_col < 0 || name_col < 0 || type_col < 0 || flags_col < 0)
    return Status::Error(ErrorKind::kDamaged, "MSysObjects lacks one of Id, ParentId, Name, Type, Flags");

  // Every object keeps a value per column number; MSysObjects has 17 columns, and no
  // Jet table more than 255, so a larger number only comes from a damaged definition
  // (and would cost memory per catalog row).
  constexpr size_t kMaxCatalogColumns = 256;
  size_t value_slots = 0;
  for (const ColumnDef& c : catalog.columns)
    if (c.number >= value_slots) value_slots = size_t(c.number) + 1;
  if (value_slots > kMaxCatalogColumns)
    return Status::Error(ErrorKind::kDamaged, "MSysObjects has a column numbered " +
                                                  std::to_string(value_slots - 1));

  RowDecoder decoder(file, catalog);
  std::vector<RawColumn> raw;
  Status failure;
  TableScanner scanner(file, catalog);
  Status s = scanner.Scan(
      [&](const RowId& row, const uint8_t* bytes, size_t size) {
        failure = CrackRow(file.format(), catalog, bytes, size, &raw);
        if (!failure.ok()) {
          failure = Status::Error(failure.kind(), "MSysObjects row " + std::to_string(row.page) +
                                                      ":" + std::to_string(row.row) + ": " +
                                                      failure.detail());
          return false;
        }
        CatalogObject object;
        object.row = row;
        object.values.resize(value_slots);
        for (size_t i = 0; i < catalog.columns.size(); ++i) {
          Value& v = object.values[catalog.columns[i].number];
          Status cs = decoder.ColumnValue(i, bytes, raw[i], &v);
          if (!cs.ok()) {
            notes->push_back("MSysObjects row " + std::to_string(row.page) + ":" +
                             std::to_string(row.row) + ": " + cs.detail());
            v = Value::Null();
          }
        }
        auto at = [&](int col) -> const Value& { return object.values[catalog.columns[col].number]; };
        object.id = static_cast<int32_t>(at(id_col).integer());
        object.parent_id = static_cast<int32_t>(at(parent_col).integer());
        object.name = at(name_col).text();
        object.type = static_cast<int16_t>(at(type_col).integer());
        object.flags = static_cast<uint32_t>(at(flags_col).integer());
        objects->push_back(std::move(object));
        return true;
      },
      notes);
  if (!s.ok()) return s;
  return failure;
}

}  // namespace jet
