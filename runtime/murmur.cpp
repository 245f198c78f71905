// MurmurHash3 x86-32, whole and incremental.
#include "runtime/murmur.h"

#include <cstring>

namespace zem::murmur {

uint32_t hash_bytes(const void* data, size_t len, uint32_t seed) {
  const auto* p = static_cast<const uint8_t*>(data);
  Hasher h(seed);
  size_t blocks = len / 4;
  for (size_t i = 0; i < blocks; i++) {
    uint32_t k;
    std::memcpy(&k, p + i * 4, 4);  // little-endian target
    h.block(k);
  }
  const uint8_t* t = p + blocks * 4;
  uint32_t k = 0;
  switch (len & 3) {
    case 3: k ^= uint32_t(t[2]) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(t[1]) << 8; [[fallthrough]];
    case 1: k ^= t[0]; h.tail(k);
  }
  return h.finish(static_cast<uint32_t>(len));
}

}  // namespace zem::murmur
