// jetdb compact: writes a compacted copy of a database and says what it did.
#include "tools/jetdb/compact_command.h"

#include <cstdio>

#include "jet/base/env.h"
#include "jet/base/stale_temporary.h"
#include "jet/maintain/check.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {
namespace {

const char kCompactHelp[] =
    "Usage: jetdb compact [-s] [-q] [--password TEXT | --no-password] [--encode | --decode]\n"
    "                     [--format jet3|jet4] [--sort-order NAME] SOURCE DESTINATION\n"
    "Writes a compacted copy of SOURCE as the new file DESTINATION, which must not\n"
    "exist: only live rows and the long values they reach, each table's pages\n"
    "together, indexes rebuilt. The copy is checked against SOURCE before it is put\n"
    "in place; SOURCE is only read. Prints the pages before and after, the bytes\n"
    "reclaimed, and the rows and long values copied per table.\n\n"
    "  -s, --system      list the system tables too\n"
    "  -q, --quiet       no progress on the terminal\n"
    "  --password TEXT   give DESTINATION this database password (at most 20 characters)\n"
    "  --no-password     give DESTINATION no database password\n"
    "  --encode          RC4-encode DESTINATION's pages\n"
    "  --decode          write DESTINATION's pages plain\n"
    "  --format jet3|jet4  convert DESTINATION to Jet 3 (Access 97) or Jet 4 (Access\n"
    "                    2000); Jet 3 takes only the types it has (no Decimal)\n"
    "  --sort-order NAME give DESTINATION this sort order and recompute every index\n"
    "                    key under it: general, general-legacy (Jet 4), chinese-prc (Jet 4)\n"
    "  -h, --help        this help\n"
    "Without these options DESTINATION keeps SOURCE's password, encoding, format and\n"
    "sort order.\n";

// True when the repair would take `path` on: it reads as a Jet file whose check
// finds damage (a repair refuses a file whose catalog or header it cannot read).
bool RepairCanMend(const std::string& path) {
  jet::CheckReport report;
  if (!jet::CheckDatabase(path, &report).ok() || !report.HasDamage()) return false;
  return !report.Has(jet::FindingKind::kCatalogUnreadable);
}

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
  if (report.query_plans_dropped > 0)
    text += Line("Query plans:     %llu dropped; Access compiles each query again when it first runs\n",
                 static_cast<unsigned long long>(report.query_plans_dropped));
  for (const jet::CompactTableReport& t : report.tables)
    for (const std::string& index : t.copied_keys)
      text += "Keys copied:     table \"" + t.name + "\" " + index + "\n";
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
  const CommandSpec command{"compact",
                            kCompactHelp,
                            {{"system", 's', false},
                             kQuietOption,
                             {"password", 0, true},
                             {"no-password", 0, false},
                             {"encode", 0, false},
                             {"decode", 0, false},
                             {"format", 0, true},
                             {"sort-order", 0, true}},
                            2,
                            2,
                            "a SOURCE and a DESTINATION"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  if (parsed.Has("password") && parsed.Has("no-password"))
    return UsageError("compact", "--password and --no-password exclude each other");
  if (parsed.Has("encode") && parsed.Has("decode"))
    return UsageError("compact", "--encode and --decode exclude each other");
  jet::CompactOptions options;
  if (parsed.Has("format")) {
    const std::string& format = parsed.options.at("format");
    if (format == "jet3") options.format = jet::Version::kJet3;
    else if (format == "jet4") options.format = jet::Version::kJet4;
    else return UsageError("compact", "--format takes jet3 or jet4, not \"" + format + "\"");
  }
  if (parsed.Has("sort-order")) options.sort_order = parsed.options.at("sort-order");
  const std::string& source = parsed.positional[0];
  const std::string& destination = parsed.positional[1];
  CleanUpOnInterrupt([destination] { jet::RemoveOwnTemporaryFiles(jet::Env::Default(), destination); });
  jet::CompactReport report;
  if (parsed.Has("password")) options.password = parsed.options.at("password");
  if (parsed.Has("no-password")) options.password = "";
  if (parsed.Has("encode")) options.encoding = jet::PageEncoding::kEncode;
  if (parsed.Has("decode")) options.encoding = jet::PageEncoding::kDecode;
  jet::Status status;
  {
    Progress progress("compact", "pages", parsed.Has("quiet"));
    options.progress = [&](uint64_t done, uint64_t total) { progress.Update(done, total); };
    status = jet::Compact(jet::Env::Default(), source, destination, options, &report);
  }
  if (status.kind() == jet::ErrorKind::kDamaged && RepairCanMend(source)) {
    ReportError(status);
    std::fprintf(stderr, "jetdb: 'jetdb repair' can repair %s; it changes the file, so keep a copy\n",
                 source.c_str());
    return kExitDamage;
  }
  if (!status.ok()) return ReportError(status);
  std::fputs(CompactReportText(report, parsed.Has("system")).c_str(), stdout);
  const jet::Status output = FinishOutput();
  if (!output.ok()) return ReportError(output);
  return kExitOk;
}

}  // namespace jetdb
