// Index reader: walks the B-tree of a real index and yields its leaf entries in order.
//
// Index page header (J3 / J4 offsets):
//   0 type 0x03 node / 0x04 leaf; 2 free space; 4 owner TDEF page;
//   8/12 previous page on the same level; 12/16 next page; 16/20 child tail page
//   (nodes); 20/24 shared prefix length (1 byte J3 / 2 bytes J4); 21/26 node flag;
//   22/27 entry bitmap; 248/480 entry area.
// Bit k of the bitmap marks the end of an entry at byte k of the entry area (the first
// entry starts at 0). With a prefix length p, every entry after the first omits the
// first p bytes, which equal those of the first entry.
// Entries (big-endian pointers):
//   leaf: key bytes, data page (3), row (1)
//   node: key bytes, data page (3), row (1), child page (4) -- a copy of the last entry
//         of the child's subtree; a non-zero tail field names one more, rightmost child.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

class PageFile;

struct IndexPageEntry {
  std::string key;        // full key bytes (prefix restored), row pointer excluded
  RowId row;
  uint32_t child = 0;     // node pages only
};

struct IndexPage {
  uint8_t type = 0;
  uint16_t free_space = 0;
  uint32_t owner = 0;
  uint32_t prev = 0;
  uint32_t next = 0;
  uint32_t tail = 0;
  uint16_t prefix_length = 0;
  std::vector<IndexPageEntry> entries;
  bool is_leaf() const { return type == kPageIndexLeaf; }
};

// Decodes one index page into `out`, whose entries it overwrites (their buffers serve
// again when one IndexPage decodes page after page). kDamaged when it is not an index
// page, an entry runs off the page or is too short for its pointers, or the prefix is
// longer than an entry.
Status DecodeIndexPage(const Format& format, const uint8_t* page, IndexPage* out);

struct IndexWalkStats {
  uint32_t node_pages = 0;
  uint32_t leaf_pages = 0;
  uint64_t entries = 0;
  bool sibling_links_consistent = true;  // leaves' prev/next agree with the tree order
};

using IndexEntryVisitor = std::function<bool(const std::string& key, const RowId& row)>;

// Walks the tree from `root_page`, calling `visit` for every leaf entry in order, until
// it returns false. Every page must be an index page owned by `owner_page`; a page met
// twice (a cycle) or a tree deeper than 32 levels is kDamaged.
Status WalkIndex(const PageFile& file, uint32_t owner_page, uint32_t root_page,
                 const IndexEntryVisitor& visit, IndexWalkStats* stats);

}  // namespace jet
