// Action dispatch: handler lookup with its error, the stack forms' special cases (form and mold with
// /part, the /part argument of append, copy/types), compare to logic.
#include "evaluator/dispatch.h"

#include <gtest/gtest.h>

#include "datatypes/unset_none_logic.h"
#include "evaluator/stack.h"
#include "runtime/unicode.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;

class DispatchTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    stack::set_fixed_symbols(1, 2, 3, 4);
    stack::push_native_frame(make_word_cell(30, 0));
  }
};

std::string utf8(Cell s) {
  int32_t n = -1;
  return unicode::string_to_utf8(s, &n);
}

TEST_F(DispatchTest, EntryTableShape) {
  for (uint32_t slot = 1; slot <= kActionCount; slot++)
    EXPECT_EQ(actions::entry(slot) == nullptr, slot == 8) << slot;
  EXPECT_EQ(actions::entry(0), nullptr);
  EXPECT_EQ(actions::entry(63), nullptr);
  EXPECT_EQ(actions::refinement_names(ActionIndex::find).size(), 11u);
  EXPECT_EQ(actions::refinement_names(ActionIndex::write)[7], "as");
}

TEST_F(DispatchTest, UnsupportedActionNamesCallAndDatatype) {
  stack::push_value(make_none());
  stack::push_value(int_cell(1));
  int32_t refs[3] = {-1, -1, -1};
  EXPECT_EQ(test::raised([&] { actions::call(ActionIndex::append, refs); }),
            Err::script_expect_arg);
  PendingExit& p = pending_exit();
  EXPECT_EQ(p.args[0].word_symbol(), 30u);  // the call's word
  EXPECT_TRUE(p.args[1].is(TYPE_DATATYPE));
  EXPECT_EQ(p.args[1].datatype_id(), TYPE_NONE);
}

TEST_F(DispatchTest, CompareTruth) {
  Cell t = make_logic(true), f = make_logic(false), n = make_none();
  struct Case {
    Cell a, b;
    CompareOp op;
    bool expect;
  };
  const Case cases[] = {
      {t, t, COMP_EQUAL, true},        {t, f, COMP_EQUAL, false},
      {t, f, COMP_NOT_EQUAL, true},    {t, t, COMP_NOT_EQUAL, false},
      {t, n, COMP_EQUAL, false},       {t, n, COMP_NOT_EQUAL, true},  // cannot compare: unequal
      {n, n, COMP_STRICT_EQUAL, true}, {n, n, COMP_SAME, true},
      {t, n, COMP_FIND, false},
  };
  for (const Case& c : cases) EXPECT_EQ(actions::compare(c.a, c.b, c.op), c.expect);
  // Ordering of values that do not order raises.
  EXPECT_EQ(test::raised([&] { actions::compare(t, f, COMP_LESSER); }),
            Err::script_invalid_compare);
  stack::push_value(t);
  stack::push_value(t);
  actions::compare_to_logic(COMP_EQUAL);
  EXPECT_TRUE(stack::arg(0)->is(TYPE_LOGIC));
  EXPECT_TRUE(logic_flag(*stack::arg(0)));
  EXPECT_EQ(stack::top(), stack::base() + 1);
}

TEST_F(DispatchTest, FormAndMoldWithPart) {
  struct Case {
    ActionIndex action;
    Cell value;
    int32_t part;  // -1 none
    const char* expect;
  };
  const Case cases[] = {
      {ActionIndex::form, make_logic(true), -1, "true"},
      {ActionIndex::form, make_logic(false), 3, "fal"},
      {ActionIndex::form, make_none(), 0, ""},
      {ActionIndex::form, make_none(), -5, ""},
      {ActionIndex::mold, make_none(), -1, "none"},
      {ActionIndex::mold, make_logic(false), 2, "fa"},
  };
  for (const Case& c : cases) {
    stack::reset_arguments();
    stack::push_value(c.value);
    int32_t refs[4] = {-1, -1, -1, -1};
    if (c.part != -1) {
      stack::push_value(int_cell(c.part));
      refs[c.action == ActionIndex::form ? 0 : 3] = 1;
    }
    actions::entry(static_cast<uint32_t>(c.action))(refs);
    ASSERT_TRUE(stack::arg(0)->is(TYPE_STRING));
    EXPECT_EQ(utf8(*stack::arg(0)), c.expect);
    EXPECT_EQ(stack::top(), stack::base() + 1);
  }
}

