// ReadOnlyFile: a regular file opened for reading at any offset. The page reader
// (jet/file/page_file.h) reads databases through it, and the program reads its
// settings file through it; writing goes through Env (jet/base/env.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "jet/base/status.h"

namespace jet {

class ReadOnlyFile {
 public:
  // Opens `path` for reading. kNotFound when nothing is there (or a folder on the way
  // is missing); kInvalidArgument when it is not a regular file (a folder, a pipe, a
  // device), which is refused before anything is read from it, so that nothing can
  // block. On Windows other programs may still read the file while it is open, but
  // not write it.
  static Status Open(const std::string& path, std::unique_ptr<ReadOnlyFile>* file);

  virtual ~ReadOnlyFile() = default;

  // The file's size when it was opened.
  virtual uint64_t size() const = 0;

  // Reads exactly `size` bytes at `offset` into `out`; kIoError when the file ends
  // before (it became shorter since it was opened).
  virtual Status ReadAt(uint64_t offset, void* out, size_t size) const = 0;
};

}  // namespace jet
