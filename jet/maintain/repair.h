// Repair: RepairDatabase's work. Locks the database (jet/file/lock.h), checks it
// (jet/maintain/check.h) and then does the least that makes it sound:
//   - no damage: nothing is written, except that a set "needs repair" commit state
//     is cleared (a copy with only those bytes changed replaces the file);
//   - damage: a salvaged copy is written beside the file -- every row that decodes,
//     long values up to a break, indexes rebuilt from the rows, statistics, row
//     counts, AutoNumber seeds and usage maps recomputed -- flushed, checked, and
//     renamed over the original; the folder is flushed after the rename.
// A file whose catalog cannot be read, or that is not a Jet file, is left untouched.
// Nothing is dropped silently: RepairReport lists what was rebuilt and lost.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/maintain/check.h"
#include "jet/base/env.h"
#include "jet/base/status.h"

namespace jet {

struct RepairTableReport {
  std::string name;
  uint64_t rows_kept = 0;
  uint64_t rows_lost = 0;       // undecodable rows, rows on pages that are not pages
  uint64_t values_cut = 0;      // long values cut at a break or set to null
  std::vector<std::string> notes;  // per-table details (which rows, which values)
};

struct RepairReport {
  bool was_damaged = false;          // the check found damage
  bool commit_state_cleared = false;
  bool rewritten = false;            // a salvaged copy replaced the file
  size_t damage_found = 0;           // damage findings of the check before the repair
  std::vector<std::string> rebuilt;  // "index X of table Y rebuilt from its rows", ...
  std::vector<RepairTableReport> tables;
  std::vector<std::string> lost;     // tables or objects that could not be carried over

  uint64_t RowsLost() const;
  uint64_t ValuesCut() const;
  // The report as lines of English, for `jetdb repair` and logs.
  std::vector<std::string> Lines() const;
};

// Repairs the file at `path` in place (see above), writing through `env`.
Status RepairDatabaseWithReport(const std::string& path, RepairReport* report,
                                Env* env = Env::Default());

}  // namespace jet
