// Repair: RepairDatabase's work. Locks the database (jet/file/lock.h), checks it
// (jet/maintain/check.h) and then does the least that makes it sound:
//   - no damage: nothing is written, except that a set "needs repair" commit state
//     is cleared (a copy with only those bytes changed replaces the file);
//   - damage: the salvage mends a view of the file in memory, and its compaction is
//     written beside the file -- every row that decodes, long values up to a break,
//     indexes rebuilt from the rows, statistics, row counts, AutoNumber seeds and
//     usage maps recomputed -- flushed, checked, and renamed over the original; the
//     folder is flushed after the rename.
// A file whose catalog cannot be read, or that is not a Jet file, is left untouched.
// Nothing is dropped silently: RepairReport lists what was rebuilt and lost.
#pragma once

#include <string>

#include "jet/maintain/repair_report.h"
#include "jet/base/env.h"
#include "jet/base/progress.h"
#include "jet/base/status.h"

namespace jet {

// Repairs the file at `path` in place (see above), writing through `env`. `progress`
// is told the work done in hundredths: the check, the salvage, the rebuild and the
// check of the result.
Status RepairDatabaseWithReport(const std::string& path, RepairReport* report,
                                Env* env = Env::Default(), const ProgressFn& progress = ProgressFn());

// The same repair into the new file `destination` (kDestinationExists when anything
// is there), which is published like every new file (jet/base/publish_file.h); `source`
// is only read. An undamaged source gives a copy, with a set commit state cleared.
Status RepairDatabaseToFile(const std::string& source, const std::string& destination,
                            RepairReport* report, Env* env = Env::Default(),
                            const ProgressFn& progress = ProgressFn());

}  // namespace jet
