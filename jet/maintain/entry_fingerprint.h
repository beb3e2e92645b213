// Entry fingerprints: an order-independent summary of a multiset of index entries
// (row pointer, key bytes), the sum of a 64-bit mix of each entry. Two multisets with
// equal counts and equal sums are the same but with probability about 2^-64. The
// check compares an index with its rows this way, and the compaction's verification
// the indexes it wrote with the source's, without holding either in memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace jet {

// The hash of key bytes that entry mixes are made from.
inline uint64_t KeyHash(std::string_view key) { return std::hash<std::string_view>()(key); }

// A 64-bit finaliser: every input bit changes about half of the output bits.
inline uint64_t Mix64(uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ull;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 31;
  return x;
}

// One entry's share of a fingerprint: its row pointer with the hash of its key.
inline uint64_t EntryMix(uint32_t pointer, uint64_t key_hash) {
  return Mix64(key_hash ^ (uint64_t(pointer) * 0x9E3779B97F4A7C15ull));
}

}  // namespace jet