TEST_F(DispatchTest, RefinementInt) {
  struct Case {
    Cell v;
    int32_t expect;
  };
  Cell ch{};
  ch.set_header(TYPE_CHAR);
  ch.set_char_value('A');
  for (const Case& c : {Case{int_cell(-4), -4}, Case{ch, 65}, Case{make_logic(true), 1},
                        Case{make_logic(false), 2}, Case{make_none(), 0}}) {
    stack::reset_arguments();
    stack::push_value(make_none());
    stack::push_value(c.v);
    EXPECT_EQ(actions::refinement_int(), c.expect);
  }
}

// A block! stand-in whose append records what it was given.
struct Seen {
  Cell value, part;
  bool called = false;
} g_seen;
Cell* recording_append(ActionCall& call) {
  g_seen.called = true;
  g_seen.value = call.arg(1);
  g_seen.part = call.has(0) ? *call.refinement_arg(0) : make_none();
  return &call.result();
}

TEST_F(DispatchTest, AppendPartArgument) {
  register_type(TYPE_BLOCK, TYPE_NONE_ID, "block!",
                HandlerRow().set(ActionIndex::append, &recording_append));
  NodeId a = alloc::make_cells(8), b = alloc::make_cells(8);
  series_buffer(a)->set_length(8);
  auto blk = [](NodeId n, uint32_t head) { return Cell{TYPE_BLOCK, head, n, 0}; };
  struct Case {
    Cell value, part;
    Err error;
    int32_t count;       // recorded part count, -1: handler not called
    uint32_t value_head;  // value's head after the check
  };
  const Case cases[] = {
      {blk(a, 2), blk(a, 5), {}, 3, 2},
      {blk(a, 5), blk(a, 2), {}, 3, 2},  // backwards: the start moves back
      {blk(a, 2), blk(a, 20), {}, 6, 2},  // clamped to the tail
      {blk(a, 2), blk(b, 5), Err::script_invalid_refine_arg, -1, 0},
      {make_none(), blk(a, 5), Err::script_invalid_part, -1, 0},
      {blk(a, 2), int_cell(0), {}, -1, 0},  // nothing to add
  };
  for (const Case& c : cases) {
    g_seen = {};
    stack::reset_arguments();
    stack::push_value(blk(b, 0));
    stack::push_value(c.value);
    stack::push_value(c.part);
    int32_t refs[3] = {2, -1, -1};
    Err e = test::raised([&] { actions::call(ActionIndex::append, refs); });
    EXPECT_EQ(e, c.error);
    if (c.error != Err{}) continue;
    EXPECT_EQ(g_seen.called, c.count >= 0);
    if (c.count < 0) {
      EXPECT_EQ(stack::arg(0)->node(), b);  // the series is the result
      continue;
    }
    EXPECT_EQ(g_seen.part.int_value(), c.count);
    EXPECT_EQ(g_seen.value.head_index(), c.value_head);
  }
  // /dup below 1 adds nothing either.
  g_seen = {};
  stack::reset_arguments();
  stack::push_value(blk(b, 0));
  stack::push_value(int_cell(1));
  stack::push_value(int_cell(0));
  int32_t refs[3] = {-1, -1, 2};
  actions::call(ActionIndex::append, refs);
  EXPECT_FALSE(g_seen.called);
}

TEST_F(DispatchTest, CopyTypesMustBeDatatypeOrTypeset) {
  register_type(TYPE_BLOCK, TYPE_NONE_ID, "block!",
                HandlerRow().set(ActionIndex::copy, &recording_append));
  NodeId a = alloc::make_cells(2);
  stack::push_value(Cell{TYPE_BLOCK, 0, a, 0});
  stack::push_value(int_cell(3));
  int32_t refs[3] = {-1, -1, 1};
  EXPECT_EQ(test::raised([&] { actions::call(ActionIndex::copy, refs); }),
            Err::script_expect_arg);
  *stack::arg(1) = datatype_cell(TYPE_INTEGER);
  actions::call(ActionIndex::copy, refs);
}

}  // namespace
}  // namespace zem
