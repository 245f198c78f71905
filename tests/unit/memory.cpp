// The memory manager: sizes, placement, expansion and copies, nodes.
#include <algorithm>
#include <cstring>
#include <functional>

#include "runtime/error.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

using testing::MemoryTest;

struct SizeCase {
  const char* what;
  NodeId (*make)();
  uint32_t unit;
  uint32_t capacity;  // bytes
  uint32_t head;      // byte offset
  bool big;
  bool head_mid;
};

const SizeCase kSizes[] = {
    {"cells of 0", [] { return alloc::make_cells(0); }, 16, 0, 0, false, false},
    {"cells of 3", [] { return alloc::make_cells(3); }, 16, 48, 0, false, false},
    {"bytes of 0 get 16", [] { return alloc::make_bytes(0); }, 1, 16, 0, false, false},
    {"bytes of 1", [] { return alloc::make_bytes(1); }, 1, 16, 0, false, false},
    {"bytes of 17", [] { return alloc::make_bytes(17); }, 1, 32, 0, false, false},
    {"unit 1 of 0 gets 16 units", [] { return alloc::make_unit_series(0, 1); }, 1, 16, 0, false, false},
    {"unit 2 of 0 gets 8 units", [] { return alloc::make_unit_series(0, 2); }, 2, 16, 0, false, false},
    {"unit 4 of 0 gets 4 units", [] { return alloc::make_unit_series(0, 4); }, 4, 16, 0, false, false},
    {"unit 2 of 9", [] { return alloc::make_unit_series(9, 2); }, 2, 32, 0, false, false},
    {"unit 4 of 5", [] { return alloc::make_unit_series(5, 4); }, 4, 32, 0, false, false},
    {"head mid", [] { return alloc::make_series(10, 16, -1); }, 16, 160, 80, false, true},
    {"head offset", [] { return alloc::make_series(4, 4, 8); }, 4, 16, 8, false, false},
    // The header is 24 bytes: the largest frame buffer has 2 MB - 24 - 8 bytes of data.
    {"largest in a frame", [] { return alloc::make_bytes(kMaxFrameSize - 32); }, 1, kMaxFrameSize - 32, 0, false, false},
    {"smallest big", [] { return alloc::make_bytes(kMaxFrameSize - 31); }, 1, kMaxFrameSize - 16, 0, true, false},
    {"big cells, head mid", [] { return alloc::make_series(200000, 16, -1); }, 16, 3200000, 1600000, true, true},
};

TEST_F(MemoryTest, SizesAndPlacement) {
  for (const SizeCase& c : kSizes) {
    SCOPED_TRACE(c.what);
    NodeId node = c.make();
    ASSERT_TRUE(node_live(node));
    SeriesBuffer* b = series_buffer(node);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->unit(), c.unit);
    EXPECT_EQ(b->capacity, c.capacity);
    EXPECT_EQ(b->head, c.head);
    EXPECT_EQ(b->tail, c.head);
    EXPECT_EQ(b->is_big(), c.big);
    EXPECT_EQ((b->flags & kSeriesHeadMid) != 0, c.head_mid);
    EXPECT_TRUE(b->flags & kSeriesLive);
    EXPECT_TRUE(b->flags & kSeriesMade);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->data()) % 8, 0u);
    // The whole data area is usable.
    std::memset(b->data(), 0xA5, b->capacity);
  }
  EXPECT_EQ(memory_state.big.size(), 2u);
}

TEST_F(MemoryTest, UnsetCellsAndFilledBytes) {
  NodeId cells = alloc::make_unset_cells(5);
  SeriesBuffer* b = series_buffer(cells);
  EXPECT_EQ(b->used(), 0u);
  for (Cell* c = b->cells_head(); c < b->cells_end(); ++c) EXPECT_TRUE(c->is(TYPE_UNSET));
  NodeId bytes = alloc::make_bytes_filled(20, 0x7E);
  b = series_buffer(bytes);
  ASSERT_EQ(b->capacity, 32u);
  for (uint32_t i = 0; i < b->capacity; ++i) EXPECT_EQ(b->data()[i], 0x7E);
}

TEST_F(MemoryTest, OversizedRequestsRaiseNoMemory) {
  const std::function<void()> requests[] = {
      [] { alloc::make_bytes(int64_t{1} << 31); },
      [] { alloc::make_cells(int64_t{1} << 27); },  // 2 GB of cells
      [] { alloc::make_series(0x7FFFFFFF, 4); },     // the product overflows 32 bits
      [] { alloc::make_cells(-1); },
      [] { alloc::make_heap_series(int64_t{1} << 40, 16); },
      [] { alloc::expand(alloc::make_bytes(16), -5); },
      [] { alloc::expand(alloc::make_bytes(16), int64_t{1} << 32); },
  };
  for (const auto& request : requests) {
    try {
      request();
      ADD_FAILURE() << "no error";
    } catch (const Unwind& u) {
      EXPECT_EQ(u.code, EXIT_ERROR);
    }
  }
  // Nothing was left half made.
  EXPECT_EQ(alloc::live_node_count(), 2u);  // the two byte series of the expand requests
}

