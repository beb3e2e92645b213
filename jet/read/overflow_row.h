// Overflow rows: a live slot flagged 0x4000 (kSlotOverflow) holds no row, only a
// 4-byte row pointer (page << 8 | slot) to where the row's bytes are. Access writes
// one hop and marks the target slot deleted so that scans skip it. A target that is
// itself a pointer is followed on, up to kMaxOverflowHops pointers in all; a longer
// chain is a loop or damage. A target must be a well-formed row on a data page of
// the same table.
//
// OverflowFollower is the one place that follows them. Its callers act on a failure
// each in their own way: the table scan and the row fetcher fail with kDamaged, the
// check reports an "overflow-pointer" finding, the salvage drops the row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"

namespace jet {

class PageFile;

// Pointers followed from the overflow row to its bytes, at the most.
inline constexpr int kMaxOverflowHops = 4;

enum class OverflowFault : uint8_t {
  kNone,
  kShortPointer,  // the overflow row, or one met on the way, is shorter than a pointer
  kOutsideFile,   // a pointer names page 0 or a page past the end of the file
  kUnreadable,    // the target page cannot be read
  kBadTarget,     // the target is not a well-formed row of a data page
  kForeignPage,   // the target is on a data page of another table
  kChainTooLong,  // more than kMaxOverflowHops pointers: a loop, or damage
};

struct OverflowFailure {
  OverflowFault fault = OverflowFault::kNone;
  bool has_target = false;  // `target` is the row the follower was at
  RowId target;
  std::string detail;       // the page or slot reader's words (kUnreadable, kBadTarget)

  // What is wrong, without where ("overflow pointer outside the file").
  std::string Reason() const;
  // What is wrong and where ("overflow pointer to page 71 outside the file").
  std::string Describe() const;
};

// Where an overflow row's bytes are.
struct OverflowTarget {
  RowId row;                     // the row holding the bytes
  uint16_t start = 0;            // their offset in its page
  const uint8_t* bytes = nullptr;
  size_t size = 0;
};

class OverflowFollower {
 public:
  // Follows overflow rows of the table whose definition starts at `table_page`.
  OverflowFollower(const PageFile& file, uint32_t table_page);

  // Follows the overflow row whose stored bytes are `row` / `size`. On success
  // *target names the row's bytes, which stay valid until the next call. On failure
  // failure() says why; the status is kDamaged with failure().Describe() as detail
  // (a page that cannot be read keeps the read's own status kind).
  Status Follow(const uint8_t* row, size_t size, OverflowTarget* target);
  const OverflowFailure& failure() const { return failure_; }

  // The follower keeps the last target page it read; a caller that changes pages of
  // the file between calls must call Forget() first.
  void Forget() { loaded_ = 0; }

 private:
  Status Fail(OverflowFault fault, const RowId* target, ErrorKind kind = ErrorKind::kDamaged,
              std::string detail = std::string());

  const PageFile& file_;
  const uint32_t table_page_;
  std::vector<uint8_t> page_;
  uint32_t loaded_ = 0;  // the page in page_; 0: none (page 0 is never a data page)
  OverflowFailure failure_;
};

}  // namespace jet
