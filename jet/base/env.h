// Env: the one interface through which the program and the engine change files.
// Every create, write, flush, rename and remove goes through an Env, and so does every
// question about the file system that decides what is written where (is something
// there, what are its permission bits, where does a link lead, what lies in a folder),
// so that a test can put a fault-injecting Env in place of the real one and fail or
// "crash" any single call. Reading a database goes through its own page reader
// (jet/file/page_file.h); reading a file for a copy goes through NewSequentialFile here.
// The interface is the same on every platform; only its implementation is not.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/status.h"

namespace jet {

class SequentialFile;

class WritableFile {
 public:
  virtual ~WritableFile() = default;
  // Appends at the end of what was written so far.
  virtual Status Append(const void* data, size_t size) = 0;
  // Appends everything `in` has left to read. This base reads and appends in 1 MiB
  // chunks through the two files' own calls (so a fault-injecting wrapper that does
  // not override it sees each of them); the real Env has the kernel copy the bytes
  // (copy_file_range on Linux), with no pass through this process's memory.
  virtual Status AppendFrom(SequentialFile* in);
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

// What the file system says about one path.
struct FileInfo {
  enum class Type {
    kMissing,  // nothing there, or a link that leads nowhere (or round in a loop)
    kRegular,
    kFolder,
    kOther,  // a device, pipe, socket, ...
  };
  Type type = Type::kMissing;
  bool is_link = false;  // the path itself is a symbolic link; the rest is of its target
  unsigned permissions = 0;  // permission bits, as NewWritableFile and SetPermissions take them
  // What tells one state of a file from another (jet/file/file_stamp.h).
  uint64_t device = 0;
  uint64_t inode = 0;
  uint64_t size = 0;
  int64_t modified_ns = 0;  // last change of the contents, in nanoseconds since 1970
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

  // Describes `path`, following a symbolic link to what it names. Nothing there is not
  // an error (type kMissing); a path that cannot be examined is.
  virtual Status GetFileInfo(const std::string& path, FileInfo* info) = 0;
  // Sets the permission bits of `path` exactly (no umask applies).
  virtual Status SetPermissions(const std::string& path, unsigned permissions) = 0;
  // The absolute path `path` leads to, with every symbolic link in it followed.
  virtual Status ResolvePath(const std::string& path, std::string* resolved) = 0;
  // The names in folder `dir`, without "." and "..", in no particular order.
  virtual Status GetChildren(const std::string& dir, std::vector<std::string>* names) = 0;
};

// An Env that passes every call to another one: the base of an Env that changes a
// few calls and leaves the rest alone.
class EnvWrapper : public Env {
 public:
  explicit EnvWrapper(Env* target) : target_(target) {}
  Env* target() const { return target_; }

  Status NewWritableFile(const std::string& path, unsigned mode,
                         std::unique_ptr<WritableFile>* result) override {
    return target_->NewWritableFile(path, mode, result);
  }
  Status NewSequentialFile(const std::string& path,
                           std::unique_ptr<SequentialFile>* result) override {
    return target_->NewSequentialFile(path, result);
  }
  Status RenameFile(const std::string& from, const std::string& to) override {
    return target_->RenameFile(from, to);
  }
  Status RemoveFile(const std::string& path) override { return target_->RemoveFile(path); }
  Status SyncDir(const std::string& dir) override { return target_->SyncDir(dir); }
  Status GetFileInfo(const std::string& path, FileInfo* info) override {
    return target_->GetFileInfo(path, info);
  }
  Status SetPermissions(const std::string& path, unsigned permissions) override {
    return target_->SetPermissions(path, permissions);
  }
  Status ResolvePath(const std::string& path, std::string* resolved) override {
    return target_->ResolvePath(path, resolved);
  }
  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override {
    return target_->GetChildren(dir, names);
  }

 private:
  Env* target_;
};

// The folder part of a path ("." when it has none), for SyncDir and temporary files.
// On Windows both '\' and '/' separate folders.
std::string DirName(const std::string& path);
// The part of a path after its last separator.
std::string BaseName(const std::string& path);

// A name for a temporary file beside `path`, unique within this process and unlikely
// to clash across processes: "<dir>/.<base>.tmp-<pid>-<counter>".
std::string TemporaryPathBeside(const std::string& path);

}  // namespace jet
