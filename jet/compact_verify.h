// Self-verification of a compaction: before a compacted file is put in place, it is
// opened with the engine's own reader and compared with the source, table by table:
// every live row (all columns, long values included, table ids mapped), every real
// index's entries (keys equal, row pointers mapped), the table definitions and the
// catalog. This runs on every compaction; any difference fails it with kDamaged and
// a detail naming table, row and column.
//
// The compaction describes what it did in a CompactionMap: where each table went and,
// for every row, the old and the new row id.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/id_remap.h"
#include "jet/status.h"

namespace jet {

struct CompactedTable {
  std::string name;
  uint32_t old_page = 0;            // first TDEF page (= table id) in the source
  uint32_t new_page = 0;            // ... in the result
  std::vector<size_t> id_columns;   // columns holding table ids (jet/id_remap.h)
  // Row pointers (page << 8 | row) of the source rows in the order they were written,
  // and, at the same positions, those of the rows written for them. 8 bytes per row.
  std::vector<uint32_t> old_rows;
  std::vector<uint32_t> new_rows;
  // (old pointer, new pointer) sorted by old pointer, for index entries. 8 bytes per row.
  std::vector<std::pair<uint32_t, uint32_t>> row_map;
  // Where each source page's rows start in row_map: row_map[page_starts[p - first_page]
  // .. page_starts[p - first_page + 1]) are those of page p. Built by IndexRowMap once
  // row_map is sorted (its old pointers must not change afterwards); 4 bytes per page
  // of the span the rows come from. Empty: MapRow searches row_map as a whole.
  uint32_t first_page = 0;
  std::vector<uint32_t> page_starts;

  // The new row id of a source row; false when the row was not copied (deleted).
  // Called for every index entry, several times per compaction: one page lookup and a
  // search among that page's few rows instead of a search of every row.
  bool MapRow(RowId old_row, RowId* new_row) const;
  void IndexRowMap();
};

struct CompactionMap {
  TableIdMap table_ids;
  std::vector<CompactedTable> tables;
};

// The entries real index `index` of `table` (source) must have after compaction:
// its source entries with row pointers mapped by `map_row` (entries whose row was not
// copied are dropped), table ids in the keys mapped, exact duplicates removed, sorted
// by (key bytes, row).
Status MappedIndexEntries(Database& source, const TableDef& table, size_t index,
                          const std::vector<size_t>& id_columns, const TableIdMap& ids,
                          const std::function<bool(RowId, RowId*)>& map_row,
                          std::vector<IndexEntry>* entries);

// Compares the file at `result_path` with `source` as `map` says it was written.
// kDamaged on any difference; the error of opening the result as it is.
Status VerifyCompaction(Database& source, const std::string& result_path, const CompactionMap& map);

}  // namespace jet
