// The interpreter through its C++ API: evaluation order, infix operators, set-words and the word
// kinds, refinements in paths for natives and functions, paths over a block, every exit against
// the frames natives push, errors from deep code, stack overflow, collector safety (stress mode),
// objects made from a block with their change handlers.
//
#include "evaluator/interpreter.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "datatypes/context.h"
#include "runtime/casefold.h"
#include "datatypes/fixed_words.h"
#include "runtime/hashtab.h"
#include "runtime/ownership.h"
#include "services/random.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;

// Code built by a test stays alive for the whole test (tables of cases are built up front).
std::vector<Cell> g_held;

void mark_held(void*) {
  for (const Cell& c : g_held) gc::mark_value(c);
}

// ---- Building code ----------------------------------------------------------------------------

Cell global_word(const char* name, TypeId t = TYPE_WORD) {
  Cell w = context::add_global_word(symbol::intern(name));
  w.set_type(t);
  return w;
}
Cell* global_value(const char* name) { return context::word_value_cell(global_word(name)); }

// One value of code: a word ("x"), set-word ("x:"), get-word (":x"), lit-word ("'x"),
// refinement ("/x"), or a nested block/paren/path given as cells.
struct V {
  Cell cell;
  V(int32_t n) : cell(int_cell(n)) {}
  V(const Cell& c) : cell(c) {}
  V(const char* text) {
    std::string s = text;
    if (s.back() == ':') {
      cell = global_word(s.substr(0, s.size() - 1).c_str(), TYPE_SET_WORD);
    } else if (s[0] == ':') {
      cell = global_word(s.c_str() + 1, TYPE_GET_WORD);
    } else if (s[0] == '\'') {
      cell = global_word(s.c_str() + 1, TYPE_LIT_WORD);
    } else if (s[0] == '/') {
      cell = global_word(s.c_str() + 1, TYPE_REFINEMENT);
    } else {
      cell = global_word(text);
    }
  }
};
Cell series_of(TypeId t, std::initializer_list<V> values) {
  NodeId n = alloc::make_cells(values.size() ? values.size() : 1);
  uint32_t i = 0;
  for (const V& v : values) block_head(n)[i++] = v.cell;
  series_buffer(n)->set_length(i);
  Cell c{};
  c.set_header(t);
  c.set_node(n);
  g_held.push_back(c);
  return c;
}
Cell blk(std::initializer_list<V> v) { return series_of(TYPE_BLOCK, v); }
Cell par(std::initializer_list<V> v) { return series_of(TYPE_PAREN, v); }
Cell path(std::initializer_list<V> v) { return series_of(TYPE_PATH, v); }
Cell set_path(std::initializer_list<V> v) { return series_of(TYPE_SET_PATH, v); }
Cell get_path(std::initializer_list<V> v) { return series_of(TYPE_GET_PATH, v); }

// ---- Test natives -----------------------------------------------------------------------------

std::vector<int32_t> g_log;

uint32_t n_add(int32_t, const int32_t*) {
  stack::set_single_result(int_cell(stack::arg(0)->int_value() + stack::arg(1)->int_value()));
  return EXIT_NONE;
}
uint32_t n_mul(int32_t, const int32_t*) {
  stack::set_single_result(int_cell(stack::arg(0)->int_value() * stack::arg(1)->int_value()));
  return EXIT_NONE;
}
uint32_t n_negate(int32_t, const int32_t*) {
  stack::set_single_result(int_cell(-stack::arg(0)->int_value()));
  return EXIT_NONE;
}
uint32_t n_log(int32_t, const int32_t*) {
  g_log.push_back(stack::arg(0)->int_value());
  return EXIT_NONE;
}
// scale a /twice /plus b
uint32_t n_scale(int32_t, const int32_t* refs) {
  int32_t v = stack::arg(0)->int_value();
  if (refs[0] >= 0) v *= 2;
  if (refs[1] >= 0) v += stack::arg(static_cast<uint32_t>(refs[1]))->int_value();
  stack::set_single_result(int_cell(v));
  return EXIT_NONE;
}
uint32_t n_return(int32_t, const int32_t*) { return stack::unwind_function_exit(true, false); }
uint32_t n_exit(int32_t, const int32_t*) { return stack::unwind_function_exit(false, false); }
uint32_t n_break(int32_t, const int32_t* refs) {
  return stack::unwind_loop_exit(refs[0] >= 0, false);
}
uint32_t n_continue(int32_t, const int32_t*) { return stack::unwind_loop_exit(false, true); }
uint32_t n_throw(int32_t, const int32_t*) { return stack::unwind_throw(); }
uint32_t n_fail(int32_t, const int32_t*) { fire(Err::script_invalid_arg); }

