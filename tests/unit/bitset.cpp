// bitset!: membership under the complement flag, the set operations checked bit by bit against
// plain set logic, molds and ordering.
#include "datatypes/bitset.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace zem {
namespace {

struct Bits {
  std::vector<uint8_t> bytes;
  bool complemented = false;
  BitsView view() { return {bytes.data(), bytes.size(), complemented}; }
};

// make bitset! of the code point of "A" (65): bit 65 set in 9 bytes.
Bits letter_a() {
  Bits b;
  b.bytes.assign(bits_bytes_for(65), 0);
  bits_set_range(b.view(), 65, 65, true);
  return b;
}

TEST(Bitset, MoldShowsNamedBits) {
  Bits a = letter_a();
  EXPECT_EQ(bits_mold_text(a.view()), "make bitset! #{000000000000000040}");
  // [not "A"]: every stored bit but 65 is a member, and every bit beyond.
  Bits n = a;
  bits_invert(n.view());
  n.complemented = true;
  EXPECT_EQ(n.bytes.back(), 0xBF);
  EXPECT_EQ(bits_mold_text(n.view()), "make bitset! [not #{000000000000000040}]");
  Bits empty;
  EXPECT_EQ(bits_mold_text(empty.view()), "make bitset! #{}");
}

TEST(Bitset, PartLimitStopsTheHexDigits) {
  Bits a = letter_a();
  std::string out;
  EXPECT_EQ(bits_append_hex(out, a.view(), true, 5), -1);
  EXPECT_EQ(out, "000000");
}

TEST(Bitset, MembershipBeyondStoredBytesFollowsTheFlag) {
  Bits a = letter_a();
  EXPECT_TRUE(bits_test(a.view(), 65));
  EXPECT_FALSE(bits_test(a.view(), 64));
  EXPECT_FALSE(bits_test(a.view(), 1000));
  a.complemented = true;
  EXPECT_TRUE(bits_test(a.view(), 1000));
  EXPECT_FALSE(bits_test(a.view(), 64));  // stored bits hold the true membership

  // A range reaching past the stored bytes needs the flag and every stored bit of it.
  Bits r;
  r.bytes.assign(2, 0xFF);
  r.complemented = true;
  EXPECT_TRUE(bits_test_range(r.view(), 10, 500));
  r.bytes[1] = 0xFE;  // bit 15 out
  EXPECT_FALSE(bits_test_range(r.view(), 10, 500));
  EXPECT_TRUE(bits_test_range(r.view(), 0, 14));
  r.complemented = false;
  r.bytes[1] = 0xFF;
  EXPECT_FALSE(bits_test_range(r.view(), 10, 16));
  EXPECT_TRUE(bits_test_range(r.view(), 10, 15));
  Bits none;
  EXPECT_FALSE(bits_test_range(none.view(), 0, 0));
  none.complemented = true;
  EXPECT_TRUE(bits_test_range(none.view(), 0, 0));
}

TEST(Bitset, SetAndClearStayWithinStoredBytes) {
  Bits b;
  b.bytes.assign(2, 0);
  bits_set_range(b.view(), 3, 100, true);
  EXPECT_EQ(b.bytes, (std::vector<uint8_t>{0x1F, 0xFF}));
  bits_set_range(b.view(), 8, 11, false);
  EXPECT_EQ(b.bytes, (std::vector<uint8_t>{0x1F, 0x0F}));
}

TEST(Bitset, SetOperationsGiveExactMembership) {
  std::mt19937 rng(7);
  const int ops[] = {5, 6, 7, 11, 9, 10, 12};
  for (int round = 0; round < 200; round++) {
    Bits a, b;
    a.bytes.resize(rng() % 5);
    b.bytes.resize(rng() % 5);
    for (auto& x : a.bytes) x = uint8_t(rng());
    for (auto& x : b.bytes) x = uint8_t(rng());
    a.complemented = rng() & 1;
    b.complemented = rng() & 1;
    for (int op : ops) {
      std::vector<uint8_t> out(std::max(a.bytes.size(), b.bytes.size()));
      Bits r;
      r.complemented = bits_combine(a.view(), b.view(), op, out.data());
      r.bytes = out;
      for (uint32_t n = 0; n < 64; n++) {
        bool x = bits_test(a.view(), n), y = bits_test(b.view(), n);
        bool want = op == 5 || op == 9 ? (x || y)
                    : op == 6 || op == 10 ? (x && y)
                    : op == 7 || op == 12 ? (x != y)
                                          : (x && !y);
        ASSERT_EQ(bits_test(r.view(), n), want) << "op " << op << " bit " << n;
      }
    }
  }
}

TEST(Bitset, ComplementInvertsEveryMember) {
  Bits a = letter_a();
  bits_invert(a.view());
  a.complemented = !a.complemented;
  EXPECT_FALSE(bits_test(a.view(), 65));
  EXPECT_TRUE(bits_test(a.view(), 66));
  EXPECT_TRUE(bits_test(a.view(), 0x10FFFF));
}

TEST(Bitset, Ordering) {
  Bits a = letter_a(), b = letter_a();
  EXPECT_EQ(bits_compare(a.view(), b.view()), 0);
  Bits shorter;
  shorter.bytes.assign(2, 0xFF);
  EXPECT_EQ(bits_compare(shorter.view(), a.view()), -1);
  b.complemented = true;
  EXPECT_EQ(bits_compare(a.view(), b.view()), -1);
  b.complemented = false;
  b.bytes[0] = 1;  // the last byte decides first; both last bytes are equal here
  EXPECT_EQ(bits_compare(a.view(), b.view()), -1);
  a.bytes[8] = 0x80;
  EXPECT_EQ(bits_compare(a.view(), b.view()), 1);
}

}  // namespace
}  // namespace zem
