// libFuzzer target over the integrity check: every input, however hostile, gets a
// status and a list of findings -- never a crash, a hang or an unbounded allocation.
#include <cstddef>
#include <cstdint>

#include "jet/maintain/check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  jet::CheckReport report;
  jet::Status s = jet::CheckDatabaseBytes(data, size, &report);
  (void)s;
  return 0;
}
