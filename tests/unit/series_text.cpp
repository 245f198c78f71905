// The series! actions over text (1-, 2- and 4-byte units) and the hash! index upkeep of the block
// handlers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "services/random.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_series.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::ActCall;
using test::int_cell;
using test::raised;
using A = ActionIndex;
using R = test::Refinement;

Cell char_cell(uint32_t cp) { return make_char(cp); }

class SeriesText : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
    test::ensure_integer_handlers();
  }
  static std::string text(Cell s) {
    s.set_head_index(0);
    return str::to_std_string(s);
  }
  static uint32_t unit(const Cell& s) { return series_buffer(s.node())->unit(); }
  static Cell at(Cell s, uint32_t head) {
    s.set_head_index(head);
    return s;
  }
};

TEST_F(SeriesText, PickPokeAndUnits) {
  Cell s = str::make_from_c_text("abc");
  Cell c = ActCall(A::pick, {at(s, 1), int_cell(1)}).run(TYPE_SERIES);
  EXPECT_TRUE(c.is(TYPE_CHAR));
  EXPECT_EQ(c.char_value(), uint32_t('b'));
  ActCall(A::poke, {s, int_cell(1), char_cell(0xE9)}).run(TYPE_SERIES);
  EXPECT_EQ(unit(s), 1u);  // a write keeps unit 1 up to 0xFF
  ActCall(A::poke, {s, int_cell(3), char_cell(0x263A)}).run(TYPE_SERIES);
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(text(s), "\u00e9b\u263A");
  ActCall(A::poke, {s, int_cell(2), char_cell(0x1F600)}).run(TYPE_SERIES);
  EXPECT_EQ(unit(s), 4u);
  EXPECT_EQ(text(s), "\u00e9\U0001F600\u263A");
  EXPECT_EQ(raised([&] { ActCall(A::poke, {s, int_cell(1), int_cell(65)}).run(TYPE_SERIES); }),
            Err::script_invalid_arg);
  EXPECT_EQ(raised([&] { ActCall(A::poke, {s, int_cell(4), char_cell('x')}).run(TYPE_SERIES); }),
            Err::script_out_of_range);
}

TEST_F(SeriesText, StructuralActionsOnEveryUnitSize) {
  struct Case {
    const char* start;
    uint32_t head;
    A action;
    std::vector<R> refs;
    const char* result;  // UTF-8 of a string result, "" to skip
    const char* after;
  };
  const Case cases[] = {
      {"abcd", 0, A::take, {R{series::TAKE_PART, {int_cell(2)}}, R{series::TAKE_LAST, {}}}, "cd", "ab"},
      {"a\u263Ab", 0, A::take, {R{series::TAKE_PART, {int_cell(2)}}}, "a\u263A", "b"},
      {"a\u263Ab", 0, A::reverse, {}, "", "b\u263Aa"},
      {"a\U0001F600bc", 1, A::reverse, {R{series::REVERSE_PART, {int_cell(2)}}}, "", "ab\U0001F600c"},
      {"abcdef", 1, A::remove, {R{series::REMOVE_PART, {int_cell(3)}}}, "", "aef"},
      {"ab\u263Acd", 1, A::copy, {R{series::COPY_PART, {int_cell(3)}}}, "b\u263Ac", "ab\u263Acd"},
      {"ab\u263Acd", 2, A::clear, {}, "", "ab"},
  };
  for (const Case& c : cases) {
    Cell s = str::make_from_utf8(c.start);
    Cell r = ActCall(c.action, {at(s, c.head)}, c.refs).run(TYPE_SERIES);
    if (*c.result) {
      EXPECT_EQ(str::to_std_string(r), c.result) << c.start;
    }
    EXPECT_EQ(text(s), c.after) << c.start;
  }
}

TEST_F(SeriesText, MoveBetweenStringsOfDifferentUnits) {
  Cell a = str::make_from_c_text("abc");
  Cell t = str::make_from_utf8("x\u263A");
  ActCall(A::move, {a, at(t, 1)}, {R{series::MOVE_PART, {int_cell(2)}}}).run(TYPE_SERIES);
  EXPECT_EQ(text(a), "c");
  EXPECT_EQ(text(t), "xab\u263A");
  Cell u = str::make_from_utf8("\U0001F600z");
  Cell v = str::make_from_c_text("q");
  ActCall(A::move, {u, v}).run(TYPE_SERIES);
  EXPECT_EQ(text(u), "z");
  EXPECT_EQ(text(v), "\U0001F600q");
  EXPECT_EQ(unit(v), 4u);
  Cell blk = test::block_of("[1]");
  EXPECT_EQ(raised([&] { ActCall(A::move, {u, blk}).run(TYPE_SERIES); }), Err::script_move_bad);
}

