// PageWriter: page-numbered writes into a new file, with page encoding and a final
// completeness check.
#include "jet/file/page_writer.h"

#include <algorithm>
#include <string>
#include <utility>

#include "jet/file/rc4.h"

namespace jet {

uint32_t MaxPageCount(const Format& format) {
  const uint64_t limit = IsJet3(format.version) ? (uint64_t(1) << 30) : (uint64_t(1) << 31);
  return static_cast<uint32_t>(limit / format.page_size);
}

Status PageWriter::Create(Env* env, const std::string& path, const Format& format,
                          uint32_t db_key, unsigned mode, std::unique_ptr<PageWriter>* writer) {
  std::unique_ptr<WritableFile> file;
  Status s = env->NewWritableFile(path, mode, &file);
  if (!s.ok()) return s;
  writer->reset(new PageWriter(env, path, format, db_key, std::move(file)));
  return Status::Ok();
}

PageWriter::PageWriter(Env* env, std::string path, const Format& format, uint32_t db_key,
                       std::unique_ptr<WritableFile> file)
    : env_(env),
      path_(std::move(path)),
      format_(format),
      db_key_(db_key),
      max_pages_(MaxPageCount(format)),
      file_(std::move(file)),
      held_(size_t(kHeldPages) * format.page_size) {}

PageWriter::~PageWriter() {
  if (!finished_) Abandon();
}

Status PageWriter::Allocate(uint32_t* page_number) {
  if (!failure_.ok()) return failure_;
  if (finished_ || file_ == nullptr)
    return Status::Error(ErrorKind::kInvalidArgument, "page allocated after the file was closed");
  if (page_count_ >= max_pages_)
    return Status::Error(ErrorKind::kNoSpace,
                         "the database would pass the format's size limit of " +
                             std::to_string(max_pages_) + " pages");
  *page_number = page_count_++;
  written_.push_back(false);
  return Status::Ok();
}

Status PageWriter::Write(uint32_t page_number, std::span<const uint8_t> page) {
  if (!failure_.ok()) return failure_;
  if (finished_ || file_ == nullptr)
    return Status::Error(ErrorKind::kInvalidArgument, "page written after the file was closed");
  if (page.size() != format_.page_size)
    return Status::Error(ErrorKind::kInvalidArgument,
                         "page " + std::to_string(page_number) + " image has " +
                             std::to_string(page.size()) + " bytes, not " +
                             std::to_string(format_.page_size));
  if (page_number >= page_count_)
    return Status::Error(ErrorKind::kInvalidArgument,
                         "page " + std::to_string(page_number) + " was never allocated");
  if (written_[page_number])
    return Status::Error(ErrorKind::kInvalidArgument,
                         "page " + std::to_string(page_number) + " written twice");

  if (held_count_ > 0 && (page_number != held_first_ + held_count_ || held_count_ == kHeldPages)) {
    Status s = WriteHeld();
    if (!s.ok()) return s;
  }
  if (held_count_ == 0) held_first_ = page_number;
  uint8_t* held = held_.data() + size_t(held_count_) * format_.page_size;
  std::copy(page.begin(), page.end(), held);
  if (db_key_ != 0 && page_number != 0) ApplyPageCipher(db_key_, page_number, held, page.size());
  ++held_count_;
  written_[page_number] = true;
  return Status::Ok();
}

Status PageWriter::WriteHeld() {
  if (held_count_ == 0) return Status::Ok();
  Status s = file_->WriteAt(uint64_t(held_first_) * format_.page_size, held_.data(),
                            size_t(held_count_) * format_.page_size);
  held_count_ = 0;
  if (!s.ok()) failure_ = s;
  return s;
}

Status PageWriter::Finish() {
  if (!failure_.ok()) return failure_;
  if (finished_ || file_ == nullptr)
    return Status::Error(ErrorKind::kInvalidArgument, "file finished twice");
  auto missing = std::find(written_.begin(), written_.end(), false);
  if (missing != written_.end())
    return Status::Error(ErrorKind::kInvalidArgument,
                         "page " + std::to_string(missing - written_.begin()) +
                             " was allocated but never written");
  Status s = WriteHeld();
  if (s.ok()) s = file_->Sync();
  if (s.ok()) s = file_->Close();
  if (!s.ok()) {
    failure_ = s;
    return s;
  }
  file_.reset();
  finished_ = true;
  return Status::Ok();
}

void PageWriter::Abandon() {
  if (finished_) return;
  held_count_ = 0;
  if (file_ != nullptr) {
    file_->Close();  // the file goes away; a close error changes nothing
    file_.reset();
    env_->RemoveFile(path_);
  }
  finished_ = true;
  if (failure_.ok())
    failure_ = Status::Error(ErrorKind::kInvalidArgument, "the file was abandoned");
}

}  // namespace jet
