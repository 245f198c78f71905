// The collector: what each root kind keeps, compaction, the mark stack, safe points, stress mode,
// weak passes and native resources.
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "runtime/error.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

using testing::append_cell;
using testing::block_cell;
using testing::integer_cell;

class CollectorTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    MemoryTest::SetUp();
    gc::set_enabled(true);
  }
};

// A small graph: block [string "abc", block [binary], integer], and unrelated garbage.
struct Graph {
  NodeId top, text, inner, bytes;
  NodeId garbage, garbage_text;

  static Graph make() {
    Graph g;
    g.top = alloc::make_cells(2);
    g.text = alloc::make_unit_series(3, 1);
    std::memcpy(series_head(g.text), "abc", 3);
    series_buffer(g.text)->tail = 3;
    g.inner = alloc::make_cells(1);
    g.bytes = alloc::make_bytes(8);
    append_cell(g.inner, Cell{TYPE_BINARY, 0, g.bytes, 0});
    append_cell(g.top, Cell{TYPE_STRING, 0, g.text, 0});
    append_cell(g.top, block_cell(g.inner));
    append_cell(g.top, integer_cell(42));  // grows the block
    g.garbage = alloc::make_cells(1);
    g.garbage_text = alloc::make_bytes(4);
    append_cell(g.garbage, Cell{TYPE_STRING, 0, g.garbage_text, 0});
    return g;
  }

  void expect_kept() const {
    for (NodeId n : {top, text, inner, bytes}) EXPECT_TRUE(node_live(n)) << n;
    for (NodeId n : {garbage, garbage_text}) EXPECT_FALSE(node_live(n)) << n;
    ASSERT_EQ(series_length(top), 3u);
    const Cell* cells = block_head(top);
    EXPECT_EQ(cells[0].node(), text);
    EXPECT_EQ(std::memcmp(series_head(text), "abc", 3), 0);
    EXPECT_EQ(cells[2].int_value(), 42);
    EXPECT_EQ(block_head(inner)->node(), bytes);
  }
};

// A context whose one value is the block `top`.
NodeId context_holding(NodeId top) {
  NodeId values = alloc::make_cells(1);
  append_cell(values, block_cell(top));
  NodeId context = alloc::make_cells(2);
  append_cell(context, Cell{TYPE_CONTEXT, 0, values, 0});
  append_cell(context, Cell{TYPE_UNSET, 0, 0, 0});
  return context;
}

NodeId g_root_node;
void mark_root_block(void*) { gc::mark_block(g_root_node); }
void mark_node_at(void* context) { gc::mark_block(*static_cast<NodeId*>(context)); }

TEST_F(CollectorTest, EachRootKindKeepsExactlyWhatItReaches) {
  struct RootKind {
    const char* what;
    std::function<void(NodeId top)> hold;
    std::function<void()> release;
  };
  static NodeId held;
  static NodeId stack, context;
  const RootKind kinds[] = {
      {"fixed root block",
       [](NodeId top) {
         g_root_node = top;
         gc::set_fixed_root(gc::RootSlot::root_block, mark_root_block);
       },
       [] { gc::set_fixed_root(gc::RootSlot::root_block, nullptr); }},
      {"root callback with context",
       [](NodeId top) {
         held = top;
         gc::add_root(mark_node_at, &held);
       },
       [] { gc::remove_root(mark_node_at, &held); }},
      {"cells of a heap stack",
       [](NodeId top) {
         stack = alloc::make_heap_series(16, 16);
         append_cell(stack, integer_cell(1));
         append_cell(stack, block_cell(top, TYPE_PAREN));
         gc::set_fixed_root(
             gc::RootSlot::arg_stack, [](void*) { gc::mark_block(stack); }, nullptr);
       },
       [] { gc::set_fixed_root(gc::RootSlot::arg_stack, nullptr); }},
      {"value of a context",
       [](NodeId top) {
         context = context_holding(top);
         gc::set_fixed_root(
             gc::RootSlot::global_context, [](void*) { gc::mark_context(context); }, nullptr);
       },
       [] { gc::set_fixed_root(gc::RootSlot::global_context, nullptr); }},
      {"word bound to a context",
       [](NodeId top) {
         context = context_holding(top);
         held = alloc::make_cells(1);
         append_cell(held, Cell{TYPE_WORD, context, 7, 0});
         gc::add_root(mark_node_at, &held);
       },
       [] { gc::remove_root(mark_node_at, &held); }},
  };
  for (const RootKind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    Graph g = Graph::make();
    kind.hold(g.top);
    gc::collect();
    g.expect_kept();
    // A second collection keeps the same, and releasing the root frees all of it.
    gc::collect();
    g.expect_kept();
    kind.release();
    gc::collect();
    for (NodeId n : {g.top, g.text, g.inner, g.bytes}) EXPECT_FALSE(node_live(n));
  }
}

