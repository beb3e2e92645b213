// libFuzzer target over the compaction: the input, written to a scratch file,
// compacted into another. A failure is fine; a crash is not, and neither is a file
// left behind by a failed compaction (its temporary file or a partial destination).
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "jet/maintain/engine.h"
#include "jet/base/env.h"
#include "tests/fuzz/scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzz_support::ScratchFolder();
  const std::string source = folder + "/source.mdb";
  const std::string destination = folder + "/compacted.mdb";
  if (!fuzz_support::WriteInput(source, data, size)) std::abort();
  jet::Status s = jet::CompactDatabase(source, destination, jet::Env::Default());
  if (!s.ok() && ::access(destination.c_str(), F_OK) == 0) std::abort();  // failed, yet a result
  const char* const made[] = {"source.mdb", "compacted.mdb"};
  fuzz_support::ExpectEmptyAfterRemoving(made, 2);
  return 0;
}
