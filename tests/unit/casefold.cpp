// Case folding against the generated tables, and the case-folded comparisons of strings.
#include "runtime/casefold.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "runtime/casefold_tables.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/startup.h"

namespace zem::casefold {
namespace {

class Casefold : public testing::Test {
 protected:
  static void SetUpTestSuite() { init(); }
};

// The generated tables: simple mappings of the Unicode 13.0 character database.
TEST_F(Casefold, TablesAreTheGeneratedOnes) {
  struct Case {
    bool upper, astral;
    size_t count;
    CasePair first, last;
  };
  const Case cases[] = {
      {true, false, 1185, {0x61, 0x41}, {0xFF5A, 0xFF3A}},
      {false, false, 1168, {0x41, 0x61}, {0xFF3A, 0xFF5A}},
      {true, true, 225, {0x10428, 0x10400}, {0x1E943, 0x1E921}},
      {false, true, 225, {0x10400, 0x10428}, {0x1E921, 0x1E943}},
  };
  for (const Case& c : cases) {
    auto t = table(c.upper, c.astral);
    ASSERT_EQ(t.size(), c.count);
    EXPECT_EQ(t.front().from, c.first.from);
    EXPECT_EQ(t.front().to, c.first.to);
    EXPECT_EQ(t.back().from, c.last.from);
    EXPECT_EQ(t.back().to, c.last.to);
    EXPECT_TRUE(std::is_sorted(t.begin(), t.end(),
                               [](const CasePair& a, const CasePair& b) { return a.from < b.from; }));
  }
}

TEST_F(Casefold, MapsBothPlanes) {
  struct Case {
    uint32_t cp, upper, lower;
  };
  const Case cases[] = {
      {'a', 'A', 'a'},
      {'Z', 'Z', 'z'},
      {0xFF, 0x178, 0xFF},
      {0x178, 0x178, 0xFF},
      {0xDF, 0xDF, 0xDF},          // no one-to-one upper case
      {0x1C5, 0x1C4, 0x1C6},       // title-case digraph
      {0x10428, 0x10400, 0x10428},
      {0x1E943, 0x1E921, 0x1E943},
      {0x1E921, 0x1E921, 0x1E943},
      {0x10000, 0x10000, 0x10000},
      {0x1F600, 0x1F600, 0x1F600},
      {0x10FFFF, 0x10FFFF, 0x10FFFF},
      {0x4E00, 0x4E00, 0x4E00},
      {'1', '1', '1'},
      {0xFF41, 0xFF21, 0xFF41},
      {0xA7C0, 0xA7C0, 0xA7C0},  // assigned after 13.0: no mapping
  };
  for (const Case& c : cases) {
    EXPECT_EQ(to_upper(c.cp), c.upper) << std::hex << c.cp;
    EXPECT_EQ(to_lower(c.cp), c.lower) << std::hex << c.cp;
  }
  EXPECT_EQ(swap_case('a'), uint32_t('A'));
  EXPECT_EQ(swap_case('A'), uint32_t('a'));
  EXPECT_EQ(swap_case('1'), uint32_t('1'));
}

TEST_F(Casefold, ChangeCaseWidensAndStaysWithinText) {
  unicode::UnitText t;
  for (char32_t c : std::u32string(U"ab\u00FFc")) t.push(c);
  ASSERT_EQ(t.unit, 1);
  change_case(t, 0, 4, true);
  EXPECT_EQ(t.code_points(), U"AB\u0178C");
  EXPECT_EQ(t.unit, 2);

  unicode::UnitText a;
  for (char32_t c : std::u32string(U"abcd")) a.push(c);
  change_case(a, 2, 1000, true);  // count past the tail stops at the tail
  EXPECT_EQ(a.code_points(), U"abCD");
  EXPECT_EQ(a.bytes.size(), 4u);
  change_case(a, 9, 3, true);
  EXPECT_EQ(a.code_points(), U"abCD");

  struct Part {
    int64_t count;
    size_t left, want;
  };
  for (Part p : {Part{-3, 5, 0}, Part{0, 5, 0}, Part{3, 5, 3}, Part{9, 5, 5}, Part{INT64_MAX, 2, 2}})
    EXPECT_EQ(part_count(p.count, p.left), p.want);

  unicode::UnitText astral;
  for (char32_t c : std::u32string(U"\U0001E921x")) astral.push(c);
  change_case(astral, 0, 2, false);
  EXPECT_EQ(astral.code_points(), U"\U0001E943x");
}

}  // namespace
}  // namespace zem::casefold

