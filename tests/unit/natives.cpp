// The natives table and calling convention, argument checks, and the natives that need no
// evaluation (comparison, math, value inspection) called as compiled code calls them.
#include "datatypes/integer.h"
#include "evaluator/natives.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/stack.h"
#include "runtime/casefold.h"
#include "runtime/hashtab.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::float_cell;
using test::int_cell;

class NativesTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
  }

  // Calls native `index` with the check flag set, as compiled code does: `args` are the frame's
  // cells, `refs` one integer per refinement. Answers slot 0.
  Cell call(uint32_t index, std::vector<Cell> args, std::vector<int32_t> refs = {}) {
    refs.resize(natives::spec(index).refinements.size(), -1);
    stack::push_native_frame(make_word_cell(symbol::intern(natives::spec(index).word), 0));
    for (const Cell& a : args) stack::push_value(a);
    uint32_t code = natives::entry(index)(1, refs.data());
    EXPECT_EQ(code, EXIT_NONE);
    Cell result = *stack::base();
    stack::pop_frame_discard();
    return result;
  }
  Err call_error(uint32_t index, std::vector<Cell> args, std::vector<int32_t> refs = {}) {
    stack::Mark m = stack::mark();
    Err e = test::raised([&] { call(index, args, refs); });
    stack::restore(m);
    return e;
  }
  double float_of(uint32_t index, std::vector<Cell> args, std::vector<int32_t> refs = {}) {
    Cell c = call(index, args, refs);
    EXPECT_TRUE(c.is(TYPE_FLOAT));
    return c.float_value();
  }
};

TEST_F(NativesTest, TableIsFilledInListOrder) {
  EXPECT_EQ(natives::fill_index(), 108u);
  EXPECT_EQ(natives::spec(1).word, "if");
  EXPECT_EQ(natives::spec(107).word, "apply");
  EXPECT_EQ(natives::find("debase"), 84u);
  EXPECT_EQ(natives::find("sign?"), 97u);
  EXPECT_EQ(natives::find("zero?"), 100u);
  EXPECT_EQ(natives::find("nope"), 0u);
  EXPECT_NE(natives::entry(107), nullptr);
  EXPECT_EQ(natives::entry(108), nullptr);
  EXPECT_EQ(natives::entry(120), nullptr);
  EXPECT_EQ(natives::entry(0), nullptr);
  EXPECT_EQ(natives::entry(121), nullptr);
}

TEST_F(NativesTest, SpecsGiveArgumentsAndRefinementsInOrder) {
  const NativeSpec& d = natives::spec(NATIVE_do);
  EXPECT_EQ(d.plain_args, 1u);
  ASSERT_EQ(d.refinements.size(), 4u);
  EXPECT_EQ(d.refinements[1].name, "args");
  EXPECT_EQ(d.refinements[1].first_arg, 1u);
  EXPECT_EQ(d.refinements[2].name, "next");
  EXPECT_EQ(d.refinements[2].first_arg, 2u);
  EXPECT_EQ(d.refinements[0].arg_count, 0u);
  // An argument without a typeset takes anything but unset!.
  EXPECT_TRUE(typeset_has(d.args[1].types, TYPE_BLOCK));
  EXPECT_FALSE(typeset_has(d.args[1].types, TYPE_UNSET));
  EXPECT_TRUE(typeset_has(d.args[0].types, TYPE_UNSET));  // any-type!
  const NativeSpec& rep = natives::spec(NATIVE_repeat);
  EXPECT_TRUE(rep.args[0].literal);
  EXPECT_FALSE(rep.args[1].literal);
  // Typeset words expand to their members.
  const NativeSpec& ins = natives::spec(NATIVE_in);
  EXPECT_TRUE(typeset_has(ins.args[0].types, TYPE_PORT));
  EXPECT_TRUE(typeset_has(ins.args[0].types, TYPE_ROUTINE));
  EXPECT_FALSE(typeset_has(ins.args[0].types, TYPE_BLOCK));
  EXPECT_TRUE(typeset_has(natives::spec(NATIVE_max).args[0].types, TYPE_DATE));
}

