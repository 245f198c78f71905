// Series ownership: owners, change notices and their records.
#include "runtime/ownership.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "runtime/collector.h"
#include "runtime/hashtab.h"
#include "services/random.h"
#include "runtime/wiring.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_series.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::ActCall;
using test::block_of;
using test::int_cell;
using R = test::Refinement;
using A = ActionIndex;

struct Log {
  std::vector<std::string> entries;
  std::vector<uint32_t> lengths;  // the series' length from its first cell at each call
};
Log g_log;

void recording_handler(const Cell& owner, const Cell& word, const Cell& target,
                       ownership::Change action, const Cell*, int32_t index, int32_t part) {
  g_log.entries.push_back(std::string(ownership::change_word(action)) + " " + std::to_string(word.int_value()));
  g_log.lengths.push_back(series_buffer(target.node())->length());
}

class Ownership : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::values);
    test::ensure_integer_handlers();
    wiring.deep_change = &recording_handler;
    g_log = {};
  }
  void TearDown() override {
    wiring.deep_change = nullptr;
    MemoryTest::TearDown();
  }
  // An object! stand-in: its context node (0: none) and change-handler record.
  static Cell owner_cell(NodeId context = 0, NodeId record = 1) {
    Cell c = test::typed_cell(TYPE_OBJECT);
    c.set_object(context, 0, record);
    return c;
  }
};

TEST_F(Ownership, EveryMutatingActionReportsBeforeAndAfter) {
  struct Case {
    A action;
    std::vector<Cell> args;  // after the series
    std::vector<R> refs;
    uint32_t refinement_count;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {A::append, {int_cell(9)}, {}, 3, "append", "appended"},
      {A::insert, {int_cell(9)}, {}, 3, "insert", "inserted"},
      {A::change, {int_cell(9)}, {}, 3, "change", "changed"},
      {A::clear, {}, {}, 0, "clear", "cleared"},
      {A::poke, {int_cell(1), int_cell(9)}, {}, 0, "poke", "poked"},
      {A::remove, {}, {}, 2, "remove", "removed"},
      {A::reverse, {}, {}, 2, "reverse", "reversed"},
      {A::take, {}, {}, 3, "take", "taken"},
      {A::random, {}, {}, 3, "random", "randomized"},
      {A::sort, {}, {}, 7, "sort", "sorted"},
      {A::put, {int_cell(1), int_cell(5)}, {}, 1, "put", "put-ed"},
      {A::trim, {}, {}, 6, "trim", "trimmed"},
      {A::swap, {block_of("[7]")}, {}, 0, "swap", "swaped"},
      {A::move, {block_of("[7]")}, {}, 1, "move", "moved"},
  };
  for (const Case& c : cases) {
    Cell b = block_of("[3 1 2]");
    ownership::set_owner(b, owner_cell(), int_cell(42));
    g_log = {};
    std::vector<Cell> args{b};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ActCall(c.action, args, c.refs, c.refinement_count).run();
    ASSERT_EQ(g_log.entries.size(), 2u) << c.before;
    EXPECT_EQ(g_log.entries[0], std::string(c.before) + " 42");
    EXPECT_EQ(g_log.entries[1], std::string(c.after) + " 42");
    EXPECT_EQ(g_log.lengths[0], 3u) << c.before << ": the first call comes before the change";
  }
  // An unowned series, or one whose owner has no change handler, reaches no handler: no
  // past-tense call either.
  g_log = {};
  ActCall(A::append, {block_of("[1]"), int_cell(2)}, {}, 3).run();
  Cell quiet = block_of("[1]");
  ownership::set_owner(quiet, owner_cell(0, 0), int_cell(42));
  ActCall(A::append, {quiet, int_cell(2)}, {}, 3).run();
  EXPECT_TRUE(g_log.entries.empty());
}

