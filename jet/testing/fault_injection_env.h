// FaultInjectionEnv: an Env over another Env that fails or "crashes" at a chosen call.
// Every operation (open, create, write, flush, close, rename, remove, folder flush,
// examine, set permissions, follow a link, list a folder) counts as one call. A test arms the N-th call to fail with an errno value (EIO,
// ENOSPC, EACCES, ...) or to crash there: the process stops at once with
// kCrashExitStatus, before the call is carried out, leaving on disk whatever the
// earlier calls wrote. With drop_unsynced, a crash first cuts every file created
// through this Env back to what its last Sync made durable, as a power loss would.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "jet/base/env.h"

namespace jet {

class FaultInjectionEnv final : public Env {
 public:
  static constexpr int kCrashExitStatus = 86;

  explicit FaultInjectionEnv(Env* base);
  ~FaultInjectionEnv() override;

  // Arms call number `call` (1-based, counted from construction or Reset) to fail
  // with `error_number`. Later calls succeed again.
  void FailAt(uint64_t call, int error_number);
  // Arms call number `call` to end the process.
  void CrashAt(uint64_t call, bool drop_unsynced);
  // Disarms and sets the call count back to zero.
  void Reset();
  // Calls seen so far.
  uint64_t calls() const;
  // The call an armed failure hit ("list folder /tmp/x"), or "" while none has. A
  // failure of a best-effort step (the sweep of stale files) lets the work succeed.
  std::string injected() const;

  Status NewWritableFile(const std::string& path, unsigned mode,
                         std::unique_ptr<WritableFile>* result) override;
  Status NewSequentialFile(const std::string& path,
                           std::unique_ptr<SequentialFile>* result) override;
  Status RenameFile(const std::string& from, const std::string& to) override;
  Status RemoveFile(const std::string& path) override;
  Status SyncDir(const std::string& dir) override;
  Status GetFileInfo(const std::string& path, FileInfo* info) override;
  Status SetPermissions(const std::string& path, unsigned permissions) override;
  Status ResolvePath(const std::string& path, std::string* resolved) override;
  Status GetChildren(const std::string& dir, std::vector<std::string>* names) override;

  // Used by the wrapped files: counts one call and acts on an armed fault. Returns
  // an error Status for an injected failure, ok to go ahead; never returns on a crash.
  Status BeforeCall(const char* operation, const std::string& path);
  // Files report how much of them is durable, for drop_unsynced.
  void RecordFile(const std::string& path);
  void RecordSynced(const std::string& path, uint64_t durable_size);
  void RecordRename(const std::string& from, const std::string& to);

 private:
  struct TrackedFile {
    std::string path;
    uint64_t durable_size = 0;
  };
  [[noreturn]] void Crash();

  Env* base_;
  mutable std::mutex mutex_;
  uint64_t calls_ = 0;
  uint64_t armed_call_ = 0;  // 0 = nothing armed
  int armed_errno_ = 0;
  bool armed_crash_ = false;
  bool drop_unsynced_ = false;
  std::string injected_;
  std::vector<TrackedFile> files_;  // files created through this Env
};

}  // namespace jet
