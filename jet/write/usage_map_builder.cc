// Usage-map builders: choosing the map form and filling the bitmaps.
#include "jet/write/usage_map_builder.h"

#include <algorithm>
#include <string>

#include "jet/base/byte_writer.h"
#include "jet/write/data_page_builder.h"
#include "jet/file/usage_map.h"

namespace jet {
namespace {

constexpr size_t kInlineHeaderSize = 5;  // type byte + start page
constexpr uint32_t kGlobalMapOwner = 1;  // what Access stores in page 1's owner field

uint32_t InlineCapacity(size_t row_size) { return uint32_t((row_size - kInlineHeaderSize) * 8); }
size_t ReferencePointerCount(const Format& f) { return (DefaultUsageMapRowSize(f) - 1) / 4; }

Status CheckAscending(std::span<const uint32_t> pages) {
  for (size_t i = 1; i < pages.size(); ++i) {
    if (pages[i] <= pages[i - 1])
      return Status::Error(ErrorKind::kInvalidArgument,
                           "usage map pages are not ascending at page " +
                               std::to_string(pages[i]));
  }
  return Status::Ok();
}

// Inline start page for `pages` in a row of the default size, or false when they
// spread too wide for it.
bool InlineStart(const Format& f, std::span<const uint32_t> pages, uint32_t* start) {
  const uint32_t capacity = InlineCapacity(DefaultUsageMapRowSize(f));
  if (pages.empty() || pages.back() < capacity) {
    *start = 0;
    return true;
  }
  *start = pages.front() & ~uint32_t(7);
  return pages.back() - *start < capacity;
}

// Distinct reference ranges (i = page / span) the pages touch, ascending.
std::vector<uint32_t> ReferenceRanges(const Format& f, std::span<const uint32_t> pages) {
  std::vector<uint32_t> ranges;
  const uint32_t span = UsageBitmapPageSpan(f);
  for (uint32_t page : pages) {
    uint32_t i = page / span;
    if (ranges.empty() || ranges.back() != i) ranges.push_back(i);
  }
  return ranges;
}

std::vector<uint8_t> EmptyBitmapPage(const Format& f) {
  std::vector<uint8_t> page(f.page_size, 0);
  page[0] = kPageUsageBitmap;
  page[1] = 0x01;
  return page;
}

// A bitmap stored in `bytes` from `base`: bit b (byte b/8, LSB first).
void MarkBit(std::vector<uint8_t>& bytes, size_t base, uint32_t bit) {
  ByteWriter(bytes).Or8(base + bit / 8, uint8_t(1u << (bit % 8)));
}

// The reference form: a row of pointers to the bitmap pages of `ranges`, each page
// with the bits of those of `set_pages` (ascending) that fall in its range.
template <typename PageList>
Status BuildReference(const Format& f, const std::vector<uint32_t>& ranges,
                      std::span<const uint32_t> numbers, const PageList& set_pages,
                      UsageMapImage* map) {
  if (numbers.size() != ranges.size())
    return Status::Error(ErrorKind::kInvalidArgument,
                         "the reference map needs " + std::to_string(ranges.size()) +
                             " bitmap pages, got " + std::to_string(numbers.size()));
  if (!ranges.empty() && ranges.back() >= ReferencePointerCount(f))
    return Status::Error(ErrorKind::kInvalidArgument,
                         "a page lies beyond the largest file a usage map can describe");
  map->row.assign(DefaultUsageMapRowSize(f), 0);
  map->row[0] = kUsageMapReference;
  map->bitmap_pages.clear();
  ByteWriter row(map->row);
  for (size_t k = 0; k < ranges.size(); ++k) {
    row.Le32(1 + 4 * size_t(ranges[k]), numbers[k]);
    map->bitmap_pages.push_back(UsageBitmapPage{numbers[k], EmptyBitmapPage(f)});
  }
  const uint32_t span = UsageBitmapPageSpan(f);
  size_t k = 0;
  for (uint32_t page : set_pages) {
    const uint32_t i = page / span;
    while (k < ranges.size() && ranges[k] < i) ++k;
    if (k == ranges.size() || ranges[k] != i) continue;  // range without a page
    MarkBit(map->bitmap_pages[k].image, kUsageBitmapHeaderSize, page % span);
  }
  return Status::Ok();
}

// Page numbers [first, last) as a range-for sequence, without storing them.
struct PageRange {
  uint32_t first, last;
  struct It {
    uint32_t v;
    uint32_t operator*() const { return v; }
    It& operator++() {
      ++v;
      return *this;
    }
    bool operator!=(const It& o) const { return v != o.v; }
  };
  It begin() const { return It{first}; }
  It end() const { return It{std::max(first, last)}; }
};

// Row length of an inline global map covering `page_count` pages.
size_t GlobalInlineRowSize(const Format& f, uint32_t page_count) {
  const size_t grown = kInlineHeaderSize + 4 * ((size_t(page_count) + 31) / 32);
  return std::max<size_t>(DefaultUsageMapRowSize(f), grown);
}

// Largest row of which two fit on page 1, rounded down to the 4-byte growth step.
size_t GlobalInlineRowLimit(const Format& f) {
  const size_t room = (DataPageBuilder::MaxRowSize(f) - 2) / 2;
  return kInlineHeaderSize + (room - kInlineHeaderSize) / 4 * 4;
}

}  // namespace

uint32_t UsageBitmapPageSpan(const Format& format) {
  return (format.page_size - kUsageBitmapHeaderSize) * 8;
}

size_t UsageMapBitmapPageCount(const Format& format, std::span<const uint32_t> pages) {
  uint32_t start;
  if (InlineStart(format, pages, &start)) return 0;
  return ReferenceRanges(format, pages).size();
}

Status BuildUsageMap(const Format& format, std::span<const uint32_t> pages,
                     std::span<const uint32_t> bitmap_page_numbers, UsageMapImage* map) {
  Status s = CheckAscending(pages);
  if (!s.ok()) return s;
  uint32_t start;
  if (!InlineStart(format, pages, &start))
    return BuildReference(format, ReferenceRanges(format, pages), bitmap_page_numbers, pages,
                          map);
  if (!bitmap_page_numbers.empty())
    return Status::Error(ErrorKind::kInvalidArgument,
                         "bitmap pages given for a map that fits inline");
  map->row.assign(DefaultUsageMapRowSize(format), 0);
  map->bitmap_pages.clear();
  ByteWriter row(map->row);
  row.U8(0, kUsageMapInline);
  row.Le32(1, start);
  for (uint32_t page : pages) MarkBit(map->row, kInlineHeaderSize, page - start);
  return Status::Ok();
}

size_t GlobalMapBitmapPageCount(const Format& format, uint32_t page_count) {
  if (GlobalInlineRowSize(format, page_count) <= GlobalInlineRowLimit(format)) return 0;
  const uint32_t span = UsageBitmapPageSpan(format);
  return (size_t(page_count) + span - 1) / span;
}

uint32_t GlobalMapExtraPages(const Format& format, uint32_t used_pages) {
  uint32_t extra = 0;
  // Adding bitmap pages can only raise the count, and by at most one page per round.
  while (true) {
    const uint32_t needed = uint32_t(GlobalMapBitmapPageCount(format, used_pages + extra));
    if (needed <= extra) return extra;
    extra = needed;
  }
}

Status BuildGlobalMapPage(const Format& format, uint32_t page_count,
                          std::span<const uint32_t> bitmap_page_numbers,
                          std::vector<uint8_t>* page1,
                          std::vector<UsageBitmapPage>* bitmap_pages) {
  if (page_count < 2)
    return Status::Error(ErrorKind::kInvalidArgument, "a database has at least two pages");
  UsageMapImage map;
  const size_t needed = GlobalMapBitmapPageCount(format, page_count);
  if (needed == 0) {
    if (!bitmap_page_numbers.empty())
      return Status::Error(ErrorKind::kInvalidArgument,
                           "bitmap pages given for a global map that fits inline");
    map.row.assign(GlobalInlineRowSize(format, page_count), 0);
    map.row[0] = kUsageMapInline;  // start page 0
    const uint32_t capacity = InlineCapacity(map.row.size());
    for (uint32_t page : PageRange{page_count, capacity})
      MarkBit(map.row, kInlineHeaderSize, page);
  } else {
    std::vector<uint32_t> ranges(needed);
    for (size_t i = 0; i < needed; ++i) ranges[i] = uint32_t(i);
    const uint32_t covered = uint32_t(needed) * UsageBitmapPageSpan(format);
    Status s = BuildReference(format, ranges, bitmap_page_numbers,
                              PageRange{page_count, covered}, &map);
    if (!s.ok()) return s;
  }

  DataPageBuilder page(format, kGlobalMapOwner);
  const std::vector<uint8_t> second_row(map.row.size(), 0);
  if (!page.Add(map.row) || !page.Add(second_row))
    return Status::Error(ErrorKind::kInvalidArgument, "the global map rows do not fit on page 1");
  *page1 = page.page();
  *bitmap_pages = std::move(map.bitmap_pages);
  return Status::Ok();
}

}  // namespace jet
