// The LZ77 unpacker on hand-built bit streams (good and damaged), and round trips through the packer.
#include "services/lz77.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace zem {
namespace {

using Bytes = std::vector<uint8_t>;

// Builds packed data by hand: codes are written least significant bit first.
class Stream {
 public:
  Stream& literal(uint8_t b) { return bits(0, 1).bits(b, 8); }
  // A match of `len` bytes copying from `back` bytes before the current position.
  Stream& match(unsigned len, uint32_t back) {
    bits(1, 1);
    const unsigned v = len - 3;
    static const unsigned base[6] = {0, 4, 8, 12, 20, 52}, extra[6] = {2, 2, 2, 3, 5, 9};
    unsigned z = 0;
    while (z < 5 && v >= base[z] + (1u << extra[z])) z++;
    for (unsigned i = 0; i < z; i++) bits(0, 1);
    if (z < 5) bits(1, 1);
    bits(v - base[z], extra[z]);
    const uint32_t d = back - 1;
    if (d < 8) return bits(0, 4).bits(d, 3);
    unsigned j = 31 - unsigned(__builtin_clz(d));
    return bits(j - 2, 4).bits(d - (1u << j), j);
  }
  Stream& bits(uint32_t v, unsigned k) {
    for (unsigned i = 0; i < k; i++, count_++) {
      if (count_ % 8 == 0) body_.push_back(0);
      if (v >> i & 1) body_.back() |= uint8_t(1 << (count_ % 8));
    }
    return *this;
  }
  // Ends the current block's bit stream and starts a block announcing `len` bytes.
  Stream& block(uint32_t len) {
    count_ = 0;
    for (int i = 0; i < 4; i++) body_.push_back(uint8_t(len >> (8 * i)));
    return *this;
  }
  Bytes packed(uint32_t unpacked, int64_t packed_size = -1) const {
    Bytes out(8);
    const uint32_t p = packed_size < 0 ? uint32_t(body_.size()) : uint32_t(packed_size);
    for (int i = 0; i < 4; i++) out[i] = uint8_t(p >> (8 * i)), out[4 + i] = uint8_t(unpacked >> (8 * i));
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
  }

