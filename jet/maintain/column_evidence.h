// Column evidence: placing the columns of a damaged table definition whose number or
// variable index a damage changed, by what the table's rows hold. A row says, for
// every column number, whether a value is present (its null mask), and for every
// variable index how many bytes it holds: a number and an index that fit every row,
// where no other free pair fits as well, are the column's own.
#pragma once

#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

// Moves each column of columns->misplaced into columns->table, with the free number
// or variable index its rows agree with (in the table's buffer too), and appends one
// line per column to `placed`; a fixed column of the table whose offset runs past
// its rows' fixed area goes to the one gap they agree with. The rows are those of
// data pages naming the table (its owned-pages map is not trusted). A column that
// cannot be placed (both its fields are damaged, or no free value or gap fits the
// rows better than every other) is left out, and described in columns->dropped: the
// columns kept have fields of their own, apart from every other's.
Status PlaceColumnsByRows(PageFile& file, ColumnsOnly* columns, std::vector<std::string>* placed);

// For a definition that reads whole: where exactly one fixed column's bytes lie past
// the fixed area of every row written with it (a damaged offset that still lies
// within a row's limits), the mend that puts it where PlaceColumnsByRows would, in
// `mends`. The rows are those of the pages its owned-pages map names (of every data
// page naming it where the map cannot be read). Nothing is added where every fixed
// column fits some row; kDamaged where no one place fits.
Status MendFixedOffsetByRows(PageFile& file, const TableDef& table, std::vector<TableDefMend>* mends);

}  // namespace jet
