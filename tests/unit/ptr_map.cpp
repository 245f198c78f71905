// The pointer map and hash table sizing, against a model.
#include "runtime/ptr_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "runtime/error.h"
#include "runtime/hashtab_probe.h"

using namespace zem::hashtab;

TEST(HashSizing, TableOfSizes) {
  struct Case {
    const char* rule;
    Sizing got;
    uint32_t buckets, bound;
  };
  const Case cases[] = {
      {"create 0", sizing_for_create(0), 8, 6},  // 4 / 0.77 = 5 -> 8
      {"create 3", sizing_for_create(3), 8, 6},
      {"create 7", sizing_for_create(7), 16, 12},  // 9 -> 16
      {"create 8000", sizing_for_create(8000), 16384, 12615},  // kind 2, 4000 doubled
      {"create 4000", sizing_for_create(4000), 8192, 6307},
      {"resize 3", sizing_for_resize(3), 4, 3},
      {"resize 9", sizing_for_resize(9), 16, 12},
      {"resize 16", sizing_for_resize(16), 16, 12},
      {"clear 0", sizing_for_clear(0), 4, 3},
      {"clear 1", sizing_for_clear(1), 4, 3},  // never bound 0: that would rebuild forever
      {"clear 10", sizing_for_clear(10), 16, 12},
      {"records 2", sizing_for_records(2), 4, 2},
      {"records 100", sizing_for_records(100), 128, 99},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.got.buckets, c.buckets) << c.rule;
    EXPECT_EQ(c.got.bound, c.bound) << c.rule;
  }
  EXPECT_EQ(next_pow2(1), 1u);
  EXPECT_EQ(next_pow2(8), 8u);
  EXPECT_EQ(next_pow2(9), 16u);
}

TEST(HashProbe, WalkVisitsEveryBucketOnceInTriangularSteps) {
  Probe p(5, 16);
  std::vector<uint32_t> seen{p.bucket()};
  while (p.next()) seen.push_back(p.bucket());
  ASSERT_EQ(seen.size(), 16u);
  EXPECT_EQ((std::vector<uint32_t>{seen[0], seen[1], seen[2], seen[3]}), (std::vector<uint32_t>{5, 6, 8, 11}));
  std::sort(seen.begin(), seen.end());
  for (uint32_t i = 0; i < 16; i++) EXPECT_EQ(seen[i], i);
}

TEST(PtrMap, RandomOperationsAgainstAModel) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    std::mt19937 rng(seed);
    PtrMap* m = make_ptr_map(0);
    std::map<uint32_t, uint32_t> model;
    for (int step = 0; step < 20000; step++) {
      uint32_t key = rng() % 512 + (rng() % 4 == 0 ? 0xFFFFF000u : 0);  // a few huge keys too
      switch (rng() % 4) {
        case 0:
        case 1: {
          uint32_t v = rng();
          ptr_map_put(m, key, v);
          model[key] = v;
          break;
        }
        case 2:
          ptr_map_remove(m, key);
          model.erase(key);
          break;
        case 3:
          if (rng() % 500 == 0) {
            reset_ptr_map(m);
            model.clear();
          }
          break;
      }
      uint32_t* got = ptr_map_get(m, key);
      auto it = model.find(key);
      ASSERT_EQ(got != nullptr, it != model.end()) << "seed " << seed << " step " << step;
      if (got) {
        ASSERT_EQ(*got, it->second);
      }
      ASSERT_EQ(m->count, model.size());
      ASSERT_LT(m->used, m->buckets);
    }
    size_t walked = 0;
    for (int64_t i = ptr_map_next(m, -1); i >= 0; i = ptr_map_next(m, i)) {
      walked++;
      ASSERT_EQ(model.at(m->pairs[i * 2]), m->pairs[i * 2 + 1]);
    }
    EXPECT_EQ(walked, model.size());
    free_ptr_map(m);
  }
  free_ptr_map(nullptr);
}

TEST(PtrMap, DeletedBucketsAreReclaimedWithoutGrowing) {
  PtrMap* m = make_ptr_map(4);  // 8 buckets, bound 6
  for (uint32_t round = 0; round < 100; round++) {
    ptr_map_put(m, round, round);
    ptr_map_remove(m, round);
  }
  EXPECT_EQ(m->buckets, 8u);
  EXPECT_EQ(m->count, 0u);
  free_ptr_map(m);
}

TEST(PtrMap, ResizeKeepsEntriesAndRefusesTooSmall) {
  PtrMap* m = make_ptr_map(100);
  for (uint32_t k = 0; k < 100; k++) ptr_map_put(m, k * 7919, k);
  EXPECT_EQ(resize_ptr_map(m, 64), 1);  // 100 keys do not fit under a bound of 49
  EXPECT_EQ(resize_ptr_map(m, 1024), 0);
  EXPECT_EQ(m->buckets, 1024u);
  for (uint32_t k = 0; k < 100; k++) ASSERT_EQ(*ptr_map_get(m, k * 7919), k);
  free_ptr_map(m);
}

TEST(PtrMap, FullMapFailsLoudlyInsteadOfOverwriting) {
  PtrMap* m = make_ptr_map(0);
  m->bound = m->buckets + 1;  // as if every attempt to grow had failed
  for (uint32_t k = 0; k < m->buckets; k++) ptr_map_put(m, k, k + 100);
  EXPECT_THROW(ptr_map_put(m, 999, 1), zem::Unwind);
  zem::clear_pending_exit();
  for (uint32_t k = 0; k < m->buckets; k++) ASSERT_EQ(*ptr_map_get(m, k), k + 100);
  ptr_map_put(m, 3, 7);  // updating a present key still works
  EXPECT_EQ(*ptr_map_get(m, 3), 7u);
  free_ptr_map(m);
}
