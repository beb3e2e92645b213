// Tests of the INI reader: the private-profile syntax rules, the decoding of the
// file's bytes, reading the file itself, and hostile input.
#include "app/ini_con.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using app::FindProfileValue;
using app::ProfileBytesToUtf8;

std::string Lookup(const std::string& text) {
  return FindProfileValue(text, "Files", "DatabasePath");
}

TEST(IniSyntaxTest, NamesMatchWithoutRegardToCaseAndBlanksAroundThemAreTrimmed) {
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[FILES]\ndatabasepath=/d\n"), "/d");
  EXPECT_EQ(Lookup("  [  files\t]  \n\t DATABASEPATH \t=  /d \t\n"), "/d");
  EXPECT_EQ(Lookup("[Files] trailing text\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\nDatabase Path=/d\n"), "");
  EXPECT_EQ(Lookup("[Files2]\nDatabasePath=/d\n"), "");
}

TEST(IniSyntaxTest, ValuesAreTrimmedAndUnquotedButOtherwiseKept) {
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=  C:\\Morvik\\Data  \n"), "C:\\Morvik\\Data");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\\\\server\\share\\\n"), "\\\\server\\share\\");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\"  /d  \"\n"), "  /d  ");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath='/d'\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\"/d'\n"), "\"/d'");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\"\n"), "\"");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\"\"\n"), "");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=a\"b\"\n"), "a\"b\"");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=/d ; not a comment\n"), "/d ; not a comment");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=a=b\n"), "a=b");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\n"), "");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=   \t\n"), "");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\"   \"\n"), "   ");
}

