// IndexBuilder: bottom-up B-tree construction, one open page per level.
#include "jet/write/index_builder.h"

#include <algorithm>
#include <string>
#include <utility>

#include "jet/base/byte_writer.h"

namespace jet {
namespace {

constexpr size_t kRowPointerSize = 4;   // data page (3) + row (1)
constexpr size_t kChildPointerSize = 4;

size_t CommonPrefix(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  const size_t n = std::min(a.size(), b.size());
  size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// A node entry: the child's last leaf entry, then the child page big-endian.
std::vector<uint8_t> NodeEntry(const std::vector<uint8_t>& summary, uint32_t child) {
  std::vector<uint8_t> entry = summary;
  entry.resize(summary.size() + kChildPointerSize);
  ByteWriter(entry).Be32(summary.size(), child);
  return entry;
}

}  // namespace

// One level of the tree: the open page and, on node levels, the newest child, which
// becomes the page's tail if no further child fits beside it.
struct IndexBuilder::Level {
  bool node = false;
  bool has_page = false;
  uint32_t page = 0;  // number of the open page
  uint32_t prev = 0;  // page before it on this level, 0 for the first
  std::vector<std::vector<uint8_t>> entries;  // complete entries on the open page
  size_t total = 0;   // sum of entries' lengths
  // Invariant: with entries non-empty, prefix = min over entries of (common prefix with
  // entries[0], length - protected tail bytes, prefix field maximum).
  size_t prefix = 0;
  bool has_pending = false;
  std::vector<uint8_t> pending_entry;
  std::vector<uint8_t> pending_summary;
  uint32_t pending_child = 0;
};

IndexBuilder::IndexBuilder(PageSink* sink, uint32_t owner)
    : sink_(sink), format_(sink->format()), owner_(owner), page_(format_.page_size) {}

IndexBuilder::~IndexBuilder() = default;

size_t IndexBuilder::EntryAreaSize(const Format& format) {
  const size_t bitmap_bits = size_t(format.index_entries - format.index_bitmap) * 8;
  // The end of the last entry needs its own bit, so the area stops one short of it.
  return std::min<size_t>(format.page_size - format.index_entries, bitmap_bits - 1);
}

size_t IndexBuilder::MaxKeySize(const Format& format) {
  return EntryAreaSize(format) - kRowPointerSize - kChildPointerSize;
}

Status IndexBuilder::AllocatePage(uint32_t* number) {
  Status s = sink_->Allocate(number);
  if (s.ok()) pages_.push_back(*number);
  return s;
}

Status IndexBuilder::Add(std::span<const uint8_t> key, RowId row) {
  if (finished_)
    return Status::Error(ErrorKind::kInvalidArgument, "index entry added after Finish");
  if (key.size() > MaxKeySize(format_))
    return Status::Error(ErrorKind::kInvalidArgument,
                         "an index key of " + std::to_string(key.size()) +
                             " bytes is longer than a page allows");
  if (row.page > kMaxRowPointerPage)
    return Status::Error(ErrorKind::kInvalidArgument, "row page does not fit in 3 bytes");
  if (entry_count_ > 0) {
    const bool key_less = std::lexicographical_compare(key.begin(), key.end(),
                                                       last_key_.begin(), last_key_.end());
    const bool key_equal = std::equal(key.begin(), key.end(), last_key_.begin(), last_key_.end());
    if (key_less || (key_equal && !(last_row_ < row)))
      return Status::Error(ErrorKind::kInvalidArgument,
                           "index entries out of order at entry " +
                               std::to_string(entry_count_));
    if (!key_equal) ++distinct_keys_;
  } else {
    distinct_keys_ = 1;
  }
  last_key_.assign(key.begin(), key.end());
  last_row_ = row;
  ++entry_count_;

  std::vector<uint8_t> entry;
  if (!spare_entries_.empty()) {
    entry = std::move(spare_entries_.back());
    spare_entries_.pop_back();
  }
  entry.resize(key.size() + kRowPointerSize);
  ByteWriter w(entry);
  w.Bytes(0, key);
  w.Be24(key.size(), row.page);
  w.U8(key.size() + 3, row.row);
  // A leaf page's summary is its last entry, so a leaf entry carries none.
  return AddToLevel(0, std::move(entry), {}, 0);
}

Status IndexBuilder::AddToLevel(size_t index, std::vector<uint8_t> entry,
                                std::vector<uint8_t> summary, uint32_t child) {
  if (index == levels_.size()) {
    levels_.push_back(std::make_unique<Level>());
    levels_.back()->node = index > 0;
  }
  Level& level = *levels_[index];
  if (!level.has_page) {
    Status s = AllocatePage(&level.page);
    if (!s.ok()) return s;
    level.has_page = true;
  }

  // On node levels the entry that may go on the page is the pending child's, and the
  // new child waits in its place.
  if (level.node) {
    if (!level.has_pending) {
      level.pending_entry = std::move(entry);
      level.pending_summary = std::move(summary);
      level.pending_child = child;
      level.has_pending = true;
      return Status::Ok();
    }
    std::swap(entry, level.pending_entry);
    std::swap(summary, level.pending_summary);
    std::swap(child, level.pending_child);
  }

  const size_t protected_tail = level.node ? 1 + kChildPointerSize : 1;
  const size_t prefix_max = IsJet3(format_.version) ? 0xFF : 0xFFFF;
  const size_t cap = std::min(entry.size() - protected_tail, prefix_max);
  const size_t n = level.entries.size();
  const size_t prefix =
      n == 0 ? cap : std::min({level.prefix, cap, CommonPrefix(level.entries[0], entry)});
  const size_t stored = level.total + entry.size() - n * prefix;
  if (n > 0 && stored > EntryAreaSize(format_)) {
    // Page full. Leaves push up their last entry; node pages end with the pending
    // child as tail (it is `entry` now), which also gives the page's summary.
    uint32_t next;
    Status s = AllocatePage(&next);
    if (!s.ok()) return s;
    std::vector<uint8_t> page_summary = level.node ? summary : level.entries.back();
    s = WritePage(level, next, level.node ? child : 0);
    if (!s.ok()) return s;
    const uint32_t written = level.page;
    level.prev = level.page;
    level.page = next;
    for (std::vector<uint8_t>& written_entry : level.entries) spare_entries_.push_back(std::move(written_entry));
    level.entries.clear();
    level.total = 0;
    // A node page starts with just the newest child, which the swap above left
    // pending; a leaf page starts with the entry that did not fit.
    if (!level.node) {
      level.entries.push_back(std::move(entry));
      level.total = level.entries.back().size();
      level.prefix = cap;
    }
    std::vector<uint8_t> up = NodeEntry(page_summary, written);
    return AddToLevel(index + 1, std::move(up), std::move(page_summary), written);
  }
  level.entries.push_back(std::move(entry));
  level.total += level.entries.back().size();
  level.prefix = prefix;
  return Status::Ok();
}

Status IndexBuilder::WritePage(Level& level, uint32_t next_page, uint32_t tail_page) {
  std::fill(page_.begin(), page_.end(), 0);
  const size_t prefix = level.entries.size() > 1 ? level.prefix : 0;
  ByteWriter w(page_);
  w.U8(0, level.node ? kPageIndexNode : kPageIndexLeaf);
  w.U8(1, 0x01);
  w.Le32(kPageOwnerOffset, owner_);
  w.Le32(format_.index_prev_page, level.prev);
  w.Le32(format_.index_next_page, next_page);
  w.Le32(format_.index_tail_page, tail_page);
  if (IsJet3(format_.version))
    w.U8(format_.index_prefix_length, static_cast<uint8_t>(prefix));
  else
    w.Le16(format_.index_prefix_length, static_cast<uint16_t>(prefix));
  w.U8(format_.index_node_flag, level.node ? 1 : 0);
  size_t at = 0;
  for (size_t i = 0; i < level.entries.size(); ++i) {
    const std::vector<uint8_t>& e = level.entries[i];
    const size_t skip = i == 0 ? 0 : prefix;
    w.Bytes(format_.index_entries + at, e.data() + skip, e.size() - skip);
    at += e.size() - skip;
    w.Or8(format_.index_bitmap + at / 8, uint8_t(1u << (at % 8)));
  }
  w.Le16(kPageFreeSpaceOffset, static_cast<uint16_t>(format_.page_size - format_.index_entries - at));
  return sink_->Write(level.page, page_);
}

Status IndexBuilder::Finish(IndexBuildResult* result) {
  if (finished_) return Status::Error(ErrorKind::kInvalidArgument, "index finished twice");
  finished_ = true;
  uint32_t root = 0;
  if (levels_.empty()) {
    Level empty;
    Status s = AllocatePage(&empty.page);
    if (!s.ok()) return s;
    s = WritePage(empty, 0, 0);
    if (!s.ok()) return s;
    root = empty.page;
    result->levels = 1;
  }
  for (size_t i = 0; i < levels_.size(); ++i) {
    Level& level = *levels_[i];
    std::vector<uint8_t> summary;
    uint32_t tail = 0;
    if (level.node) {
      // The pending child is the rightmost: the tail, unless the page has no entry.
      summary = level.pending_summary;
      if (level.entries.empty()) {
        level.entries.push_back(level.pending_entry);
        level.prefix = 0;
      } else {
        tail = level.pending_child;
      }
    } else {
      summary = level.entries.back();
    }
    Status s = WritePage(level, 0, tail);
    if (!s.ok()) return s;
    if (i + 1 == levels_.size()) {
      root = level.page;
      result->levels = uint32_t(levels_.size());
      break;
    }
    std::vector<uint8_t> up = NodeEntry(summary, level.page);
    s = AddToLevel(i + 1, std::move(up), std::move(summary), level.page);
    if (!s.ok()) return s;
  }
  result->root_page = root;
  result->entry_count = entry_count_;
  result->distinct_keys = distinct_keys_;
  result->pages = pages_;
  return Status::Ok();
}

}  // namespace jet
