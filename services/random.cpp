// Random numbers: the Mersenne Twister, the secure source and the hash seed.
#include "services/random.h"

#include <openssl/rand.h>
#include <sys/random.h>

#include "runtime/c_heap.h"
#include "services/lazy_library.h"

namespace zem::random {

RandomState random_state;

namespace {

RandomState& st = random_state;

// Arithmetic right shift of a signed word (the generator's shifts propagate the sign).
inline int32_t sar(int32_t v, int n) { return v >> n; }
inline int32_t wrap(uint32_t v) { return static_cast<int32_t>(v); }

void regenerate() {
  int32_t* mt = st.mt;
  for (int k = 0; k < kStateWords; ++k) {
    int32_t next = mt[(k + 1) % kStateWords];
    int32_t y = wrap((static_cast<uint32_t>(mt[k]) & 0x80000000u) | (static_cast<uint32_t>(next) & 0x7FFFFFFFu));
    uint32_t v = static_cast<uint32_t>(mt[(k + 397) % kStateWords]) ^ static_cast<uint32_t>(sar(y, 1));
    if (y & 1) v ^= 0x9908B0DFu;
    mt[k] = wrap(v);
  }
  st.index = 0;
}

uint32_t draw(bool secure) {
  return static_cast<uint32_t>(secure ? secure_random() : next_u32());
}

}  // namespace

void init() {
  if (!st.mt) st.mt = static_cast<int32_t*>(cheap::alloc(kStateWords * sizeof(int32_t)));
  seed(kStartSeed);
  st.hash_seed = kHashSeed;
}

void seed(int32_t s) {
  int32_t* mt = st.mt;
  mt[0] = s;
  for (int i = 1; i < kStateWords; ++i) {
    uint32_t prev = static_cast<uint32_t>(mt[i - 1] ^ sar(mt[i - 1], 30));
    mt[i] = wrap(1812433253u * prev + static_cast<uint32_t>(i));
  }
  st.index = 0;
}

int32_t next_u32() {
  if (st.index >= kStateWords) regenerate();
  int32_t y = st.mt[st.index++];
  y ^= sar(y, 11);
  y ^= wrap((static_cast<uint32_t>(y) << 7) & 0x9D2C5680u);
  y ^= wrap((static_cast<uint32_t>(y) << 15) & 0xEFC60000u);
  y ^= sar(y, 18);
  return y;
}

int32_t secure_random() {
  // libcrypto is loaded on the first use; without it the kernel's source serves alone.
  static const auto rand_bytes = [] {
    decltype(&RAND_bytes) f = nullptr;
    lazy::bind("libcrypto.so.3", {{"RAND_bytes", &f}});
    return f;
  }();
  uint32_t v = 0;
  if (rand_bytes == nullptr || rand_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v) != 1) {
    // The kernel's source, waiting for entropy if need be: never an unspecified value.
    while (getrandom(&v, sizeof v, 0) != static_cast<ssize_t>(sizeof v)) {
    }
  }
  return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

int32_t integer_upto(bool secure, int32_t n) {
  if (n == 0) return 0;
  if (n == INT32_MIN) return -1 - static_cast<int32_t>(draw(secure));
  bool negative = n < 0;
  uint32_t m = static_cast<uint32_t>(negative ? -n : n);
  uint32_t limit = (0x7FFFFFFFu / m) * m;
  uint32_t r;
  do {
    r = draw(secure);
  } while (r >= limit);
  int32_t result = static_cast<int32_t>(r % m) + 1;
  return negative ? -result : result;
}

}  // namespace zem::random
