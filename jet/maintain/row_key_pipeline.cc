// RowKeyPipeline: the hand-over of batches of key values between the two threads.
#include "jet/maintain/row_key_pipeline.h"

#include <algorithm>
#include <system_error>
#include <utility>

namespace jet {

RowKeyPipeline::RowKeyPipeline(bool threaded, size_t columns, std::vector<size_t> key_columns,
                               KeysOfRow keys_of_row)
    : columns_(columns),
      batch_rows_(std::max<size_t>(256, kBatchValues / std::max<size_t>(1, key_columns.size()))),
      key_columns_(std::move(key_columns)),
      keys_of_row_(std::move(keys_of_row)) {
  if (!threaded) return;
  filling_ = NewBatch();
  try {
    thread_ = std::thread([this] { Run(); });
  } catch (const std::system_error&) {
    filling_.reset();  // no second thread to be had: every row on this one
  }
}

RowKeyPipeline::~RowKeyPipeline() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
    queued_.clear();
  }
  changed_.notify_all();
  thread_.join();
}

std::unique_ptr<RowKeyPipeline::Batch> RowKeyPipeline::NewBatch() {
  auto batch = std::make_unique<Batch>();
  batch->values.resize(batch_rows_ * key_columns_.size());
  batch->rows.resize(batch_rows_);
  batch->ordinals.resize(batch_rows_);
  return batch;
}

Status RowKeyPipeline::Add(const std::vector<Value>& values, RowId row, size_t ordinal) {
  if (!thread_.joinable()) {
    if (failure_.ok()) failure_ = keys_of_row_(values, row, ordinal);
    return failure_;
  }
  Batch& batch = *filling_;
  Value* copy = batch.values.data() + batch.count * key_columns_.size();
  for (size_t position : key_columns_) *copy++ = values[position];
  batch.rows[batch.count] = row;
  batch.ordinals[batch.count] = ordinal;
  if (++batch.count < batch_rows_) return Status::Ok();
  Hand();
  std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

Status RowKeyPipeline::Finish() {
  if (!thread_.joinable()) return failure_;
  if (filling_->count > 0) Hand();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_.empty() && !working_; });
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
  return failure_;
}

void RowKeyPipeline::Hand() {
  std::unique_ptr<Batch> next;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return queued_.size() < kMaxBatches; });
    queued_.push_back(std::move(filling_));
    if (!spare_.empty()) {
      next = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  changed_.notify_all();
  filling_ = next ? std::move(next) : NewBatch();
  filling_->count = 0;
}

void RowKeyPipeline::Run() {
  std::vector<Value> values(columns_);  // a row's, the key columns set from the batch
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [&] { return !queued_.empty() || stop_; });
    if (queued_.empty()) return;
    std::unique_ptr<Batch> batch = std::move(queued_.front());
    queued_.pop_front();
    working_ = true;
    const bool failed = !failure_.ok();
    lock.unlock();
    if (!failed) Process(batch.get(), &values);
    lock.lock();
    spare_.push_back(std::move(batch));
    working_ = false;
    changed_.notify_all();
  }
}

// On the second thread, with `batch` its own. The values move into `values`: the batch
// is only filled again.
void RowKeyPipeline::Process(Batch* batch, std::vector<Value>* values) {
  Status s;
  Value* stored = batch->values.data();
  for (size_t i = 0; s.ok() && i < batch->count; ++i) {
    for (size_t position : key_columns_) std::swap((*values)[position], *stored++);
    s = keys_of_row_(*values, batch->rows[i], batch->ordinals[i]);
  }
  if (s.ok()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  failure_ = s;
}

}  // namespace jet
