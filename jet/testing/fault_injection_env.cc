// FaultInjectionEnv: call counting, injected failures and simulated crashes.
#include "jet/testing/fault_injection_env.h"

#include <unistd.h>

#include <algorithm>

namespace jet {
namespace {

class FaultInjectionWritableFile final : public WritableFile {
 public:
  FaultInjectionWritableFile(FaultInjectionEnv* env, std::string path,
                             std::unique_ptr<WritableFile> base)
      : env_(env), path_(std::move(path)), base_(std::move(base)) {}

  Status Append(const void* data, size_t size) override {
    Status s = env_->BeforeCall("write", path_);
    if (!s.ok()) return s;
    s = base_->Append(data, size);
    if (s.ok()) {
      append_offset_ += size;
      written_size_ = std::max(written_size_, append_offset_);
    }
    return s;
  }

  Status WriteAt(uint64_t offset, const void* data, size_t size) override {
    Status s = env_->BeforeCall("write", path_);
    if (!s.ok()) return s;
    s = base_->WriteAt(offset, data, size);
    if (s.ok()) written_size_ = std::max(written_size_, offset + size);
    return s;
  }

  Status Sync() override {
    Status s = env_->BeforeCall("flush", path_);
    if (!s.ok()) return s;
    s = base_->Sync();
    if (s.ok()) env_->RecordSynced(path_, written_size_);
    return s;
  }

  Status Close() override {
    Status s = env_->BeforeCall("close", path_);
    if (!s.ok()) {
      base_->Close();  // the descriptor goes either way, as close(2) does
      return s;
    }
    return base_->Close();
  }

 private:
  FaultInjectionEnv* env_;
  std::string path_;
  std::unique_ptr<WritableFile> base_;
  uint64_t append_offset_ = 0;
  uint64_t written_size_ = 0;
};

class FaultInjectionSequentialFile final : public SequentialFile {
 public:
  explicit FaultInjectionSequentialFile(std::unique_ptr<SequentialFile> base)
      : base_(std::move(base)) {}
  Status Read(void* buffer, size_t size, size_t* read_size) override {
    return base_->Read(buffer, size, read_size);
  }

 private:
  std::unique_ptr<SequentialFile> base_;
};

}  // namespace

FaultInjectionEnv::FaultInjectionEnv(Env* base) : base_(base) {}
FaultInjectionEnv::~FaultInjectionEnv() = default;

void FaultInjectionEnv::FailAt(uint64_t call, int error_number) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_call_ = call;
  armed_errno_ = error_number;
  armed_crash_ = false;
}

void FaultInjectionEnv::CrashAt(uint64_t call, bool drop_unsynced) {
  std::lock_guard<std::mutex> lock(mutex_);
  armed_call_ = call;
  armed_crash_ = true;
  drop_unsynced_ = drop_unsynced;
}

void FaultInjectionEnv::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_ = 0;
  armed_call_ = 0;
  armed_crash_ = false;
  injected_.clear();
  files_.clear();
}

uint64_t FaultInjectionEnv::calls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

std::string FaultInjectionEnv::injected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return injected_;
}

Status FaultInjectionEnv::BeforeCall(const char* operation, const std::string& path) {
  bool crash = false;
  int error_number = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++calls_;
    if (armed_call_ != 0 && calls_ == armed_call_) {
      crash = armed_crash_;
      error_number = armed_errno_;
      if (!crash) injected_ = std::string(operation) + " " + path;
    }
  }
  if (crash) Crash();
  if (error_number != 0) {
    return Status::FromErrno(error_number,
                             std::string("injected fault: ") + operation + " " + path);
  }
  return Status::Ok();
}

void FaultInjectionEnv::RecordFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_.push_back(TrackedFile{path, 0});
}

void FaultInjectionEnv::RecordSynced(const std::string& path, uint64_t durable_size) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (TrackedFile& file : files_) {
    if (file.path == path) file.durable_size = durable_size;
  }
}

void FaultInjectionEnv::RecordRename(const std::string& from, const std::string& to) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (TrackedFile& file : files_) {
    if (file.path == from) file.path = to;
  }
}

void FaultInjectionEnv::Crash() {
  if (drop_unsynced_) {
    // Unlocked on purpose: the process ends here, and a file's path list is only
    // changed by the calls this one interrupts.
    for (const TrackedFile& file : files_) {
      (void)::truncate(file.path.c_str(), static_cast<off_t>(file.durable_size));
    }
  }
  ::_exit(kCrashExitStatus);
}

Status FaultInjectionEnv::NewWritableFile(const std::string& path, unsigned mode,
                                          std::unique_ptr<WritableFile>* result) {
  Status s = BeforeCall("create", path);
  if (!s.ok()) return s;
  std::unique_ptr<WritableFile> base;
  s = base_->NewWritableFile(path, mode, &base);
  if (!s.ok()) return s;
  RecordFile(path);
  result->reset(new FaultInjectionWritableFile(this, path, std::move(base)));
  return Status::Ok();
}

Status FaultInjectionEnv::NewSequentialFile(const std::string& path,
                                            std::unique_ptr<SequentialFile>* result) {
  Status s = BeforeCall("open", path);
  if (!s.ok()) return s;
  std::unique_ptr<SequentialFile> base;
  s = base_->NewSequentialFile(path, &base);
  if (!s.ok()) return s;
  result->reset(new FaultInjectionSequentialFile(std::move(base)));
  return Status::Ok();
}

Status FaultInjectionEnv::RenameFile(const std::string& from, const std::string& to) {
  Status s = BeforeCall("rename", from);
  if (!s.ok()) return s;
  s = base_->RenameFile(from, to);
  if (s.ok()) RecordRename(from, to);
  return s;
}

Status FaultInjectionEnv::RemoveFile(const std::string& path) {
  Status s = BeforeCall("remove", path);
  if (!s.ok()) return s;
  return base_->RemoveFile(path);
}

Status FaultInjectionEnv::SyncDir(const std::string& dir) {
  Status s = BeforeCall("flush folder", dir);
  if (!s.ok()) return s;
  return base_->SyncDir(dir);
}

Status FaultInjectionEnv::GetFileInfo(const std::string& path, FileInfo* info) {
  Status s = BeforeCall("examine", path);
  if (!s.ok()) return s;
  return base_->GetFileInfo(path, info);
}

Status FaultInjectionEnv::SetPermissions(const std::string& path, unsigned permissions) {
  Status s = BeforeCall("set permissions", path);
  if (!s.ok()) return s;
  return base_->SetPermissions(path, permissions);
}

Status FaultInjectionEnv::ResolvePath(const std::string& path, std::string* resolved) {
  Status s = BeforeCall("follow link", path);
  if (!s.ok()) return s;
  return base_->ResolvePath(path, resolved);
}

Status FaultInjectionEnv::GetChildren(const std::string& dir, std::vector<std::string>* names) {
  Status s = BeforeCall("list folder", dir);
  if (!s.ok()) return s;
  return base_->GetChildren(dir, names);
}

}  // namespace jet
