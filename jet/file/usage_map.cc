// Usage maps: decoding both map forms into page lists.
#include "jet/file/usage_map.h"

#include <algorithm>
#include <string>

#include "jet/base/byte_order.h"
#include "jet/file/data_page.h"
#include "jet/file/format.h"
#include "jet/file/page_file.h"

namespace jet {
namespace {

Status Damaged(const std::string& detail) {
  return Status::Error(ErrorKind::kDamaged, "usage map: " + detail);
}

// Adds the pages of a bitmap whose bit 0 stands for page `first`.
void AddBitmap(const uint8_t* bits, size_t size, uint64_t first, uint32_t page_count,
               UsageMap* map) {
  for (size_t byte = 0; byte < size; ++byte) {
    uint8_t b = bits[byte];
    if (b == 0) continue;
    for (int bit = 0; bit < 8; ++bit) {
      if ((b & (1u << bit)) == 0) continue;
      uint64_t page = first + byte * 8 + bit;
      if (page < page_count)
        map->pages.push_back(static_cast<uint32_t>(page));
      else
        ++map->pages_past_end;
    }
  }
}

}  // namespace

Status DecodeUsageMap(const PageFile& file, const uint8_t* row, size_t size, UsageMap* map) {
  *map = UsageMap();
  if (size < 1) return Damaged("empty map row");
  map->type = row[0];
  const uint32_t page_count = file.page_count();
  if (map->type == kUsageMapInline) {
    if (size < 5) return Damaged("inline map row of " + std::to_string(size) + " bytes");
    AddBitmap(row + 5, size - 5, LoadLe32(row + 1), page_count, map);
    return Status::Ok();
  }
  if (map->type != kUsageMapReference) return Damaged("unknown map type " + std::to_string(row[0]));

  const uint32_t page_size = file.page_size();
  const uint64_t pages_per_bitmap = uint64_t(page_size - 4) * 8;
  std::vector<uint8_t> bitmap(page_size);
  for (size_t i = 0; 1 + 4 * i + 4 <= size; ++i) {
    uint32_t bitmap_page = LoadLe32(row + 1 + 4 * i);
    if (bitmap_page == 0) continue;
    if (bitmap_page >= page_count)
      return Damaged("bitmap page " + std::to_string(bitmap_page) + " is past the end of the file");
    Status s = file.ReadPage(bitmap_page, bitmap.data());
    if (!s.ok()) return s;
    if (bitmap[0] != kPageUsageBitmap)
      return Damaged("page " + std::to_string(bitmap_page) + " is not a usage bitmap page");
    AddBitmap(bitmap.data() + 4, page_size - 4, i * pages_per_bitmap, page_count, map);
  }
  return Status::Ok();
}

Status ReadUsageMap(const PageFile& file, uint32_t pointer, UsageMap* map) {
  *map = UsageMap();
  const RowId id = RowId::FromPointer(pointer);
  if (id.page == 0 || id.page >= file.page_count())
    return Damaged("map row pointer names page " + std::to_string(id.page));
  std::vector<uint8_t> page(file.page_size());
  Status s = file.ReadPage(id.page, page.data());
  if (!s.ok()) return s;
  const Format& format = file.format();
  DataPageHeader header;
  s = ParseDataPage(format, page.data(), &header);
  if (!s.ok()) return Damaged("page " + std::to_string(id.page) + ": " + s.detail());
  RowSlot slot;
  s = GetRowSlot(format, page.data(), header, id.row, &slot);
  if (!s.ok()) return Damaged("page " + std::to_string(id.page) + ": " + s.detail());
  if (slot.deleted) return Damaged("map row " + std::to_string(id.page) + ":" + std::to_string(id.row) + " is deleted");
  return DecodeUsageMap(file, page.data() + slot.start, slot.size(), map);
}

bool FindMapBit(uint32_t page_size, const uint8_t* row, size_t size, uint32_t page, MapBit* bit) {
  if (size < 1) return false;
  if (row[0] == kUsageMapInline) {
    if (size < 5) return false;
    const uint32_t first = LoadLe32(row + 1);
    if (page < first || (page - first) / 8 >= size - 5) return false;
    *bit = {0, 5 + (page - first) / 8, uint8_t(1u << ((page - first) % 8))};
    return true;
  }
  if (row[0] != kUsageMapReference) return false;
  const uint64_t pages_per_bitmap = uint64_t(page_size - 4) * 8;
  const uint64_t i = page / pages_per_bitmap;
  if (1 + 4 * i + 4 > size) return false;
  const uint32_t bitmap_page = LoadLe32(row + 1 + 4 * i);
  if (bitmap_page == 0) return false;
  const uint64_t k = page % pages_per_bitmap;
  *bit = {bitmap_page, size_t(4 + k / 8), uint8_t(1u << (k % 8))};
  return true;
}

void DropPagesMarkedFree(const PageFile& file, std::vector<uint32_t>* pages) {
  UsageMap free_pages;
  if (pages->empty() || !ReadUsageMap(file, kGlobalFreeMapPointer, &free_pages).ok()) return;
  std::erase_if(*pages, [&](uint32_t p) {
    return std::binary_search(free_pages.pages.begin(), free_pages.pages.end(), p);
  });
}

}  // namespace jet
