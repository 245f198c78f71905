// The runtime entries for C++ callers: argument checks, word and context access, refinements,
// switch selection and loading a value from text.
#include "evaluator/rt_entries.h"

#include "datatypes/block.h"
#include "datatypes/error_value.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;
using test::raised;

class RtEntries : public testing::ContextTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
  }
};

TEST_F(RtEntries, ArgumentChecks) {
  Cell ints = make_typeset();
  typeset_set_bit(ints, TYPE_INTEGER);
  Cell arg = w("value", TYPE_LIT_WORD);
  Cell one = int_cell(1);
  EXPECT_EQ(&rt::check_arg_type(ints, arg, one), &one);
  Cell none = make_none();
  EXPECT_EQ(raised([&] { rt::check_arg_type(ints, arg, none); }), Err::script_expect_arg);
  // The error names the argument and the value's datatype.
  EXPECT_EQ(error_value::field(pending_exit().value, ERR_ARG2)->datatype_id(), TYPE_NONE);
  EXPECT_EQ(error_value::field(pending_exit().value, ERR_ARG3)->word_symbol(), arg.word_symbol());
  Cell unset = make_unset();
  EXPECT_EQ(raised([&] { rt::check_arg_set(arg, unset); }), Err::script_expect_arg);
  EXPECT_EQ(error_value::field(pending_exit().value, ERR_ARG2)->datatype_id(), TYPE_UNSET);
  Cell off = make_none();
  EXPECT_EQ(&rt::check_opt_arg_type(off, ints, arg, none), &none);  // refinement not used
  stack::push_value(none);
  rt::check_stack_arg_type(-1, ints, arg);
  EXPECT_EQ(raised([&] { rt::check_stack_arg_type(0, ints, arg); }), Err::script_expect_arg);
}

TEST_F(RtEntries, WordsAndContextValues) {
  Cell x = w("x");
  stack::push_value(int_cell(5));
  rt::set_word_stmt(x);
  EXPECT_EQ(stack::top(), stack::base());
  EXPECT_EQ(rt::get_word_checked(x)->int_value(), 5);
  stack::push_value(make_unset());
  EXPECT_EQ(raised([&] { rt::set_word_expr(x); }), Err::script_need_value);
  Cell y = w("never-set");
  context::set_word_value(y, make_unset());
  EXPECT_EQ(raised([&] { rt::get_word_checked(y); }), Err::script_no_value);

  NodeId obj = context::allocate(2, false, true, 0, CONTEXT_OBJECT);
  context::add_symbol(obj, sym("f"));
  stack::push_value(int_cell(8));
  rt::set_ctx_slot(obj, 0);
  EXPECT_EQ(context::values(obj)[0].int_value(), 8);
  EXPECT_TRUE(context::word_at(obj, 0)->has_flag(kWordSetMark));
  NodeId fn = context::make_from_spec(block_of({w("a")}), true, false, CONTEXT_FUNCTION);
  EXPECT_EQ(raised([&] { rt::ctx_value_address(fn, 0); }), Err::script_not_defined);
  stack::push_value(int_cell(1));
  EXPECT_EQ(raised([&] { rt::set_ctx_value_expr(fn, 0); }), Err::script_not_defined);
}

TEST_F(RtEntries, RefinementsAndSwitch) {
  stack::push_value(make_none());
  stack::push_value(int_cell(1));
  stack::push_value(int_cell(2));
  rt::fetch_refinements(make_none(), 0, 2);
  EXPECT_TRUE(stack::arg(1)->is(TYPE_NONE));
  EXPECT_TRUE(stack::arg(2)->is(TYPE_NONE));
  rt::fetch_refinements(make_logic(true), 0, 2);
  EXPECT_TRUE(stack::arg(0)->logic_value());  // the slot's logic word set

  auto select = [&](const Cell& value, const Cell& blk, bool push, bool sw) {
    stack::reset();
    stack::push_value(value);
    stack::push_value(blk);
    rt::switch_select(push, sw);
    return push ? *stack::last_value() : *stack::arg(0);
  };
  Cell pairs = block_of({int_cell(1), w("one"), int_cell(2), w("two")});
  EXPECT_EQ(symbol::name(select(int_cell(2), pairs, false, false).word_symbol()), "two");
  EXPECT_TRUE(select(int_cell(3), pairs, false, false).is(TYPE_NONE));
  // The last entry matched has no next one: the match itself.
  Cell flat = block_of({int_cell(1), int_cell(2), int_cell(3)});
  EXPECT_EQ(select(int_cell(3), flat, true, false).int_value(), 3);
  EXPECT_EQ(select(int_cell(1), flat, true, false).int_value(), 2);
  Cell cases = block_of({int_cell(1), int_cell(2), block_of({w("b")}), int_cell(3)});
  EXPECT_TRUE(select(int_cell(2), cases, true, true).is(TYPE_BLOCK));
  EXPECT_TRUE(select(int_cell(3), cases, true, true).is(TYPE_NONE));
  EXPECT_TRUE(select(cases, cases, false, false).is(TYPE_NONE));
}

TEST_F(RtEntries, LoadValue) {
  stack::push_value(make_none());
  Cell empty = rt::load_value(str::make_from_utf8(""));
  EXPECT_TRUE(empty.is(TYPE_UNSET));
  EXPECT_TRUE(stack::arg(0)->is(TYPE_UNSET));
  EXPECT_EQ(rt::load_value(str::make_from_utf8("12 13")).int_value(), 12);
  EXPECT_TRUE(stack::arg(0)->is(TYPE_BLOCK));
  Cell bad = rt::load_value(str::make_from_utf8("1 ]"));
  EXPECT_TRUE(bad.is(TYPE_NONE));
  // An answer of none is a copy: writing it changes no shared cell.
  bad.set_raw_words(77, 0, 0);
  EXPECT_EQ(shared_cells.none.raw_words()[0], 0u);
}

}  // namespace
}  // namespace zem
