// error! values: making them from codes and blocks, the "*** " message of each category as the
// console prints it, molds, and the value that `fire` builds.
#include "datatypes/error_value.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/stack.h"
#include "runtime/wiring.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;
using test::raised;

class ErrorValue : public testing::ContextTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::values);
  }
  static std::string formed(const Cell& e) { return test::form_text(e); }
  static Cell make(const Cell& spec) {
    test::Frame f(ActionIndex::make, {datatype_cell(TYPE_ERROR), spec});
    return f.run(TYPE_ERROR);
  }
};

TEST_F(ErrorValue, MessagesOfEachCategory) {
  Cell foo = w("foo");
  Cell text = str::make_from_utf8("a.zem");
  struct Case {
    Err id;
    Cell arg1, arg2, arg3;
    const char* message;
  } cases[] = {
      {Err::throw_break, {}, {}, {}, "*** Throw Error: no loop to break"},
      {Err::note_no_load, foo, {}, {}, "*** note: cannot load: foo"},
      // Syntax arguments are formed, not molded.
      {Err::syntax_invalid, str::make_from_utf8("(line 1)"), datatype_cell(TYPE_INTEGER), str::make_from_utf8("1a"),
       "*** Syntax Error: (line 1) invalid integer at 1a"},
      {Err::script_no_value, foo, {}, {}, "*** Script Error: foo has no value"},
      {Err::script_expect_arg, w("append"), datatype_cell(TYPE_NONE), w("series", TYPE_LIT_WORD),
       "*** Script Error: append does not allow none! for its 'series argument"},
      {Err::math_zero_divide, {}, {}, {}, "*** Math Error: attempt to divide by zero"},
      {Err::access_no_create, foo, {}, {}, "*** Access Error: cannot create: foo"},
      {Err::user_message, int_cell(42), {}, {}, "*** User Error: 42"},
      {Err::internal_too_deep, {}, {}, {}, "*** Internal Error: block or paren series is too deep to process"},
      {Err::internal_deprecated, w("is"), w("relate"), {}, "*** Internal Error: is is DEPRECATED, please use relate instead"},
  };
  for (const Case& c : cases) {
    const Cell* a[3] = {c.arg1.header ? &c.arg1 : nullptr, c.arg2.header ? &c.arg2 : nullptr,
                        c.arg3.header ? &c.arg3 : nullptr};
    Cell e = error_value::create(c.id, a[0], a[1], a[2]);
    EXPECT_EQ(formed(e), std::string(c.message) + "\n*** Where: ???\n*** Near : none");
  }
  // where: a word formed, a string as it is; near molded.
  Cell e = error_value::create(Err::script_no_value, &foo);
  error_value::set_where(e, w("print"));
  error_value::set_where(e, w("ignored"));  // only while where is none
  *error_value::field(e, ERR_NEAR) = int_cell(7);
  *error_value::field(e, ERR_FILES) = block_of({});
  EXPECT_EQ(formed(e).rfind("*** Script Error: foo has no value\n*** Where: print\n*** Near : 7\n*** Files: ", 0), 0u);
  *error_value::field(e, ERR_WHERE) = text;
  *error_value::field(e, ERR_FILES) = make_none();
  EXPECT_EQ(formed(e), "*** Script Error: foo has no value\n*** Where: a.zem\n*** Near : 7");
}

TEST_F(ErrorValue, LongArgumentsAndNearAreCut) {
  std::string name(100, 'n');
  Cell long_word = w(name);
  Cell e = error_value::create(Err::script_no_value, &long_word);
  *error_value::field(e, ERR_NEAR) = w(name);
  EXPECT_EQ(formed(e), "*** Script Error: " + name.substr(0, 80) + " has no value\n*** Where: ???\n*** Near : " +
                           name.substr(0, 40));
}

TEST_F(ErrorValue, UnknownCategoryOrIdFormsAsInvalidError) {
  Cell e = error_value::create(Err::script_no_value, &shared_cells.none);
  *error_value::field(e, ERR_TYPE) = w("bogus");
  EXPECT_EQ(formed(e), "*** Internal Error: invalid error object field value: bogus\n*** Where: ???\n*** Near : none");
  *error_value::field(e, ERR_TYPE) = w("math");
  *error_value::field(e, ERR_ID) = w("nothing");
  EXPECT_EQ(formed(e), "*** Internal Error: invalid error object field value: nothing\n*** Where: ???\n*** Near : none");
}

TEST_F(ErrorValue, CategoryTitleOfAnyValue) {
  // A script may set a category's type field, the title of its messages, to anything.
  Cell& title = context::values(error_value_state.categories[4])[1];
  Cell saved = title;
  struct Case {
    Cell value;
    const char* shown;
  } cases[] = {{make_none(), "none"}, {int_cell(5), "5"}, {block_of({int_cell(1), int_cell(2)}), "1 2"}};
  for (const Case& c : cases) {
    title = c.value;
    EXPECT_EQ(formed(error_value::create(Err::math_zero_divide)),
              std::string("*** ") + c.shown + ": attempt to divide by zero\n*** Where: ???\n*** Near : none");
  }
  title = saved;
}

