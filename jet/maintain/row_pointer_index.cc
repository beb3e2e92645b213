// Row pointer index: the page table and the search through it.
#include "jet/maintain/row_pointer_index.h"

#include <algorithm>

namespace jet {

void RowPointerIndex::Build(const std::vector<uint32_t>& pointers) {
  page_begin_.clear();
  if (pointers.empty()) return;
  first_page_ = pointers.front() >> 8;
  const uint64_t span = uint64_t(pointers.back() >> 8) - first_page_ + 1;
  if (span > 4 * uint64_t(pointers.size()) + 1024) return;
  page_begin_.resize(size_t(span) + 1);
  size_t k = 0;
  for (uint64_t p = 0; p <= span; ++p) {
    while (k < pointers.size() && (pointers[k] >> 8) < first_page_ + p) ++k;
    page_begin_[size_t(p)] = uint32_t(k);
  }
}

int64_t RowPointerIndex::Find(const std::vector<uint32_t>& pointers, uint32_t pointer) const {
  auto begin = pointers.begin();
  auto end = pointers.end();
  if (!page_begin_.empty()) {
    const uint32_t page = pointer >> 8;
    if (page < first_page_ || uint64_t(page - first_page_) + 1 >= page_begin_.size()) return -1;
    end = pointers.begin() + page_begin_[page - first_page_ + 1];
    begin = pointers.begin() + page_begin_[page - first_page_];
  }
  auto it = std::lower_bound(begin, end, pointer);
  return it != end && *it == pointer ? it - pointers.begin() : -1;
}

}  // namespace jet
