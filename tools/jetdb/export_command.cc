// jetdb export: the live rows of one table as CSV (one header line) or JSON lines.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/export_format.h"

namespace jetdb {
namespace {

const char kExportHelp[] =
    "Usage: jetdb export [--format csv|json] FILE TABLE\n"
    "Writes the live rows of TABLE to standard output, in UTF-8.\n\n"
    "  --format csv   (default) one header line of column names, then one line per\n"
    "                 row; fields are quoted as RFC 4180 says, an empty text is \"\"\n"
    "                 and a null is an empty field\n"
    "  --format json  one JSON object per line, keyed by column name; exact values:\n"
    "                 currency and decimals as strings, dates as ISO text, binary\n"
    "                 and OLE data as hex, GUIDs in braces\n"
    "  -h, --help     this help\n";

void WriteLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

}  // namespace

int RunExport(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"format", true}}, &parsed, &error)) return UsageError("export", error);
  if (parsed.help) {
    std::fputs(kExportHelp, stdout);
    return kExitOk;
  }
  if (parsed.positional.size() != 2) return UsageError("export", "export needs FILE and TABLE");
  const std::string format = parsed.Has("format") ? parsed.options["format"] : "csv";
  if (format != "csv" && format != "json")
    return UsageError("export", "unknown format '" + format + "' (csv or json)");
  const bool json = format == "json";

  std::unique_ptr<jet::Database> db;
  jet::Status status = OpenDatabase(parsed.positional[0], &db);
  if (!status.ok()) return DatabaseError(status);
  const jet::TableDef* table = nullptr;
  status = db->GetTableDefByName(parsed.positional[1], &table);
  if (!status.ok()) return DatabaseError(status);

  std::vector<std::string> json_keys;
  std::string line;
  for (size_t n = 0; n < table->columns.size(); ++n) {
    if (json) {
      json_keys.push_back(JsonString(table->columns[n].name) + ":");
    } else {
      if (n > 0) line += ',';
      line += CsvText(table->columns[n].name);
    }
  }
  if (!json) WriteLine(line);

  Progress progress("export", "page", db->file().page_count());
  status = db->ScanRows(*table, [&](const jet::RowId& row, const std::vector<jet::Value>& values) {
    line.clear();
    if (json) line += '{';
    // Every line has one field per column, even if the reader gave fewer values.
    static const jet::Value kNull;
    for (size_t n = 0; n < table->columns.size(); ++n) {
      const jet::Value& value = n < values.size() ? values[n] : kNull;
      if (n > 0) line += ',';
      if (json) {
        line += json_keys[n];
        line += JsonValue(value);
      } else {
        line += CsvField(value);
      }
    }
    if (json) line += '}';
    WriteLine(line);
    progress.Update(row.page);
    return true;
  });
  if (!status.ok()) return DatabaseError(status);
  status = FinishOutput();
  if (!status.ok()) return DatabaseError(status);
  return kExitOk;
}

}  // namespace jetdb
