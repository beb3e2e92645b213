// Progress of a long operation (check, repair, compaction, creation), for a caller
// that shows it. The operation calls it now and then with the work done so far and
// all the work, in units of its own choosing; `done` never goes back and never passes
// `total`. An empty function is never called.
#pragma once

#include <cstdint>
#include <functional>

namespace jet {

using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

// `progress` seen through one stage of a longer operation: the stage's done/total
// lands in [first, last) of `whole`. Empty when `progress` is.
inline ProgressFn StageProgress(const ProgressFn& progress, uint64_t first, uint64_t last,
                                uint64_t whole) {
  if (!progress) return ProgressFn();
  return [progress, first, last, whole](uint64_t done, uint64_t total) {
    const uint64_t span = last - first;
    progress(first + (total == 0 ? span : uint64_t(double(span) * double(done) / double(total))), whole);
  };
}

// Calls `progress` when it is set.
inline void ReportProgress(const ProgressFn& progress, uint64_t done, uint64_t total) {
  if (progress) progress(done, total);
}

}  // namespace jet
