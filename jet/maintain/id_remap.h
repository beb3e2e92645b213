// Table-id remapping: a table's object id is the page number of its first TDEF page,
// so a compaction that moves definitions gives tables new ids and must rewrite every
// value that holds one. This module knows where those values are:
//
//   MSysObjects.Id                   (and the keys of MSysObjects' indexes on it)
//   MSysACEs.ObjectId                (+ its index)
//   MSysNavPaneObjectIDs.Id          (+ indexes; tables Access 2007+ adds to .mdb files)
//   MSysNavPaneGroupToObjects.ObjectID
//
// All are fixed Long Integer columns. In a row the value is 4 bytes little-endian in
// the fixed area; in an index key it is a Long key item as jet/write/index_key.h lays
// it out (non-null flag, then the value big-endian with the top bit flipped, all four
// bytes inverted for descending). Values that are not ids of local tables (synthetic
// ids of queries, containers, Access objects) are left alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/read/row.h"
#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

// Old table id -> new table id. Invariant: entries_ sorted by old id, no duplicates.
class TableIdMap {
 public:
  void Add(uint32_t old_id, uint32_t new_id);
  // The new id of `old_id`; false (and *new_id untouched) when it is no table's id.
  bool Lookup(uint32_t old_id, uint32_t* new_id) const;
  // The value an id column holds after remapping (unchanged when not a table id).
  int32_t Map(int32_t value) const;
  size_t size() const { return entries_.size(); }
  bool operator==(const TableIdMap&) const = default;

 private:
  std::vector<std::pair<uint32_t, uint32_t>> entries_;
};

// Positions (in table.columns) of the columns of `table_name` that hold table ids;
// empty for tables without any. kUnsupportedFormat when such a column is not a fixed
// Long Integer (a layout this code does not know how to patch).
Status TableIdColumns(const TableDef& table, const std::string& table_name,
                      std::vector<size_t>* positions);

// Rewrites the id columns of one raw row in place. `raw` is the row cracked by
// CrackRow (same positions as table.columns).
Status RemapRowIds(const Format& format, const TableDef& table,
                   const std::vector<size_t>& id_columns, const TableIdMap& map,
                   const std::vector<RawColumn>& raw, uint8_t* row, size_t size);

// Whether index `index` of `table` has an id column among its key columns.
bool IndexHasIdColumn(const TableDef& table, const RealIndex& index,
                      const std::vector<size_t>& id_columns);

// Rewrites the id items of one index key in place. The key is walked item by item
// from the start; every item before an id column must have a fixed width (a null
// flag, or a number, date, boolean). kUnsupportedFormat otherwise; kDamaged when the
// key is shorter than its items.
Status RemapKeyIds(const TableDef& table, const RealIndex& index,
                   const std::vector<size_t>& id_columns, const TableIdMap& map,
                   std::string* key);

}  // namespace jet
