// Check: the integrity check of a database file. One pass over the file verifies
// every structure the reader depends on -- page 0 and its commit bytes, page types,
// which structure owns which page, data pages and their rows, long-value chains,
// table definitions, usage maps, the indexes against the rows they index, and the
// catalog -- and reports each problem as a finding with its place, a stable kind and
// a severity. Nothing is written.
//
// The kinds of finding, their names and severities are declared in
// jet/maintain/finding_kind.h.
//
// Time is linear in the file size: every page is read a bounded number of times. A
// large table's rows and index walks are shared between two threads (CheckOptions).
// Memory does not grow with the row count: each index is compared with its rows
// through a count and an order-independent fingerprint gathered while the rows are
// scanned; only an index that disagrees is compared entry by entry, its rows read
// again in runs of bounded size (CheckOptions).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/file/data_page.h"
#include "jet/file/format.h"
#include "jet/base/progress.h"
#include "jet/base/status.h"
#include "jet/maintain/finding_kind.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

// One problem. Fields that do not apply are left at their defaults (page -1, row -1,
// empty names). `severity` is the kind's; `detail` is English.
struct CheckFinding {
  CheckSeverity severity = CheckSeverity::kDamage;
  FindingKind kind = FindingKind::kPartialPage;
  int64_t page = -1;
  int row = -1;
  std::string table;
  std::string index;
  std::string detail;
};

// True when the live row in `slot` starts inside the free gap between the slot table
// and the rows, as the page's stored free space places that gap: a slot offset that
// was overwritten. Only meaningful when the stored free space disagrees with the rows.
bool RowInFreeSpace(const Format& format, const DataPageHeader& header, const RowSlot& slot);

// The name findings give real index `real` of `table`: the name of the first logical
// index that uses it, or "real index N" when none does.
std::string RealIndexName(const TableDef& table, size_t real);

struct CheckReport {
  Version version = Version::kJet3;
  uint32_t page_count = 0;
  uint64_t live_rows = 0;       // rows seen on table data pages, all tables
  std::vector<CheckFinding> findings;

  size_t DamageCount() const;
  bool HasDamage() const { return DamageCount() > 0; }
  // Damage other than the commit state (which a repair clears without rewriting).
  bool HasStructuralDamage() const;
  bool Has(FindingKind kind) const;
};

struct CheckOptions {
  // Rows the entry-by-entry comparison of a disagreeing index holds at once (13 bytes
  // each); a table with more is compared in several runs, each one more walk of the
  // index. The findings are the same, met in another order (so where more than 100
  // of a kind are counted, other ones may be listed). A table with fewer, checked on
  // two threads, is read once for several disagreeing indexes, as many as 128 MiB of
  // their rows hold.
  uint64_t detailed_run_rows = uint64_t(1) << 22;

  // Whether an index whose entries disagree with its table's rows is compared with
  // them entry by entry, which names each wrong entry (index-key,
  // index-dangling-entry and the like) but reads the table's rows a second time.
  // Without it such an index gets one index-rows-differ finding instead: all a
  // repair needs, since it gives a disagreeing index a new tree whatever is wrong.
  bool compare_disagreeing_entries = true;

  // A table with at least this many data pages is checked on two threads: the second
  // half of its rows, and the first walks of its indexes two at a time. The report is
  // the same whatever this is (tests set it to 1); UINT64_MAX keeps every table on
  // one thread.
  uint64_t second_thread_pages = 64;

  // Told the data pages checked of all data pages, table by table (from the calling
  // thread only).
  ProgressFn progress;
};

// Checks the file at `path`. The status fails only when the file cannot be read as a
// Jet database at all (kNotFound, kNotJetDatabase, kUnsupportedFormat, kIoError);
// everything else, including a catalog that cannot be read, is a finding.
Status CheckDatabase(const std::string& path, CheckReport* report);
Status CheckDatabase(const std::string& path, const CheckOptions& options, CheckReport* report);
// The same over bytes in memory (tests, fuzzing); `bytes` must outlive the call.
Status CheckDatabaseBytes(const uint8_t* bytes, size_t size, CheckReport* report);
// The same over an open page file (what RepairDatabase uses).
Status CheckPageFile(PageFile& file, CheckReport* report);
Status CheckPageFile(PageFile& file, const CheckOptions& options, CheckReport* report);

}  // namespace jet