// loop n body: counts iterations into slot 0 unless a break gives a value.
uint32_t n_loop(int32_t, const int32_t*) {
  int32_t n = stack::arg(0)->int_value();
  Cell body = *stack::arg(1);
  uint32_t frame = stack::depth();
  stack::push_loop_frame(global_word("loop"));
  for (int32_t i = 0; i < n; i++) {
    gc::safe_point();
    uint32_t st;
    try {
      st = interp::eval_block(body, false);
    } catch (const Unwind& u) {
      st = u.code;
      if ((st != EXIT_BREAK && st != EXIT_CONTINUE) || !stack::exit_stops_at(frame)) throw;
    }
    if (st == EXIT_BREAK && stack::exit_stops_at(frame)) {
      stack::take_exit_value();
      stack::pop_frame_keep_result();
      return EXIT_NONE;
    }
    if (st == EXIT_CONTINUE && stack::exit_stops_at(frame)) {
      clear_pending_exit();
      continue;
    }
    if (st) return st;
    stack::reset_arguments();
  }
  stack::set_single_result(int_cell(n));
  stack::pop_frame_keep_result();
  return EXIT_NONE;
}

// catch body: a throw's value becomes the result.
uint32_t n_catch(int32_t, const int32_t*) {
  Cell body = *stack::arg(0);
  uint32_t frame = stack::depth();
  stack::push_catch_frame(global_word("catch"));
  uint32_t st;
  try {
    st = interp::eval_block(body, true);
  } catch (const Unwind& u) {
    if (u.code != EXIT_THROW || !stack::exit_stops_at(frame)) throw;
    st = u.code;
  }
  if (st == EXIT_THROW && stack::exit_stops_at(frame)) {
    stack::take_exit_value();
    st = EXIT_NONE;
  }
  if (st) return st;
  stack::pop_frame_keep_result();
  return EXIT_NONE;
}

// try body: an error gives the integer of its code.
uint32_t n_try(int32_t, const int32_t*) {
  Cell body = *stack::arg(0);
  uint32_t frame = stack::depth();
  stack::push_try_frame(global_word("try"));
  try {
    if (uint32_t st = interp::eval_block(body, true)) return st;
  } catch (const Unwind& u) {
    if (u.code != EXIT_ERROR || !stack::exit_stops_at(frame)) throw;
    Err e = pending_exit().error;
    clear_pending_exit();
    stack::set_single_result(int_cell(static_cast<int32_t>(e)));
    return EXIT_NONE;
  }
  stack::pop_frame_keep_result();
  return EXIT_NONE;
}

// func spec body
uint32_t n_func(int32_t, const int32_t*) {
  uint32_t flags = function::check_spec(*stack::arg(0));
  Cell f = function::build_value(*stack::arg(0), *stack::arg(1), 0, -1, 0, flags);
  stack::set_single_result(f);
  return EXIT_NONE;
}

// A path step over blocks: an integer picks (1-based) or stores.
Cell* block_path(PathStep& step) {
  static Cell out;
  int32_t i = step.element->int_value();
  Cell* c = block_head(step.value->node()) + step.value->head_index() + i - 1;
  if (step.set_value) *c = *step.set_value;
  out = *c;
  return &out;
}

