// jetdb compact: writes a compacted copy of a database and says what it did.
#include "tools/jetdb/compact_command.h"

#include <cstdio>

#include "jet/base/env.h"
#include "tools/jetdb/cli.h"

namespace jetdb {
namespace {

const char kCompactHelp[] =
    "Usage: jetdb compact [--system] SOURCE DESTINATION\n"
    "Writes a compacted copy of SOURCE as the new file DESTINATION, which must not\n"
    "exist: only live rows and the long values they reach, each table's pages\n"
    "together, indexes rebuilt. The copy is checked against SOURCE before it is put\n"
    "in place; SOURCE is only read. Prints the pages before and after, the bytes\n"
    "reclaimed, and the rows and long values copied per table.\n\n"
    "  --system     list the system tables too\n"
    "  -h, --help   this help\n";

std::string Line(const char* format, auto... values) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return buffer;
}

}  // namespace

std::string CompactReportText(const jet::CompactReport& report, bool system) {
  std::string text;
  const uint64_t reclaimed = report.source_bytes > report.result_bytes ? report.source_bytes - report.result_bytes : 0;
  text += Line("Pages:           %u before, %u after\n", report.source_pages, report.result_pages);
  text += Line("Bytes:           %llu before, %llu after, %llu reclaimed\n",
               static_cast<unsigned long long>(report.source_bytes),
               static_cast<unsigned long long>(report.result_bytes),
               static_cast<unsigned long long>(reclaimed));
  uint64_t rows = 0, long_values = 0;
  for (const jet::CompactTableReport& t : report.tables) {
    rows += t.rows;
    long_values += t.long_values;
  }
  text += Line("Rows copied:     %llu\n", static_cast<unsigned long long>(rows));
  text += Line("Long values:     %llu\n", static_cast<unsigned long long>(long_values));
  text += Line("%-32s %10s %12s %10s %10s\n", "Table", "rows", "long values", "pages", "data pages");
  for (const jet::CompactTableReport& t : report.tables) {
    if (t.system && !system) continue;
    const std::string data = std::to_string(t.source_data_pages) + "->" + std::to_string(t.data_pages);
    text += Line("%-32s %10llu %12llu %10u %10s\n", t.name.c_str(), static_cast<unsigned long long>(t.rows),
                 static_cast<unsigned long long>(t.long_values), t.pages, data.c_str());
  }
  return text;
}

int RunCompact(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"system", false}}, &parsed, &error)) return UsageError("compact", error);
  if (parsed.help) {
    std::fputs(kCompactHelp, stdout);
    return kExitOk;
  }
  if (parsed.positional.size() != 2)
    return UsageError("compact", "compact needs a SOURCE and a DESTINATION");
  jet::CompactReport report;
  const jet::Status status = jet::Compact(jet::Env::Default(), parsed.positional[0], parsed.positional[1],
                                          jet::CompactOptions(), &report);
  if (!status.ok()) return DatabaseError(status);
  std::fputs(CompactReportText(report, parsed.Has("system")).c_str(), stdout);
  const jet::Status output = FinishOutput();
  if (!output.ok()) return DatabaseError(output);
  return kExitOk;
}

}  // namespace jetdb
