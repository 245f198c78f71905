// Shared checks of the deflate fuzz targets. Output buffers are heap blocks of exactly the capacity
// announced, so the sanitizer sees any write past it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "services/deflate.h"

namespace fuzz_deflate {

using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);
using zem::deflate::kDone;
using zem::deflate::kTooSmall;

inline void check(bool ok) {
  if (!ok) std::abort();
}

// Decodes with a small and a large capacity: the sizes and the bytes that fit must agree; a
// capacity may change the answer only between done, too small and (for a container, whose checks
// need the output) bad data.
inline void decode_twice(Codec decode, const uint8_t* data, size_t size) {
  constexpr size_t kSmall = 64, kLarge = 256 * 1024;
  std::unique_ptr<uint8_t[]> small(new uint8_t[kSmall]), large(new uint8_t[kLarge]);
  size_t ns = kSmall, nl = kLarge;
  const int rs = decode(small.get(), &ns, data, size);
  const int rl = decode(large.get(), &nl, data, size);
  // Done exactly when the size fits.
  if (rs == kDone || rs == kTooSmall) check((rs == kDone) == (ns <= kSmall));
  if (rl == kDone || rl == kTooSmall) check((rl == kDone) == (nl <= kLarge));
  if (rl == kDone) {
    check(rs == kDone || rs == kTooSmall);
    check(ns == nl);
    check(std::memcmp(small.get(), large.get(), nl < kSmall ? nl : kSmall) == 0);
  } else if (rl == kTooSmall) {
    check(rs == kTooSmall && ns == nl);
  } else {
    check(rs == rl || rs == kTooSmall);
  }
  // Measuring without output agrees with the large run.
  size_t nm = 0;
  const int rm = decode(nullptr, &nm, data, size);
  if (rl == kDone || rl == kTooSmall) check((rm == kDone || rm == kTooSmall) && nm == nl);
}

// The input compressed and decoded again gives itself back.
inline void round_trip(Codec encode, Codec decode, const uint8_t* data, size_t size) {
  size_t n = 0;
  check(encode(nullptr, &n, data, size) == kTooSmall);
  std::unique_ptr<uint8_t[]> packed(new uint8_t[n]);
  size_t m = n;
  check(encode(packed.get(), &m, data, size) == kDone && m == n);
  std::unique_ptr<uint8_t[]> back(new uint8_t[size ? size : 1]);
  size_t k = size;
  check(decode(back.get(), &k, packed.get(), n) == kDone && k == size);
  check(size == 0 || std::memcmp(back.get(), data, size) == 0);
}

}  // namespace fuzz_deflate
