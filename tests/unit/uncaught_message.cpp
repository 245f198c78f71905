// The message of an exit no catcher stopped, when forming the error's message raises again.
#include <string>

#include "datatypes/block.h"
#include "datatypes/error_value.h"
#include "datatypes/object.h"
#include "evaluator/stack.h"
#include "tests/unit/context_fixture.h"

namespace zem {
namespace {

class UncaughtMessage : public testing::ContextTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
  }
  // A block nested deeper than a walk may go: forming it raises internal too-deep.
  static Cell too_deep() {
    Cell outer = block::make(1);
    Cell at = outer;
    for (int i = 0; i < 1500; i++) {
      Cell inner = block::make(1);
      block::append_cell(at, inner);
      at = inner;
    }
    return outer;
  }
  // Leaves the error uncaught in the pending record, as the program's outermost catcher finds it.
  static void pend(Err id, const Cell& error) {
    PendingExit& p = pending_exit();
    p.code = EXIT_ERROR;
    p.error = id;
    p.value = error;
  }
};

// Syntax arguments are formed: a block too deep to form makes the message fail. The report names
// the category and id, and the stacks and the pending record are as they were.
TEST_F(UncaughtMessage, FailureToFormGivesAPlainMessageAndRestoresTheRecord) {
  Cell deep = too_deep();
  Cell e = error_value::create(Err::syntax_invalid, &deep);
  StackState& s = stack_state;
  stack::push_value(e);  // a caller's cells and frame below the report stay as they are
  stack::push_anon_frame(FRAME_NATIVE);
  stack::push_value(deep);
  Cell* base = s.base;
  Cell* top = s.top;
  uint32_t depth = stack::depth();
  s.exit_target = stack::kNoExitTarget;
  pend(Err::syntax_invalid, e);

  EXPECT_EQ(stack::uncaught_message(), "*** Syntax Error: invalid (the message could not be formed)");
  const PendingExit& p = pending_exit();
  EXPECT_EQ(p.code, EXIT_ERROR);
  EXPECT_EQ(p.error, Err::syntax_invalid);
  EXPECT_TRUE(p.value.is(TYPE_ERROR));
  EXPECT_EQ(p.value.object_context(), e.object_context());
  EXPECT_EQ(stack::depth(), depth);
  EXPECT_EQ(s.base, base);
  EXPECT_EQ(s.top, top);
  EXPECT_EQ(s.exit_target, stack::kNoExitTarget);
  // Twice: nothing of the first attempt is left behind (the cycle guard's stack included).
  EXPECT_EQ(stack::uncaught_message(), "*** Syntax Error: invalid (the message could not be formed)");
}

}  // namespace
}  // namespace zem
