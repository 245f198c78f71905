// Ports whose actor is a handle! to a native actor table: the dispatcher takes the actions from
// append on straight from the table, the port's own make and mold still apply.
#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/port.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/stack.h"
#include "runtime/startup.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class PortActors : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }
};

std::string eval(const std::string& text) {
  bool failed = false;
  Err error{};
  Cell v = test::eval_text(text, &failed, &error);
  return failed ? "error " + std::string(error_id_word(static_cast<uint32_t>(error))) : actions::mold_text(v);
}

Cell* native_length(ActionCall& call) {
  call.result() = make_integer(5);
  return &call.result();
}

// Answers its index argument doubled: the frame reaches the handler as the action's own.
Cell* native_pick(ActionCall& call) {
  call.result() = make_integer(call.arg(1).int_value() * 2);
  return &call.result();
}

TEST_F(PortActors, HandleActorAnswersFromItsTable) {
  static port::NativeActorTable table;
  table.handlers[static_cast<int>(ActionIndex::length_q) - 1] = &native_length;
  table.handlers[static_cast<int>(ActionIndex::pick) - 1] = &native_pick;
  Cell actor = port::add_native_actor(&table);
  context::set_or_add_word(context::global(), make_word_cell(symbol::intern("native-actor"), 0), actor);
  EXPECT_EQ(eval("append system/schemes reduce ['nat make system/standard/scheme [name: 'nat actor: native-actor]] "
                 "p: make port! [scheme: 'nat] reduce [length? p pick p 4]"),
            "[5 8]");
  EXPECT_EQ(eval("equal? p/actor native-actor"), "true");
  EXPECT_EQ(eval("copy/part mold p 11"), "\"make port! \"");
  EXPECT_EQ(eval("e: try [next p] reduce [e/id e/arg1]"), "[no-port-action next]");
  // A handle that names no table (here a released or never-made one) is no actor.
  EXPECT_EQ(eval("p/actor: null-handle length? p"), "error invalid-port");
}

}  // namespace
}  // namespace zem
