// Test doubles for the repair procedure: a scripted DBEngine that works on plain
// files, and an Env that fails chosen file operations. Both header-only, shared by
// the repair tests.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/status.h"
#include "repair/db_engine.h"
#include "tests/support/test_support.h"

namespace repair_test {

// The marks the fake leaves, so a test can tell from a file's bytes which operations
// produced it: a repair appends kRepairedMark, a compaction writes kCompactedMark
// followed by the source's bytes.
inline constexpr char kRepairedMark[] = "+repaired";
inline constexpr char kCompactedMark[] = "compacted:";

class FakeEngine final : public repair::DBEngine {
 public:
  // --- script (set before the run) ---
  jet::Status repair_result;   // what RepairDatabase answers
  jet::Status compact_result;  // what CompactDatabase answers (when the destination is free)
  // A successful repair rewrites the database (appends kRepairedMark); off for a
  // database that needed nothing, or one on a read-only file system.
  bool repair_changes_file = true;
  // A failing repair overwrites the database with kHalfRepaired before failing.
  bool failed_repair_changes_file = false;
  // A failing compaction leaves the first half of its output at the destination.
  bool failed_compaction_leaves_partial = false;
  // What a successful RepairDatabase reports as lost.
  repair::RepairLoss repair_loss;
  // Runs at the start of RepairDatabase, to look at the files at that moment.
  std::function<void()> on_repair;

  static constexpr char kHalfRepaired[] = "half-written repair";

  // --- record ---
  std::vector<std::string> calls;

  jet::Status RepairDatabase(const std::string& database_path, repair::RepairLoss* loss) override {
    calls.push_back("RepairDatabase " + database_path);
    *loss = repair::RepairLoss();
    if (repair_result.ok()) *loss = repair_loss;
    if (on_repair) on_repair();
    if (!repair_result.ok()) {
      if (failed_repair_changes_file) testing_support::WriteFileBytes(database_path, kHalfRepaired);
      return repair_result;
    }
    if (!repair_changes_file) return jet::Status::Ok();
    std::string bytes = testing_support::ReadFileBytes(database_path);
    if (!testing_support::WriteFileBytes(database_path, bytes + kRepairedMark)) {
      return jet::Status::Error(jet::ErrorKind::kIoError, "fake repair could not write");
    }
    return jet::Status::Ok();
  }

  jet::Status CompactDatabase(const std::string& source_path,
                              const std::string& destination_path) override {
    calls.push_back("CompactDatabase " + source_path + " -> " + destination_path);
    if (testing_support::PathExists(destination_path)) {
      return jet::Status::Error(jet::ErrorKind::kDestinationExists, "destination exists");
    }
    const std::string output = kCompactedMark + testing_support::ReadFileBytes(source_path);
    if (!compact_result.ok()) {
      if (failed_compaction_leaves_partial) {
        testing_support::WriteFileBytes(destination_path, output.substr(0, output.size() / 2));
      }
      return compact_result;
    }
    if (!testing_support::WriteFileBytes(destination_path, output)) {
      return jet::Status::Error(jet::ErrorKind::kNoSpace, "fake compaction could not write");
    }
    return jet::Status::Ok();
  }
};

// An Env over the real one that fails chosen operations with `kind`:
//   - creating any file in folder `fail_create_in`;
//   - appending to a file in folder `fail_append_in` beyond `append_limit` bytes (what
//     was written before stays, as on a disk that fills up);
//   - removing the path `fail_remove`.
class FaultEnv final : public jet::EnvWrapper {
 public:
  FaultEnv() : EnvWrapper(jet::Env::Default()) {}

  std::string fail_create_in;
  std::string fail_append_in;
  size_t append_limit = 0;
  std::string fail_remove;
  jet::ErrorKind kind = jet::ErrorKind::kNoSpace;

  jet::Status NewWritableFile(const std::string& path, unsigned mode,
                              std::unique_ptr<jet::WritableFile>* result) override {
    const std::string dir = jet::DirName(path);
    if (dir == fail_create_in) return Fail("create " + path);
    jet::Status s = target()->NewWritableFile(path, mode, result);
    if (s.ok() && dir == fail_append_in) {
      *result = std::make_unique<LimitedFile>(std::move(*result), append_limit, kind);
    }
    return s;
  }
  jet::Status RemoveFile(const std::string& path) override {
    if (path == fail_remove) return Fail("remove " + path);
    return target()->RemoveFile(path);
  }

 private:
  class LimitedFile final : public jet::WritableFile {
   public:
    LimitedFile(std::unique_ptr<jet::WritableFile> file, size_t limit, jet::ErrorKind kind)
        : file_(std::move(file)), left_(limit), kind_(kind) {}
    jet::Status Append(const void* data, size_t size) override {
      const size_t now = size < left_ ? size : left_;
      jet::Status s = file_->Append(data, now);
      left_ -= now;
      if (!s.ok()) return s;
      if (now < size) return jet::Status::Error(kind_, "injected append failure");
      return s;
    }
    jet::Status WriteAt(uint64_t offset, const void* data, size_t size) override {
      return file_->WriteAt(offset, data, size);
    }
    jet::Status Sync() override { return file_->Sync(); }
    jet::Status Close() override { return file_->Close(); }

   private:
    std::unique_ptr<jet::WritableFile> file_;
    size_t left_;
    jet::ErrorKind kind_;
  };

  jet::Status Fail(const std::string& what) const {
    return jet::Status::Error(kind, "injected failure: " + what);
  }
};

}  // namespace repair_test
