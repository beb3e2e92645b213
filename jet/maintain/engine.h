// The engine's public entry points: the two whole-file operations that the repair
// procedure (repair/jet_db_engine.h) calls. Everything else in jet/ serves these.
// RepairDatabase is the repair of jet/maintain/repair.h, CompactDatabase the compaction of
// jet/maintain/compact.h. Both write only through `env` (a test passes a fault-injecting one).
#pragma once

#include <string>

#include "jet/base/env.h"
#include "jet/base/status.h"
#include "jet/maintain/repair_report.h"

namespace jet {

// Repairs the Jet database at `path` in place. The file holds either the old or the
// repaired database at every moment: the repaired file is written beside it and
// renamed over it. kNotFound when there is no file at `path`; kInUse when another
// program holds it; kNotJetDatabase / kUnsupportedFormat / kDamaged for a file the
// engine cannot work on; kNoSpace / kIoError when writing fails.
// `report` receives what was rebuilt and lost.
Status RepairDatabase(const std::string& path, RepairReport* report, Env* env = Env::Default());
Status RepairDatabase(const std::string& path, Env* env = Env::Default());

// Writes a compacted copy of the Jet database at `source` as a new file at
// `destination`, with the engine's default options. `destination` must not exist
// (kDestinationExists, for a file, folder or link of that name). A failure leaves no
// file at `destination`; `source` is only read.
Status CompactDatabase(const std::string& source, const std::string& destination,
                       Env* env = Env::Default());

}  // namespace jet
