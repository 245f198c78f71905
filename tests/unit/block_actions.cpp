// The block! and series! actions through their handlers, as tables of molded results.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/casefold.h"
#include "runtime/sort.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_series.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::ActCall;
using test::block_of;
using test::int_cell;
using test::mold_text;
using test::raised;
using A = ActionIndex;

class BlockActions : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
    test::ensure_integer_handlers();
  }
  static Cell at(Cell b, uint32_t head) {
    b.set_head_index(head);
    return b;
  }
  // Molds the whole block (from its first cell) and, separately, the result.
  static std::string whole(Cell b) {
    b.set_head_index(0);
    return mold_text(b);
  }
};

TEST_F(BlockActions, MoldAndFormWithNewLinesIndentationAndCycles) {
  struct Case {
    const char* block;
    MoldFlags flags;
    const char* molded;
  };
  const Case cases[] = {
      {"[1 2 3]", {}, "[1 2 3]"},
      {"[]", {}, "[]"},
      {"[~1 2]", {}, "[\n    1 2\n]"},
      {"[1 ~2 3]", {}, "[1\n2 3]"},
      {"[~1 [~2 3] 4]", {}, "[\n    1 [\n        2 3\n    ] 4\n]"},
      {"[1 [2 [3]] none]", {}, "[1 [2 [3]] none]"},
      {"[~1 ~2]", {true, false, true}, "1 2"},                // only + flat: no brackets, no breaks
      {"[~1 ~2]", {true, false, false}, "1\n2"},  // only: no break before the first
      {"[~1 ~2]", {false, false, true}, "[1 2]"},
  };
  for (const Case& c : cases) EXPECT_EQ(mold_text(block_of(c.block), c.flags), c.molded) << c.block;

  Cell b = block_of("[1 2]");
  block::append_cell(b, b);
  EXPECT_EQ(mold_text(b), "[1 2 [...]]");
  EXPECT_EQ(test::form_text(b), "1 2 ...");
  EXPECT_EQ(test::form_text(block_of("[1 [2 3] [] 4]")), "1 2 3  4");
  int32_t left = 0;
  mold_text(block_of("[~1 22]"), {}, &left);
  EXPECT_EQ(left, kNoLimit - static_cast<int32_t>(std::string("[\n    1 22\n]").size()));
}

TEST_F(BlockActions, PositioningClampsAndQueries) {
  struct Case {
    A action;
    uint32_t head;
    int32_t arg;
    uint32_t index;  // head index of the result
  };
  const Case cases[] = {
      {A::at, 0, 0, 0},  {A::at, 0, 1, 0},   {A::at, 0, 10, 3}, {A::at, 2, -1, 1},
      {A::at, 1, -5, 0}, {A::skip, 0, -5, 0}, {A::skip, 1, 1, 2}, {A::skip, 0, 9, 3},
      {A::next, 3, 0, 3}, {A::next, 1, 0, 2}, {A::back, 0, 0, 0}, {A::back, 2, 0, 1},
      {A::head, 2, 0, 0}, {A::tail, 0, 0, 3},
  };
  Cell b = block_of("[1 2 3]");
  for (const Case& c : cases) {
    ActCall call(c.action, {at(b, c.head), int_cell(c.arg)});
    EXPECT_EQ(call.run().head_index(), c.index) << static_cast<int>(c.action) << " " << c.head << " " << c.arg;
  }
  EXPECT_EQ(raised([&] { ActCall(A::at, {b, shared_cells.none}).run(); }), Err::script_invalid_arg);
  // A head beyond a shrunken buffer: length? 0 (head moved to the tail), index? the old head + 1.
  Cell s = at(block_of("[1 2 3 4 5]"), 4);
  block::truncate_at(s.node(), 2);
  EXPECT_EQ(ActCall(A::index_q, {s}).run().int_value(), 5);
  EXPECT_EQ(ActCall(A::length_q, {s}).run().int_value(), 0);
  EXPECT_TRUE(logic_flag(ActCall(A::tail_q, {s}).run()));
  EXPECT_FALSE(logic_flag(ActCall(A::head_q, {s}).run()));
}