TEST_F(ErrorValue, MakeFromCodesAndBlocks) {
  Cell e = make(int_cell(302));
  EXPECT_EQ(error_value::field(e, ERR_CODE)->int_value(), 302);
  EXPECT_EQ(symbol::name(error_value::field(e, ERR_TYPE)->word_symbol()), "script");
  EXPECT_EQ(symbol::name(error_value::field(e, ERR_ID)->word_symbol()), "no-value");
  EXPECT_EQ(make(int_cell(915)).type(), TYPE_ERROR);
  // Codes outside the catalogue: past a category's ids, the code and type positions, categories
  // beyond 9, negative codes.
  for (int32_t code : {399, 396, 300, 301, 600, 1002, -302, 916})
    EXPECT_EQ(raised([&] { make(int_cell(code)); }), Err::script_out_of_range) << code;

  Cell b = make(block_of({w("math"), w("zero-divide")}));
  EXPECT_EQ(error_value::field(b, ERR_CODE)->int_value(), 402);
  Cell with_args = make(block_of({w("Script"), w("expect-arg"), w("f"), int_cell(1), w("x"), int_cell(9)}));
  EXPECT_EQ(error_value::field(with_args, ERR_CODE)->int_value(), 307);
  EXPECT_EQ(error_value::field(with_args, ERR_ARG2)->int_value(), 1);
  EXPECT_TRUE(error_value::field(with_args, ERR_NEAR)->is(TYPE_NONE));
  EXPECT_EQ(raised([&] { make(block_of({w("nope"), w("x")})); }), Err::script_invalid_spec_field);
  EXPECT_EQ(raised([&] { make(block_of({w("math"), int_cell(1)})); }), Err::script_invalid_arg);
  EXPECT_EQ(raised([&] { make(block_of({w("math"), w("no-value")})); }), Err::script_invalid_spec_field);
  EXPECT_EQ(raised([&] { make(block_of({w("math"), w("type")})); }), Err::script_invalid_spec_field);
  EXPECT_EQ(raised([&] { make(block_of({int_cell(1)})); }), Err::internal_invalid_error);
  EXPECT_EQ(raised([&] { make(make_none()); }), Err::script_bad_make_arg);
}

TEST_F(ErrorValue, MoldAndCompare) {
  Cell foo = w("foo");
  Cell e = error_value::create(Err::math_overflow, &foo);
  MoldFlags flat;
  flat.flat = true;
  EXPECT_EQ(test::mold_text(e, flat),
            "make error! [code: 403 type: 'math id: 'overflow arg1: 'foo arg2: none arg3: none near: none "
            "where: none stack: none files: none]");
  Cell same = error_value::create(Err::math_overflow, &foo);
  EXPECT_EQ(compare_handler(TYPE_ERROR)(e, same, COMP_EQUAL), 0);
  EXPECT_EQ(compare_handler(TYPE_ERROR)(e, e, COMP_SAME), 0);
  EXPECT_NE(compare_handler(TYPE_ERROR)(e, error_value::create(Err::math_positive), COMP_EQUAL), 0);
  Cell plain = object::make_empty(1);
  EXPECT_EQ(compare_handler(TYPE_ERROR)(e, plain, COMP_EQUAL), kCannotCompare);
}

TEST_F(ErrorValue, FireBuildsTheErrorValue) {
  stack::init();
  wiring.raise_error = &stack::raise_error;
  Cell foo = w("foo");
  EXPECT_EQ(raised([&] { fire(Err::script_no_value, &foo); }), Err::script_no_value);
  const Cell& v = pending_exit().value;
  ASSERT_TRUE(v.is(TYPE_ERROR));
  EXPECT_EQ(formed(v), "*** Script Error: foo has no value\n*** Where: ???\n*** Near : none");
  EXPECT_EQ(stack::uncaught_message(), formed(v));
  clear_pending_exit();
}

TEST_F(ErrorValue, ValuesNestedDeeperThanAMoldWalksStillPrint) {
  // Blocks and parens nested past the mold's depth limit, as an argument and as the near.
  for (TypeId t : {TYPE_BLOCK, TYPE_PAREN}) {
    Cell deep = block::make(0, t);
    for (uint32_t i = 0; i < kPointerStackSize + 10; i++) {
      Cell outer = block::make(1, t);
      block::append_cell(outer, deep);
      deep = outer;
    }
    Cell e = error_value::create(Err::script_invalid_arg, &deep);
    *error_value::field(e, ERR_NEAR) = deep;
    // Both show the head of the mold, up to their caps (80 and 40).
    std::string open(80, t == TYPE_BLOCK ? '[' : '(');
    EXPECT_EQ(formed(e), "*** Script Error: invalid argument: " + open + "\n*** Where: ???\n*** Near : " +
                             open.substr(0, 40));
  }
}

}  // namespace
}  // namespace zem
