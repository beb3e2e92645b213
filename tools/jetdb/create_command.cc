// jetdb create: reads a schema (doc/schema-format.md), optionally adds generated
// rows, and writes a new Jet 3 or Jet 4 database with jet::CreateDatabase.
#include "tools/jetdb/create_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "jet/create/create.h"
#include "jet/base/env.h"
#include "jet/create/row_generator.h"
#include "jet/base/stale_temporary.h"
#include "jet/create/schema_json.h"
#include "tools/jetdb/cli.h"
#include "tools/jetdb/terminal.h"

namespace jetdb {
namespace {

const char kCreateHelp[] =
    "Usage: jetdb create [-f jet3|jet4] [-r N] [-S S] [-q] SCHEMA.json OUT.mdb\n"
    "Writes the new database OUT.mdb, which must not exist, from the tables, indexes,\n"
    "relationships and rows described in SCHEMA.json (see jetdb(1) and\n"
    "doc/schema-format.md): system tables and catalog included, code page 1252 and\n"
    "the General sort order unless the schema names another code page.\n\n"
    "  -f, --format F  jet3 (Access 95/97) or jet4 (Access 2000-2003); default:\n"
    "                  the schema's \"format\", else jet4\n"
    "  -r, --rows N    add N generated rows to every table (about one in eight of\n"
    "                  them deleted, Memo and OLE values of every size)\n"
    "  -S, --seed S    seed of the generated rows (default 1); the same seed gives\n"
    "                  the same file contents\n"
    "  -q, --quiet     no progress on the terminal\n"
    "  -h, --help      this help\n";

// Schema files are small; anything past this is not one.
constexpr size_t kMaxSchemaBytes = 256u << 20;

jet::Status ReadWholeFile(const std::string& path, std::string* text) {
  std::unique_ptr<jet::SequentialFile> file;
  jet::Status s = jet::Env::Default()->NewSequentialFile(path, &file);
  if (!s.ok()) return s;
  text->clear();
  char buffer[65536];
  for (;;) {
    size_t got = 0;
    s = file->Read(buffer, sizeof buffer, &got);
    if (!s.ok()) return s;
    if (got == 0) return jet::Status::Ok();
    text->append(buffer, got);
    if (text->size() > kMaxSchemaBytes)
      return jet::Status::Error(jet::ErrorKind::kInvalidArgument, path + ": too large for a schema file");
  }
}

bool ParseCount(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

int RunCreate(const std::vector<std::string>& args) {
  ParsedArgs parsed;
  const CommandSpec command{"create", kCreateHelp,
                            {{"format", 'f', true}, {"rows", 'r', true}, {"seed", 'S', true}, kQuietOption},
                            2, 2, "a SCHEMA and an OUT file"};
  if (int code = ParseCommandLine(command, args, &parsed); code >= 0) return code;
  uint64_t rows = 0, seed = 1;
  if (parsed.Has("rows") && !ParseCount(parsed.options["rows"], 100000000, &rows))
    return UsageError("create", "--rows takes a number of rows (0 to 100000000)");
  if (parsed.Has("seed") && !ParseCount(parsed.options["seed"], UINT64_MAX, &seed))
    return UsageError("create", "--seed takes a non-negative number");
  if (parsed.Has("format") && parsed.options["format"] != "jet3" && parsed.options["format"] != "jet4")
    return UsageError("create", "--format is jet3 or jet4");
  const std::string out = parsed.positional[1];
  CleanUpOnInterrupt([out] { jet::RemoveOwnTemporaryFiles(jet::Env::Default(), out); });

  std::string text;
  jet::Status s = ReadWholeFile(parsed.positional[0], &text);
  jet::Schema schema;
  if (s.ok()) s = jet::ParseSchemaJson(text, &schema);
  if (s.ok() && parsed.Has("format"))
    schema.version = parsed.options["format"] == "jet3" ? jet::Version::kJet3 : jet::Version::kJet4;
  // Generated rows are made as they are written, never all held at once.
  std::unique_ptr<jet::RowSupplier> supplier;
  if (s.ok() && rows > 0) {
    std::unique_ptr<jet::RowGenerator> generator;
    s = jet::RowGenerator::Make(schema, uint32_t(rows), seed, &generator);
    supplier = std::move(generator);
  } else if (s.ok()) {
    supplier = jet::SchemaRows(schema);
  }
  if (s.ok()) {
    Progress progress("create", "tables", parsed.Has("quiet"));
    jet::CreateOptions options;
    options.progress = [&](uint64_t done, uint64_t total) { progress.Update(done, total); };
    s = jet::CreateDatabase(schema, supplier.get(), out, jet::Env::Default(), options);
  }
  if (!s.ok()) return ReportError(s);
  return kExitOk;
}

}  // namespace jetdb