TEST_F(CollectorTest, ContextValuesOnTheStackAreNotABlock) {
  static NodeId ctx;
  NodeId values = alloc::make_cells(1);
  ctx = alloc::make_cells(2);
  append_cell(ctx, Cell{TYPE_CONTEXT, 0, values, 0});
  Cell owner = Cell{TYPE_BLOCK, 0, alloc::make_cells(1), 0};
  append_cell(ctx, owner);
  gc::add_root([](void*) { gc::mark_context(ctx); });
  gc::collect();
  EXPECT_TRUE(node_live(values));
  EXPECT_TRUE(node_live(owner.node()));  // the owner cell after the context cell
  block_head(ctx)->set_flag(kContextOnStack, true);
  gc::collect();
  EXPECT_FALSE(node_live(values));
  EXPECT_TRUE(node_live(ctx));
}

TEST_F(CollectorTest, CompactionKeepsContentsAndNodes) {
  // Series of every unit and many sizes; every third one is kept.
  g_root_node = alloc::make_cells(16);
  gc::set_fixed_root(gc::RootSlot::root_block, mark_root_block);
  std::vector<NodeId> kept, dropped;
  std::vector<SeriesBuffer*> before;
  const uint32_t units[] = {1, 2, 4, 16};
  for (int i = 0; i < 3000; ++i) {
    uint32_t unit = units[i % 4];
    uint32_t count = static_cast<uint32_t>((i * 37) % 700);
    if (i % 500 == 0) count = 150000 / unit * 16;  // a few big ones
    NodeId n = alloc::make_series(count, unit, 0);
    SeriesBuffer* b = series_buffer(n);
    for (uint32_t k = 0; k < b->capacity; ++k) b->data()[k] = static_cast<uint8_t>(n * 7 + k);
    b->tail = b->capacity;
    if (i % 3 == 0) {
      append_cell(g_root_node, Cell{TYPE_BINARY, 0, n, 0});
      kept.push_back(n);
      before.push_back(b);
    } else {
      dropped.push_back(n);
    }
  }
  size_t frames_before = memory_state.series_frames.size();
  gc::collect();
  size_t moved = 0;
  for (size_t i = 0; i < kept.size(); ++i) {
    NodeId n = kept[i];
    ASSERT_TRUE(node_live(n));
    SeriesBuffer* b = series_buffer(n);
    ASSERT_EQ(b->node, n);
    ASSERT_EQ(b->used(), b->capacity);
    for (uint32_t k = 0; k < b->capacity; ++k) ASSERT_EQ(b->data()[k], static_cast<uint8_t>(n * 7 + k));
    EXPECT_FALSE(b->is_marked());
    if (b != before[i]) ++moved;
  }
  EXPECT_GT(moved, kept.size() / 2);
  for (NodeId n : dropped) EXPECT_FALSE(node_live(n));
  EXPECT_LE(memory_state.series_frames.size(), frames_before);
  // Live data is dense: every frame but the last holding data has little room left.
  uint64_t live = 0;
  for (NodeId n : kept)
    if (!series_buffer(n)->is_big()) live += kBufferOverhead + series_buffer(n)->capacity;
  live += kBufferOverhead + series_buffer(g_root_node)->capacity;
  uint64_t used = 0;
  for (const SeriesFrame& f : memory_state.series_frames) used += static_cast<uint64_t>(f.heap - f.base);
  EXPECT_EQ(used, live);
}

