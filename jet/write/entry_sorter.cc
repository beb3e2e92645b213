// EntrySorter: the in-memory buffer, the run files and their merge (see entry_sorter.h).
//
// Run file (little-endian), one record per entry, in (key, row) order, no two equal:
//
//   offset  size  field
//   0       4     key size k
//   4       4     row pointer (page << 8 | row)
//   8       1     tag
//   9       k     key bytes
//
// Nothing else is in the file. What a reader needs to trust it -- the record count,
// the byte count, the longest key and a checksum over the records -- stays in memory
// (RunFile), so a damaged file cannot vouch for itself.
#include "jet/write/entry_sorter.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "jet/base/byte_order.h"

namespace jet {
namespace {

constexpr size_t kRecordHeaderSize = 9;
constexpr size_t kReadBufferSize = size_t(64) << 10;
constexpr size_t kWriteBufferSize = size_t(64) << 10;
// Runs merged at once. More runs are first merged into longer ones, so open files and
// read buffers stay bounded (64 x 64 KiB) however small the budget is.
constexpr size_t kMaxMergeWidth = 64;
// The most a parked sorter keeps in memory (see Finish).
constexpr size_t kParkedBufferBytes = size_t(64) << 10;

int CompareEntries(std::string_view a_key, uint32_t a_row, std::string_view b_key, uint32_t b_row) {
  const int c = a_key.compare(b_key);  // char_traits<char>::compare is memcmp: unsigned bytes
  if (c != 0) return c;
  return a_row < b_row ? -1 : a_row > b_row ? 1 : 0;
}

// Mixes one record into a run's checksum; order-dependent.
uint64_t MixRecord(uint64_t sum, std::string_view key, uint32_t row, uint8_t tag) {
  uint64_t x = std::hash<std::string_view>()(key) ^ (uint64_t(row) << 8 | tag) * 0x9E3779B97F4A7C15ull;
  x ^= sum + 0x632BE59BD9B4E019ull + (sum << 6) + (sum >> 2);
  x ^= x >> 31;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 29;
  return x;
}

Status RunDamaged(const std::string& path, const std::string& what) {
  return Status::Error(ErrorKind::kIoError, "sort scratch file " + path + " is damaged: " + what);
}

// One entry of the in-memory buffer; the key lives in the buffer's arena.
// Invariant: arena[offset, offset + size) is the key; prefix is its first 8 bytes
// big-endian, zero-padded, so that unequal prefixes order as the keys do.
struct BufferedEntry {
  uint64_t prefix;
  size_t offset;
  uint32_t size;
  uint32_t row;
  uint8_t tag;
};

uint64_t KeyPrefix(std::string_view key) {
  uint8_t bytes[8] = {};
  std::memcpy(bytes, key.data(), std::min<size_t>(8, key.size()));
  uint64_t prefix = 0;
  for (uint8_t b : bytes) prefix = prefix << 8 | b;
  return prefix;
}

// What the sorter remembers of a run it wrote.
struct RunFile {
  std::string path;
  uint64_t entries = 0;
  uint64_t bytes = 0;
  uint32_t longest_key = 0;
  uint64_t checksum = 0;
};

// Writes one run file record by record, buffered.
class RunWriter {
 public:
  RunWriter(Env* env, std::string path) : env_(env) { run_.path = std::move(path); }

  Status Open() { return env_->NewWritableFile(run_.path, 0600, &file_); }
  Status Add(std::string_view key, uint32_t row, uint8_t tag) {
    uint8_t header[kRecordHeaderSize];
    StoreLe32(header, uint32_t(key.size()));
    StoreLe32(header + 4, row);
    header[8] = tag;
    Status s = Put(header, sizeof(header));
    if (s.ok()) s = Put(key.data(), key.size());
    if (!s.ok()) return s;
    ++run_.entries;
    run_.bytes += kRecordHeaderSize + key.size();
    run_.longest_key = std::max(run_.longest_key, uint32_t(key.size()));
    run_.checksum = MixRecord(run_.checksum, key, row, tag);
    return Status::Ok();
  }
  Status Finish(RunFile* run) {
    Status s = Drain();
    if (s.ok()) s = file_->Close();
    file_.reset();
    if (s.ok()) *run = run_;
    return s;
  }