 private:
  Bytes body_;
  unsigned count_ = 0;
};

bool unpack(const Bytes& in, Bytes& out) { return lz77::unpack(in.data(), in.size(), out); }

TEST(Lz77, UnpacksHandBuiltStreams) {
  Bytes out;
  // One literal, then distance 1 length 10: the byte 11 times.
  ASSERT_TRUE(unpack(Stream().block(11).literal('a').match(10, 1).packed(11), out));
  EXPECT_EQ(std::string(out.begin(), out.end()), std::string(11, 'a'));

  // Each length and distance code class, including the longest match and the farthest distance.
  Stream s;
  const uint32_t far = 1u << 18;
  s.block(far + 2 + 566 + 19 + 51 + 563 + 12 + 8);
  for (uint32_t i = 0; i < far; i++) s.literal(uint8_t(i * 7 + (i >> 8)));
  s.literal('x').literal('y');
  s.match(566, 2).match(19, far).match(51, 9).match(563, 300).match(12, 4096).match(8, 70000);
  const Bytes packed = s.packed(far + 2 + 566 + 19 + 51 + 563 + 12 + 8);
  ASSERT_TRUE(unpack(packed, out));
  Bytes want;
  for (uint32_t i = 0; i < far; i++) want.push_back(uint8_t(i * 7 + (i >> 8)));
  want.push_back('x');
  want.push_back('y');
  for (auto [len, back] : {std::pair{566u, 2u}, {19u, far}, {51u, 9u}, {563u, 300u}, {12u, 4096u}, {8u, 70000u}})
    for (unsigned i = 0; i < len; i++) want.push_back(want[want.size() - back]);
  EXPECT_EQ(out, want);

  // Two blocks; the second starts on the byte after the first's last touched byte.
  ASSERT_TRUE(unpack(Stream().block(2).literal('p').literal('q').block(4).literal('r').match(3, 1).packed(6), out));
  EXPECT_EQ(std::string(out.begin(), out.end()), "pqrrrr");

  // Blocks giving fewer bytes than U: success with the smaller size.
  ASSERT_TRUE(unpack(Stream().block(1).literal('z').packed(500), out));
  EXPECT_EQ(out, Bytes{'z'});

  // No blocks at all.
  ASSERT_TRUE(unpack(Stream().packed(0), out));
  EXPECT_TRUE(out.empty());
}

TEST(Lz77, RefusesDamagedStreams) {
  struct Case {
    const char* what;
    Bytes data;
  };
  const Bytes two_blocks = Stream().block(2).literal('a').literal('b').block(3).match(3, 1).packed(5);
  Bytes truncated = Stream().block(3).literal('a').literal('b').literal('c').packed(3);
  truncated.pop_back();
  Bytes short_p = Stream().block(3).literal('a').literal('b').literal('c').packed(3);
  short_p[0] -= 1;  // the last byte of the stream lies past P
  const Case cases[] = {
      {"first code a match", Stream().block(4).match(4, 1).packed(4)},
      {"match from before the block", Stream().block(5).literal('a').match(4, 2).packed(5)},
      {"match past the block end", Stream().block(4).literal('a').match(4, 1).packed(5)},
      {"match into the previous block", two_blocks},
      {"block length 0", Stream().block(0).packed(0)},
      {"block length above 1 MiB", Stream().block(0x100001).literal('a').packed(0x100001)},
      {"output beyond U", Stream().block(3).literal('a').literal('b').literal('c').packed(2)},
      {"P beyond the input", truncated},
      {"bit stream needs bytes past P", short_p},
      {"block header cut by P", Stream().block(1).literal('a').bits(0, 8).bits(0, 8).packed(2)},
      {"U = 4 GB from 3 packed bytes", Stream().block(1).literal('a').packed(0xFFFFFFFF)},
      {"shorter than the header", Bytes{3, 0, 0, 0, 1, 0, 0}},
  };
  for (const Case& c : cases) {
    Bytes out{1, 2, 3};
    EXPECT_FALSE(unpack(c.data, out)) << c.what;
    EXPECT_TRUE(out.empty()) << c.what;
  }
}

TEST(Lz77, UnpackedSizeCap) {
  // The cap admits what the packer makes of the most repetitive input and nothing far beyond it.
  const Bytes zeros(3 << 20, 0);
  const Bytes packed = lz77::pack(zeros.data(), zeros.size());
  const size_t p = packed.size() - 8;
  EXPECT_LE(zeros.size(), lz77::max_unpacked(p));
  EXPECT_GT(zeros.size(), 150 * p) << "the packer's best ratio is near the format's limit";
  Bytes out;
  ASSERT_TRUE(lz77::unpack(packed.data(), packed.size(), out));
  EXPECT_EQ(out, zeros);
  EXPECT_EQ(lz77::max_unpacked(0xFFFFFFFFull), 210 * 0xFFFFFFFFull + (1u << 20)) << "computed in size_t";
}

TEST(Lz77, RoundTrips) {
  std::mt19937 rng(1234);
  auto random_bytes = [&](size_t n, unsigned alphabet) {
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng() % alphabet);
    return b;
  };
  Bytes text;
  while (text.size() < 300000) {
    const char* words[] = {"block ", "series ", "context ", "[a b c] ", "12:30 ", "\n"};
    const char* w = words[rng() % 6];
    text.insert(text.end(), w, w + std::strlen(w));
  }
  Bytes far_repeat = random_bytes(0x40000, 256);  // a repeat right at the window's edge
  far_repeat.insert(far_repeat.end(), far_repeat.begin(), far_repeat.begin() + 4000);
  Bytes runs;
  for (int i = 0; i < 200; i++) runs.insert(runs.end(), rng() % 1500, uint8_t(i));
  const struct {
    const char* what;
    Bytes data;
    bool shrinks;
  } cases[] = {
      {"empty", {}, false},
      {"one byte", {42}, false},
      {"random", random_bytes(100000, 256), false},
      {"small alphabet", random_bytes(200000, 4), true},
      {"text", text, true},
      {"runs", runs, true},
      {"far repeat", far_repeat, false},
      {"several blocks", random_bytes((5 << 20) / 2, 4), true},
  };
  for (const auto& c : cases) {
    const Bytes packed = lz77::pack(c.data.data(), c.data.size());
    Bytes out;
    ASSERT_TRUE(lz77::unpack(packed.data(), packed.size(), out)) << c.what;
    EXPECT_EQ(out, c.data) << c.what;
    if (c.shrinks) EXPECT_LT(packed.size(), c.data.size() * 3 / 4) << c.what;
  }
  // A repeat just inside the window is found as a match: it costs far less than literals.
  const Bytes packed = lz77::pack(far_repeat.data(), far_repeat.size());
  EXPECT_LT(packed.size(), far_repeat.size() * 9 / 8 - 3000);
}

}  // namespace
}  // namespace zem
