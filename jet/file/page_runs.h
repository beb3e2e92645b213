// Page runs: reading many pages of a file with few calls. A pass over every page (a
// census of page types and owners), a table's data pages in order and a copy of a
// file each read pages that mostly lie one after another, and so do rows fetched in
// key order and long values of a compacted file; a call a page costs more than the
// copying on large files. Each reader falls back to page-by-page reads where a run
// cannot be read, so a page that cannot be read fails alone, as with
// PageFile::ReadPage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "jet/base/status.h"

namespace jet {

class PageFile;

// Pages [first, end) of `file` in order: `visit` gets each page that reads (valid
// during the call), `unreadable` (when given) each page that does not.
void ForEachPage(const PageFile& file, uint32_t first, uint32_t end,
                 const std::function<void(uint32_t number, const uint8_t* page)>& visit,
                 const std::function<void(uint32_t number)>& unreadable = nullptr);

// The pages of a list, read in its order: a run of consecutive page numbers (how a
// table's data pages mostly lie) comes in with one read, up to kPagesPerRead pages.
class PageRunReader {
 public:
  static constexpr size_t kPagesPerRead = 16;

  PageRunReader(const PageFile& file, std::span<const uint32_t> pages);

  // Page pages[i], valid until the next call; nullptr when it cannot be read.
  const uint8_t* Page(size_t i);

 private:
  const PageFile& file_;
  std::span<const uint32_t> pages_;
  const size_t page_size_;
  std::vector<uint8_t> buffer_;
  size_t held_first_ = 0;
  size_t held_count_ = 0;  // pages from pages_[held_first_] on in buffer_
};

// Pages asked for one at a time, read ahead while they come in ascending order: asked
// for a page shortly after the one asked for before (the next one, or one a few pages
// on) or the page after a run it holds, it reads that page and the ones after it with
// one call. The first run is kFirstRun pages, and each run after it twice the one
// before, up to kPagesPerRead (within the file): a long value of two or three pages,
// read by a reader made for it alone, reads hardly more than it needs, and a long
// ascending stretch still comes in a few calls. The two runs read last are held, so
// that a value whose pages another value's page interrupts, or two values read in
// turn, keep theirs. Any other page is read alone into a slot of its own, so that the
// runs stay for the pages that go back and forth between two neighbours (rows in key
// order often do); the next run is the first again.
class PageReadAhead {
 public:
  static constexpr uint32_t kFirstRun = 2;
  static constexpr uint32_t kPagesPerRead = 16;

  explicit PageReadAhead(const PageFile& file);

  // Page `number` in *page, valid until the next call; fails as ReadPage does.
  Status Get(uint32_t number, const uint8_t** page);

 private:
  struct Run {
    std::vector<uint8_t> bytes;
    uint32_t first = 0;
    uint32_t count = 0;  // pages from `first` on in `bytes`
  };
  const PageFile& file_;
  Run runs_[2];
  size_t recent_ = 0;  // runs_[recent_] was used last; the other is replaced first
  uint32_t next_run_ = kFirstRun;  // pages the next run reads; kFirstRun..kPagesPerRead
  std::vector<uint8_t> single_;
  uint32_t single_number_ = 0;  // the page in single_; 0: none
  uint32_t last_ = 0;           // the page asked for before; 0: none
};

}  // namespace jet
