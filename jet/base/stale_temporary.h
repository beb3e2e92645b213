// Stale temporary files: what a crashed or killed writer leaves beside its target.
// Every writer here makes its temporary file with TemporaryPathBeside (jet/base/env.h):
// "<dir>/.<base>.tmp-<pid>-<counter>". A power cut or a kill between the create and
// the rename leaves such a file behind, and nothing else would ever remove it; the
// next writer of the same target does, before it makes its own.
#pragma once

#include <string>

#include "jet/base/env.h"

namespace jet {

// Removes, through `env`, every file beside `path` named like a temporary file of
// `path` whose process no longer runs. Files of a live process (another writer at
// work, or this process) are left alone, as is every other name. Best effort: a file
// that cannot be removed stays; the caller's own work does not depend on it.
void RemoveStaleTemporaryFiles(Env* env, const std::string& path);

// The same, and also every temporary file of `path` this process made: what a run
// that is being interrupted leaves behind.
void RemoveOwnTemporaryFiles(Env* env, const std::string& path);

// `text` with every temporary file name in it replaced by the name of the file it
// stands for ("/d/.out.mdb.tmp-8299-0" becomes "/d/out.mdb"), for messages that
// name the file the user asked for rather than one they never saw.
std::string WithoutTemporaryNames(const std::string& text);

}  // namespace jet
