// The argument and call stacks: the calling convention, every unwinder against every frame kind,
// overflow of both stacks, the current call word and the collector's view of the stacks.
#include "evaluator/stack.h"

#include <gtest/gtest.h>

#include <functional>

#include "datatypes/registry.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;

constexpr uint32_t kBody = 1, kAnon = 2, kNotFound = 3, kSelf = 4;
constexpr uint32_t kFoo = 20, kBar = 21, kLoop = 22;

Cell word(uint32_t sym) { return make_word_cell(sym, 0); }

class StackTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    stack::set_fixed_symbols(kBody, kAnon, kNotFound, kSelf);
  }
};

// Runs body and answers the code it raised as an exception (0 when it returned).
uint32_t raised_code(const std::function<void()>& body) {
  try {
    body();
  } catch (const Unwind& u) {
    return u.code;
  }
  return 0;
}

TEST_F(StackTest, CallingConventionPops) {
  StackState& s = stack_state;
  stack::push_value(int_cell(7));  // caller slot 0
  Cell* caller = s.base;
  Cell* callee = stack::push_native_frame(word(kFoo));
  EXPECT_EQ(callee, s.top);
  stack::push_value(int_cell(1));
  stack::push_value(int_cell(2));
  *stack::arg(0) = int_cell(99);

  stack::Mark m = stack::mark();
  stack::pop_frame();  // the callee's slot 0 stays as the caller's newest cell
  EXPECT_EQ(s.base, caller);
  EXPECT_EQ(s.top, callee + 1);
  EXPECT_EQ(stack::last_value()->int_value(), 99);

  stack::restore(m);
  s.call_top++;  // put the frame back for the other pops
  stack::pop_frame_keep_result();
  EXPECT_EQ(caller->int_value(), 99);

  s.call_top++;
  s.base = callee;
  stack::pop_frame_discard();
  EXPECT_EQ(s.base, caller);
  EXPECT_EQ(s.top, caller);

  // The bottom-most frame popped to its base empties the stack.
  stack::push_value(int_cell(5));
  stack::push_native_frame(word(kFoo));
  stack::push_value(int_cell(6));
  stack::pop_frame_to_base();
  EXPECT_EQ(stack::depth(), 0u);
  EXPECT_EQ(s.top, s.bottom);
}

TEST_F(StackTest, CellOperations) {
  StackState& s = stack_state;
  EXPECT_EQ(stack::last_value(), s.bottom);
  stack::push_frame(FRAME_NATIVE, word(kFoo));
  stack::push_value(int_cell(1));
  Cell err{};
  err.set_header(TYPE_ERROR);
  stack::push_value(err);
  EXPECT_EQ(stack::top_type(), TYPE_ERROR);
  stack::keep_result();  // an error as the newest cell becomes the result
  EXPECT_TRUE(stack::arg(0)->is(TYPE_ERROR));
  EXPECT_EQ(s.top, s.base + 1);
  stack::drop_values(1000);
  EXPECT_EQ(s.top, s.bottom);
}

// Function contexts: popping restores the values reference that the frame saved.
TEST_F(StackTest, FunctionFrameRestoresContext) {
  NodeId ctx = alloc::make_unset_cells(2);
  series_buffer(ctx)->set_length(2);
  Cell& cc = *block_head(ctx);
  cc.set_header(TYPE_CONTEXT);
  cc.set_flag(kContextOnStack, true);
  cc.set_context_values(0);
  stack::push_function_frame(word(kFoo), ctx);
  cc.set_context_values(stack::values_ref(stack::base()));
  EXPECT_EQ(stack::values_of_ref(cc.context_values()), stack::base());
  stack::pop_function_frame();
  EXPECT_EQ(block_head(ctx)->context_values(), 0u);

  // Unwinding through it restores it too.
  stack::push_loop_frame(word(kLoop));
  uint32_t loop_depth = stack::depth() - 1;
  stack::push_function_frame(word(kFoo), ctx);
  block_head(ctx)->set_context_values(42);
  stack::push_native_frame(word(kBar));  // the break native
  EXPECT_EQ(stack::unwind_loop_exit(false, false), EXIT_BREAK);
  EXPECT_TRUE(stack::exit_stops_at(loop_depth));
  EXPECT_EQ(block_head(ctx)->context_values(), 0u);
}

enum class Exit { brk, brk_value, cont, ret, exit_, thr };

uint32_t run_exit(Exit e) {
  switch (e) {
    case Exit::brk: return stack::unwind_loop_exit(false, false);
    case Exit::brk_value: return stack::unwind_loop_exit(true, false);
    case Exit::cont: return stack::unwind_loop_exit(false, true);
    case Exit::ret: return stack::unwind_function_exit(true, false);
    case Exit::exit_: return stack::unwind_function_exit(false, false);
    case Exit::thr: return stack::unwind_throw();
  }
  return 0;
}

