// CreateDatabase: writes a complete new Jet 3 or Jet 4 database from a Schema
// (jet/create/schema.h) -- what Jet itself puts in a fresh file plus the schema's tables:
//
//   page 0    header: engine name, version, code page (1252 unless the schema says
//             otherwise), General sort order, no database key, no password, neutral
//             commit bytes; Jet 4 also its creation date
//   page 1    global free-page map (nothing free: the file is packed)
//   pages 2-5 definitions of MSysObjects, MSysACEs, MSysQueries, MSysRelationships
//             (jet/write/system_tables.h), then the user tables' definitions
//   then      the usage-map host page(s) holding every table's map rows; then per
//             table (system tables first) its data pages and long-value pages, its
//             index pages; reference-map bitmap pages where a map needs them
//
// The catalog holds the containers Tables, Databases and Relationships, MSysDb, the
// four system tables, every user table (id = its definition page) and every
// relationship; MSysACEs grants full rights on each; MSysRelationships has one row per
// column pair. An enforced relationship adds a foreign-key logical index to both
// tables' definitions (the referencing side named after the relationship, the
// referenced side ".r" + a letter, sharing its unique index).
//
// Every index key is computed by jet/write/index_key.h from the row's values. When a key
// cannot be computed (a sort order or character the encoder does not confirm) the
// file is not made and that Status is returned: an index is never written with a
// guessed key. Duplicate keys in a unique index, and a live row that an enforced
// relationship says refers to a row that is not there, are kInvalidArgument.
//
// Rows go in the order given, one at a time from the RowSupplier (the schema's own
// rows when none is given), so memory does not grow with the row count: index entries
// and the keys an enforced relationship is checked against are sorted by
// jet::EntrySorter (jet/write/entry_sorter.h) within CreateOptions::sort_memory, spilling to
// scratch files beside `path` (removed before CreateDatabase returns). Every row is checked as
// ValidateRow does before it is written. Deleted rows (RowSpec::deleted) take their place on the
// page while the page fills, then leave a flagged zero-length slot, free space, and
// their long values behind as unreferenced LVAL rows -- what deletion leaves in a file
// Access has been working on, so a compaction has something to reclaim.
//
// The file is written beside `path` under a temporary name, synced, and renamed into
// place; `path` must not exist beforehand (kDestinationExists). On any failure
// nothing is left behind (but a scratch file whose removal failed, which the next
// run's cleanup of stale temporary files beside `path` removes).
#pragma once

#include <cstddef>
#include <string>

#include "jet/base/env.h"
#include "jet/base/progress.h"
#include "jet/create/schema.h"
#include "jet/base/status.h"

namespace jet {

struct CreateOptions {
  // Memory for sorting index entries (three quarters, shared by the indexes of the
  // table being written) and enforced relationships' keys (a quarter). Past it the
  // sorters write runs to scratch files; the file made is the same either way.
  size_t sort_memory = size_t(128) << 20;

  // Told the tables written of all tables (then the read-back check as one more).
  ProgressFn progress;
};

Status CreateDatabase(const Schema& schema, const std::string& path, Env* env);
// The same with the rows of schema.tables[i] taken from rows->OpenRows(i) instead of
// TableSpec::rows.
Status CreateDatabase(const Schema& schema, RowSupplier* rows, const std::string& path, Env* env,
                      const CreateOptions& options = CreateOptions());

}  // namespace jet
