// Index drop: a table definition without one of its real indexes, for a repair that
// cannot give that index an entry for every row (a key no collation table of this
// engine covers, whose entry went with a damaged index page). An index that misses
// rows misleads every lookup through it; without it, the rows are all still there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"
#include "jet/read/table_def.h"

namespace jet {

// The logical definition of `def` without real index `real`: its statistics and
// definition records, and the logical indexes it serves (records and names), are
// cut out; the logical indexes of later real indexes name theirs one lower; the
// counts and the stated length follow. `names` gets the names of the logical indexes
// cut out. kInvalidArgument when a logical index it serves is part of a relationship
// (another table names it), or a record lies outside the definition.
Status DefinitionWithoutIndex(const Format& format, const TableDef& def, size_t real, std::vector<uint8_t>* logical,
                              std::vector<std::string>* names);

}  // namespace jet
