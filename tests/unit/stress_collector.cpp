// Random work on a graph of blocks and strings with a safe point after every step, checked against
// a plain C++ model: whatever stays reachable keeps its content and its node, whatever does not is
// freed. Runs with compaction (a collection every few steps) and with every buffer moved each step.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

using testing::append_cell;

struct Model {
  struct Item {
    bool is_object;
    uint32_t value;  // an integer, or an object index
  };
  struct Object {
    NodeId node;
    bool is_block;
    std::vector<Item> items;  // blocks
    std::string text;         // strings
  };
  std::vector<Object> objects;  // object 0 is the root block
  std::vector<uint32_t> reachable_blocks;
  std::vector<bool> reachable;

  void refresh() {
    reachable.assign(objects.size(), false);
    reachable_blocks.clear();
    std::vector<uint32_t> todo{0};
    reachable[0] = true;
    while (!todo.empty()) {
      uint32_t o = todo.back();
      todo.pop_back();
      if (!objects[o].is_block) continue;
      reachable_blocks.push_back(o);
      for (const Item& it : objects[o].items) {
        if (it.is_object && !reachable[it.value]) {
          reachable[it.value] = true;
          todo.push_back(it.value);
        }
      }
    }
    std::sort(reachable_blocks.begin(), reachable_blocks.end());
  }
};

NodeId g_root;

class StressCollector : public testing::MemoryTest, public ::testing::WithParamInterface<int> {
 protected:
  void SetUp() override {
    MemoryTest::SetUp();
    gc::set_enabled(true);
    g_root = alloc::make_heap_series(8, sizeof(Cell));
    gc::set_fixed_root(gc::RootSlot::root_block, [](void*) { gc::mark_block(g_root); });
    model.objects.push_back({g_root, true, {}, {}});
    model.refresh();
  }

  Cell cell_of(const Model::Item& it) {
    if (!it.is_object) return testing::integer_cell(static_cast<int32_t>(it.value));
    const Model::Object& o = model.objects[it.value];
    return testing::block_cell(o.node, o.is_block ? TYPE_BLOCK : TYPE_STRING);
  }

  void add_item(uint32_t block, Model::Item it) {
    append_cell(model.objects[block].node, cell_of(it));
    model.objects[block].items.push_back(it);
  }

  void check() {
    for (uint32_t o = 0; o < model.objects.size(); ++o) {
      const Model::Object& obj = model.objects[o];
      if (!model.reachable[o]) continue;  // its node may already serve a newer object
      ASSERT_TRUE(node_live(obj.node)) << o;
      SeriesBuffer* b = series_buffer(obj.node);
      ASSERT_EQ(b->node, obj.node);
      if (obj.is_block) {
        ASSERT_EQ(b->length(), obj.items.size());
        for (size_t i = 0; i < obj.items.size(); ++i) {
          Cell want = cell_of(obj.items[i]);
          const Cell& got = b->cells_head()[i];
          ASSERT_EQ(got.header, want.header);
          if (want.is(TYPE_INTEGER)) ASSERT_EQ(got.int_value(), want.int_value());
          else ASSERT_EQ(got.node(), want.node());
        }
      } else {
        ASSERT_EQ(std::string(reinterpret_cast<char*>(b->head_ptr()), b->used()), obj.text);
      }
    }
  }

  Model model;
};

TEST_P(StressCollector, GraphSurvivesRandomWork) {
  const int mode = GetParam();  // 0: compact every 7th step; 1: move everything at every step
  gc::set_stress(mode == 0 ? 0 : 1);
  std::mt19937 rng(12345 + mode);
  auto pick = [&](size_t n) { return static_cast<uint32_t>(std::uniform_int_distribution<size_t>(0, n - 1)(rng)); };
  const int steps = mode == 0 ? 6000 : 1200;
  for (int step = 0; step < steps; ++step) {
    uint32_t block = model.reachable_blocks[pick(model.reachable_blocks.size())];
    switch (pick(10)) {
      case 0:
      case 1: {  // a new string
        std::string text(pick(200), 'a');
        for (char& c : text) c = static_cast<char>('a' + pick(26));
        if (pick(1500) == 0) text.assign(size_t{3} << 20, 'z');  // now and then a big one
        NodeId n = alloc::make_unit_series(static_cast<int64_t>(text.size()), 1);
        std::copy(text.begin(), text.end(), series_head(n));
        series_buffer(n)->tail = static_cast<uint32_t>(text.size());
        model.objects.push_back({n, false, {}, text});
        add_item(block, {true, static_cast<uint32_t>(model.objects.size() - 1)});
        break;
      }
      case 2:
      case 3: {  // a new block, under this one
        NodeId n = alloc::make_cells(pick(4));
        model.objects.push_back({n, true, {}, {}});
        add_item(block, {true, static_cast<uint32_t>(model.objects.size() - 1)});
        break;
      }
      case 4: {  // a second reference to some reachable object (sharing, cycles)
        uint32_t other = model.reachable_blocks[pick(model.reachable_blocks.size())];
        add_item(block, {true, other});
        break;
      }
      case 5:
      case 6:
        add_item(block, {false, pick(1000000)});
        break;
      case 7: {  // grow the buffer
        Model::Object& o = model.objects[block];
        if (o.node != g_root) alloc::expand_copy(o.node, series_buffer(o.node)->capacity + 16 * (1 + pick(8)));
        break;
      }
      default: {  // drop a value: it becomes garbage unless referenced elsewhere
        Model::Object& o = model.objects[block];
        if (o.items.empty()) break;
        uint32_t at = pick(o.items.size());
        SeriesBuffer* b = series_buffer(o.node);
        std::copy(b->cells_head() + at + 1, b->cells_tail(), b->cells_head() + at);
        b->tail -= sizeof(Cell);
        o.items.erase(o.items.begin() + at);
        model.refresh();
        break;
      }
    }
    if (model.reachable.size() != model.objects.size()) model.refresh();
    if (mode == 0 && step % 7 == 6) {
      gc::collect();
    } else {
      gc::safe_point();
    }
    if (step % 100 == 99) {
      ASSERT_NO_FATAL_FAILURE(check());
    }
  }
  gc::collect();
  ASSERT_NO_FATAL_FAILURE(check());
  // Nothing but the reachable objects holds a node.
  uint64_t reachable = std::count(model.reachable.begin(), model.reachable.end(), true);
  EXPECT_EQ(alloc::live_node_count(), reachable);
}

INSTANTIATE_TEST_SUITE_P(Modes, StressCollector, ::testing::Values(0, 1));

}  // namespace
}  // namespace zem
