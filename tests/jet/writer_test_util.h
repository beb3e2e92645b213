// Helpers for the page-writer tests: a PageSink that keeps pages in memory, a
// whole database image built from them so the engine's own readers can decode what
// the writers produced, and a file over it that counts the reads reaching it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/file/header.h"
#include "jet/file/page_file.h"
#include "jet/file/page_writer.h"
#include "jet/base/status.h"

namespace writer_test {

class MemorySink final : public jet::PageSink {
 public:
  // Pages 0 and 1 are reserved for the header and the global map, as in a real file.
  explicit MemorySink(const jet::Format& format, uint32_t first_free_page = 2)
      : format_(format), next_(first_free_page) {}

  const jet::Format& format() const override { return format_; }
  jet::Status Allocate(uint32_t* page_number) override {
    *page_number = next_++;
    allocated_.push_back(*page_number);
    return jet::Status::Ok();
  }
  jet::Status Write(uint32_t page_number, std::span<const uint8_t> page) override {
    if (page.size() != format_.page_size || page_number >= next_ || pages_.count(page_number))
      return jet::Status::Error(jet::ErrorKind::kInvalidArgument, "bad write");
    pages_[page_number].assign(page.begin(), page.end());
    return jet::Status::Ok();
  }

  uint32_t page_count() const { return next_; }
  const std::map<uint32_t, std::vector<uint8_t>>& pages() const { return pages_; }
  const std::vector<uint32_t>& allocated() const { return allocated_; }
  const std::vector<uint8_t>& page(uint32_t n) const { return pages_.at(n); }

 private:
  jet::Format format_;
  uint32_t next_;
  std::vector<uint32_t> allocated_;
  std::map<uint32_t, std::vector<uint8_t>> pages_;
};

// A page 0 that DecodeHeader accepts: engine name, version, code page 1252, `db_key`.
inline std::vector<uint8_t> MakeHeaderPage(const jet::Format& format, uint32_t db_key = 0) {
  std::vector<uint8_t> page(format.page_size, 0);
  page[1] = 0x01;
  const char* name = jet::IsAce(format.version) ? "Standard ACE DB" : "Standard Jet DB";
  std::memcpy(page.data() + 4, name, 15);
  page[jet::kHeaderVersionOffset] = static_cast<uint8_t>(format.version);
  page[jet::kHeaderCodePageOffset] = 0xE4;
  page[jet::kHeaderCodePageOffset + 1] = 0x04;
  for (int i = 0; i < 4; ++i) page[jet::kHeaderDbKeyOffset + i] = uint8_t(db_key >> (8 * i));
  jet::ApplyHeaderMask(format.version, page.data(), page.size());
  return page;
}

// The pages of `sink` (plus any `extra` pages) as one file image; gaps are zero.
inline std::vector<uint8_t> MakeImage(const MemorySink& sink,
                                      const std::map<uint32_t, std::vector<uint8_t>>& extra = {}) {
  const jet::Format& f = sink.format();
  uint32_t count = sink.page_count();
  for (const auto& [n, bytes] : extra) count = std::max(count, n + 1);
  std::vector<uint8_t> image(size_t(count) * f.page_size, 0);
  std::vector<uint8_t> header = MakeHeaderPage(f);
  std::memcpy(image.data(), header.data(), header.size());
  for (const auto* pages : {&sink.pages(), &extra})
    for (const auto& [n, bytes] : *pages)
      std::memcpy(image.data() + size_t(n) * f.page_size, bytes.data(), bytes.size());
  return image;
}

inline std::unique_ptr<jet::PageFile> OpenImage(const std::vector<uint8_t>& image) {
  std::unique_ptr<jet::PageFile> file;
  jet::Status s = jet::PageFile::OpenMemory(image.data(), image.size(), &file);
  return s.ok() ? std::move(file) : nullptr;
}

inline const jet::Format& Jet3() { return jet::FormatFor(jet::Version::kJet3); }
inline const jet::Format& Jet4() { return jet::FormatFor(jet::Version::kJet4); }

inline std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

// A file over another that cannot read page `bad` (alone or in a run) and counts the
// calls that reach it.
class FlakyFile final : public jet::PageFile {
 public:
  FlakyFile(const jet::PageFile& base, uint32_t bad) : base_(base), bad_(bad) {}
  const jet::Header& header() const override { return base_.header(); }
  uint32_t page_count() const override { return base_.page_count(); }
  uint64_t file_size() const override { return base_.file_size(); }
  bool has_partial_page() const override { return false; }
  jet::Status ReadPage(uint32_t number, uint8_t* out) const override {
    ++calls;
    ++pages;
    if (number == bad_) return jet::Status::Error(jet::ErrorKind::kIoError, "bad page");
    return base_.ReadPage(number, out);
  }
  jet::Status ReadPages(uint32_t first, uint32_t count, uint8_t* out) const override {
    ++calls;
    pages += count;
    if (bad_ >= first && bad_ - first < count) return jet::Status::Error(jet::ErrorKind::kIoError, "bad run");
    return base_.ReadPages(first, count, out);
  }
  mutable int calls = 0;
  mutable uint32_t pages = 0;  // pages asked for, in runs or alone

 private:
  const jet::PageFile& base_;
  uint32_t bad_;
};

}  // namespace writer_test