// The same answering the block's own cell.
Cell* block_path_in_place(PathStep& step) {
  int32_t i = step.element->int_value();
  Cell* c = block_head(step.value->node()) + step.value->head_index() + i - 1;
  if (step.set_value) *c = *step.set_value;
  return c;
}

struct NativeDef {
  const char* name;
  std::initializer_list<V> spec;
  NativeEntry entry;
};

class InterpTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    g_held.clear();
    gc::add_root(mark_held);
    register_type(TYPE_BLOCK, TYPE_SERIES, "block!",
                  HandlerRow(kInherit).set(ActionIndex::eval_path, &block_path));
    for (TypeId t : {TYPE_INTEGER, TYPE_UNSET, TYPE_BLOCK, TYPE_NONE, TYPE_LOGIC})
      *global_value(std::string(type_name(t)).c_str()) = datatype_cell(t);
    const NativeDef natives[] = {
        {"add", {"a", "b"}, n_add},
        {"mul", {"a", "b"}, n_mul},
        {"negate", {"a"}, n_negate},
        {"log", {"a"}, n_log},
        {"scale", {"a", "/twice", "/plus", "b"}, n_scale},
        {"return", {"value"}, n_return},
        {"exit", {}, n_exit},
        {"break", {"/return", "value"}, n_break},
        {"continue", {}, n_continue},
        {"throw", {"value"}, n_throw},
        {"fail", {}, n_fail},
        {"loop", {"n", "body"}, n_loop},
        {"catch", {"body"}, n_catch},
        {"try", {"body"}, n_try},
        {"func", {"spec", "body"}, n_func},
    };
    uint32_t number = 1;
    for (const NativeDef& d : natives) {
      native::set_entry(number, d.entry);
      Cell spec = blk(d.spec);
      *global_value(d.name) = native::make_value(TYPE_NATIVE, number - 1, spec.node(), 0);
      number++;
    }
    // The operators are the integer! actions, through the action entry table.
    for (auto [name, action] : {std::pair{"+", ActionIndex::add}, {"*", ActionIndex::multiply}}) {
      Cell spec = blk({"value1", "value2"});
      Cell op = native::make_value(TYPE_ACTION, static_cast<uint32_t>(action) - 1, spec.node(), 0);
      op.header = TYPE_OP | (TYPE_ACTION << kOpSourceShift);
      *global_value(name) = op;
    }
    gc::set_enabled(true);
    g_log.clear();
    clear_pending_exit();
    stack::push_native_frame(global_word("test"));
  }
  void TearDown() override {
    gc::remove_root(mark_held);
    MemoryTest::TearDown();
  }

  // Evaluates the block; answers its result.
  Cell run(const Cell& code) {
    stack::reset_arguments();
    stack::push_value(code);
    Cell block = code;
    EXPECT_EQ(interp::eval_block(block, true), 0u);
    return *stack::arg(0);
  }
  Err run_error(const Cell& code) {
    return test::raised([&] {
      stack::Mark m = stack::mark();
      Cell block = code;
      try {
        (void)interp::eval_block(block, true);
      } catch (...) {
        // An uncaught error empties the stacks: put the test's frame back.
        stack::reset();
        stack::push_native_frame(global_word("test"));
        (void)m;
        throw;
      }
    });
  }
};

TEST_F(InterpTest, InfixOrderAndArguments) {
  struct Case {
    Cell code;
    int32_t expect;
  };
  const Case cases[] = {
      {blk({1, "+", 2, "*", 3}), 9},        // left to right, no precedence
      {blk({"negate", 1, "+", 2}), -3},     // an argument takes its infix operators
      {blk({"add", 1, 2, "*", 10}), 21},    // ... the last one too
      {blk({"x:", 5, "x", "+", 1}), 6},     // set-word then the last expression
      {blk({"x:", "y:", 7, "x", "*", "y"}), 49},
      {blk({par({1, "+", 1}), "*", 3}), 6},
      {blk({"scale", 5}), 5},
      {blk({path({"scale", "twice"}), 5}), 10},
      {blk({path({"scale", "plus", "twice"}), 5, 1}), 11},
      {blk({path({"scale", "twice", "plus"}), 5, 1}), 11},
  };
  for (const Case& c : cases) EXPECT_EQ(run(c.code).int_value(), c.expect);

  // Operands and arguments are evaluated left to right.
  run(blk({par({"log", 1}), "+", par({"log", 2}), "*", par({"log", 3})}));
  EXPECT_EQ(g_log, (std::vector<int32_t>{1, 2, 3}));
}

