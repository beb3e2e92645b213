// jetdb: command-line tool over the Jet engine. main() only finds the command in the
// table below and hands it the remaining arguments; adding a command is one row here
// and one function in commands.h.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/jetdb/arguments.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"
#include "tools/jetdb/compact_command.h"
#include "tools/jetdb/create_command.h"
#include "version.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"info", "format, page size, code page, encoding and tables of a file", jetdb::RunInfo},
    {"tables", "names of the tables, one per line", jetdb::RunTables},
    {"schema", "columns and indexes of every table, or of one", jetdb::RunSchema},
    {"queries", "saved queries and their SQL", jetdb::RunQueries},
    {"export", "rows of a table, or of all, as CSV, JSON or SQL", jetdb::RunExport},
    {"to-sqlite", "a new SQLite database with the tables, rows and keys", jetdb::RunToSqlite},
    {"check", "integrity check of every structure; exit 1 on damage", jetdb::RunCheck},
    {"repair", "repairs a file, in place or into a new one; reports what was lost", jetdb::RunRepair},
    {"compact", "write a compacted copy of a file as a new file", jetdb::RunCompact},
    {"create", "write a new database from a JSON schema", jetdb::RunCreate},
};

void PrintHelp() {
  std::printf(
      "Usage: jetdb COMMAND [OPTION...] FILE [ARGUMENT...]\n"
      "Reads Microsoft Jet databases (.mdb files of Access 95 to 2003).\n\nCommands:\n");
  for (const Command& c : kCommands) std::printf("  %-10s %s\n", c.name, c.summary);
  std::printf(
      "\n'jetdb COMMAND --help' describes a command.\n"
      "Exit status: 0 on success (check: no damage), 1 when damage is found, 2 on a\n"
      "usage error, 3 when a file cannot be read or written.\n");
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args = jetdb::Utf8Arguments(argc, argv);
  if (args.size() < 2) return jetdb::UsageError("", "no command given");
  const std::string& first = args[1];
  if (first == "-h" || first == "--help" || first == "help") {
    PrintHelp();
    return jetdb::kExitOk;
  }
  if (first == "--version" || first == "-V") {
    std::printf("jetdb %s\n", ZIVADIDUZ_VERSION);
    return jetdb::kExitOk;
  }
  for (const Command& c : kCommands) {
    if (first == c.name) return c.run(std::vector<std::string>(args.begin() + 2, args.end()));
  }
  return jetdb::UsageError("", "unknown command '" + first + "'");
}