TEST_F(CollectorTest, DeepDataDoesNotDeepenTheMachineStack) {
  // A chain of nested blocks far deeper than recursive marking could follow.
  const int depth = 300000;
  NodeId inner = alloc::make_cells(1);
  NodeId innermost = inner;
  for (int i = 0; i < depth; ++i) {
    NodeId outer = alloc::make_cells(1);
    append_cell(outer, block_cell(inner));
    inner = outer;
  }
  append_cell(innermost, block_cell(inner));  // and a cycle back to the top
  g_root_node = inner;
  gc::set_fixed_root(gc::RootSlot::root_block, mark_root_block);
  gc::collect();
  EXPECT_TRUE(node_live(innermost));
  EXPECT_EQ(block_head(innermost)->node(), inner);
  EXPECT_EQ(alloc::live_node_count(), static_cast<uint64_t>(depth) + 1);
}

TEST_F(CollectorTest, AllocationOnlyRequestsAndSafePointsCollect) {
  gc::set_stress(0);
  uint32_t cycles = gc::collector_state.series_cycles;
  for (int i = 0; i < 2000; ++i) alloc::make_bytes(4000);  // 8 MB: past the threshold
  EXPECT_EQ(gc::collector_state.series_cycles, cycles);
  EXPECT_TRUE(gc::collector_state.requested);
  gc::set_enabled(false);
  gc::safe_point();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles);
  gc::set_enabled(true);
  gc::safe_point();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles + 1);
  EXPECT_FALSE(gc::collector_state.requested);
  gc::safe_point();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles + 1);
  // recycle collects even when the collector is off
  gc::set_enabled(false);
  gc::collect();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles + 2);
  // Garbage made the frames grow; the collection gave the surplus back.
  EXPECT_LE(memory_state.os_bytes, 8u << 20);
}

TEST_F(CollectorTest, StressModeMovesEveryBufferAndSealsTheOldOnes) {
  gc::set_stress(3);
  static NodeId kept_block, kept_big;
  kept_block = alloc::make_cells(4);
  append_cell(kept_block, integer_cell(5));
  kept_big = alloc::make_bytes(3 << 20);
  std::memset(series_head(kept_big), 0x5A, 16);
  series_buffer(kept_big)->tail = 16;
  NodeId heap = alloc::make_heap_series(4, 16);
  gc::add_root([](void*) {
    gc::mark_block(kept_block);
    gc::mark_node(kept_big);
  });
  SeriesBuffer* old_block = series_buffer(kept_block);
  SeriesBuffer* old_big = series_buffer(kept_big);
  SeriesBuffer* heap_buffer = series_buffer(heap);
  uint32_t cycles = gc::collector_state.series_cycles;
  gc::safe_point();
  gc::safe_point();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles);
  gc::safe_point();
  EXPECT_EQ(gc::collector_state.series_cycles, cycles + 1);
  EXPECT_NE(series_buffer(kept_block), old_block);
  EXPECT_NE(series_buffer(kept_big), old_big);
  EXPECT_EQ(series_buffer(heap), heap_buffer);  // heap series never move
  EXPECT_EQ(block_head(kept_block)->int_value(), 5);
  EXPECT_EQ(series_head(kept_big)[15], 0x5A);
  EXPECT_DEATH(
      {
        volatile uint32_t v = old_block->capacity;
        (void)v;
      },
      "");
  EXPECT_DEATH(
      {
        volatile uint32_t v = old_big->capacity;
        (void)v;
      },
      "");
}

