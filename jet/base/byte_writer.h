// ByteWriter: little- and big-endian stores at absolute offsets of one fixed-size
// buffer (a page image, a row, a definition). The page writers build structures whose
// sizes they computed themselves, so a store outside the buffer is a bug in the
// writer, never a property of the input: it stops the program instead of corrupting
// memory or writing a broken page. The check stays on in release builds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "jet/base/byte_order.h"

namespace jet {

class ByteWriter {
 public:
  explicit ByteWriter(std::span<uint8_t> buffer) : buffer_(buffer) {}

  size_t size() const { return buffer_.size(); }

  void U8(size_t offset, uint8_t v) { At(offset, 1)[0] = v; }
  // Sets bits in a byte (bitmaps).
  void Or8(size_t offset, uint8_t bits) { At(offset, 1)[0] |= bits; }
  void Le16(size_t offset, uint16_t v) { StoreLe16(At(offset, 2), v); }
  void Le32(size_t offset, uint32_t v) { StoreLe32(At(offset, 4), v); }
  // Index entries: row pointers (3-byte page) and child pages are big-endian.
  void Be24(size_t offset, uint32_t v) {
    uint8_t* p = At(offset, 3);
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
  }
  void Be32(size_t offset, uint32_t v) {
    uint8_t* p = At(offset, 4);
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
  }
  void Bytes(size_t offset, const uint8_t* data, size_t length) {
    if (length == 0) return;
    std::memcpy(At(offset, length), data, length);
  }
  void Bytes(size_t offset, std::span<const uint8_t> data) {
    Bytes(offset, data.data(), data.size());
  }

 private:
  uint8_t* At(size_t offset, size_t length) {
    if (!InBounds(offset, length, buffer_.size())) {
      std::fprintf(stderr, "ByteWriter: store of %zu bytes at %zu outside a %zu-byte buffer\n",
                   length, offset, buffer_.size());
      std::abort();
    }
    return buffer_.data() + offset;
  }

  std::span<uint8_t> buffer_;
};

}  // namespace jet