TEST_F(NativesTest, CheckFlagRaisesExpectArgForPlainAndRefinementArguments) {
  EXPECT_EQ(call_error(NATIVE_shift, {float_cell(1.0), make_integer(1)}), Err::script_expect_arg);
  EXPECT_EQ(call_error(NATIVE_shift, {make_integer(1), make_none()}), Err::script_expect_arg);
  // new-line/skip: the refinement's argument sits at the index passed for it.
  Cell blk = block::make(4);
  EXPECT_EQ(call_error(NATIVE_new_line, {blk, make_logic(true), make_none()}, {-1, 2}),
            Err::script_expect_arg);
  EXPECT_EQ(pending_exit().args[0].word_symbol(), symbol::intern("new-line"));
  EXPECT_EQ(pending_exit().args[1].datatype_id(), TYPE_NONE);
  EXPECT_EQ(pending_exit().args[2].word_symbol(), symbol::intern("size"));
  // Natives waiting for their datatypes say so.
  EXPECT_EQ(call_error(NATIVE_as_money, {make_none(), make_integer(1)}), Err::script_expect_arg);
}

TEST_F(NativesTest, ValueNatives) {
  EXPECT_TRUE(logic_flag(call(NATIVE_not, {make_none()})));
  EXPECT_TRUE(logic_flag(call(NATIVE_not, {make_logic(false)})));
  EXPECT_FALSE(logic_flag(call(NATIVE_not, {make_integer(0)})));
  EXPECT_FALSE(logic_flag(call(NATIVE_not, {make_unset()})));
  Cell t = call(NATIVE_type_q, {make_integer(1)});
  EXPECT_TRUE(t.is(TYPE_DATATYPE));
  EXPECT_EQ(t.datatype_id(), TYPE_INTEGER);

  Cell blk = block::make(4);
  EXPECT_TRUE(logic_flag(call(NATIVE_same_q, {blk, blk})));
  EXPECT_FALSE(logic_flag(call(NATIVE_same_q, {blk, block::make(4)})));
  EXPECT_FALSE(logic_flag(call(NATIVE_same_q, {make_integer(1), float_cell(1.0)})));
  EXPECT_TRUE(logic_flag(call(NATIVE_same_q, {make_none(), make_none()})));
  // Words: binding and symbol; the index cache does not matter.
  Cell w1 = make_word_cell(5, 7), w2 = make_word_cell(5, 7), w3 = make_word_cell(5, 8);
  w2.set_word_index(3);
  EXPECT_TRUE(logic_flag(call(NATIVE_same_q, {w1, w2})));
  EXPECT_FALSE(logic_flag(call(NATIVE_same_q, {w1, w3})));
}

TEST_F(NativesTest, NewLineMarkers) {
  Cell blk = block::make(4);
  for (int i = 1; i <= 4; ++i) block::append_cell(blk, make_integer(i));
  auto marks = [&] {
    std::string s;
    for (uint32_t i = 0; i < 4; ++i) s += block::cell_at_index(blk, i)->new_line() ? '1' : '0';
    return s;
  };
  call(NATIVE_new_line, {blk, make_logic(true), make_integer(2)}, {-1, 2});
  EXPECT_EQ(marks(), "1010");
  call(NATIVE_new_line, {blk, make_logic(false), make_integer(2)}, {-1, 2});
  EXPECT_EQ(marks(), "0101");
  call(NATIVE_new_line, {blk, make_logic(true)}, {0, -1});
  EXPECT_EQ(marks(), "1111");
  Cell second = blk;
  second.set_head_index(1);
  call(NATIVE_new_line, {second, make_logic(false)});
  EXPECT_EQ(marks(), "1011");
  EXPECT_FALSE(logic_flag(call(NATIVE_new_line_q, {second})));
  EXPECT_TRUE(logic_flag(call(NATIVE_new_line_q, {blk})));
  EXPECT_EQ(call_error(NATIVE_new_line, {blk, make_logic(true), make_integer(0)}, {-1, 2}),
            Err::script_out_of_range);
  Cell tail = blk;
  tail.set_head_index(4);
  EXPECT_FALSE(logic_flag(call(NATIVE_new_line_q, {tail})));
  call(NATIVE_new_line, {tail, make_logic(true)});  // nothing at the tail to mark
}