 private:
  Status Put(const void* data, size_t size) {
    if (buffer_.size() + size > kWriteBufferSize) {
      Status s = Drain();
      if (!s.ok()) return s;
      if (size > kWriteBufferSize) return file_->Append(data, size);
    }
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return Status::Ok();
  }
  Status Drain() {
    if (buffer_.empty()) return Status::Ok();
    Status s = file_->Append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return s;
  }

  Env* env_;
  RunFile run_;
  std::unique_ptr<WritableFile> file_;
  std::vector<uint8_t> buffer_;
};

// A sorted stream the merge draws from: a run file or the last in-memory buffer.
class Source {
 public:
  virtual ~Source() = default;
  // Moves to the next entry; *done past the last. Must be called once before current().
  virtual Status Advance(bool* done) = 0;
  virtual std::string_view key() const = 0;
  virtual uint32_t row() const = 0;
  virtual uint8_t tag() const = 0;
};

// Reads a run file back, checking every record against what was written.
class RunReader final : public Source {
 public:
  RunReader(Env* env, const RunFile& run) : env_(env), run_(run) {}

  Status Open() {
    buffer_.resize(kReadBufferSize);
    return env_->NewSequentialFile(run_.path, &file_);
  }
  Status Advance(bool* done) override {
    if (read_entries_ == run_.entries) {
      // The end: nothing may follow, and the records must be those written.
      uint8_t extra;
      Status s = Read(&extra, 1, /*at_end_ok=*/true);
      if (!s.ok()) return s;
      if (!at_end_) return RunDamaged(run_.path, "bytes after the last record");
      if (checksum_ != run_.checksum) return RunDamaged(run_.path, "checksum mismatch");
      *done = true;
      return Status::Ok();
    }
    uint8_t header[kRecordHeaderSize];
    Status s = Read(header, sizeof(header), false);
    if (!s.ok()) return s;
    const uint32_t size = LoadLe32(header);
    if (size > run_.longest_key) return RunDamaged(run_.path, "a key longer than any written");
    previous_.swap(key_);
    const uint32_t previous_row = row_;
    key_.resize(size);
    s = Read(key_.data(), size, false);
    if (!s.ok()) return s;
    row_ = LoadLe32(header + 4);
    tag_ = header[8];
    if (read_entries_ > 0 && CompareEntries(previous_, previous_row, key_, row_) >= 0)
      return RunDamaged(run_.path, "records out of order");
    checksum_ = MixRecord(checksum_, key_, row_, tag_);
    ++read_entries_;
    *done = false;
    return Status::Ok();
  }
  std::string_view key() const override { return key_; }
  uint32_t row() const override { return row_; }
  uint8_t tag() const override { return tag_; }

 private:
  // Reads exactly `size` bytes; a short file is damage unless `at_end_ok` (then at_end_).
  Status Read(void* out, size_t size, bool at_end_ok) {
    uint8_t* to = static_cast<uint8_t*>(out);
    while (size > 0) {
      if (position_ == filled_) {
        size_t got = 0;
        Status s = file_->Read(buffer_.data(), buffer_.size(), &got);
        if (!s.ok()) return s;
        if (got == 0) {
          if (at_end_ok) {
            at_end_ = true;
            return Status::Ok();
          }
          return RunDamaged(run_.path, "it ends inside a record");
        }
        position_ = 0;
        filled_ = got;
      }
      const size_t n = std::min(size, filled_ - position_);
      std::memcpy(to, buffer_.data() + position_, n);
      position_ += n;
      to += n;
      size -= n;
    }
    return Status::Ok();
  }

  Env* env_;
  RunFile run_;
  std::unique_ptr<SequentialFile> file_;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0;
  size_t filled_ = 0;
  bool at_end_ = false;
  uint64_t read_entries_ = 0;
  uint64_t checksum_ = 0;
  std::string key_, previous_;
  uint32_t row_ = 0;
  uint8_t tag_ = 0;
};

// The sorted buffer, entry by entry.
class BufferSource final : public Source {
 public:
  BufferSource(const std::string* arena, const std::vector<BufferedEntry>* entries)
      : arena_(arena), entries_(entries) {}
  Status Advance(bool* done) override {
    if (started_) ++next_;
    started_ = true;
    *done = next_ >= entries_->size();
    return Status::Ok();
  }
  std::string_view key() const override {
    const BufferedEntry& e = (*entries_)[next_];
    return std::string_view(*arena_).substr(e.offset, e.size);
  }
  uint32_t row() const override { return (*entries_)[next_].row; }
  uint8_t tag() const override { return (*entries_)[next_].tag; }

