// Page runs: whole-file passes and page lists read a run of pages a call.
#include "jet/file/page_runs.h"

#include <algorithm>

#include "jet/file/page_file.h"

namespace jet {
namespace {

// Pages a whole-file pass reads with one call.
constexpr uint32_t kPassRun = 64;

}  // namespace

void ForEachPage(const PageFile& file, uint32_t first, uint32_t end,
                 const std::function<void(uint32_t number, const uint8_t* page)>& visit,
                 const std::function<void(uint32_t number)>& unreadable) {
  const size_t page_size = file.page_size();
  end = std::min(end, file.page_count());
  std::vector<uint8_t> buffer(size_t(kPassRun) * page_size);
  for (uint32_t run_start = first; run_start < end;) {
    const uint32_t run = std::min(kPassRun, end - run_start);
    if (run > 1 && file.ReadPages(run_start, run, buffer.data()).ok()) {
      for (uint32_t k = 0; k < run; ++k) visit(run_start + k, buffer.data() + k * page_size);
    } else {
      for (uint32_t n = run_start; n < run_start + run; ++n) {
        if (file.ReadPage(n, buffer.data()).ok()) visit(n, buffer.data());
        else if (unreadable) unreadable(n);
      }
    }
    run_start += run;
  }
}

PageRunReader::PageRunReader(const PageFile& file, std::span<const uint32_t> pages)
    : file_(file), pages_(pages), page_size_(file.page_size()), buffer_(kPagesPerRead * page_size_) {}

const uint8_t* PageRunReader::Page(size_t i) {
  if (i >= held_first_ && i - held_first_ < held_count_) return buffer_.data() + (i - held_first_) * page_size_;
  held_first_ = i;
  held_count_ = 0;
  size_t run = 1;
  while (run < kPagesPerRead && i + run < pages_.size() && pages_[i + run] > pages_[i] &&
         pages_[i + run] - pages_[i] == run)
    ++run;
  if (run > 1 && file_.ReadPages(pages_[i], uint32_t(run), buffer_.data()).ok()) {
    held_count_ = run;
  } else if (file_.ReadPage(pages_[i], buffer_.data()).ok()) {
    held_count_ = 1;
  } else {
    return nullptr;
  }
  return buffer_.data();
}

// The buffers are made on first use: readers that hold one are made for each row or
// value in places, and most of those read a page or none.
PageReadAhead::PageReadAhead(const PageFile& file) : file_(file) {}

Status PageReadAhead::Get(uint32_t number, const uint8_t** page) {
  bool ahead = last_ != 0 && number > last_ && number - last_ <= kPagesPerRead;
  last_ = number;
  for (size_t i = 0; i < 2; ++i) {
    const Run& run = runs_[i];
    if (number >= run.first && number - run.first < run.count) {
      recent_ = i;
      *page = run.bytes.data() + size_t(number - run.first) * file_.page_size();
      return Status::Ok();
    }
    ahead = ahead || (run.count > 0 && number == run.first + run.count);  // the run goes on
  }
  if (number != 0 && number == single_number_) {
    *page = single_.data();
    return Status::Ok();
  }
  if (ahead && number < file_.page_count()) {
    const uint32_t count = std::min(next_run_, file_.page_count() - number);
    Run& run = runs_[1 - recent_];
    run.count = 0;
    run.bytes.resize(size_t(kPagesPerRead) * file_.page_size());
    if (count > 1 && file_.ReadPages(number, count, run.bytes.data()).ok()) {
      run.first = number;
      run.count = count;
      recent_ = 1 - recent_;
      next_run_ = std::min(kPagesPerRead, 2 * next_run_);
      *page = run.bytes.data();
      return Status::Ok();
    }
  }
  next_run_ = kFirstRun;
  single_number_ = 0;
  single_.resize(file_.page_size());
  Status s = file_.ReadPage(number, single_.data());
  if (!s.ok()) return s;
  single_number_ = number;
  *page = single_.data();
  return Status::Ok();
}

}  // namespace jet
