// Table scan: data pages of a table, live slots, overflow rows.
#include "jet/read/table_scan.h"

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/page_file.h"
#include "jet/file/page_runs.h"
#include "jet/file/usage_map.h"
#include "jet/read/overflow_row.h"

namespace jet {
namespace {

std::string Where(uint32_t table, RowId row) {
  return "table " + std::to_string(table) + " row " + std::to_string(row.page) + ":" +
         std::to_string(row.row);
}

}  // namespace

TableScanner::TableScanner(const PageFile& file, const TableDef& table)
    : file_(file), table_(table), page_(file.page_size()), overflow_(file, table.first_page) {}

Status TableScanner::DataPages(std::vector<uint32_t>* pages, std::vector<std::string>* notes) {
  pages->clear();
  UsageMap map;
  Status s = ReadUsageMap(file_, table_.owned_map, &map);
  if (s.ok()) {
    if (map.pages_past_end > 0)
      notes->push_back("table " + std::to_string(table_.first_page) + ": owned-pages map names " +
                       std::to_string(map.pages_past_end) + " pages past the end of the file");
    *pages = std::move(map.pages);
    return Status::Ok();
  }
  notes->push_back("table " + std::to_string(table_.first_page) +
                   ": owned-pages map unreadable (" + s.detail() +
                   "); scanning every page for the table's data pages");
  Status unreadable;
  ForEachPage(
      file_, 1, file_.page_count(),
      [&](uint32_t n, const uint8_t* page) {
        if (page[0] == kPageData && LoadLe32(page + 4) == table_.first_page) pages->push_back(n);
      },
      [&](uint32_t n) {
        if (unreadable.ok())
          unreadable = Status::Error(ErrorKind::kDamaged, "page " + std::to_string(n) + " cannot be read");
      });
  DropPagesMarkedFree(file_, pages);
  return unreadable;
}

Status TableScanner::Scan(const Visitor& visit, std::vector<std::string>* notes) {
  std::vector<uint32_t> pages;
  Status s = DataPages(&pages, notes);
  if (!s.ok()) return s;
  return ScanPages(pages, visit, notes);
}

Status TableScanner::ScanPages(const std::vector<uint32_t>& pages, const Visitor& visit,
                               std::vector<std::string>* notes) {
  overflow_.Forget();  // each scan reads the file afresh
  Status s;
  bool stop = false;
  Oddities odd;
  PageRunReader reader(file_, pages);
  for (size_t i = 0; i < pages.size(); ++i) {
    const uint8_t* page = reader.Page(i);
    if (page == nullptr) {
      s = file_.ReadPage(pages[i], page_.data());  // for its error
      if (s.ok()) s = Status::Error(ErrorKind::kDamaged, "page " + std::to_string(pages[i]) + " cannot be read");
      break;
    }
    s = ScanPage(pages[i], page, visit, &odd, &stop);
    if (!s.ok() || stop) break;
  }
  const std::string table = "table " + std::to_string(table_.first_page) + ": ";
  if (odd.foreign_pages > 0)
    notes->push_back(table + std::to_string(odd.foreign_pages) +
                     " pages of the owned-pages map are not its data pages (first: page " +
                     std::to_string(odd.first_foreign_page) + ")");
  if (odd.free_space_mismatches > 0)
    notes->push_back(table + std::to_string(odd.free_space_mismatches) +
                     " data pages store a free-space value that does not match their rows (first: page " +
                     std::to_string(odd.first_mismatch_page) + ")");
  return s;
}

Status TableScanner::ScanPage(uint32_t number, const uint8_t* page, const Visitor& visit, Oddities* odd,
                              bool* stop) {
  const Format& format = file_.format();
  DataPageHeader header;
  Status s = ParseDataPage(format, page, &header);
  if (!s.ok() || header.owner != table_.first_page) {
    // A page the map claims but that holds something else (a freed page, say): the
    // rows that matter are on the table's own pages.
    if (odd->foreign_pages++ == 0) odd->first_foreign_page = number;
    return Status::Ok();
  }
  if (!header.free_space_matches && odd->free_space_mismatches++ == 0) odd->first_mismatch_page = number;
  // A malformed row fails the scan, or is passed on and skipped.
  const auto damaged = [&](const RowId& id, ErrorKind kind, const std::string& why) {
    Status failure = Status::Error(kind, Where(table_.first_page, id) + ": " + why);
    if (!damaged_ || kind != ErrorKind::kDamaged) return failure;
    damaged_(id, failure);
    return Status::Ok();
  };
  for (unsigned i = 0; i < header.row_count; ++i) {
    RowSlot slot;
    const RowId id{number, static_cast<uint8_t>(i)};
    if (i > 0xFF) return damaged(id, ErrorKind::kDamaged, "page " + std::to_string(number) + " has more than 255 rows");
    s = GetRowSlot(format, page, header, i, &slot);
    if (!s.ok()) {
      if (s = damaged(id, ErrorKind::kDamaged, s.detail()); !s.ok()) return s;
      continue;
    }
    if (slot.deleted) continue;
    const uint8_t* bytes = page + slot.start;
    size_t size = slot.size();
    if (slot.overflow) {
      OverflowTarget target;
      s = overflow_.Follow(bytes, size, &target);
      if (!s.ok()) {
        if (s = damaged(id, s.kind(), s.detail()); !s.ok()) return s;
        continue;
      }
      bytes = target.bytes;
      size = target.size;
    }
    if (!visit(id, bytes, size)) {
      *stop = true;
      return Status::Ok();
    }
  }
  return Status::Ok();
}

}  // namespace jet
