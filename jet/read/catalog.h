// Catalog: MSysObjects, read by scanning the data pages of the table whose definition
// is always on page 2. Its indexes are not used, so a damaged catalog index does not
// hide any object. A long value of a catalog row that cannot be read becomes null and
// a note, so that one bad property blob does not make the whole file unreadable.
#pragma once

#include <string>
#include <vector>

#include "jet/read/database.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

inline constexpr uint32_t kCatalogTdefPage = 2;

// Reads every row of MSysObjects (definition `catalog`) in storage order.
// kDamaged when the catalog lacks one of Id, ParentId, Name, Type, Flags or a row
// cannot be decoded.
Status ReadCatalog(const PageFile& file, const TableDef& catalog,
                   std::vector<CatalogObject>* objects, std::vector<std::string>* notes);

}  // namespace jet
