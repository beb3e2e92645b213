// Self-verification of a compaction: before a compacted file is put in place, it is
// opened with the engine's own reader and compared with the source, table by table:
// every live row (all columns, long values included, table ids mapped, saved queries'
// compiled plans null), every real index's entries (each the key computed from the
// values of the result row it points at, in order, none missing or extra; for an
// index whose keys could not be computed, the source index's entries, rows mapped),
// the table definitions and the catalog. This runs on every compaction; any difference fails it with kDamaged and
// a detail naming table, row and column.
//
// The compaction describes what it did in a CompactionMap: where each table went and,
// for every row, the old and the new row id.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/file/header.h"
#include "jet/read/database.h"
#include "jet/write/entry_sorter.h"
#include "jet/base/env.h"
#include "jet/maintain/id_remap.h"
#include "jet/base/progress.h"
#include "jet/base/status.h"

namespace jet {

struct CompactedTable {
  std::string name;
  uint32_t old_page = 0;            // first TDEF page (= table id) in the source
  uint32_t new_page = 0;            // ... in the result
  std::vector<size_t> id_columns;   // columns holding table ids (jet/maintain/id_remap.h)
  // By real index: its keys were copied from the source index (the encoder refused
  // them) instead of computed from the rows' values.
  std::vector<bool> keys_copied;
  // Row pointers (page << 8 | row) of the source rows in the order they were written.
  // 4 bytes per row.
  std::vector<uint32_t> old_rows;
  // Where they were written. Rows are packed in that order, page after page, each
  // page's rows numbered from 0: row k went to data page i (counted from data_start)
  // for the last i with page_first_row[i] <= k, as row k - page_first_row[i].
  // Invariant: page_first_row ascends strictly from 0; every entry < old_rows.size().
  // 4 bytes per data page. data_start 0: pointers relative to the first data page.
  uint32_t data_start = 0;
  std::vector<uint32_t> page_first_row;
  // Old to new, for index entries, built by IndexRowMap once old_rows and
  // page_first_row are final: the copied rows of source page p are entries
  // [page_starts[p - first_page], page_starts[p - first_page + 1]) of map_slots (their
  // row numbers, ascending) and map_new (the relative pointers written for them).
  // 5 bytes per row, 4 per page of the span the rows come from. Empty page_starts
  // with rows: map_slots and map_new are unused and MapRow finds nothing. The
  // compaction releases them after planning a table none of whose indexes copies keys.
  uint32_t first_page = 0;
  std::vector<uint32_t> page_starts;
  std::vector<uint8_t> map_slots;
  std::vector<uint32_t> map_new;

  // The pointer of the row written for old_rows[k].
  uint32_t NewRow(size_t k) const;
  // The k whose row was written at `pointer`; false when no row was written there.
  bool WrittenAt(uint32_t pointer, size_t* k) const;
  // The new row id of a source row; false when the row was not copied (deleted).
  // Called for every index entry, several times per compaction: one page lookup and a
  // scan of that page's few row numbers, all in adjacent bytes.
  bool MapRow(RowId old_row, RowId* new_row) const;
  void IndexRowMap();
  // Frees what IndexRowMap built (MapRow finds nothing after it).
  void ReleaseRowMap();
};

struct CompactionMap {
  Header header;  // what the result's header must hold (the source's, or as the options set it)
  TableIdMap table_ids;
  std::vector<CompactedTable> tables;
};

// Where the index sorts of a compaction put their scratch files (named
// TemporaryPathBeside(beside), through `env`) and the memory each sort may hold.
struct SortScratch {
  Env* env = nullptr;
  std::string beside;
  size_t memory_budget = EntrySorter::kDefaultMemoryBudget;
};

// Maps a source row pointer to the one written for it; false when the row was not
// copied. Called once per index entry.
using RowMapper = std::function<bool(RowId old_row, RowId* new_row)>;

// Feeds `sorter` (fresh) the entries of source index `index` of `table`, walked from
// the tree, with row pointers mapped by `map_row` (entries whose row was not copied
// are dropped) and table ids in the keys mapped. Once the caller Finish()es it, the
// sorter gives them by (key bytes, row), exact duplicates once. Memory: the sorter's
// budget, whatever the index's size.
Status SortMappedIndexEntries(Database& source, const TableDef& table, size_t index,
                              const std::vector<size_t>& id_columns, const TableIdMap& ids,
                              const RowMapper& map_row, EntrySorter* sorter);

// Compares the file at `result_path` with `source` as `map` says it was written.
// kDamaged on any difference; the error of opening the result as it is. `progress`
// is told the tables compared of all tables.
Status VerifyCompaction(Database& source, const std::string& result_path, const CompactionMap& map,
                        const ProgressFn& progress = ProgressFn());

}  // namespace jet
