// jetdb info, tables and schema: what a file is and what it holds, read-only.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "jet/base/text.h"
#include "jet/read/value.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/queries.h"
#include "tools/jetdb/sql.h"

namespace jetdb {
namespace {

const char kInfoHelp[] =
    "Usage: jetdb info [-c CP] FILE\n"
    "Shows the format, page size, page count, code page and sort order of FILE,\n"
    "whether a database password or page encoding is set (never the password), its\n"
    "tables with the number of live rows, counted from the pages, and its linked\n"
    "tables with the database and table they stand for.\n\n"
    "  -c, --codepage CP  read Jet 3 text in Windows code page CP (936, 1251, ...)\n"
    "                     instead of the one the file names\n"
    "  -h, --help         this help\n";

const char kTablesHelp[] =
    "Usage: jetdb tables [-s] [-c CP] FILE\n"
    "Lists the names of the tables of FILE, one per line, in catalog order. A linked\n"
    "table's line goes on after a tab: \"linked to\" its table and database.\n\n"
    "  -s, --system       include the system tables (MSys...)\n"
    "  -c, --codepage CP  read Jet 3 text in Windows code page CP\n"
    "  -h, --help         this help\n";

const char kSchemaHelp[] =
    "Usage: jetdb schema [-s] [-c CP] [--sql DIALECT] FILE [TABLE]\n"
    "Shows the columns and indexes of every table of FILE, or of TABLE only.\n\n"
    "  -s, --system         include the system tables when no TABLE is named\n"
    "  -S, --sql DIALECT    instead, the SQL that makes the user tables in sqlite,\n"
    "                       postgres or mysql: types, NOT NULL, primary keys,\n"
    "                       indexes, foreign keys and AutoNumber (see jetdb(1))\n"
    "  -c, --codepage CP    read Jet 3 text in Windows code page CP\n"
    "  -h, --help           this help\n";

const char kQueriesHelp[] =
    "Usage: jetdb queries [-l] [-c CP] FILE [QUERY]\n"
    "Shows the saved queries of FILE, each as a line \"-- NAME (TYPE)\" and its SQL\n"
    "as Access writes it, rebuilt from the query definitions (MSysQueries); or only\n"
    "the SQL of QUERY.\n\n"
    "  -l, --list         only the names of the queries, one per line\n"
    "  -c, --codepage CP  read Jet 3 text in Windows code page CP\n"
    "  -h, --help         this help\n";

// `text` followed by blanks up to `width` characters (UTF-8 code points, so names
// with accents line up too); at least one blank when something follows.
std::string Padded(const std::string& text, size_t width) {
  size_t characters = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80) ++characters;
  return text + std::string(characters < width ? width - characters : 1, ' ');
}

// Parses the command line and opens the file named first (with --codepage).
// Returns -1 when the caller should carry on, or the exit code to return.
// `check`, when given, returns a usage error of the options ("" when they are sound).
int ParseAndOpen(const CommandSpec& command, const std::vector<std::string>& args, ParsedArgs* parsed,
                 std::unique_ptr<jet::Database>* db,
                 const std::function<std::string(const ParsedArgs&)>& check = nullptr) {
  if (int code = ParseCommandLine(command, args, parsed); code >= 0) return code;
  if (check)
    if (const std::string error = check(*parsed); !error.empty()) return UsageError(command.name, error);
  uint16_t code_page = 0;
  std::string error;
  if (!ParseCodePage(*parsed, &code_page, &error)) return UsageError(command.name, error);
  jet::Status status = OpenDatabase(parsed->positional[0], code_page, db);
  if (!status.ok()) return ReportError(status);
  return -1;
}

// "linked to TABLE in DATABASE" (or "linked to TABLE through CONNECT" for ODBC), with
// any password in the connect string hidden.
std::string LinkTarget(const jet::Database& db, const jet::CatalogObject& object) {
  const jet::Value& foreign = db.CatalogField(object, "ForeignName");
  const jet::Value& database = db.CatalogField(object, "Database");
  std::string connect = db.CatalogField(object, "Connect").is_null() ? "" : db.CatalogField(object, "Connect").text();
  for (size_t at = 0; (at = connect.find("PWD=", at)) != std::string::npos;) {
    const size_t end = connect.find(';', at);
    connect.replace(at + 4, (end == std::string::npos ? connect.size() : end) - at - 4, "***");
    at += 4;
  }
  std::string text = "linked to " + (foreign.is_null() ? object.name : foreign.text());
  if (!database.is_null() && !database.text().empty()) text += " in " + database.text();
  else if (!connect.empty()) text += " through " + connect;
  return text;
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
  const CommandSpec command{"info", kInfoHelp, {kCodePageOption}, 1, 1, "a FILE"};
  if (int code = ParseAndOpen(command, args, &parsed, &db); code >= 0) return code;
  const jet::Header& header = db->header();
  std::printf("File:          %s\n", parsed.positional[0].c_str());
  std::printf("Format:        %s (%s)\n", jet::VersionName(header.version), header.engine_name.c_str());
  std::printf("Page size:     %u\n", db->file().page_size());
  std::printf("Pages:         %u%s\n", db->file().page_count(),
              db->file().has_partial_page() ? " (and a partial page at the end)" : "");
  std::printf("Code page:     %u%s\n", header.code_page,
              parsed.Has("codepage") ? (" (text read as " + parsed.Get("codepage", "") + ")").c_str() : "");
  std::printf("Sort order:    %s\n", SortOrderText(header).c_str());
  if (header.has_creation_date)
    std::printf("Created:       %s\n", jet::Value::DateTime(header.creation_date).ToText().c_str());
  std::printf("Password:      %s\n", header.has_password ? "set" : "none");
  std::printf("Page encoding: %s\n", header.is_encoded() ? "RC4 (database key set)" : "none");

  const std::vector<const jet::CatalogObject*> tables = db->Tables(false);
  std::printf("Tables:        %zu\n", tables.size());
  for (size_t n = 0; n < tables.size(); ++n) {
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
  const std::vector<const jet::CatalogObject*> linked = db->LinkedTables();
  if (!linked.empty()) {
    std::printf("Linked tables: %zu\n", linked.size());
    for (const jet::CatalogObject* object : linked)
      std::printf("  %s%s\n", Padded(object->name, 30).c_str(), LinkTarget(*db, *object).c_str());
  }
  if (!db->notes().empty()) {
    std::printf("Notes:\n");
    for (const std::string& note : db->notes()) std::printf("  %s\n", note.c_str());
  }
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : ReportError(status);
}

int RunTables(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  const CommandSpec command{"tables", kTablesHelp, {{"system", 's', false}, kCodePageOption}, 1, 1, "a FILE"};
  if (int code = ParseAndOpen(command, args, &parsed, &db); code >= 0) return code;
  for (const jet::CatalogObject* table : db->Tables(parsed.Has("system")))
    std::printf("%s\n", table->name.c_str());
  for (const jet::CatalogObject* table : db->LinkedTables())
    std::printf("%s\t%s\n", table->name.c_str(), LinkTarget(*db, *table).c_str());
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : ReportError(status);
}

int RunSchema(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  const CommandSpec command{"schema", kSchemaHelp,
                            {{"system", 's', false}, {"sql", 'S', true}, kCodePageOption}, 1, 2,
                            "a FILE"};
  Dialect dialect;
  const auto check = [&](const ParsedArgs& p) -> std::string {
    if (!p.Has("sql")) return "";
    if (!ParseDialect(p.Get("sql", ""), &dialect)) return "--sql takes sqlite, postgres or mysql";
    if (p.positional.size() > 1 || p.Has("system"))
      return "--sql writes every user table; it takes no TABLE and no --system";
    return "";
  };
  if (int code = ParseAndOpen(command, args, &parsed, &db, check); code >= 0) return code;
  if (parsed.Has("sql")) {
    SqlSchema schema;
    jet::Status status = ReadSqlSchema(*db, &schema);
    if (!status.ok()) return ReportError(status);
    std::fputs(SchemaSql(dialect, schema).c_str(), stdout);
    status = FinishOutput();
    return status.ok() ? kExitOk : ReportError(status);
  }
  std::vector<std::string> names;
  if (parsed.positional.size() == 2) {
    names.push_back(parsed.positional[1]);
  } else {
    for (const jet::CatalogObject* table : db->Tables(parsed.Has("system"))) names.push_back(table->name);
  }
  for (size_t n = 0; n < names.size(); ++n) {
    const jet::TableDef* table = nullptr;
    jet::Status status = db->GetTableDefByName(names[n], &table);
    if (!status.ok()) return ReportError(status);
    if (n > 0) std::printf("\n");
    PrintSchema(*db, *table, names[n]);
  }
  jet::Status status = FinishOutput();
  return status.ok() ? kExitOk : ReportError(status);
}

int RunQueries(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  std::unique_ptr<jet::Database> db;
  const CommandSpec command{"queries", kQueriesHelp, {{"list", 'l', false}, kCodePageOption}, 1, 2, "a FILE"};
  if (int code = ParseAndOpen(command, args, &parsed, &db); code >= 0) return code;
  std::vector<SavedQuery> queries;
  jet::Status status = ReadQueries(*db, &queries);
  if (!status.ok()) return ReportError(status);
  if (parsed.positional.size() == 2) {
    const SavedQuery* found = nullptr;
    for (const SavedQuery& q : queries)
      if (q.name == parsed.positional[1] || (!found && jet::EqualsIgnoringAsciiCase(q.name, parsed.positional[1]))) found = &q;
    if (found == nullptr)
      return ReportError(jet::Status::Error(jet::ErrorKind::kNotFound, "no query named \"" + parsed.positional[1] + "\""));
    std::printf("%s\n", QuerySql(*found).c_str());
  } else {
    for (const SavedQuery& q : queries) {
      if (parsed.Has("list")) {
        std::printf("%s\n", q.name.c_str());
        continue;
      }
      std::printf("-- %s (%s)\n%s\n\n", q.name.c_str(), QueryTypeName(q.type), QuerySql(q).c_str());
    }
  }
  status = FinishOutput();
  return status.ok() ? kExitOk : ReportError(status);
}

}  // namespace jetdb
