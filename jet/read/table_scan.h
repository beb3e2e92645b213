// Table scan: every live row of a table, as raw bytes, in storage order (page order of
// the owned-pages map, slot order within a page). Deleted slots are skipped and
// overflow rows are followed to the bytes they point at. When the owned-pages map
// cannot be read, the scan falls back to every data page whose owner field names the
// table and that the global free map does not mark free (a page the table gave back
// keeps its owner field and its old rows), and says so in a note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "jet/file/format.h"
#include "jet/base/status.h"
#include "jet/read/overflow_row.h"
#include "jet/read/table_def.h"

namespace jet {

class PageFile;

class TableScanner {
 public:
  // `row` is the header row id (the one indexes point at); the bytes are those of the
  // row itself, which for an overflow row live elsewhere. They stay valid only during
  // the call. Returning false stops the scan.
  using Visitor = std::function<bool(const RowId& row, const uint8_t* bytes, size_t size)>;

  // Told of a live row whose slot or overflow pointer is malformed, with why.
  using DamagedRowVisitor = std::function<void(const RowId& row, const Status& why)>;

  TableScanner(const PageFile& file, const TableDef& table);

  // From now on a malformed row goes to `damaged` and the scan goes on, instead of
  // failing the scan with kDamaged.
  void SkipDamagedRows(DamagedRowVisitor damaged) { damaged_ = std::move(damaged); }

  // Scans the table; things worth knowing that are not errors are added to `notes`.
  // kDamaged when a live row's slot or overflow pointer is malformed.
  Status Scan(const Visitor& visit, std::vector<std::string>* notes);

  // The data pages the scan visits (owned-pages map, or the fallback).
  Status DataPages(std::vector<uint32_t>* pages, std::vector<std::string>* notes);

  // Scan over `pages`, which DataPages gave for this file as it still is: a caller
  // that needs the pages as well as the rows finds them once (the fallback reads every
  // page of the file).
  Status ScanPages(const std::vector<uint32_t>& pages, const Visitor& visit, std::vector<std::string>* notes);

 private:
  // Counts of odd but harmless pages met during one scan, reported as one note each.
  struct Oddities {
    uint32_t foreign_pages = 0;       // in the owned map but not this table's data pages
    uint32_t first_foreign_page = 0;
    uint32_t free_space_mismatches = 0;
    uint32_t first_mismatch_page = 0;
  };

  // The rows of data page `number`, whose bytes are `page`.
  Status ScanPage(uint32_t number, const uint8_t* page, const Visitor& visit, Oddities* oddities, bool* stop);

  const PageFile& file_;
  const TableDef& table_;
  std::vector<uint8_t> page_;
  OverflowFollower overflow_;
  DamagedRowVisitor damaged_;  // empty: a malformed row fails the scan
};

}  // namespace jet
