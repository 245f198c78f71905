// function!, routine!, native!, action! and op! values: spec checks, construction, text forms,
// comparison, reflection, collected locals, and the make rules of the native kinds.
#include "datatypes/function.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/hashtab.h"
#include "services/random.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class FunctionTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    for (TypeId t : {TYPE_INTEGER, TYPE_BLOCK, TYPE_UNSET})
      *context::word_value_cell(context::add_global_word(symbol::intern(type_name(t)))) =
          datatype_cell(t);
    stack::push_native_frame(make_word_cell(symbol::intern("test"), 0));
  }
  // The values of the text, as a block.
  Cell load(const std::string& text) {
    Cell out{};
    uint32_t consumed = 0;
    lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                       lexer::ScanMode{}, &consumed, nullptr, nullptr, nullptr);
    // Bound to the global context, as loading code does; rooted for the test.
    context::bind_block(out, context::global(), false);
    stack::push_value(out);
    return out;
  }
  Cell first(const std::string& text) { return *block::cell_at_index(load(text), 0); }
};

TEST_F(FunctionTest, SpecChecks) {
  struct Case {
    const char* spec;
    Err error;  // Err{}: accepted
  };
  const Case cases[] = {
      {"[[trace]]", {}},
      {"[a [integer!] \"doc\" b]", {}},
      {"[a \"doc\" [integer!]]", Err::script_bad_func_def},
      {"[a return: [integer!] /local b c]", {}},
      {"[return: [integer!] return: [integer!]]", Err::script_bad_func_def},
      {"[/local a return: [integer!]]", Err::script_bad_func_def},
      {"[return: [integer!] a]", Err::script_bad_func_def},
      {"[a /x b /local c]", {}},
      {"[/local a /x]", Err::script_bad_func_def},
      {"[a A]", Err::script_dup_vars},
      {"[a [3]]", Err::script_invalid_type_spec},
      {"[a [nothing-here]]", Err::script_no_value},
      {"[x: 1]", Err::script_bad_func_def},
      {"[/local :a]", Err::script_bad_func_def},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    Cell spec = first(c.spec);
    EXPECT_EQ(test::raised([&] { function::check_spec(spec); }), c.error);
  }
  EXPECT_EQ(function::check_spec(first("[[trace] a]")), kFunctionTrace);
  EXPECT_EQ(function::check_spec(first("[[no-trace]]")), kFunctionNoTrace);
}

TEST_F(FunctionTest, MoldFormCompareReflect) {
  Cell f = function::build_value(first("[a]"), first("[a + 1]"), 0, -1, 0, 0);
  stack::push_value(f);
  EXPECT_EQ(test::mold_text(f), "func [a][a + 1]");
  EXPECT_EQ(test::form_text(f), "?function?");
  Cell copy = f;
  Cell other = function::build_value(first("[a]"), first("[a + 1]"), 0, -1, 0, 0);
  EXPECT_EQ(compare_handler(TYPE_FUNCTION)(f, copy, COMP_SAME), 0);
  EXPECT_NE(compare_handler(TYPE_FUNCTION)(f, other, COMP_SAME), 0);
  EXPECT_EQ(compare_handler(TYPE_FUNCTION)(f, test::int_cell(1), COMP_EQUAL), kCannotCompare);
  Cell none{};
  none.set_header(TYPE_NONE);
  Cell bodiless = function::build_value(first("[a]"), none, 0, -1, 0, 0);
  EXPECT_EQ(test::mold_text(bodiless), "func [a] none");
  // The body is a copy bound to the function's own context.
  stack::reset_arguments();
  stack::push_value(f);
  stack::push_value(context::add_global_word(symbol::intern("body")));
  int32_t none_refs[1] = {-1};
  actions::call(ActionIndex::reflect, none_refs);
  Cell body = *stack::arg(0);
  ASSERT_TRUE(body.is(TYPE_BLOCK));
  EXPECT_EQ(block::cell_at_index(body, 0)->word_context(), f.fn_context());
  // words: a new block of the context's words (arguments, refinements, locals), each bound to
  // the function's context at its own slot.
  Cell g = function::build_value(first("[a /r b /local c]"), first("[c: a]"), 0, -1, 0, 0);
  stack::reset_arguments();
  stack::push_value(g);
  stack::push_value(context::add_global_word(symbol::intern("words")));
  actions::call(ActionIndex::reflect, none_refs);
  Cell words = *stack::arg(0);
  ASSERT_TRUE(words.is(TYPE_BLOCK));
  EXPECT_EQ(test::mold_text(words), "[a r b local c]");
  for (uint32_t i = 0; i < 5; i++) {
    const Cell& w = *block::cell_at_index(words, i);
    EXPECT_TRUE(w.is(TYPE_WORD));
    EXPECT_EQ(w.word_context(), g.fn_context());
    EXPECT_EQ(w.word_index(), i);
  }
  EXPECT_NE(words.node(), context::words_block(g.fn_context()));
}

