// jetdb export: the live rows of one table, or of every user table into a folder, as
// CSV, JSON lines or SQL INSERT statements.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "jet/base/env.h"
#include "jet/base/publish_file.h"
#include "jet/base/stale_temporary.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/export_format.h"
#include "tools/jetdb/sql.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {
namespace {

const char kExportHelp[] =
    "Usage: jetdb export [OPTION...] FILE TABLE\n"
    "       jetdb export [OPTION...] --all DIR FILE\n"
    "Writes the live rows of TABLE to standard output in UTF-8, or with --all those\n"
    "of every user table to one file each in DIR (made when missing; files that\n"
    "exist are not overwritten).\n\n"
    "  -f, --format csv    (default) one header line of column names, then one line\n"
    "                      per row; fields are quoted as RFC 4180 says, an empty text\n"
    "                      is \"\" and a null is an empty field\n"
    "  -f, --format json   one JSON object per line, keyed by column name; exact\n"
    "                      values: currency and decimals as strings, dates as ISO\n"
    "                      text, binary and OLE data as hex, GUIDs in braces\n"
    "  -f, --format sql    INSERT statements for the --dialect's database\n"
    "  -D, --dialect D     sqlite, postgres or mysql (with --format sql)\n"
    "  -a, --all DIR       every user table, to DIR/<table>.csv (.json, .sql)\n"
    "CSV only:\n"
    "  -d, --delimiter C   field separator (default ','; 'tab' or '\\t' for a tab)\n"
    "  -H, --no-header     no line of column names\n"
    "  -n, --null TEXT     write a null as TEXT (default: nothing)\n"
    "  -t, --date-format F dates in strftime format F (default %Y-%m-%d %H:%M:%S)\n"
    "Any format:\n"
    "  -b, --bom           start with a UTF-8 byte order mark (for Excel)\n"
    "  -r, --crlf          end lines with CR LF (for Excel)\n"
    "  -c, --codepage CP   read Jet 3 text in Windows code page CP\n"
    "  -q, --quiet         no progress on the terminal\n"
    "  -h, --help          this help\n\n"
    "Rows that cannot be read (a damaged page) are left out and listed on standard\n"
    "error, and the rest is written. Exit status: 0 when every row was written, 1 when\n"
    "some were left out (the export is partial), 2 on a usage error, 3 when a file\n"
    "cannot be read or written.\n";

enum class Format { kCsv, kJson, kSql };

struct ExportOptions {
  Format format = Format::kCsv;
  Dialect dialect = Dialect::kSqlite;
  CsvOptions csv;
  bool header = true;
  bool bom = false;
  std::string line_end = "\n";
};

const char* Extension(Format format) {
  return format == Format::kCsv ? ".csv" : format == Format::kJson ? ".json" : ".sql";
}

// Where the text goes: standard output, or a file written beside its final name and
// renamed into place when whole.
class Output {
 public:
  virtual ~Output() = default;
  virtual jet::Status Write(const std::string& text) = 0;
};

class StdoutOutput : public Output {
 public:
  jet::Status Write(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);  // a failure is reported by FinishOutput
    return jet::Status::Ok();
  }
};

class FileOutput : public Output {
 public:
  explicit FileOutput(jet::WritableFile* file) : file_(file) {}
  jet::Status Write(const std::string& text) override {
    buffer_ += text;
    return buffer_.size() >= kFlushSize ? Flush() : jet::Status::Ok();
  }
  jet::Status Flush() {
    jet::Status s = file_->Append(buffer_.data(), buffer_.size());
    buffer_.clear();
    return s;
  }

 private:
  static constexpr size_t kFlushSize = 1 << 16;
  jet::WritableFile* file_;
  std::string buffer_;
};

