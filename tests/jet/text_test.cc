// Tests of the text codecs: code pages through iconv, Jet 4 UCS-2 and compressed
// unicode (including toggled segments), and the malformed inputs a file can hold.
#include "jet/base/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

std::string DecodeJet4(const std::vector<uint8_t>& bytes) {
  std::string out;
  EXPECT_TRUE(jet::DecodeJet4Text(bytes.data(), bytes.size(), &out).ok());
  return out;
}

TEST(CodePageTextTest, Windows1252BothWays) {
  // 0x80 is the euro sign in 1252 (not in Latin-1), 0xE4 is a-umlaut.
  const auto stored = Bytes({'K', 0xE4, 's', 'e', ' ', 0x80, '5'});
  std::string utf8;
  ASSERT_TRUE(jet::DecodeCodePageText(stored.data(), stored.size(), 1252, &utf8).ok());
  EXPECT_EQ(utf8, "K\xC3\xA4se \xE2\x82\xAC" "5");

  std::vector<uint8_t> back;
  ASSERT_TRUE(jet::EncodeCodePageText(utf8, 1252, &back).ok());
  EXPECT_EQ(back, stored);
}

TEST(CodePageTextTest, Gbk936BothWays) {
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // two Chinese characters
  std::vector<uint8_t> stored;
  ASSERT_TRUE(jet::EncodeCodePageText(utf8, 936, &stored).ok());
  EXPECT_EQ(stored, Bytes({0xD6, 0xD0, 0xCE, 0xC4}));
  std::string back;
  ASSERT_TRUE(jet::DecodeCodePageText(stored.data(), stored.size(), 936, &back).ok());
  EXPECT_EQ(back, utf8);
}

TEST(CodePageTextTest, UnmappableBytesBecomeReplacementCharacters) {
  // A GBK lead byte without its trail byte at the end, and 0xAA which 1253 leaves
  // undefined: each becomes one U+FFFD and the rest still decodes.
  const auto gbk = Bytes({'a', 0xD6});
  std::string utf8;
  ASSERT_TRUE(jet::DecodeCodePageText(gbk.data(), gbk.size(), 936, &utf8).ok());
  EXPECT_EQ(utf8, "a\xEF\xBF\xBD");

  const auto cp1253 = Bytes({0xAA, 'b'});
  ASSERT_TRUE(jet::DecodeCodePageText(cp1253.data(), cp1253.size(), 1253, &utf8).ok());
  EXPECT_EQ(utf8, "\xEF\xBF\xBD" "b");
}

TEST(CodePageTextTest, Windows1252HolesAreC1ControlsBothWays) {
  // Windows maps 0x81, 0x8D, 0x8F, 0x90, 0x9D of 1252 to U+0081 ...; Access wrote them.
  const auto stored = Bytes({'A', 0x81, 0xE4, 0x8D, 0x8F, 0x90, 0x9D, 0x80});
  const std::string utf8 = "A\xC2\x81\xC3\xA4\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D\xE2\x82\xAC";
  std::string decoded;
  ASSERT_TRUE(jet::DecodeCodePageText(stored.data(), stored.size(), 1252, &decoded).ok());
  EXPECT_EQ(decoded, utf8);
  std::vector<uint8_t> back;
  ASSERT_TRUE(jet::EncodeCodePageText(utf8, 1252, &back).ok());
  EXPECT_EQ(back, stored);
  // Other C1 controls are still not in 1252.
  EXPECT_FALSE(jet::EncodeCodePageText("a\xC2\x82", 1252, &back).ok());
}

TEST(CodePageTextTest, Errors) {
  std::string utf8;
  const auto stored = Bytes({0xE4});
  EXPECT_EQ(jet::DecodeCodePageText(stored.data(), stored.size(), 65000 + 123, &utf8).kind(),
            jet::ErrorKind::kInvalidArgument);
  std::vector<uint8_t> bytes;
  // Cyrillic cannot be written in 1252.
  EXPECT_EQ(jet::EncodeCodePageText("\xD0\x9C\xD0\xB8\xD1\x80", 1252, &bytes).kind(),
            jet::ErrorKind::kInvalidArgument);
  EXPECT_FALSE(jet::EncodeCodePageText("\xFF", 1252, &bytes).ok());  // not UTF-8
  // Plain ASCII in a code page that is not known to be ASCII-compatible still goes
  // through iconv, so an unknown code page is refused even then.
  EXPECT_FALSE(jet::EncodeCodePageText("abc", 65123, &bytes).ok());
}

TEST(Jet4TextTest, Utf16WithSurrogatePairs) {
  // "Mир" + U+1F600 as a surrogate pair.
  const auto stored = Bytes({'M', 0, 0x38, 0x04, 0x40, 0x04, 0x3D, 0xD8, 0x00, 0xDE});
  EXPECT_EQ(DecodeJet4(stored), "M\xD0\xB8\xD1\x80\xF0\x9F\x98\x80");
  std::vector<uint8_t> back;
  ASSERT_TRUE(jet::EncodeJet4Text(DecodeJet4(stored), true, &back).ok());
  EXPECT_EQ(back, stored);
}

