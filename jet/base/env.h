// Env: the one interface through which the program and the engine change files.
// Every create, write, flush, rename and remove goes through an Env, so that a test
// can put a fault-injecting Env in place of the real one and fail or "crash" any
// single call. Reading a database goes through its own page reader (jet/file/page_file.h);
// reading a file for a copy goes through NewSequentialFile here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "jet/base/status.h"

namespace jet {

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Appends at the end of what was written so far.
  virtual Status Append(const void* data, size_t size) = 0;
  // Writes at an absolute offset (may extend the file); does not move the append point.
  virtual Status WriteAt(uint64_t offset, const void* data, size_t size) = 0;
  // Flushes data and metadata to stable storage (fsync).
  virtual Status Sync() = 0;
  // Closes the descriptor; a file destroyed without Close is closed silently.
  virtual Status Close() = 0;
};

class SequentialFile {
 public:
  virtual ~SequentialFile() = default;
  // Reads up to `size` bytes into `buffer`; *read_size == 0 means end of file.
  virtual Status Read(void* buffer, size_t size, size_t* read_size) = 0;
};

class Env {
 public:
  virtual ~Env() = default;

  // The real file system. Owned by the library, never deleted.
  static Env* Default();

  // Creates `path` for writing; it must not exist (O_CREAT | O_EXCL), so a stale or
  // hostile file in its place is never written through. `mode` are the permission bits.
  virtual Status NewWritableFile(const std::string& path, unsigned mode,
                                 std::unique_ptr<WritableFile>* result) = 0;
  virtual Status NewSequentialFile(const std::string& path,
                                   std::unique_ptr<SequentialFile>* result) = 0;
  // rename(2): replaces `to` atomically when both lie on one file system.
  virtual Status RenameFile(const std::string& from, const std::string& to) = 0;
  virtual Status RemoveFile(const std::string& path) = 0;
  // fsync of a folder, so that a rename or create in it is durable.
  virtual Status SyncDir(const std::string& dir) = 0;
};

// The folder part of a path ("." when it has none), for SyncDir and temporary files.
std::string DirName(const std::string& path);

// A name for a temporary file beside `path`, unique within this process and unlikely
// to clash across processes: "<dir>/.<base>.tmp-<pid>-<counter>".
std::string TemporaryPathBeside(const std::string& path);

}  // namespace jet
