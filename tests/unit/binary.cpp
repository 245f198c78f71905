// binary!: the byte-series helpers other modules build on, the mold layout, and the base coders as
// pure functions.
#include "datatypes/binary.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/base_coders.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

class Binary : public testing::MemoryTest {
 protected:
  Cell bytes(std::vector<uint8_t> v) { return binary::load(v.data(), static_cast<uint32_t>(v.size())); }
  std::vector<uint8_t> content(const Cell& b) {
    const uint8_t* p = binary::rs_head(b);
    return std::vector<uint8_t>(p, p + binary::rs_length(b));
  }
};

// Multi-line molds: lines of 32 bytes one level deeper, the closing brace on its own line at the
// value's level, whatever the count modulo 32.
TEST_F(Binary, MoldLayoutAtTheLineThresholds) {
  auto expected = [](uint32_t n, int level) {
    std::string inner(4 * (level + 1), ' '), outer(4 * level, ' ');
    std::string text = "#{";
    if (n <= 30) return text + std::string(2 * n, 'A') + "}";
    for (uint32_t i = 0; i < n; i += 32) text += "\n" + inner + std::string(2 * std::min(32u, n - i), 'A');
    return text + "\n" + outer + "}";
  };
  for (uint32_t n : {0u, 10u, 30u, 31u, 32u, 64u, 65u}) {
    std::vector<uint8_t> v(n, 0xAA);
    Cell b = bytes(v);
    for (int level : {0, 1}) EXPECT_EQ(binary::mold_text(b, false, false, level), expected(n, level)) << n;
  }
  EXPECT_EQ(binary::mold_text(bytes({0x0A, 0xFF}), false, true, 0), "0AFF");
  std::string flat = "#{";
  for (int i = 0; i < 40; i++) flat += "01";
  EXPECT_EQ(binary::mold_text(bytes(std::vector<uint8_t>(40, 1)), true, false, 1), flat + "}");
}

TEST_F(Binary, HeadsPastTheTailAreClamped) {
  Cell b = bytes({1, 2, 3});
  b.set_head_index(2);
  binary::rs_clear(b);  // keeps 1 2
  Cell c = b;
  c.set_head_index(0);
  EXPECT_EQ(content(c), (std::vector<uint8_t>{1, 2}));
  EXPECT_EQ(binary::rs_length(b), 0u);
  EXPECT_TRUE(binary::rs_tail_q(b));
  EXPECT_FALSE(binary::rs_skip(c, 1));
  EXPECT_TRUE(binary::rs_skip(c, 5));
  EXPECT_EQ(c.head_index(), 2u);
  EXPECT_FALSE(binary::rs_skip(c, -9));
  EXPECT_EQ(c.head_index(), 0u);
  EXPECT_EQ(binary::byte_at(c, 1), 2);
}

// Writes from the binary's own bytes survive the moves and the growth they cause.
TEST_F(Binary, WritesFromTheSameBuffer) {
  Cell b = bytes({1, 2, 3, 4});
  binary::insert_bytes(b, 1, binary::rs_head(b), 4);
  EXPECT_EQ(content(b), (std::vector<uint8_t>{1, 1, 2, 3, 4, 2, 3, 4}));
  for (int i = 0; i < 6; i++) binary::append_bytes(b, binary::rs_head(b), binary::rs_length(b));
  EXPECT_EQ(binary::rs_length(b), 8u * 64);
  EXPECT_EQ(binary::byte_at(b, 8 * 63 + 5), 2);
  binary::overwrite_bytes(b, 8 * 64 - 1, binary::rs_head(b), 3);  // passes the tail
  EXPECT_EQ(binary::rs_length(b), 8u * 64 + 2);
  EXPECT_EQ(binary::byte_at(b, 8 * 64 + 1), 2);
  binary::reserve(b, 4);
  binary::append_int32_be(0x01020304, b);
  EXPECT_EQ(binary::byte_at(b, 8 * 64 + 2), 1);
  EXPECT_EQ(binary::byte_at(b, 8 * 64 + 5), 4);
}

// Tuples give their bytes (the tuple! literal comes with its own module); a /part limit caps the
// bytes of one value, of a block its elements, or its bytes in unit mode.
TEST_F(Binary, ValueBytesOfTuplesAndLimits) {
  Cell tuple{};
  tuple.set_header(TYPE_TUPLE);
  tuple.set_tuple_count(4);
  for (uint32_t i = 0; i < 4; i++) tuple.set_tuple_at(i, static_cast<uint8_t>(250 + i));
  uint8_t out[8] = {};
  EXPECT_EQ(binary::value_to_bytes(nullptr, tuple, 0, false, false), 4u);
  EXPECT_EQ(binary::value_to_bytes(out, tuple, 3, false, false), 3u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{250, 251, 252, 0}));
  Cell b = bytes({1, 2, 3});
  EXPECT_EQ(binary::value_to_bytes(nullptr, b, 2, false, false), 2u);
  NodeId block = alloc::make_cells(4);
  testing::append_cell(block, b);
  testing::append_cell(block, tuple);
  Cell blk = testing::block_cell(block);
  EXPECT_EQ(binary::value_to_bytes(nullptr, blk, 0, false, false), 7u);
  EXPECT_EQ(binary::value_to_bytes(nullptr, blk, 1, false, false), 3u);  // one element
  EXPECT_EQ(binary::value_to_bytes(nullptr, blk, 5, true, false), 5u);   // five bytes
  EXPECT_EQ(binary::value_to_bytes(out, blk, 5, true, false), 5u);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 5), (std::vector<uint8_t>{1, 2, 3, 250, 251}));
}

