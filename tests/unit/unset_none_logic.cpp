// unset!, none! and logic!: truth rules and their action handlers.
#include "datatypes/unset_none_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "runtime/startup.h"
#include "services/random.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::float_cell;
using test::Frame;
using test::int_cell;
using test::raised;

class Logic : public ::testing::Test {
 protected:
  void SetUp() override { init_through(StartLayer::datatypes); }
};

// A logic cell holding any word (only 1 reads as true), and the word a cell holds.
Cell logic_raw(uint32_t word) {
  Cell c = make_logic(false);
  c.set_raw_words(word, 0, 0);
  return c;
}
uint32_t logic_word(const Cell& c) { return c.raw_words()[0]; }

TEST_F(Logic, TruthRules) {
  Cell block{};
  block.set_header(TYPE_BLOCK);
  struct Case {
    const char* what;
    Cell value;
    bool truth;
  } cases[] = {
      {"none", make_none(), false},
      {"false", make_logic(false), false},
      {"true", make_logic(true), true},
      {"logic 2", logic_raw(2), false},
      {"logic -1", logic_raw(0xFFFFFFFF), false},
      {"unset", make_unset(), true},
      {"0", int_cell(0), true},
      {"0.0", float_cell(0.0), true},
      {"empty block", block, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(is_true(c.value), c.truth);
    EXPECT_EQ(cell_is_true(c.value, false, nullptr), c.truth);
    if (!c.value.is(TYPE_UNSET)) {
      EXPECT_EQ(result_is_true_checked(c.value), c.truth);
    }
  }
  Cell word = int_cell(5);  // stands in for the word that produced the value
  EXPECT_EQ(raised([&] { cell_is_true(make_unset(), true, &word); }), Err::script_no_value);
  EXPECT_EQ(pending_exit().args[0].int_value(), 5);
  EXPECT_TRUE(cell_is_true(make_unset(), false, &word));
  EXPECT_EQ(raised([&] { result_is_true_checked(make_unset()); }), Err::script_no_return);
}

TEST_F(Logic, SharedCellsSetByRegistration) {
  EXPECT_TRUE(shared_cells.unset.is(TYPE_UNSET));
  EXPECT_TRUE(shared_cells.none.is(TYPE_NONE));
  EXPECT_TRUE(shared_cells.true_value.is(TYPE_LOGIC));
  EXPECT_EQ(logic_word(shared_cells.true_value), 1u);
  EXPECT_TRUE(shared_cells.false_value.is(TYPE_LOGIC));
  EXPECT_EQ(logic_word(shared_cells.false_value), 0u);
}

TEST_F(Logic, FormAndMold) {
  struct Case {
    Cell value;
    const char* form;
    const char* mold;
    const char* mold_all;
  } cases[] = {
      {make_unset(), "", "unset", "#(unset)"},
      {make_none(), "none", "none", "#(none)"},
      {make_logic(true), "true", "true", "#(true)"},
      {make_logic(false), "false", "false", "#(false)"},
      {logic_raw(2), "false", "false", "#(false)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mold);
    int32_t left;
    EXPECT_EQ(test::form_text(c.value, &left), c.form);
    EXPECT_EQ(left, kNoLimit - static_cast<int32_t>(strlen(c.form)));
    EXPECT_EQ(test::mold_text(c.value, {}, &left), c.mold);
    EXPECT_EQ(left, kNoLimit - static_cast<int32_t>(strlen(c.mold)));
    EXPECT_EQ(test::mold_text(c.value, {.all = true}, &left), c.mold_all);
    EXPECT_EQ(left, kNoLimit - static_cast<int32_t>(strlen(c.mold_all)));
  }
}

TEST_F(Logic, Compare) {
  const Cell none = make_none(), unset = make_unset(), t = make_logic(true), f = make_logic(false);
  struct Case {
    Cell a, b;
    CompareOp op;
    int32_t answer;
  } cases[] = {
      {none, none, COMP_EQUAL, 0},
      {none, none, COMP_SORT, 0},
      {none, none, COMP_LESSER, kCannotCompare},
      {none, f, COMP_EQUAL, kCannotCompare},
      {unset, unset, COMP_SAME, 0},
      {unset, unset, COMP_GREATER, kCannotCompare},
      {unset, none, COMP_EQUAL, kCannotCompare},
      {t, t, COMP_EQUAL, 0},
      {f, t, COMP_NOT_EQUAL, -1},
      {f, t, COMP_SORT, -1},
      {t, f, COMP_CASE_SORT, 1},
      {f, t, COMP_LESSER, kCannotCompare},
      {t, none, COMP_EQUAL, kCannotCompare},
      {logic_raw(2), f, COMP_EQUAL, 0},  // both false
      {t, t, COMP_PARSE, kCannotCompare},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(compare_handler(c.a.type())(c.a, c.b, c.op), c.answer)
        << type_name(c.a.type()) << " op " << c.op;
  }
}

TEST_F(Logic, MakeAndTo) {
  Cell dt = datatype_cell(TYPE_LOGIC);
  Cell str{};
  str.set_header(TYPE_STRING);
  Cell pct = float_cell(0.0);
  pct.set_type(TYPE_PERCENT);
  struct Case {
    const char* what;
    ActionIndex action;
    Cell spec;
    bool result;
  } cases[] = {
      {"to 0", ActionIndex::to, int_cell(0), true},
      {"make 0", ActionIndex::make, int_cell(0), false},
      {"make 7", ActionIndex::make, int_cell(7), true},
      {"make 0.0", ActionIndex::make, float_cell(0.0), false},
      {"make -0.0", ActionIndex::make, float_cell(-0.0), false},
      {"make NaN", ActionIndex::make, float_cell(std::numeric_limits<double>::quiet_NaN()), true},
      {"make 0%", ActionIndex::make, pct, false},
      {"make none", ActionIndex::make, make_none(), false},
      {"make string", ActionIndex::make, str, true},
      {"to none", ActionIndex::to, make_none(), false},
      {"to false", ActionIndex::to, make_logic(false), false},
      {"to 0.0", ActionIndex::to, float_cell(0.0), true},
      {"to unset", ActionIndex::to, make_unset(), true},
  };
  for (const Case& c : cases) {
    Frame f(c.action, {dt, c.spec});
    Cell r = f.run(TYPE_LOGIC);
    EXPECT_TRUE(r.is(TYPE_LOGIC)) << c.what;
    EXPECT_EQ(logic_flag(r), c.result) << c.what;
  }
  for (TypeId t : {TYPE_UNSET, TYPE_NONE}) {
    for (ActionIndex a : {ActionIndex::make, ActionIndex::to}) {
      Frame f(a, {datatype_cell(t), int_cell(3)});
      EXPECT_TRUE(f.run(t).is(t));
    }
  }
}

TEST_F(Logic, NoneAnswersNoneToSeriesActions) {
  for (ActionIndex a : {ActionIndex::clear, ActionIndex::find, ActionIndex::remove,
                        ActionIndex::select, ActionIndex::take, ActionIndex::length_q}) {
    Frame f(a, {make_none(), int_cell(1)});
    EXPECT_TRUE(f.run().is(TYPE_NONE)) << action_word(a);
  }
  EXPECT_EQ(action_handler(TYPE_NONE, ActionIndex::append), nullptr);
  EXPECT_EQ(action_handler(TYPE_UNSET, ActionIndex::clear), nullptr);
}

TEST_F(Logic, ComplementAndBitwise) {
  struct Case {
    ActionIndex action;
    Cell a, b;
    bool result;
  } cases[] = {
      {ActionIndex::complement, make_logic(true), Cell{}, false},
      {ActionIndex::complement, make_logic(false), Cell{}, true},
      {ActionIndex::complement, logic_raw(2), Cell{}, true},  // a false value complements to true
      {ActionIndex::and_t, make_logic(true), make_logic(true), true},
      {ActionIndex::and_t, make_logic(true), make_logic(false), false},
      {ActionIndex::and_t, logic_raw(3), make_logic(true), false},
      {ActionIndex::or_t, make_logic(false), make_logic(false), false},
      {ActionIndex::or_t, make_logic(false), make_logic(true), true},
      {ActionIndex::xor_t, make_logic(true), make_logic(true), false},
      {ActionIndex::xor_t, make_logic(true), make_logic(false), true},
      {ActionIndex::xor_t, logic_raw(2), make_logic(true), true},
  };
  for (const Case& c : cases) {
    Frame f(c.action, {c.a, c.b});
    Cell r = f.run();
    EXPECT_EQ(logic_word(r), c.result ? 1u : 0u) << action_word(c.action);
  }

  Cell word = int_cell(21), param_words[2] = {int_cell(1), int_cell(2)};
  Frame f(ActionIndex::and_t, {make_logic(true), int_cell(1)});
  f.call.word = &word;
  f.call.param_words = param_words;
  f.call.param_count = 2;
  EXPECT_EQ(raised([&] { f.run(); }), Err::script_expect_arg);
  const PendingExit& p = pending_exit();
  EXPECT_EQ(p.args[0].int_value(), 21);
  EXPECT_TRUE(p.args[1].is(TYPE_DATATYPE));
  EXPECT_EQ(p.args[1].datatype_id(), TYPE_INTEGER);
  EXPECT_EQ(p.args[2].int_value(), 2);
}

TEST_F(Logic, RandomFollowsTheGenerator) {
  random::init();
  // /seed seeds with the flag and answers unset.
  const int32_t seed_ref[] = {0, 1, -1, -1};
  Frame seed(ActionIndex::random, {make_logic(true)});
  seed.call.refinements = seed_ref;
  seed.call.refinement_count = 3;
  EXPECT_TRUE(seed.run().is(TYPE_UNSET));
  random::seed(1);
  std::vector<uint32_t> expected;
  for (int i = 0; i < 64; i++) expected.push_back(random::next_u32() > 1073741823 ? 1 : 0);

  random::seed(1);
  const int32_t none_ref[] = {-1, -1, -1};
  std::vector<uint32_t> drawn;
  for (int i = 0; i < 64; i++) {
    Frame draw(ActionIndex::random, {make_logic(false)});
    draw.call.refinements = none_ref;
    draw.call.refinement_count = 3;
    drawn.push_back(logic_word(draw.run()));
  }
  EXPECT_EQ(drawn, expected);
  EXPECT_NE(std::count(drawn.begin(), drawn.end(), 1u), 0);
  EXPECT_NE(std::count(drawn.begin(), drawn.end(), 0u), 0);

  const int32_t secure_ref[] = {-1, 0, -1};
  Frame secure(ActionIndex::random, {make_logic(false)});
  secure.call.refinements = secure_ref;
  secure.call.refinement_count = 3;
  EXPECT_LE(logic_word(secure.run()), 1u);
}

}  // namespace
}  // namespace zem
