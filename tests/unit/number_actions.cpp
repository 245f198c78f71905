// The action handlers of integer!, float! and char! called through the registry: result types,
// the errors they raise, conversions, comparison codes and the text forms.
#include <gtest/gtest.h>

#include <cmath>

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/startup.h"
#include "services/random.h"
#include "tests/unit/support_values.h"
#include "tests/unit/value_cells.h"

namespace zem {
namespace {

using test::float_cell;
using test::Frame;
using test::int_cell;
using test::raised;

Cell typed_float(double d, TypeId t) {
  Cell c = make_float(d);
  c.set_type(t);
  return c;
}

Cell run(ActionIndex a, Cell left, Cell right) {
  Frame f(a, {left, right});
  return f.run();
}

Err error_of(ActionIndex a, Cell left, Cell right) {
  return raised([&] { run(a, left, right); });
}

// Runs round with the given refinements (spec order: /to /even /down /half-down /floor /ceiling
// /half-ceiling); a scale makes /to present.
Cell round_with(Cell value, const Cell* scale, std::initializer_list<int> refinements) {
  Frame f(ActionIndex::round, {value});
  int32_t refs[7] = {-1, -1, -1, -1, -1, -1, -1};
  if (scale) {
    f.cells.push_back(*scale);
    f.call.args = f.cells.data();
    f.call.arg_count = 2;
    refs[0] = 1;
  }
  for (int r : refinements) refs[r] = 0;  // flags: any index marks presence
  f.call.refinements = refs;
  f.call.refinement_count = 7;
  return f.run();
}

class NumberActions : public testing::RuntimeTest<StartLayer::datatypes> {};

TEST_F(NumberActions, IntegerArithmeticResultTypes) {
  struct Case { ActionIndex a; Cell l, r; TypeId type; double value; } cases[] = {
      {ActionIndex::add, int_cell(2147483647), int_cell(1), TYPE_FLOAT, 2147483648.0},
      {ActionIndex::subtract, int_cell(INT32_MIN), int_cell(1), TYPE_FLOAT, -2147483649.0},
      {ActionIndex::multiply, int_cell(65536), int_cell(65536), TYPE_FLOAT, 4294967296.0},
      {ActionIndex::divide, int_cell(7), int_cell(2), TYPE_FLOAT, 3.5},
      {ActionIndex::divide, int_cell(-6), int_cell(3), TYPE_INTEGER, -2},
      {ActionIndex::remainder, int_cell(-7), int_cell(2), TYPE_INTEGER, -1},
      {ActionIndex::add, int_cell(1), make_char('A'), TYPE_INTEGER, 66},
      {ActionIndex::add, int_cell(1), float_cell(2.5), TYPE_FLOAT, 3.5},
      {ActionIndex::multiply, int_cell(3), typed_float(60, TYPE_TIME), TYPE_TIME, 180},
      {ActionIndex::add, int_cell(1), typed_float(0.5, TYPE_PERCENT), TYPE_FLOAT, 1.5},
      {ActionIndex::power, int_cell(2), int_cell(31), TYPE_FLOAT, 2147483648.0},
      {ActionIndex::power, int_cell(2), int_cell(30), TYPE_INTEGER, 1073741824},
      {ActionIndex::power, int_cell(2), int_cell(-1), TYPE_FLOAT, 0.5},
      {ActionIndex::power, int_cell(-2), int_cell(3), TYPE_INTEGER, -8},
      {ActionIndex::power, int_cell(4), float_cell(0.5), TYPE_FLOAT, 2.0},
      {ActionIndex::and_t, int_cell(12), int_cell(10), TYPE_INTEGER, 8},
  };
  for (const auto& c : cases) {
    Cell r = run(c.a, c.l, c.r);
    ASSERT_EQ(r.type(), c.type) << int(c.a) << " " << c.value;
    EXPECT_EQ(r.type() == TYPE_INTEGER ? r.int_value() : r.float_value(), c.value);
  }
}

TEST_F(NumberActions, IntegerErrors) {
  EXPECT_EQ(error_of(ActionIndex::divide, int_cell(1), int_cell(0)), Err::math_zero_divide);
  EXPECT_EQ(error_of(ActionIndex::remainder, int_cell(1), int_cell(0)), Err::math_zero_divide);
  EXPECT_EQ(error_of(ActionIndex::divide, int_cell(INT32_MIN), int_cell(-1)), Err::math_overflow);
  EXPECT_EQ(error_of(ActionIndex::add, int_cell(1), make_none()), Err::script_invalid_type);
  EXPECT_EQ(error_of(ActionIndex::power, int_cell(2), make_none()), Err::script_expect_arg);
  EXPECT_EQ(raised([] { Frame(ActionIndex::negate, {int_cell(INT32_MIN)}).run(); }), Err::math_overflow);
  EXPECT_EQ(raised([] { Frame(ActionIndex::absolute, {int_cell(INT32_MIN)}).run(); }), Err::math_overflow);
  const Cell tuple = test::typed_cell(TYPE_TUPLE), pair = test::typed_cell(TYPE_PAIR),
             date = test::typed_cell(TYPE_DATE);
  EXPECT_EQ(error_of(ActionIndex::subtract, int_cell(1), tuple), Err::script_not_related);
  EXPECT_EQ(error_of(ActionIndex::divide, int_cell(1), pair), Err::script_not_related);
  EXPECT_EQ(error_of(ActionIndex::multiply, int_cell(1), date), Err::script_not_related);
  EXPECT_EQ(error_of(ActionIndex::subtract, float_cell(1), pair), Err::script_not_related);
  EXPECT_EQ(error_of(ActionIndex::add, typed_float(1, TYPE_TIME), pair), Err::script_invalid_type);
  EXPECT_EQ(Frame(ActionIndex::absolute, {int_cell(-5)}).run().int_value(), 5);
  EXPECT_EQ(Frame(ActionIndex::negate, {int_cell(5)}).run().int_value(), -5);
  EXPECT_EQ(Frame(ActionIndex::complement, {int_cell(0)}).run().int_value(), -1);
}

TEST_F(NumberActions, IntegerRound) {
  Cell ten = int_cell(10), minus_ten = int_cell(-10), two_and_half = float_cell(2.5);
  EXPECT_EQ(round_with(int_cell(2147483647), &ten, {4}).int_value(), 2147483640);  // /floor
  EXPECT_EQ(round_with(int_cell(-2147483647), &ten, {5}).int_value(), -2147483640);  // /ceiling
  EXPECT_EQ(round_with(int_cell(INT32_MIN), &ten, {2}).int_value(), -2147483640);  // /down
  EXPECT_EQ(round_with(int_cell(-15), &minus_ten, {}).int_value(), -20);
  EXPECT_EQ(round_with(int_cell(INT32_MIN), nullptr, {}).int_value(), INT32_MIN);
  EXPECT_EQ(raised([&] { round_with(int_cell(2147483647), &ten, {}); }), Err::math_overflow);
  Cell r = round_with(int_cell(1234), &two_and_half, {});  // a float scale rounds as float
  EXPECT_TRUE(r.is(TYPE_FLOAT));
  EXPECT_EQ(r.float_value(), 1235.0);
}

TEST_F(NumberActions, IntegerConversions) {
  auto to_int = [](Cell spec) { return Frame(ActionIndex::to, {datatype_cell(TYPE_INTEGER), spec}).run(TYPE_INTEGER); };
  EXPECT_EQ(to_int(make_char('A')).int_value(), 65);
  EXPECT_EQ(to_int(float_cell(-0.9)).int_value(), 0);
  EXPECT_EQ(to_int(float_cell(-2147483648.0)).int_value(), INT32_MIN);
  EXPECT_EQ(to_int(typed_float(0.999, TYPE_PERCENT)).int_value(), 0);
  EXPECT_EQ(to_int(typed_float(89.6, TYPE_TIME)).int_value(), 90);
  EXPECT_EQ(raised([&] { to_int(float_cell(2147483647.9)); }), Err::script_type_limit);
  EXPECT_EQ(raised([&] { to_int(float_cell(NAN)); }), Err::script_type_limit);
  EXPECT_EQ(raised([&] { to_int(typed_float(3e9, TYPE_TIME)); }), Err::script_type_limit);
  EXPECT_EQ(raised([&] { to_int(make_none()); }), Err::script_bad_to_arg);
  Cell i = to_int(int_cell(7));
  EXPECT_TRUE(i.is(TYPE_INTEGER));
  EXPECT_EQ(Frame(ActionIndex::make, {datatype_cell(TYPE_INTEGER), make_logic(true)}).run(TYPE_INTEGER).int_value(), 1);
  EXPECT_EQ(Frame(ActionIndex::make, {datatype_cell(TYPE_INTEGER), make_logic(false)}).run(TYPE_INTEGER).int_value(), 0);
}

TEST_F(NumberActions, Compare) {
  CompareHandler ic = compare_handler(TYPE_INTEGER), fc = compare_handler(TYPE_FLOAT),
                 cc = compare_handler(TYPE_CHAR);
  EXPECT_EQ(ic(int_cell(65), make_char('A'), COMP_EQUAL), 0);
  EXPECT_EQ(ic(int_cell(65), make_char('A'), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(ic(int_cell(1), float_cell(1.0), COMP_EQUAL), 0);
  EXPECT_EQ(ic(int_cell(1), float_cell(1.0), COMP_FIND), 1);
  EXPECT_EQ(ic(int_cell(1), float_cell(2.0), COMP_LESSER), -1);
  EXPECT_EQ(ic(int_cell(1), make_none(), COMP_LESSER), kCannotCompare);
  EXPECT_EQ(fc(float_cell(0.1 + 0.2), float_cell(0.3), COMP_EQUAL), 0);
  EXPECT_EQ(fc(float_cell(0.1 + 0.2), float_cell(0.3), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(fc(float_cell(1.0), int_cell(1), COMP_EQUAL), 0);
  EXPECT_EQ(fc(float_cell(1.0), int_cell(1), COMP_SAME), 1);
  EXPECT_EQ(fc(float_cell(NAN), float_cell(NAN), COMP_FIND), 1);
  EXPECT_EQ(fc(float_cell(NAN), float_cell(1.0), COMP_LESSER), 1);
  EXPECT_EQ(cc(make_char('a'), make_char('A'), COMP_EQUAL), 1);
  EXPECT_EQ(cc(make_char('A'), int_cell(65), COMP_EQUAL), 0);
  EXPECT_EQ(cc(make_char('A'), int_cell(65), COMP_STRICT_EQUAL), 1);
  EXPECT_EQ(cc(make_char('A'), float_cell(65), COMP_EQUAL), kCannotCompare);
}

TEST_F(NumberActions, FloatArithmeticResultTypes) {
  struct Case { ActionIndex a; Cell l, r; TypeId type; double value; } cases[] = {
      {ActionIndex::add, typed_float(0.1, TYPE_PERCENT), float_cell(0.5), TYPE_PERCENT, 0.6},
      {ActionIndex::add, float_cell(0.5), typed_float(0.1, TYPE_PERCENT), TYPE_FLOAT, 0.6},
      {ActionIndex::add, typed_float(0.1, TYPE_PERCENT), typed_float(0.2, TYPE_PERCENT), TYPE_PERCENT,
       0.1 + 0.2},
      {ActionIndex::multiply, typed_float(3600, TYPE_TIME), int_cell(2), TYPE_TIME, 7200},
      {ActionIndex::add, typed_float(60, TYPE_TIME), typed_float(60, TYPE_TIME), TYPE_TIME, 120},
      {ActionIndex::add, float_cell(1.5), make_char('A'), TYPE_FLOAT, 66.5},
      {ActionIndex::divide, float_cell(1.0), float_cell(0.0), TYPE_FLOAT, INFINITY},
      {ActionIndex::remainder, float_cell(5.0), float_cell(INFINITY), TYPE_FLOAT, 5.0},
      {ActionIndex::power, float_cell(2.0), int_cell(10), TYPE_FLOAT, 1024},
  };
  for (const auto& c : cases) {
    Cell r = run(c.a, c.l, c.r);
    ASSERT_EQ(r.type(), c.type) << int(c.a) << " " << c.value;
    EXPECT_EQ(r.float_value(), c.value);
  }
  EXPECT_EQ(error_of(ActionIndex::add, typed_float(0.1, TYPE_PERCENT), make_char('A')), Err::script_invalid_type);
  EXPECT_EQ(error_of(ActionIndex::xor_t, float_cell(1.0), float_cell(2.0)), Err{});  // no xor~ for floats
  EXPECT_EQ(action_handler(TYPE_FLOAT, ActionIndex::xor_t), nullptr);
  EXPECT_EQ(error_of(ActionIndex::add, float_cell(1.0), make_none()), Err::script_invalid_type);
  Cell neg = Frame(ActionIndex::negate, {float_cell(0.0)}).run();
  EXPECT_FALSE(std::signbit(neg.float_value()));
  Cell abs = Frame(ActionIndex::absolute, {float_cell(-0.0)}).run();
  EXPECT_FALSE(std::signbit(abs.float_value()));
}

TEST_F(NumberActions, FloatRoundAndParity) {
  Cell hundred = int_cell(100), cent = float_cell(0.01);
  Cell r = round_with(float_cell(1234.5), &hundred, {});
  EXPECT_TRUE(r.is(TYPE_INTEGER));
  EXPECT_EQ(r.int_value(), 1200);
  r = round_with(float_cell(1.234), &cent, {});
  EXPECT_TRUE(r.is(TYPE_FLOAT));
  EXPECT_EQ(r.float_value(), 1.23);
  r = round_with(typed_float(0.125, TYPE_PERCENT), nullptr, {});
  EXPECT_TRUE(r.is(TYPE_PERCENT));
  EXPECT_EQ(r.float_value(), 0.13);
  EXPECT_EQ(round_with(float_cell(-2.5), nullptr, {6}).float_value(), -2.0);
  EXPECT_EQ(round_with(float_cell(2.5), nullptr, {1}).float_value(), 2.0);
  Cell big = float_cell(1e308);
  // An integer! scale makes the result an integer!, which 5e10 cannot be.
  EXPECT_EQ(raised([&] { round_with(float_cell(5e10), &hundred, {}); }), Err::script_type_limit);
  // A scale below the value's precision leaves the value as it is, float! whatever the scale.
  r = round_with(float_cell(5e300), &hundred, {});
  EXPECT_TRUE(r.is(TYPE_FLOAT));
  EXPECT_EQ(r.float_value(), 5e300);
  EXPECT_EQ(raised([&] { round_with(float_cell(1.7e308), &big, {}); }), Err::math_overflow);

  EXPECT_TRUE(Frame(ActionIndex::even_q, {float_cell(4.9)}).run().logic_value());
  EXPECT_TRUE(Frame(ActionIndex::odd_q, {float_cell(-3.2)}).run().logic_value());
  EXPECT_EQ(raised([] { Frame(ActionIndex::even_q, {float_cell(3e9)}).run(); }), Err::script_type_limit);
}

TEST_F(NumberActions, FloatConversions) {
  auto make = [](TypeId t, Cell spec) { return Frame(ActionIndex::make, {datatype_cell(t), spec}).run(t); };
  Cell f = make(TYPE_FLOAT, typed_float(0.1, TYPE_PERCENT));
  EXPECT_TRUE(f.is(TYPE_FLOAT));
  EXPECT_EQ(f.float_value(), 0.1);
  f = make(TYPE_FLOAT, int_cell(-3));
  EXPECT_EQ(f.float_value(), -3.0);
  f = make(TYPE_FLOAT, typed_float(90.5, TYPE_TIME));
  EXPECT_EQ(f.float_value(), 90.5);
  EXPECT_EQ(raised([&] { make(TYPE_FLOAT, make_none()); }), Err::script_bad_to_arg);
}

TEST_F(NumberActions, TextForms) {
  EXPECT_EQ(test::form_text(int_cell(INT32_MIN)), "-2147483648");
  EXPECT_EQ(test::mold_text(int_cell(0)), "0");
  EXPECT_EQ(test::form_text(float_cell(0.1 + 0.2)), "0.3");
  EXPECT_EQ(test::mold_text(float_cell(0.1 + 0.2)), "0.30000000000000004");
  EXPECT_EQ(test::mold_text(float_cell(1e20)), "1.0e20");
  EXPECT_EQ(test::mold_text(float_cell(100.0)), "100.0");
  EXPECT_EQ(test::mold_text(float_cell(-0.0)), "-0.0");
  EXPECT_EQ(test::form_text(float_cell(-INFINITY)), "-1.#INF");
  int32_t left = 0;
  EXPECT_EQ(test::mold_text(make_char('\t'), {}, &left), "#\"^-\"");
  EXPECT_EQ(left, kNoLimit - 4);
  EXPECT_EQ(test::form_text(make_char(0xE9), &left), "\xC3\xA9");
  EXPECT_EQ(left, kNoLimit - 1);
  MoldFlags all;
  all.all = true;
  EXPECT_EQ(test::mold_text(make_char(0xE9), all), "#\"^(E9)\"");
}

TEST_F(NumberActions, CharArithmeticAndConversions) {
  Cell r = run(ActionIndex::add, make_char('a'), int_cell(1));
  EXPECT_TRUE(r.is(TYPE_CHAR));
  EXPECT_EQ(r.char_value(), uint32_t('b'));
  EXPECT_EQ(run(ActionIndex::subtract, make_char('b'), make_char('a')).char_value(), 1u);
  EXPECT_EQ(run(ActionIndex::divide, make_char('d'), int_cell(2)).char_value(), 50u);
  EXPECT_EQ(run(ActionIndex::add, make_char('a'), float_cell(1.9)).char_value(), uint32_t('b'));
  EXPECT_EQ(error_of(ActionIndex::subtract, make_char('a'), int_cell(98)), Err::math_overflow);
  EXPECT_EQ(error_of(ActionIndex::add, make_char(kCharMax), int_cell(1)), Err::math_overflow);
  EXPECT_EQ(error_of(ActionIndex::divide, make_char('a'), int_cell(0)), Err::math_zero_divide);
  EXPECT_EQ(error_of(ActionIndex::add, make_char('a'), float_cell(1e10)), Err::script_type_limit);
  EXPECT_EQ(error_of(ActionIndex::add, make_char('a'), make_none()), Err::script_invalid_type);
  for (ActionIndex a : {ActionIndex::negate, ActionIndex::power, ActionIndex::round, ActionIndex::complement})
    EXPECT_EQ(action_handler(TYPE_CHAR, a), nullptr) << int(a);
  EXPECT_TRUE(Frame(ActionIndex::even_q, {make_char('b')}).run().logic_value());  // inherited

  auto to_char = [](Cell spec) { return Frame(ActionIndex::to, {datatype_cell(TYPE_CHAR), spec}).run(TYPE_CHAR); };
  EXPECT_EQ(to_char(int_cell(0x10FFFF)).char_value(), 0x10FFFFu);
  EXPECT_EQ(to_char(float_cell(65.7)).char_value(), 65u);
  EXPECT_EQ(raised([&] { to_char(int_cell(0x110000)); }), Err::script_out_of_range);
  EXPECT_EQ(raised([&] { to_char(int_cell(-1)); }), Err::script_out_of_range);
  EXPECT_EQ(raised([&] { to_char(float_cell(1e20)); }), Err::script_out_of_range);
  EXPECT_EQ(raised([&] { to_char(make_none()); }), Err::script_bad_to_arg);
}

TEST_F(NumberActions, Random) {
  EXPECT_EQ(Frame(ActionIndex::random, {int_cell(0)}).run().int_value(), 0);
  for (int i = 0; i < 200; i++) {
    int32_t v = Frame(ActionIndex::random, {int_cell(-5)}).run().int_value();
    EXPECT_TRUE(v >= -5 && v <= -1) << v;
    Cell c = Frame(ActionIndex::random, {make_char('z')}).run();
    EXPECT_TRUE(c.is(TYPE_CHAR));
    EXPECT_TRUE(c.char_value() >= 1 && c.char_value() <= 'z') << c.char_value();
    double d = Frame(ActionIndex::random, {float_cell(2.0)}).run().float_value();
    EXPECT_TRUE(d >= 0.0 && d <= 2.0) << d;
  }
}

class NumberConversions : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::words);
  }
  static Cell convert(ActionIndex a, TypeId t, Cell spec) { return Frame(a, {datatype_cell(t), spec}).run(t); }
};

TEST_F(NumberConversions, IntegerFromTextBinaryAndIssue) {
  using test::string_cell;
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, string_cell(U"1'000")).int_value(), 1000);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, string_cell(U"-2147483648")).int_value(), INT32_MIN);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, string_cell(U"12", TYPE_FILE)).int_value(), 12);
  for (const char32_t* bad : {U"2147483648", U" 1", U"1.0", U"", U"\uFF11"})
    EXPECT_EQ(raised([&] { convert(ActionIndex::to, TYPE_INTEGER, string_cell(bad)); }), Err::script_bad_to_arg);
  Cell head_moved = string_cell(U"x42");
  head_moved.set_head_index(1);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, head_moved).int_value(), 42);

  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, test::binary_cell({1, 2})).int_value(), 258);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, test::binary_cell({})).int_value(), 0);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_INTEGER, test::word_cell("FF", TYPE_ISSUE)).int_value(), 255);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_INTEGER, test::word_cell("123456789", TYPE_ISSUE)); }),
            Err::script_invalid_data);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_INTEGER, test::word_cell("xyz", TYPE_ISSUE)); }),
            Err::script_invalid_data);
}

