// Row pointer index: where a row pointer (page << 8 | row) lies in an ascending list of
// them, found through its page first. Index entries come in key order, so the rows
// they point at are looked up all over the list; a binary search of the whole list
// goes to memory far apart for each of them, while a table of where each page's
// pointers begin narrows it to the few rows of one page.
#pragma once

#include <cstdint>
#include <vector>

namespace jet {

class RowPointerIndex {
 public:
  // Indexes `pointers`, ascending and complete; Find must be given the same list.
  void Build(const std::vector<uint32_t>& pointers);

  // Position of `pointer` in `pointers`, or -1.
  int64_t Find(const std::vector<uint32_t>& pointers, uint32_t pointer) const;

 private:
  // page_begin_[p - first_page_] is the position of the first pointer on page p or a
  // later one. Left empty when the pages of the list are too sparse for it to pay (its
  // size then stays within a few times that of the list); Find then searches it all.
  uint32_t first_page_ = 0;
  std::vector<uint32_t> page_begin_;
};

}  // namespace jet
