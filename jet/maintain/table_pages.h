// Table pages: which pages hold a table's rows when its owned-pages map and the pages
// themselves disagree. The map is rewritten on every insert, so a torn or flipped map
// is as likely as a damaged data page; the owner field (bytes 4-7) of a data page is
// written with the page itself. So the map is evidence, weighed against the pages:
//   - a page the map names counts when it is a data page naming the table;
//   - a data page naming the table that the map leaves out counts when it holds a
//     live row and something else says it is the table's: an index entry of the
//     table points at a row on it that gives the entry's key (a damaged leaf's garbled
//     pointer lands anywhere), or the map names none of the table's pages at all
//     (a torn map reads as an empty one). Access files do carry pages that name a
//     table, hold rows and are in no map or index: pages of an earlier life of the
//     table, which no reader shows; those stay out, and so does any page the
//     global free map marks free, whatever points at it;
//   - a page the map names past the end of the file, or that does not name the
//     table (another table's page, an index, a definition), is a wrong bit, which
//     readers that trust the map fail on. No Access file we know carries one.
// The check reports the disagreement; the salvage has the table's pages found by their
// owner field instead of the map (see jet/maintain/salvage.h).
#pragma once

#include <cstdint>
#include <vector>

#include "jet/file/format.h"

namespace jet {

class PageFile;
struct TableDef;

// True when `page` is a data page with at least one slot that is not deleted.
bool HoldsLiveRow(const Format& format, const uint8_t* page);

// True when a map bit for a page of type `type` cannot be a page the table once owned
// and gave back: such a bit is damage, not history.
bool WrongPageForOwnedMap(uint8_t type);

// The pages of `table` the map leaves out, by the rule above, in ascending order.
// `own_mapped` (ascending) are the pages the map names that are the table's data
// pages; `types` and `owners` are bytes 0 and 4-7 of every page of `file`.
std::vector<uint32_t> UnmappedDataPages(const PageFile& file, const std::vector<uint8_t>& types,
                                        const std::vector<uint32_t>& owners, const TableDef& table,
                                        const std::vector<uint32_t>& own_mapped);

}  // namespace jet
