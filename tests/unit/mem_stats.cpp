// Memory statistics: the figures describe the frames as they are; the debugging word print.
#include "runtime/mem_stats.h"
#include "runtime/wiring.h"

#include <cstring>

#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_capture.h"

namespace zem {
namespace {

using testing::MemoryTest;

// The figures are integer! cells, or float! when too large.
uint32_t int_of(const Cell& c) { return static_cast<uint32_t>(c.int_value()); }

uint64_t number_of(const Cell& c) {
  return c.is(TYPE_INTEGER) ? int_of(c) : static_cast<uint64_t>(c.float_value());
}

Cell word_of(TypeId type, uint32_t sym) {
  Cell c{};
  c.set_header(type);
  c.set_word(0, sym, 0);
  return c;
}

TEST_F(MemoryTest, StatsDescribeTheFrames) {
  for (int i = 0; i < 12000; ++i) alloc::make_bytes(16);  // two node frames
  NodeId big = alloc::make_bytes(3 << 20);
  NodeId out = alloc::make_cells(1);
  // Mode 1 leaves the block alone.
  double in_use = debug::memory_stats(out, 1);
  EXPECT_EQ(series_length(out), 0u);
  uint64_t expect = 8 * (12000 + 3);  // node 0, the big series and the output block
  for (const SeriesFrame& f : memory_state.series_frames) expect += f.heap - f.base;
  expect += memory_state.big[0].block_size;
  EXPECT_EQ(in_use, static_cast<double>(expect));

  EXPECT_EQ(debug::memory_stats(out, 2), in_use);
  ASSERT_EQ(series_length(out), 5u);
  const Cell* c = block_head(out);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(c[i].is(TYPE_BLOCK));
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(c[i].new_line());
  ASSERT_EQ(series_length(c[0].node()), 2u);  // node frames
  const Cell* frame0 = block_head(block_head(c[0].node())[0].node());
  EXPECT_EQ(int_of(frame0[0]) + int_of(frame0[1]), kNodeFrameCapacity);
  EXPECT_EQ(int_of(frame0[2]), kNodeFrameCapacity);
  EXPECT_EQ(int_of(frame0[1]), kNodeFrameCapacity);  // the first frame is full
  ASSERT_EQ(series_length(c[1].node()), memory_state.series_frames.size());
  const Cell* sf = block_head(block_head(c[1].node())[0].node());
  EXPECT_EQ(int_of(sf[0]) + int_of(sf[1]), int_of(sf[2]));
  ASSERT_EQ(series_length(c[2].node()), 1u);
  EXPECT_EQ(int_of(block_head(c[2].node())[0]), memory_state.big[0].block_size);
  EXPECT_GT(number_of(c[3]), number_of(c[4]));
  (void)big;
}

TEST(MemStats, PrintWordName) {
  test::CaptureOutput capture;
  wiring.symbol_name = [](uint32_t id) { return id == 7 ? std::string_view("append") : std::string_view("?"); };
  debug::print_word_name(word_of(TYPE_WORD, 7));
  debug::print_word_name(word_of(TYPE_SET_WORD, 7));
  EXPECT_EQ(capture.stdout_text(), "appendappend");
  wiring.symbol_name = nullptr;
}

}  // namespace
}  // namespace zem
