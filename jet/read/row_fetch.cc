// RowFetcher: random access to the rows of one table.
#include "jet/read/row_fetch.h"

#include <string>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/page_file.h"

namespace jet {
namespace {

std::string Where(const TableDef& table, RowId row) {
  return "table " + std::to_string(table.first_page) + " row " + std::to_string(row.page) + ":" +
         std::to_string(row.row);
}

// The same bound as the table scan's: a longer chain of overflow rows is a loop.
constexpr int kMaxHops = 4;

}  // namespace

RowFetcher::RowFetcher(const PageFile& file, const TableDef& table)
    : file_(file), table_(table), page_(file.page_size()), target_page_(file.page_size()) {}

Status RowFetcher::Load(uint32_t page, std::vector<uint8_t>* buffer, uint32_t* loaded) {
  if (*loaded == page) return Status::Ok();
  *loaded = 0;
  if (page == 0 || page >= file_.page_count())
    return Status::Error(ErrorKind::kDamaged, "page " + std::to_string(page) + " lies outside the file");
  Status s = file_.ReadPage(page, buffer->data());
  if (!s.ok()) return s;
  *loaded = page;
  return Status::Ok();
}

Status RowFetcher::Fetch(RowId row, const uint8_t** bytes, size_t* size) {
  const Format& format = file_.format();
  Status s = Load(row.page, &page_, &page_number_);
  if (!s.ok()) return Status::Error(s.kind(), Where(table_, row) + ": " + s.detail());
  DataPageHeader header;
  s = ParseDataPage(format, page_.data(), &header);
  if (s.ok() && header.owner != table_.first_page)
    s = Status::Error(ErrorKind::kDamaged, "page is not one of the table's data pages");
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": " + s.detail());
  if (row.row >= header.row_count)
    return Status::Error(ErrorKind::kNotFound, Where(table_, row) + ": no such slot");
  RowSlot slot;
  s = GetRowSlot(format, page_.data(), header, row.row, &slot);
  if (!s.ok()) return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": " + s.detail());
  if (slot.deleted) return Status::Error(ErrorKind::kNotFound, Where(table_, row) + ": deleted");
  if (!slot.overflow) {
    *bytes = page_.data() + slot.start;
    *size = slot.size();
    return Status::Ok();
  }
  // An overflow header: follow its pointer, hop by hop, as the table scan does.
  if (slot.size() < 4)
    return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": overflow row shorter than its pointer");
  uint32_t pointer = LoadLe32(page_.data() + slot.start);
  RowSlot target_slot;
  for (int hop = 0;; ++hop) {
    if (hop == kMaxHops)
      return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": overflow rows form a chain longer than " +
                                                    std::to_string(kMaxHops));
    const RowId target = RowId::FromPointer(pointer);
    s = Load(target.page, &target_page_, &target_page_number_);
    DataPageHeader target_header;
    if (s.ok()) s = ParseDataPage(format, target_page_.data(), &target_header);
    if (s.ok() && target_header.owner != table_.first_page)
      s = Status::Error(ErrorKind::kDamaged, "page belongs to another table");
    if (s.ok()) s = GetRowSlot(format, target_page_.data(), target_header, target.row, &target_slot);
    if (s.ok() && target_slot.overflow && target_slot.size() < 4)
      s = Status::Error(ErrorKind::kDamaged, "overflow row shorter than its pointer");
    if (!s.ok())
      return Status::Error(ErrorKind::kDamaged, Where(table_, row) + ": overflow target " +
                                                    std::to_string(target.page) + ":" +
                                                    std::to_string(target.row) + ": " + s.detail());
    if (!target_slot.overflow) break;
    pointer = LoadLe32(target_page_.data() + target_slot.start);
  }
  *bytes = target_page_.data() + target_slot.start;
  *size = target_slot.size();
  return Status::Ok();
}

}  // namespace jet