std::string encode(int base, std::vector<uint8_t> v) {
  std::string out(basecode::encoded_size(base, v.size()), '\0');
  char* end = basecode::encode(base, out.data(), v.data(), v.size());
  out.resize(static_cast<size_t>(end - out.data()));
  return out;
}

// Decodes text given as code points, stored in units of 1, 2 and 4 bytes: every width must agree.
// "!" stands for an invalid text.
std::string decode(int base, const std::u32string& text) {
  std::string answer;
  for (uint32_t unit : {1u, 2u, 4u}) {
    bool fits = true;
    std::vector<uint8_t> units;
    for (char32_t c : text) {
      if (unit == 1 && c > 0xFF) fits = false;
      if (unit == 2 && c > 0xFFFF) fits = false;
      for (uint32_t k = 0; k < unit; k++) units.push_back(static_cast<uint8_t>(uint32_t(c) >> (8 * k)));
    }
    if (!fits) continue;
    std::vector<uint8_t> out(basecode::decoded_capacity(base, text.size()));
    int64_t n = basecode::decode(base, units.data(), text.size(), unit, out.data());
    std::string got = n < 0 ? "!" : encode(16, std::vector<uint8_t>(out.begin(), out.begin() + n));
    if (answer.empty()) answer = got;
    EXPECT_EQ(got, answer) << "unit " << unit;
  }
  return answer;
}

TEST(BaseCoders, Encoders) {
  EXPECT_EQ(encode(64, {1}), "AQ==");
  EXPECT_EQ(encode(64, {1, 2}), "AQI=");
  EXPECT_EQ(encode(64, {1, 2, 3}), "AQID");
  EXPECT_EQ(encode(58, {0, 0}), "11");
  EXPECT_EQ(encode(58, {0, 0, 1}), "112");
  EXPECT_EQ(encode(58, {}), "");
  EXPECT_EQ(encode(16, {0x0A, 0xFF}), "0AFF");
  EXPECT_EQ(encode(2, {0x81}), "10000001");
}

TEST(BaseCoders, Decoders) {
  struct Case {
    int base;
    std::u32string text;
    const char* hex;  // "!" when invalid
  };
  const Case cases[] = {
      {64, U"AQID", "010203"},
      {64, U"AQ ID\n ;note\r\nAQ==", "010203" "01"},
      {64, U"A'Q\tI\bD", "010203"},
      {64, U"AQ;to the end", ""},
      {64, U"AQIDAQ", "010203"},  // an unpadded final group is dropped
      {64, U"A===", "!"},
      {64, U"AQ=A", "01"},        // "=" ends the data
      {64, U"AQ*D", "!"},
      {64, U"AQ\u00E9D", "!"},
      {64, U"AQID\U0001F600", "!"},
      {58, U"11", "0000"},
      {58, U"112", "000001"},
      {58, U"1 1;c\n2", "000001"},
      {58, U"10", "!"},
      {58, U"1\u00E9", "!"},  // not cut short: the whole text is refused
      {16, U"0a 0B", "0A0B"},
      {16, U"abc", "AB"},
      {16, U"", ""},
      {16, U"0g", "!"},
      {16, U"\u00B0", "!"},  // U+00B0 is no "0"
      {16, U"\u00C1", "!"},
      {16, U"0A;\u00E9\n0B", "0A0B"},
      {2, U"0000000", "!"},
      {2, U"00000001 11111111", "01FF"},
      {2, U"0000\t0002", "!"},
      {2, U"00000001;\U0001F600", "01"},
  };
  for (const Case& c : cases) EXPECT_EQ(decode(c.base, c.text), c.hex) << c.base << " case " << &c - cases;
  EXPECT_EQ(basecode::decode(32, nullptr, 0, 1, nullptr), -1);
}

// Every leading zero byte is one leading "1" and back, for every run of zeros.
TEST(BaseCoders, Base58LeadingZeros) {
  for (size_t zeros = 0; zeros < 5; zeros++) {
    std::vector<uint8_t> v(zeros, 0);
    v.push_back(0x3A);
    v.push_back(0x00);
    std::string text = encode(58, v);
    EXPECT_EQ(text.find_first_not_of('1'), zeros);
    std::u32string t(text.begin(), text.end());
    EXPECT_EQ(decode(58, t), encode(16, v));
  }
}

}  // namespace
}  // namespace zem