TEST_F(BlockActions, PickAndPoke) {
  Cell b = block_of("[1 2 3]");
  struct Case {
    uint32_t head;
    int32_t n;
    int32_t expect;  // -1: none
  };
  const Case picks[] = {{0, 0, -1}, {0, 1, 1}, {0, 3, 3}, {0, 4, -1}, {1, -1, 1}, {1, -2, -1}, {2, 1, 3}};
  for (const Case& c : picks) {
    Cell r = ActCall(A::pick, {at(b, c.head), int_cell(c.n)}).run();
    if (c.expect < 0)
      EXPECT_TRUE(r.is(TYPE_NONE)) << c.head << " " << c.n;
    else
      EXPECT_EQ(r.int_value(), c.expect) << c.head << " " << c.n;
  }
  EXPECT_EQ(ActCall(A::poke, {at(b, 1), int_cell(2), int_cell(9)}).run().int_value(), 9);
  EXPECT_EQ(whole(b), "[1 2 9]");
  for (int32_t n : {0, 3, -2})
    EXPECT_EQ(raised([&] { ActCall(A::poke, {at(b, 1), int_cell(n), int_cell(0)}).run(); }),
              Err::script_out_of_range)
        << n;
}

TEST_F(BlockActions, RemoveTakeCopyReverseMove) {
  using R = test::Refinement;
  struct Case {
    const char* block;
    uint32_t head;
    A action;
    std::vector<Cell> args;
    std::vector<R> refs;
    const char* result;  // molded result ("" to skip)
    const char* after;   // the whole block afterwards
  };
  const Case cases[] = {
      {"[1 2 3 4]", 1, A::remove, {}, {}, "[3 4]", "[1 3 4]"},
      {"[1 2 3 4]", 1, A::remove, {}, {R{series::REMOVE_PART, {int_cell(2)}}}, "[4]", "[1 4]"},
      {"[1 2 3 4]", 1, A::remove, {}, {R{series::REMOVE_PART, {int_cell(0)}}}, "[2 3 4]", "[1 2 3 4]"},
      {"[1 2 3 4]", 0, A::remove, {}, {R{series::REMOVE_KEY, {int_cell(2)}}}, "[4]", "[1 4]"},
      {"[1 2 3 4]", 0, A::remove, {}, {R{series::REMOVE_KEY, {int_cell(7)}}}, "none", "[1 2 3 4]"},
      {"[1 2 3]", 0, A::take, {}, {}, "1", "[2 3]"},
      {"[]", 0, A::take, {}, {}, "none", "[]"},
      {"[1 2 3 4]", 0, A::take, {}, {R{series::TAKE_PART, {int_cell(2)}}, R{series::TAKE_LAST, {}}}, "[3 4]", "[1 2]"},
      {"[1 2 3 4]", 2, A::take, {}, {R{series::TAKE_PART, {int_cell(-1)}}}, "[2]", "[1 3 4]"},
      {"[1 2 3 4]", 2, A::take, {}, {R{series::TAKE_PART, {int_cell(0)}}}, "[2]", "[1 3 4]"},
      {"[1 2 3 4]", 0, A::take, {}, {R{series::TAKE_PART, {int_cell(0)}}, R{series::TAKE_LAST, {}}}, "[]", "[1 2 3 4]"},
      {"[1 2 3 4]", 2, A::copy, {}, {R{series::COPY_PART, {int_cell(-2)}}}, "[1 2]", "[1 2 3 4]"},
      {"[1 2 3 4]", 1, A::copy, {}, {R{series::COPY_PART, {int_cell(9)}}}, "[2 3 4]", "[1 2 3 4]"},
      {"[1 2 3 4 5]", 0, A::reverse, {}, {}, "", "[5 4 3 2 1]"},
      {"[1 2 3 4 5]", 1, A::reverse, {}, {R{series::REVERSE_PART, {int_cell(3)}}}, "", "[1 4 3 2 5]"},
      {"[1 2 3 4 5]", 1, A::reverse, {}, {R{series::REVERSE_PART, {int_cell(0)}}}, "", "[1 2 3 4 5]"},
      {"[1 2 3 4 5 6]", 0, A::reverse, {}, {R{series::REVERSE_SKIP, {int_cell(2)}}}, "", "[5 6 3 4 1 2]"},
      {"[1 2 3 4 5]", 0, A::clear, {}, {}, "", "[]"},
      {"[1 2 3 4 5]", 2, A::clear, {}, {}, "", "[1 2]"},
  };
  for (const Case& c : cases) {
    Cell b = block_of(c.block);
    std::vector<Cell> args{at(b, c.head)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Cell r = ActCall(c.action, args, c.refs).run();
    if (*c.result) {
      EXPECT_EQ(mold_text(r), c.result) << c.block << " action " << static_cast<int>(c.action);
    }
    EXPECT_EQ(whole(b), c.after) << c.block << " action " << static_cast<int>(c.action);
  }
  Cell b = block_of("[1 2 3 4 5]");
  EXPECT_EQ(raised([&] {
              ActCall(A::reverse, {b}, {R{series::REVERSE_SKIP, {int_cell(2)}}}).run();
            }),
            Err::script_invalid_refine_arg);
  EXPECT_EQ(raised([&] {
              ActCall(A::reverse, {b}, {R{series::REVERSE_SKIP, {int_cell(0)}}}).run();
            }),
            Err::script_out_of_range);
  EXPECT_EQ(raised([&] { ActCall(A::remove, {b}, {R{series::REMOVE_PART, {block_of("[1]")}}}).run(); }),
            Err::script_invalid_refine_arg);
}

TEST_F(BlockActions, MoveWithinAndBetweenSeries) {
  using R = test::Refinement;
  struct Case {
    uint32_t origin, target;
    int32_t part;
    const char* after;
  };
  const Case within[] = {
      {0, 3, 2, "[3 1 2 4 5]"},   {0, 5, 2, "[3 4 5 1 2]"}, {3, 0, 2, "[4 5 1 2 3]"},
      {0, 1, 2, "[1 2 3 4 5]"},   // onto a position inside the moved range: unchanged
      {0, 0, 1, "[1 2 3 4 5]"},   {1, 4, 1, "[1 3 4 2 5]"}, {0, 4, 2, "[3 4 1 2 5]"},
      {2, 9, 5, "[1 2 3 4 5]"},   // part clamped to the origin's length: the target is the tail
  };
  for (const Case& c : within) {
    Cell b = block_of("[1 2 3 4 5]");
    ActCall(A::move, {at(b, c.origin), at(b, c.target)}, {R{series::MOVE_PART, {int_cell(c.part)}}}).run();
    EXPECT_EQ(whole(b), c.after) << c.origin << " -> " << c.target << " /part " << c.part;
  }
  Cell a = block_of("[1 2 3]"), t = block_of("[7 8]");
  Cell r = ActCall(A::move, {at(a, 1), at(t, 1)}, {R{series::MOVE_PART, {int_cell(5)}}}).run();
  EXPECT_EQ(whole(a), "[1]");
  EXPECT_EQ(whole(t), "[7 2 3 8]");
  EXPECT_EQ(r.node(), t.node());
}

TEST_F(BlockActions, FindAndSelectRefinements) {
  using R = test::Refinement;
  struct Case {
    const char* block;
    uint32_t head;
    Cell value;
    std::vector<R> refs;
    int32_t index;  // head index of the answer, -1 none
  };
  using namespace block;
  const Case cases[] = {
      {"[1 2 3]", 0, block_of("[2 3]"), {}, 1},
      {"[1 2 3]", 0, block_of("[2 3]"), {R{FIND_TAIL, {}}}, 3},
      {"[1 2 1]", 0, int_cell(1), {R{FIND_LAST, {}}}, 2},
      {"[1 2 1]", 0, int_cell(1), {}, 0},
      {"[5 1 6 2]", 0, int_cell(6), {R{FIND_SKIP, {int_cell(2)}}}, 2},
      {"[5 1 6 2]", 0, int_cell(2), {R{FIND_SKIP, {int_cell(2)}}}, -1},
      {"[1 [2] 2]", 0, datatype_cell(TYPE_BLOCK), {}, 1},
      {"[1 #b 2]", 0, datatype_cell(TYPE_BLOCK), {R{FIND_ONLY, {}}}, 1},
      {"[1 [2] 2]", 0, datatype_cell(TYPE_BLOCK), {R{FIND_ONLY, {}}}, -1},
      {"[1 [2 3] 2 3]", 0, block_of("[2 3]"), {R{FIND_ONLY, {}}}, 1},
      {"[1 2 3 1 2]", 3, int_cell(2), {R{FIND_REVERSE, {}}}, 1},
      {"[1 2 3 1 2]", 3, int_cell(1), {R{FIND_REVERSE, {}}}, 0},
      {"[1 2 3 1 2]", 3, block_of("[1 2]"), {R{FIND_REVERSE, {}}}, 0},
      {"[1 2 3]", 0, int_cell(1), {R{FIND_MATCH, {}}}, 1},
      {"[1 2 3]", 0, int_cell(2), {R{FIND_MATCH, {}}}, -1},
      {"[1 2 3]", 0, int_cell(3), {R{FIND_PART, {int_cell(2)}}}, -1},
      {"[1 2 3]", 0, int_cell(2), {R{FIND_PART, {int_cell(2)}}}, 1},
      {"[1 2 3]", 0, int_cell(1), {R{FIND_PART, {int_cell(0)}}}, -1},
      {"[1 2 3 2]", 0, int_cell(2), {R{FIND_PART, {int_cell(3)}}, R{FIND_LAST, {}}}, 1},
      {"[1 2 3]", 3, int_cell(3), {}, -1},
      {"[1 2 3]", 3, int_cell(3), {R{FIND_REVERSE, {}}}, 2},
      {"[1 none 3]", 0, shared_cells.none, {}, 1},
  };
  for (const Case& c : cases) {
    Cell b = at(block_of(c.block), c.head);
    Cell r = ActCall(A::find, {b, c.value}, c.refs).run();
    if (c.index < 0)
      EXPECT_TRUE(r.is(TYPE_NONE)) << c.block << " " << mold_text(c.value);
    else
      EXPECT_EQ(r.head_index(), static_cast<uint32_t>(c.index)) << c.block << " " << mold_text(c.value);
  }
  Cell b = block_of("[5 1 6 2]");
  EXPECT_EQ(raised([&] { ActCall(A::find, {b, int_cell(1)}, {R{FIND_SKIP, {int_cell(0)}}}).run(); }),
            Err::script_out_of_range);
  EXPECT_EQ(raised([&] { ActCall(A::find, {b, int_cell(1)}, {R{FIND_PART, {block_of("[1]")}}}).run(); }),
            Err::script_invalid_refine_arg);
  // A part given as a position of the same series.
  EXPECT_TRUE(ActCall(A::find, {b, int_cell(6)}, {R{FIND_PART, {at(b, 2)}}}).run().is(TYPE_NONE));
  EXPECT_EQ(ActCall(A::find, {b, int_cell(6)}, {R{FIND_PART, {at(b, 3)}}}).run().head_index(), 2u);

  EXPECT_EQ(ActCall(A::select, {block_of("[5 1 6 2]"), int_cell(6)}).run().int_value(), 2);
  EXPECT_TRUE(ActCall(A::select, {block_of("[5]"), int_cell(5)}).run().is(TYPE_NONE));
  EXPECT_EQ(ActCall(A::select, {block_of("[1 2 3 4]"), block_of("[2 3]")}).run().int_value(), 4);
  EXPECT_EQ(ActCall(A::select, {block_of("[1 9 1 8]"), int_cell(1)}, {R{FIND_LAST, {}}}).run().int_value(), 8);
}

TEST_F(BlockActions, AppendInsertChangePut) {
  using R = test::Refinement;
  using namespace block;
  struct Case {
    const char* block;
    uint32_t head;
    A action;
    Cell value;
    std::vector<R> refs;
    uint32_t result_index;
    const char* after;
  };
  const Case cases[] = {
      {"[1 2]", 1, A::append, int_cell(3), {}, 0, "[1 2 3]"},
      {"[1 2]", 0, A::append, block_of("[3 4]"), {}, 0, "[1 2 3 4]"},
      {"[1 2]", 0, A::append, block_of("[3 4]"), {R{INSERT_ONLY, {}}}, 0, "[1 2 [3 4]]"},
      {"[]", 0, A::append, int_cell(7), {R{INSERT_DUP, {int_cell(3)}}}, 0, "[7 7 7]"},
      {"[]", 0, A::append, block_of("[1 2]"), {R{INSERT_DUP, {int_cell(2)}}}, 0, "[1 2 1 2]"},
      {"[1]", 0, A::append, int_cell(7), {R{INSERT_DUP, {int_cell(0)}}}, 0, "[1]"},
      {"[1]", 0, A::append, block_of("[2 3]"), {R{INSERT_PART, {int_cell(0)}}}, 0, "[1]"},
      {"[]", 0, A::insert, block_of("[1 2 3]"), {R{INSERT_PART, {int_cell(2)}}}, 2, "[1 2]"},
      {"[1 2]", 1, A::insert, int_cell(9), {}, 2, "[1 9 2]"},
      {"[1 2]", 0, A::insert, block_of("[8 9]"), {R{INSERT_PART, {int_cell(-1)}}}, 2, "[8 9 1 2]"},
      {"[1 2 3 4]", 1, A::change, int_cell(9), {}, 2, "[1 9 3 4]"},
      {"[1 2 3 4]", 1, A::change, block_of("[8 9]"), {}, 3, "[1 8 9 4]"},
      {"[1 2 3 4]", 1, A::change, block_of("[8 9]"), {R{INSERT_PART, {int_cell(1)}}}, 3, "[1 8 9 3 4]"},
      {"[1 2 3 4]", 1, A::change, int_cell(0), {R{INSERT_PART, {int_cell(9)}}}, 2, "[1 0]"},
      {"[1 2]", 2, A::change, block_of("[7 8]"), {}, 4, "[1 2 7 8]"},
      {"[1 2 3]", 0, A::change, int_cell(5), {R{INSERT_DUP, {int_cell(2)}}}, 2, "[5 5 3]"},
  };
  for (const Case& c : cases) {
    Cell b = block_of(c.block);
    Cell r = ActCall(c.action, {at(b, c.head), c.value}, c.refs).run();
    EXPECT_EQ(whole(b), c.after) << c.block << " " << static_cast<int>(c.action) << " " << mold_text(c.value);
    EXPECT_EQ(r.head_index(), c.result_index) << c.block << " " << static_cast<int>(c.action);
  }
  // The block's own cells as the value, across a growth of its buffer.
  Cell b = block_of("[1 2 3]");
  ActCall(A::insert, {at(b, 1), b}).run();
  EXPECT_EQ(whole(b), "[1 1 2 3 2 3]");
  Cell c = block_of("[1 2 3]");
  ActCall(A::change, {at(c, 1), c}).run();
  EXPECT_EQ(whole(c), "[1 1 2 3]");

  Cell p = block_of("[1 2]");
  EXPECT_EQ(ActCall(A::put, {p, int_cell(1), int_cell(5)}, {}, 1).run().int_value(), 5);
  EXPECT_EQ(whole(p), "[1 5]");
  ActCall(A::put, {p, int_cell(3), int_cell(4)}, {}, 1).run();
  EXPECT_EQ(whole(p), "[1 5 3 4]");
  Cell q = block_of("[1]");
  ActCall(A::put, {q, int_cell(1), int_cell(6)}, {}, 1).run();
  EXPECT_EQ(whole(q), "[1 6]");
}

TEST_F(BlockActions, SortRefinements) {
  using R = test::Refinement;
  using namespace block;
  struct Case {
    const char* block;
    uint32_t head;
    std::vector<R> refs;
    const char* after;
  };
  const Case cases[] = {
      {"[3 1 2]", 0, {}, "[1 2 3]"},
      {"[3 1 2]", 0, {R{SORT_REVERSE, {}}}, "[3 2 1]"},
      {"[9 3 1 2]", 1, {}, "[9 1 2 3]"},
      {"[4 3 1 2]", 0, {R{SORT_PART, {int_cell(2)}}}, "[3 4 1 2]"},
      {"[4 3 1 2]", 2, {R{SORT_PART, {int_cell(-2)}}}, "[3 4 1 2]"},
      {"[2 20 1 10]", 0, {R{SORT_SKIP, {int_cell(2)}}}, "[1 10 2 20]"},
      {"[1 20 2 10]", 0, {R{SORT_SKIP, {int_cell(2)}}, R{SORT_COMPARE, {int_cell(2)}}}, "[2 10 1 20]"},
      {"[1 2 1 1]", 0, {R{SORT_SKIP, {int_cell(2)}}, R{SORT_ALL, {}}}, "[1 1 1 2]"},
      {"[1 9 1 3 0 5]", 0, {R{SORT_SKIP, {int_cell(2)}}, R{SORT_STABLE, {}}}, "[0 5 1 9 1 3]"},
      {"[1 9 1 3 0 5]", 0, {R{SORT_SKIP, {int_cell(2)}}, R{SORT_STABLE, {}}, R{SORT_REVERSE, {}}}, "[1 9 1 3 0 5]"},
      {"[2 none 1]", 0, {}, "[none 1 2]"},  // incomparable: the type ids decide
  };
  for (const Case& c : cases) {
    Cell b = block_of(c.block);
    ActCall(A::sort, {at(b, c.head)}, c.refs, 7).run();
    EXPECT_EQ(whole(b), c.after) << c.block;
  }
  Cell b = block_of("[1 2 3]");
  const std::pair<std::vector<R>, Err> errors[] = {
      {{R{SORT_SKIP, {int_cell(2)}}}, Err::script_invalid_refine_arg},
      {{R{SORT_SKIP, {int_cell(0)}}}, Err::script_invalid_refine_arg},
      {{R{SORT_COMPARE, {int_cell(1)}}}, Err::script_bad_refines},
      {{R{SORT_SKIP, {int_cell(3)}}, R{SORT_COMPARE, {int_cell(4)}}}, Err::script_out_of_range},
      {{R{SORT_SKIP, {int_cell(3)}}, R{SORT_COMPARE, {int_cell(1)}}, R{SORT_ALL, {}}}, Err::script_bad_refines},
      {{R{SORT_COMPARE, {shared_cells.none}}}, Err::script_invalid_refine_arg},
  };
  for (const auto& [refs, err] : errors) EXPECT_EQ(raised([&] { ActCall(A::sort, {b}, refs, 7).run(); }), err);
}

// Records keyed by text or by integers sort in the order the compare action gives, through the
// same algorithms: every refinement against a sort of the same cells driven by the compare action.
TEST_F(BlockActions, TextAndIntegerKeysSortAsTheCompareActionOrders) {
  using R = test::Refinement;
  using namespace block;
  casefold::init();
  const char* pieces[] = {"a", "A", "b", "B", "\u00E9", "\u00C9", "\u017F", "s", "S", "\U0001F600", "_"};
  std::mt19937 rng(7);
  for (bool texts : {true, false}) {
    Cell b = make(400);
    for (int i = 0; i < 200; i++) {
      std::string text;
      for (uint32_t k = rng() % 4; k > 0; k--) text += pieces[rng() % std::size(pieces)];
      append_cell(b, texts ? str::make_from_utf8(text) : int_cell(static_cast<int32_t>(rng() % 40) - 20));
      append_cell(b, int_cell(i));
    }
    struct Case {
      bool case_sensitive, reverse, stable;
    };
    const Case cases[] = {{false, false, false}, {true, false, false}, {false, true, false},
                          {false, false, true},  {true, true, true},   {false, true, true}};
    for (const Case& c : cases) {
      Cell sorted = copy_cells(b, false);
      std::vector<R> refs{R{SORT_SKIP, {int_cell(2)}}};
      if (c.case_sensitive) refs.push_back(R{SORT_CASE, {}});
      if (c.reverse) refs.push_back(R{SORT_REVERSE, {}});
      if (c.stable) refs.push_back(R{SORT_STABLE, {}});
      ActCall(A::sort, {sorted}, refs, 7).run();

      std::vector<Cell> expect(head_of(b), head_of(b) + length(b));
      struct Opt {
        CompareOp op;
        bool reverse;
      } opt{c.case_sensitive ? COMP_CASE_SORT : COMP_SORT, c.reverse};
      auto by_action = [](const uint8_t* x, const uint8_t* y, void* u, intptr_t) -> int32_t {
        const auto* o = static_cast<const Opt*>(u);
        const Cell* a = reinterpret_cast<const Cell*>(x);
        const Cell* b = reinterpret_cast<const Cell*>(y);
        if (o->reverse) std::swap(a, b);
        return cell_compare(*a, *b, o->op);
      };
      auto* base = reinterpret_cast<uint8_t*>(expect.data());
      if (c.stable)
        sort::merge_sort(base, 200, 2 * sizeof(Cell), &opt, 0, by_action);
      else
        sort::quick_sort(base, 200, 2 * sizeof(Cell), &opt, 0, by_action);
      for (uint32_t i = 0; i < 200; i++) {
        ASSERT_EQ(head_of(sorted)[2 * i + 1].int_value(), expect[2 * i + 1].int_value())
            << "record " << i << " texts " << texts << " case " << c.case_sensitive << " reverse " << c.reverse
            << " stable " << c.stable;
        if (i > 0 && c.stable) {
          const Cell* prev = head_of(sorted) + 2 * i - 2;
          const Cell* cur = head_of(sorted) + 2 * i;
          int32_t order = cell_compare(prev[0], cur[0], opt.op) * (c.reverse ? -1 : 1);
          ASSERT_LE(order, 0);
          if (order == 0) {
            ASSERT_LT(prev[1].int_value(), cur[1].int_value());
          }
        }
      }
    }
  }
}

TEST_F(BlockActions, CopyDeepTakeDeepTrimSwap) {
  using R = test::Refinement;
  Cell b = block_of("[1 [2 [3]] 4]");
  Cell shallow = ActCall(A::copy, {b}).run();
  Cell deep = ActCall(A::copy, {b}, {R{series::COPY_DEEP, {}}}).run();
  Cell inner = block::head_of(b)[1];
  ActCall(A::append, {inner, int_cell(9)}).run();
  EXPECT_EQ(mold_text(shallow), "[1 [2 [3] 9] 4]");
  EXPECT_EQ(mold_text(deep), "[1 [2 [3]] 4]");
  Cell typed = ActCall(A::copy, {b}, {R{series::COPY_DEEP, {}}, R{series::COPY_TYPES, {datatype_cell(TYPE_STRING)}}}).run();
  EXPECT_EQ(block::head_of(typed)[1].node(), inner.node());  // only strings copied

  Cell cyc = block_of("[1]");
  block::append_cell(cyc, cyc);
  EXPECT_EQ(raised([&] { ActCall(A::copy, {cyc}, {R{series::COPY_DEEP, {}}}).run(); }), Err::internal_no_cycle);
  EXPECT_EQ(ptrstack::depth(), 0u);

  Cell t = block_of("[[1] 2]");
  Cell taken = ActCall(A::take, {t}, {R{series::TAKE_DEEP, {}}}, 3).run();
  EXPECT_EQ(mold_text(taken), "[1]");

  Cell tr = block_of("[none 1 none none 2 none]");
  ActCall(A::trim, {tr}, {}, 6).run();
  EXPECT_EQ(whole(tr), "[1 2]");

  Cell x = block_of("[1 2]"), y = block_of("[3 4]");
  ActCall(A::swap, {at(x, 1), y}).run();
  EXPECT_EQ(whole(x), "[1 3]");
  EXPECT_EQ(whole(y), "[2 4]");
  EXPECT_EQ(raised([&] { ActCall(A::swap, {x, int_cell(1)}).run(); }), Err::script_invalid_arg);
}

TEST_F(BlockActions, CompareMakeTo) {
  struct Case {
    const char* a;
    const char* b;
    CompareOp op;
    int32_t expect;
  };
  const Case cases[] = {
      {"[1 2]", "[1 2]", COMP_EQUAL, 0},   {"[1 2]", "[1 3]", COMP_EQUAL, -1},
      {"[1 2]", "[1 2 3]", COMP_EQUAL, 1}, {"[1 2]", "[1 2 3]", COMP_LESSER, -1},
      {"[1 3]", "[1 2 3]", COMP_LESSER, 1}, {"[1 none]", "[1 2]", COMP_SORT, -1},  // type ids
      {"[]", "[]", COMP_EQUAL, 0},         {"[1 [2]]", "[1 [2]]", COMP_EQUAL, 0},
      {"[1 2]", "[1 2]", COMP_SAME, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(block::cell_compare(block_of(c.a), block_of(c.b), c.op), c.expect) << c.a << " " << c.b;
  Cell cyc = block_of("[1]");
  block::append_cell(cyc, cyc);
  EXPECT_EQ(block::cell_compare(cyc, cyc, COMP_SAME), 0);

  Cell m = ActCall(A::make, {datatype_cell(TYPE_BLOCK), int_cell(10)}).run(TYPE_BLOCK);
  EXPECT_EQ(block::length(m), 0u);
  EXPECT_GE(series_buffer(m.node())->capacity, 160u);
  EXPECT_EQ(mold_text(ActCall(A::make, {datatype_cell(TYPE_BLOCK), block_of("[1 2]")}).run(TYPE_BLOCK)), "[1 2]");
  EXPECT_EQ(raised([&] { ActCall(A::make, {datatype_cell(TYPE_BLOCK), shared_cells.none}).run(TYPE_BLOCK); }),
            Err::script_bad_make_arg);
  EXPECT_EQ(mold_text(ActCall(A::to, {datatype_cell(TYPE_BLOCK), int_cell(3)}).run(TYPE_BLOCK)), "[3]");
}

TEST_F(BlockActions, SetOperations) {
  struct Case {
    MathOp op;
    const char* a;
    const char* b;
    int32_t skip;  // 0: none
    const char* result;
  };
  const Case cases[] = {
      {OP_UNIQUE, "[1 2 1 3 2]", nullptr, 0, "[1 2 3]"},
      {OP_UNION, "[1 2 1]", "[3 2 4]", 0, "[1 2 3 4]"},
      {OP_INTERSECT, "[1 2 3 2]", "[2 3 4]", 0, "[2 3]"},
      {OP_EXCLUDE, "[1 2 3 1]", "[2]", 0, "[1 3]"},
      {OP_DIFFERENCE, "[1 2 3]", "[2 3 4 4]", 0, "[1 4]"},
      {OP_UNIQUE, "[1 10 1 11 2 20]", nullptr, 2, "[1 10 2 20]"},
      {OP_INTERSECT, "[[1] 2 [3]]", "[[3] 2]", 0, "[2 [3]]"},
      {OP_UNIQUE, "[none none [1] [1]]", nullptr, 0, "[none [1]]"},
  };
  for (const Case& c : cases) {
    Cell a = block_of(c.a);
    Cell b = c.b ? block_of(c.b) : Cell{};
    Cell skip = int_cell(c.skip);
    Cell r = block::set_operation(c.op, a, c.b ? &b : nullptr, false, c.skip ? &skip : nullptr);
    EXPECT_EQ(mold_text(r), c.result) << c.a << " op " << c.op;
  }
  Cell a = block_of("[1]");
  Cell zero = int_cell(0);
  EXPECT_EQ(raised([&] { block::set_operation(OP_UNIQUE, a, nullptr, false, &zero); }),
            Err::script_invalid_refine_arg);
}

}  // namespace
}  // namespace zem
