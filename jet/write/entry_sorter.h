// EntrySorter: sorts index entries -- (key bytes, row id) pairs with a one-byte tag --
// in bounded memory, for the writers that rebuild an index from entries that do not
// arrive in order (a compaction maps every row to a new place; a new database meets
// its rows in insertion order).
//
// Entries are buffered until they take `memory_budget` bytes. A full buffer is sorted
// and written as one run to a scratch file named TemporaryPathBeside(scratch_beside)
// (jet/base/env.h) through the Env; Next merges the runs (and the last buffer, which is
// never spilled). A sort that fits the budget never touches the disk.
//
// Scratch files live beside the caller's destination, on the same file system and
// under the name pattern the stale-temporary cleanup knows (jet/base/stale_temporary.h), so
// a crash leaves nothing the next run does not remove. The sorter removes its own
// scratch files when it is destroyed, whatever state it is in.
//
// Order: key bytes compared as unsigned bytes (std::string's order), then the row
// pointer (page << 8 | row). Entries equal in key and row come out once (the tag of
// one of them). Every run file is read back with its length and order checked, so a
// scratch file damaged on disk fails the sort with kIoError instead of feeding a
// wrong entry to an index.
//
// Memory: about memory_budget plus one read buffer (64 KiB) per run while merging.
// At most 64 runs are merged at once; Finish first merges older runs into longer ones
// (on disk) until that holds, so open files and read buffers stay bounded too. Input
// that arrives already in order is not sorted again. Rewind replays the sorted output
// without sorting again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "jet/base/env.h"
#include "jet/file/format.h"
#include "jet/base/status.h"

namespace jet {

struct SortedEntry {
  std::string key;
  RowId row;
  uint8_t tag = 0;  // the caller's own (e.g. "a column of the key is null")
};

class EntrySorter {
 public:
  static constexpr size_t kDefaultMemoryBudget = size_t(32) << 20;

  EntrySorter(Env* env, std::string scratch_beside, size_t memory_budget = kDefaultMemoryBudget);
  ~EntrySorter();
  EntrySorter(const EntrySorter&) = delete;
  EntrySorter& operator=(const EntrySorter&) = delete;

  // Adds one entry. Only before Finish. Spilling a run can fail (Env errors as they
  // are; kNoSpace on a full disk).
  Status Add(std::string_view key, RowId row, uint8_t tag = 0);
  // Ends the input; call once, then Next until *done. `park`: the entries are to be
  // read later, perhaps while many other sorters wait too, so a last buffer of more
  // than 64 KiB goes to a run file as well. Run files are opened only by the first
  // Next and closed again once it reports *done.
  Status Finish(bool park = false);
  // The next entry in order; *done (and `entry` untouched) past the last one.
  Status Next(SortedEntry* entry, bool* done);
  // Starts the output again from the first entry (runs are read again from their
  // files), for a caller that needs the sorted entries more than once. After Finish.
  Status Rewind();

  uint64_t added() const;        // entries given to Add, duplicates included
  size_t spilled_runs() const;   // runs written to scratch files so far

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace jet
