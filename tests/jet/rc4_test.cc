// Tests of the RC4 key stream and the per-page cipher, against published test
// vectors and against the real files (the header mask and an encoded Jet 3 file).
#include "jet/file/rc4.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

std::vector<uint8_t> Encrypt(const std::string& key, const std::string& plain) {
  std::vector<uint8_t> data(plain.begin(), plain.end());
  jet::Rc4 rc4(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  rc4.Apply(data.data(), data.size());
  return data;
}

TEST(Rc4Test, PublishedVectors) {
  EXPECT_EQ(Encrypt("Key", "Plaintext"),
            (std::vector<uint8_t>{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}));
  EXPECT_EQ(Encrypt("Wiki", "pedia"), (std::vector<uint8_t>{0x10, 0x21, 0xBF, 0x04, 0x20}));
  EXPECT_EQ(Encrypt("Secret", "Attack at dawn"),
            (std::vector<uint8_t>{0x45, 0xA0, 0x1F, 0x64, 0x5F, 0xC3, 0x5B, 0x38, 0x35, 0x52,
                                  0x54, 0x4B, 0x9B, 0xF5}));
}

TEST(Rc4Test, StreamContinuesAcrossCalls) {
  const std::string plain = "Attack at dawn";
  std::vector<uint8_t> split(plain.begin(), plain.end());
  jet::Rc4 rc4(reinterpret_cast<const uint8_t*>("Secret"), 6);
  rc4.Apply(split.data(), 5);
  rc4.Apply(split.data() + 5, split.size() - 5);
  EXPECT_EQ(split, Encrypt("Secret", plain));
}

TEST(Rc4Test, PageCipherUsesKeyXorPageNumberAndIsItsOwnInverse) {
  std::vector<uint8_t> page(2048);
  for (size_t n = 0; n < page.size(); ++n) page[n] = static_cast<uint8_t>(n * 7);
  const std::vector<uint8_t> original = page;

  jet::ApplyPageCipher(0x12345678, 5, page.data(), page.size());
  // Key = little-endian bytes of 0x12345678 ^ 5 = 0x1234567D.
  std::vector<uint8_t> expected = original;
  const uint8_t key[4] = {0x7D, 0x56, 0x34, 0x12};
  jet::Rc4(key, 4).Apply(expected.data(), expected.size());
  EXPECT_EQ(page, expected);

  jet::ApplyPageCipher(0x12345678, 5, page.data(), page.size());
  EXPECT_EQ(page, original);

  // Page 0 and a zero key leave the bytes alone.
  jet::ApplyPageCipher(0x12345678, 0, page.data(), page.size());
  jet::ApplyPageCipher(0, 5, page.data(), page.size());
  EXPECT_EQ(page, original);
}

// The header of every Jet file is masked with the RC4 stream of C7 DA 39 6B; the
// first 28 masked bytes hold a constant in every Access-written file.
TEST(Rc4Test, HeaderMaskOfRealFiles) {
  SKIP_WITHOUT_TESTDATA();
  const uint8_t kConstant[28] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0, 3, 0,
                                 0, 0, 4, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0};
  int checked = 0;
  for (const char* folder : {"jet3", "jet4"}) {
    for (const std::string& path : testing_support::TestDataFiles(folder)) {
      std::string bytes = testing_support::ReadFileBytes(path);
      ASSERT_GE(bytes.size(), 0x18u + 28) << path;
      auto* region = reinterpret_cast<uint8_t*>(bytes.data()) + 0x18;
      const uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
      jet::Rc4(key, 4).Apply(region, 28);
      EXPECT_EQ(std::memcmp(region, kConstant, 28), 0) << path;
      ++checked;
    }
  }
  EXPECT_GT(checked, 0);
}

// jk_enc97.mdb and jk_enc.mdb carry a database key; decoding their table-definition
// page 2 (MSysObjects) must give the TDEF page signature.
TEST(Rc4Test, DecodesEncodedFiles) {
  SKIP_WITHOUT_TESTDATA();
  struct Case {
    const char* path;
    size_t page_size;
  };
  const std::string dir = testing_support::TestDataDir();
  for (const Case& c : {Case{"/jet3/jk_enc97.mdb", 2048}, Case{"/jet4/jk_enc.mdb", 4096}}) {
    std::string bytes = testing_support::ReadFileBytes(dir + c.path);
    ASSERT_GE(bytes.size(), 3 * c.page_size) << c.path;
    auto* data = reinterpret_cast<uint8_t*>(bytes.data());
    const uint8_t mask_key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::Rc4(mask_key, 4).Apply(data + 0x18, 126);
    const uint32_t db_key = data[0x3E] | (data[0x3F] << 8) | (data[0x40] << 16) |
                            (uint32_t(data[0x41]) << 24);
    ASSERT_NE(db_key, 0u) << c.path;
    uint8_t* page2 = data + 2 * c.page_size;
    EXPECT_NE(page2[0], 0x02) << c.path << ": page is stored encoded";
    jet::ApplyPageCipher(db_key, 2, page2, c.page_size);
    EXPECT_EQ(page2[0], 0x02) << c.path;
    EXPECT_EQ(page2[1], 0x01) << c.path;
    if (c.page_size == 2048) {
      EXPECT_EQ(page2[2], 'V') << c.path;
      EXPECT_EQ(page2[3], 'C') << c.path;
    }
  }
}

}  // namespace
