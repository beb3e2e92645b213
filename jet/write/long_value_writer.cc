// LongValueWriter: packing long values into LVAL rows and pages.
#include "jet/write/long_value_writer.h"

#include <algorithm>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/file/data_page.h"

namespace jet {
namespace {

// A chain's first row goes on the open page only when it would carry at least this
// many bytes; below that a fresh page wastes less than a tiny extra row.
constexpr size_t kMinChainChunk = 256;
constexpr size_t kChainPointerSize = 4;

void FillHeader(uint8_t kind, uint32_t length, RowId first, LongValueField* header) {
  header->fill(0);
  ByteWriter w(*header);
  w.Le32(0, (uint32_t(kind) << 24) | length);
  w.Le32(4, first.ToPointer());
}

// OpenRoom() promised the room; failing here is a bug in this file.
Status RowDidNotFit() {
  return Status::Error(ErrorKind::kInvalidArgument, "an LVAL row did not fit where planned");
}

}  // namespace

LongValueWriter::LongValueWriter(PageSink* sink)
    : sink_(sink), format_(sink->format()), builder_(format_, kLongValueOwner) {}

size_t LongValueWriter::MaxRowSize(const Format& format) {
  // Access fills J3 pages completely but leaves 4 bytes on J4 pages.
  const size_t full = DataPageBuilder::MaxRowSize(format);
  return IsJet3(format.version) ? full : full - 4;
}

size_t LongValueWriter::OpenRoom() const {
  if (!page_open_ || builder_.row_count() >= kMaxRowsPerDataPage) return 0;
  const size_t free = builder_.free_space();
  return free < 2 ? 0 : std::min(free - 2, MaxRowSize(format_));
}

Status LongValueWriter::StartNewPage() {
  if (page_open_) {
    Status s = Flush();
    if (!s.ok()) return s;
  }
  uint32_t number;
  if (reserved_) {
    number = *reserved_;
    reserved_.reset();
  } else {
    Status s = sink_->Allocate(&number);
    if (!s.ok()) return s;
  }
  builder_.Reset(kLongValueOwner);
  open_page_ = number;
  page_open_ = true;
  pages_.push_back(number);
  return Status::Ok();
}

Status LongValueWriter::OpenPage() { return page_open_ ? Status::Ok() : StartNewPage(); }

Status LongValueWriter::Flush() {
  if (!page_open_) return Status::Ok();
  page_open_ = false;
  return sink_->Write(open_page_, builder_.page());
}

Status LongValueWriter::Store(std::span<const uint8_t> value, LongValueField* header) {
  if (value.size() > kLongValueMaxLength)
    return Status::Error(ErrorKind::kInvalidArgument,
                         "a long value of " + std::to_string(value.size()) +
                             " bytes is longer than the format allows");
  const uint32_t length = static_cast<uint32_t>(value.size());
  if (length == 0) {
    FillHeader(kLongValueInline, 0, RowId{}, header);
    ++values_stored_;
    return Status::Ok();
  }

  const size_t max_row = MaxRowSize(format_);
  if (length <= max_row) {
    if (OpenRoom() < length) {
      Status s = StartNewPage();
      if (!s.ok()) return s;
    }
    const RowId at = NextRowId();
    if (!builder_.Add(value)) return RowDidNotFit();
    FillHeader(kLongValueSingle, length, at, header);
    ++values_stored_;
    return Status::Ok();
  }

  // Chain. The first row fills the open page's room when that carries enough.
  if (OpenRoom() < kChainPointerSize + kMinChainChunk) {
    Status s = StartNewPage();
    if (!s.ok()) return s;
  }
  const RowId first = NextRowId();
  std::vector<uint8_t> row;
  size_t done = 0;
  while (done < value.size()) {
    const size_t chunk = std::min(value.size() - done, OpenRoom() - kChainPointerSize);
    const bool last = done + chunk == value.size();
    // A row fills its page's room unless it is the last, so the next row always
    // starts a new page: allocate it now to know where this row points.
    RowId next{};
    if (!last) {
      uint32_t number;
      Status s = sink_->Allocate(&number);
      if (!s.ok()) return s;
      reserved_ = number;
      next = RowId{number, 0};
    }
    row.assign(kChainPointerSize + chunk, 0);
    ByteWriter w(row);
    w.Le32(0, last ? 0 : next.ToPointer());
    w.Bytes(kChainPointerSize, value.data() + done, chunk);
    if (!builder_.Add(row)) return RowDidNotFit();
    done += chunk;
    if (!last) {
      Status s = StartNewPage();
      if (!s.ok()) return s;
    }
  }
  FillHeader(kLongValueChain, length, first, header);
  ++values_stored_;
  return Status::Ok();
}

}  // namespace jet
