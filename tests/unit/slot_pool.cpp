// The value-slot pool: numbering, reuse, growth, bad releases, and the values it keeps alive.
#include "runtime/error.h"
#include "runtime/slot_pool.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

class SlotPoolTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    MemoryTest::SetUp();
    slot_pool::slot_pool_state = {};
    slot_pool::reset();
    gc::set_enabled(true);
  }
};

TEST_F(SlotPoolTest, NumbersGrowthAndReuse) {
  for (int i = 1; i <= 100; ++i) EXPECT_EQ(slot_pool::acquire(testing::integer_cell(i)), static_cast<uint32_t>(i));
  EXPECT_EQ(slot_pool::slot_pool_state.capacity, 100u);
  EXPECT_EQ(slot_pool::acquire(testing::integer_cell(101)), 101u);
  EXPECT_EQ(slot_pool::slot_pool_state.capacity, 200u);
  for (uint32_t i = 1; i <= 101; ++i) EXPECT_EQ(slot_pool::slot_at(i)->int_value(), static_cast<int32_t>(i));
  slot_pool::release(5);
  slot_pool::release(9);
  EXPECT_EQ(slot_pool::acquire(testing::integer_cell(-9)), 9u);  // last released, first reused
  EXPECT_EQ(slot_pool::acquire(testing::integer_cell(-5)), 5u);
  EXPECT_EQ(slot_pool::acquire(testing::integer_cell(102)), 102u);
  slot_pool::release(0);  // nothing
  EXPECT_EQ(slot_pool::acquire(testing::integer_cell(103)), 103u);
}

TEST_F(SlotPoolTest, BadReleasesRaiseAndHandNothingOutTwice) {
  uint32_t a = slot_pool::acquire(testing::integer_cell(1));
  slot_pool::release(a);
  for (uint32_t bad : {a, 101u, 0xFFFFFFFFu}) {
    EXPECT_THROW(slot_pool::release(bad), Unwind) << bad;
  }
  uint32_t b = slot_pool::acquire(testing::integer_cell(2));
  uint32_t c = slot_pool::acquire(testing::integer_cell(3));
  EXPECT_EQ(b, a);
  EXPECT_NE(c, b);
}

TEST_F(SlotPoolTest, SlotsKeepTheirValuesAlive) {
  NodeId kept = alloc::make_cells(1);
  NodeId dropped = alloc::make_cells(1);
  uint32_t s1 = slot_pool::acquire(testing::block_cell(kept));
  uint32_t s2 = slot_pool::acquire(testing::block_cell(dropped));
  slot_pool::release(s2);
  gc::collect();
  EXPECT_TRUE(node_live(kept));
  EXPECT_FALSE(node_live(dropped));
  EXPECT_EQ(slot_pool::slot_at(s1)->node(), kept);
}

}  // namespace
}  // namespace zem
