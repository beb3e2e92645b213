// RowKeyPipeline: the index keys of a table's rows computed on a second thread while
// the calling thread reads and writes the next rows. A pass that rebuilds indexes
// spends much of its time on the keys and their sorts (a third of the compaction's
// planning pass over the benchmark's largest table); with two cores that time overlaps
// the rest of the pass.
//
// The caller adds rows in order; each row's key values (the columns it names, copied)
// go to the second thread in batches, where `keys_of_row` runs for every row in the
// order added, until it fails. Whatever the timing, the outcome is the one a single
// thread gives: the same calls in the same order, and the first failure in row order
// (rows after a failure are never given to `keys_of_row`). `keys_of_row` owns what it
// touches until Finish returns: the caller reads it only after.
//
// Without a second thread (the constructor's `threaded` false, or no thread to be
// had) `keys_of_row` runs inside Add on the caller's values, uncopied.
//
// The second thread's own work comes in bursts (a sort spills a run now and then),
// so up to kMaxBatches batches may wait for it before Add blocks. Memory: those
// batches and two more, each about kBatchValues Values (the key columns of
// kBatchValues / key columns rows, 256 rows at least).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "jet/base/status.h"
#include "jet/file/format.h"
#include "jet/read/value.h"

namespace jet {

class RowKeyPipeline {
 public:
  // `values` has a place for every column, but only the key columns are sure to
  // hold the row's values (the others may be null); `row` and `ordinal` are as given
  // to Add.
  using KeysOfRow = std::function<Status(const std::vector<Value>& values, RowId row, size_t ordinal)>;

  static constexpr size_t kBatchValues = 16384;
  static constexpr size_t kMaxBatches = 8;

  // `columns`: the size of a row's values; `key_columns`: the positions the keys read
  // (IndexKeyColumns, jet/write/index_key.h).
  RowKeyPipeline(bool threaded, size_t columns, std::vector<size_t> key_columns, KeysOfRow keys_of_row);
  ~RowKeyPipeline();  // abandons the rows not yet done and joins the thread
  RowKeyPipeline(const RowKeyPipeline&) = delete;
  RowKeyPipeline& operator=(const RowKeyPipeline&) = delete;

  // Adds one row; only before Finish. Fails with the first failure of `keys_of_row`
  // once it is known here (the caller may stop adding then, or go on: later rows are
  // ignored).
  Status Add(const std::vector<Value>& values, RowId row, size_t ordinal);
  // Waits until every row added is done; the first failure in row order, if any.
  Status Finish();

 private:
  // Rows' key values, key_columns_.size() a row, row after row.
  struct Batch {
    std::vector<Value> values;
    std::vector<RowId> rows;
    std::vector<size_t> ordinals;
    size_t count = 0;
  };

  void Run();
  void Process(Batch* batch, std::vector<Value>* values);
  // Queues the filled batch for the second thread, waiting while kMaxBatches are queued.
  void Hand();
  std::unique_ptr<Batch> NewBatch();

  const size_t columns_;
  const size_t batch_rows_;
  const std::vector<size_t> key_columns_;
  const KeysOfRow keys_of_row_;
  std::unique_ptr<Batch> filling_;  // the calling thread's
  Status failure_;  // the first failure; guarded by mutex_ while the thread runs

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  // Guarded by mutex_: batches waiting for the thread, the one it works on, and those
  // it is done with (to be filled again).
  std::deque<std::unique_ptr<Batch>> queued_;
  bool working_ = false;
  std::vector<std::unique_ptr<Batch>> spare_;
  bool stop_ = false;
};

}  // namespace jet
