// Catalog: MSysObjects, read by scanning the data pages of the table whose definition
// is always on page 2. Its indexes are not used, so a damaged catalog index does not
// hide any object. A long value of a catalog row that cannot be read becomes null and
// a note, so that one bad property blob does not make the whole file unreadable.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/read/table_def.h"
#include "jet/read/value.h"

namespace jet {

class PageFile;

inline constexpr uint32_t kCatalogTdefPage = 2;

// One row of MSysObjects, with the columns every caller needs decoded; `values` holds
// all columns of the row (by column number) for callers that need the rest.
struct CatalogObject {
  int32_t id = 0;
  int32_t parent_id = 0;
  std::string name;
  int16_t type = 0;
  uint32_t flags = 0;
  RowId row;                 // where the catalog row lives
  std::vector<Value> values; // indexed by column number of MSysObjects

  bool is_table() const { return type == 1; }
  bool is_system() const;    // flags 0x80000000 or 0x2, or a system name
  bool has_system_name() const;  // starting "MSys", as Access's own tables do
  // False when a table's flags hold a bit no engine sets for a table (a flipped or
  // torn field). Those set are the ones the real files show (0x80000000 and 0x2
  // system, 0x8 hidden by Access, 0x20000, 0x40000 and 0x80000) and DAO's table
  // attributes (0x1 hidden; 0x10000, 0x20000000 and 0x40000000 of attached tables).
  // Other objects: always true.
  bool flags_possible() const;
};

inline constexpr int16_t kObjectLocalTable = 1;
inline constexpr int16_t kObjectLinkedOdbcTable = 4;
inline constexpr int16_t kObjectQuery = 5;
inline constexpr int16_t kObjectLinkedTable = 6;
inline constexpr int32_t kTablesContainerId = 0x0F000001;

// The containers every catalog holds, children of the root container 0x0F000000.
struct CatalogContainer {
  int32_t id;
  const char* name;
};
inline constexpr CatalogContainer kRequiredContainers[] = {
    {kTablesContainerId, "Tables"}, {0x0F000002, "Databases"}, {0x0F000003, "Relationships"}};

// Reads every row of MSysObjects (definition `catalog`) in storage order.
// kDamaged when the catalog lacks one of Id, ParentId, Name, Type, Flags or a row
// cannot be decoded.
Status ReadCatalog(const PageFile& file, const TableDef& catalog,
                   std::vector<CatalogObject>* objects, std::vector<std::string>* notes);

}  // namespace jet
