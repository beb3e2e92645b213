// Test helpers: temporary folders, file access, the real test data location.
#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <algorithm>

#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "zivadiduz-test-XXXXXX").string();
  char* made = ::mkdtemp(pattern.data());
  path_ = made ? std::string(made) : std::string();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ec;
  // Tests make folders read-only; give the owner back write access before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

std::string TempDir::File(const std::string& name) const { return path_ + "/" + name; }

std::string TestDataDir() {
  fs::path dir = fs::path(ZIVADIDUZ_SHARED_DIR) / "testdata";
  std::error_code ec;
  if (fs::is_directory(dir, ec)) return dir.string();
  return "";
}

std::vector<std::string> TestDataFiles(const std::string& subfolder) {
  std::vector<std::string> files;
  std::string root = TestDataDir();
  if (root.empty()) return files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(fs::path(root) / subfolder, ec)) {
    if (entry.is_regular_file(ec)) files.push_back(entry.path().string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string BinaryDir() { return ZIVADIDUZ_BINARY_DIR; }

int EndedProcessId() {
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  if (child < 0 || ::waitpid(child, nullptr, 0) != child) return -1;
  return child;  // reaped: its id is free
}

}  // namespace testing_support