// Writes the rows of `table` that can be read; `rows_done` counts them for the
// progress line. A row that cannot be read is left out and named in `unreadable`.
jet::Status WriteTable(jet::Database& db, const SqlTable& table, const ExportOptions& options, Output* out,
                       const std::function<void()>& row_done, std::vector<std::string>* unreadable) {
  const jet::TableDef& def = *table.def;
  const std::string& end = options.line_end;
  jet::Status s = options.bom ? out->Write("\xEF\xBB\xBF") : jet::Status::Ok();
  std::vector<std::string> json_keys;
  std::string line;
  if (options.format == Format::kJson)
    for (const jet::ColumnDef& column : def.columns) json_keys.push_back(JsonString(column.name) + ":");
  if (s.ok() && options.format == Format::kCsv && options.header) {
    for (size_t n = 0; n < def.columns.size(); ++n)
      line += (n ? std::string(1, options.csv.delimiter) : "") + CsvText(def.columns[n].name, options.csv.delimiter);
    s = out->Write(line + end);
  }
  const std::string insert = options.format == Format::kSql ? InsertPrefix(options.dialect, table) : "";
  if (s.ok() && options.format == Format::kSql) s = out->Write(BeforeRowsSql(options.dialect));
  jet::Status written;
  int64_t largest_autonumber = 0;
  if (s.ok())
    s = db.ScanReadableRows(def, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
      // Every line has one field per column, even if the reader gave fewer values.
      static const jet::Value kNull;
      line.clear();
      if (options.format == Format::kJson) line += '{';
      if (options.format == Format::kSql) line += insert;
      for (size_t n = 0; n < def.columns.size(); ++n) {
        const jet::Value& value = n < values.size() ? values[n] : kNull;
        if (IsAutoNumber(def.columns[n]) && !value.is_null())
          largest_autonumber = std::max(largest_autonumber, value.integer());
        switch (options.format) {
          case Format::kCsv:
            if (n > 0) line += options.csv.delimiter;
            line += CsvField(value, options.csv);
            break;
          case Format::kJson:
            line += (n > 0 ? "," : "") + json_keys[n] + JsonValue(value);
            break;
          case Format::kSql:
            line += (n > 0 ? ", " : "") + SqlLiteral(options.dialect, value);
            break;
        }
      }
      if (options.format == Format::kJson) line += '}';
      if (options.format == Format::kSql) line += ");";
      written = out->Write(line + end);
      row_done();
      return written.ok();
    }, unreadable);
  if (s.ok()) s = written;
  if (s.ok() && options.format == Format::kSql) s = out->Write(AfterRowsSql(options.dialect, table, largest_autonumber));
  return s;
}

