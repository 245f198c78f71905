// MurmurHash3 against published vectors, incremental and whole.
#include "runtime/murmur.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using zem::murmur::hash_bytes;

TEST(Murmur, PublishedVectors) {
  struct Case {
    uint32_t seed;
    std::string text;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, "", 0},
      {1, "", 0x514E28B7},
      {0xFFFFFFFF, "", 0x81F16F39},
      {0, "test", 0xBA6BD213},
      {0x9747B28C, "Hello, world!", 0x24884CBA},
      {0x9747B28C, "The quick brown fox jumps over the lazy dog", 0x2FA826CD},
      {0, std::string("\x21\x43\x65\x87", 4), 0xF55B516B},  // one full block
      {0, std::string("\x21\x43\x65", 3), 0x7E4A8634},      // tails of 3, 2 and 1 bytes
      {0, std::string("\x21\x43", 2), 0xA0F7B07A},
      {0, std::string("\x21", 1), 0x72661CF4},
      {0, std::string("\0\0\0\0", 4), 0x2362F9DE},
  };
  for (const auto& c : cases)
    EXPECT_EQ(hash_bytes(c.text.data(), c.text.size(), c.seed), c.expected) << '"' << c.text << "\" seed " << c.seed;
}

TEST(Murmur, IncrementalBlocksMatchTheByteForm) {
  // A text hashed one 32-bit block per character equals the byte hash of those blocks.
  const uint32_t chars[] = {'a', 0xE9, 0x20AC, 0x1F600, 'Z'};
  zem::murmur::Hasher h(77);
  for (uint32_t c : chars) h.block(c);
  EXPECT_EQ(h.finish(sizeof chars), hash_bytes(chars, sizeof chars, 77));
}

TEST(Murmur, Finaliser) {
  // Avalanche of the 32-bit finaliser (values from the reference mixer).
  EXPECT_EQ(zem::murmur::fmix32(0), 0u);
  EXPECT_EQ(zem::murmur::fmix32(1), 0x514E28B7u);
  EXPECT_EQ(zem::murmur::fmix32(0xFFFFFFFF), 0x81F16F39u);
}