TEST(IniSyntaxTest, CommentsAndLinesThatAreNotEntriesAreSkipped) {
  EXPECT_EQ(Lookup("[Files]\n;DatabasePath=/comment\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\n   ; DatabasePath=/comment\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\n#DatabasePath=/hash\n"), "");  // '#' is no comment mark
  EXPECT_EQ(Lookup("[Files]\nOther\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath\nDatabasePath=/d\n"), "");  // a key, empty
  EXPECT_EQ(Lookup("DatabasePath=/outside\n[Files]\n"), "");
  EXPECT_EQ(Lookup("[Other]\n[Files\nDatabasePath=/d\n"), "");  // no ']': no header
  EXPECT_EQ(Lookup("[Files]\n[Broken\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup(";[Files]\nDatabasePath=/d\n"), "");
}

TEST(IniSyntaxTest, TheFirstMatchingSectionAndKeyWin) {
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=/first\nDatabasePath=/second\n"), "/first");
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=\nDatabasePath=/second\n"), "");
  EXPECT_EQ(Lookup("[Files]\nOther=1\n[files]\nDatabasePath=/later\n"), "");
  EXPECT_EQ(Lookup("[A]\nDatabasePath=/a\n[Files]\nDatabasePath=/d\n[B]\nDatabasePath=/b\n"),
            "/d");
}

TEST(IniSyntaxTest, EveryLineEndWorksAndAbsentThingsGiveTheEmptyText) {
  EXPECT_EQ(Lookup("[Files]\r\nDatabasePath=/d\r\nX=1\r\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\rDatabasePath=/d\rX=1"), "/d");
  EXPECT_EQ(Lookup("[Files]\n\r\n\nDatabasePath=/d"), "/d");  // no final line end
  EXPECT_EQ(Lookup(""), "");
  EXPECT_EQ(Lookup("[Other]\nDatabasePath=/d\n"), "");
  EXPECT_EQ(Lookup("[Files]\nOther=/d\n"), "");
}

TEST(IniSyntaxTest, AValueEndsAtANulByte) {
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=/d" + std::string(1, '\0') + "/hidden\n"), "/d");
}

TEST(IniDecodingTest, Utf8IsKeptAndItsByteOrderMarkDropped) {
  EXPECT_EQ(ProfileBytesToUtf8("\xEF\xBB\xBF[Files]"), "[Files]");
  EXPECT_EQ(Lookup(ProfileBytesToUtf8("\xEF\xBB\xBF[Files]\nDatabasePath=/d\n")), "/d");
  EXPECT_EQ(ProfileBytesToUtf8("C:\\Donn\xC3\xA9" "es \xE2\x82\xAC"), "C:\\Donn\xC3\xA9" "es \xE2\x82\xAC");
}

TEST(IniDecodingTest, OtherBytesAreReadAsWindows1252) {
  EXPECT_EQ(ProfileBytesToUtf8("C:\\Donn\xE9" "es"), "C:\\Donn\xC3\xA9" "es");
  EXPECT_EQ(ProfileBytesToUtf8("\x80\x9F\xA0\xFF"), "\xE2\x82\xAC\xC5\xB8\xC2\xA0\xC3\xBF");
  EXPECT_EQ(ProfileBytesToUtf8("\x81"), "\xC2\x81");  // undefined: the C1 control
  // Byte sequences that only look like UTF-8 are not taken for it.
  EXPECT_EQ(ProfileBytesToUtf8("\xC0\xAF"), "\xC3\x80\xC2\xAF");        // overlong
  EXPECT_EQ(ProfileBytesToUtf8("\xED\xA0\x80"), "\xC3\xAD\xC2\xA0\xE2\x82\xAC");  // surrogate
  EXPECT_EQ(ProfileBytesToUtf8("a\xC3"), "a\xC3\x83");                  // cut short
}

TEST(IniDecodingTest, Utf16WithByteOrderMarkIsConverted) {
  const std::string little("\xFF\xFE" "D\0=\0\xE9\0\x3D\xD8\x00\xDE", 12);
  EXPECT_EQ(ProfileBytesToUtf8(little), "D=\xC3\xA9\xF0\x9F\x98\x80");
  const std::string big("\xFE\xFF\0D\0=\xD8\x3D", 8);  // lone high surrogate at the end
  EXPECT_EQ(ProfileBytesToUtf8(big), "D=\xEF\xBF\xBD");
}

TEST(IniHostileInputTest, LongValuesHugeLinesAndBinaryNeitherCrashNorHang) {
  const auto start = std::chrono::steady_clock::now();
  const std::string long_value(100000, 'v');
  EXPECT_EQ(Lookup("[Files]\nDatabasePath=" + long_value + "\n"), long_value);

  const std::string huge_line(8u << 20, '[');
  EXPECT_EQ(Lookup(huge_line + "\n[Files]\nDatabasePath=/d\n"), "/d");
  EXPECT_EQ(Lookup("[Files]\n" + std::string(8u << 20, '=') + "\nDatabasePath=/d\n"), "/d");

  std::mt19937 random(42);
  std::string binary(4u << 20, '\0');
  for (char& c : binary) c = static_cast<char>(random());
  const std::string text = ProfileBytesToUtf8(binary);
  EXPECT_FALSE(text.empty());
  Lookup(text);  // only that it returns
  EXPECT_EQ(Lookup(ProfileBytesToUtf8(binary + "\n[Files]\nDatabasePath=/d\n")), "/d");

  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

class IniConFileTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& path, jet::Status* status) {
    app::IniCon ini;
    ini.SetFileName(path);
    ini.SetSection("Files");
    ini.SetKey("DatabasePath");
    std::string value = "unset";
    *status = ini.Value(&value);
    return value;
  }
  testing_support::TempDir dir_;
};

TEST_F(IniConFileTest, ReadsTheFileEachTimeAndAMissingFileGivesTheEmptyText) {
  const std::string path = dir_.File("morvik.ini");
  jet::Status status;
  EXPECT_EQ(Read(path, &status), "");
  EXPECT_TRUE(status.ok());
  ASSERT_TRUE(testing_support::WriteFileBytes(path, "[Files]\r\nDatabasePath=C:\\M\xF6rvik\r\n"));
  EXPECT_EQ(Read(path, &status), "C:\\M\xC3\xB6rvik");
  EXPECT_TRUE(status.ok());
}

TEST_F(IniConFileTest, AFileThatCannotBeReadIsAnError) {
  jet::Status status;
  EXPECT_EQ(Read(dir_.path(), &status), "");  // a folder
  EXPECT_FALSE(status.ok());

  ASSERT_EQ(::mkfifo(dir_.File("pipe").c_str(), 0600), 0);
  EXPECT_EQ(Read(dir_.File("pipe"), &status), "");  // and no hang
  EXPECT_FALSE(status.ok());

  const std::string big = dir_.File("big.ini");
  ASSERT_TRUE(testing_support::WriteFileBytes(
      big, "[Files]\nDatabasePath=/d\n" + std::string(app::kMaxSettingsFileBytes, ';')));
  EXPECT_EQ(Read(big, &status), "");
  EXPECT_FALSE(status.ok());
}

TEST_F(IniConFileTest, AFileWithoutReadPermissionIsAnError) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads a file without read permission";
  const std::string path = dir_.File("morvik.ini");
  ASSERT_TRUE(testing_support::WriteFileBytes(path, "[Files]\nDatabasePath=/d\n"));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  jet::Status status;
  EXPECT_EQ(Read(path, &status), "");
  EXPECT_FALSE(status.ok());
}

}  // namespace
