// Tests of the recording runtime's one-line box format and of ProgramFolder.
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "services/program_folder.h"
#include "services/recording_runtime.h"
#include "tests/support/test_support.h"

namespace {

TEST(RecordingRuntimeTest, PrintsEachBoxAsOneLineAndRecordsIt) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn, out);
  runtime.MsgBox("regel 1\nregel \"2\"\\ C:\\x\t\x01", 64, "Mededeling");
  runtime.Exit(3);

  std::rewind(out);
  char buffer[512] = {};
  size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
  std::fclose(out);
  EXPECT_EQ(std::string(buffer, n),
            "MSGBOX style=64 title=\"Mededeling\" "
            "text=\"regel 1\\nregel \\\"2\\\"\\\\ C:\\\\x\\t\\x01\"\n");

  ASSERT_EQ(runtime.boxes().size(), 1u);
  EXPECT_EQ(runtime.boxes()[0].style, 64);
  EXPECT_EQ(runtime.boxes()[0].title, "Mededeling");
  EXPECT_TRUE(runtime.exited());
  EXPECT_EQ(runtime.exit_status(), 3);
}

TEST(RecordingRuntimeTest, EndRecordsExitStatusZero) {
  services::RecordingRuntime runtime(services::RecordingRuntime::ExitMode::kRecordAndReturn);
  EXPECT_FALSE(runtime.exited());
  runtime.End();
  EXPECT_TRUE(runtime.exited());
  EXPECT_EQ(runtime.exit_status(), 0);
}

TEST(ProgramFolderTest, IsTheFolderOfThisExecutableWithoutTrailingSeparator) {
  const std::string folder = services::ProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_NE(folder.back(), '/');
  namespace fs = std::filesystem;
  EXPECT_EQ(fs::path(folder),
            fs::canonical(fs::path(testing_support::BinaryDir()) / "tests" / "services"));
}

}  // namespace
