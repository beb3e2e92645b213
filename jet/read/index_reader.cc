// Index reader: page decoding and the tree walk.
#include "jet/read/index_reader.h"

#include <bit>

#include "jet/base/byte_order.h"
#include "jet/file/page_file.h"
#include "jet/file/page_runs.h"

namespace jet {
namespace {

constexpr int kMaxIndexDepth = 32;

Status Damaged(uint32_t page, const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "index page " + std::to_string(page) + ": " + detail);
}

class Walker {
 public:
  Walker(const PageFile& file, uint32_t owner, const IndexEntryVisitor& visit, IndexWalkStats* stats)
      : file_(file), owner_(owner), visit_(visit), stats_(stats),
        seen_(file.page_count(), false), page_(file.page_size()), levels_(kMaxIndexDepth) {}

  // Visits the subtree at `number`; *stop is set when the visitor asked to stop.
  // `bytes`: the page when the caller has read it already, else null.
  Status Walk(uint32_t number, int depth, bool* stop, const uint8_t* bytes = nullptr) {
    if (depth >= kMaxIndexDepth) return Damaged(number, "tree is deeper than 32 levels");
    if (number == 0 || number >= file_.page_count())
      return Damaged(number, "pointer is outside the file");
    if (seen_[number]) return Damaged(number, "reached twice (cycle in the tree)");
    seen_[number] = true;
    Status s;
    if (bytes == nullptr) {
      s = file_.ReadPage(number, page_.data());
      if (!s.ok()) return s;
      bytes = page_.data();
    }
    IndexPage& page = levels_[depth];
    s = DecodeIndexPage(file_.format(), bytes, &page);
    if (!s.ok()) return Damaged(number, s.detail());
    if (page.owner != owner_)
      return Damaged(number, "belongs to table " + std::to_string(page.owner) + ", not " +
                                 std::to_string(owner_));
    if (page.is_leaf()) {
      ++stats_->leaf_pages;
      if (page.prev != previous_leaf_ || (previous_leaf_ != 0 && previous_leaf_next_ != number))
        stats_->sibling_links_consistent = false;
      previous_leaf_ = number;
      previous_leaf_next_ = page.next;
      for (const IndexPageEntry& e : page.entries) {
        ++stats_->entries;
        if (!visit_(e.key, e.row)) {
          *stop = true;
          return Status::Ok();
        }
      }
      return Status::Ok();
    }
    ++stats_->node_pages;
    // Child page numbers are copied out first: deeper levels reuse other slots of
    // levels_, but a copy keeps this loop independent of that.
    std::vector<uint32_t> children;
    children.reserve(page.entries.size() + 1);
    for (const IndexPageEntry& e : page.entries) children.push_back(e.child);
    if (page.tail != 0) children.push_back(page.tail);
    // A node's children mostly lie one after another (a tree's pages are written in
    // key order): they are read a run at a time. One that does not read is read again
    // alone below, and fails there as it would.
    PageRunReader run(file_, children);
    for (size_t i = 0; i < children.size(); ++i) {
      const uint8_t* child = children[i] != 0 && children[i] < file_.page_count() ? run.Page(i) : nullptr;
      s = Walk(children[i], depth + 1, stop, child);
      if (!s.ok() || *stop) return s;
    }
    return Status::Ok();
  }

  void Finish() {
    if (previous_leaf_ != 0 && previous_leaf_next_ != 0) stats_->sibling_links_consistent = false;
  }

 private:
  const PageFile& file_;
  uint32_t owner_;
  const IndexEntryVisitor& visit_;
  IndexWalkStats* stats_;
  std::vector<bool> seen_;
  std::vector<uint8_t> page_;
  std::vector<IndexPage> levels_;  // one decoded page per depth, reused
  uint32_t previous_leaf_ = 0;
  uint32_t previous_leaf_next_ = 0;
};

}  // namespace

Status DecodeIndexPage(const Format& format, const uint8_t* page, IndexPage* out) {
  // The entries already in `out` are overwritten, so that their keys' buffers serve
  // again when one IndexPage decodes page after page.
  size_t count = 0;
  const auto fail = [&](const char* detail) {
    out->entries.resize(count);
    return Status::Error(ErrorKind::kDamaged, detail);
  };
  out->type = page[0];
  if (out->type != kPageIndexNode && out->type != kPageIndexLeaf) {
    out->entries.clear();
    return Status::Error(ErrorKind::kDamaged, "not an index page (type " + std::to_string(page[0]) + ")");
  }
  out->free_space = LoadLe16(page + 2);
  out->owner = LoadLe32(page + 4);
  out->prev = LoadLe32(page + format.index_prev_page);
  out->next = LoadLe32(page + format.index_next_page);
  out->tail = LoadLe32(page + format.index_tail_page);
  out->prefix_length = IsJet3(format.version) ? page[format.index_prefix_length]
                                              : LoadLe16(page + format.index_prefix_length);
  const bool leaf = out->is_leaf();
  const size_t pointer_size = leaf ? 4 : 8;
  const size_t area_size = format.page_size - format.index_entries;
  const uint8_t* area = page + format.index_entries;
  const size_t bitmap_bytes = format.index_entries - format.index_bitmap;
  size_t start = 0;
  for (size_t byte = 0; byte < bitmap_bytes; ++byte) {
    // Set bits only, lowest first: most bytes have one or two, and a bit-by-bit test
    // mispredicts on nearly every entry.
    for (unsigned bits = page[format.index_bitmap + byte]; bits != 0; bits &= bits - 1) {
      const size_t end = byte * 8 + size_t(std::countr_zero(bits));
      if (end > area_size) return fail("an entry ends past the page end");
      if (end <= start) return fail("an entry is empty");
      if (count == out->entries.size()) out->entries.emplace_back();
      IndexPageEntry& entry = out->entries[count];
      if (count == 0 || out->prefix_length == 0) {
        entry.key.assign(reinterpret_cast<const char*>(area + start), end - start);
      } else {
        const std::string& first = out->entries.front().key;  // still holds the pointers here
        entry.key.assign(first, 0, out->prefix_length);
        entry.key.append(reinterpret_cast<const char*>(area + start), end - start);
      }
      if (count == 0 && out->prefix_length > entry.key.size())
        return fail("shared prefix is longer than the first entry");
      if (entry.key.size() < pointer_size) return fail("an entry is shorter than its pointers");
      ++count;
      start = end;
    }
  }
  out->entries.resize(count);
  // Split the pointers off only now: the prefix is taken from the complete first entry.
  for (IndexPageEntry& e : out->entries) {
    const uint8_t* tail = reinterpret_cast<const uint8_t*>(e.key.data()) + e.key.size() - pointer_size;
    e.row = RowId{LoadBe24(tail), tail[3]};
    e.child = leaf ? 0 : LoadBe32(tail + 4);
    e.key.resize(e.key.size() - pointer_size);
  }
  return Status::Ok();
}

Status WalkIndex(const PageFile& file, uint32_t owner_page, uint32_t root_page,
                 const IndexEntryVisitor& visit, IndexWalkStats* stats) {
  *stats = IndexWalkStats();
  Walker walker(file, owner_page, visit, stats);
  bool stop = false;
  Status s = walker.Walk(root_page, 0, &stop);
  if (s.ok() && !stop) walker.Finish();
  return s;
}

}  // namespace jet