TEST_F(MemoryTest, ExpandKeepsSeriesFlagsAndLength) {
  struct Case {
    int64_t count;
    int64_t head_offset;
    int64_t new_capacity;
    uint32_t expect_capacity;
    bool expect_big;
  };
  const Case cases[] = {
      {10, 0, 0, 320, false},          // doubled
      {10, -1, 400, 400, false},       // a mid head moves to the data start
      {10, 32, 1000, 1008, false},
      {10, 0, 3000000, 3000000, true},  // becomes big
      {200000, 0, 64, 64, false},       // big shrinks into a frame: the used length is cut
  };
  for (const Case& c : cases) {
    NodeId node = alloc::make_series(c.count, 16, c.head_offset);
    SeriesBuffer* old = series_buffer(node);
    uint32_t n = std::min<uint32_t>(3, (old->capacity - old->head) / 16);
    for (uint32_t i = 0; i < n; ++i) old->cells_head()[i] = testing::integer_cell(static_cast<int32_t>(100 + i));
    old->set_length(n);
    old->flags |= kSeriesOwned | 0x400 | kSeriesMark;
    uint32_t used = old->used();

    SeriesBuffer* b = alloc::expand_copy(node, c.new_capacity);
    EXPECT_EQ(series_buffer(node), b);
    EXPECT_EQ(b->node, node);
    EXPECT_EQ(b->capacity, c.expect_capacity);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->used(), std::min(used, b->capacity));
    EXPECT_EQ(b->unit(), 16u);
    EXPECT_EQ(b->is_big(), c.expect_big);
    EXPECT_EQ(b->flags & (kSeriesOwned | 0x400 | kSeriesLive | kSeriesMade),
              kSeriesOwned | 0x400 | kSeriesLive | kSeriesMade);
    EXPECT_EQ(b->flags & (kSeriesMark | kSeriesHeadMid | kSeriesHeap), 0u);
    for (uint32_t i = 0; i < b->length(); ++i) EXPECT_EQ(b->cells_head()[i].int_value(), static_cast<int32_t>(100 + i));
    // The old buffer is dead to the collector.
    EXPECT_EQ(old->node, 0u);
    EXPECT_EQ(old->flags & kSeriesLive, 0u);
  }
}

TEST_F(MemoryTest, ExpandFillAndCopySeries) {
  NodeId node = alloc::make_bytes(16);
  SeriesBuffer* b = series_buffer(node);
  for (int i = 0; i < 16; ++i) b->data()[i] = static_cast<uint8_t>(i + 1);
  b->tail = 5;
  b = alloc::expand_fill(node, 48, 0xEE);
  ASSERT_EQ(b->capacity, 48u);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(b->data()[i], i + 1);
  for (int i = 16; i < 48; ++i) EXPECT_EQ(b->data()[i], 0xEE);

  b->flags |= 0x40;
  b->head = 2;
  NodeId copy = alloc::copy_series(node);
  ASSERT_NE(copy, node);
  SeriesBuffer* c = series_buffer(copy);
  EXPECT_EQ(c->capacity, 48u);
  EXPECT_EQ(c->head, 0u);
  EXPECT_EQ(c->used(), 3u);
  EXPECT_EQ(c->flags & 0x40, 0x40u);
  EXPECT_EQ(c->data()[0], 3);
  c->data()[0] = 99;
  EXPECT_EQ(b->data()[2], 3);  // independent
}

TEST_F(MemoryTest, NodesAreReusedAndFramesGrow) {
  NodeId a = alloc::make_bytes(16);
  NodeId b = alloc::make_bytes(16);
  EXPECT_NE(a, 0u);
  EXPECT_NE(a, b);
  alloc::free_node(a);
  EXPECT_FALSE(node_live(a));
  EXPECT_EQ(alloc::take_node(), a);  // last freed, first reused
  std::vector<NodeId> many;
  for (int i = 0; i < 25000; ++i) many.push_back(alloc::make_bytes(0));
  const auto& f = memory_state.node_frames;
  EXPECT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].used + f[1].used + f[2].used, 25003u);  // node 0, a, b
  std::sort(many.begin(), many.end());
  EXPECT_EQ(std::adjacent_find(many.begin(), many.end()), many.end());
}

TEST_F(MemoryTest, EarlierFrameWithRoomIsUsedBeforeANewFrame) {
  const auto& frames = memory_state.series_frames;
  // Fill the first frame with 64 KB buffers until a second frame is made.
  while (frames.size() < 2) alloc::make_bytes(65536 - 24 - 8);
  const uint32_t current = memory_state.current_series_frame;
  const uint32_t other = 1 - current;
  ASSERT_GT(frames[other].end - frames[other].heap, 64);
  // Fill the current frame to its end: a small request then goes back to the other frame.
  alloc::make_bytes(frames[current].end - frames[current].heap - 24);
  EXPECT_EQ(frames[current].heap, frames[current].end);
  NodeId small = alloc::make_bytes(16);
  ASSERT_EQ(frames.size(), 2u);
  auto* at = reinterpret_cast<uint8_t*>(series_buffer(small));
  EXPECT_TRUE(at >= frames[other].base && at < frames[other].end);
  EXPECT_EQ(memory_state.current_series_frame, other);
}

