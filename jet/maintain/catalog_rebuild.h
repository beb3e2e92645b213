// Catalog rebuild: what the salvage (jet/maintain/salvage.h) puts back when the
// catalog itself is damaged. MSysObjects is defined the same way in every file of a
// format, so a definition on page 2 that is lost or differs from the engine's
// built-in one (jet/write/system_tables.h) is replaced by the built-in one; its data
// pages are then found by their owner field (page 2). Tables whose catalog rows are
// lost are found as definition chains that no catalog row reaches; each gets a new
// catalog row, named after the system table whose columns it has, otherwise
// "Recovered_Table_<page>".
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/page_file.h"
#include "jet/read/catalog.h"
#include "jet/read/table_def.h"

namespace jet {

// The pages of the built-in definition of system table `name` (MSysObjects,
// MSysACEs, MSysQueries, MSysRelationships) placed at `first_page` (its chain
// continues on `first_page` + 1, ...) and the definition they hold. The definition
// names no usage maps and no index roots: its data pages are found by owner, and its
// indexes are built anew.
Status BuiltInTablePages(const Format& format, uint16_t code_page, const std::string& name, uint32_t first_page,
                         TableDef* def, std::vector<std::vector<uint8_t>>* pages);

// True when `stored` is laid out as `built_in`: the same columns (name, type, number,
// variable index, fixed offset) and nothing else, and indexes on the same columns.
bool SameLayout(const TableDef& stored, const TableDef& built_in);

// The system table whose built-in columns `def` has, or "" when none.
std::string SystemTableNamed(const Format& format, uint16_t code_page, const TableDef& def);

// The system table Access itself keeps (modules, import specifications, navigation
// pane, toolbars, ...) whose column names `def` has, all and only those, skipping
// names in `taken`; "" when none. Such a table found without its catalog row goes
// back as the system object it was, not as a user table.
std::string AccessSystemTableNamed(const TableDef& def, const std::set<std::string>& taken);

// True when `def` has the columns of the flat table Access keeps the files of an
// attachment column in (FileData, FileFlags, FileName, FileTimeStamp, FileType,
// FileURL, and the columns that tie them to the owning row): a system object, whose
// name ("f_" and an id) is lost with its catalog row.
bool IsAttachmentFlatTable(const TableDef& def);

// First pages of the definition chains in `file` that start like a table definition,
// are no other chain's continuation, and are not in `reached`.
std::vector<uint32_t> UnreachedDefinitions(const PageFile& file, const std::set<uint32_t>& reached);

// Catalog rows that survive only as the targets of overflow pointers (slots flagged
// deleted but not as pointers, on the catalog's data pages): when the page holding
// the pointer is lost, these are what is left of the rows it listed. By object id.
std::map<int32_t, CatalogObject> CatalogRowsOfLostPointers(const PageFile& file, const TableDef& catalog);

// Data pages per owner (table definition page), counted from the pages.
std::map<uint32_t, uint32_t> DataPagesByOwner(const PageFile& file);

// A new MSysObjects row (jet/write/system_tables.h CatalogRow), encoded for `catalog`.
Status NewCatalogRow(const Format& format, uint16_t code_page, const TableDef& catalog, int32_t id,
                     int32_t parent_id, const std::string& name, int16_t type, uint32_t flags,
                     std::vector<uint8_t>* row);

}  // namespace jet