TEST_F(InterpTest, WordKindsAndTheirErrors) {
  EXPECT_TRUE(run(blk({})).is(TYPE_UNSET));
  EXPECT_TRUE(run(blk({par({})})).is(TYPE_UNSET));
  EXPECT_TRUE(run(blk({":nothing"})).is(TYPE_UNSET));  // get-word of an unset word
  Cell w = run(blk({"'abc"}));
  EXPECT_TRUE(w.is(TYPE_WORD));
  EXPECT_EQ(symbol::name(w.word_symbol()), "abc");
  EXPECT_TRUE(run(blk({":add"})).is(TYPE_NATIVE));  // not called
  EXPECT_TRUE(run(blk({series_of(TYPE_LIT_PATH, {"a", "b"})})).is(TYPE_PATH));

  struct Case {
    Cell code;
    Err error;
  };
  const Case cases[] = {
      {blk({"x:"}), Err::script_need_value},
      {blk({"x:", par({})}), Err::script_need_value},
      {blk({"nothing"}), Err::script_no_value},
      {blk({"+", 1}), Err::script_no_op_arg},
      {blk({"add", 1}), Err::script_no_arg},
      {blk({path({"scale", "twice", "twice"}), 1}), Err::script_dup_refine},
      {blk({path({"scale", "only"}), 1}), Err::script_no_refine},
      {blk({path({"scale", 3}), 1}), Err::script_bad_refine},
  };
  for (const Case& c : cases) EXPECT_EQ(run_error(c.code), c.error);
}

TEST_F(InterpTest, FunctionsWithRefinementsAndLocals) {
  // Refinements are logic flags, their arguments none when unused; locals start as none.
  run(blk({"f:", "func", blk({"a", "/dbl", "/plus", "b", "/local", "t"}), blk({"t:", "a", "b"})}));
  EXPECT_TRUE(run(blk({"f", 4})).is(TYPE_NONE));
  EXPECT_EQ(run(blk({path({"f", "plus"}), 4, 9})).int_value(), 9);
  EXPECT_EQ(run(blk({path({"f", "dbl", "plus"}), 4, 9})).int_value(), 9);
  run(blk({"d:", "func", blk({"/dbl", "/x", "y"}), blk({"dbl"})}));
  EXPECT_FALSE(logic_flag(run(blk({"d"}))));
  EXPECT_TRUE(logic_flag(run(blk({path({"d", "dbl"})}))));
  EXPECT_EQ(run_error(blk({path({"d", "dbl", "dbl"})})), Err::script_dup_refine);
  EXPECT_TRUE(run(blk({"f:", "func", blk({"a", "b"}), blk({"a", "*", "b"})})).is(TYPE_FUNCTION));
  EXPECT_EQ(run(blk({"f", 6, 7})).int_value(), 42);
  EXPECT_EQ(run(blk({"f", 1, "+", 1, 3})).int_value(), 6);
  // A lit-word argument at the end of the block gets unset when unset! is admitted.
  run(blk({"g:", "func", blk({"a", "'b", blk({"unset!", "integer!"})}), blk({":b"})}));
  EXPECT_TRUE(run(blk({"g", 1})).is(TYPE_UNSET));
  EXPECT_EQ(run(blk({"g", 1, 2})).int_value(), 2);
  run(blk({"h:", "func", blk({"a", "'b"}), blk({"b"})}));
  EXPECT_EQ(run_error(blk({"h", 1})), Err::script_no_arg);
  // Argument types are checked.
  run(blk({"k:", "func", blk({"a", blk({"integer!"})}), blk({"a"})}));
  EXPECT_EQ(run_error(blk({"k", "'x"})), Err::script_expect_arg);
  // Nested calls keep each call's arguments apart.
  run(blk({"s:", "func", blk({"a", "b"}), blk({"log", "a", "log", "b", "a"})}));
  EXPECT_EQ(run(blk({"s", "s", 1, 2, "s", 3, 4})).int_value(), 1);
  EXPECT_EQ(g_log, (std::vector<int32_t>{1, 2, 3, 4, 1, 3}));
}

