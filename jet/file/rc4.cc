// RC4: the key schedule and key stream, and the per-page cipher of encoded files.
#include "jet/file/rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(const uint8_t* key, size_t key_size) {
  for (int n = 0; n < 256; ++n) state_[n] = static_cast<uint8_t>(n);
  // A zero-length key would divide by zero below; treat it as the single byte 0 so
  // the object is always usable.
  static const uint8_t kZero = 0;
  if (key_size == 0) {
    key = &kZero;
    key_size = 1;
  }
  uint8_t j = 0;
  for (int n = 0; n < 256; ++n) {
    j = static_cast<uint8_t>(j + state_[n] + key[n % key_size]);
    std::swap(state_[n], state_[j]);
  }
}

void Rc4::Apply(uint8_t* data, size_t size) {
  for (size_t n = 0; n < size; ++n) {
    i_ = static_cast<uint8_t>(i_ + 1);
    j_ = static_cast<uint8_t>(j_ + state_[i_]);
    std::swap(state_[i_], state_[j_]);
    data[n] ^= state_[static_cast<uint8_t>(state_[i_] + state_[j_])];
  }
}

void ApplyPageCipher(uint32_t db_key, uint32_t page_number, uint8_t* page, size_t page_size) {
  // Page 0 carries the (separately masked) header and is never page-encoded; a zero
  // key means the file is not encoded at all. Both are no-ops so that a caller may
  // apply the cipher to every page it reads.
  if (db_key == 0 || page_number == 0) return;
  const uint32_t k = db_key ^ page_number;
  const uint8_t key[4] = {static_cast<uint8_t>(k), static_cast<uint8_t>(k >> 8),
                          static_cast<uint8_t>(k >> 16), static_cast<uint8_t>(k >> 24)};
  Rc4 cipher(key, sizeof key);
  cipher.Apply(page, page_size);
}

}  // namespace jet
