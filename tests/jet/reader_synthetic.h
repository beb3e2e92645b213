// A database file built by hand in memory, for tests of the reader's decoders: a valid
// page 0 and whatever pages a test writes, opened through PageFile::OpenMemory.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "jet/base/byte_order.h"
#include "jet/file/header.h"
#include "jet/file/page_file.h"

namespace reader_test {

using Bytes = std::vector<uint8_t>;

inline Bytes B(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Le16(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }
inline Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

struct SlotRow {
  Bytes bytes;
  uint16_t flags = 0;  // kSlotDeleted / kSlotOverflow
};

class SyntheticFile {
 public:
  SyntheticFile(jet::Version version, uint32_t pages, uint16_t code_page = 1252)
      : format_(jet::FormatFor(version)), bytes_(size_t(pages) * format_.page_size, 0) {
    uint8_t* p = bytes_.data();
    p[1] = 1;
    std::memcpy(p + 4, jet::IsAce(version) ? "Standard ACE DB" : "Standard Jet DB", 15);
    p[jet::kHeaderVersionOffset] = static_cast<uint8_t>(version);
    jet::StoreLe16(p + jet::kHeaderCodePageOffset, code_page);
    jet::ApplyHeaderMask(version, p, format_.page_size);
  }

  const jet::Format& format() const { return format_; }
  uint8_t* page(uint32_t n) { return bytes_.data() + size_t(n) * format_.page_size; }
  Bytes& bytes() { return bytes_; }

  // Writes a data page owned by `owner` holding `rows` in slot order, packed down
  // from the end of the page, with a correct free-space value.
  void SetDataPage(uint32_t n, uint32_t owner, const std::vector<SlotRow>& rows) {
    uint8_t* p = page(n);
    std::memset(p, 0, format_.page_size);
    p[0] = jet::kPageData;
    p[1] = 1;
    jet::StoreLe32(p + 4, owner);
    jet::StoreLe16(p + format_.data_row_count, static_cast<uint16_t>(rows.size()));
    uint32_t end = format_.page_size;
    for (size_t i = 0; i < rows.size(); ++i) {
      const uint32_t start = end - static_cast<uint32_t>(rows[i].bytes.size());
      if (!rows[i].bytes.empty()) std::memcpy(p + start, rows[i].bytes.data(), rows[i].bytes.size());
      jet::StoreLe16(p + format_.data_header_size + 2 * i, static_cast<uint16_t>(start | rows[i].flags));
      end = start;
    }
    jet::StoreLe16(p + 2, static_cast<uint16_t>(end - format_.data_header_size - 2 * rows.size()));
  }

  std::unique_ptr<jet::PageFile> Open() {
    std::unique_ptr<jet::PageFile> file;
    jet::Status s = jet::PageFile::OpenMemory(bytes_.data(), bytes_.size(), &file);
    return s.ok() ? std::move(file) : nullptr;
  }

 private:
  jet::Format format_;
  Bytes bytes_;
};

}  // namespace reader_test