TEST_F(InterpTest, ReturnExitBreakContinueThrow) {
  struct Case {
    Cell code;
    int32_t expect;
  };
  run(blk({"r:", "func", blk({"x"}),
           blk({"loop", 3, blk({"catch", blk({"return", "x", "+", 1})}), 99})}));
  run(blk({"e:", "func", blk({}), blk({"loop", 2, blk({"exit"}), 5})}));
  const Case cases[] = {
      {blk({"r", 4}), 5},                                           // across loop and catch frames
      {blk({"loop", 4, blk({"break"}), 1}), 1},
      {blk({"loop", 4, blk({path({"break", "return"}), 7})}), 7},
      {blk({"loop", 3, blk({"continue", "log", 1})}), 3},           // log never runs
      {blk({"catch", blk({"loop", 2, blk({"throw", 8}), 1})}), 8},
      {blk({"loop", 2, blk({"catch", blk({"break"})})}), 0},        // break passes catch frames
      {blk({"try", blk({"catch", blk({"fail"})})}), static_cast<int32_t>(Err::script_invalid_arg)},
      {blk({"try", blk({"loop", 3, blk({"fail"})})}), static_cast<int32_t>(Err::script_invalid_arg)},
  };
  for (const Case& c : cases) {
    Cell r = run(c.code);
    if (c.expect == 0) {
      EXPECT_TRUE(r.is(TYPE_UNSET));
    } else {
      EXPECT_EQ(r.int_value(), c.expect);
    }
  }
  EXPECT_TRUE(run(blk({"e"})).is(TYPE_UNSET));
  EXPECT_TRUE(g_log.empty());
  // Exits with nothing to stop them are errors.
  EXPECT_EQ(run_error(blk({"break"})), Err::throw_break);
  EXPECT_EQ(run_error(blk({"return", 1})), Err::throw_return);
  EXPECT_EQ(run_error(blk({"throw", 1})), Err::throw_throw);
  // The stacks are back where they started.
  EXPECT_EQ(stack::depth(), 1u);
}

TEST_F(InterpTest, PathsOverBlocks) {
  run(blk({"b:", blk({10, 20, 30})}));
  EXPECT_EQ(run(blk({path({"b", 2})})).int_value(), 20);
  EXPECT_EQ(run(blk({set_path({"b", 3}), 5, "+", 1})).int_value(), 6);
  EXPECT_EQ(run(blk({path({"b", 3})})).int_value(), 6);
  EXPECT_EQ(run(blk({"i:", 1, path({"b", ":i"})})).int_value(), 10);
  EXPECT_EQ(run(blk({path({"b", par({1, "+", 1})})})).int_value(), 20);
  EXPECT_TRUE(run(blk({get_path({"b", 1})})).is(TYPE_INTEGER));
  struct Case {
    Cell code;
    Err error;
  };
  const Case cases[] = {
      {blk({path({})}), Err::script_empty_path},
      {blk({path({1, 2})}), Err::script_word_first},
      {blk({path({"nothing", 1})}), Err::script_unset_path},
      {blk({set_path({"add", "x"}), 1}), Err::script_invalid_path_set},
      {blk({get_path({"add", "x"})}), Err::script_invalid_path_get},
      {blk({path({"b", ":nothing"})}), Err::script_invalid_path},
      {blk({"n:", 5, path({"n", 1})}), Err::script_bad_path_type},
      {blk({set_path({"b", 1})}), Err::script_need_value},
  };
  for (const Case& c : cases) EXPECT_EQ(run_error(c.code), c.error);
}

