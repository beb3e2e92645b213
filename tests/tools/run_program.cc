// Program runner and CSV reader for the jetdb tests.
#include "tests/tools/run_program.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "tests/support/test_support.h"

extern char** environ;

namespace tools_test {

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  ProgramResult result;
  testing_support::TempDir dir;
  const std::string out_path = dir.File("out"), err_path = dir.File("err");
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  result.out = testing_support::ReadFileBytes(out_path);
  result.err = testing_support::ReadFileBytes(err_path);
  return result;
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':'))
    if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

std::string JetdbPath() { return JETDB_PATH; }

bool ParseCsv(const std::string& text, std::vector<CsvRow>* rows) {
  rows->clear();
  CsvRow row;
  std::string field;
  bool quoted = false;     // the current field started with a quote
  bool in_quotes = false;  // inside the quoted part
  bool field_started = false;
  const auto end_field = [&] {
    if (!quoted && field.empty())
      row.push_back(std::nullopt);
    else
      row.push_back(field);
    field.clear();
    quoted = false;
    field_started = false;
  };
  for (size_t n = 0; n < text.size(); ++n) {
    const char c = text[n];
    if (in_quotes) {
      if (c == '"') {
        if (n + 1 < text.size() && text[n + 1] == '"') {
          field += '"';
          ++n;
        } else {
          in_quotes = false;
        }
      } else {
        field += c;
      }
      continue;
    }
    if (c == '"') {
      if (field_started) return false;
      quoted = in_quotes = field_started = true;
    } else if (c == ',') {
      end_field();
    } else if (c == '\n' || (c == '\r' && n + 1 < text.size() && text[n + 1] == '\n')) {
      if (c == '\r') ++n;
      end_field();
      rows->push_back(std::move(row));
      row.clear();
    } else {
      if (quoted) return false;  // text after a closing quote
      field += c;
      field_started = true;
    }
  }
  if (in_quotes) return false;
  if (field_started || !row.empty()) {
    end_field();
    rows->push_back(std::move(row));
  }
  return true;
}

}  // namespace tools_test
