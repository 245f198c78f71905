// String storage: unit widths, writes, inserts and copies across units.
#include "datatypes/string_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"
#include "runtime/casefold.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::raised;

class StringStorage : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::symbols);
  }
  static uint32_t unit(const Cell& s) { return series_buffer(s.node())->unit(); }
  static std::string text(const Cell& s) { return str::to_std_string(s); }
};

TEST_F(StringStorage, UnitRulesForAppendWriteAndInsert) {
  struct Case {
    const char* start;  // UTF-8
    char op;            // 'a' append, 'w' overwrite unit 0, 'i' insert at 1
    uint32_t cp;
    uint32_t unit;
    const char* result;
  };
  const Case cases[] = {
      {"abc", 'a', 'd', 1, "abcd"},
      {"abc", 'a', 0xE9, 2, "abc\u00e9"},          // appending Latin-1 widens
      {"abc", 'w', 0xE9, 1, "\u00e9bc"},            // writing it over a unit does not
      {"abc", 'i', 0xE9, 1, "a\u00e9bc"},
      {"abc", 'a', 0x1F600, 4, "abc\U0001F600"},
      {"ab\u0100", 'a', 0x1F600, 4, "ab\u0100\U0001F600"},
      {"abc", 'w', 0x263A, 2, "\u263Abc"},
      {"ab\u0100", 'i', 0x10348, 4, "a\U00010348b\u0100"},
  };
  for (const Case& c : cases) {
    Cell s = str::make_from_utf8(c.start);
    if (c.op == 'a') str::append_code_point(s.node(), c.cp);
    if (c.op == 'w') str::overwrite_code_point(s.node(), 0, c.cp);
    if (c.op == 'i') str::insert_code_point_at(s.node(), 1, c.cp);
    EXPECT_EQ(unit(s), c.unit) << c.start << " " << c.op << " " << c.cp;
    EXPECT_EQ(text(s), c.result) << c.start << " " << c.op << " " << c.cp;
  }
}

TEST_F(StringStorage, AppendManyGrowsAndKeepsEveryCodePoint) {
  Cell s = str::make_string(1);
  std::string expect;
  for (int i = 0; i < 5000; i++) {
    uint32_t cp = i == 4000 ? 0x4E2D : 'a' + i % 26;
    str::append_code_point(s.node(), cp);
    StdStringOut o;
    o.append_code_point(cp);
    expect += o.text();
  }
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(str::count_from_head(s), 5000u);
  EXPECT_EQ(text(s), expect);
}

TEST_F(StringStorage, ResetEmptyNarrowsToOneByte) {
  Cell s = str::make_from_utf8("x\U0001F600");
  ASSERT_EQ(unit(s), 4u);
  s.set_head_index(1);
  str::reset_empty(s);
  EXPECT_EQ(unit(s), 1u);
  EXPECT_EQ(s.head_index(), 0u);
  EXPECT_EQ(str::count_from_head(s), 0u);
}

TEST_F(StringStorage, HeadPastTailReadsAsTailAndIsClampedWhenAddressed) {
  Cell s = str::make_from_c_text("abcdef");
  s.set_head_index(4);
  str::truncate(s, 2);
  EXPECT_TRUE(str::head_at_tail(s));
  EXPECT_EQ(str::count_from_head(s), 0u);
  uint8_t* p = str::head_address(s);
  EXPECT_EQ(s.head_index(), 2u);
  EXPECT_EQ(p, series_buffer(s.node())->tail_ptr());
}

TEST_F(StringStorage, PutAtFarIndexGrowsAsNeededAndFillsTheGap) {
  // Two growth steps would not reach index 1000 of a 16-byte buffer: the write must never pass the
  // buffer's end.
  Cell s = str::make_from_c_text("ab");
  str::put_code_point_at(s.node(), 1000, 'z');
  SeriesBuffer* b = series_buffer(s.node());
  ASSERT_GE(b->capacity - b->head, 1001u);
  EXPECT_EQ(str::count_from_head(s), 1001u);
  EXPECT_EQ(str::code_point_at(s, 1000), uint32_t('z'));
  EXPECT_EQ(str::code_point_at(s, 2), 0u);
  EXPECT_EQ(str::code_point_at(s, 999), 0u);
  // Within the text, the tail stays.
  str::put_code_point_at(s.node(), 1, 0x263A);
  EXPECT_EQ(str::count_from_head(s), 1001u);
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(str::code_point_at(s, 1), 0x263Au);
}

