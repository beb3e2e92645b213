// File services of the program: existence test, copy, delete. Plain C++, no Qt.
// Paths are used exactly as given: callers build them by plain concatenation of a
// folder, the separator and a name (JoinPath in services/program_folder.h), and
// nothing here normalises, trims or quotes them.
#pragma once

#include <string>

#include "jet/base/env.h"
#include "jet/file/file_stamp.h"
#include "jet/base/status.h"

namespace services {

// True when a regular file (or a link to one) exists at `path`; false for a folder,
// a dangling link, a missing folder, or any path that cannot be examined.
bool FileExists(const std::string& path);

// Writes a byte-for-byte copy of `source` at `destination`, replacing a file already
// there. Never leaves a half-written destination: the copy goes to a temporary file in
// the destination's folder, is flushed, and is renamed over the destination, whose
// folder is then flushed. On any failure the destination is as it was and the
// temporary file is gone. An existing destination keeps its permission bits.
//
// A source that another program replaces or rewrites while it is being read gives no
// copy (kInUse): what was read would be neither its old nor its new contents. With
// `destination_must_be`, the destination is replaced only if it is still the file
// that stamp describes (kInUse otherwise, nothing replaced). With `copied_source`, the
// stamp of the source as it was copied is stored there.
jet::Status FileCopy(const std::string& source, const std::string& destination,
                     jet::Env* env = jet::Env::Default(),
                     const jet::FileStamp* destination_must_be = nullptr,
                     jet::FileStamp* copied_source = nullptr);

// Deletes the file at `path`.
jet::Status Kill(const std::string& path, jet::Env* env = jet::Env::Default());

}  // namespace services