TEST_F(InterpTest, PathWithResumeRecordStopsBeforeParens) {
  using Holder = interp::PathResume::Holder;
  using interp::Dest;
  using interp::PathMode;
  run(blk({"b:", blk({10, blk({1, 2, 3}), 30})}));
  Cell p = path({"b", par({1, "+", 1}), par({3})});
  stack::reset_arguments();
  Cell* before = stack::top();
  interp::PathResume r;
  // The head's value lives in the global context; nothing is pushed for it.
  ASSERT_EQ(interp::eval_path(p, nullptr, PathMode::call, Dest::push, nullptr, &r), 0u);
  EXPECT_EQ(r.holder, Holder::context);
  EXPECT_EQ(r.node, context::global());
  EXPECT_EQ(r.element, 1u);
  EXPECT_EQ(stack::top(), before);
  // This block path step answers a copy: the value is kept on the stack as the newest cell.
  ASSERT_EQ(interp::eval_path(p, nullptr, PathMode::call, Dest::push, nullptr, &r), 0u);
  EXPECT_EQ(r.holder, Holder::stack);
  EXPECT_EQ(r.element, 2u);
  ASSERT_EQ(stack::top(), before + 1);
  EXPECT_EQ(r.slot, stack::cell_index(before));
  EXPECT_TRUE(before->is(TYPE_BLOCK));
  // The last call takes the kept cell's place with the path's value and empties the record.
  ASSERT_EQ(interp::eval_path(p, nullptr, PathMode::call, Dest::push, nullptr, &r), 0u);
  EXPECT_EQ(r.holder, Holder::none);
  ASSERT_EQ(stack::top(), before + 1);
  EXPECT_EQ(before->int_value(), 3);
  // Without a record the path runs through.
  EXPECT_EQ(run(blk({p})).int_value(), 3);

  // A step answering a cell of the block: the record points into that block, and a change made
  // to it before going on is seen.
  register_type(TYPE_BLOCK, TYPE_SERIES, "block!",
                HandlerRow(kInherit).set(ActionIndex::eval_path, &block_path_in_place));
  Cell q = path({"b", 2, par({1})});
  stack::reset_arguments();
  before = stack::top();
  r = interp::PathResume{};
  ASSERT_EQ(interp::eval_path(q, nullptr, PathMode::call, Dest::result, nullptr, &r), 0u);
  Cell b = *global_value("b");
  EXPECT_EQ(r.holder, Holder::series);
  EXPECT_EQ(r.node, b.node());
  EXPECT_EQ(r.slot, 1u);
  EXPECT_EQ(r.element, 2u);
  EXPECT_EQ(stack::top(), before);
  block_head(b.node())[1] = blk({7, 8});
  ASSERT_EQ(interp::eval_path(q, nullptr, PathMode::call, Dest::result, nullptr, &r), 0u);
  EXPECT_EQ(r.holder, Holder::none);
  EXPECT_EQ(stack::arg(0)->int_value(), 7);
  // A set-path stops the same way and assigns once it goes on.
  Cell s = set_path({"b", 2, par({2})});
  Cell nine = int_cell(9);
  r = interp::PathResume{};
  ASSERT_EQ(interp::eval_path(s, nullptr, PathMode::set, Dest::result, &nine, &r), 0u);
  EXPECT_EQ(r.element, 2u);
  ASSERT_EQ(interp::eval_path(s, nullptr, PathMode::set, Dest::result, &nine, &r), 0u);
  EXPECT_EQ(block_head(block_head(b.node())[1].node())[1].int_value(), 9);
}

TEST_F(InterpTest, SystemIssueRefused) {
  Cell issue = global_word("system", TYPE_ISSUE);
  EXPECT_EQ(run_error(blk({issue, blk({})})), Err::internal_zem_system);
  EXPECT_TRUE(run(blk({issue})).is(TYPE_ISSUE));
}

