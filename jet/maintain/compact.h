// Compaction: writes a fresh copy of a Jet 3 / Jet 4 database that holds exactly what
// the source holds and nothing else, the way Jet's own compaction leaves a file.
//
//   * Same format, page size, code page, sort order, password and page encoding,
//     unless the options set another password or encoding; page 0 is the source's,
//     with those fields written and neutral commit bytes. Options for another format
//     or sort order convert the file (jet/maintain/format_conversion.h).
//   * Layout: page 0, page 1 (global map), then every table contiguous -- MSysObjects
//     first (its definition stays on page 2, where readers look for it), the other
//     system tables, then the user tables -- each as
//       definition pages, usage-map host page(s), data pages, long-value pages,
//       index pages, reference-map bitmap pages (only for very large tables),
//     and at the very end the global map's bitmap pages, if the file needs any.
//     A table gets host pages of its own only when the host page an earlier table
//     opened has no room left for its map rows (Access, too, keeps the maps of many
//     tables on one host page).
//   * Only live rows, in primary-key order (the order of the primary key's entries),
//     rows that index does not reach after them in storage order; base order for a
//     table without a primary key. Each row is written anew from its values (table
//     ids remapped), as Jet inserts it again: the space of deleted columns goes;
//     overflow rows become plain rows. A saved query's compiled plan (MSysObjects.Lv
//     of a type-5 row) is dropped, as Jet's compaction drops it (doc/compaction.md).
//   * Long values reachable from live rows stored again with their stored bytes,
//     packed; orphans dropped.
//   * Every real index rebuilt from keys computed from the row values (once per row
//     and index), sorted by (key, new row), so a damaged key or an entry at the wrong
//     row in the source never reaches the result. An index whose keys the encoder
//     refuses (jet/write/index_key.h) keeps the source index's entries, rows mapped;
//     the report names it and the verification holds it against the source index.
//     No other source tree is read (the primary key's gives the row order), which a
//     repair's salvage relies on to leave the trees it would not need empty.
//   * Definitions with recomputed row counts, AutoNumber seeds, statistics and maps;
//     table ids (= definition pages) remapped wherever the engine knows they are kept
//     (jet/maintain/id_remap.h, logical indexes' related tables).
//
// Because table ids appear in index keys of the first tables, the layout is planned
// before anything is written: a dry run packs every table's rows and long values and
// builds its indexes into a page counter, and repeats with the ids that layout gives
// until the ids no longer change (two or three rounds in practice). What the planning
// built that is final is kept in scratch files beside the destination and copied by
// the writing pass instead of being built again: the data pages of a table whose rows
// do not depend on the layout (no long value stored out of a row, no table ids), so
// its rows are decoded and encoded once, and the index pages the round that counted
// them for the final layout built. Those pages take disk space until their table is
// written.
//
// The result is written beside the destination as a temporary file, verified against
// the source (jet/maintain/compact_verify.h), and only then renamed into place.
//
// Memory does not grow with the indexes: every index's entries (for the row order,
// for each build, for the verification) go through an EntrySorter that spills sorted
// runs to scratch files beside the destination, under the temporary-file name pattern
// (so a crash leaves nothing the next compaction of that destination does not remove).
// What does grow with the file is 4 bytes per copied row (where it came from), 5 more
// while its table is planned or when one of its indexes copies the source's keys
// (where it went), and a few bytes per page.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/progress.h"
#include "jet/base/status.h"
#include "jet/file/format.h"
#include "jet/file/page_file.h"

namespace jet {

// RC4 page encoding of a compaction's result.
enum class PageEncoding { kAsSource, kEncode, kDecode };

struct CompactOptions {
  // The result's database password: unset keeps the source's, "" removes it.
  std::optional<std::string> password;
  // kEncode gives the result RC4-encoded pages (a new database key when the source
  // has none), kDecode plain pages.
  PageEncoding encoding = PageEncoding::kAsSource;
  // The result's format and sort order (by name, jet/maintain/format_conversion.h):
  // unset keeps the source's; another one converts the file as that header describes.
  std::optional<Version> format;
  std::optional<std::string> sort_order;

  // Memory each index sort may hold before it spills runs to scratch files beside
  // the destination (jet/write/entry_sorter.h). Tests set it tiny to make every sort spill.
  size_t sort_memory_budget = size_t(32) << 20;

  // A table with at least this many data pages has its index keys computed and
  // sorted on a second thread while its rows are planned. The result is the same
  // whatever this is (tests set it to 0); UINT64_MAX keeps every table on one thread.
  uint64_t second_thread_pages = 64;

  // Test hook: sees (and may change) every page image just before it is written,
  // page 0 included, plain (before any page encoding). Never set outside tests.
  std::function<void(uint32_t page_number, std::vector<uint8_t>* image)> alter_page_for_test;

  // Told the work done: each table's source data pages counted once for each pass
  // (planning, writing, verification).
  ProgressFn progress;
};

struct CompactTableReport {
  std::string name;
  bool system = false;
  uint32_t old_page = 0;          // first definition page in the source
  uint32_t new_page = 0;          // ... in the result
  uint32_t source_data_pages = 0; // data pages its owned-pages map names in the source
  uint32_t pages = 0;             // every page the table takes in the result
  uint32_t data_pages = 0;
  uint32_t long_value_pages = 0;
  uint32_t index_pages = 0;
  uint64_t rows = 0;
  uint64_t long_values = 0;       // values stored out of the row
  // Indexes whose keys could not be computed from the rows (the encoder does not know
  // them) and were copied from the source index instead: "index N: why".
  std::vector<std::string> copied_keys;
};

struct CompactReport {
  uint32_t source_pages = 0;
  uint32_t result_pages = 0;
  uint64_t source_bytes = 0;
  uint64_t result_bytes = 0;
  uint32_t planning_rounds = 0;
  uint64_t query_plans_dropped = 0;  // saved queries' compiled plans (MSysObjects.Lv)
  std::vector<CompactTableReport> tables;  // in the order of the result
};

// Compacts `source` into a new file `destination` through `env`, converted to another
// format or sort order when the options ask (jet/maintain/format_conversion.h says what
// changes and what is refused). kDestinationExists
// when anything exists at `destination`; kNotJetDatabase / kUnsupportedFormat /
// kDamaged for a source the engine cannot compact (ACE files are refused);
// kInvalidArgument for a password that does not fit the format; kDamaged
// when verification finds a difference; kNoSpace / kIoError from writing. On any
// failure no file is left at `destination` nor beside it. `report` may be null.
Status Compact(Env* env, const std::string& source, const std::string& destination,
               const CompactOptions& options, CompactReport* report);
// The same from a source already open as a page file (a repair's salvaged view, which
// never goes to disk), which the compaction takes over.
Status CompactPageFile(Env* env, std::unique_ptr<PageFile> source, const std::string& destination,
                       const CompactOptions& options, CompactReport* report);

}  // namespace jet
