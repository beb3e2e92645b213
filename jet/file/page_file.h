// PageFile: read-only, bounds-checked access to the pages of a database file.
// Opens the file, validates page 0 (jet/file/header.h), and hands out pages by number,
// decoding RC4-encoded pages of files that carry a database key, so that everything
// above this layer reads an encoded file like any other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "jet/file/format.h"
#include "jet/file/header.h"
#include "jet/base/status.h"

namespace jet {

class PageFile {
 public:
  // Opens `path` read-only. kNotJetDatabase when page 0 is not a Jet header or the
  // file is truncated; kUnsupportedFormat for MSISAM and encrypted ACE files.
  // A file whose length is not a whole number of pages is opened with the partial
  // last page left out (reported by has_partial_page()).
  static Status Open(const std::string& path, std::unique_ptr<PageFile>* file);
  // Opens `path` with `header` in place of the page 0 it holds: a repair that rebuilt
  // a lost or damaged page 0 reads the rest of the file through the rebuilt one.
  static Status OpenWithHeader(const std::string& path, const Header& header,
                               std::unique_ptr<PageFile>* file);
  // The same over bytes held in memory (tests, fuzzing); `bytes` must outlive it.
  static Status OpenMemory(const uint8_t* bytes, size_t size, std::unique_ptr<PageFile>* file);

  virtual ~PageFile() = default;

  virtual const Header& header() const = 0;
  const Format& format() const { return FormatFor(header().version); }
  uint32_t page_size() const { return format().page_size; }
  virtual uint32_t page_count() const = 0;
  virtual uint64_t file_size() const = 0;
  virtual bool has_partial_page() const = 0;

  // Copies page `number` (decoded) into `out`, which holds page_size() bytes.
  // kDamaged when number >= page_count(). Safe to call from several threads at once
  // (a read at an offset, no shared position); an implementation must keep it so.
  virtual Status ReadPage(uint32_t number, uint8_t* out) const = 0;
  // Copies the `count` pages from `first` on into `out` (count * page_size() bytes),
  // each as ReadPage gives it, with one read of the file where the implementation can
  // (a scan of consecutive pages then costs one call, not one a page). kDamaged when
  // any of them is past the end; on failure `out` holds nothing to use.
  virtual Status ReadPages(uint32_t first, uint32_t count, uint8_t* out) const;
};

}  // namespace jet
