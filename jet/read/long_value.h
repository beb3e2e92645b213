// Long values: MEMO and OLE column data, which a row holds as a 12-byte header
// followed (inline kind only) by the data:
//
//   0  4  bits 0-29 length in bytes; bits 30-31 kind: 0x80.. inline, 0x40.. one LVAL
//         row, 0x00.. a chain of LVAL rows
//   4  4  row pointer (page << 8 | row) of the first LVAL row; 0 when inline
//   8  4  unknown (0)
//   12 n  inline kind: the value itself
//
// A single LVAL row is the value; a chain row is [4-byte pointer to the next row]
// [chunk], and the chunks concatenate to the value. LVAL rows live on data pages whose
// owner field is "LVAL".
//
// Jet keeps no checksum, so a value is judged by its structure: besides the chain,
// lengths and page headers, a row is damaged when its page's second half is zeros
// where the row places bytes (TornSecondHalf, jet/file/data_page.h): a write that was
// torn halfway. Real values end in zeros too, but never so that the page's zeros begin
// exactly at its half. A value stored in one LVAL row is that row: a row holding more
// or fewer bytes than the header's length is damaged (the length, or the row).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "jet/file/format.h"
#include "jet/file/page_runs.h"
#include "jet/base/status.h"

namespace jet {

class PageFile;

inline constexpr size_t kLongValueHeaderSize = 12;
inline constexpr uint8_t kLongValueInline = 0x80;
inline constexpr uint8_t kLongValueSingle = 0x40;
inline constexpr uint8_t kLongValueChain = 0x00;

struct LongValueHeader {
  uint32_t length = 0;      // bytes of the whole value
  uint8_t kind = 0;         // kLongValueInline, kLongValueSingle or kLongValueChain
  uint32_t first_row = 0;   // row pointer; 0 for inline values
};

// Decodes the header at the start of a MEMO/OLE field. kDamaged when the field is
// shorter than 12 bytes or names an unknown kind.
Status ParseLongValueHeader(const uint8_t* field, size_t size, LongValueHeader* header);

// Reads long values of one file. Holds one page buffer, reused for every value.
class LongValueReader {
 public:
  explicit LongValueReader(const PageFile& file);

  // Reads the value of a MEMO/OLE field (header included) into `out`. A chain is
  // followed at most page_count * 255 rows and never through the same row twice.
  // kDamaged when the chain is broken (bad pointer, loop, wrong page, short data, a
  // row on a torn page);
  // `out` then holds the bytes read before the break, and `rows` (when given) the
  // LVAL rows the value occupies, in order.
  Status Read(const uint8_t* field, size_t size, std::vector<uint8_t>* out,
              std::vector<RowId>* rows = nullptr);

  // Called with each page the reader turns to (number and bytes) before its rows are
  // used: a caller that also looks at the pages themselves (the check) does so then
  // instead of reading them again.
  void set_on_page_load(std::function<void(uint32_t number, const uint8_t* page)> on_page_load) {
    on_page_load_ = std::move(on_page_load);
  }

 private:
  // Points *data/*size at LVAL row `id` in page_ (loaded on demand).
  Status LoadRow(RowId id, const uint8_t** data, size_t* size);
  const PageFile& file_;
  // Values written one after another lie on consecutive pages, as a compaction
  // writes them.
  PageReadAhead pages_;
  const uint8_t* page_ = nullptr;  // the loaded page, held by pages_
  uint32_t loaded_page_ = 0;  // 0: nothing loaded (page 0 is never an LVAL page)
  bool loaded_torn_ = false;  // TornSecondHalf of the loaded page
  std::function<void(uint32_t, const uint8_t*)> on_page_load_;  // may be empty
};

}  // namespace jet
