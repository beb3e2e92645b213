// jetdb info, tables and schema: what a file is and what it holds, read-only.
#include <cstdio>
#include <string>
#include <vector>

#include "jet/read/value.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"

namespace jetdb {
namespace {

const char kInfoHelp[] =
    "Usage: jetdb info FILE\n"
    "Shows the format, page size, page count, code page and sort order of FILE,\n"
    "whether a database password or page encoding is set (never the password), and\n"
    "its tables with the number of live rows, counted from the pages.\n\n"
    "  -h, --help   this help\n";

const char kTablesHelp[] =
    "Usage: jetdb tables [--system] FILE\n"
    "Lists the names of the tables of FILE, one per line, in catalog order.\n\n"
    "  --system     include the system tables (MSys...)\n"
    "  -h, --help   this help\n";

const char kSchemaHelp[] =
    "Usage: jetdb schema [--system] FILE [TABLE]\n"
    "Shows the columns and indexes of every table of FILE, or of TABLE only.\n\n"
    "  --system     include the system tables when no TABLE is named\n"
    "  -h, --help   this help\n";

// `text` followed by blanks up to `width` characters (UTF-8 code points, so names
// with accents line up too); at least one blank when something follows.
std::string Padded(const std::string& text, size_t width) {
  size_t characters = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++characters;
  return text + std::string(characters < width ? width - characters : 1, ' ');
}

// Opens the file named by the only positional argument (plus up to `extra` more).
// Returns -1 when the caller should carry on, or the exit code to return.
int ParseAndOpen(const std::string& command, const char* help,
                 const std::vector<std::string>& args, const std::vector<OptionSpec>& specs,
                 size_t extra, ParsedArgs* parsed, std::unique_ptr<jet::Database>* db) {
  std::string error;
  if (!ParseArgs(args, specs, parsed, &error)) return UsageError(command, error);
  if (parsed->help) {
    std::fputs(help, stdout);
    return kExitOk;
  }
  if (parsed->positional.empty()) return UsageError(command, command + " needs a FILE");
  if (parsed->positional.size() > 1 + extra)
    return UsageError(command, "too many arguments for " + command);
  jet::Status status = OpenDatabase(parsed->positional[0], db);
  if (!status.ok()) return DatabaseError(status);
  return -1;
}

std::string SortOrderText(const jet::Header& header) {
  std::string text = std::to_string(header.sort_lcid);
  if (header.sort_lcid == 1033) text += " (General)";
  if (!jet::IsJet3(header.version))
    text += header.sort_version == 0 ? ", legacy collation" : ", collation version " +
                                                                  std::to_string(header.sort_version);
  return text;
}

// "Text (50)", "Decimal (18,4)", "Long Integer"...
std::string ColumnTypeText(const jet::ColumnDef& column, const jet::Format& format) {
  std::string text = jet::ColumnTypeName(column.type_code);
  switch (column.type()) {
    case jet::ColumnType::kText:
    case jet::ColumnType::kBinary: {
      // Jet 4 stores text lengths in bytes of UCS-2.
      const bool two_bytes = column.type() == jet::ColumnType::kText && !jet::IsJet3(format.version);
      text += " (" + std::to_string(two_bytes ? column.length / 2 : column.length) + ")";
      break;
    }
    case jet::ColumnType::kNumeric:
      text += " (" + std::to_string(column.precision) + "," + std::to_string(column.scale) + ")";
      break;
    default:
      break;
  }
  return text;
}

std::string ColumnFlagsText(const jet::ColumnDef& column) {
  std::string text;
  const auto add = [&](const char* flag) {
    text += text.empty() ? "" : ", ";
    text += flag;
  };
  // These bits mean something only on their own column types; Access leaves 0x40 set
  // on many text and date columns of Jet 3 files.
  if ((column.flags & jet::kColumnAutoNumber) && column.type() == jet::ColumnType::kLong)
    add("auto-number");
  if ((column.flags & jet::kColumnGuidAutoNumber) && column.type() == jet::ColumnType::kGuid)
    add("GUID auto-number");
  if ((column.flags & jet::kColumnHyperlink) && column.type() == jet::ColumnType::kMemo)
    add("hyperlink");
  if (column.ext_flags & jet::kColumnCompressedUnicode) add("compressed unicode");
  return text;
}

std::string IndexText(const jet::Database& db, const jet::TableDef& table,
                      const jet::LogicalIndex& index) {
  std::string text = index.name + ": ";
  if (index.index_type == jet::kLogicalIndexPrimaryKey) text += "primary key, ";
  if (index.index_type == jet::kLogicalIndexForeignKey) text += "foreign key, ";
  if (index.real_index < table.real_indexes.size()) {
    const jet::RealIndex& real = table.real_indexes[index.real_index];
    if (real.flags & jet::kIndexUnique) text += "unique, ";
    if (real.flags & jet::kIndexIgnoreNulls) text += "ignore nulls, ";
    if (real.flags & jet::kIndexRequired) text += "required, ";
    text += "(";
    for (size_t n = 0; n < real.columns.size(); ++n) {
      if (n > 0) text += ", ";
      const int position = table.FindColumnByNumber(real.columns[n].column_number);
      text += position >= 0 ? table.columns[position].name
                            : "#" + std::to_string(real.columns[n].column_number);
      if (!real.columns[n].ascending) text += " descending";
    }
    text += ")";
  } else {
    text += "(no such real index " + std::to_string(index.real_index) + ")";
  }
  if (index.related_table != 0) {
    std::string other = "table at page " + std::to_string(index.related_table);
    for (const jet::CatalogObject& object : db.objects())
      if (object.is_table() && static_cast<uint32_t>(object.id & 0x00FFFFFF) == index.related_table)
        other = object.name;
    text += index.related_table_type == 1 ? ", referenced by " : ", references ";
    text += other;
    if (index.cascade_updates) text += ", cascade updates";
    if (index.cascade_deletes) text += ", cascade deletes";
  }
  return text;
}

void PrintSchema(const jet::Database& db, const jet::TableDef& table, const std::string& name) {
  const jet::Format& format = db.format();
  std::printf("Table %s (definition at page %u, %u row%s stored)\n", name.c_str(),
              table.first_page, table.row_count, table.row_count == 1 ? "" : "s");
  std::printf("  Columns:\n");
  for (const jet::ColumnDef& column : table.columns) {
    const std::string flags = ColumnFlagsText(column);
    std::string line = "    " + Padded(column.name, 30) + ColumnTypeText(column, format);
    if (!flags.empty()) line = Padded(line, 4 + 30 + 22) + flags;
    std::printf("%s\n", line.c_str());
  }
  if (!table.logical_indexes.empty()) {
    std::printf("  Indexes:\n");
    for (const jet::LogicalIndex& index : table.logical_indexes)
      std::printf("    %s\n", IndexText(db, table, index).c_str());
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  if (int code = ParseAndOpen("info", kInfoHelp, args, {}, 0, &parsed, &db); code >= 0)
    return code;
  const jet::Header& header = db->header();
  std::printf("File:          %s\n", parsed.positional[0].c_str());
  std::printf("Format:        %s (%s)\n", jet::VersionName(header.version), header.engine_name.c_str());
  std::printf("Page size:     %u\n", db->file().page_size());
  std::printf("Pages:         %u%s\n", db->file().page_count(),
              db->file().has_partial_page() ? " (and a partial page at the end)" : "");
  std::printf("Code page:     %u\n", header.code_page);
  std::printf("Sort order:    %s\n", SortOrderText(header).c_str());
  if (header.has_creation_date)
    std::printf("Created:       %s\n", jet::Value::DateTime(header.creation_date).ToText().c_str());
  std::printf("Password:      %s\n", header.has_password ? "set" : "none");
  std::printf("Page encoding: %s\n", header.is_encoded() ? "RC4 (database key set)" : "none");

  const std::vector<const jet::CatalogObject*> tables = db->Tables(false);
  std::printf("Tables:        %zu\n", tables.size());
  Progress progress("info", "table", tables.size());
  for (size_t n = 0; n < tables.size(); ++n) {
    progress.Update(n);
    const jet::TableDef* table = nullptr;
    jet::Status status = db->GetTableDefByName(tables[n]->name, &table);
    uint64_t rows = 0;
    if (status.ok())
      status = db->ScanRows(*table, [&](const jet::RowId&, const std::vector<jet::Value>&) {
        ++rows;
        return true;
      });
    if (!status.ok()) {
      std::printf("  %s%s\n", Padded(tables[n]->name, 30).c_str(), status.ToString().c_str());
      continue;
    }
    std::printf("  %s%llu row%s", Padded(tables[n]->name, 30).c_str(), static_cast<unsigned long long>(rows),
                rows == 1 ? "" : "s");
    if (rows != table->row_count) std::printf(" (definition says %u)", table->row_count);
    std::printf("\n");
  }
  if (!db->notes().empty()) {
    std::printf("Notes:\n");
    for (const std::string& note : db->notes()) std::printf("  %s\n", note.c_str());
  }
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : DatabaseError(status);
}

int RunTables(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  if (int code = ParseAndOpen("tables", kTablesHelp, args, {{"system", false}}, 0, &parsed, &db);
      code >= 0)
    return code;
  for (const jet::CatalogObject* table : db->Tables(parsed.Has("system")))
    std::printf("%s\n", table->name.c_str());
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : DatabaseError(status);
}

int RunSchema(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  if (int code = ParseAndOpen("schema", kSchemaHelp, args, {{"system", false}}, 1, &parsed, &db);
      code >= 0)
    return code;
  std::vector<std::string> names;
  if (parsed.positional.size() == 2) {
    names.push_back(parsed.positional[1]);
  } else {
    for (const jet::CatalogObject* table : db->Tables(parsed.Has("system"))) names.push_back(table->name);
  }
  for (size_t n = 0; n < names.size(); ++n) {
    const jet::TableDef* table = nullptr;
    jet::Status status = db->GetTableDefByName(names[n], &table);
    if (!status.ok()) return DatabaseError(status);
    if (n > 0) std::printf("\n");
    PrintSchema(*db, *table, names[n]);
  }
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : DatabaseError(status);
}

}  // namespace jetdb
