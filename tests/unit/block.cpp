// Block helpers and block values: building, inserting, truncating and walking blocks.
#include "datatypes/block.h"

#include <gtest/gtest.h>

#include <vector>

#include "datatypes/unset_none_logic.h"
#include "evaluator/stack.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;

class BlockHelpers : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
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
  copy.set_head_index(98);
  block::append_cells_from(b, copy);
  EXPECT_EQ(block::length(b), 102u);
  EXPECT_EQ(ints(b)[100], 99);
  EXPECT_EQ(ints(b)[101], 100);
  block::truncate_at(b.node(), 3);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 2, 3}));
  Cell at = b;
  at.set_head_index(1);
  block::insert_cell(at, int_cell(9));
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 9, 2, 3}));
  Cell src = block::make(2);
  block::append_cell(src, int_cell(7));
  block::append_cell(src, int_cell(8));
  block::insert_cells_at_head(at, src);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 7, 8, 9, 2, 3}));
  // The block's own cells, inserted before themselves.
  Cell own = b;
  own.set_head_index(3);
  block::insert_cells_at_head(at, own);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1, 9, 2, 3, 7, 8, 9, 2, 3}));
  block::clear_at_head(at);
  EXPECT_EQ(ints(b), (std::vector<int32_t>{1}));
}

TEST_F(BlockHelpers, HeadPastTailCountsZeroAndIsClamped) {
  Cell b = block::make(4);
  for (int i = 0; i < 4; i++) block::append_cell(b, int_cell(i));
  b.set_head_index(3);
  block::truncate_at(b.node(), 1);
  EXPECT_EQ(block::length(b), 0u);
  EXPECT_TRUE(block::at_tail(b));
  EXPECT_EQ(block::head(b), block::tail_cell(b));
  EXPECT_EQ(b.head_index(), 1u);
  EXPECT_TRUE(block::step_head(b));
  EXPECT_EQ(b.head_index(), 1u);
}

// Blocks made in a parent (the root block by default) live as long as the parent does; the parent
// grows past its first capacity without losing a slot.
TEST_F(BlockHelpers, BlocksMadeInTheRootBlockAndInAParent) {
  block::init_root();
  gc::set_stress(1);
  std::vector<uint32_t> slots;
  for (int i = 0; i < 1500; i++) {
    Cell* made = i % 500 ? block::make_in_parent(nullptr, 4) : block::make_big_in_parent(nullptr, 2);
    block::append_cell(*made, int_cell(i));
    slots.push_back(block::buffer_length(block::block_state.root) - 1);
    if (i % 500 == 0) gc::collect();
  }
  gc::collect();
  gc::set_stress(0);
  Cell root = block::value_of(block::block_state.root);
  for (int i = 0; i < 1500; i++) {
    const Cell& made = *block::cell_at_index(root, slots[i]);
    ASSERT_EQ(ints(made), std::vector<int32_t>{i});
  }
  EXPECT_TRUE(series_buffer(block::cell_at_index(root, slots[500])->node())->is_big());
  Cell parent = *block::make_in_parent(nullptr, 1);
  Cell* child = block::make_in_parent(&parent, 0);
  EXPECT_TRUE(child->is(TYPE_BLOCK));
  EXPECT_EQ(block::length(parent), 1u);
  EXPECT_EQ(block::length(*child), 0u);
}

// The argument-stack builders: push copies and new blocks, and move the newest cell into a block.
TEST_F(BlockHelpers, ArgumentStackBuilders) {
  stack::init();
  Cell b = block::make(1);
  block::append_cell(b, int_cell(1));
  Cell* copy = block::push_copy(b);
  EXPECT_EQ(copy->node(), b.node());
  stack::push_value(int_cell(2));
  block::append_result_to_block();
  stack::push_value(int_cell(0));
  block::insert_result_to_block();
  EXPECT_EQ(stack::top() - 1, copy);  // each builder drops the value it moved
  EXPECT_EQ(ints(b), (std::vector<int32_t>{0, 1, 2}));

  Cell* fresh = block::push_only(8);
  EXPECT_TRUE(fresh->is(TYPE_BLOCK));
  EXPECT_EQ(block::length(*fresh), 0u);
  EXPECT_GE(series_buffer(fresh->node())->capacity, 8 * sizeof(Cell));

  stack::push_frame_sym(FRAME_NATIVE, 0, 0);
  stack::push_value(b);
  stack::push_value(int_cell(3));
  block::append_next_to_result();
  EXPECT_EQ(ints(b), (std::vector<int32_t>{0, 1, 2, 3}));
}

}  // namespace
}  // namespace zem
