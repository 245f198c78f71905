// system/state/interpreted?: frames of library functions count as compiled code, so the answer
// depends on whether any code below them is the user's.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/error.h"
#include "runtime/startup.h"

namespace zem {
namespace {

class InterpretedQuery : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }
};

// Evaluates the text as user code; the logic it gives.
bool eval_logic(const std::string& text) {
  Cell code = boot::load_source(text);
  stack::reset();
  clear_pending_exit();
  stack::push_value(code);
  EXPECT_EQ(interp::eval_block(code, true), EXIT_NONE) << text;
  EXPECT_TRUE(stack::base()->is(TYPE_LOGIC)) << text;
  return stack::base()->logic_value();
}

// Calls the global function with nothing on the call stack below it, as start-up code does.
bool call_alone(const char* name) {
  stack::reset();
  clear_pending_exit();
  EXPECT_EQ(natives::call_library(name, {}), EXIT_NONE) << name;
  EXPECT_TRUE(stack::base()->is(TYPE_LOGIC)) << name;
  return stack::base()->logic_value();
}

TEST_F(InterpretedQuery, UserCodeBelowAnswersTrue) {
  EXPECT_TRUE(eval_logic("system/state/interpreted?"));
  EXPECT_TRUE(eval_logic("f: func [] [system/state/interpreted?] f"));
  EXPECT_TRUE(eval_logic("first reduce [attempt [system/state/interpreted?]]"));
}

TEST_F(InterpretedQuery, OnlyLibraryFramesBelowAnswerFalse) {
  // The library's own function, called with nothing below it.
  eval_logic("lib-query: :system/state/interpreted? true");
  EXPECT_FALSE(call_alone("lib-query"));
  // A user function around it is interpreted code.
  eval_logic("user-query: func [] [system/state/interpreted?] true");
  EXPECT_TRUE(call_alone("user-query"));
}

}  // namespace
}  // namespace zem
