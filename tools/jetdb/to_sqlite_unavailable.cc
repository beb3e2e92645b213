// jetdb to-sqlite where jetdb is built without libsqlite3 (a system that has none,
// such as a Windows cross-build): the command is there and says why it cannot run.
#include "tools/jetdb/cli.h"
#include "tools/jetdb/commands.h"

namespace jetdb {

int RunToSqlite(const std::vector<std::string>& args) {
  return UsageError("", "this jetdb was built without SQLite; use 'jetdb export --format sql --dialect sqlite'");
}

}  // namespace jetdb