TEST_F(StringStorage, ConcatenateModesAndSelfCopy) {
  struct Case {
    const char* target;
    const char* source;  // "=" : the target itself
    int32_t part;
    uint32_t offset;
    str::ConcatMode mode;
    const char* result;
  };
  using M = str::ConcatMode;
  const Case cases[] = {
      {"abc", "de", -1, 0, M::append, "abcde"},
      {"abc", "=", -1, 0, M::append, "abcabc"},
      {"abc", "=", -1, 1, M::insert, "aabcbc"},
      {"abc", "=", 2, 1, M::overwrite, "aab"},
      {"abc", "xyz", 2, 0, M::insert, "xyabc"},
      {"abc", "xyz", -1, 2, M::overwrite, "abxyz"},
      {"abc", "\u263Axy", -1, 1, M::insert, "a\u263Axybc"},
      {"a\u263A", "bc", -1, 0, M::append, "a\u263Abc"},
      {"abc", "", -1, 0, M::append, "abc"},
  };
  for (const Case& c : cases) {
    Cell t = str::make_from_utf8(c.target);
    Cell s = std::string_view(c.source) == "=" ? t : str::make_from_utf8(c.source);
    str::concatenate(t, s, c.part, c.offset, false, c.mode);
    EXPECT_EQ(text(t), c.result) << c.target << " + " << c.source;
  }
}

TEST_F(StringStorage, ConcatenatePerCodePointKeepsTheNarrowSource) {
  Cell t = str::make_from_utf8("\u263A");
  Cell s = str::make_from_c_text("abc");
  str::concatenate(t, s, -1, 0, true, str::ConcatMode::append);
  EXPECT_EQ(unit(s), 1u);
  EXPECT_EQ(text(t), "\u263Aabc");
  str::concatenate(t, s, -1, 0, false, str::ConcatMode::append);
  EXPECT_EQ(unit(s), 2u);  // widened itself, text unchanged
  EXPECT_EQ(text(s), "abc");
  EXPECT_EQ(text(t), "\u263Aabcabc");
}

TEST_F(StringStorage, CTextUtf8AndReads) {
  Cell s = str::make_string();
  str::append_c_text(s.node(), "");
  EXPECT_EQ(str::count_from_head(s), 0u);
  str::append_c_text(s.node(), "Ab\xE9");
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(text(s), "Ab\u00e9");
  str::append_utf8(s.node(), "c\u263Ad");
  EXPECT_EQ(text(s), "Ab\u00e9c\u263Ad");
  EXPECT_EQ(str::index_of_code_point(s, 0x263A), 4);
  EXPECT_EQ(str::index_of_code_point(s, 'z'), -1);
  EXPECT_TRUE(str::contains_code_point(s, 'a', 1, false));
  EXPECT_FALSE(str::contains_code_point(s, 'a', 1, true));
  EXPECT_TRUE(str::contains_code_point(s, 0xC9, 1, false));  // É folds to é
  EXPECT_FALSE(str::contains_code_point(s, 'b', 2, true));  // only every second unit
  EXPECT_TRUE(str::starts_with_c_text(s, "Ab"));
  EXPECT_FALSE(str::starts_with_c_text(s, "ab"));
  EXPECT_FALSE(str::starts_with_c_text(str::make_from_c_text("A"), "Ab"));
}