TEST(Jet4TextTest, LoneSurrogatesAndOddByte) {
  // High surrogate followed by a plain letter, a lone low surrogate, then an odd
  // trailing byte that is dropped.
  const auto stored = Bytes({0x3D, 0xD8, 'a', 0, 0x00, 0xDE, 'z'});
  EXPECT_EQ(DecodeJet4(stored), "\xEF\xBF\xBD" "a\xEF\xBF\xBD");
  EXPECT_EQ(DecodeJet4(Bytes({0x3D, 0xD8})), "\xEF\xBF\xBD");  // high surrogate at the end
  EXPECT_EQ(DecodeJet4(Bytes({'x'})), "");
  EXPECT_EQ(DecodeJet4(Bytes({})), "");
}

TEST(Jet4TextTest, CompressedUnicode) {
  // "ääkkösiä" as Access 2003 stores it.
  const auto stored = Bytes({0xFF, 0xFE, 0xE4, 0xE4, 'k', 'k', 0xF6, 's', 'i', 0xE4});
  const std::string utf8 = "\xC3\xA4\xC3\xA4kk\xC3\xB6si\xC3\xA4";
  EXPECT_EQ(DecodeJet4(stored), utf8);
  std::vector<uint8_t> back;
  ASSERT_TRUE(jet::EncodeJet4Text(utf8, true, &back).ok());
  EXPECT_EQ(back, stored);
  // Without compression allowed: plain UTF-16LE.
  ASSERT_TRUE(jet::EncodeJet4Text(utf8, false, &back).ok());
  EXPECT_EQ(back.size(), 16u);
  EXPECT_EQ(DecodeJet4(back), utf8);
}

TEST(Jet4TextTest, CompressedSegmentsToggle) {
  // "ab" compressed, toggle, "Ми" uncompressed, toggle, "c" compressed, toggle at the
  // very end (an empty uncompressed segment).
  const auto stored = Bytes({0xFF, 0xFE, 'a', 'b', 0x00, 0x1C, 0x04, 0x38, 0x04, 0x00, 'c', 0x00});
  EXPECT_EQ(DecodeJet4(stored), "ab\xD0\x9C\xD0\xB8" "c");
  // An uncompressed segment of odd length loses its last byte, nothing more.
  const auto odd = Bytes({0xFF, 0xFE, 0x00, 0x1C, 0x04, 0x38, 0x00, 'd'});
  EXPECT_EQ(DecodeJet4(odd), "\xD0\x9C" "d");
  // The marker alone is the empty text.
  EXPECT_EQ(DecodeJet4(Bytes({0xFF, 0xFE})), "");
}

TEST(Jet4TextTest, CompressionOnlyWhenItFitsAndSaves) {
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(jet::EncodeJet4Text("ab", true, &bytes).ok());  // 2 chars: no saving
  EXPECT_EQ(bytes, Bytes({'a', 0, 'b', 0}));
  ASSERT_TRUE(jet::EncodeJet4Text("abc", true, &bytes).ok());
  EXPECT_EQ(bytes, Bytes({0xFF, 0xFE, 'a', 'b', 'c'}));
  ASSERT_TRUE(jet::EncodeJet4Text(std::string("ab\0c", 4), true, &bytes).ok());  // a NUL would toggle
  EXPECT_EQ(bytes, Bytes({'a', 0, 'b', 0, 0, 0, 'c', 0}));
  ASSERT_TRUE(jet::EncodeJet4Text("abc\xC4\x80", true, &bytes).ok());  // U+0100: no
  EXPECT_EQ(bytes.size(), 8u);
  EXPECT_NE(bytes[0], 0xFF);
  ASSERT_TRUE(jet::EncodeJet4Text("", true, &bytes).ok());
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(jet::EncodeJet4Text("a\xC0\x80", true, &bytes).kind(),  // overlong NUL
            jet::ErrorKind::kInvalidArgument);
  EXPECT_FALSE(jet::EncodeJet4Text("\xED\xA0\x80", true, &bytes).ok());  // UTF-8 surrogate
}

TEST(Utf16Test, NamesRoundTripAndInvalidUtf8IsReplaced) {
  const std::string name = "Bestellingen \xE2\x82\xAC \xF0\x9F\x98\x80";
  const std::vector<uint8_t> units = jet::Utf8ToUtf16Le(name);
  EXPECT_EQ(jet::Utf16LeToUtf8(units.data(), units.size()), name);
  const std::vector<uint8_t> bad = jet::Utf8ToUtf16Le("a\xFF" "b");
  EXPECT_EQ(bad, Bytes({'a', 0, 0xFD, 0xFF, 'b', 0}));
  // A truncated multi-byte sequence at the end.
  EXPECT_EQ(jet::Utf8ToUtf16Le("\xE2\x82"), Bytes({0xFD, 0xFF}));
  // The size alone, as the row writer measures a text against its column's length.
  for (const std::string& text : {name, std::string("plain"), std::string("a\xFF" "b"), std::string("\xE2\x82"),
                                  std::string("\xEF\xBF\xBF\xF0\x90\x80\x80")})  // U+FFFF, U+10000
    EXPECT_EQ(jet::Utf16LeSize(text), jet::Utf8ToUtf16Le(text).size()) << text;
}

}  // namespace
