// PageFile: pages of a database file read at their offsets, or of a buffer in memory.
// The file is read, not mapped: a mapping turns a file that another program shortens
// into SIGBUS, and large sequential preads run at disk speed with a fixed, small
// memory footprint.
#include "jet/file/page_file.h"

#include <algorithm>
#include <cstring>

#include "jet/base/read_only_file.h"
#include "jet/file/rc4.h"

namespace jet {
namespace {

bool IsAllZero(const uint8_t* p, size_t size) {
  for (size_t i = 0; i < size; ++i)
    if (p[i] != 0) return false;
  return true;
}

// What both implementations share: the decoded header and the page arithmetic.
class PageFileBase : public PageFile {
 public:
  const Header& header() const override { return header_; }
  uint32_t page_count() const override { return page_count_; }
  uint64_t file_size() const override { return file_size_; }
  bool has_partial_page() const override { return partial_page_; }

  Status ReadPage(uint32_t number, uint8_t* out) const override {
    if (number >= page_count_)
      return Status::Error(ErrorKind::kDamaged, "page " + std::to_string(number) +
                                                    " is past the end of the file (" +
                                                    std::to_string(page_count_) + " pages)");
    Status s = ReadRaw(uint64_t(number) * page_size_, out, page_size_);
    if (!s.ok()) return s;
    DecodePage(number, out);
    return Status::Ok();
  }

  Status ReadPages(uint32_t first, uint32_t count, uint8_t* out) const override {
    if (first >= page_count_ || count > page_count_ - first)
      return Status::Error(ErrorKind::kDamaged, "pages " + std::to_string(first) + " to " +
                                                    std::to_string(uint64_t(first) + count - 1) +
                                                    " go past the end of the file (" +
                                                    std::to_string(page_count_) + " pages)");
    Status s = ReadRaw(uint64_t(first) * page_size_, out, size_t(count) * page_size_);
    if (!s.ok()) return s;
    for (uint32_t i = 0; i < count; ++i) DecodePage(first + i, out + size_t(i) * page_size_);
    return Status::Ok();
  }

 protected:
  // Sets up the header and page count from the file's first bytes and its size.
  // `given` (when not null) is taken instead of decoding page 0.
  Status Init(const uint8_t* first, size_t first_size, uint64_t file_size, const Header* given) {
    if (given != nullptr) {
      header_ = *given;
    } else {
      Status s = DecodeHeader(first, first_size, &header_);
      if (!s.ok()) return s;
    }
    page_size_ = header_.format().page_size;
    file_size_ = file_size;
    uint64_t pages = file_size / page_size_;
    if (pages > kMaxRowPointerPage)
      return Status::Error(ErrorKind::kUnsupportedFormat, "file is larger than a Jet file can be");
    page_count_ = static_cast<uint32_t>(pages);
    partial_page_ = (file_size % page_size_) != 0;
    return Status::Ok();
  }

  virtual Status ReadRaw(uint64_t offset, uint8_t* out, size_t size) const = 0;

 private:
  // Decodes page `number`, as read from the file, in place.
  void DecodePage(uint32_t number, uint8_t* page) const {
    // Pages an encoding engine never wrote (free space at the end of a file) are
    // all zeros on disk, not encoded zeros; decoding them would yield key stream.
    if (header_.db_key != 0 && !IsAllZero(page, page_size_))
      ApplyPageCipher(header_.db_key, number, page, page_size_);
  }

  Header header_;
  uint32_t page_size_ = 0;
  uint32_t page_count_ = 0;
  uint64_t file_size_ = 0;
  bool partial_page_ = false;
};

class MemoryPageFile final : public PageFileBase {
 public:
  MemoryPageFile(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  Status Open() { return Init(bytes_, size_, size_, nullptr); }

 protected:
  Status ReadRaw(uint64_t offset, uint8_t* out, size_t size) const override {
    std::memcpy(out, bytes_ + offset, size);  // offset + size <= page_count * page_size
    return Status::Ok();
  }

 private:
  const uint8_t* bytes_;
  size_t size_;
};

// A file on disk, read page by page through ReadOnlyFile.
class DiskPageFile final : public PageFileBase {
 public:
  explicit DiskPageFile(std::unique_ptr<ReadOnlyFile> file) : file_(std::move(file)) {}

  Status Open(const Header* given) {
    uint8_t first[4096];
    size_t want = std::min<uint64_t>(sizeof first, file_->size());
    Status s = ReadRaw(0, first, want);
    if (!s.ok()) return s;
    return Init(first, want, file_->size(), given);
  }

 protected:
  Status ReadRaw(uint64_t offset, uint8_t* out, size_t size) const override {
    return file_->ReadAt(offset, out, size);
  }

 private:
  std::unique_ptr<ReadOnlyFile> file_;
};

}  // namespace

Status PageFile::ReadPages(uint32_t first, uint32_t count, uint8_t* out) const {
  for (uint32_t i = 0; i < count; ++i) {
    Status s = ReadPage(first + i, out + size_t(i) * page_size());
    if (!s.ok()) return s;
  }
  return Status::Ok();
}

namespace {

Status OpenDisk(const std::string& path, const Header* given, std::unique_ptr<PageFile>* file) {
  std::unique_ptr<ReadOnlyFile> disk_file;
  Status s = ReadOnlyFile::Open(path, &disk_file);
  if (!s.ok()) {
    if (s.kind() == ErrorKind::kNotFound) return Status::Error(ErrorKind::kNotFound, path + " does not exist");
    if (s.kind() == ErrorKind::kInvalidArgument) return Status::Error(ErrorKind::kNotJetDatabase, s.detail());
    return s;
  }
  auto disk = std::make_unique<DiskPageFile>(std::move(disk_file));
  s = disk->Open(given);
  if (!s.ok()) return s;
  *file = std::move(disk);
  return Status::Ok();
}

}  // namespace

Status PageFile::Open(const std::string& path, std::unique_ptr<PageFile>* file) {
  return OpenDisk(path, nullptr, file);
}

Status PageFile::OpenWithHeader(const std::string& path, const Header& header,
                                std::unique_ptr<PageFile>* file) {
  return OpenDisk(path, &header, file);
}

Status PageFile::OpenMemory(const uint8_t* bytes, size_t size, std::unique_ptr<PageFile>* file) {
  auto memory = std::make_unique<MemoryPageFile>(bytes, size);
  Status s = memory->Open();
  if (!s.ok()) return s;
  *file = std::move(memory);
  return Status::Ok();
}

}  // namespace jet
