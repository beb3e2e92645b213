// libFuzzer target over the integrity check: every input, however hostile, gets a
// status and a list of findings -- never a crash, a hang or an unbounded allocation.
// Inputs of odd size are checked a second time with every table on two threads,
// which must give the very same report: the second thread's work is replayed in
// sequence, and hostile input is where a replay could go astray.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <tuple>

#include "jet/file/page_file.h"
#include "jet/maintain/check.h"

namespace {

bool SameFindings(const jet::CheckReport& a, const jet::CheckReport& b) {
  if (a.live_rows != b.live_rows || a.findings.size() != b.findings.size()) return false;
  for (size_t i = 0; i < a.findings.size(); ++i) {
    const jet::CheckFinding& x = a.findings[i];
    const jet::CheckFinding& y = b.findings[i];
    if (std::tie(x.severity, x.kind, x.page, x.row, x.table, x.index, x.detail) !=
        std::tie(y.severity, y.kind, y.page, y.row, y.table, y.index, y.detail))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<jet::PageFile> file;
  if (!jet::PageFile::OpenMemory(data, size, &file).ok()) return 0;
  jet::CheckOptions one_thread;
  one_thread.second_thread_pages = UINT64_MAX;
  jet::CheckReport one;
  const jet::Status s = jet::CheckPageFile(*file, one_thread, &one);
  if (size % 2 == 0) return 0;
  jet::CheckOptions two_threads;
  two_threads.second_thread_pages = 1;
  jet::CheckReport two;
  const jet::Status t = jet::CheckPageFile(*file, two_threads, &two);
  if (s.kind() != t.kind() || !SameFindings(one, two)) std::abort();
  return 0;
}
