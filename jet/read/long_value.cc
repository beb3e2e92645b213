// Long values: the in-row header and the three storage kinds.
#include "jet/read/long_value.h"

#include <string>
#include <unordered_set>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/page_file.h"

namespace jet {
namespace {

Status Damaged(const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "long value: " + detail);
}

std::string RowName(RowId id) { return std::to_string(id.page) + ":" + std::to_string(id.row); }

}  // namespace

Status ParseLongValueHeader(const uint8_t* field, size_t size, LongValueHeader* header) {
  *header = LongValueHeader();
  if (size < kLongValueHeaderSize)
    return Damaged("field of " + std::to_string(size) + " bytes is shorter than its header");
  const uint32_t word = LoadLe32(field);
  header->length = word & 0x3FFFFFFF;
  header->kind = static_cast<uint8_t>((word >> 24) & 0xC0);
  header->first_row = LoadLe32(field + 4);
  if (header->kind != kLongValueInline && header->kind != kLongValueSingle &&
      header->kind != kLongValueChain)
    return Damaged("unknown storage kind");
  return Status::Ok();
}

LongValueReader::LongValueReader(const PageFile& file) : file_(file), pages_(file) {}

Status LongValueReader::LoadRow(RowId id, const uint8_t** data, size_t* size) {
  if (id.page == 0 || id.page >= file_.page_count())
    return Damaged("row " + RowName(id) + " is outside the file");
  if (loaded_page_ != id.page) {
    loaded_page_ = 0;
    Status s = pages_.Get(id.page, &page_);
    if (!s.ok()) return s;
    loaded_page_ = id.page;
    loaded_torn_ = TornSecondHalf(file_.format(), page_);
    if (on_page_load_) on_page_load_(id.page, page_);
  }
  const Format& format = file_.format();
  DataPageHeader header;
  Status s = ParseDataPage(format, page_, &header);
  if (!s.ok()) return Damaged("page " + std::to_string(id.page) + ": " + s.detail());
  if (header.owner != kLongValueOwner)
    return Damaged("page " + std::to_string(id.page) + " is not a long-value page");
  RowSlot slot;
  s = GetRowSlot(format, page_, header, id.row, &slot);
  if (!s.ok()) return Damaged("page " + std::to_string(id.page) + ": " + s.detail());
  if (slot.deleted) return Damaged("row " + RowName(id) + " is deleted");
  if (loaded_torn_ && slot.end > format.page_size / 2)
    return Damaged("row " + RowName(id) + " lies in the second half of its page, which is zeros from exactly its " +
                   "middle (a write torn halfway)");
  *data = page_ + slot.start;
  *size = slot.size();
  return Status::Ok();
}

Status LongValueReader::Read(const uint8_t* field, size_t size, std::vector<uint8_t>* out,
                             std::vector<RowId>* rows) {
  out->clear();
  if (rows) rows->clear();
  LongValueHeader header;
  Status s = ParseLongValueHeader(field, size, &header);
  if (!s.ok()) return s;
  // An inline value is bounded by its field, whatever its length says: the bytes the
  // row holds are given back even with a length no value can have.
  if (header.kind == kLongValueInline) {
    const size_t available = size - kLongValueHeaderSize;
    const size_t take = header.length < available ? header.length : available;
    out->assign(field + kLongValueHeaderSize, field + kLongValueHeaderSize + take);
    if (take < header.length)
      return Damaged("inline value of " + std::to_string(header.length) + " bytes has only " +
                     std::to_string(available) + " in the row");
    return Status::Ok();
  }
  // No value can be larger than the file that holds it.
  if (uint64_t(header.length) > uint64_t(file_.page_count()) * file_.page_size())
    return Damaged("length " + std::to_string(header.length) + " is larger than the file");

  RowId id = RowId::FromPointer(header.first_row);
  if (header.kind == kLongValueSingle) {
    const uint8_t* data;
    size_t data_size;
    s = LoadRow(id, &data, &data_size);
    if (!s.ok()) return s;
    if (rows) rows->push_back(id);
    const size_t take = header.length < data_size ? header.length : data_size;
    out->assign(data, data + take);
    if (take < header.length)
      return Damaged("row " + RowName(id) + " holds " + std::to_string(data_size) + " of " +
                     std::to_string(header.length) + " bytes");
    // The one row is the value: bytes beyond the length mean the length is garbled.
    if (data_size > header.length)
      return Damaged("row " + RowName(id) + " holds " + std::to_string(data_size) + " bytes, more than the " +
                     std::to_string(header.length) + " of its length");
    return Status::Ok();
  }

  out->reserve(header.length);
  std::unordered_set<uint32_t> seen;
  while (out->size() < header.length) {
    if (id.page == 0)
      return Damaged("chain ends after " + std::to_string(out->size()) + " of " +
                     std::to_string(header.length) + " bytes");
    if (!seen.insert(id.ToPointer()).second)
      return Damaged("chain loops back to row " + RowName(id) + " after " +
                     std::to_string(out->size()) + " bytes");
    const uint8_t* data;
    size_t data_size;
    s = LoadRow(id, &data, &data_size);
    if (!s.ok()) return s;
    if (data_size < 4) return Damaged("chain row " + RowName(id) + " is shorter than its pointer");
    if (rows) rows->push_back(id);
    const size_t want = header.length - out->size();
    const size_t chunk = data_size - 4 < want ? data_size - 4 : want;
    out->insert(out->end(), data + 4, data + 4 + chunk);
    id = RowId::FromPointer(LoadLe32(data));
  }
  return Status::Ok();
}

}  // namespace jet
