// libFuzzer target over the compaction: the input, written to a scratch file,
// compacted into another (the compaction itself, without the lock a caller takes). A
// failure is fine; a crash is not, and neither is a file left behind by a failed
// compaction (its temporary file or a partial destination).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "jet/maintain/compact.h"
#include "jet/base/env.h"
#include "tests/fuzz/scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzz_support::ScratchFolder();
  const std::string source = folder + "/source.mdb";
  const std::string destination = folder + "/compacted.mdb";
  if (!fuzz_support::WriteInput(source, data, size)) std::abort();
  // Inputs of odd size have every table's keys computed on a second thread.
  jet::CompactOptions options;
  if (size % 2 == 1) options.second_thread_pages = 0;
  jet::Status s = jet::Compact(jet::Env::Default(), source, destination, options, nullptr);
  if (!s.ok() && ::access(destination.c_str(), F_OK) == 0) std::abort();  // failed, yet a result
  const char* const made[] = {"source.mdb", "compacted.mdb"};
  fuzz_support::ExpectEmptyAfterRemoving(made, 2);
  return 0;
}