TEST_F(InterpTest, DeepRecursionEndsInStackOverflow) {
  run(blk({"f:", "func", blk({"n"}), blk({"f", "n", "+", 1})}));
  Cell r = run(blk({"try", blk({"f", 1})}));
  EXPECT_EQ(r.int_value(), static_cast<int32_t>(Err::internal_stack_overflow));
  // The program goes on, with the headroom back.
  EXPECT_EQ(run(blk({"add", 1, 2})).int_value(), 3);
  EXPECT_EQ(stack_state.limit, stack_state.end - kArgHeadroomCells);
  EXPECT_EQ(stack_state.call_limit, stack_state.call_end - kCallHeadroomFrames);
  EXPECT_EQ(stack::depth(), 1u);
}

TEST_F(InterpTest, GarbageAcrossEvaluation) {
  // Blocks made while running are kept while reachable, under collections at every safe point.
  run(blk({"keep:", blk({1, 2, 3}), "loop", 50, blk({"tmp:", blk({4, 5})}), path({"keep", 2})}));
  gc::collect();
  EXPECT_EQ(run(blk({path({"keep", 3})})).int_value(), 3);
}

TEST_F(InterpTest, WordsFollowTheirContextWhenItsValuesMove) {
  // Reading and setting x leaves the interpreter holding where the global values are; new words
  // then grow the context until its values move. Both ways in must see the new place.
  Cell read = blk({"x"}), set = blk({"x:", 2});
  run(blk({"x:", 1}));
  EXPECT_EQ(run(read).int_value(), 1);
  const Cell* before = global_value("x");
  for (int i = 0; global_value("x") == before; i++)
    global_word(("grow-" + std::to_string(i)).c_str());
  run(set);
  EXPECT_EQ(global_value("x")->int_value(), 2);
  *global_value("x") = int_cell(3);
  EXPECT_EQ(run(read).int_value(), 3);
}

// ---- Objects made from a block, and their change handlers ----------------------------------------

// The arguments handlers passed to `record`, in order.
std::vector<Cell> g_recorded;

uint32_t n_make_object(int32_t, const int32_t*) {
  stack::set_single_result(object::make(make_none(), *stack::arg(0), TYPE_OBJECT));
  return EXIT_NONE;
}
// append-one series value: appends with the change notices of a series action.
uint32_t n_append_one(int32_t, const int32_t*) {
  Cell series = *stack::arg(0), value = *stack::arg(1);
  int32_t at = static_cast<int32_t>(block::length(series));
  ownership::ChangeNotice notice(series, ownership::Change::append, &value, at, 1);
  block::append_cell(series, value);
  notice.done(series, &value, at, 1);
  stack::set_single_result(series);
  return EXIT_NONE;
}
uint32_t n_record(int32_t, const int32_t*) {
  for (uint32_t i = 0; i < 3; i++) {
    g_recorded.push_back(*stack::arg(i));
    g_held.push_back(*stack::arg(i));
  }
  return EXIT_NONE;
}

class ObjectMakeTest : public InterpTest {
 protected:
  void SetUp() override {
    InterpTest::SetUp();
    g_recorded.clear();
    const NativeDef natives[] = {
        {"make-object", {"spec"}, n_make_object},
        {"append-one", {"series", "value"}, n_append_one},
        {"record", {"a", "b", "c"}, n_record},
    };
    uint32_t number = 40;
    for (const NativeDef& d : natives) {
      native::set_entry(number, d.entry);
      Cell spec = blk(d.spec);
      *global_value(d.name) = native::make_value(TYPE_NATIVE, number - 1, spec.node(), 0);
      number++;
    }
  }
  static std::string name_of(const Cell& word) { return std::string(symbol::name(word.word_symbol())); }
  // The recorded triples as text: word names and integers.
  static std::vector<std::string> recorded() {
    std::vector<std::string> out;
    for (const Cell& c : g_recorded)
      out.push_back(c.is(TYPE_INTEGER) ? std::to_string(c.int_value())
                    : interp::word_kind(c.type()) ? name_of(c)
                                                  : std::string(type_name(c.type())));
    return out;
  }
};