 private:
  const std::string* arena_;
  const std::vector<BufferedEntry>* entries_;
  size_t next_ = 0;
  bool started_ = false;
};

// Merges sources with a binary heap of the ones not yet exhausted.
class Merger {
 public:
  // Takes sources that have not been advanced yet.
  Status Start(std::vector<std::unique_ptr<Source>> sources) {
    sources_ = std::move(sources);
    for (size_t i = 0; i < sources_.size(); ++i) {
      bool done;
      Status s = sources_[i]->Advance(&done);
      if (!s.ok()) return s;
      if (!done) heap_.push_back(i);
    }
    std::make_heap(heap_.begin(), heap_.end(), Greater());
    return Status::Ok();
  }
  bool empty() const { return heap_.empty(); }
  // The least current entry of all sources. Only when !empty().
  const Source& top() const { return *sources_[heap_.front()]; }
  // Drops top() and moves its source on. The source stays at the top while it still
  // holds the least entry, as it does for a long stretch of one run: sifting it down
  // from there costs a comparison or two, where taking it out and putting it back in
  // cost both ways through the heap.
  Status Pop() {
    bool done;
    Status s = sources_[heap_.front()]->Advance(&done);
    if (!s.ok()) return s;
    // An exhausted source has no entry to compare: the last one takes its place.
    if (done) {
      heap_.front() = heap_.back();
      heap_.pop_back();
    }
    if (!heap_.empty()) SiftTopDown();
    return Status::Ok();
  }

 private:
  // Restores the heap order below a top that may no longer hold the least entry.
  void SiftTopDown() {
    const GreaterThan greater = Greater();
    const size_t n = heap_.size();
    for (size_t i = 0;;) {
      size_t least = i;
      const size_t left = 2 * i + 1, right = left + 1;
      if (left < n && greater(heap_[least], heap_[left])) least = left;
      if (right < n && greater(heap_[least], heap_[right])) least = right;
      if (least == i) return;
      std::swap(heap_[i], heap_[least]);
      i = least;
    }
  }

  // Heap order: the least entry on top; equal entries by source, for a stable result.
  struct GreaterThan {
    const Merger* m;
    bool operator()(size_t a, size_t b) const {
      const Source& x = *m->sources_[a];
      const Source& y = *m->sources_[b];
      const int c = CompareEntries(x.key(), x.row(), y.key(), y.row());
      return c != 0 ? c > 0 : a > b;
    }
  };
  GreaterThan Greater() const { return GreaterThan{this}; }

  std::vector<std::unique_ptr<Source>> sources_;
  std::vector<size_t> heap_;  // indexes into sources_
};

}  // namespace

struct EntrySorter::Impl {
  Env* env;
  std::string scratch_beside;
  size_t memory_budget;

  // The buffer being filled. Its memory: arena bytes plus one BufferedEntry each.
  std::string arena;
  std::vector<BufferedEntry> buffer;
  bool buffer_in_order = true;  // every entry so far came after the one before it

  std::vector<RunFile> runs;                 // written and complete
  std::vector<std::string> scratch_paths;    // every scratch file ever created
  uint64_t added = 0;
  size_t spilled_runs = 0;
  bool finished = false;
  Status failure;  // once set, every later call returns it

  Merger merger;
  bool output_started = false;  // the merger was started since Finish or Rewind
  bool any_output = false;
  std::string last_key;
  uint32_t last_row = 0;

  // The buffer's memory as allocated: capacity, not size, since growth by doubling
  // would otherwise take up to twice the budget.
  size_t BufferBytes() const { return arena.capacity() + buffer.capacity() * sizeof(BufferedEntry); }

  // Grows the buffer for one more entry with a key of `key_size` bytes, geometrically
  // but never past the budget; false when the entry does not fit within it.
  bool MakeRoom(size_t key_size) {
    size_t arena_room = arena.capacity(), entry_room = buffer.capacity();
    const bool arena_grows = arena.size() + key_size > arena_room;
    const bool entries_grow = buffer.size() + 1 > entry_room;
    if (!arena_grows && !entries_grow) return true;
    if (arena_grows) arena_room = arena.size() + key_size;
    if (entries_grow) entry_room = buffer.size() + 1;
    const size_t needed = arena_room + entry_room * sizeof(BufferedEntry);
    if (needed > memory_budget) return false;
    const size_t spare = (memory_budget - needed) / (arena_grows && entries_grow ? 2 : 1);
    if (arena_grows) arena.reserve(arena_room + std::min(arena_room, spare));
    if (entries_grow) buffer.reserve(entry_room + std::min(entry_room, spare / sizeof(BufferedEntry)));
    return true;
  }

