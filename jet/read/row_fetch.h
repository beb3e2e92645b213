// RowFetcher: the stored bytes of one row of a table, found by the row id its index
// entries point at. An overflow row (slot flag 0x4000) is followed to the row it
// points at, as a table scan does, so the caller always gets the row's real bytes.
// The compaction uses it to copy rows in primary-key order and its verification to
// compare a source row with the row written for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jet/file/format.h"
#include "jet/file/page_runs.h"
#include "jet/base/status.h"
#include "jet/file/data_page.h"
#include "jet/read/overflow_row.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

class RowFetcher {
 public:
  RowFetcher(const PageFile& file, const TableDef& table);

  // Points *bytes / *size at the live row `row` of the table; valid until the next
  // call. kNotFound when the slot is deleted or absent; kDamaged when the page is not
  // one of the table's data pages or an overflow pointer leads nowhere valid.
  Status Fetch(RowId row, const uint8_t** bytes, size_t* size);

 private:
  // Points page_ at `page` unless it is there already.
  Status Load(uint32_t page);

  const PageFile& file_;
  const TableDef& table_;
  // Rows fetched in key order mostly lie on ascending pages.
  PageReadAhead pages_;
  const uint8_t* page_ = nullptr;
  uint32_t page_number_ = 0;  // the page at page_; 0: none (page 0 is never a data page)
  // page_'s header, and why page_ is not one of the table's data pages if it is not;
  // both set by Load with page_.
  DataPageHeader header_;
  Status header_status_;
  OverflowFollower overflow_;
};

}  // namespace jet