TEST_F(NativesTest, SignsAndShifts) {
  struct Case {
    Cell value;
    int32_t sign;
  } cases[] = {{make_integer(-3), -1}, {make_integer(0), 0}, {make_integer(9), 1},
               {float_cell(-0.5), -1}, {float_cell(0.0), 0}, {float_cell(2.0), 1}};
  for (const Case& c : cases) {
    EXPECT_EQ(call(NATIVE_sign_q, {c.value}).int_value(), c.sign);
    EXPECT_EQ(logic_flag(call(NATIVE_negative_q, {c.value})), c.sign < 0);
    EXPECT_EQ(logic_flag(call(NATIVE_positive_q, {c.value})), c.sign > 0);
    EXPECT_EQ(logic_flag(call(NATIVE_zero_q, {c.value})), c.sign == 0);
  }
  Cell ch{};
  ch.set_header(TYPE_CHAR);
  EXPECT_TRUE(logic_flag(call(NATIVE_zero_q, {ch})));

  struct Shift {
    int32_t data, bits;
    int32_t left, logical;  // refinement integers
    int32_t result;
  } shifts[] = {
      {-8, 40, -1, -1, -1},  {-8, 40, -1, 2, 0},      {1, 31, 2, -1, INT32_MIN},
      {-8, 1, -1, -1, -4},   {-8, 28, -1, 2, 15},     {5, -3, -1, -1, 5},
      {1, 32, 2, -1, 0},     {7, 40, -1, -1, 0},
  };
  for (const Shift& s : shifts) {
    EXPECT_EQ(call(NATIVE_shift, {make_integer(s.data), make_integer(s.bits)}, {s.left, s.logical})
                  .int_value(),
              s.result)
        << s.data << " " << s.bits;
  }
}

TEST_F(NativesTest, TrigonometryInDegreesAgreesWithTheCLibrary) {
  // Expected values: python3 math.sin/cos/tan(math.radians(a)).
  struct Case {
    double degrees, sin, cos, tan;
  } cases[] = {
      {135, 0.7071067811865476, -0.7071067811865475, -1.0000000000000002},
      {-135, -0.7071067811865476, -0.7071067811865475, 1.0000000000000002},
      {225, -0.7071067811865475, -0.7071067811865477, 0.9999999999999997},
      {450, 1.0, 3.061616997868383e-16, 3266247870639074.0},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(float_of(NATIVE_sine, {float_cell(c.degrees)}), c.sin, 1e-15) << c.degrees;
    EXPECT_NEAR(float_of(NATIVE_cosine, {float_cell(c.degrees)}), c.cos, 1e-15) << c.degrees;
    double t = float_of(NATIVE_tangent, {float_cell(c.degrees)});
    if (std::fabs(c.tan) > 1e10) {
      EXPECT_TRUE(std::isinf(t) && t > 0) << c.degrees;  // exactly a quarter turn
    } else {
      EXPECT_NEAR(t, c.tan, 1e-15) << c.degrees;
    }
  }
  EXPECT_EQ(float_of(NATIVE_sine, {make_integer(180)}), 0.0);
  EXPECT_EQ(float_of(NATIVE_cosine, {make_integer(90)}), 0.0);
  EXPECT_EQ(float_of(NATIVE_tangent, {make_integer(-90)}), -INFINITY);
  EXPECT_EQ(float_of(NATIVE_sine, {float_cell(M_PI / 2)}, {0}), 1.0);
  EXPECT_EQ(float_of(NATIVE_arctangent2, {make_integer(1), make_integer(0)}), 90.0);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_arcsine, {make_integer(1)}), 90.0);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_arccosine, {make_integer(-1)}, {0}), M_PI);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_arctangent, {make_integer(1)}), 45.0);
}

