// Test helpers: temporary folders, file access, the real test data location (what
// differs between the platforms: test_support_posix.cc, test_support_win32.cc).
#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <algorithm>

#include <random>

namespace testing_support {

namespace fs = std::filesystem;

TempDir::TempDir() {
  // A name nobody else has: create_directory fails on one that exists, and a few
  // random tries find a free one.
  std::random_device random;
  std::error_code ec;
  const fs::path root = fs::temp_directory_path(ec);
  for (int attempt = 0; attempt < 100 && !ec; ++attempt) {
    const fs::path dir = root / ("zivadiduz-test-" + std::to_string(random()));
    if (fs::create_directory(dir, ec)) {
      path_ = dir.string();
      return;
    }
  }
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

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

std::string BinaryDir() { return ZIVADIDUZ_BINARY_DIR; }

}  // namespace testing_support
