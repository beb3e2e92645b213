// Page 0 on hand-built bytes: the masked fields of both formats, the Jet 3 plain and
// Jet 4 date-masked password, and the checks that tell a Jet file from anything else.
#include <gtest/gtest.h>

#include "jet/file/header.h"
#include "jet/base/text.h"
#include "tests/jet/reader_synthetic.h"

namespace {

using reader_test::SyntheticFile;

TEST(ReaderHeaderTest, Jet3FieldsAndPlainPassword) {
  SyntheticFile f(jet::Version::kJet3, 1, 1252);
  uint8_t* p = f.page(0);
  jet::ApplyHeaderMask(jet::Version::kJet3, p, 2048);  // unmask, edit, mask again
  jet::StoreLe16(p + jet::kHeaderJet3SortOffset, 1033);
  std::memcpy(p + jet::kHeaderPasswordOffset, "s\xE9same", 6);
  jet::ApplyHeaderMask(jet::Version::kJet3, p, 2048);
  jet::Header h;
  ASSERT_TRUE(jet::DecodeHeader(p, 2048, &h).ok());
  EXPECT_EQ(h.version, jet::Version::kJet3);
  EXPECT_EQ(h.code_page, 1252);
  EXPECT_EQ(h.sort_lcid, 1033);
  EXPECT_FALSE(h.has_creation_date);
  EXPECT_TRUE(h.has_password);
  EXPECT_EQ(h.password, "s\xC3\xA9same");  // "sésame" from code page 1252
  EXPECT_EQ(h.password_bytes.size(), 20u);
  // The mask really is applied: the plain bytes are not in the stored page.
  EXPECT_NE(std::memcmp(p + jet::kHeaderPasswordOffset, "s\xE9same", 6), 0);
}

TEST(ReaderHeaderTest, Jet4PasswordIsMaskedWithTheCreationDate) {
  SyntheticFile f(jet::Version::kJet4, 1);
  jet::Header h;
  ASSERT_TRUE(jet::DecodeHeader(f.page(0), 4096, &h).ok());
  EXPECT_FALSE(h.has_password);
  h.creation_date = 38000.75;  // mask = (int32) 38000 = 0x00009470
  const std::vector<uint8_t> utf16 = jet::Utf8ToUtf16Le("pw\xC3\xA4");
  std::fill(h.password_bytes.begin(), h.password_bytes.end(), 0);
  std::copy(utf16.begin(), utf16.end(), h.password_bytes.begin());
  std::vector<uint8_t> page;
  ASSERT_TRUE(jet::EncodeHeader(h, &page).ok());
  // Unmasked, the stored field is the UTF-16 text XOR 70 94 00 00 repeated.
  std::vector<uint8_t> plain = page;
  jet::ApplyHeaderMask(jet::Version::kJet4, plain.data(), plain.size());
  EXPECT_EQ(plain[jet::kHeaderPasswordOffset], 'p' ^ 0x70);
  EXPECT_EQ(plain[jet::kHeaderPasswordOffset + 1], 0x94);
  EXPECT_EQ(plain[jet::kHeaderPasswordOffset + 39], 0x00);
  jet::Header decoded;
  ASSERT_TRUE(jet::DecodeHeader(page.data(), page.size(), &decoded).ok());
  EXPECT_TRUE(decoded.has_password);
  EXPECT_EQ(decoded.password, "pw\xC3\xA4");
  EXPECT_EQ(decoded.creation_date, 38000.75);
}

TEST(ReaderHeaderTest, WhatIsNotAJetHeader) {
  SyntheticFile f(jet::Version::kJet4, 1);
  jet::Header h;
  std::vector<uint8_t> page(f.page(0), f.page(0) + 4096);
  auto decode = [&](std::vector<uint8_t> bytes) { return jet::DecodeHeader(bytes.data(), bytes.size(), &h).kind(); };
  EXPECT_EQ(decode(page), jet::ErrorKind::kOk);
  auto changed = page;
  changed[0] = 1;
  EXPECT_EQ(decode(changed), jet::ErrorKind::kNotJetDatabase);
  changed = page;
  changed[5] = 'X';
  EXPECT_EQ(decode(changed), jet::ErrorKind::kNotJetDatabase);
  changed = page;
  changed.resize(4000);
  EXPECT_EQ(decode(changed), jet::ErrorKind::kNotJetDatabase);
  changed = page;
  changed[jet::kHeaderVersionOffset] = 7;
  EXPECT_EQ(decode(changed), jet::ErrorKind::kUnsupportedFormat);
}

}  // namespace