TEST_F(StackTest, EveryUnwinderAgainstEveryFrameKind) {
  const uint32_t body = FRAME_FUNCTION | kFrameInterpFlag | kFrameBodyFlag;
  const uint32_t loop = FRAME_LOOP, tryf = FRAME_TRY, tryall = FRAME_TRY_ALL, katch = FRAME_CATCH;
  const uint32_t eval = kEvalFrame, nat = kInterpNativeFrame, fn = kInterpFunctionFrame;
  struct Case {
    Exit exit;
    std::vector<uint32_t> frames;
    int stop;
    Err error;
    uint32_t code;
  };
  const Case cases[] = {
      {Exit::brk, {loop, eval, nat, fn, eval}, 0, {}, EXIT_BREAK},
      {Exit::brk, {loop, eval, loop, eval}, 2, {}, EXIT_BREAK},
      {Exit::brk, {loop, katch, tryf, body, eval}, 0, {}, EXIT_BREAK},
      {Exit::brk, {loop, tryall, eval}, -1, Err::throw_break, 0},
      {Exit::brk, {eval, nat}, -1, Err::throw_break, 0},
      {Exit::brk_value, {loop, eval}, 0, {}, EXIT_BREAK},
      {Exit::cont, {loop, eval, katch}, 0, {}, EXIT_CONTINUE},
      {Exit::cont, {loop, tryall}, -1, Err::throw_continue, 0},
      {Exit::ret, {body, loop, katch, eval, loop, eval}, 0, {}, EXIT_RETURN},
      {Exit::ret, {body, eval, body, eval}, 2, {}, EXIT_RETURN},
      {Exit::ret, {body, tryall, eval}, -1, Err::throw_return, 0},
      {Exit::ret, {loop, eval}, -1, Err::throw_return, 0},
      {Exit::exit_, {body, loop, eval}, 0, {}, EXIT_EXIT},
      {Exit::exit_, {tryall, body, eval}, 1, {}, EXIT_EXIT},
      {Exit::thr, {katch, loop, body, eval}, 0, {}, EXIT_THROW},
      {Exit::thr, {katch, tryall, eval}, -1, Err::throw_throw, 0},
      {Exit::thr, {loop, eval}, -1, Err::throw_throw, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(n++);
    stack::reset();
    clear_pending_exit();
    stack::push_value(int_cell(-1));
    std::vector<Cell*> bases;
    for (uint32_t k : c.frames) {
      bases.push_back(stack::push_frame(k, word(kFoo)));
      stack::push_value(int_cell(static_cast<int32_t>(bases.size())));
    }
    // The exit's own native frame: slot 0 the value, slot 1 the throw's name.
    stack::push_native_frame(word(kBar));
    stack::push_value(int_cell(500));
    stack::push_value(word(kLoop));
    if (c.stop < 0) {
      // Raised from the native's frame as it stood: a try frame below catches it.
      EXPECT_EQ(test::raised([&] { run_exit(c.exit); }), c.error);
      continue;
    }
    uint32_t code = run_exit(c.exit);
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(pending_exit().code, c.code);
    EXPECT_TRUE(stack::exit_stops_at(static_cast<uint32_t>(c.stop)));
    EXPECT_EQ(stack::depth(), static_cast<uint32_t>(c.stop) + 1);
    EXPECT_EQ(stack::base(), bases[c.stop]);
    bool valued = c.exit == Exit::brk_value || c.exit == Exit::ret || c.exit == Exit::thr;
    EXPECT_EQ(stack::top(), stack::base());
    if (c.exit == Exit::thr) {
      EXPECT_EQ(stack::arg(1)->word_symbol(), kLoop);  // the name in slot 1
    }
    if (valued)
      EXPECT_EQ(stack::arg(0)->int_value(), 500);
    else
      EXPECT_TRUE(stack::arg(0)->is(TYPE_UNSET));
    stack::take_exit_value();
    EXPECT_EQ(pending_exit().code, 0u);
    EXPECT_EQ(stack::top(), stack::base() + 1);
  }
}

// Errors stop at the nearest try or try/all frame, which is popped; catch frames do not stop them.
TEST_F(StackTest, ErrorsStopAtTryFrames) {
  StackState& s = stack_state;
  stack::push_value(int_cell(1));
  Cell* try_base = stack::push_native_frame(word(kFoo));  // the try native
  stack::push_value(int_cell(2));
  uint32_t try_depth = stack::depth();
  stack::push_try_frame(word(kFoo));
  stack::push_value(int_cell(3));
  stack::push_catch_frame(word(kBar));
  stack::push_loop_frame(word(kLoop));
  stack::push_value(int_cell(4));
  EXPECT_EQ(test::raised([] { fire(Err::script_no_value); }), Err::script_no_value);
  EXPECT_TRUE(stack::exit_stops_at(try_depth));
  EXPECT_EQ(stack::depth(), try_depth);
  EXPECT_EQ(s.base, try_base);
  EXPECT_EQ(s.top, try_base);

  // No try frame: the stacks end empty and nobody's frame is the target.
  stack::push_catch_frame(word(kBar));
  stack::push_value(int_cell(5));
  EXPECT_EQ(raised_code([] { fire(Err::script_no_value); }), EXIT_ERROR);
  EXPECT_EQ(stack::depth(), 0u);
  EXPECT_EQ(s.top, s.bottom);
  EXPECT_FALSE(stack::exit_stops_at(0));
  EXPECT_NE(stack::uncaught_message().find("Script Error"), std::string::npos);
}

// Whether an interpreted frame lies below a frame (the frame itself does not count).
TEST_F(StackTest, InterpretedFrameBelow) {
  const uint32_t nat = FRAME_NATIVE, interp = kInterpNativeFrame;
  const struct {
    std::vector<uint32_t> frames;
    bool once, expect;
  } cases[] = {
      {{interp, nat, nat}, false, true},   {{interp, nat, nat}, true, false},
      {{nat, interp, nat}, true, true},    {{nat, nat, interp}, false, false},
      {{interp}, false, false},            {{}, false, false},
  };
  for (const auto& c : cases) {
    stack::reset();
    for (uint32_t k : c.frames) stack::push_frame(k, word(kFoo));
    EXPECT_EQ(stack::is_eval(nullptr, c.once), c.expect) << c.frames.size() << c.once;
  }
}

TEST_F(StackTest, CurrentCallWordSkipsFixedNames) {
  EXPECT_EQ(stack::current_call_word().word_symbol(), kNotFound);
  stack::push_native_frame(word(kFoo));
  stack::push_body_frame(kEvalFrame);
  stack::push_anon_frame(kInterpNativeFrame);
  EXPECT_EQ(stack::current_call_word().word_symbol(), kFoo);
  // A throw records its position: the word found starts from there, once.
  stack::push_catch_frame(word(kLoop));
  uint32_t catch_depth = stack::depth() - 1;
  stack::push_native_frame(word(kBar));  // the throw native
  stack::push_value(int_cell(1));
  stack::unwind_throw();
  EXPECT_TRUE(stack::exit_stops_at(catch_depth));
  EXPECT_EQ(stack::current_call_word().word_symbol(), kBar);
  EXPECT_EQ(stack::current_call_word().word_symbol(), kLoop);
  // Once a catch has taken the throw, a later error names its own place.
  stack::push_native_frame(word(kBar));
  stack::push_value(int_cell(1));
  stack::unwind_throw();
  stack::take_exit_value();
  stack::push_native_frame(word(kFoo));
  EXPECT_EQ(stack::current_call_word().word_symbol(), kFoo);
}

TEST_F(StackTest, ArgumentStackOverflow) {
  StackState& s = stack_state;
  uint32_t pushed = 0;
  EXPECT_EQ(test::raised([&] {
              for (;;) {
                stack::push_value(int_cell(1));
                pushed++;
              }
            }),
            Err::internal_stack_overflow);
  EXPECT_LT(pushed, kArgStackCells);
  EXPECT_GT(pushed, kArgStackCells - kArgHeadroomCells - 2);
  EXPECT_EQ(s.top, s.bottom);  // uncaught: emptied
  // The headroom is back in place and the stack works again.
  EXPECT_EQ(s.limit, s.end - kArgHeadroomCells);
  stack::push_value(int_cell(2));
  EXPECT_EQ(stack::last_value()->int_value(), 2);
}

TEST_F(StackTest, CallStackOverflowCaughtByTry) {
  uint32_t try_depth = stack::depth();
  stack::push_try_frame(word(kFoo));
  EXPECT_EQ(test::raised([] {
              for (;;) stack::push_native_frame(word(kBar));
            }),
            Err::internal_stack_overflow);
  EXPECT_TRUE(stack::exit_stops_at(try_depth));
  EXPECT_EQ(stack::depth(), try_depth);
  EXPECT_EQ(stack_state.call_limit, stack_state.call_end - kCallHeadroomFrames);
}

// The collector keeps what the stacks hold, and only up to the top.
TEST_F(StackTest, StacksAreRoots) {
  gc::set_enabled(true);
  NodeId kept = alloc::make_cells(4);
  NodeId dropped = alloc::make_cells(4);
  stack::push_value(testing::block_cell(kept));
  stack::push_value(testing::block_cell(dropped));
  stack::drop_values(1);
  gc::collect();
  EXPECT_TRUE(node_live(kept));
  EXPECT_FALSE(node_live(dropped));
  EXPECT_TRUE(node_live(stack_state.arg_node));
  EXPECT_TRUE(node_live(stack_state.call_node));
  EXPECT_EQ(stack_state.bottom, series_buffer(stack_state.arg_node)->cells_head());
}

}  // namespace
}  // namespace zem
