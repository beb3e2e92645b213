// The engine touches only the files it was given: a database whose linked tables name
// other databases (C:\db\linkee1.mdb, ...) is compacted and repaired without any of
// those names reaching the system, and nothing is written outside the destination's
// folder (destination and its temporary file). Watched with strace on `jetdb`.
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;

// Runs `command` under strace, following children; returns the trace lines of every
// call on a path.
std::vector<std::string> Trace(const std::string& command, const std::string& trace_file, int* status) {
  const std::string line = "strace -f -qq -e trace=%file -o '" + trace_file + "' " + command + " >/dev/null 2>&1";
  *status = std::system(line.c_str());
  std::vector<std::string> lines;
  std::ifstream in(trace_file);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// True for a call that may change the file system at the path it names. The name must
// stand alone: readlink( is a read, although it ends in link(.
bool Writes(const std::string& call) {
  static const std::regex writing(
      R"((^|[^a-z_])(rename|renameat2?|unlink|unlinkat|mkdir|mkdirat|rmdir|link|linkat|symlink|symlinkat|chmod|fchmodat|truncate|creat|utimensat)\()");
  if (std::regex_search(call, writing)) return true;
  return call.find("open") != std::string::npos &&
         (call.find("O_WRONLY") != std::string::npos || call.find("O_RDWR") != std::string::npos ||
          call.find("O_CREAT") != std::string::npos);
}

// The quoted paths a trace line names.
std::vector<std::string> Paths(const std::string& call) {
  static const std::regex quoted("\"([^\"]*)\"");
  std::vector<std::string> paths;
  for (auto it = std::sregex_iterator(call.begin(), call.end(), quoted); it != std::sregex_iterator(); ++it)
    paths.push_back((*it)[1]);
  return paths;
}

class EngineBoundariesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_TESTDATA();
    jetdb_ = testing_support::BinaryDir() + "/tools/jetdb/jetdb";
    if (!fs::exists(jetdb_)) GTEST_SKIP() << "jetdb is not built at " << jetdb_;
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    const std::string linked = testing_support::TestDataDir() + "/jet4/ua_linked.mdb";
    if (!fs::exists(linked)) GTEST_SKIP() << "ua_linked.mdb is absent";
    ASSERT_TRUE(fs::create_directory(work_));
    ASSERT_TRUE(fs::create_directory(canary_));
    fs::copy_file(linked, work_ + "/linked.mdb");
    // Files with the names the linked tables give, where a careless engine might look.
    for (const char* name : {"linkee1.mdb", "linkee2.mdb", "C:\\db\\linkee1.mdb"}) {
      ASSERT_TRUE(testing_support::WriteFileBytes(work_ + "/" + name, "canary"));
      ASSERT_TRUE(testing_support::WriteFileBytes(canary_ + "/" + name, "canary"));
    }
  }

  // Every path a run wrote to lies in the work folder; no path names a linked file.
  void ExpectConfined(const std::vector<std::string>& trace) {
    ASSERT_FALSE(trace.empty()) << "strace gave no trace";
    for (const std::string& call : trace) {
      for (const std::string& path : Paths(call)) {
        EXPECT_EQ(path.find("linkee"), std::string::npos) << "a path from inside the database: " << call;
        if (Writes(call)) {
          EXPECT_EQ(path.rfind(work_ + "/", 0), 0u) << "written outside the work folder: " << call;
        }
      }
    }
    for (const std::string& folder : {work_, canary_}) {
      for (const char* name : {"linkee1.mdb", "linkee2.mdb", "C:\\db\\linkee1.mdb"})
        EXPECT_EQ(testing_support::ReadFileBytes(folder + "/" + name), "canary");
    }
  }

  testing_support::TempDir dir_;
  const std::string work_ = dir_.File("work");
  const std::string canary_ = dir_.File("canary");
  std::string jetdb_;
};

TEST_F(EngineBoundariesTest, CompactAndRepairOfLinkedTablesStayInTheirFolder) {
  int status = 0;
  const std::vector<std::string> compact =
      Trace(jetdb_ + " compact '" + work_ + "/linked.mdb' '" + work_ + "/compacted.mdb'", dir_.File("t1"), &status);
  ExpectConfined(compact);
  EXPECT_TRUE(fs::exists(work_ + "/compacted.mdb")) << "jetdb compact exit status " << status;

  const std::vector<std::string> repair = Trace(jetdb_ + " repair '" + work_ + "/linked.mdb'", dir_.File("t2"), &status);
  ExpectConfined(repair);
  for (const auto& entry : fs::directory_iterator(work_))
    EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

}  // namespace
