// Table pages: a table's data pages from its map and from the pages' owner fields.
#include "jet/maintain/table_pages.h"

#include <algorithm>
#include <set>
#include <string>

#include "jet/file/data_page.h"
#include "jet/file/page_file.h"
#include "jet/file/usage_map.h"
#include "jet/read/index_reader.h"
#include "jet/read/row.h"
#include "jet/read/row_fetch.h"
#include "jet/read/table_def.h"
#include "jet/write/index_key.h"

namespace jet {

bool HoldsLiveRow(const Format& format, const uint8_t* page) {
  DataPageHeader header;
  if (!ParseDataPage(format, page, &header).ok() || header.row_count > kMaxRowsPerDataPage) return false;
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    if (GetRowSlot(format, page, header, i, &slot).ok() && !slot.deleted) return true;
  }
  return false;
}

bool WrongPageForOwnedMap(uint8_t type) {
  return type == kPageTableDef || type == kPageIndexNode || type == kPageIndexLeaf || type == kPageUsageBitmap;
}

std::vector<uint32_t> UnmappedDataPages(const PageFile& file, const std::vector<uint8_t>& types,
                                        const std::vector<uint32_t>& owners, const TableDef& table,
                                        const std::vector<uint32_t>& own_mapped) {
  std::vector<uint32_t> candidates;
  std::vector<uint8_t> page(file.page_size());
  for (uint32_t p = 1; p < types.size(); ++p) {
    if (types[p] != kPageData || owners[p] != table.first_page) continue;
    if (std::binary_search(own_mapped.begin(), own_mapped.end(), p)) continue;
    if (!file.ReadPage(p, page.data()).ok() || !HoldsLiveRow(file.format(), page.data())) continue;
    candidates.push_back(p);
  }
  DropPagesMarkedFree(file, &candidates);
  if (candidates.empty() || own_mapped.empty()) return candidates;
  std::set<uint32_t> indexed;
  RowFetcher fetcher(file, table);
  RowDecoder decoder(file, table);
  std::vector<Value> values;
  std::string computed;
  for (const RealIndex& index : table.real_indexes) {
    const bool computable = CanComputeKeys(file.format(), table, index);
    IndexWalkStats stats;
    WalkIndex(file, table.first_page, index.root_page,
              [&](const std::string& key, const RowId& row) {
                if (!std::binary_search(candidates.begin(), candidates.end(), row.page) || indexed.count(row.page))
                  return true;
                // A damaged leaf's garbled pointer may land on a page of an earlier
                // life of the table: an entry speaks for the page only where the row
                // it reaches gives its key.
                const uint8_t* bytes = nullptr;
                size_t size = 0;
                if (computable && (!fetcher.Fetch(row, &bytes, &size).ok() || !decoder.Decode(bytes, size, &values).ok() ||
                                   !EncodeIndexKey(file.format(), table, index, values, &computed).ok() ||
                                   computed != key))
                  return true;
                indexed.insert(row.page);
                return true;
              },
              &stats);
  }
  return std::vector<uint32_t>(indexed.begin(), indexed.end());
}

}  // namespace jet
