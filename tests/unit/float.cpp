// float!: rounding against decimal rounding computed by python3, text forms, the nearly-equal test,
// comparison codes and the arithmetic of special values.
#include "datatypes/float.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <map>

#include "tests/unit/fixture_lines.h"

namespace zem {
namespace {

const std::map<std::string, unsigned> kModes = {
    {"none", 0}, {"even", ROUND_EVEN}, {"down", ROUND_DOWN}, {"half-down", ROUND_HALF_DOWN},
    {"floor", ROUND_FLOOR}, {"ceiling", ROUND_CEILING}, {"half-ceiling", ROUND_HALF_CEILING}};

TEST(Float, RoundMatchesDecimalRounding) {
  auto rows = test::fixture_lines("float_round.txt");
  ASSERT_GT(rows.size(), 500u);
  for (const auto& row : rows) {
    double v = std::strtod(row[0].c_str(), nullptr), sc = std::strtod(row[1].c_str(), nullptr);
    NumFault fault = NumFault::none;
    double r = float_round(v, sc, kModes.at(row[2]), fault);
    ASSERT_EQ(fault, NumFault::none);
    EXPECT_EQ(r, std::strtod(row[4].c_str(), nullptr)) << "round " << row[0] << " to " << row[1]
                                                       << " " << row[2];
  }
}

TEST(Float, RoundWithFractionalScales) {
  struct Case { double v, sc; unsigned flags; double want; } cases[] = {
      {1.234, 0.01, 0, 1.23},
      {1234.5, 100, 0, 1200},
      {-2.5, 1, ROUND_HALF_CEILING, -2.0},
      {12.5, 1, 0, 13.0},                   // a percent 12.5% as its hundredths
      {1e300, 1, 0, 1e300},                 // the scale is below the value's precision
      {5e-324 * 3, 5e-324, 0, 5e-324 * 3},  // a subnormal scale: 1 / sc would not exist
      {0.30000000000000004, 0.1, 0, 0.3},
      {0.0, 0.0, 0, 0.0},
      {2.5, 0.0, 0, 2.5},
  };
  for (const auto& c : cases) {
    NumFault fault = NumFault::none;
    EXPECT_EQ(float_round(c.v, c.sc, c.flags, fault), c.want) << c.v << " to " << c.sc;
    EXPECT_EQ(fault, NumFault::none);
  }
}

TEST(Float, RoundOverflowsOnlyPastTheFiniteDoubles) {
  NumFault fault = NumFault::none;
  float_round(1.7e308, 1e308, 0, fault);  // 2e308
  EXPECT_EQ(fault, NumFault::overflow);
  fault = NumFault::none;
  EXPECT_EQ(float_round(INFINITY, 10, 0, fault), INFINITY);  // already infinite: unchanged
  EXPECT_EQ(fault, NumFault::none);
}

TEST(Float, PrettyText) {
  const std::pair<double, const char*> cases[] = {
      {0.1 + 0.2, "0.3"},
      {0.1 + 0.7, "0.8"},
      {-(0.1 + 0.7), "-0.8"},
      {1.0 / 3, "0.3333333333333333"},
      {1e20, "1.0e20"},
      {1.5e-7, "1.5e-7"},
      {100.0, "100.0"},
      {1e-300, "0.0"},
      {-2.5, "-2.5"},
      {1.7976931348623157e308, "1.797693134862316e308"},
      {INFINITY, "1.#INF"},
      {-INFINITY, "-1.#INF"},
      {NAN, "1.#NaN"},
      {123456789012345680.0, "1.234567890123457e17"},
      // The sign takes no digit: a value and its negation keep the same digits.
      {1.23456789012301, "1.23456789012301"},
      {-1.23456789012301, "-1.23456789012301"},
  };
  for (auto [d, text] : cases) EXPECT_EQ(float_to_text(d, FLOAT_TEXT_DOUBLE, true), text) << text;
}

TEST(Float, TextModes) {
  EXPECT_EQ(float_to_text(12.5, FLOAT_TEXT_PERCENT, true), "12.5%");
  EXPECT_EQ(float_to_text(0.0, FLOAT_TEXT_PERCENT, true), "0%");
  EXPECT_EQ(float_to_text(0.0, FLOAT_TEXT_POINT, true), "0");
  EXPECT_EQ(float_to_text(1.5f, FLOAT_TEXT_POINT, true), "1.5");
  EXPECT_EQ(float_to_text(3.0, FLOAT_TEXT_POINT, true), "3");
  EXPECT_EQ(float_to_text(double(0.1f), FLOAT_TEXT_SINGLE, true), "0.1");
  EXPECT_EQ(float_to_text(1e-300, FLOAT_TEXT_DOUBLE, false), "1.0e-300");
  EXPECT_EQ(float_to_text(0.1 + 0.7, FLOAT_TEXT_DOUBLE, false), "0.7999999999999999");
}

TEST(Float, NearlyEqual) {
  struct Case { double a, b; bool eq; } cases[] = {
      {0.1 + 0.2, 0.3, true},
      {1e-17, 2e-17, true},  // below the absolute bound
      {0.0, -0.0, true},
      {1.0, std::nextafter(1.0, 2.0), true},
      {1.0, 1.0 + 10 * DBL_EPSILON, true},
      {1.0, 1.0 + 11 * DBL_EPSILON, false},
      {-1.0, -1.0 - 10 * DBL_EPSILON, true},
      {1.0, -1.0, false},
      {1e-300, -1e-300, true},
      {NAN, NAN, false},
      {NAN, 1.0, false},
  };
  for (const auto& c : cases) EXPECT_EQ(float_nearly_equal(c.a, c.b), c.eq) << c.a << " " << c.b;
}

TEST(Float, NearlyEqualSingle) {
  EXPECT_TRUE(float_nearly_equal_single(0.0f, -0.0f));
  EXPECT_TRUE(float_nearly_equal_single(1.0f, std::nextafter(1.0f, 2.0f)));
  EXPECT_FALSE(float_nearly_equal_single(1.0f, 1.001f));
  EXPECT_FALSE(float_nearly_equal_single(NAN, NAN));
  EXPECT_TRUE(float_nearly_equal_single(FLT_MAX, INFINITY));
  EXPECT_FALSE(float_nearly_equal_single(FLT_MAX, -INFINITY));
}

TEST(Float, CompareCodes) {
  struct Case { double a, b; int op, want; } cases[] = {
      {0.1 + 0.2, 0.3, 0, 0}, {0.1 + 0.2, 0.3, 1, 0}, {0.1 + 0.2, 0.3, 2, 1},
      {1.0, 2.0, 3, -1},      {2.0, 1.0, 5, 1},       {1.0, 1.0, 4, 0},
      {0.0, -0.0, 2, 0},      {0.0, -0.0, 9, 1},      {NAN, NAN, 9, 0},
      {NAN, 1.0, 3, 1},       {NAN, 1.0, 4, 1},       {NAN, 1.0, 5, -1},
      {1.0, NAN, 6, -1},      {NAN, NAN, 2, 1},       {NAN, NAN, 0, 1},
      {NAN, NAN, 12, 1},      {NAN, 1.0, 12, 1},      {2.0, 2.0, 12, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(float_compare(c.a, c.b, c.op), c.want) << c.a << " " << c.b << " op " << c.op;
}

TEST(Float, Arithmetic) {
  NumFault f = NumFault::none;
  EXPECT_EQ(float_apply(5.0, INFINITY, OP_REMAINDER, f), 5.0);
  EXPECT_TRUE(std::isnan(float_apply(5.0, 0.0, OP_REMAINDER, f)));
  EXPECT_TRUE(std::isnan(float_apply(INFINITY, INFINITY, OP_REMAINDER, f)));
  EXPECT_TRUE(std::isnan(float_apply(5.0, NAN, OP_REMAINDER, f)));
  EXPECT_EQ(float_apply(-7.5, 2.0, OP_REMAINDER, f), -1.5);
  EXPECT_EQ(float_apply(1.0, 0.0, OP_DIVIDE, f), INFINITY);
  EXPECT_EQ(f, NumFault::none);
  float_apply(1.0, 2.0, OP_XOR, f);
  EXPECT_EQ(f, NumFault::cannot_use);
}

TEST(Float, Conversions) {
  const uint8_t one[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(float_from_bytes(one, 8), 1.0);
  const uint8_t tiny[] = {0x01};
  EXPECT_EQ(float_from_bytes(tiny, 1), 5e-324);
  EXPECT_EQ(float_abs_bits(-0.0), 0.0);
  EXPECT_FALSE(std::signbit(float_abs_bits(-0.0)));

  struct Case { double d; int32_t want; NumFault fault; } cases[] = {
      {-0.9, 0, NumFault::none}, {2147483647.0, 2147483647, NumFault::none},
      {-2147483648.0, INT32_MIN, NumFault::none}, {2147483648.0, 0, NumFault::type_limit},
      {NAN, 0, NumFault::type_limit}, {-INFINITY, 0, NumFault::type_limit}};
  for (const auto& c : cases) {
    NumFault f = NumFault::none;
    EXPECT_EQ(float_truncate(c.d, f), c.want) << c.d;
    EXPECT_EQ(f, c.fault) << c.d;
  }
  NumFault f = NumFault::none;
  EXPECT_EQ(float_add_nearly_half(0.49999999999999994, f), 0);
  EXPECT_EQ(float_add_nearly_half(2.5, f), 3);
  EXPECT_EQ(f, NumFault::none);
}

}  // namespace
}  // namespace zem
