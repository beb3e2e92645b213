// Helpers shared by the tests: temporary folders and the real Access-written files.
#pragma once

#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with its contents when
// the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + the platform's separator + name
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// The folder of the real test databases (<shared>/testdata), or "" when it is absent.
std::string TestDataDir();

// All files under TestDataDir()/<subfolder> ("jet3", "jet4", "ace"), sorted by name;
// empty when the folder is absent.
std::vector<std::string> TestDataFiles(const std::string& subfolder);

// Whole file as bytes; empty on error.
std::string ReadFileBytes(const std::string& path);
// Writes `bytes` to `path` (replacing it); false on error.
bool WriteFileBytes(const std::string& path, const std::string& bytes);

// True when anything is at `path`: a file, a folder, or a link, even a dangling one.
bool PathExists(const std::string& path);

// The build tree's root, for tests that run built programs.
std::string BinaryDir();

// The id of a process that has ended and been reaped, so no process runs under it
// (for the temporary files of a writer that is gone); -1 if none could be started.
int EndedProcessId();

}  // namespace testing_support

// Skips the current test when the real test files are not there.
#define SKIP_WITHOUT_TESTDATA()                                                    \
  do {                                                                             \
    if (::testing_support::TestDataDir().empty())                                  \
      GTEST_SKIP() << "real test databases (../shared/testdata) are not present";  \
  } while (0)
