// Readers: our reader in a forked child, mdb-reader through a Node.js server, and
// mdb-export once per table; all answers parsed from the one line format.
#include "tools/repair_study/readers.h"

#include <unistd.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "jet/read/database.h"
#include "tools/jetdb/export_format.h"

namespace study {
namespace {

constexpr char kUnitSeparator = '\x1f';
// What ends a row of mdb-export's answer: four bytes, since a flipped byte in a stored
// value may well be one 0x1E, and would split its row in two.
constexpr char kRowEnd[] = "\x1e\x1e\x1e\x1e";
constexpr char kNullMark = '\x1d';

void Emit(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// Runs in the child: every user table of `path`, in the answer format.
int DumpOurRows(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  jet::Status s = jet::Database::Open(path, &db);
  if (!s.ok()) {
    Emit("x" + s.ToString());
    return 1;
  }
  for (const jet::CatalogObject* table : db->Tables(false)) {
    const std::string key = jetdb::JsonString(table->name) + "\t";
    const jet::TableDef* def = nullptr;
    s = db->GetTableDef(uint32_t(table->id), &def);
    uint64_t count = 0;
    std::string line, long_values;
    if (s.ok())
      s = db->ScanRows(*def, [&](const jet::RowId&, const std::vector<jet::Value>& values) {
        line = key + "[";
        long_values = "[";
        for (size_t n = 0; n < values.size() && n < def->columns.size(); ++n) {
          std::string& part = def->columns[n].is_long_value() ? long_values : line;
          if (part.back() != '[') part += ',';
          part += jetdb::JsonValue(values[n]);
        }
        Emit(line + "]" + kUnitSeparator + long_values + "]");
        ++count;
        return true;
      });
    Emit(key + (s.ok() ? "#" + std::to_string(count) : "!" + s.ToString()));
  }
  return 0;
}

std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r' || c == '\t') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string DeathOf(const char* reader, const ChildResult& child) {
  return std::string(reader) + ": " + child.Describe() + (child.err.empty() ? "" : ": " + OneLine(child.err.substr(0, 200)));
}

}  // namespace

uint64_t TableRead::RowCount() const {
  uint64_t n = 0;
  for (const auto& [row, count] : rows) n += count;
  return n;
}

const TableRead* FileRead::Table(const std::string& name) const {
  auto it = tables.find(name);
  return it == tables.end() ? nullptr : &it->second;
}

const TableRead* FileRead::ReadTable(const std::string& name) const {
  const TableRead* table = Table(name);
  return table != nullptr && table->ok ? table : nullptr;
}

void ParseDump(const std::string& text, FileRead* read) {
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(begin, end - begin);
    begin = end + 1;
    if (!line.empty() && line[0] == 'x') {
      read->error = line.substr(1);
      continue;
    }
    const size_t tab = line.find('\t');
    if (line.empty() || line[0] != '"' || tab == std::string::npos) continue;
    std::string name;
    try {
      name = nlohmann::json::parse(line.substr(0, tab)).get<std::string>();
    } catch (const std::exception&) {
      continue;
    }
    TableRead& table = read->tables[name];
    const std::string rest = line.substr(tab + 1);
    if (!rest.empty() && rest[0] == '#') {
      table.ok = table.error.empty();
    } else if (!rest.empty() && rest[0] == '!') {
      table.ok = false;
      table.error = rest.substr(1);
      table.rows.clear();  // a table the reader failed on reads nothing
    } else if (table.error.empty()) {
      ++table.rows[rest];
    }
  }
}

const char* ReaderName(Reader reader) {
  switch (reader) {
    case Reader::kOurs: return "jetdb";
    case Reader::kMdbReader: return "mdb-reader";
    case Reader::kMdbtools: return "mdbtools";
  }
  return "?";
}

std::string WithoutLongValues(const std::string& our_row) { return our_row.substr(0, our_row.find(kUnitSeparator)); }

namespace {

// The values of one JSON array of scalars as Emit wrote it ("[1,\"a,b\",null]"),
// each as its text.
std::vector<std::string> ArrayValues(std::string_view array) {
  std::vector<std::string> values;
  if (array.size() <= 2) return values;
  std::string value;
  bool in_string = false, escaped = false;
  for (const char c : array.substr(1, array.size() - 2)) {
    if (in_string) {
      if (escaped)
        escaped = false;
      else if (c == '\\')
        escaped = true;
      else if (c == '"')
        in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == ',') {
      values.push_back(std::move(value));
      value.clear();
      continue;
    }
    value += c;
  }
  values.push_back(std::move(value));
  return values;
}

std::string JoinArray(const std::vector<std::string>& values) {
  std::string array = "[";
  for (size_t i = 0; i < values.size(); ++i) array += (i == 0 ? "" : ",") + values[i];
  return array + "]";
}

}  // namespace

size_t RowValueCount(const std::string& our_row) {
  const size_t separator = our_row.find(kUnitSeparator);
  if (separator == std::string::npos) return ArrayValues(our_row).size();
  return ArrayValues(std::string_view(our_row).substr(0, separator)).size() +
         ArrayValues(std::string_view(our_row).substr(separator + 1)).size();
}

