// Tracing over the booted runtime: functions made by the boot library are traced like natives
// (their call and return show, their bodies do not), and a run leaves no tracer behind.
#include <gtest/gtest.h>

#include <string>

#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "library/boot.h"
#include "runtime/boot_state.h"
#include "runtime/error.h"
#include "runtime/startup.h"

namespace zem {
namespace {

class Trace : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }

  // The molded result of evaluating the text, or "error" when it raises.
  static std::string eval(const std::string& text) {
    Cell code = boot::load_source(text);
    stack::reset();
    clear_pending_exit();
    stack::push_value(code);
    try {
      if (interp::eval_block(code, true) != EXIT_NONE) return "exit";
    } catch (const Unwind&) {
      clear_pending_exit();
      stack::reset();
      return "error";
    }
    return actions::mold_text(*stack::base());
  }
};

TEST_F(Trace, LibraryFunctionsShowOnlyTheirCallAndReturn) {
  boot_state.loading = true;
  std::string made = eval("lib-double: func [x] [x * 2]");
  boot_state.loading = false;
  ASSERT_NE(made, "error");
  eval("log: copy [] "
       "events: func [event code offset value ref frame] [append/only log reduce [event :ref]] "
       "user-double: func [x] [x * 2]");
  // The same body made outside start-up shows its steps.
  EXPECT_EQ(eval("do/trace [lib-double 4] :events"), "8");
  EXPECT_EQ(eval("log"),
            "[[init none] [enter none] [fetch none] [open none] [fetch none] [push none] "
            "[call lib-double] [push none] [return lib-double] [expr none] [exit none] "
            "[end none]]");
  eval("log: copy []");
  EXPECT_EQ(eval("do/trace [user-double 4] :events"), "8");
  std::string steps = eval("log");
  EXPECT_NE(steps.find("[prolog user-double]"), std::string::npos) << steps;
  EXPECT_NE(steps.find("[call *]"), std::string::npos) << steps;
  // A library function's body runs untraced even when it calls back into user code.
  boot_state.loading = true;
  eval("lib-apply: func [f x] [f x]");
  boot_state.loading = false;
  eval("log: copy []");
  EXPECT_EQ(eval("do/trace [lib-apply :user-double 1] :events"), "2");
  steps = eval("log");
  EXPECT_EQ(steps.find("user-double]"), std::string::npos) << steps;
  EXPECT_FALSE(trace_state.enabled);
  EXPECT_FALSE(trace_state.active);
}

}  // namespace
}  // namespace zem
