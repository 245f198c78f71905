// Display widths against the generated tables.
#include "runtime/char_width.h"

#include <gtest/gtest.h>

#include "runtime/char_width_tables.h"

namespace zem::unicode {
namespace {

// Generated from the Unicode 14.0 character database (Mn + Me + Cf, East Asian Width W/F and A).
TEST(CharWidth, TablesAreTheGeneratedOnes) {
  struct Case {
    WidthTable which;
    size_t rows;
    std::vector<CodeRange> first, last;
  };
  const Case cases[] = {
      {WidthTable::zero, 345,
       {{0x300, 0x36F}, {0x483, 0x489}, {0x591, 0x5BD}, {0x5BF, 0x5BF}},
       {{0x1E8D0, 0x1E8D6}, {0x1E944, 0x1E94A}, {0xE0100, 0xE01EF}}},
      {WidthTable::wide, 121,
       {{0x1100, 0x115F}, {0x231A, 0x231B}, {0x2329, 0x232A}, {0x23E9, 0x23EC}},
       {{0x1FAF0, 0x1FAF6}, {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}}},
      {WidthTable::ambiguous, 176,
       {{0xA1, 0xA1}, {0xA4, 0xA4}, {0xA7, 0xA8}, {0xAA, 0xAA}, {0xAE, 0xAE}, {0xB0, 0xB4}},
       {{0xF0000, 0xFFFFD}, {0x100000, 0x10FFFD}}},
  };
  for (const Case& c : cases) {
    auto t = width_table(c.which);
    ASSERT_EQ(t.size(), c.rows);
    for (size_t i = 0; i < c.first.size(); i++) {
      EXPECT_EQ(t[i].first, c.first[i].first);
      EXPECT_EQ(t[i].last, c.first[i].last);
    }
    for (size_t i = 0; i < c.last.size(); i++) {
      const CodeRange& r = t[t.size() - c.last.size() + i];
      EXPECT_EQ(r.first, c.last[i].first);
      EXPECT_EQ(r.last, c.last[i].last);
    }
    for (size_t i = 1; i < t.size(); i++) EXPECT_GT(t[i].first, t[i - 1].last + 1);  // sorted, merged
  }
}

TEST(CharWidth, Columns) {
  struct Case {
    uint32_t cp;
    int width, cjk;
  };
  const Case cases[] = {
      {0, 0, 0},           {'a', 1, 1},          {1, 1, 1},           {0x1F, 1, 1},
      {0x7F, 1, 1},        {0x9F, 1, 1},         {0xA0, 1, 1},        {0x301, 0, 0},
      {0x4E00, 2, 2},      {0xA1, 1, 2},         {0xAD, 1, 1},        {0x200B, 0, 0},
      {0xFE0F, 0, 0},      {0xE0001, 1, 1},      {0xE0100, 0, 0},     {0xFF21, 2, 2},
      {0x1F600, 2, 2},     {0x2FFFD, 2, 2},      {0x3FFFE, 1, 1},     {0x1100, 2, 2},
      {0x1160, 1, 1},      {0xFFFD, 1, 2},       {0x10FFFD, 1, 2},    {0x10FFFF, 1, 1},
      {0x1FAF7, 1, 1},  // assigned after 14.0
  };
  for (const Case& c : cases) {
    EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
    EXPECT_EQ(char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
  }
  const CodeRange table[] = {{5, 7}, {10, 10}};
  for (uint32_t cp = 0; cp < 13; cp++)
    EXPECT_EQ(in_ranges(cp, table), (cp >= 5 && cp <= 7) || cp == 10) << cp;
}

}  // namespace
}  // namespace zem::unicode
