// The entry block of a map! under churn: tombstones are purged once they outnumber the live
// entries, so distinct keys put and removed without end keep block and table bounded, and a key
// removed and put again keeps its place until a purge.
#include <gtest/gtest.h>

#include <vector>

#include "datatypes/block.h"
#include "datatypes/map.h"
#include "runtime/hashtab.h"
#include "tests/unit/memory_fixture.h"

namespace zem {
namespace {

using testing::integer_cell;

class MapChurn : public testing::RuntimeTest<StartLayer::values> {};

// The integer keys of the live entries in block order.
std::vector<int32_t> keys_in_order(const Cell& m) {
  Cell body{};
  map::body(m, body);
  std::vector<int32_t> keys;
  for (uint32_t i = 0; i < block::length(body); i += 2) keys.push_back(block::head_of(body)[i].int_value());
  return keys;
}

TEST_F(MapChurn, DistinctKeysKeepTheBlockWithinTwiceTheLiveCount) {
  Cell m = map::make_empty(0);
  constexpr int32_t kWindow = 100;
  uint32_t most_buckets = 0;
  for (int32_t i = 0; i < 1000000; i++) {
    map::put(m, integer_cell(i), integer_cell(i), false);
    if (i >= kWindow) ASSERT_TRUE(map::remove(m, integer_cell(i - kWindow), false)) << i;
    uint32_t live = map::table_field(m);
    ASSERT_EQ(live, uint32_t(std::min(i + 1, kWindow))) << i;
    ASSERT_LE(map::block_cells(m) / 2, 2 * live + 1) << i;
    most_buckets = std::max(most_buckets, hashtab::record(m.hash_table())->buckets);
  }
  EXPECT_LE(most_buckets, 1024u);
  // The last window is all there, in order.
  std::vector<int32_t> keys = keys_in_order(m);
  ASSERT_EQ(keys.size(), size_t(kWindow));
  for (int32_t i = 0; i < kWindow; i++) EXPECT_EQ(keys[i], 1000000 - kWindow + i);
}

TEST_F(MapChurn, ARevivedKeyKeepsItsPlaceUntilAPurge) {
  Cell m = map::make_empty(0);
  for (int32_t i = 1; i <= 10; i++) map::put(m, integer_cell(i), integer_cell(i), false);
  map::remove(m, integer_cell(5), false);
  map::put(m, integer_cell(5), integer_cell(50), false);
  EXPECT_EQ(keys_in_order(m), (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(map::select(m, integer_cell(5), false)->int_value(), 50);
  // Five tombstones against five live entries: no purge yet, so 3 comes back in place.
  for (int32_t k : {1, 2, 3, 4, 5}) map::remove(m, integer_cell(k), false);
  EXPECT_EQ(map::block_cells(m), 20u);
  map::put(m, integer_cell(3), integer_cell(3), false);
  EXPECT_EQ(keys_in_order(m), (std::vector<int32_t>{3, 6, 7, 8, 9, 10}));
  // Removing 7 leaves six tombstones against four live entries: the purge keeps 3 8 9 10; removing
  // 8 and 9 then leaves two tombstones against two live entries.
  for (int32_t k : {6, 7, 8, 9}) map::remove(m, integer_cell(k), false);
  EXPECT_EQ(map::block_cells(m), 8u);
  map::put(m, integer_cell(1), integer_cell(1), false);
  EXPECT_EQ(keys_in_order(m), (std::vector<int32_t>{3, 10, 1}));
  EXPECT_EQ(map::table_field(m), 3u);
}

}  // namespace
}  // namespace zem
