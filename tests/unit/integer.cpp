// integer! arithmetic, rounding and conversions against tables computed by python3 (exact integers,
// decimal rounding) in tests/data/gen_number_fixtures.py.
#include "datatypes/integer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "tests/unit/fixture_lines.h"

namespace zem {
namespace {

std::string describe(const IntResult& r) {
  switch (r.fault) {
    case NumFault::zero_divide: return "zero-divide";
    case NumFault::overflow: return "overflow";
    case NumFault::none: break;
    default: return "other fault";
  }
  if (r.promoted) {
    char buf[64];
    snprintf(buf, sizeof buf, "float %.17g", r.real);
    return buf;
  }
  return "int " + std::to_string(r.value);
}

// The fixture writes floats in Python's repr; compare them as doubles.
std::string normalise(const std::vector<std::string>& row, size_t from) {
  if (row[from] == "float") {
    char buf[64];
    snprintf(buf, sizeof buf, "float %.17g", std::strtod(row[from + 1].c_str(), nullptr));
    return buf;
  }
  return from + 1 < row.size() ? row[from] + " " + row[from + 1] : row[from];
}

TEST(Integer, ArithmeticMatchesExactIntegers) {
  static const std::map<std::string, MathOp> ops = {
      {"add", OP_ADD}, {"subtract", OP_SUBTRACT}, {"multiply", OP_MULTIPLY},
      {"divide", OP_DIVIDE}, {"remainder", OP_REMAINDER}};
  auto rows = test::fixture_lines("integer_arith.txt");
  ASSERT_GT(rows.size(), 1000u);
  for (const auto& row : rows) {
    int32_t a = std::stoi(row[1]), b = std::stoi(row[2]);
    IntResult r = row[0] == "power" ? integer_power(a, b) : integer_apply(a, b, ops.at(row[0]));
    EXPECT_EQ(describe(r), normalise(row, 3)) << row[0] << " " << a << " " << b;
  }
}

TEST(Integer, DivideWithoutResultCellTruncates) {
  EXPECT_EQ(describe(integer_apply(7, 2, OP_DIVIDE, false)), "int 3");
  EXPECT_EQ(describe(integer_apply(-7, 2, OP_DIVIDE, false)), "int -3");
  EXPECT_EQ(describe(integer_apply(1, 0, OP_DIVIDE, false)), "zero-divide");
}

TEST(Integer, BitwiseOperations) {
  EXPECT_EQ(integer_apply(12, 10, OP_AND).value, 8);
  EXPECT_EQ(integer_apply(12, 10, OP_OR).value, 14);
  EXPECT_EQ(integer_apply(12, 10, OP_XOR).value, 6);
  EXPECT_EQ(integer_apply(INT32_MIN, -1, OP_XOR).value, INT32_MAX);
}

TEST(Integer, RoundMatchesDecimalRounding) {
  static const std::map<std::string, unsigned> modes = {
      {"none", 0}, {"even", ROUND_EVEN}, {"down", ROUND_DOWN}, {"half-down", ROUND_HALF_DOWN},
      {"floor", ROUND_FLOOR}, {"ceiling", ROUND_CEILING}, {"half-ceiling", ROUND_HALF_CEILING}};
  auto rows = test::fixture_lines("integer_round.txt");
  ASSERT_GT(rows.size(), 1000u);
  for (const auto& row : rows) {
    int32_t v = std::stoi(row[0]);
    int64_t s = std::stoll(row[1]);
    IntResult r = integer_round(v, s, modes.at(row[2]));
    EXPECT_EQ(describe(r), normalise(row, 3)) << "round " << v << " to " << s << " " << row[2];
  }
}

TEST(Integer, RoundRefinementsTakeTheirOrder) {
  // /down wins over /floor, /floor over /ceiling, and /even decides a half before /half-down.
  EXPECT_EQ(integer_round(-15, 10, ROUND_DOWN | ROUND_FLOOR).value, -10);
  EXPECT_EQ(integer_round(-15, 10, ROUND_FLOOR | ROUND_CEILING).value, -20);
  EXPECT_EQ(integer_round(35, 10, ROUND_EVEN | ROUND_HALF_DOWN).value, 40);
}

TEST(Integer, DecimalText) {
  const std::pair<int32_t, const char*> cases[] = {
      {0, "0"}, {7, "7"}, {-7, "-7"}, {2147483647, "2147483647"}, {INT32_MIN, "-2147483648"}};
  for (auto [v, text] : cases) EXPECT_EQ(integer_to_text(v), text);
}

TEST(Integer, FloatRangeForConversion) {
  const std::pair<double, bool> cases[] = {
      {2147483647.0, false}, {-2147483648.0, false}, {-0.9, false}, {2147483647.9, true},
      {-2147483648.5, true}, {NAN, true}, {INFINITY, true}, {-INFINITY, true}};
  for (auto [d, out] : cases) EXPECT_EQ(float_out_of_int_range(d), out) << d;
}

TEST(Integer, FromBinaryBytes) {
  const uint8_t b[] = {0x01, 0x02, 0x03, 0x04, 0x05};
  EXPECT_EQ(integer_from_bytes(b, 2), 258);
  EXPECT_EQ(integer_from_bytes(b, 5), 0x01020304);  // only the first four count
  const uint8_t ff[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(integer_from_bytes(ff, 1), 255);
  EXPECT_EQ(integer_from_bytes(ff, 4), -1);
  EXPECT_EQ(integer_from_bytes(ff, 0), 0);
}

TEST(Integer, FromIssueHexName) {
  auto read = [](std::u32string s, int32_t& out) {
    return integer_from_hex_name(s.data(), s.size(), 4, out);
  };
  int32_t v = 0;
  EXPECT_TRUE(read(U"FF", v));
  EXPECT_EQ(v, 255);
  EXPECT_TRUE(read(U"ffffffff", v));
  EXPECT_EQ(v, -1);
  EXPECT_FALSE(read(U"123456789", v));  // more than 8 digits
  EXPECT_FALSE(read(U"12G", v));
  EXPECT_FALSE(read(U"\u00C1", v));  // not "A" by its low bits
  const uint8_t narrow[] = {'1', '0'};
  EXPECT_TRUE(integer_from_hex_name(narrow, 2, 1, v));
  EXPECT_EQ(v, 16);
}

}  // namespace
}  // namespace zem
