// The settings reader against Windows' own: IniCon and GetPrivateProfileStringW must
// give the same value for "DatabasePath" in "Files" on every settings file of a corpus
// of awkward ones. Runs under Wine, whose profile functions stand in for Windows';
// where Wine is known to read a file differently from Windows, the case says so and
// expects Wine's difference (so that a change on either side shows up).
#include <windows.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ini_con.h"
#include "jet/base/win32.h"
#include "tests/support/test_support.h"

namespace {

struct Case {
  const char* name;
  std::string bytes;
  // Empty when IniCon and Windows agree; otherwise why they do not, and what Wine
  // gives instead (`wine_gives`).
  const char* known_difference = "";
  std::string wine_gives;
};

std::string Utf16(const std::string& ascii, bool little_endian) {
  std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
  for (char c : ascii) {
    out += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
  }
  return out;
}

std::vector<Case> Corpus() {
  const std::string h = "[Files]\r\n";
  return {
      {"plain", h + "DatabasePath=C:\\Morvik\\Data\r\n"},
      {"double quotes", h + "DatabasePath=\"C:\\Morvik\\Data\"\r\n"},
      {"single quotes", h + "DatabasePath='C:\\Morvik\\Data'\r\n"},
      {"quoted blanks kept", h + "DatabasePath=\"  C:\\Data  \"\r\n"},
      {"unbalanced opening quote", h + "DatabasePath=\"C:\\Data\r\n"},
      {"unbalanced closing quote", h + "DatabasePath=C:\\Data\"\r\n"},
      {"mixed quote kinds", h + "DatabasePath=\"C:\\Data'\r\n"},
      {"lone quote", h + "DatabasePath=\"\r\n"},
      {"inner quotes", h + "DatabasePath=a\"b\"\r\n"},
      {"comment line", h + ";DatabasePath=C:\\Comment\r\nDatabasePath=C:\\Data\r\n"},
      {"indented comment", h + "  ; DatabasePath=C:\\Comment\r\nDatabasePath=C:\\Data\r\n"},
      {"semicolon in value", h + "DatabasePath=C:\\Data ; note\r\n"},
      {"hash is no comment", h + "#DatabasePath=C:\\Hash\r\n"},
      {"duplicate keys", h + "DatabasePath=C:\\First\r\nDatabasePath=C:\\Second\r\n"},
      {"duplicate sections", h + "Other=1\r\n[Other]\r\n" + h + "DatabasePath=C:\\Second\r\n"},
      {"names in other case", "[FILES]\r\ndatabasepath=C:\\Data\r\n"},
      {"blanks and tabs", "  [ Files\t]  \r\n \t DatabasePath \t=\t C:\\Data \t \r\n"},
      {"text after the bracket", "[Files] x\r\nDatabasePath=C:\\Data\r\n"},
      {"line without equals", h + "DatabasePath\r\nDatabasePath=C:\\Data\r\n"},
      {"equals in value", h + "DatabasePath=a=b\r\n"},
      {"key before any section", "DatabasePath=C:\\Outside\r\n" + h},
      {"LF only", "[Files]\nDatabasePath=C:\\Data\n"},
      {"CR only", "[Files]\rDatabasePath=C:\\Data\r"},
      {"no line end at the end", h + "DatabasePath=C:\\Data"},
      {"empty value", h + "DatabasePath=\r\n"},
      {"blank value", h + "DatabasePath=   \t\r\n"},
      {"key absent", h + "Other=C:\\Data\r\n"},
      {"section absent", "[Other]\r\nDatabasePath=C:\\Data\r\n"},
      {"NUL byte in value", h + std::string("DatabasePath=C:\\Da\0ta\r\n", 24)},
      {"very long value", h + "DatabasePath=C:\\" + std::string(20000, 'x') + "\r\n"},
      {"Windows-1252", h + "DatabasePath=C:\\Caf\xE9\\\x80uro\r\n"},
      {"UTF-16LE with BOM", Utf16("[Files]\r\nDatabasePath=C:\\Data\r\n", true)},
      {"UTF-16BE with BOM", Utf16("[Files]\r\nDatabasePath=C:\\Data\r\n", false)},
      {"UTF-8 BOM, section on the first line", "\xEF\xBB\xBF" + h + "DatabasePath=C:\\Data\r\n",
       "Windows reads the BOM as three Windows-1252 characters before '[Files]', so the "
       "section is not found; IniCon and Wine skip it",
       "C:\\Data"},
      {"UTF-8 without BOM, non-ASCII", h + "DatabasePath=C:\\Caf\xC3\xA9\r\n",
       "IniCon reads valid UTF-8 as UTF-8 by design; Windows and Wine read a file without "
       "BOM in the ANSI code page",
       "C:\\Caf\xC3\x83\xC2\xA9"},
  };
}

std::string WindowsValue(const std::string& path) {
  std::wstring buffer(1 << 16, L'\0');
  const DWORD n = ::GetPrivateProfileStringW(L"Files", L"DatabasePath", L"", buffer.data(),
                                             static_cast<DWORD>(buffer.size()),
                                             jet::Widen(path).c_str());
  return jet::Narrow(std::wstring_view(buffer.data(), n));
}

std::string IniConValue(const std::string& path) {
  app::IniCon reader;
  reader.SetFileName(path);
  reader.SetSection("Files");
  reader.SetKey("DatabasePath");
  std::string value;
  EXPECT_TRUE(reader.Value(&value).ok());
  return value;
}

TEST(IniProfileTest, IniConReadsEveryFileAsWindowsDoes) {
  testing_support::TempDir dir;
  const std::vector<Case> corpus = Corpus();
  ASSERT_GE(corpus.size(), 25u);
  int index = 0;
  for (const Case& c : corpus) {
    SCOPED_TRACE(c.name);
    // A fresh name for each file: Wine, like Windows, caches a profile it has read.
    const std::string path = dir.File("morvik" + std::to_string(index++) + ".ini");
    ASSERT_TRUE(testing_support::WriteFileBytes(path, c.bytes));
    const std::string ours = IniConValue(path);
    const std::string theirs = WindowsValue(path);
    if (*c.known_difference == '\0') {
      EXPECT_EQ(ours, theirs);
    } else {
      EXPECT_EQ(theirs, c.wine_gives) << c.known_difference;
    }
  }
}

}  // namespace
