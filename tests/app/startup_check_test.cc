// In-process tests of the start-up check with the recording runtime: which message
// comes, in which order the reader is driven, and what DatabaseFolder holds.
#include "app/startup_check.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "services/recording_runtime.h"
#include "tests/support/test_support.h"

namespace {

using services::RecordingRuntime;
using testing_support::WriteFileBytes;

class FormLoadTest : public ::testing::Test {
 protected:
  bool Run() {
    return app::FormLoad(runtime_, ini_con_, folder_.path(), &database_folder_);
  }
  void WriteSettings(const std::string& text) {
    ASSERT_TRUE(WriteFileBytes(folder_.File("morvik.ini"), text));
  }
  // The run ended after exactly one box with this text, title and style, and status.
  void ExpectEndedWith(const std::string& text, const std::string& title, int status) {
    ASSERT_EQ(runtime_.boxes().size(), 1u);
    EXPECT_EQ(runtime_.boxes()[0].text, text);
    EXPECT_EQ(runtime_.boxes()[0].title, title);
    EXPECT_EQ(runtime_.boxes()[0].style, 16);
    EXPECT_TRUE(runtime_.exited());
    EXPECT_EQ(runtime_.exit_status(), status);
  }

  testing_support::TempDir folder_;
  RecordingRuntime runtime_{RecordingRuntime::ExitMode::kRecordAndReturn};
  app::IniCon ini_con_;
  std::string database_folder_;
};

TEST_F(FormLoadTest, NoSettingsFileGivesTheFirstMessageAndLeavesTheReaderAlone) {
  ASSERT_EQ(::mkdir(folder_.File("morvik.ini").c_str(), 0755), 0);  // a folder is no file
  EXPECT_FALSE(Run());
  ExpectEndedWith("Kan morvik.ini bestand niet vinden !", "Foutmelding", 0);
  EXPECT_EQ(ini_con_.file_name(), "");
  EXPECT_EQ(database_folder_, "");
}

TEST_F(FormLoadTest, AnEmptySettingGivesTheSecondMessage) {
  for (const char* text : {"", "[Other]\nDatabasePath=/x\n", "[Files]\nOther=/x\n",
                           "[Files]\nDatabasePath=\n", "[Files]\nDatabasePath=\"\"\n"}) {
    SCOPED_TRACE(text);
    RecordingRuntime runtime(RecordingRuntime::ExitMode::kRecordAndReturn);
    WriteSettings(text);
    std::string folder = "before";
    EXPECT_FALSE(app::FormLoad(runtime, ini_con_, folder_.path(), &folder));
    ASSERT_EQ(runtime.boxes().size(), 1u);
    EXPECT_EQ(runtime.boxes()[0].text,
              "Kan database-bestand niet vinden !, controleer instellingen van Morvik");
    EXPECT_EQ(runtime.boxes()[0].title, "Foutmelding");
    EXPECT_EQ(runtime.boxes()[0].style, 16);
    EXPECT_EQ(runtime.exit_status(), 0);
    EXPECT_EQ(folder, "");
  }
}

TEST_F(FormLoadTest, AMissingDatabaseGivesTheThirdMessage) {
  ASSERT_EQ(::mkdir(folder_.File("data").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(folder_.File("data/morvik.mdb").c_str(), 0755), 0);  // a folder
  WriteSettings("[Files]\nDatabasePath=" + folder_.File("data") + "\n");
  EXPECT_FALSE(Run());
  ExpectEndedWith("Kan morvik database niet vinden !", "Foutmelding", 0);
  EXPECT_EQ(database_folder_, folder_.File("data"));
}

TEST_F(FormLoadTest, PassesAndDrivesTheReaderInItsOrderWithTheValueUntrimmed) {
  // Quotes keep the blanks, and a folder whose name ends in blanks is a real folder.
  const std::string data = folder_.File("data  ");
  ASSERT_EQ(::mkdir(data.c_str(), 0755), 0);
  ASSERT_TRUE(WriteFileBytes(data + "/morvik.mdb", "db"));
  WriteSettings("[Files]\r\nDatabasePath = \"" + data + "\"\r\n");
  EXPECT_TRUE(Run());
  EXPECT_TRUE(runtime_.boxes().empty());
  EXPECT_FALSE(runtime_.exited());
  EXPECT_EQ(database_folder_, data);
  EXPECT_EQ(ini_con_.file_name(), folder_.path() + "/morvik.ini");
  EXPECT_EQ(ini_con_.section(), "Files");
  EXPECT_EQ(ini_con_.key(), "DatabasePath");
}

TEST_F(FormLoadTest, AnUnreadableSettingsFileIsARunTimeErrorWithNonZeroStatus) {
  WriteSettings("[Files]\nDatabasePath=/d\n" + std::string(app::kMaxSettingsFileBytes, ' '));
  EXPECT_FALSE(Run());
  ASSERT_EQ(runtime_.boxes().size(), 1u);
  EXPECT_EQ(runtime_.boxes()[0].title, app::kRunTimeErrorTitle);
  EXPECT_NE(runtime_.boxes()[0].text.find("instellingenbestand " + folder_.File("morvik.ini")),
            std::string::npos)
      << runtime_.boxes()[0].text;
  EXPECT_EQ(runtime_.boxes()[0].style, 16);
  EXPECT_TRUE(runtime_.exited());
  EXPECT_NE(runtime_.exit_status(), 0);
}

TEST_F(FormLoadTest, AnUnknownProgramFolderIsARunTimeError) {
  EXPECT_FALSE(app::FormLoad(runtime_, ini_con_, "", &database_folder_));
  ASSERT_EQ(runtime_.boxes().size(), 1u);
  EXPECT_EQ(runtime_.boxes()[0].title, app::kRunTimeErrorTitle);
  EXPECT_EQ(runtime_.exit_status(), app::kRunTimeErrorExitStatus);
}

}  // namespace