// An owner table in miniature: records {series, owner, word} held in a block that is itself a root,
// but whose records must not keep their series or owner alive.
struct OwnerTable {
  NodeId records = 0;  // cells: value, owner, word per record; unset! for a dropped record
  static OwnerTable* self;

  static void mark_table(void*) { gc::mark_node(self->records); }
  static void purge() {
    SeriesBuffer* b = series_buffer(self->records);
    Cell* c = b->cells_head();
    for (; c < b->cells_tail(); c += 3) {
      if (c[0].is(TYPE_UNSET)) continue;
      bool series_lives = gc::is_marked(c[0].node());
      if (!series_lives || !gc::is_marked(c[1].node())) {
        if (series_lives) series_buffer(c[0].node())->flags &= ~kSeriesOwned;
        c[0] = c[1] = c[2] = Cell{TYPE_UNSET, 0, 0, 0};
      }
    }
    for (c = b->cells_head(); c < b->cells_tail(); c += 3)
      if (!c[0].is(TYPE_UNSET)) gc::mark_values(c, c + 3);
  }
};
OwnerTable* OwnerTable::self = nullptr;

TEST_F(CollectorTest, WeakPassDropsRecordsOfDeadSeriesOrOwners) {
  OwnerTable table;
  OwnerTable::self = &table;
  table.records = alloc::make_cells(9);
  static NodeId roots;
  roots = alloc::make_cells(4);
  gc::add_root([](void*) { gc::mark_block(roots); });
  gc::set_fixed_root(gc::RootSlot::owner_table, OwnerTable::mark_table);
  gc::add_weak_pass(OwnerTable::purge);
  // Record 1: series and owner both reachable. Record 2: owner reachable, series not.
  // Record 3: series reachable, owner not. The word of each record is bound to a context that
  // only the record holds.
  auto object = [] { return Cell{TYPE_BLOCK, 0, alloc::make_cells(1), 0}; };
  auto series = [] {
    NodeId n = alloc::make_bytes(4);
    alloc::set_series_flags(n, kSeriesOwned);
    return Cell{TYPE_BINARY, 0, n, 0};
  };
  Cell s1 = series(), o1 = object(), s2 = series(), o2 = object(), s3 = series(), o3 = object();
  NodeId word_ctx[3];
  Cell words[3];
  for (int i = 0; i < 3; ++i) {
    word_ctx[i] = alloc::make_cells(2);
    append_cell(word_ctx[i], Cell{TYPE_CONTEXT, 0, 0, 0});
    words[i] = Cell{TYPE_WORD, word_ctx[i], 1, 0};
  }
  for (const Cell& c : {s1, o1, words[0], s2, o2, words[1], s3, o3, words[2]}) append_cell(table.records, c);
  for (const Cell& c : {s1, o1, o2, s3}) append_cell(roots, c);

  gc::collect();
  const Cell* r = block_head(table.records);
  EXPECT_TRUE(r[0].is(TYPE_BINARY));
  EXPECT_TRUE(r[3].is(TYPE_UNSET));
  EXPECT_TRUE(r[6].is(TYPE_UNSET));
  EXPECT_FALSE(node_live(s2.node()));
  EXPECT_FALSE(node_live(o3.node()));
  EXPECT_TRUE(node_live(word_ctx[0]));  // reached only through the surviving record
  EXPECT_FALSE(node_live(word_ctx[1]));
  EXPECT_FALSE(node_live(word_ctx[2]));
  EXPECT_TRUE(series_buffer(s1.node())->flags & kSeriesOwned);
  EXPECT_FALSE(series_buffer(s3.node())->flags & kSeriesOwned);
  gc::remove_weak_pass(OwnerTable::purge);
}

int g_released[4];
void count_release(void* data) { ++g_released[reinterpret_cast<intptr_t>(data)]; }

