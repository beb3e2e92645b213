// RC4 stream cipher: the key stream that masks the header of every Jet file and
// encodes the pages of files with a database key.
#pragma once

#include <cstddef>
#include <cstdint>

namespace jet {

class Rc4 {
 public:
  Rc4(const uint8_t* key, size_t key_size);
  // XORs the next `size` bytes of the key stream into `data`.
  void Apply(uint8_t* data, size_t size);

 private:
  uint8_t state_[256];
  uint8_t i_ = 0;
  uint8_t j_ = 0;
};

// Decodes (or encodes: the operation is its own inverse) one page of a file whose
// header carries database key `db_key` != 0: RC4 with the 4 little-endian bytes of
// (db_key XOR page_number) as the key, over the whole page. Page 0 is never encoded.
void ApplyPageCipher(uint32_t db_key, uint32_t page_number, uint8_t* page, size_t page_size);

}  // namespace jet
