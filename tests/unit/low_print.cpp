// Low-level print helpers: typed item lists, char literals, and the arithmetic helpers.
#include "runtime/low_print.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "tests/unit/support_capture.h"

namespace zem {
namespace {

using test::CaptureOutput;

TEST(LowPrint, ItemListsPrintEachKind) {
  CaptureOutput cap;
  print::list_line({"text"});
  print::list({false, true, print::Item::logic_word(0), print::Item::logic_word(-5), ' '});
  print::list({int32_t{-12}, 'c', 0.5f, 0.1, print::Item::hex32(0xABC), print::Item::u64(1ull << 40)});
  EXPECT_EQ(cap.stdout_text(), "text\nfalsetruefalsetrue -12c0.50.100000ABC1099511627776");
}

TEST(LowPrint, BytesStopAtNulOrCount) {
  CaptureOutput cap;
  print::bytes("abcdef", 3);
  print::bytes("xy\0z", 10);
  EXPECT_EQ(print::byte('!'), '!');
  EXPECT_EQ(cap.stdout_text(), "abcxy!");
}

TEST(LowPrint, CharLiterals) {
  const struct {
    uint8_t b;
    const char* text;
  } cases[] = {
      {0, "#\"^@\""},   {1, "#\"^A\""},    {9, "#\"^-\""},  {10, "#\"^/\""},
      {26, "#\"^Z\""},  {27, "#\"^]\""},   {31, "#\"^_\""}, {32, "#\" \""},
      {'a', "#\"a\""},  {127, "#\"\x7F\""}, {128, "#\"^(80)\""}, {200, "#\"^(C8)\""},
      {255, "#\"^(FF)\""},
  };
  for (const auto& c : cases) {
    CaptureOutput cap;
    print::char_literal(c.b);
    EXPECT_EQ(cap.stdout_text(), c.text) << int(c.b);
  }
}

TEST(LowPrint, RoundUp) {
  EXPECT_EQ(round_up_pow2(17, 16), 32u);
  EXPECT_EQ(round_up_pow2(32, 16), 32u);
  EXPECT_EQ(round_up_pow2(0, 8), 0u);
  EXPECT_EQ(round_up_next_pow2(32, 16), 48u);
  EXPECT_EQ(round_up_next_pow2(33, 16), 48u);
}

TEST(LowPrint, NormalizeAngle) {
  const double deg = 3.141592653589793 / 180.0;
  const struct {
    double degrees;
    int mode;
    double expected_degrees;
  } cases[] = {
      {450, 0, 90},   {135, 0, -45},   {135, 2, 45},    {135, 1, 135},   {-135, 0, 45},
      {-135, 2, -45}, {270, 1, -90},   {-270, 1, 90},   {720, 0, 0},     {90, 0, 90},
      {181, 1, -179}, {-181, 2, 1},
  };
  for (const auto& c : cases) {
    EXPECT_DOUBLE_EQ(normalize_angle(c.degrees, c.mode), c.expected_degrees * deg)
        << c.degrees << " mode " << c.mode;
  }
}

TEST(LowPrint, CStringsEqual) {
  EXPECT_TRUE(c_strings_equal("abc", "abc"));
  EXPECT_TRUE(c_strings_equal("", ""));
  EXPECT_FALSE(c_strings_equal("abc", "abcd"));
  EXPECT_FALSE(c_strings_equal("abd", "abc"));
}

}  // namespace
}  // namespace zem