TEST_F(NumberConversions, FloatFromTextBinaryAndBlock) {
  using test::string_cell;
  EXPECT_EQ(convert(ActionIndex::to, TYPE_FLOAT, string_cell(U"1,5")).float_value(), 1.5);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_FLOAT, string_cell(U"1e400")).float_value(), INFINITY);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_FLOAT, string_cell(U"")); }), Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_FLOAT, string_cell(U"--1")); }), Err::script_bad_to_arg);
  Cell p = convert(ActionIndex::to, TYPE_PERCENT, string_cell(U"50%"));
  EXPECT_TRUE(p.is(TYPE_PERCENT));
  EXPECT_EQ(p.float_value(), 0.5);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_PERCENT, string_cell(U"7")).float_value(), 7.0);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_PERCENT, string_cell(U"0.25")).float_value(), 0.25);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_PERCENT, string_cell(U"%")); }), Err::script_bad_to_arg);

  EXPECT_EQ(convert(ActionIndex::to, TYPE_FLOAT, test::binary_cell({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})).float_value(), 1.0);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_FLOAT, test::binary_cell({0x01})).float_value(), 5e-324);
  EXPECT_EQ(convert(ActionIndex::make, TYPE_FLOAT, test::block_of({float_cell(1.5), int_cell(3)})).float_value(), 1500.0);
  EXPECT_EQ(raised([] { convert(ActionIndex::make, TYPE_FLOAT, test::block_of({int_cell(1)})); }),
            Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { convert(ActionIndex::make, TYPE_FLOAT, test::block_of({int_cell(1), make_none()})); }),
            Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { convert(ActionIndex::make, TYPE_FLOAT, test::block_of({int_cell(1), float_cell(1e10)})); }),
            Err::script_type_limit);
}

TEST_F(NumberConversions, CharFromTextAndBinary) {
  using test::string_cell;
  EXPECT_EQ(convert(ActionIndex::to, TYPE_CHAR, string_cell(U"abc")).char_value(), uint32_t('a'));
  EXPECT_EQ(convert(ActionIndex::to, TYPE_CHAR, string_cell(U"\U0001F600")).char_value(), 0x1F600u);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_CHAR, string_cell(U"")); }), Err::script_bad_to_arg);
  EXPECT_EQ(convert(ActionIndex::to, TYPE_CHAR, test::binary_cell({0xC3, 0xA9})).char_value(), 0xE9u);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_CHAR, test::binary_cell({})); }), Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_CHAR, test::binary_cell({0xC3})); }), Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { convert(ActionIndex::to, TYPE_CHAR, test::binary_cell({0xFF})); }), Err::access_invalid_utf8);
}

}  // namespace
}  // namespace zem