TEST_F(ObjectMakeTest, BlockEvaluatedInTheNewObject) {
  // a: 1  b: a + 1  inner: make-object [c: b * 10  d: a]
  run(blk({"o:", "make-object",
           blk({"a:", 1, "b:", "a", "+", 1, "inner:", "make-object", blk({"c:", "b", "*", 10, "d:", "a"})})}));
  EXPECT_TRUE(global_value("o")->is(TYPE_OBJECT));
  EXPECT_EQ(run(blk({path({"o", "b"})})).int_value(), 2);
  EXPECT_EQ(run(blk({path({"o", "inner", "c"})})).int_value(), 20);
  EXPECT_EQ(run(blk({path({"o", "inner", "d"})})).int_value(), 1);
  // The fields went into the objects, not the global context.
  EXPECT_TRUE(global_value("a")->is(TYPE_UNSET));
  EXPECT_TRUE(global_value("c")->is(TYPE_UNSET));
  EXPECT_EQ(stack::depth(), 1u);
}

TEST_F(ObjectMakeTest, OnChangeGetsWordOldAndNew) {
  run(blk({"o:", "make-object",
           blk({"a:", 1, "bump:", "func", blk({}), blk({"a:", "a", "+", 10}),
                "on-change*:", "func", blk({"w", "old", "new", "/local", "x", "y"}),
                blk({"record", "w", "old", "new", "x:", "y"})})}));
  // Made silently; then a set-path, and a set-word in the object's own code.
  EXPECT_TRUE(g_recorded.empty());
  run(blk({set_path({"o", "a"}), 5}));
  run(blk({path({"o", "bump"})}));
  EXPECT_EQ(recorded(), (std::vector<std::string>{"a", "1", "5", "a", "5", "15"}));
  EXPECT_EQ(run(blk({path({"o", "a"})})).int_value(), 15);
  EXPECT_EQ(stack::depth(), 1u);
}

TEST_F(ObjectMakeTest, OnDeepChangeWhenAnOwnedSeriesChanges) {
  run(blk({"o:", "make-object",
           blk({"items:", blk({}), "on-deep-change*:", "func",
                blk({"owner", "word", "target", "action", "new", "index", "part"}),
                blk({"record", "word", "action", "new"})})}));
  run(blk({"append-one", path({"o", "items"}), 9}));
  EXPECT_EQ(recorded(), (std::vector<std::string>{"items", "append", "9", "items", "appended", "9"}));
  EXPECT_EQ(block::length(run(blk({path({"o", "items"})}))), 1u);
}

TEST_F(ObjectMakeTest, ErrorInTheSpecPropagates) {
  // Where a plain `try` leaves the stacks.
  run(blk({"try", blk({"add", 1, 2})}));
  Cell* top = stack::top();
  Cell r = run(blk({"try", blk({"make-object", blk({"a:", 1, "fail", "b:", 2})})}));
  EXPECT_EQ(r.int_value(), static_cast<int32_t>(Err::script_invalid_arg));
  EXPECT_EQ(stack::depth(), 1u);
  EXPECT_EQ(stack::top(), top);
  // An error inside a handler goes out through the assignment the same way.
  run(blk({"o:", "make-object", blk({"a:", 1, "on-change*:", "func", blk({"w", "old", "new"}), blk({"fail"})})}));
  r = run(blk({"try", blk({set_path({"o", "a"}), 2})}));
  EXPECT_EQ(r.int_value(), static_cast<int32_t>(Err::script_invalid_arg));
  EXPECT_EQ(stack::depth(), 1u);
  EXPECT_EQ(stack::top(), top);
  EXPECT_TRUE(interp_state.blocks.empty());
}

}  // namespace
}  // namespace zem
