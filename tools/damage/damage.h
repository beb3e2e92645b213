// Damage generator: makes a damaged copy of a database file, one kind of damage per
// copy, the way real files get damaged (a flipped byte, a lost page, a writer killed
// midway). Test tool only: the integrity check and the repair are tested on its
// output. It works on files without page encoding, since it patches stored bytes.
//
// Each kind picks the first suitable place in the file (user tables before system
// tables) so that a given input always gets the same damage.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/maintain/finding_kind.h"

namespace damage {

enum class Kind {
  kIndexLeaf,           // flipped key bytes in an index leaf page
  kIndexNode,           // flipped key bytes in an index node page
  kZeroDataPage,        // a table data page overwritten with zeros
  kWrongPageType,       // a table data page's type byte changed
  kRowInFreeSpace,      // a row's slot offset moved into the page's free space
  kBrokenLongValue,     // a long-value chain pointer led past the end of the file
  kLongValueCycle,      // a long-value chain pointing back at its own first row
  kTdefContinuation,    // a table definition's next-page pointer past the end
  kStaleRowCount,       // a table definition's row count off by a few
  kColumnFlags,         // a column's flags given the hyperlink bit, which only memos have
  kCommitState,         // the "needs repair" state set in the commit bytes
  kTruncated,           // the file cut in the middle of its last page
};

// "index-leaf", "index-node", "zero-data-page", "wrong-page-type", "row-in-free-space",
// "broken-long-value", "long-value-cycle", "tdef-continuation", "stale-row-count",
// "column-flags", "commit-state", "truncated".
const char* KindName(Kind kind);
bool ParseKind(const std::string& name, Kind* kind);
std::vector<Kind> AllKinds();

// What the integrity check reports for a damage of `kind`: a finding of at least one
// of `kinds`; with `at_page`, one of those names the damaged page.
struct ExpectedFindings {
  std::vector<jet::FindingKind> kinds;
  bool at_page = false;
};
const ExpectedFindings& FindingsOf(Kind kind);

struct Result {
  Kind kind;
  int64_t page = -1;         // the page damaged
  int row = -1;              // the row damaged, when one row is
  uint64_t offset = 0;       // file offset of the first byte changed
  std::string table;         // the table the damage hits ("" for file-level damage)
  int64_t table_page = -1;   // its definition page
  uint64_t rows_on_page = 0; // live rows of the table stored on the damaged page
  std::string description;   // English, e.g. "zeroed page 17 (3 rows of \"Orders\")"
};

// Copies `source` to `destination` (which must not exist) with one damage of `kind`.
// kNotFound when the file has no place for that kind (no long-value chain, say);
// kUnsupportedFormat for page-encoded files.
jet::Status MakeDamagedCopy(const std::string& source, const std::string& destination, Kind kind,
                            Result* result);

}  // namespace damage