// A file name for a table: characters no file system takes (and control characters)
// become '_', as do a leading dot and the names Windows keeps for devices.
std::string SafeFileName(const std::string& table) {
  std::string name;
  for (unsigned char c : table) name += (c < 0x20 || std::string("/\\:*?\"<>|").find(char(c)) != std::string::npos)
                                            ? '_' : char(c);
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.back() = '_';
  if (name.empty() || name[0] == '.') name.insert(0, "_");
  std::string upper;
  for (char c : name.substr(0, name.find('.'))) upper += char(std::toupper(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDevices = {"CON", "PRN", "AUX", "NUL", "COM1", "COM2", "COM3", "COM4",
                                                 "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",
                                                 "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  if (kDevices.count(upper)) name.insert(0, "_");
  return name;
}

// The file of every table in DIR: safe names, made distinct ignoring case (for the
// file systems that do) by a "~2", "~3"... before the extension.
std::vector<std::string> TableFiles(const std::string& dir, const SqlSchema& schema, Format format) {
  std::vector<std::string> files;
  std::set<std::string> taken;
  for (const SqlTable& table : schema.tables) {
    const std::string base = SafeFileName(table.name);
    std::string name = base;
    for (int n = 2;; ++n) {
      std::string folded;
      for (char c : name) folded += char(std::tolower(static_cast<unsigned char>(c)));
      if (taken.insert(folded).second) break;
      name = base + "~" + std::to_string(n);
    }
    files.push_back(dir + "/" + name + Extension(format));
  }
  return files;
}

// Writes one table to `path`, which must not exist: beside it first, then renamed.
jet::Status ExportToFile(jet::Database& db, const SqlTable& table, const ExportOptions& options,
                         const std::string& path, const std::function<void()>& row_done,
                         std::vector<std::string>* unreadable) {
  jet::Env* env = jet::Env::Default();
  jet::Publication publication;
  jet::Status s = publication.Begin(env, path, jet::PublishOptions());
  std::unique_ptr<jet::WritableFile> file;
  if (s.ok()) s = env->NewWritableFile(publication.temporary(), 0666, &file);
  if (!s.ok()) return s;
  FileOutput out(file.get());
  s = WriteTable(db, table, options, &out, row_done, unreadable);
  if (s.ok()) s = out.Flush();
  if (s.ok()) s = file->Sync();
  if (s.ok()) s = file->Close();
  if (s.ok()) s = publication.Commit();
  return s;  // an unfinished publication takes its file away
}

// Says on standard error that the export of `table` left out the rows it could not
// read; true when there were any.
bool WarnUnreadable(const std::string& table, const std::vector<std::string>& unreadable) {
  if (unreadable.empty()) return false;
  std::fflush(stdout);
  const bool one = unreadable.size() == 1;
  std::fprintf(stderr, "jetdb: warning: table \"%s\": %zu %s not be read and %s not in the export\n",
               table.c_str(), unreadable.size(), one ? "row could" : "rows could", one ? "is" : "are");
  for (const std::string& why : unreadable) std::fprintf(stderr, "jetdb:   %s\n", why.c_str());
  return true;
}

// Options from the command line; "" when they are sound, else the usage error.
std::string ReadOptions(const ParsedArgs& parsed, ExportOptions* options) {
  const std::string format = parsed.Get("format", "csv");
  if (format == "csv") {
    options->format = Format::kCsv;
  } else if (format == "json") {
    options->format = Format::kJson;
  } else if (format == "sql") {
    options->format = Format::kSql;
  } else {
    return "unknown format '" + format + "' (csv, json or sql)";
  }
  if (options->format == Format::kSql && !ParseDialect(parsed.Get("dialect", ""), &options->dialect))
    return "--format sql needs --dialect sqlite, postgres or mysql";
  if (options->format != Format::kSql && parsed.Has("dialect")) return "--dialect goes with --format sql";
  for (const char* csv_only : {"delimiter", "no-header", "null", "date-format"})
    if (options->format != Format::kCsv && parsed.Has(csv_only))
      return std::string("--") + csv_only + " goes with --format csv";
  if (parsed.Has("delimiter")) {
    const std::string d = parsed.Get("delimiter", "");
    if (d == "tab" || d == "\\t") {
      options->csv.delimiter = '\t';
    } else if (d.size() == 1 && d[0] != '"' && d[0] != '\r' && d[0] != '\n') {
      options->csv.delimiter = d[0];
    } else {
      return "--delimiter takes one character other than a quote or a line break";
    }
  }
  options->header = !parsed.Has("no-header");
  options->csv.null_text = parsed.Get("null", "");
  options->csv.date_format = parsed.Get("date-format", "");
  options->bom = parsed.Has("bom");
  options->line_end = parsed.Has("crlf") ? "\r\n" : "\n";
  return "";
}

}  // namespace

int RunExport(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const CommandSpec command{"export",
                            kExportHelp,
                            {{"format", 'f', true},
                             {"dialect", 'D', true},
                             {"all", 'a', true},
                             {"delimiter", 'd', true},
                             {"no-header", 'H', false},
                             {"null", 'n', true},
                             {"date-format", 't', true},
                             {"bom", 'b', false},
                             {"crlf", 'r', false},
                             kCodePageOption,
                             kQuietOption},
                            1,
                            2,
                            "FILE and TABLE, or --all DIR and FILE"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  const bool all = parsed.Has("all");
  if (parsed.positional.size() != (all ? 1u : 2u))
    return UsageError("export", all ? "export --all DIR takes FILE and no TABLE" : "export needs FILE and TABLE");
  ExportOptions options;
  if (std::string error = ReadOptions(parsed, &options); !error.empty()) return UsageError("export", error);
  uint16_t code_page = 0;
  std::string error;
  if (!ParseCodePage(parsed, &code_page, &error)) return UsageError("export", error);

  std::unique_ptr<jet::Database> db;
  jet::Status status = OpenDatabase(parsed.positional[0], code_page, &db);
  if (!status.ok()) return ReportError(status);
  SqlSchema schema;
  status = ReadSqlSchema(*db, &schema);
  if (!status.ok()) return ReportError(status);

  Progress progress("export", "rows", parsed.Has("quiet"));
  uint64_t rows_done = 0, rows_total = 0;
  const auto row_done = [&] { progress.Update(++rows_done, rows_total); };

  if (!all) {
    const jet::TableDef* def = nullptr;
    status = db->GetTableDefByName(parsed.positional[1], &def);
    if (!status.ok()) return ReportError(status);
    SqlTable system_table;  // a system table named on purpose: no schema entry, no NOT NULLs
    const SqlTable* table = &system_table;
    for (const SqlTable& t : schema.tables)
      if (t.def == def) table = &t;
    if (table == &system_table) {
      system_table.name = parsed.positional[1];
      system_table.def = def;
    }
    rows_total = def->row_count;
    StdoutOutput out;
    std::vector<std::string> unreadable;
    status = WriteTable(*db, *table, options, &out, row_done, &unreadable);
    if (status.ok()) status = FinishOutput();
    if (!status.ok()) return ReportError(status);
    return WarnUnreadable(table->name, unreadable) ? kExitDamage : kExitOk;
  }

  const std::string dir = parsed.Get("all", "");
  std::error_code fs_error;
  std::filesystem::create_directories(dir, fs_error);
  if (fs_error || !std::filesystem::is_directory(dir, fs_error))
    return ReportError(jet::Status::Error(jet::ErrorKind::kIoError, "cannot make the folder " + dir));
  const std::vector<std::string> files = TableFiles(dir, schema, options.format);
  CleanUpOnInterrupt([files] {
    for (const std::string& file : files) jet::RemoveOwnTemporaryFiles(jet::Env::Default(), file);
  });
  for (const SqlTable& table : schema.tables) rows_total += table.def->row_count;
  bool partial = false;
  for (size_t n = 0; status.ok() && n < schema.tables.size(); ++n) {
    std::vector<std::string> unreadable;
    status = ExportToFile(*db, schema.tables[n], options, files[n], row_done, &unreadable);
    if (status.ok() && WarnUnreadable(schema.tables[n].name, unreadable)) partial = true;
  }
  if (!status.ok()) return ReportError(status);
  return partial ? kExitDamage : kExitOk;
}

}  // namespace jetdb
