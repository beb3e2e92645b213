// File services of the program: existence test, copy, delete. Plain C++, no Qt.
// Paths are used exactly as given: callers build them by plain concatenation of a
// folder and a name that begins with the separator ("/morvik.mdb"), and nothing here
// normalises, trims or quotes them.
#pragma once

#include <string>

#include "jet/env.h"
#include "jet/status.h"

namespace services {

// True when a regular file (or a link to one) exists at `path`; false for a folder,
// a dangling link, a missing folder, or any path that cannot be examined.
bool FileExists(const std::string& path);

// Writes a byte-for-byte copy of `source` at `destination`, replacing a file already
// there. Never leaves a half-written destination: the copy goes to a temporary file in
// the destination's folder, is flushed, and is renamed over the destination, whose
// folder is then flushed. On any failure the destination is as it was and the
// temporary file is gone. An existing destination keeps its permission bits.
jet::Status FileCopy(const std::string& source, const std::string& destination,
                     jet::Env* env = jet::Env::Default());

// Deletes the file at `path`.
jet::Status Kill(const std::string& path, jet::Env* env = jet::Env::Default());

}  // namespace services
