// MurmurHash3 x86-32 and its 32-bit finaliser, with an incremental form for hashing a sequence of
// 32-bit blocks (string characters are hashed as one block each, whatever their storage unit).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zem::murmur {

inline uint32_t fmix32(uint32_t x) {
  x ^= x >> 16;
  x *= 0x85EBCA6Bu;
  x ^= x >> 13;
  x *= 0xC2B2AE35u;
  x ^= x >> 16;
  return x;
}

// Feeds 4-byte blocks one at a time; finish() mixes in the byte length and the finaliser.
class Hasher {
 public:
  explicit Hasher(uint32_t seed) : h_(seed) {}
  void block(uint32_t k) {
    k *= 0xCC9E2D51u;
    k = rotl(k, 15);
    k *= 0x1B873593u;
    h_ ^= k;
    h_ = rotl(h_, 13);
    h_ = h_ * 5 + 0xE6546B64u;
  }
  // Tail of 1-3 bytes (already assembled little-endian into k).
  void tail(uint32_t k) {
    k *= 0xCC9E2D51u;
    k = rotl(k, 15);
    k *= 0x1B873593u;
    h_ ^= k;
  }
  uint32_t finish(uint32_t length_in_bytes) const { return fmix32(h_ ^ length_in_bytes); }

 private:
  static uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }
  uint32_t h_;
};

uint32_t hash_bytes(const void* data, size_t len, uint32_t seed);

}  // namespace zem::murmur