TEST_F(MemoryTest, HeapSeriesStayPut) {
  NodeId heap = alloc::make_heap_series(8, 16);
  SeriesBuffer* b = series_buffer(heap);
  EXPECT_TRUE(b->is_heap());
  EXPECT_TRUE(b->flags & kSeriesLive);
  EXPECT_EQ(memory_state.heap.size(), 1u);
  // Growing a heap series gives it an ordinary buffer.
  b->cells_head()[0] = testing::integer_cell(7);
  b->set_length(1);
  SeriesBuffer* grown = alloc::expand_copy(heap, 0);
  EXPECT_FALSE(grown->is_heap());
  EXPECT_EQ(grown->cells_head()[0].int_value(), 7);
  EXPECT_TRUE(memory_state.heap.empty());
  EXPECT_EQ(memory_state.heap_retired.size(), 1u);
}

TEST_F(MemoryTest, FreedBigBlocksAreReusedWithinALimit) {
  gc::set_stress(0);
  auto address = [](NodeId n) { return reinterpret_cast<uint8_t*>(series_buffer(n)); };
  uint8_t* first = address(alloc::make_bytes(6 << 20));
  gc::collect();  // nothing roots it
  ASSERT_EQ(memory_state.spare.size(), 1u);
  // Too small a need for the block (it would waste more than it holds): a new mapping.
  NodeId small = alloc::make_bytes(2 << 20);
  EXPECT_NE(address(small), first);
  // A need the block holds takes it, with its data readable and writable to the end.
  NodeId again = alloc::make_bytes(5 << 20);
  EXPECT_EQ(address(again), first);
  EXPECT_TRUE(memory_state.spare.empty());
  SeriesBuffer* b = series_buffer(again);
  std::memset(b->head_ptr(), 0x5A, b->capacity);
  EXPECT_EQ(b->head_ptr()[b->capacity - 1], 0x5A);
  // Many freed blocks: only the limit's worth stays mapped.
  uint64_t before = memory_state.os_bytes;
  for (int i = 0; i < 8; ++i) alloc::make_bytes(24 << 20);
  gc::collect();
  EXPECT_LE(memory_state.spare_bytes, uint64_t{64} << 20);
  EXPECT_LE(memory_state.os_bytes, before + (uint64_t{64} << 20));
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

TEST_F(MemoryTest, ANeedAboveTheNextFrameSizeGetsAMaximumFrame) {
  alloc::make_bytes(1 << 20);  // more than the first (1 MB) frame size, less than a big series
  ASSERT_EQ(memory_state.series_frames.size(), 1u);
  EXPECT_EQ(memory_state.series_frames[0].size(), kMaxFrameSize);
  EXPECT_TRUE(memory_state.big.empty());
}

TEST_F(MemoryTest, EmptyNodeFramesAreReturnedAtTheNextCollection) {
  gc::set_stress(0);
  static std::vector<NodeId> kept;
  kept.clear();
  std::vector<NodeId> all;
  for (int i = 0; i < 25000; ++i) all.push_back(alloc::make_bytes(0));
  ASSERT_EQ(memory_state.node_frames.size(), 3u);
  // Keep a few nodes of the first frame and one of the third.
  for (int i = 0; i < 10; ++i) kept.push_back(all[i * 7]);
  kept.push_back(all.back());
  gc::add_root([](void*) {
    for (NodeId n : kept) gc::mark_node(n);
  });
  gc::collect();
  const auto& frames = memory_state.node_frames;
  EXPECT_TRUE(frames[0].present);
  EXPECT_FALSE(frames[1].present);
  EXPECT_TRUE(frames[2].present);
  EXPECT_EQ(memory_state.current_node_frame, 0u);  // the first frame with room
  for (NodeId n : kept) EXPECT_TRUE(node_live(n));
  EXPECT_EQ(alloc::live_node_count(), kept.size());
  // New nodes come from the first frame, then from the third; the returned range is made again last.
  NodeId next = alloc::make_bytes(0);
  EXPECT_LT(next, kNodeFrameCapacity);
  for (int i = 0; i < 9988 + 9999; ++i) alloc::make_bytes(0);
  EXPECT_FALSE(frames[1].present);
  EXPECT_GE(alloc::make_bytes(0), kNodeFrameCapacity);
  EXPECT_LT(alloc::make_bytes(0), 2 * kNodeFrameCapacity);
  EXPECT_TRUE(frames[1].present);
  EXPECT_EQ(frames.size(), 3u);
}

}  // namespace
}  // namespace zem