TEST_F(Ownership, NestedSharedAndCyclicSeries) {
  Cell inner = block_of("[1]");
  Cell outer = block_of("[0]");
  block::append_cell(outer, inner);
  block::append_cell(outer, outer);  // a cycle
  ownership::set_owner(outer, owner_cell(), int_cell(7));
  ownership::set_owner(inner, owner_cell(), int_cell(8));  // already owned: keeps its first owner
  EXPECT_TRUE(ownership::is_owned(inner));
  ActCall(A::append, {inner, int_cell(2)}, {}, 3).run();
  EXPECT_EQ(g_log.entries, (std::vector<std::string>{"append 7", "appended 7"}));
  ownership::unbind(outer);
  EXPECT_FALSE(ownership::is_owned(outer));
  EXPECT_FALSE(ownership::is_owned(inner));
  EXPECT_EQ(ownership::record_count(), 0u);

  // A string field is owned too; modify `owned` sets and drops ownership through the same table.
  Cell s = str::make_from_c_text("ab");
  auto real_word_is = wiring.word_is;
  wiring.word_is = [](const Cell& w, std::string_view name) { return w.int_value() == 1 && name == "owned"; };
  Cell spec = block::make(2);
  block::append_cell(spec, owner_cell());
  block::append_cell(spec, int_cell(5));
  ActCall(A::modify, {s, int_cell(1), spec}, {}, 1).run(TYPE_SERIES);
  EXPECT_TRUE(ownership::is_owned(s));
  EXPECT_EQ(ActCall(A::reflect, {s, int_cell(1)}).run(TYPE_SERIES).type(), TYPE_OBJECT);
  ActCall(A::modify, {s, int_cell(1), test::typed_cell(TYPE_NONE)}, {}, 1).run(TYPE_SERIES);
  EXPECT_FALSE(ownership::is_owned(s));
  EXPECT_EQ(test::raised([&] { ActCall(A::reflect, {s, int_cell(2)}).run(TYPE_SERIES); }), Err::internal_not_done);
  wiring.word_is = real_word_is;
}

// reflect and modify name the field with a word, compared by canonical symbol.
TEST_F(Ownership, FieldWordsThroughTheSymbolTable) {
  hashtab::init(random::hash_seed());
  symbol::init();
  Cell owned = test::typed_cell(TYPE_WORD), other = test::typed_cell(TYPE_WORD);
  owned.set_word(0, symbol::intern("Owned"), Cell::kNoIndex);
  other.set_word(0, symbol::intern("owner"), Cell::kNoIndex);
  symbol::intern("owned");
  Cell b = test::block_of("[1]");
  Cell spec = block::make(2);
  block::append_cell(spec, owner_cell());
  block::append_cell(spec, int_cell(5));
  ActCall(A::modify, {b, other, spec}, {}, 1).run(TYPE_SERIES);
  EXPECT_FALSE(ownership::is_owned(b));
  ActCall(A::modify, {b, owned, spec}, {}, 1).run(TYPE_SERIES);
  EXPECT_TRUE(ownership::is_owned(b));
  EXPECT_EQ(ActCall(A::reflect, {b, owned}).run(TYPE_SERIES).type(), TYPE_OBJECT);
}

// The owner dies while the series lives: the record goes and the series is no longer flagged.
TEST_F(Ownership, DeadOwnerClearsTheOwnedFlag) {
  Cell b = block_of("[1 2]");
  NodeId context = alloc::make_cells(1);  // the owner's context, reachable from nothing
  ownership::set_owner(b, owner_cell(context), int_cell(3));
  ASSERT_TRUE(ownership::is_owned(b));
  struct Root {
    NodeId node;
  } root{b.node()};
  gc::ScopedRoot keep([](void* r) { gc::mark_block(static_cast<Root*>(r)->node); }, &root);
  gc::collect();
  EXPECT_FALSE(ownership::is_owned(b));
  EXPECT_EQ(ownership::record_count(), 0u);
  EXPECT_EQ(ownership::lookup(b.node()), nullptr);
  ActCall(A::append, {b, int_cell(3)}, {}, 3).run();
  EXPECT_TRUE(g_log.entries.empty());
}

}  // namespace
}  // namespace zem
