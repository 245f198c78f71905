// Random numbers: a Mersenne Twister of 624 words whose right shifts are arithmetic (outputs stay
// in 0..2^31-1), a secure source, and the process's hash seed.
#pragma once

#include <cstdint>

namespace zem::random {

constexpr int kStateWords = 624;
constexpr int32_t kStartSeed = 19650218;
// Fixed, so that seeding `random` from a series' hash gives the same sequence on every run.
constexpr uint32_t kHashSeed = 0x2F6B9C35;

struct RandomState {
  int32_t* mt = nullptr;  // kStateWords words on the C heap
  int index = 0;
  uint32_t hash_seed = 0;
};
extern RandomState random_state;

// Allocates the state, seeds it with kStartSeed and sets the hash seed.
void init();
void seed(int32_t s);
// 0..2147483647
int32_t next_u32();
// From the secure source, masked to 31 bits.
int32_t secure_random();
// 1..n for n > 0, n..-1 for n < 0, 0 for n = 0; uniform (rejection sampling).
int32_t integer_upto(bool secure, int32_t n);
inline uint32_t hash_seed() { return random_state.hash_seed; }

}  // namespace zem::random
