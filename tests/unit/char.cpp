// char!: arithmetic that must stay within the code points, and the molded form.
#include "datatypes/char.h"

#include <gtest/gtest.h>

namespace zem {
namespace {

TEST(Char, Arithmetic) {
  struct Case { uint32_t cp; int32_t right; MathOp op; uint32_t want; NumFault fault; } cases[] = {
      {'a', 1, OP_ADD, 'b', NumFault::none},
      {'b', 'a', OP_SUBTRACT, 1, NumFault::none},
      {'d', 2, OP_DIVIDE, 50, NumFault::none},
      {'e', 2, OP_DIVIDE, 50, NumFault::none},  // division truncates
      {'a', 32, OP_REMAINDER, 1, NumFault::none},
      {'a', 0xDF, OP_AND, 'A', NumFault::none},
      {'A', 0x20, OP_OR, 'a', NumFault::none},
      {'a', 98, OP_SUBTRACT, 0, NumFault::overflow},
      {kCharMax, 1, OP_ADD, 0, NumFault::overflow},
      {0x10000, 0x10000, OP_MULTIPLY, 0, NumFault::overflow},  // int overflow: no float char
      {0x8000, 0x10000, OP_MULTIPLY, 0, NumFault::overflow},   // -2^31 in 32 bits
      {'a', 0, OP_DIVIDE, 0, NumFault::zero_divide},
      {'a', 0, OP_REMAINDER, 0, NumFault::zero_divide},
      {0, 0, OP_ADD, 0, NumFault::none},
  };
  for (const auto& c : cases) {
    NumFault f = NumFault::none;
    uint32_t r = char_apply(c.cp, c.right, c.op, f);
    EXPECT_EQ(f, c.fault) << c.cp << " op " << int(c.op) << " " << c.right;
    if (c.fault == NumFault::none) {
      EXPECT_EQ(r, c.want) << c.cp << " op " << int(c.op);
    }
  }
}

TEST(Char, Mold) {
  const std::pair<uint32_t, const char*> cases[] = {
      {'a', "#\"a\""},
      {'\t', "#\"^-\""},
      {'\n', "#\"^/\""},
      {0, "#\"^@\""},
      {1, "#\"^A\""},
      {26, "#\"^Z\""},
      {27, "#\"^[\""},
      {28, "#\"^\\\""},
      {0x1E, "#\"^(1E)\""},  // "^^" is the caret itself
      {0x1F, "#\"^_\""},
      {'"', "#\"^\"\""},
      {'^', "#\"^^\""},
      {0x7F, "#\"^~\""},
      {0x80, "#\"^(80)\""},
      {0x9F, "#\"^(9F)\""},
      {0xA0, "#\"\xC2\xA0\""},
      {0xE9, "#\"\xC3\xA9\""},
      {0x20AC, "#\"\xE2\x82\xAC\""},
      {0x1F600, "#\"\xF0\x9F\x98\x80\""},
      {' ', "#\" \""},
  };
  for (auto [cp, text] : cases) EXPECT_EQ(char_mold_text(cp), text) << cp;
}

TEST(Char, MoldAllWritesEveryNonAsciiAsHex) {
  EXPECT_EQ(char_mold_text(0xE9, true), "#\"^(E9)\"");
  EXPECT_EQ(char_mold_text(0x10FFFF, true), "#\"^(10FFFF)\"");
  EXPECT_EQ(char_mold_text('a', true), "#\"a\"");
}

}  // namespace
}  // namespace zem
