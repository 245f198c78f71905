// Memory statistics: the figures describe the frames as they are; the debugging word print.
#include "runtime/mem_stats.h"

#include <cstring>

#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_capture.h"

namespace zem {
namespace {

using testing::MemoryTest;

double float_of(const Cell& c) {
  uint64_t bits = (uint64_t{c.data3} << 32) | c.data2;
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

uint64_t number_of(const Cell& c) {
  return c.is(TYPE_INTEGER) ? c.data2 : static_cast<uint64_t>(float_of(c));
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
  ASSERT_EQ(series_length(c[0].data2), 2u);  // node frames
  const Cell* frame0 = block_head(block_head(c[0].data2)[0].data2);
  EXPECT_EQ(frame0[0].data2 + frame0[1].data2, kNodeFrameCapacity);
  EXPECT_EQ(frame0[2].data2, kNodeFrameCapacity);
  EXPECT_EQ(frame0[1].data2, kNodeFrameCapacity);  // the first frame is full
  ASSERT_EQ(series_length(c[1].data2), memory_state.series_frames.size());
  const Cell* sf = block_head(block_head(c[1].data2)[0].data2);
  EXPECT_EQ(sf[0].data2 + sf[1].data2, sf[2].data2);
  ASSERT_EQ(series_length(c[2].data2), 1u);
  EXPECT_EQ(block_head(c[2].data2)[0].data2, memory_state.big[0].block_size);
  EXPECT_GT(number_of(c[3]), number_of(c[4]));
  (void)big;
}

TEST(MemStats, PrintWordName) {
  test::CaptureOutput capture;
  debug::set_symbol_namer([](uint32_t id) { return id == 7 ? std::string_view("append") : std::string_view("?"); });
  debug::print_word_name(Cell{TYPE_WORD, 0, 7, 0});
  debug::print_word_name(Cell{TYPE_SET_WORD, 0, 7, 0});
  EXPECT_EQ(capture.stdout_text(), "appendappend");
  debug::set_symbol_namer(nullptr);
}

}  // namespace
}  // namespace zem
