// jetdb compact: the engine's compaction from the command line (compact_command.cc).
#pragma once

#include <string>
#include <vector>

#include "jet/maintain/compact.h"

namespace jetdb {

int RunCompact(const std::vector<std::string>& args);

// The lines `jetdb compact` prints for a finished compaction: totals, then one line
// per table (system tables only with `system`).
std::string CompactReportText(const jet::CompactReport& report, bool system);

}  // namespace jetdb
