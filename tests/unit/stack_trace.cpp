// Stack traces of errors under a trace level: the words recorded by try/keep and the "*** Stack:"
// line of a formed error, in a runtime booted with its library.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/error_value.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/error.h"
#include "runtime/startup.h"

namespace zem {
namespace {

class StackTrace : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }
  void TearDown() override { error_value_state.trace_level = 0; }

  // The value of the text; its last expression is the one the test looks at, so no safe point
  // runs between that expression and the test's look.
  static Cell eval_value(const std::string& text) {
    Cell code = boot::load_source(text);
    stack::reset();
    clear_pending_exit();
    stack::push_value(code);
    EXPECT_EQ(interp::eval_block(code, true), EXIT_NONE) << text;
    return *stack::base();
  }
};

constexpr const char* kCalls =
    "g: func [] [1 / 0] f: func [] [loop 1 [g]] h: func [] [f] ";

TEST_F(StackTrace, KeepRecordsTheNamedCallsOfTheRaise) {
  const struct {
    int32_t level;
    const char* code;
    const char* stack;
  } cases[] = {
      {0, "e: try/keep [h] integer? e/stack", "true"},
      {1, "e: try/keep [h] e/stack", "[h f g]"},
      {2, "e: try/keep [h] e/stack", "[e try try h f loop g /]"},
      // The recorded words still name the calls after the stack moved on.
      {1, "e: try/keep [h] loop 3 [1] get pick e/stack 2", "func [][loop 1 [g]]"},
      // A tracer that calls a function, or raises and catches an error of its own, at the
      // epilogs the error passes leaves the recorded calls as they were.
      {1,
       "k: func [] [1] tr: func [event code offset value ref frame] [[epilog] k] "
       "e: do/trace [try/keep [h]] :tr e/stack",
       "[h f g]"},
      {1,
       "tr: func [event code offset value ref frame] [[epilog] try [1 / 0]] "
       "e: do/trace [try/keep [h]] :tr e/stack",
       "[h f g]"},
  };
  for (const auto& c : cases) {
    error_value_state.trace_level = c.level;
    EXPECT_EQ(actions::mold_text(eval_value(std::string(kCalls) + c.code)), c.stack) << c.code;
  }
}

TEST_F(StackTrace, FormedErrorShowsTheCallsUpToTheRaise) {
  error_value_state.trace_level = 1;
  Cell e = eval_value(std::string(kCalls) + "try [h]");
  std::string text = actions::form_text(e);
  EXPECT_NE(text.find("\n*** Stack: h f g "), std::string::npos) << text;
  error_value_state.trace_level = 0;
  EXPECT_EQ(actions::form_text(e).find("*** Stack:"), std::string::npos);
}

}  // namespace
}  // namespace zem
