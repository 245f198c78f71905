// Shared mechanics of every hash table of the runtime: bucket flags, sizing rules and the probe walk.
#pragma once

#include <cstdint>
#include <cstring>

namespace zem::hashtab {

constexpr double kLoadFactor = 0.77;
constexpr uint8_t kFlagsEmptyByte = 0xAA;  // four empty buckets

// Flags: 2 bits per bucket, bit 1 = empty, bit 0 = deleted, both clear = live.
inline uint32_t bucket_flags(const uint8_t* flags, uint32_t i) { return (flags[i >> 2] >> ((i & 3) * 2)) & 3; }
inline bool bucket_empty(const uint8_t* flags, uint32_t i) { return bucket_flags(flags, i) & 2; }
inline bool bucket_deleted(const uint8_t* flags, uint32_t i) { return bucket_flags(flags, i) & 1; }
inline bool bucket_live(const uint8_t* flags, uint32_t i) { return bucket_flags(flags, i) == 0; }
inline void set_bucket_flags(uint8_t* flags, uint32_t i, uint32_t f) {
  uint32_t shift = (i & 3) * 2;
  flags[i >> 2] = static_cast<uint8_t>((flags[i >> 2] & ~(3u << shift)) | (f << shift));
}
inline void set_bucket_live(uint8_t* flags, uint32_t i) { set_bucket_flags(flags, i, 0); }
inline void set_bucket_deleted(uint8_t* flags, uint32_t i) { set_bucket_flags(flags, i, 1); }
// Bytes of flags for a bucket count (at least one byte).
inline uint32_t flag_bytes(uint32_t buckets) { return buckets < 4 ? 1 : buckets / 4; }
inline void fill_flags_empty(uint8_t* flags, uint32_t buckets) { std::memset(flags, kFlagsEmptyByte, flag_bytes(buckets)); }

// x itself when it is 1 (or 0), else the smallest power of two at or above it.
inline uint64_t next_pow2(uint64_t x) {
  if (x <= 1) return x;
  x -= 1;
  x |= x >> 1;
  x |= x >> 2;
  x |= x >> 4;
  x |= x >> 8;
  x |= x >> 16;
  x |= x >> 32;
  return x + 1;
}

struct Sizing {
  uint32_t buckets;
  uint32_t bound;
};

// Bucket counts above 2^30 are refused by the callers (the tables would exceed 32-bit offsets).
constexpr uint64_t kMaxBuckets = uint64_t(1) << 30;

// A new table or pointer map for `size` entries (kind 2 tables double big sizes before this).
inline Sizing sizing_for_create(uint64_t size) {
  uint64_t b = next_pow2(static_cast<uint64_t>(double(size < 4 ? 4 : size) / kLoadFactor));
  return {static_cast<uint32_t>(b), static_cast<uint32_t>(double(b) * kLoadFactor)};
}
// A resize to n buckets (rounded up to a power of two, at least 4).
inline Sizing sizing_for_resize(uint64_t n) {
  uint64_t b = next_pow2(n);
  if (b < 4) b = 4;
  return {static_cast<uint32_t>(b), static_cast<uint32_t>(double(b) * kLoadFactor + 0.5)};
}
// Emptying a table for n keys. The bound comes from the bucket count: taken from the power of two
// before the minimum of 4, a table emptied for one key would have bound 0 and rebuild itself again
// at every insertion.
inline Sizing sizing_for_clear(uint64_t n) {
  uint64_t p = next_pow2(static_cast<uint64_t>(double(n) * 1.5));
  if (p < 4) p = 4;
  return {static_cast<uint32_t>(p), static_cast<uint32_t>(double(p) * kLoadFactor)};
}
// A record table rebuilt for n buckets.
inline Sizing sizing_for_records(uint64_t n) {
  uint64_t p = next_pow2(n);
  return {static_cast<uint32_t>(p < 4 ? 4 : p), static_cast<uint32_t>(double(p) * kLoadFactor + 0.5)};
}
// The bucket count to grow to when used reaches the bound: the same size when deleted buckets
// make up the excess (the rebuild drops them), else the next power of two.
inline uint64_t grow_target(uint32_t count, uint32_t buckets, bool always_grow) {
  return (!always_grow && uint64_t(count) * 2 < buckets) ? buckets - 1 : uint64_t(buckets) + 1;
}

// Triangular probing: start, start + 1, start + 3, start + 6 ... modulo the bucket count. Over a
// power-of-two count the first `buckets` steps visit every bucket exactly once.
class Probe {
 public:
  Probe() = default;
  Probe(uint32_t hash, uint32_t buckets) : mask_(buckets - 1), i_(hash & mask_), left_(buckets) {}
  uint32_t bucket() const { return i_; }
  // Moves on; false once every bucket was tried (the bucket stays on the last one tried).
  bool next() {
    if (--left_ == 0) return false;
    i_ = (i_ + ++step_) & mask_;
    return true;
  }

 private:
  uint32_t mask_ = 0;
  uint32_t i_ = 0;
  uint32_t step_ = 0;
  uint32_t left_ = 0;
};

}  // namespace zem::hashtab
