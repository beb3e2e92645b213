// RowFetcher: random access to the rows of one table.
#include "jet/read/row_fetch.h"

#include <string>

#include "jet/file/data_page.h"
#include "jet/file/page_file.h"
#include "jet/read/overflow_row.h"

namespace jet {
namespace {

std::string Where(const TableDef& table, RowId row) {
  return "table " + std::to_string(table.first_page) + " row " + std::to_string(row.page) + ":" +
         std::to_string(row.row);
}

}  // namespace

RowFetcher::RowFetcher(const PageFile& file, const TableDef& table)
    : file_(file), table_(table), pages_(file), overflow_(file, table.first_page) {}

Status RowFetcher::Load(uint32_t page) {
  if (page_number_ == page) return Status::Ok();
  page_number_ = 0;
  if (page == 0 || page >= file_.page_count())
    return Status::Error(ErrorKind::kDamaged, "page " + std::to_string(page) + " lies outside the file");
  Status s = pages_.Get(page, &page_);
  if (!s.ok()) return s;
  page_number_ = page;
  // Parsed once for all the rows fetched from the page: the parse walks every slot.
  header_status_ = ParseDataPage(file_.format(), page_, &header_);
  if (header_status_.ok() && header_.owner != table_.first_page)
    header_status_ = Status::Error(ErrorKind::kDamaged, "page is not one of the table's data pages");
  return Status::Ok();
}

Status RowFetcher::Fetch(RowId row, const uint8_t** bytes, size_t* size) {
  const Format& format = file_.format();
  Status s = Load(row.page);
  if (!s.ok()) return Status::Error(s.kind(), Where(table_, row) + ": " + s.detail());
  if (!header_status_.ok())
    return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": " + header_status_.detail());
  if (row.row >= header_.row_count)
    return Status::Error(ErrorKind::kNotFound, Where(table_, row) + ": no such slot");
  RowSlot slot;
  s = GetRowSlot(format, page_, header_, row.row, &slot);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": " + s.detail());
  if (slot.deleted) return Status::Error(ErrorKind::kNotFound, Where(table_, row) + ": deleted");
  if (!slot.overflow) {
    *bytes = page_ + slot.start;
    *size = slot.size();
    return Status::Ok();
  }
  OverflowTarget target;
  s = overflow_.Follow(page_ + slot.start, slot.size(), &target);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": " + s.detail());
  *bytes = target.bytes;
  *size = target.size;
  return Status::Ok();
}

}  // namespace jet
