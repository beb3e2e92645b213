// jetdb check and repair: the engine's integrity check and its in-place repair.
#include <cstdio>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/stale_temporary.h"
#include "jet/maintain/check.h"
#include "jet/maintain/repair.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/export_format.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {
namespace {

const char kCheckHelp[] =
    "Usage: jetdb check [-j] [-q] FILE\n"
    "Checks every structure of FILE (header, pages, rows, long values, table\n"
    "definitions, usage maps, indexes against rows, catalog) and lists what it finds,\n"
    "each with its place, kind and severity: \"harmless\" for what Access files carry\n"
    "anyway, \"damage\" for what a reader would get wrong. FILE is only read.\n\n"
    "  -j, --json    one JSON object per finding and a summary object, one per line\n"
    "  -q, --quiet   no progress on the terminal\n"
    "  -h, --help    this help\n\n"
    "Exit status: 0 when no damage is found, 1 when damage is found, 2 on a usage\n"
    "error, 3 when FILE cannot be read.\n";

const char kRepairHelp[] =
    "Usage: jetdb repair [-j] [-q] [-o DEST] FILE\n"
    "Repairs FILE in place: refuses when another program has it open, checks it, and\n"
    "when it is damaged writes a repaired copy beside it and renames that over it.\n"
    "Prints what was rebuilt, assumed and lost: per table the rows found, kept and\n"
    "lost (with the reason), long values cut, and the keys of lost rows.\n\n"
    "  -o, --output DEST  write the repaired database as the new file DEST instead;\n"
    "                     FILE is only read (DEST must not exist)\n"
    "  -j, --json         the report as one JSON object\n"
    "  -q, --quiet        no progress on the terminal\n"
    "  -h, --help         this help\n\n"
    "Exit status: 0 when the file is sound or was repaired, 1 when it is damaged\n"
    "beyond repair, 2 on a usage error, 3 when a file cannot be read or written.\n";

std::string PlaceText(const jet::CheckFinding& f) {
  std::string text;
  auto add = [&](const std::string& part) {
    if (!text.empty()) text += ", ";
    text += part;
  };
  if (!f.table.empty()) add("table \"" + f.table + "\"");
  if (!f.index.empty()) add("index \"" + f.index + "\"");
  if (f.page >= 0) add("page " + std::to_string(f.page));
  if (f.row >= 0) add("row " + std::to_string(f.row));
  return text.empty() ? "file" : text;
}

std::string FindingJson(const jet::CheckFinding& f) {
  std::string line = "{\"severity\":" + JsonString(jet::CheckSeverityName(f.severity)) +
                     ",\"kind\":" + JsonString(jet::FindingKindName(f.kind));
  if (!f.table.empty()) line += ",\"table\":" + JsonString(f.table);
  if (!f.index.empty()) line += ",\"index\":" + JsonString(f.index);
  if (f.page >= 0) line += ",\"page\":" + std::to_string(f.page);
  if (f.row >= 0) line += ",\"row\":" + std::to_string(f.row);
  line += ",\"detail\":" + JsonString(f.detail) + "}";
  return line;
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string list = "[";
  for (const std::string& item : items) list += (list.size() > 1 ? "," : "") + JsonString(item);
  return list + "]";
}

// The whole repair report as one JSON object; every field of RepairReport and
// RepairTableReport has its place here and nowhere else.
std::string RepairReportJson(const jet::RepairReport& report) {
  std::string json = "{\"was_damaged\":" + std::string(report.was_damaged ? "true" : "false") +
                     ",\"damage_found\":" + std::to_string(report.damage_found) +
                     ",\"commit_state_cleared\":" + (report.commit_state_cleared ? "true" : "false") +
                     ",\"rewritten\":" + (report.rewritten ? "true" : "false") +
                     ",\"password_lost\":" + (report.password_lost ? "true" : "false") +
                     ",\"rows_lost\":" + std::to_string(report.RowsLost()) +
                     ",\"values_cut\":" + std::to_string(report.ValuesCut()) +
                     ",\"columns_dropped\":" + std::to_string(report.ColumnsDropped()) +
                     ",\"assumptions\":" + JsonList(report.assumptions) +
                     ",\"rebuilt\":" + JsonList(report.rebuilt) + ",\"lost\":" + JsonList(report.lost) +
                     ",\"tables\":[";
  for (size_t n = 0; n < report.tables.size(); ++n) {
    const jet::RepairTableReport& t = report.tables[n];
    std::string reasons;
    for (size_t r = 0; r < jet::kLossReasonCount; ++r)
      reasons += (r ? "," : "") + JsonString(jet::LossReasonName(static_cast<jet::LossReason>(r))) + ":" +
                 std::to_string(t.lost_by_reason[r]);
    json += std::string(n ? "," : "") + "{\"name\":" + JsonString(t.name) +
            ",\"recovered_from\":" + (t.recovered_from.empty() ? "null" : JsonString(t.recovered_from)) +
            ",\"rows_found\":" + std::to_string(t.RowsFound()) + ",\"rows_kept\":" + std::to_string(t.rows_kept) +
            ",\"rows_lost\":" + std::to_string(t.rows_lost) + ",\"lost_by_reason\":{" + reasons + "}" +
            ",\"values_cut\":" + std::to_string(t.values_cut) +
            ",\"columns_dropped\":" + JsonList(t.columns_dropped) + ",\"lost_keys\":" + JsonList(t.lost_keys) +
            ",\"losses\":" + JsonList(t.losses) + ",\"notes\":" + JsonList(t.notes) + "}";
  }
  return json + "]}";
}

}  // namespace

