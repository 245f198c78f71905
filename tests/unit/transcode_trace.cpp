// transcode/trace over the booted runtime: the events a function! or routine! callback receives
// (event word, input at the token, datatype or token name, line, token), a callback that moves its
// input, and one that passes over syntax errors. Token positions are pair! values, whose datatype
// is built elsewhere: a stand-in of its constructor hook records them.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/native.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/error.h"
#include "runtime/startup.h"

namespace zem {
namespace {

class TranscodeTrace : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }
  void SetUp() override {
    saved_ = further_type_hooks();
    further_type_hooks().pair_set.fn = [](Cell& c, int32_t x, int32_t y) {
      c = Cell{};
      c.set_header(TYPE_PAIR);
      c.set_pair_xy(x, y);
    };
  }
  void TearDown() override { further_type_hooks() = saved_; }

  FurtherTypeHooks saved_;
};

// The value of the text's last expression; an error fails the test.
Cell eval(const std::string& text) {
  Cell code = boot::load_source(text);
  stack::reset();
  clear_pending_exit();
  stack::push_value(code);
  try {
    EXPECT_EQ(interp::eval_block(code, true), EXIT_NONE) << text;
  } catch (const Unwind&) {
    ADD_FAILURE() << text << " raised " << int(pending_exit().error);
    clear_pending_exit();
    stack::reset();
    return Cell{};
  }
  return *stack::base();
}

// Words by name, datatypes by name, integers, strings as their index, pairs as "x:y", blocks of
// those; one line per event when the block holds five values an event.
std::string show(const Cell& v) {
  switch (v.type()) {
    case TYPE_WORD: return std::string(symbol::name(v.word_symbol()));
    case TYPE_DATATYPE: return std::string(type_name(v.datatype_id()));
    case TYPE_INTEGER: return std::to_string(v.int_value());
    case TYPE_PAIR: return std::to_string(v.pair_x()) + ":" + std::to_string(v.pair_y());
    case TYPE_STRING: return "@" + std::to_string(v.head_index() + 1);
    case TYPE_NONE: return "none";
    case TYPE_BLOCK: {
      std::string s = "[";
      for (uint32_t i = 0, n = block::length(v); i < n; ++i)
        s += (i ? " " : "") + show(block::head_of(v)[i]);
      return s + "]";
    }
    default: return "type" + std::to_string(v.type());
  }
}

std::string events(const Cell& block) {
  std::string out;
  Cell* p = block::head_of(block);
  for (uint32_t i = 0, n = block::length(block); i < n; ++i)
    out += show(p[i]) + ((i + 1) % 5 ? " " : "\n");
  return out;
}

TEST_F(TranscodeTrace, EveryEventOfAFunctionCallback) {
  Cell log = eval(
      "log: copy [] "
      "cb: func [event input type line token] [append log reduce [event input type line token] true] "
      "transcode/trace {[a 1]^/é (b) ;c^/x/y:} :cb "
      "log");
  // Structural tokens without a datatype report their token name, with the input at their start;
  // the others show the input at the token's end. String input counts characters.
  EXPECT_EQ(events(log),
            "prescan @1 block-open 1 1:2\n"
            "open @1 block! 1 1:2\n"
            "prescan @3 word! 1 2:3\n"
            "scan @3 word! 1 2:3\n"
            "load @3 word! 1 a\n"
            "prescan @5 integer! 1 4:5\n"
            "scan @5 integer! 1 4:5\n"
            "load @5 integer! 1 1\n"
            "prescan @5 block-close 1 5:6\n"
            "close @5 block! 1 5:6\n"
            "prescan @8 word! 2 7:8\n"
            "scan @8 word! 2 7:8\n"
            "load @8 word! 2 é\n"
            "prescan @9 paren-open 2 9:10\n"
            "open @9 paren! 2 9:10\n"
            "prescan @11 word! 2 10:11\n"
            "scan @11 word! 2 10:11\n"
            "load @11 word! 2 b\n"
            "prescan @11 paren-close 2 11:12\n"
            "close @11 paren! 2 11:12\n"
            "prescan @13 comment 2 13:15\n"
            "prescan @16 path-head 3 16:17\n"
            "open @16 path! 3 16:17\n"
            "prescan @19 word! 3 18:19\n"
            "scan @19 word! 3 18:19\n"
            "load @19 word! 3 y\n"
            "close @20 set-path! 3 20:20\n");
}

TEST_F(TranscodeTrace, CallbacksSteerTheScan) {
  struct Case {
    const char* code;
    const char* result;
  };
  const Case cases[] = {
      // Only the events of the body's first block; false at load drops the value.
      {"cb: func [event input type line token] [[load close] token <> 'b] transcode/trace {a b [c]} :cb",
       "[a [c]]"},
      // A callback moving its input forward skips text; moving it back changes nothing.
      {"cb: func [event input type line token] [[scan] if event = 'scan [input: skip input 3] true] "
       "transcode/trace {a bc d} :cb",
       "[a d]"},
      {"cb: func [event input type line token] [input: head input true] transcode/trace {a b} :cb",
       "[a b]"},
      // Passing over syntax errors, moving one character on from each, as a tracer does.
      {"cb: func [event input type line token] [either event = 'error [input: next input false] [true]] "
       "transcode/trace {a ) b 1''0 c} :cb",
       "[a b c]"},
      // Fewer arguments than events give are fine.
      {"cb: func [event] [[load] true] transcode/trace {a b} :cb", "[a b]"},
  };
  for (const Case& c : cases) EXPECT_EQ(show(eval(c.code)), c.result) << c.code;
}

// A routine! callback gets the same five values; its answer decides as a function's does.
std::string routine_log;
const Cell* record_event(Cell* args, uint32_t count) {
  static Cell answer;
  routine_log += std::to_string(count) + " " + show(args[0]) + " " + show(args[2]) + ";";
  answer = make_logic(!(args[0].is(TYPE_WORD) && symbol::name(args[0].word_symbol()) == "load" &&
                        args[4].is(TYPE_WORD) && symbol::name(args[4].word_symbol()) == "b"));
  return &answer;
}

TEST_F(TranscodeTrace, RoutineCallback) {
  uint32_t entry = native::add_routine("record-event", &record_event);
  Cell spec = boot::load_source("event input type line token");
  Cell routine = function::make_routine(spec, int32_t(entry), TYPE_LOGIC, true);
  uint32_t sym = symbol::intern("record-event");
  context::add_symbol(context::global(), sym);
  Cell* slot = context::symbol_value_cell(sym, context::global());
  ASSERT_NE(slot, nullptr);
  *slot = routine;
  routine_log.clear();
  EXPECT_EQ(show(eval("transcode/trace {a b} :record-event")), "[a]");
  EXPECT_EQ(routine_log,
            "5 prescan word!;5 scan word!;5 load word!;5 prescan word!;5 scan word!;5 load word!;");
}

}  // namespace
}  // namespace zem