TEST_F(FunctionTest, CollectLocals) {
  struct Case {
    const char* spec;
    const char* body;
    const char* result;
  };
  const Case cases[] = {
      {"[a]", "[b: 1 a: 2 c: [d: 3] repeat i 2 [] foreach [x y] [] (e: 0)]",
       "[a /local b c d i x y e]"},
      {"[a /local b]", "[b: 1 c: 2]", "[a /local b c]"},
      {"[a /extern g]", "[g: 1 h: 2]", "[a /local h]"},
      {"[a]", "[a: 1]", "[a]"},
      {"[]", "[local: 1 k: 2]", "[/local k]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    Cell spec = first(c.spec);
    function::collect_locals(spec, first(c.body));
    EXPECT_EQ(test::mold_text(spec), c.result);
  }
  EXPECT_EQ(test::raised([&] { function::collect_locals(first("[a 1]"), first("[]")); }),
            Err::script_bad_func_extern);
}

TEST_F(FunctionTest, NativeKindsMake) {
  // Slots past the natives' list: entries with no spec of the list to fit.
  const uint32_t free1 = kNativeCount + 1, empty = kNativeCount + 2;
  native::set_entry(free1, [](int32_t, const int32_t*) -> uint32_t { return EXIT_NONE; });
  native::set_entry(kNativeSlots, [](int32_t, const int32_t*) -> uint32_t { return EXIT_NONE; });
  struct Case {
    TypeId type;
    std::string spec;
    bool ok;
  };
  auto slot = [](uint32_t n) { return "[[a] " + std::to_string(n) + "]"; };
  const Case cases[] = {
      {TYPE_NATIVE, slot(free1), true},  {TYPE_NATIVE, slot(kNativeSlots), true},
      {TYPE_NATIVE, slot(kNativeSlots + 1), false}, {TYPE_NATIVE, "[[a] 0]", false},
      {TYPE_NATIVE, slot(empty), false},  // no entry in that slot
      {TYPE_ACTION, "[[a] 62]", true},  {TYPE_ACTION, "[[a] 63]", false},
      {TYPE_ACTION, "[[a] 8]", false},  // the unused set-path slot
      {TYPE_NATIVE, "[[a]]", false},    {TYPE_NATIVE, "[[a] 1 2]", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    Cell spec = first(c.spec);
    stack::reset_arguments();
    stack::push_value(datatype_cell(c.type));
    stack::push_value(spec);
    int32_t refs[1] = {-1};
    Err e = test::raised([&] { actions::call(ActionIndex::make, refs); });
    EXPECT_EQ(e, c.ok ? Err{} : Err::script_bad_make_arg);
    if (c.ok) {
      EXPECT_TRUE(stack::arg(0)->is(c.type));
      EXPECT_EQ(test::form_text(*stack::arg(0)), c.type == TYPE_NATIVE ? "?native?" : "?action?");
    }
  }
  // Reflecting the body of the add action gives its slot.
  Cell add = native::make_value(TYPE_ACTION, 10, first("[a b]").node(), 0);
  stack::reset_arguments();
  stack::push_value(add);
  stack::push_value(context::add_global_word(symbol::intern("body")));
  int32_t refs[1] = {-1};
  actions::call(ActionIndex::reflect, refs);
  EXPECT_EQ(stack::arg(0)->int_value(), 11);
  EXPECT_EQ(test::mold_text(add), "make action! [[a b]]");
}

TEST_F(FunctionTest, OpSpecs) {
  struct Case {
    const char* spec;
    bool ok;
  };
  const Case cases[] = {{"[a b /local c]", true}, {"[a b c]", false}, {"[a /x]", false},
                        {"['a b]", false},        {"[a 'b]", true},   {"[a b return: [integer!]]", true},
                        {"[\"doc\" a [integer!] b]", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    EXPECT_EQ(native::op_spec_ok(first(c.spec).node()), c.ok);
  }
  // An op made from a function keeps the function's body for reflection and mold.
  Cell f = function::build_value(first("[a b]"), first("[a]"), 0, -1, 0, 0);
  stack::reset_arguments();
  stack::push_value(datatype_cell(TYPE_OP));
  stack::push_value(f);
  int32_t refs[1] = {-1};
  actions::call(ActionIndex::make, refs);
  Cell op = *stack::arg(0);
  ASSERT_TRUE(op.is(TYPE_OP));
  EXPECT_EQ(native::op_source_type(op), TYPE_FUNCTION);
  EXPECT_EQ(test::mold_text(op), "make op! func [a b][a]");
  stack::reset_arguments();
  stack::push_value(datatype_cell(TYPE_OP));
  stack::push_value(test::int_cell(1));
  EXPECT_EQ(test::raised([&] { actions::call(ActionIndex::make, refs); }), Err::script_invalid_type);
}

}  // namespace
}  // namespace zem