TEST_F(CollectorTest, UnreachableResourcesAreReleasedOnce) {
  std::fill(std::begin(g_released), std::end(g_released), 0);
  uint32_t cls = resources::register_class("image", count_release);
  int32_t idx[4];
  for (intptr_t i = 0; i < 4; ++i) idx[i] = resources::add(reinterpret_cast<void*>(i), cls);
  static NodeId roots;
  roots = alloc::make_cells(2);
  append_cell(roots, Cell{TYPE_HANDLE, 0, 0, static_cast<uint32_t>(idx[1])});
  append_cell(roots, Cell{TYPE_HANDLE, 0, 0, static_cast<uint32_t>(idx[3])});
  gc::add_root([](void*) { gc::mark_block(roots); });
  gc::collect();
  gc::collect();
  EXPECT_EQ(g_released[0], 1);
  EXPECT_EQ(g_released[1], 0);
  EXPECT_EQ(g_released[2], 1);
  EXPECT_EQ(g_released[3], 0);
  series_buffer(roots)->tail = sizeof(Cell);  // drop the second handle
  gc::collect();
  EXPECT_EQ(g_released[3], 1);
  EXPECT_EQ(g_released[1], 0);
}

TEST_F(CollectorTest, RemovedRootEntriesAreReused) {
  static int calls;
  calls = 0;
  auto fn = [](void*) { ++calls; };
  int contexts[150];
  for (int& c : contexts) gc::add_root(fn, &c);
  size_t size = gc::collector_state.roots.size();
  for (int round = 0; round < 5; ++round) {
    for (int& c : contexts) gc::remove_root(fn, &c);
    for (int& c : contexts) gc::add_root(fn, &c);
  }
  EXPECT_EQ(gc::collector_state.roots.size(), size);
  gc::remove_root(fn, &contexts[7]);
  gc::collect();
  EXPECT_EQ(calls, 149);
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

TEST(CollectorSettings, StressFromTheEnvironment) {
  struct Case {
    const char* stress;  // nullptr: unset
    const char* boot;
    uint32_t expect_stress;
    bool expect_enabled_at_start;
  };
  const Case cases[] = {
      {nullptr, nullptr, 0, false}, {"1", nullptr, 1, false}, {"97", "0", 97, false},
      {"1", "1", 1, true},          {nullptr, "1", 0, false}, {"x3", nullptr, 0, false},
      {"", "1", 0, false},
  };
  std::string saved_stress = std::getenv("ZEM_GC_STRESS") ? std::getenv("ZEM_GC_STRESS") : "";
  bool had_stress = std::getenv("ZEM_GC_STRESS") != nullptr;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stress ? c.stress : "-") + " / " + (c.boot ? c.boot : "-"));
    c.stress ? setenv("ZEM_GC_STRESS", c.stress, 1) : unsetenv("ZEM_GC_STRESS");
    c.boot ? setenv("ZEM_GC_STRESS_BOOT", c.boot, 1) : unsetenv("ZEM_GC_STRESS_BOOT");
    gc::init();
    EXPECT_EQ(gc::collector_state.stress, c.expect_stress);
    EXPECT_EQ(gc::enabled(), c.expect_enabled_at_start);
  }
  had_stress ? setenv("ZEM_GC_STRESS", saved_stress.c_str(), 1) : unsetenv("ZEM_GC_STRESS");
  unsetenv("ZEM_GC_STRESS_BOOT");
}

#if defined(ZEM_SANITIZE)
TEST_F(CollectorTest, ReferenceToAFreedNodeStopsMarking) {
  static NodeId holder;
  holder = alloc::make_cells(1);
  NodeId freed = alloc::make_cells(1);
  append_cell(holder, block_cell(freed));
  alloc::free_node(freed);
  gc::add_root([](void*) { gc::mark_block(holder); });
  EXPECT_DEATH(gc::collect(), "not live");
}
#endif

}  // namespace
}  // namespace zem