namespace zem::casefold {
namespace {

class CasefoldValues : public ::testing::Test {
 protected:
  void SetUp() override { init_through(StartLayer::symbols); }
  void TearDown() override { release_runtime(); }

  static Cell string_of(const std::u32string& text, int32_t index = 0) {
    uint32_t count = 0;
    std::string utf8;
    unicode::UnitText t;
    for (char32_t c : text) t.push(c);
    unicode::encode_utf8_units(t.bytes.data(), t.size(), t.unit, false, utf8);
    NodeId node = unicode::load_utf8_series(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size(), 0,
                                            false, &count);
    return Cell{TYPE_STRING, static_cast<uint32_t>(index), node, 0};
  }
  static std::u32string text_of(const Cell& str) {
    const SeriesBuffer* b = series_buffer(str.node());
    std::u32string s;
    for (uint32_t i = 0; i < b->length(); i++)
      s += unicode::read_unit(b->head_ptr() + i * b->unit(), b->unit());
    return s;
  }
};

TEST_F(CasefoldValues, StringsCharsAndPartArguments) {
  Cell s = string_of(U"ab\u00FFcd");
  ASSERT_EQ(series_buffer(s.node())->unit(), 1u);
  CaseChange c = change_case(s, nullptr, true);
  EXPECT_EQ(text_of(s), U"AB\u0178CD");
  EXPECT_EQ(series_buffer(s.node())->unit(), 2u);  // U+0178 does not fit one byte
  EXPECT_EQ(c.index, 0u);
  EXPECT_EQ(c.count, 5u);

  struct Case {
    int32_t index;
    int32_t part;
    std::u32string want;
    uint32_t count;
  };
  const Case cases[] = {
      {1, 2, U"aBCdef", 2},
      {1, -2, U"abcdef", 0},      // a negative distance changes nothing
      {4, 1000, U"abcdEF", 2},    // a count past the tail stops at the tail
      {99, 3, U"abcdef", 0},      // the position is clamped to the tail
  };
  for (const Case& k : cases) {
    Cell str = string_of(U"abcdef", k.index);
    Cell part{TYPE_INTEGER, 0, static_cast<uint32_t>(k.part), 0};
    c = change_case(str, &part, true);
    EXPECT_EQ(text_of(str), k.want) << k.index << " " << k.part;
    EXPECT_EQ(c.count, k.count);
  }

  Cell str = string_of(U"abcdef", 1);
  Cell end = str;
  end.set_head_index(4);  // /part given as a later position of the same string
  change_case(str, &end, true);
  EXPECT_EQ(text_of(str), U"aBCDef");
  Cell back = str;
  back.set_head_index(0);
  EXPECT_EQ(change_case(str, &back, false).count, 0u);

  Cell other = string_of(U"xyz");
  try {
    change_case(str, &other, true);
    ADD_FAILURE() << "a /part on another buffer was accepted";
  } catch (const Unwind&) {
    EXPECT_EQ(pending_exit().error, Err::script_invalid_part);
    clear_pending_exit();
  }

  Cell astral = string_of(U"\U0001E921x");
  change_case(astral, nullptr, false);
  EXPECT_EQ(text_of(astral), U"\U0001E943x");

  Cell ch{TYPE_CHAR, 0, 0xFF, 0};
  change_case(ch, nullptr, true);
  EXPECT_EQ(ch.char_value(), 0x178u);
}

}  // namespace
}  // namespace zem::casefold