TEST_F(SeriesText, RandomShuffleKeepsEveryCodePoint) {
  Cell s = str::make_from_utf8("abcdefgh\u263A");
  ActCall(A::random, {s}, {}, 3).run(TYPE_SERIES);
  std::u32string got;
  for (uint32_t i = 0; i < str::count_from_head(s); i++) got.push_back(str::code_point_at(s, i));
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, U"abcdefgh\u263A");
  Cell one = ActCall(A::random, {s}, {R{series::RANDOM_ONLY, {}}}, 3).run(TYPE_SERIES);
  EXPECT_TRUE(one.is(TYPE_CHAR));
  EXPECT_TRUE(ActCall(A::random, {str::make_string()}, {R{series::RANDOM_ONLY, {}}}, 3).run(TYPE_SERIES).is(TYPE_NONE));
}

// hash! index upkeep: every block handler that moves, removes or inserts cells reports the range.
struct HashLog {
  std::vector<std::string> calls;
};
HashLog g_hash;

class HashUpkeep : public SeriesText {
 protected:
  void SetUp() override {
    SeriesText::SetUp();
    g_hash = {};
    auto& h = further_type_hooks();
    h.hash_inserted.fn = [](const Cell&, uint32_t at, uint32_t n) { g_hash.calls.push_back("ins " + std::to_string(at) + " " + std::to_string(n)); };
    h.hash_removed.fn = [](const Cell&, uint32_t at, uint32_t n) { g_hash.calls.push_back("rem " + std::to_string(at) + " " + std::to_string(n)); };
    h.hash_changed.fn = [](const Cell&, uint32_t at, uint32_t n) { g_hash.calls.push_back("chg " + std::to_string(at) + " " + std::to_string(n)); };
    h.hash_replaced.fn = [](const Cell&, uint32_t at, uint32_t r, uint32_t n) { g_hash.calls.push_back("rep " + std::to_string(at) + " " + std::to_string(r) + " " + std::to_string(n)); };
    h.hash_moved.fn = [](const Cell&, uint32_t f, uint32_t n, uint32_t t) { g_hash.calls.push_back("mov " + std::to_string(f) + " " + std::to_string(n) + " " + std::to_string(t)); };
    h.hash_new_index.fn = [](Cell&) { g_hash.calls.push_back("new"); };
    h.hash_find.fn = [](const Cell& hash, const Cell& value, CompareOp op) -> int32_t {
      g_hash.calls.push_back("find");
      for (uint32_t i = hash.head_index(); i < block::buffer_length(hash.node()); i++)
        if (block::cell_compare(*block::cell_at_index(hash, i), value, op) == 0) return static_cast<int32_t>(i);
      return -1;
    };
  }
  void TearDown() override {
    auto& h = further_type_hooks();
    h.hash_inserted.reset();
    h.hash_removed.reset();
    h.hash_changed.reset();
    h.hash_replaced.reset();
    h.hash_moved.reset();
    h.hash_new_index.reset();
    h.hash_find.reset();
    SeriesText::TearDown();
  }
};

TEST_F(HashUpkeep, EveryCellChangeReachesTheIndex) {
  struct Case {
    A action;
    uint32_t head;
    std::vector<Cell> args;
    std::vector<R> refs;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {A::append, 0, {int_cell(9)}, {}, {"ins 4 1"}},
      {A::insert, 1, {test::block_of("[7 8]")}, {}, {"ins 1 2"}},
      {A::change, 1, {int_cell(9)}, {R{block::INSERT_PART, {int_cell(2)}}}, {"rep 1 2 1"}},
      {A::remove, 1, {}, {}, {"rem 1 1"}},
      {A::clear, 2, {}, {}, {"rem 2 2"}},
      {A::poke, 0, {int_cell(2), int_cell(5)}, {}, {"chg 1 1"}},
      {A::take, 0, {}, {R{series::TAKE_PART, {int_cell(2)}}}, {"new", "rem 0 2"}},
      {A::reverse, 0, {}, {}, {"chg 0 4"}},
      {A::sort, 0, {}, {}, {"chg 0 4"}},
      {A::trim, 0, {}, {}, {}},
      {A::put, 0, {int_cell(3), int_cell(0)}, {}, {"find", "chg 2 1"}},
  };
  for (const Case& c : cases) {
    Cell h = test::block_of("[4 3 2 1]");
    h.set_type(TYPE_HASH);
    g_hash = {};
    std::vector<Cell> args{at(h, c.head)};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ActCall(c.action, args, c.refs).run(TYPE_BLOCK);
    EXPECT_EQ(g_hash.calls, c.calls) << static_cast<int>(c.action);
  }
  Cell h = test::block_of("[1 2 3 4]");
  h.set_type(TYPE_HASH);
  g_hash = {};
  ActCall(A::move, {h, at(h, 3)}, {R{series::MOVE_PART, {int_cell(2)}}}).run(TYPE_BLOCK);
  EXPECT_EQ(g_hash.calls, (std::vector<std::string>{"mov 0 2 1"}));
}

}  // namespace
}  // namespace zem
