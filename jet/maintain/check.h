// Check: the integrity check of a database file. One pass over the file verifies
// every structure the reader depends on -- page 0 and its commit bytes, page types,
// which structure owns which page, data pages and their rows, long-value chains,
// table definitions, usage maps, the indexes against the rows they index, and the
// catalog -- and reports each problem as a finding with its place, a stable kind and
// a severity. Nothing is written.
//
// Severity: "harmless" is what real Access files carry anyway (pages no structure
// reaches, stale statistics, odd but readable bytes); "damage" is anything a reader
// or a writer would get wrong (a row that does not decode, an index entry that points
// nowhere, a row count that disagrees with the rows, a set "needs repair" state).
//
// Time is linear in the file size: every page is read a bounded number of times.
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
#include "jet/base/status.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

enum class CheckSeverity : uint8_t { kHarmless, kDamage };

// "harmless" / "damage".
const char* CheckSeverityName(CheckSeverity severity);

// One problem. Fields that do not apply are left at their defaults (page -1, row -1,
// empty names). `kind` is a short stable identifier ("row-undecodable",
// "index-dangling-entry", ...) that tools and tests match on; `detail` is English.
struct CheckFinding {
  CheckSeverity severity = CheckSeverity::kDamage;
  std::string kind;
  int64_t page = -1;
  int row = -1;
  std::string table;
  std::string index;
  std::string detail;
};

// Commit-byte area of page 0: the last 512 bytes, one 2-byte slot per user
// (slot 0 for exclusive opens). Every file that Access closed carries a non-zero
// second byte in each slot (0x01..0x03, the first byte is a counter); a slot whose
// second byte is 0 is what an interrupted writer leaves, the "needs repair" state.
inline constexpr size_t kCommitAreaSize = 512;
// Offset of the commit area in page 0.
size_t CommitAreaOffset(const Format& format);
// True when the commit area of a page-0 buffer of `format` holds the state.
bool CommitStateSet(const Format& format, const uint8_t* page0);
// Clears the state: every slot whose second byte is 0 becomes the neutral 00 01.
void ClearCommitState(const Format& format, uint8_t* page0);

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
  bool Has(const std::string& kind) const;
};

struct CheckOptions {
  // Rows the entry-by-entry comparison of a disagreeing index holds at once (13 bytes
  // each); a table with more is compared in several runs, each one more walk of the
  // index. The findings are the same, met in another order (so where more than 100
  // of a kind are counted, other ones may be listed).
  uint64_t detailed_run_rows = uint64_t(1) << 22;
};

// Checks the file at `path`. The status fails only when the file cannot be read as a
// Jet database at all (kNotFound, kNotJetDatabase, kUnsupportedFormat, kIoError);
// everything else, including a catalog that cannot be read, is a finding.
Status CheckDatabase(const std::string& path, CheckReport* report);
// The same over bytes in memory (tests, fuzzing); `bytes` must outlive the call.
Status CheckDatabaseBytes(const uint8_t* bytes, size_t size, CheckReport* report);
// The same over an open page file (what RepairDatabase uses).
Status CheckPageFile(PageFile& file, CheckReport* report);
Status CheckPageFile(PageFile& file, const CheckOptions& options, CheckReport* report);

}  // namespace jet
