// Byte order: little- and big-endian integer loads and stores over byte buffers, and
// ByteReader, a bounds-checked reader over one span of untrusted bytes. Values are
// assembled byte by byte, never through unaligned casts, so the code is the same on
// every host and clean under UndefinedBehaviorSanitizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace jet {

// Unchecked loads: the caller has already checked that the bytes are there.
inline uint16_t LoadLe16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
         (uint32_t(p[3]) << 24);
}
inline uint64_t LoadLe64(const uint8_t* p) {
  return uint64_t(LoadLe32(p)) | (uint64_t(LoadLe32(p + 4)) << 32);
}
inline uint32_t LoadBe24(const uint8_t* p) {
  return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]);
}
inline uint32_t LoadBe32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) |
         uint32_t(p[3]);
}
inline double LoadLeDouble(const uint8_t* p) {
  uint64_t bits = LoadLe64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline float LoadLeFloat(const uint8_t* p) {
  uint32_t bits = LoadLe32(p);
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void StoreLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreLe64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
inline void StoreLeDouble(uint8_t* p, double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  StoreLe64(p, bits);
}

// True when [offset, offset + length) lies inside a buffer of `size` bytes, without
// overflowing.
inline bool InBounds(size_t offset, size_t length, size_t size) {
  return offset <= size && length <= size - offset;
}

// Reads little-endian fields at absolute offsets of a span. A read past the end yields
// 0 and makes failed() true for good, so a decoder can read a whole record and check
// once at the end.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t size() const { return size_; }
  const uint8_t* data() const { return data_; }
  bool failed() const { return failed_; }
  // True (and no failure) when `length` bytes at `offset` are available.
  bool Has(size_t offset, size_t length) const { return InBounds(offset, length, size_); }

  uint8_t U8(size_t offset) { return Check(offset, 1) ? data_[offset] : 0; }
  uint16_t U16(size_t offset) { return Check(offset, 2) ? LoadLe16(data_ + offset) : 0; }
  uint32_t U32(size_t offset) { return Check(offset, 4) ? LoadLe32(data_ + offset) : 0; }
  uint64_t U64(size_t offset) { return Check(offset, 8) ? LoadLe64(data_ + offset) : 0; }
  double Double(size_t offset) { return Check(offset, 8) ? LoadLeDouble(data_ + offset) : 0; }
  // Pointer to `length` bytes at `offset`, or nullptr (and failed) when out of range.
  const uint8_t* Span(size_t offset, size_t length) {
    return Check(offset, length) ? data_ + offset : nullptr;
  }

 private:
  bool Check(size_t offset, size_t length) {
    if (InBounds(offset, length, size_)) return true;
    failed_ = true;
    return false;
  }

  const uint8_t* data_;
  size_t size_;
  bool failed_ = false;
};

}  // namespace jet