std::string WithoutValues(const std::string& our_row, const std::vector<size_t>& positions) {
  const size_t separator = our_row.find(kUnitSeparator);
  if (separator == std::string::npos) return our_row;
  std::vector<std::string> parts[2] = {ArrayValues(std::string_view(our_row).substr(0, separator)),
                                       ArrayValues(std::string_view(our_row).substr(separator + 1))};
  const size_t first = parts[0].size();
  for (auto at = positions.rbegin(); at != positions.rend(); ++at) {
    std::vector<std::string>& part = *at < first ? parts[0] : parts[1];
    const size_t i = *at < first ? *at : *at - first;
    if (i < part.size()) part.erase(part.begin() + ptrdiff_t(i));
  }
  return JoinArray(parts[0]) + kUnitSeparator + JoinArray(parts[1]);
}

bool ValuesWithin(const std::string& our_row, const std::string& original_row) {
  const size_t ours = our_row.find(kUnitSeparator), original = original_row.find(kUnitSeparator);
  if (ours == std::string::npos || original == std::string::npos) return false;
  const auto within = [](std::string_view part, std::string_view whole) {
    const std::vector<std::string> values = ArrayValues(part), all = ArrayValues(whole);
    size_t at = 0;
    for (const std::string& value : values) {
      while (at < all.size() && all[at] != value) ++at;
      if (at == all.size()) return false;
      ++at;
    }
    return true;
  };
  return within(std::string_view(our_row).substr(0, ours), std::string_view(original_row).substr(0, original)) &&
         within(std::string_view(our_row).substr(ours + 1), std::string_view(original_row).substr(original + 1));
}

Readers::Readers(const std::string& oracle_dir, double seconds)
    : seconds_(seconds),
      node_({"node", "--max-old-space-size=1024", oracle_dir + "/dump-mdb-reader.mjs", "--serve"}) {}

FileRead Readers::Read(Reader reader, const std::string& path, const std::vector<std::string>& tables) {
  switch (reader) {
    case Reader::kOurs: return ReadOurs(path);
    case Reader::kMdbReader: return ReadMdbReader(path);
    case Reader::kMdbtools: return ReadMdbtools(path, tables);
  }
  return FileRead();
}

FileRead Readers::ReadOurs(const std::string& path) {
  const ChildResult child = RunInChild([&] { return DumpOurRows(path); }, seconds_);
  FileRead read;
  ParseDump(child.out, &read);
  if (child.Died()) {
    read.died = true;
    read.error = DeathOf("jetdb", child);
  }
  return read;
}

FileRead Readers::ReadMdbReader(const std::string& path) {
  std::string answer;
  const bool answered = node_.Ask(
      path, [](const std::string& line) { return line == "." || (!line.empty() && line[0] == 'x'); }, seconds_,
      &answer);
  FileRead read;
  ParseDump(answer, &read);
  if (!answered) {
    read.died = true;
    read.error = "mdb-reader died or gave no answer within the time limit";
  }
  return read;
}

FileRead Readers::ReadMdbtools(const std::string& path, const std::vector<std::string>& tables) {
  FileRead read;
  for (const std::string& name : tables) {
    const ChildResult child =
        RunProgram({"mdb-export", "-H", "-Q", "-d", std::string(1, kUnitSeparator), "-R",
                    kRowEnd, "-0", std::string(1, kNullMark), "-b", "hex", "-D",
                    "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", path, name},
                   seconds_);
    TableRead& table = read.tables[name];
    if (child.Died() || child.exit_code != 0) {
      table.error = DeathOf("mdb-export", child);
      continue;
    }
    table.ok = true;
    size_t begin = 0;
    while (begin < child.out.size()) {
      size_t end = child.out.find(kRowEnd, begin);
      if (end == std::string::npos) end = child.out.size();
      ++table.rows[child.out.substr(begin, end - begin)];
      begin = end + sizeof kRowEnd - 1;
    }
  }
  return read;
}

std::vector<std::string> Readers::MdbtoolsTables(const std::string& path) {
  const ChildResult child = RunProgram({"mdb-tables", "-1", path}, seconds_);
  std::vector<std::string> names;
  if (child.Died() || child.exit_code != 0) return names;
  size_t begin = 0;
  while (begin < child.out.size()) {
    size_t end = child.out.find('\n', begin);
    if (end == std::string::npos) end = child.out.size();
    if (end > begin) names.push_back(child.out.substr(begin, end - begin));
    begin = end + 1;
  }
  return names;
}

std::string MissingReaders(const std::string& oracle_dir) {
  if (RunProgram({"mdb-export", "--version"}, 30).exit_code != 0) return "mdbtools (mdb-export) is not installed";
  if (RunProgram({"node", "--version"}, 30).exit_code != 0) return "Node.js (node) is not installed";
  if (::access((oracle_dir + "/node_modules/mdb-reader/package.json").c_str(), R_OK) != 0)
    return "mdb-reader is not installed in " + oracle_dir + " (npm ci there)";
  return "";
}

}  // namespace study
