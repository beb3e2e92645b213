// IndexBuilder: writes the B-tree of one real index from its entries, which arrive
// already sorted by (key bytes, row). The pages are the ones jet/read/index_reader.h reads:
//
//   offset J3  J4  size
//   0      0   0   1    0x04 leaf / 0x03 node
//   1      1   1   1    0x01
//   2      2   2   2    free space = page_size - (entry area offset + entry bytes)
//   4      4   4   4    owner: the table's TDEF page
//          -   8   4    0
//   prev   8   12  4    previous page on the same level (0: first)
//   next   12  16  4    next page on the same level (0: last)
//   tail   16  20  4    node pages: the rightmost child, which has no entry
//   prefix 20  24  1/2  bytes every entry after the first shares with the first
//   flag   21  26  1    1 on node pages, 0 on leaves (as Access writes them)
//   bitmap 22  27       bit k set where an entry ends at byte k of the entry area
//   area   248 480      entries, the first complete, later ones without the prefix
//
//   leaf entry: key, data page (3, big-endian), row (1)
//   node entry: the last leaf entry of the child's subtree, child page (4, big-endian)
//
// Shape: leaves are filled in order and written as soon as they are full; each level
// above keeps one open page, so memory stays a few pages whatever the entry count.
// Every page is linked to its neighbours on its level. As on every node page of the
// Access files examined, a node page's rightmost child is named by the tail field and
// has no entry (a node page with a single child, possible only at the end of a level,
// gives it an entry instead, since a node must have at least one). The shared prefix
// is the common prefix of all the page's entries, which for entries sorted as bytes
// is that of the first and the last; it never takes in the row byte (nor, on nodes,
// the child page). An empty index is one empty leaf.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "jet/file/format.h"
#include "jet/file/page_writer.h"
#include "jet/base/status.h"

namespace jet {

struct IndexBuildResult {
  uint32_t root_page = 0;
  uint32_t entry_count = 0;
  uint32_t distinct_keys = 0;    // number of different key byte strings
  uint32_t levels = 0;           // 1 = the root is a leaf
  std::vector<uint32_t> pages;   // every page of the tree, ascending (its usage map)
};

class IndexBuilder {
 public:
  // `owner` is the table's (new) TDEF page, stored in every index page.
  IndexBuilder(PageSink* sink, uint32_t owner);
  ~IndexBuilder();
  IndexBuilder(const IndexBuilder&) = delete;
  IndexBuilder& operator=(const IndexBuilder&) = delete;

  // Longest key an entry may have: a node entry (key + 8 bytes) must fit on a page.
  static size_t MaxKeySize(const Format& format);
  // Bytes of entries a page holds: 1,800 (J3) / 3,616 (J4).
  static size_t EntryAreaSize(const Format& format);

  // Adds the next entry. kInvalidArgument when it does not sort strictly after the
  // previous one or its key is longer than MaxKeySize; sink failures as they are.
  Status Add(std::span<const uint8_t> key, RowId row);
  // Writes the pages still open and reports the tree. Call once.
  Status Finish(IndexBuildResult* result);

 private:
  struct Level;

  // `summary`: on a node level, the last leaf entry under `child`; unused on leaves.
  Status AddToLevel(size_t level, std::vector<uint8_t> entry, std::vector<uint8_t> summary,
                    uint32_t child);
  Status WritePage(Level& level, uint32_t next_page, uint32_t tail_page);
  Status AllocatePage(uint32_t* number);

  PageSink* sink_;
  Format format_;
  uint32_t owner_;
  std::vector<std::unique_ptr<Level>> levels_;  // levels_[0] = leaves
  std::vector<uint8_t> last_key_;
  RowId last_row_;
  uint32_t entry_count_ = 0;
  uint32_t distinct_keys_ = 0;
  std::vector<uint32_t> pages_;
  std::vector<uint8_t> page_;   // image being written
  // Buffers of entries already written, reused by Add: a leaf entry would otherwise
  // cost an allocation of its own.
  std::vector<std::vector<uint8_t>> spare_entries_;
  bool finished_ = false;
};

}  // namespace jet
