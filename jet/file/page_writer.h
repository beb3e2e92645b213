// PageWriter: the destination file of a compaction, written page by page.
// It creates a new file (never one that exists), hands out page numbers in increasing
// order, writes each page image at its number (RC4-encoding it for files with a
// database key; page 0 never is), and on Finish checks that every page handed out
// was written, then flushes and closes. Pages written one after another are held, up
// to kHeldPages of them, and go to the file with one write: a compaction writes its
// pages in order, and one call a page cost more than the copying.
//
// The builders that produce pages (long values, indexes, ...) talk to a PageSink, so
// that tests can collect pages in memory and the compaction can write them to disk.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

// Where builders put the pages they produce.
class PageSink {
 public:
  virtual ~PageSink() = default;
  virtual const Format& format() const = 0;
  // The next free page number; numbers only grow.
  virtual Status Allocate(uint32_t* page_number) = 0;
  // Stores a page_size image at an allocated page number (at most once per number).
  virtual Status Write(uint32_t page_number, std::span<const uint8_t> page) = 0;
};

// Largest page count of a file: 1 GiB of 2 KB pages (Jet 3), 2 GiB of 4 KB pages (Jet 4).
uint32_t MaxPageCount(const Format& format);

class PageWriter final : public PageSink {
 public:
  // Creates `path`, which must not exist (kDestinationExists if it does), for a file
  // of `format`; `db_key` != 0 makes every page but page 0 RC4-encoded on write.
  static Status Create(Env* env, const std::string& path, const Format& format,
                       uint32_t db_key, unsigned mode, std::unique_ptr<PageWriter>* writer);

  // A writer destroyed before Finish succeeded closes and removes its file, so a
  // failed compaction leaves nothing behind.
  ~PageWriter() override;

  const Format& format() const override { return format_; }
  const std::string& path() const { return path_; }
  uint32_t page_count() const { return page_count_; }  // pages handed out so far

  // kNoSpace once the writer's page limit would be passed.
  Status Allocate(uint32_t* page_number) override;
  // kInvalidArgument for a number not handed out, a page written twice or an image
  // of the wrong size; an I/O failure is returned (by this call or, for a page still
  // held, by a later one or Finish) and repeated by every later call.
  Status Write(uint32_t page_number, std::span<const uint8_t> page) override;
  // Checks that every allocated page was written, then Sync and Close. The file stays
  // in place for the caller to verify and rename (or remove, if verification fails).
  Status Finish();
  // Closes and removes the file (also what the destructor does before Finish).
  void Abandon();

 private:
  static constexpr uint32_t kHeldPages = 64;

  PageWriter(Env* env, std::string path, const Format& format, uint32_t db_key,
             std::unique_ptr<WritableFile> file);
  // Writes the held pages to the file.
  Status WriteHeld();

  Env* env_;
  std::string path_;
  Format format_;
  uint32_t db_key_;
  uint32_t max_pages_;  // MaxPageCount(format_): page_count_ never passes it
  std::unique_ptr<WritableFile> file_;  // null once finished or abandoned
  uint32_t page_count_ = 0;
  std::vector<bool> written_;           // written_[n]: page n was written (held or on disk)
  // Pages [held_first_, held_first_ + held_count_) as they go to disk (encoded), in
  // held_; written out before a page that does not follow them, when kHeldPages are
  // held, and by Finish.
  std::vector<uint8_t> held_;
  uint32_t held_first_ = 0;
  uint32_t held_count_ = 0;
  Status failure_;                      // first I/O failure, sticky
  bool finished_ = false;
};

}  // namespace jet