TEST_F(StringStorage, RemoveAndMoveHeadUnits) {
  Cell s = str::make_from_c_text("abcdef");
  s.set_head_index(1);
  str::remove_units(s, 1, 2);  // "cd"
  EXPECT_EQ(text(s), "bef");
  str::remove_units(s, 10, 2);
  EXPECT_EQ(text(s), "bef");
  Cell src = str::make_from_utf8("\u263Axy");
  Cell dst = str::make_from_c_text("12");
  dst.set_head_index(1);
  str::move_head_units(src, dst, 2 * 2);
  EXPECT_EQ(text(src), "y");
  dst.set_head_index(0);
  EXPECT_EQ(text(dst), "1\u263Ax2");
}

TEST_F(StringStorage, RotateBytesMatchesStdRotateAcrossTheScratchSize) {
  for (size_t a : {size_t(1), size_t(3), size_t(70000)}) {
    for (size_t b : {size_t(2), size_t(80000)}) {
      std::vector<uint8_t> v(a + b);
      std::iota(v.begin(), v.end(), 0);
      std::vector<uint8_t> expect = v;
      std::rotate(expect.begin(), expect.begin() + a, expect.end());
      str::rotate_bytes(v.data(), a, b);
      EXPECT_EQ(v, expect) << a << " " << b;
    }
  }
}

TEST_F(StringStorage, LoadingFromOutsideBuffers) {
  const char* utf8 = "h\u00e9\u263A";
  Cell s;
  str::load_from_buffer(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8), s, str::ENC_UTF8);
  EXPECT_EQ(text(s), utf8);
  const uint8_t le[] = {'h', 0, 0x3A, 0x26, 0x3D, 0xD8, 0x00, 0xDE};
  str::load_from_buffer(le, 4, s, str::ENC_UTF16LE);
  EXPECT_EQ(text(s), "h\u263A\U0001F600");
  // An unsupported encoding is an error the caller can catch, not the end of the process.
  EXPECT_EQ(raised([&] { str::load_from_buffer(le, 4, s, 7); }), Err::script_invalid_arg);
  const uint8_t bad[] = {'o', 'k', 0xC3, 0x28};
  EXPECT_EQ(raised([&] { str::load_utf8_bytes(bad, 4); }), Err::access_invalid_utf8);
  Cell good = str::load_utf8_bytes(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8));
  EXPECT_EQ(text(good), utf8);
  // The wrappers: pushed on the argument stack, appended to a block.
  registry_init();
  stack::init();
  Cell* pushed = str::load_on_stack(reinterpret_cast<const uint8_t*>(utf8), std::strlen(utf8), str::ENC_UTF8);
  EXPECT_EQ(pushed, stack::top() - 1);
  EXPECT_EQ(text(*pushed), utf8);
  Cell* again = str::push(*pushed);
  EXPECT_EQ(again->node(), pushed->node());
  Cell b = block::make(1);
  str::load_into_block(le, 4, b, str::ENC_UTF16LE);
  EXPECT_EQ(text(*block::head_of(b)), "h\u263A\U0001F600");
  size_t unread = 0;
  EXPECT_DOUBLE_EQ(str::to_float(str::make_from_c_text("12.5e1x"), &unread), 125.0);
  EXPECT_EQ(unread, 1u);
}

TEST_F(StringStorage, HexHelpers) {
  EXPECT_STREQ(str::int_to_hex(-1, false), "FFFFFFFF");
  EXPECT_STREQ(str::int_to_hex(255, false), "000000FF");
  EXPECT_STREQ(str::int_to_hex(255, true), "FF");
  EXPECT_STREQ(str::int_to_hex(0, true), "00");
  EXPECT_STREQ(str::int_to_hex(0x1234, true), "1234");
  EXPECT_STREQ(str::byte_to_hex(0xAB), "AB");
  EXPECT_STREQ(str::byte_to_hex(7), "07");
}

TEST_F(StringStorage, StringOutKeepsTheUnitRules) {
  Cell s = str::make_string();
  str::StringOut out(s.node());
  out.append_ascii("[a ");
  EXPECT_EQ(unit(s), 1u);
  out.append_code_point(0x263A);
  out.append_ascii("]");
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(text(s), "[a \u263A]");
}

}  // namespace
}  // namespace zem
