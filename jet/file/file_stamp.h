// FileStamp: what tells one state of a file from another without reading it -- the
// file's identity (device, inode) and its size and modification time. A writer that
// read a file and is about to replace it (or to replace something with it) compares
// the stamp it took with the file's stamp now: a difference means another program
// replaced or rewrote the file meanwhile, and replacing it would throw that work away.
//
// The comparison and the rename that follows it are two system calls; a change that
// falls between exactly those two is not seen. Everything before is.
#pragma once

#include <cstdint>
#include <string>

#include "jet/base/env.h"
#include "jet/base/status.h"

namespace jet {

struct FileStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;  // st_mtim in nanoseconds since the epoch

  bool operator==(const FileStamp&) const = default;
};

// The stamp of a file the Env described.
FileStamp StampOf(const FileInfo& info);

// The stamp of the file `path` names (links followed), asked through `env`. kNotFound
// when nothing is there; other failures to examine it by their errno.
Status StampFile(Env* env, const std::string& path, FileStamp* stamp);

// Ok when `path` still carries `expected`; kInUse, naming `path`, when it was
// replaced, rewritten or removed since (or cannot be examined now).
Status ExpectUnchanged(Env* env, const std::string& path, const FileStamp& expected);

}  // namespace jet