int RunCheck(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const CommandSpec command{"check", kCheckHelp, {{"json", 'j', false}, kQuietOption}, 1, 1, "a FILE"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  jet::CheckReport report;
  jet::CheckOptions options;
  Progress progress("check", "pages", parsed.Has("quiet"));
  options.progress = [&](uint64_t done, uint64_t total) { progress.Update(done, total); };
  jet::Status status = jet::CheckDatabase(parsed.positional[0], options, &report);
  if (!status.ok()) return ReportError(status);
  const bool json = parsed.Has("json");
  const size_t damage = report.DamageCount();
  for (const jet::CheckFinding& f : report.findings) {
    if (json) {
      std::printf("%s\n", FindingJson(f).c_str());
    } else {
      std::printf("%s: %s: %s: %s\n", jet::CheckSeverityName(f.severity), jet::FindingKindName(f.kind),
                  PlaceText(f).c_str(), f.detail.c_str());
    }
  }
  if (json) {
    std::printf("{\"summary\":true,\"pages\":%u,\"rows\":%llu,\"findings\":%zu,\"damage\":%zu}\n",
                report.page_count, static_cast<unsigned long long>(report.live_rows),
                report.findings.size(), damage);
  } else {
    std::printf("%u pages, %llu rows: %zu findings, %zu damage\n", report.page_count,
                static_cast<unsigned long long>(report.live_rows), report.findings.size(), damage);
  }
  status = FinishOutput();
  if (!status.ok()) return ReportError(status);
  return damage > 0 ? kExitDamage : kExitOk;
}

int RunRepair(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const CommandSpec command{"repair", kRepairHelp, {{"output", 'o', true}, {"json", 'j', false}, kQuietOption},
                            1, 1, "a FILE"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  const std::string path = parsed.positional[0];
  const std::string output = parsed.Get("output", "");
  if (parsed.Has("output") && output.empty()) return UsageError("repair", "--output needs a file name");
  // The file itself changes only by the last rename; what an interrupted repair
  // leaves is its copies beside it, or beside the new file.
  CleanUpOnInterrupt([path, output] {
    jet::RemoveOwnTemporaryFiles(jet::Env::Default(), output.empty() ? path : output);
  });
  jet::RepairReport report;
  jet::Status status;
  {
    Progress progress("repair", "", parsed.Has("quiet"));
    const jet::ProgressFn update = [&](uint64_t done, uint64_t total) { progress.Update(done, total); };
    status = output.empty() ? jet::RepairDatabaseWithReport(path, &report, jet::Env::Default(), update)
                            : jet::RepairDatabaseToFile(path, output, &report, jet::Env::Default(), update);
  }
  if (!status.ok()) return ReportError(status, /*after_repair=*/true);  // the file was left as it was
  if (parsed.Has("json")) {
    std::printf("%s\n", RepairReportJson(report).c_str());
  } else {
    for (const std::string& line : report.Lines()) std::printf("%s\n", line.c_str());
    if (!output.empty()) std::printf("written to %s; %s was not changed\n", output.c_str(), path.c_str());
  }
  status = FinishOutput();
  if (!status.ok()) return ReportError(status);
  return kExitOk;
}

}  // namespace jetdb
