// The engine's public entry points: the two whole-file operations that the repair
// procedure (repair/jet_db_engine.h) calls. Everything else in jet/ serves these.
// Interim: until the engine's repair and compaction code lands, both refuse with
// kUnsupportedFormat after their argument checks (see engine.cc); the contracts below
// are what they are to keep then.
#pragma once

#include <string>

#include "jet/status.h"

namespace jet {

// Repairs the Jet database at `path` in place. The file holds either the old or the
// repaired database at every moment: the repaired file is written beside it and
// renamed over it. kNotFound when there is no file at `path`; kInUse when another
// program holds it; kNotJetDatabase / kUnsupportedFormat / kDamaged for a file the
// engine cannot work on; kNoSpace / kIoError when writing fails.
Status RepairDatabase(const std::string& path);

// Writes a compacted copy of the Jet database at `source` as a new file at
// `destination`, with the engine's default options. `destination` must not exist
// (kDestinationExists, for a file, folder or link of that name). A failure leaves no
// file at `destination`; `source` is only read.
Status CompactDatabase(const std::string& source, const std::string& destination);

}  // namespace jet
