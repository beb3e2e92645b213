// CleanDatabase: the repair procedure, what the program is for. It backs up the
// host application's database, has the engine repair it in place and compact it into
// a scratch file, puts the compacted copy in the database's place, tells the user how
// it went and ends the program.
//
// Files (paths by plain concatenation of a folder, the separator and a name from
// repair/file_names.h):
//   database  <database_folder>/morvik.mdb      repaired, then replaced by its compacted copy
//   backup    <program_folder>/morvikbackup.mdb the database as it was before this run
//   scratch   <program_folder>/new.mdb          what the compaction writes; left behind
//
// Steps, in this order (a failing step is passed over unless said otherwise):
//   1 form the database path
//   2 (the old backup is not deleted beforehand; step 3 replaces it)
//   3 copy the database to the backup, atomically; on failure: error box, step 10
//   4 form the scratch path
//   5 delete a stale scratch file, if FileExists finds one
//   6 engine: RepairDatabase(database)
//   7 engine: CompactDatabase(database -> scratch)
//   8 copy the scratch file over the database, atomically, only after a successful 7
//     (and, when 6 failed, only if the database is still what the backup holds)
//   9 the notice "hersteld" if 3, 6, 7 and 8 all succeeded (saying how many records
//     and long values the repair could not bring back, if any), else an error box saying
//     whether the database is unchanged, with the reason on a second line
//  10 End
//
// Safety rules that the steps keep:
//   - the previous backup is replaced only by a complete new one (one rename);
//   - without a fresh backup the engine never sees the database;
//   - only a successful compaction is copied back, and the copy-back is atomic, so
//     the database path holds either the whole old file or the whole compacted one;
//   - the closing notice says "hersteld" only when everything succeeded;
//   - each engine step and the copy-back go ahead only on the file the step before
//     left (jet/file/file_stamp.h): a database another program replaces or rewrites
//     meanwhile is left exactly as that program left it, and the box says it is in
//     use by another program.
#pragma once

#include <string>

#include "jet/base/env.h"
#include "repair/engine_holder.h"
#include "services/runtime.h"

namespace repair {

// Runs the whole procedure and ends with runtime.End(). A failing step is passed
// over, never thrown; what the user is told depends on what failed. Every file
// write goes through `env`. Returns only because a test runtime's End() returns.
void CleanDatabase(const std::string& database_folder, const std::string& program_folder,
                   services::Runtime& runtime, EngineHolder& engine,
                   jet::Env* env = jet::Env::Default());

}  // namespace repair