namespace zem {
namespace {

const SeriesFrame* frame_of(NodeId n) {
  auto* at = reinterpret_cast<uint8_t*>(series_buffer(n));
  for (const SeriesFrame& f : memory_state.series_frames)
    if (f.base <= at && at < f.end) return &f;
  return nullptr;
}

// Two frames filled with 8 KB buffers. Three buffers of the upper frame (by address) are kept. When
// ten buffers of the lower frame die, the lower frame has more than 52,428 bytes of room after
// compaction and the three move down into it, leaving the upper frame empty; when none die, the
// lower frame is not a target and they slide down in their own frame.
TEST_F(CollectorTest, LiveBuffersMoveIntoALowerFrameWithEnoughRoom) {
  constexpr uint32_t kNeed = 8200;  // 8176 bytes of data and the header
  for (bool drop_ten : {true, false}) {
    SCOPED_TRACE(drop_ten ? "room in the lower frame" : "lower frame full");
    alloc::init();
    gc::init();
    gc::set_stress(0);
    static std::vector<NodeId> kept;
    kept.clear();
    std::vector<NodeId> all;
    auto room_left = [] {
      for (const SeriesFrame& f : memory_state.series_frames)
        if (static_cast<uint32_t>(f.end - f.heap) >= kNeed) return true;
      return false;
    };
    while (memory_state.series_frames.size() < 2 || room_left()) all.push_back(alloc::make_bytes(kNeed - 24));
    ASSERT_EQ(memory_state.series_frames.size(), 2u);
    uint8_t* lower = memory_state.series_frames[0].base;
    uint8_t* upper = memory_state.series_frames[1].base;
    std::vector<NodeId> in_lower, in_upper;
    for (NodeId n : all) (frame_of(n)->base == lower ? in_lower : in_upper).push_back(n);
    std::vector<NodeId> movers(in_upper.begin(), in_upper.begin() + 3);
    kept = movers;
    kept.insert(kept.end(), in_lower.begin() + (drop_ten ? 10 : 0), in_lower.end());
    gc::add_root([](void*) {
      for (NodeId n : kept) gc::mark_node(n);
    });
    gc::collect();
    for (NodeId n : movers) EXPECT_EQ(frame_of(n)->base, drop_ten ? lower : upper);
    for (const SeriesFrame& f : memory_state.series_frames) {
      uint64_t used = static_cast<uint64_t>(f.heap - f.base);
      if (f.base == lower) {
        EXPECT_EQ(used, (in_lower.size() - (drop_ten ? 7 : 0)) * kNeed);
      } else if (f.base == upper) {
        EXPECT_EQ(used, drop_ten ? 0 : 3 * kNeed);
      }
    }
  }
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

NodeId g_made_in_release;
void make_in_release(void*) { g_made_in_release = alloc::make_cells(2); }

TEST_F(CollectorTest, ASeriesMadeDuringACollectionSurvivesIt) {
  uint32_t cls = resources::register_class("made", make_in_release);
  resources::add(nullptr, cls);
  g_made_in_release = 0;
  gc::collect();  // the entry is released, its callback makes a block
  ASSERT_NE(g_made_in_release, 0u);
  EXPECT_TRUE(node_live(g_made_in_release));
  EXPECT_FALSE(series_buffer(g_made_in_release)->is_marked());
  gc::collect();  // unreachable now
  EXPECT_FALSE(node_live(g_made_in_release));
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

TEST_F(CollectorTest, ThePendingExitPayloadIsARoot) {
  NodeId value = alloc::make_cells(1), arg = alloc::make_cells(1), name = alloc::make_cells(1);
  append_cell(value, block_cell(alloc::make_cells(1)));
  pending_exit().value = block_cell(value);
  pending_exit().args[1] = block_cell(arg, TYPE_PAREN);
  pending_exit().name = block_cell(name);
  gc::collect();
  for (NodeId n : {value, block_head(value)->node(), arg, name}) EXPECT_TRUE(node_live(n));
  clear_pending_exit();
  gc::collect();
  for (NodeId n : {value, arg, name}) EXPECT_FALSE(node_live(n));
}

}  // namespace
}  // namespace zem