TEST_F(NativesTest, LogarithmsRootsAndNaN) {
  EXPECT_DOUBLE_EQ(float_of(NATIVE_log_2, {make_integer(1024)}), 10.0);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_log_10, {float_cell(1000.0)}), 3.0);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_log_e, {make_integer(1)}), 0.0);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_exp, {make_integer(1)}), 2.718281828459045);
  EXPECT_DOUBLE_EQ(float_of(NATIVE_square_root, {make_integer(16)}), 4.0);
  double nan = float_of(NATIVE_square_root, {make_integer(-1)});
  EXPECT_TRUE(std::isnan(nan));
  EXPECT_EQ(float_of(NATIVE_log_e, {make_integer(0)}), -INFINITY);
  EXPECT_TRUE(logic_flag(call(NATIVE_nan_q, {float_cell(nan)})));
  EXPECT_FALSE(logic_flag(call(NATIVE_nan_q, {make_integer(0)})));
  // max and min let a NaN win over numbers.
  EXPECT_TRUE(std::isnan(float_of(NATIVE_max, {make_integer(1), float_cell(nan)})));
  EXPECT_TRUE(std::isnan(float_of(NATIVE_min, {float_cell(nan), make_integer(1)})));
}

// Bitsets and typesets have no literal form the scripts could write without `make`.
TEST_F(NativesTest, SetNativesOnBitsetsAndTypesets) {
  auto bits = [](uint32_t low, uint32_t high) {
    Cell b = make_bitset(bits_bytes_for(high), 0, false);
    bits_set_range(bitset_bits(b), low, high, true);
    return b;
  };
  Cell ab = bits(1, 2), bc = bits(2, 3);
  auto members = [](const Cell& b) {
    std::vector<uint32_t> out;
    for (uint32_t n = 0; n < 16; ++n)
      if (bits_test(bitset_bits(b), n)) out.push_back(n);
    return out;
  };
  EXPECT_EQ(members(call(NATIVE_union, {ab, bc})), (std::vector<uint32_t>{1, 2, 3}));
  EXPECT_EQ(members(call(NATIVE_intersect, {ab, bc})), (std::vector<uint32_t>{2}));
  EXPECT_EQ(members(call(NATIVE_difference, {ab, bc})), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(members(call(NATIVE_exclude, {ab, bc})), (std::vector<uint32_t>{1}));
  // The operands are left as they were.
  EXPECT_EQ(members(ab), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(call_error(NATIVE_union, {ab, make_none()}), Err::script_expect_arg);
  EXPECT_EQ(call_error(NATIVE_union, {ab, block::make(1)}), Err::script_expect_val);

  EXPECT_FALSE(logic_flag(call(NATIVE_complement_q, {ab})));
  Cell not_a = make_bitset(1, 0xFF, true);
  EXPECT_TRUE(logic_flag(call(NATIVE_complement_q, {not_a})));
  EXPECT_EQ(call_error(NATIVE_complement_q, {make_integer(1)}), Err::script_expect_arg);

  Cell t1 = make_typeset(), t2 = make_typeset();
  typeset_set_bit(t1, TYPE_INTEGER);
  typeset_set_bit(t1, TYPE_FLOAT);
  typeset_set_bit(t2, TYPE_FLOAT);
  typeset_set_bit(t2, TYPE_STRING);
  auto types = [](const Cell& ts) {
    std::vector<uint32_t> out;
    for (uint32_t t : {TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})
      if (typeset_bit(ts, t)) out.push_back(t);
    return out;
  };
  EXPECT_EQ(types(call(NATIVE_union, {t1, t2})),
            (std::vector<uint32_t>{TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING}));
  EXPECT_EQ(types(call(NATIVE_intersect, {t1, t2})), (std::vector<uint32_t>{TYPE_FLOAT}));
  EXPECT_EQ(types(call(NATIVE_difference, {t1, t2})),
            (std::vector<uint32_t>{TYPE_INTEGER, TYPE_STRING}));
  EXPECT_EQ(types(call(NATIVE_exclude, {t1, t2})), (std::vector<uint32_t>{TYPE_INTEGER}));
  EXPECT_EQ(call_error(NATIVE_union, {t1, ab}), Err::script_expect_val);
}

}  // namespace
}  // namespace zem
