// Overflow rows: following a pointer, hop by hop, to the row's bytes.
#include "jet/read/overflow_row.h"

#include <cstring>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/page_file.h"

namespace jet {

std::string OverflowFailure::Reason() const {
  switch (fault) {
    case OverflowFault::kNone: return "";
    case OverflowFault::kShortPointer: return "overflow row shorter than its pointer";
    case OverflowFault::kOutsideFile: return "overflow pointer outside the file";
    case OverflowFault::kUnreadable:
    case OverflowFault::kBadTarget: return detail;
    case OverflowFault::kForeignPage: return "the target page belongs to another table";
    case OverflowFault::kChainTooLong:
      return "overflow rows form a chain longer than " + std::to_string(kMaxOverflowHops);
  }
  return "";
}

std::string OverflowFailure::Describe() const {
  if (fault == OverflowFault::kOutsideFile)
    return "overflow pointer to page " + std::to_string(target.page) + " outside the file";
  if (!has_target) return Reason();
  return "overflow target " + std::to_string(target.page) + ":" + std::to_string(target.row) + ": " + Reason();
}

OverflowFollower::OverflowFollower(const PageFile& file, uint32_t table_page)
    : file_(file), table_page_(table_page), page_(file.page_size()) {}

Status OverflowFollower::Fail(OverflowFault fault, const RowId* target, ErrorKind kind, std::string detail) {
  failure_ = OverflowFailure();
  failure_.fault = fault;
  if (target != nullptr) {
    failure_.has_target = true;
    failure_.target = *target;
  }
  failure_.detail = std::move(detail);
  return Status::Error(kind, failure_.Describe());
}

Status OverflowFollower::Follow(const uint8_t* row, size_t size, OverflowTarget* target) {
  failure_ = OverflowFailure();
  if (size < 4) return Fail(OverflowFault::kShortPointer, nullptr);
  // The pointer is copied out: the next hop reads into the page it came from.
  uint8_t pointer[4];
  std::memcpy(pointer, row, 4);
  const Format& format = file_.format();
  for (int hop = 0; hop < kMaxOverflowHops; ++hop) {
    const RowId at = RowId::FromPointer(LoadLe32(pointer));
    if (at.page == 0 || at.page >= file_.page_count()) return Fail(OverflowFault::kOutsideFile, &at);
    if (loaded_ != at.page) {
      loaded_ = 0;
      Status s = file_.ReadPage(at.page, page_.data());
      if (!s.ok()) return Fail(OverflowFault::kUnreadable, &at, s.kind(), s.detail());
      loaded_ = at.page;
    }
    DataPageHeader header;
    Status s = ParseDataPage(format, page_.data(), &header);
    if (!s.ok()) return Fail(OverflowFault::kBadTarget, &at, ErrorKind::kDamaged, s.detail());
    if (header.owner != table_page_) return Fail(OverflowFault::kForeignPage, &at);
    RowSlot slot;
    s = GetRowSlot(format, page_.data(), header, at.row, &slot);
    if (!s.ok()) return Fail(OverflowFault::kBadTarget, &at, ErrorKind::kDamaged, s.detail());
    if (!slot.overflow) {
      target->row = at;
      target->start = slot.start;
      target->bytes = page_.data() + slot.start;
      target->size = slot.size();
      return Status::Ok();
    }
    if (slot.size() < 4) return Fail(OverflowFault::kShortPointer, &at);
    std::memcpy(pointer, page_.data() + slot.start, 4);
  }
  return Fail(OverflowFault::kChainTooLong, nullptr);
}

}  // namespace jet