  bool Less(const BufferedEntry& a, const BufferedEntry& b) const {
    if (a.prefix != b.prefix) return a.prefix < b.prefix;
    const std::string_view all(arena);
    const int c = all.substr(a.offset, a.size).compare(all.substr(b.offset, b.size));
    return c != 0 ? c < 0 : a.row < b.row;
  }

  // Input that arrives in order (a primary key's entries often do) needs no sort.
  void SortBuffer() {
    if (!buffer_in_order)
      std::sort(buffer.begin(), buffer.end(), [this](const BufferedEntry& a, const BufferedEntry& b) { return Less(a, b); });
    buffer_in_order = true;
  }

  std::string NewScratchPath() {
    std::string path = TemporaryPathBeside(scratch_beside);
    scratch_paths.push_back(path);
    return path;
  }

  // Writes the sorted buffer as one run (each (key, row) once) and empties it.
  Status Spill() {
    SortBuffer();
    RunWriter writer(env, NewScratchPath());
    Status s = writer.Open();
    std::string_view previous;
    uint32_t previous_row = 0;
    for (size_t i = 0; s.ok() && i < buffer.size(); ++i) {
      const BufferedEntry& e = buffer[i];
      const std::string_view key = std::string_view(arena).substr(e.offset, e.size);
      if (i > 0 && key == previous && e.row == previous_row) continue;
      s = writer.Add(key, e.row, e.tag);
      previous = key;
      previous_row = e.row;
    }
    RunFile run;
    if (s.ok()) s = writer.Finish(&run);
    if (!s.ok()) return s;
    runs.push_back(run);
    ++spilled_runs;
    arena.clear();
    buffer.clear();
    return Status::Ok();
  }

  // Merges the first `count` runs into one new run, which goes to the end of the list.
  Status MergeRuns(size_t count) {
    std::vector<std::unique_ptr<Source>> sources;
    for (size_t i = 0; i < count; ++i) {
      auto reader = std::make_unique<RunReader>(env, runs[i]);
      Status s = reader->Open();
      if (!s.ok()) return s;
      sources.push_back(std::move(reader));
    }
    Merger merge;
    Status s = merge.Start(std::move(sources));
    RunWriter writer(env, NewScratchPath());
    if (s.ok()) s = writer.Open();
    std::string previous;
    uint32_t previous_row = 0;
    bool any = false;
    while (s.ok() && !merge.empty()) {
      const Source& top = merge.top();
      if (!any || top.key() != previous || top.row() != previous_row) {
        s = writer.Add(top.key(), top.row(), top.tag());
        previous.assign(top.key());
        previous_row = top.row();
        any = true;
      }
      if (s.ok()) s = merge.Pop();
    }
    RunFile merged;
    if (s.ok()) s = writer.Finish(&merged);
    if (!s.ok()) return s;
    for (size_t i = 0; i < count; ++i) RemoveScratch(runs[i].path);
    runs.erase(runs.begin(), runs.begin() + ptrdiff_t(count));
    runs.push_back(merged);
    return Status::Ok();
  }

  // Forgets `path` only once it is gone: a failed removal is tried again by the
  // destructor (and, should that fail too, by the next run's stale-temporary sweep).
  void RemoveScratch(const std::string& path) {
    if (!env->RemoveFile(path).ok()) return;
    scratch_paths.erase(std::remove(scratch_paths.begin(), scratch_paths.end(), path), scratch_paths.end());
  }

  // (Re)starts the output at the first entry: the runs read from their beginnings,
  // the sorted buffer from its first entry.
  Status StartOutput() {
    merger = Merger();
    any_output = false;
    last_key.clear();
    std::vector<std::unique_ptr<Source>> sources;
    for (const RunFile& run : runs) {
      auto reader = std::make_unique<RunReader>(env, run);
      Status s = reader->Open();
      if (!s.ok()) return s;
      sources.push_back(std::move(reader));
    }
    sources.push_back(std::make_unique<BufferSource>(&arena, &buffer));
    return merger.Start(std::move(sources));
  }

