// The pointer stack and the shared cell and text helpers.
#include "runtime/support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::raised;

class PointerStackTest : public ::testing::Test {
 protected:
  void SetUp() override { support_init(); }
};

TEST_F(PointerStackTest, PushPopDropContains) {
  ptrstack::push(7);
  ptrstack::push(9);
  EXPECT_TRUE(ptrstack::contains(7));
  EXPECT_TRUE(ptrstack::contains(9));
  EXPECT_FALSE(ptrstack::contains(8));
  ptrstack::pop();
  EXPECT_FALSE(ptrstack::contains(9));
  ptrstack::drop(5);  // more than there are
  EXPECT_EQ(ptrstack::depth(), 0u);
  ptrstack::pop();  // on an empty stack: nothing
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(PointerStackTest, ThousandthPushRaisesTooDeepAndEmpties) {
  for (uint32_t i = 1; i <= 999; i++) ptrstack::push(i);
  EXPECT_EQ(ptrstack::depth(), 999u);
  EXPECT_TRUE(ptrstack::contains(999));
  EXPECT_EQ(raised([] { ptrstack::push(1000); }), Err::internal_too_deep);
  EXPECT_EQ(ptrstack::depth(), 0u);
  EXPECT_FALSE(ptrstack::contains(1));
}

// A recursive walk with guards: the stack is back to where it was on every exit path.
void walk(uint32_t depth, uint32_t raise_at) {
  PointerStackGuard guard(depth + 1);
  if (depth + 1 == raise_at) fire(Err::math_overflow);
  if (depth < 5) walk(depth + 1, raise_at);
}

TEST_F(PointerStackTest, GuardReleasesOnEveryExit) {
  ptrstack::push(500);
  walk(0, 0);
  EXPECT_EQ(ptrstack::depth(), 1u);
  EXPECT_EQ(raised([] { walk(0, 4); }), Err::math_overflow);
  EXPECT_EQ(ptrstack::depth(), 1u);
  EXPECT_TRUE(ptrstack::contains(500));
  // An overflow inside guarded walks leaves the stack empty, not below empty.
  for (uint32_t i = 0; i < 997; i++) ptrstack::push(1000 + i);
  EXPECT_EQ(raised([] { walk(0, 0); }), Err::internal_too_deep);
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(PointerStackTest, CycleGuardMarkers) {
  struct Case {
    TypeId type;
    const char* mold;
  } cases[] = {
      {TYPE_BLOCK, "[...]"},
      {TYPE_HASH, "[...]"},
      {TYPE_PAREN, "(...)"},
      {TYPE_MAP, "#[...]"},
      {TYPE_OBJECT, "make object! [...]"},
      {TYPE_PATH, "..."},
      {TYPE_SET_PATH, "..."},
  };
  for (const Case& c : cases) {
    Cell v{};
    v.set_header(c.type);
    if (c.type == TYPE_OBJECT)
      v.set_object_context(42);
    else
      v.set_node(42);
    StdStringOut out;
    int32_t limit = 100;
    EXPECT_FALSE(mold_cycle_guard(v, out, limit, true));
    EXPECT_EQ(out.text(), "");
    PointerStackGuard inside(42);
    EXPECT_TRUE(mold_cycle_guard(v, out, limit, true));
    EXPECT_EQ(out.text(), c.mold);
    EXPECT_EQ(limit, 100 - static_cast<int32_t>(strlen(c.mold)));
    out.clear();
    EXPECT_TRUE(mold_cycle_guard(v, out, limit, false));
    EXPECT_EQ(out.text(), "...");
  }
}

TEST(Support, ReplicateBytes) {
  for (uint32_t n : {1u, 3u, 16u}) {
    for (uint32_t count : {0u, 1u, 2u, 5u, 8u, 33u}) {
      std::vector<uint8_t> buf(n * count + n + 1, 0xEE);
      for (uint32_t i = 0; i < n; i++) buf[i] = static_cast<uint8_t>(i + 1);
      uint8_t* end = replicate_bytes(buf.data(), n, count);
      EXPECT_EQ(end, buf.data() + (count ? n * count : 0)) << n << "x" << count;
      for (uint32_t i = 0; i < n * count; i++) ASSERT_EQ(buf[i], i % n + 1) << n << "x" << count;
      EXPECT_EQ(buf[std::max(n * count, n)], 0xEE);  // nothing written past the end
    }
  }
}

TEST(Support, MoldIndent) {
  StdStringOut out;
  EXPECT_EQ(mold_indent(out, 2, 50), 42);
  EXPECT_EQ(out.text(), "        ");
  EXPECT_EQ(mold_indent(out, 0, 50), 50);
}

TEST(Support, FloatToIntChecked) {
  struct Case {
    double d;
    int32_t result;
  } fits[] = {
      {2147483647.0, 2147483647}, {-2147483648.0, -2147483647 - 1}, {1.9, 1}, {-1.9, -1}, {-0.0, 0},
  };
  for (const Case& c : fits)
    EXPECT_EQ(float_to_int_checked(test::float_cell(c.d)), c.result) << c.d;
  for (double d : {2147483648.0, -2147483649.0, std::nan(""),
                   std::numeric_limits<double>::infinity(), 2147483647.5}) {
    Cell f = test::float_cell(d);
    EXPECT_EQ(raised([&] { float_to_int_checked(f); }), Err::script_out_of_range) << d;
    EXPECT_EQ(pending_exit().args[0].type(), TYPE_FLOAT);
  }
  EXPECT_EQ(float_to_int_checked(test::int_cell(-5)), -5);
}

TEST(Support, CellHelpers) {
  Cell c{};
  c.set_header(TYPE_BLOCK);
  c.set_new_line(true);
  constexpr uint32_t kOtherFlag = 1u << 12;  // any flag bit above the type byte
  c.set_flag(kOtherFlag, true);
  set_cell_type(c, TYPE_PAREN);
  EXPECT_TRUE(c.is(TYPE_PAREN));
  EXPECT_TRUE(c.new_line());
  EXPECT_TRUE(c.has_flag(kOtherFlag));
  clear_newline_flag(c);
  EXPECT_FALSE(c.new_line());

  Cell a = test::int_cell(3), b{};
  EXPECT_EQ(&copy_cell(a, b), &b);
  EXPECT_EQ(b.int_value(), 3);
  EXPECT_EQ(&copy_cell(a, a), &a);

  StdStringOut out;
  for (uint32_t cp : {0x41u, 0xE9u, 0x20ACu, 0x1F600u}) out.append_code_point(cp);
  EXPECT_EQ(out.text(), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace zem
