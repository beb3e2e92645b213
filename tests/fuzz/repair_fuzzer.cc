// libFuzzer target over the repair: the input, written to a scratch file, repaired in
// place. Whatever the outcome, nothing but the file itself may be left in the folder.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "jet/maintain/engine.h"
#include "jet/base/env.h"
#include "tests/fuzz/scratch_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& folder = fuzz_support::ScratchFolder();
  const std::string path = folder + "/scratch.mdb";
  if (!fuzz_support::WriteInput(path, data, size)) std::abort();
  jet::Status s = jet::RepairDatabase(path, jet::Env::Default());
  (void)s;
  const char* const made[] = {"scratch.mdb"};
  fuzz_support::ExpectEmptyAfterRemoving(made, 1);
  return 0;
}