  Status Fail(Status s) {
    failure = s;
    return s;
  }
};

EntrySorter::EntrySorter(Env* env, std::string scratch_beside, size_t memory_budget)
    : impl_(std::make_unique<Impl>()) {
  impl_->env = env;
  impl_->scratch_beside = std::move(scratch_beside);
  impl_->memory_budget = memory_budget;
}

EntrySorter::~EntrySorter() {
  impl_->merger = Merger();  // closes the run files before they are removed
  for (const std::string& path : impl_->scratch_paths) impl_->env->RemoveFile(path);
}

Status EntrySorter::Add(std::string_view key, RowId row, uint8_t tag) {
  Impl& m = *impl_;
  if (!m.failure.ok()) return m.failure;
  if (m.finished) return Status::Error(ErrorKind::kInvalidArgument, "EntrySorter::Add after Finish");
  if (key.size() > UINT32_MAX) return Status::Error(ErrorKind::kInvalidArgument, "index key too long to sort");
  if (!m.MakeRoom(key.size()) && !m.buffer.empty()) {
    Status s = m.Spill();
    if (!s.ok()) return m.Fail(s);
    m.MakeRoom(key.size());  // a key larger than the whole budget still goes in, alone
  }
  m.buffer.push_back(BufferedEntry{KeyPrefix(key), m.arena.size(), uint32_t(key.size()), row.ToPointer(), tag});
  m.arena.append(key);
  if (m.buffer_in_order && m.buffer.size() > 1 && m.Less(m.buffer.back(), m.buffer[m.buffer.size() - 2]))
    m.buffer_in_order = false;
  ++m.added;
  return Status::Ok();
}

Status EntrySorter::Finish(bool park) {
  Impl& m = *impl_;
  if (!m.failure.ok()) return m.failure;
  if (m.finished) return Status::Error(ErrorKind::kInvalidArgument, "EntrySorter::Finish called twice");
  m.finished = true;
  // The buffer stays in memory as the last source; it counts as one more merge input.
  while (m.runs.size() + 2 > kMaxMergeWidth) {
    Status s = m.MergeRuns(std::min(kMaxMergeWidth, m.runs.size()));
    if (!s.ok()) return m.Fail(s);
  }
  // A parked sorter keeps little memory: a large last buffer goes to disk as well.
  if (park && m.BufferBytes() > kParkedBufferBytes) {
    Status s = m.Spill();
    if (!s.ok()) return m.Fail(s);
    std::string().swap(m.arena);  // and its memory goes back, not only its contents
    std::vector<BufferedEntry>().swap(m.buffer);
  }
  m.SortBuffer();
  return Status::Ok();
}

Status EntrySorter::Rewind() {
  Impl& m = *impl_;
  if (!m.failure.ok()) return m.failure;
  if (!m.finished) return Status::Error(ErrorKind::kInvalidArgument, "EntrySorter::Rewind before Finish");
  m.merger = Merger();
  m.output_started = false;
  return Status::Ok();
}

Status EntrySorter::Next(SortedEntry* entry, bool* done) {
  Impl& m = *impl_;
  if (!m.failure.ok()) return m.failure;
  if (!m.finished) return Status::Error(ErrorKind::kInvalidArgument, "EntrySorter::Next before Finish");
  if (!m.output_started) {
    Status s = m.StartOutput();
    if (!s.ok()) return m.Fail(s);
    m.output_started = true;
  }
  while (!m.merger.empty()) {
    const Source& top = m.merger.top();
    const bool repeat = m.any_output && top.row() == m.last_row && top.key() == m.last_key;
    if (!repeat) {
      entry->key.assign(top.key());
      entry->row = RowId::FromPointer(top.row());
      entry->tag = top.tag();
      m.last_key = entry->key;
      m.last_row = top.row();
      m.any_output = true;
    }
    Status s = m.merger.Pop();
    if (!s.ok()) return m.Fail(s);
    if (!repeat) {
      *done = false;
      return Status::Ok();
    }
  }
  m.merger = Merger();  // closes the run files until a Rewind
  *done = true;
  return Status::Ok();
}

uint64_t EntrySorter::added() const { return impl_->added; }
size_t EntrySorter::spilled_runs() const { return impl_->spilled_runs; }

}  // namespace jet
