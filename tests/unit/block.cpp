#include "datatypes/block.h"

#include <gtest/gtest.h>

#include <vector>

#include "datatypes/unset_none_logic.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;

class BlockHelpers : public testing::MemoryTest {
 protected:
  void SetUp() override {
    MemoryTest::SetUp();
    registry_init();
  }
  static std::vector<int32_t> ints(const Cell& b) {
    std::vector<int32_t> v;
    for (uint32_t i = 0; i < block::length(b); i++) v.push_back(block::head_of(b)[i].int_value());
    return v;
  }
};

TEST_F(BlockHelpers, AppendInsertAndTruncate) {
  Cell b = block::make(1);
  for (int i = 1; i <= 100; i++) block::append_cell(b, int_cell(i));
  EXPECT_EQ(block::length(b), 100u);
  EXPECT_EQ(ints(b)[99], 100);
  // Appending the block's own cells, across a growth of its buffer.
  Cell copy = b;
  copy.data1 = 98;
  block::append_cells_from(b, copy);
  EXPECT_EQ(block::length(b), 102u);
  EXPECT_EQ(ints(b)[100], 99);
  EXPECT_EQ(ints(b)[101], 100);
  block::truncate_at(b.node(), 3);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 2, 3}));
  Cell at = b;
  at.data1 = 1;
  block::insert_cell(at, int_cell(9));
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 9, 2, 3}));
  Cell src = block::make(2);
  block::append_cell(src, int_cell(7));
  block::append_cell(src, int_cell(8));
  block::insert_cells_at_head(at, src);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 7, 8, 9, 2, 3}));
  block::clear_at_head(at);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1}));
}

TEST_F(BlockHelpers, HeadPastTailCountsZeroAndIsClamped) {
  Cell b = block::make(4);
  for (int i = 0; i < 4; i++) block::append_cell(b, int_cell(i));
  b.data1 = 3;
  block::truncate_at(b.node(), 1);
  EXPECT_EQ(block::length(b), 0u);
  EXPECT_TRUE(block::at_tail(b));
  EXPECT_EQ(block::head(b), block::tail_cell(b));
  EXPECT_EQ(b.data1, 1u);
  EXPECT_TRUE(block::step_head(b));
  EXPECT_EQ(b.data1, 1u);
}

}  // namespace
}  // namespace zem
