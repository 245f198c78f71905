// The record sorts against python3's sort, and sorting under collections.
#include "runtime/sort.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "runtime/collector.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_series.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

struct Rec {
  int32_t key;
  int32_t index;
};

int32_t by_key(const uint8_t* a, const uint8_t* b, void* user1, intptr_t reverse) {
  auto* calls = static_cast<int*>(user1);
  if (calls) ++*calls;
  int32_t x = reinterpret_cast<const Rec*>(a)->key, y = reinterpret_cast<const Rec*>(b)->key;
  if (reverse) std::swap(x, y);
  return x < y ? -1 : x > y ? 1 : 0;
}

std::vector<int32_t> read_ints(std::istream& in) {
  std::string line;
  std::getline(in, line);
  std::istringstream ls(line);
  std::vector<int32_t> v;
  for (int32_t x; ls >> x;) v.push_back(x);
  return v;
}

TEST(Sort, MergeSortIsStableAgainstPython) {
  std::ifstream in(std::string(std::getenv("ZEM_TEST_DATA")) + "/sort_stability.txt");
  ASSERT_TRUE(in);
  std::string comment;
  std::getline(in, comment);
  std::getline(in, comment);
  std::vector<int32_t> keys = read_ints(in), ascending = read_ints(in), descending = read_ints(in);
  ASSERT_EQ(keys.size(), ascending.size());
  for (intptr_t reverse : {0, 1}) {
    std::vector<Rec> recs;
    for (size_t i = 0; i < keys.size(); i++) recs.push_back({keys[i], static_cast<int32_t>(i)});
    sort::merge_sort(reinterpret_cast<uint8_t*>(recs.data()), recs.size(), sizeof(Rec), nullptr, reverse, &by_key);
    std::vector<int32_t> order;
    for (const Rec& r : recs) order.push_back(r.index);
    EXPECT_EQ(order, reverse ? descending : ascending);
  }
}

TEST(Sort, QuickSortOrdersEveryShapeAndRecordSize) {
  std::mt19937 gen(3);
  for (size_t n : {0u, 1u, 2u, 7u, 8u, 100u, 600u, 5000u}) {
    // Shapes: random, ascending, descending, constant, and one long run then one low record (the
    // merge of those two runs must buffer the short one: the buffer holds n / 2 records).
    for (int shape = 0; shape < 5; shape++) {
      std::vector<Rec> recs(n);
      for (size_t i = 0; i < n; i++) {
        int32_t k = shape == 0 ? static_cast<int32_t>(gen() % 50) : shape == 1 ? static_cast<int32_t>(i)
                  : shape == 2 ? static_cast<int32_t>(n - i) : shape == 3 ? 7
                  : i + 1 == n ? -1 : static_cast<int32_t>(i);
        recs[i] = {k, static_cast<int32_t>(i)};
      }
      std::vector<Rec> merged = recs;
      sort::quick_sort(reinterpret_cast<uint8_t*>(recs.data()), n, sizeof(Rec), nullptr, 0, &by_key);
      sort::merge_sort(reinterpret_cast<uint8_t*>(merged.data()), n, sizeof(Rec), nullptr, 0, &by_key);
      for (size_t i = 1; i < n; i++) {
        ASSERT_LE(recs[i - 1].key, recs[i].key) << n << " shape " << shape;
        ASSERT_LE(merged[i - 1].key, merged[i].key) << n << " shape " << shape;
      }
    }
  }
  // 6-byte records go byte by byte.
  std::vector<uint8_t> six = {3, 0, 0, 0, 0, 9, 1, 0, 0, 0, 0, 8, 2, 0, 0, 0, 0, 7};
  sort::quick_sort(six.data(), 3, 6, nullptr, 0, [](const uint8_t* a, const uint8_t* b, void*, intptr_t) {
    return static_cast<int32_t>(*a) - static_cast<int32_t>(*b);
  });
  EXPECT_EQ(six, (std::vector<uint8_t>{1, 0, 0, 0, 0, 8, 2, 0, 0, 0, 0, 7, 3, 0, 0, 0, 0, 9}));
}

TEST(Sort, NoCallbackForFewRecordsAndOnePassForDescendingInput) {
  int calls = 0;
  Rec one{1, 0};
  sort::merge_sort(reinterpret_cast<uint8_t*>(&one), 1, sizeof(Rec), &calls, 0, &by_key);
  sort::quick_sort(reinterpret_cast<uint8_t*>(&one), 1, sizeof(Rec), &calls, 0, &by_key);
  EXPECT_EQ(calls, 0);
  std::vector<Rec> desc;
  for (int i = 0; i < 1000; i++) desc.push_back({1000 - i, i});
  sort::merge_sort(reinterpret_cast<uint8_t*>(desc.data()), desc.size(), sizeof(Rec), &calls, 0, &by_key);
  EXPECT_EQ(calls, 999);  // the run is found and reversed; no merge
  EXPECT_EQ(desc.front().key, 1);
}

// A comparator that raises after some calls: every record is still there exactly once.
TEST(Sort, ARaisingComparatorLosesNoRecord) {
  for (bool stable : {true, false}) {
    for (int limit : {50, 400, 2000}) {
      std::vector<Rec> recs;
      std::mt19937 gen(limit);
      for (int i = 0; i < 500; i++) recs.push_back({static_cast<int32_t>(gen() % 40), i});
      struct Ctx {
        int left;
      } ctx{limit};
      auto cmp = [](const uint8_t* a, const uint8_t* b, void* u, intptr_t) -> int32_t {
        if (--static_cast<Ctx*>(u)->left == 0) throw Unwind{EXIT_ERROR};
        return reinterpret_cast<const Rec*>(a)->key - reinterpret_cast<const Rec*>(b)->key;
      };
      try {
        if (stable)
          sort::merge_sort(reinterpret_cast<uint8_t*>(recs.data()), recs.size(), sizeof(Rec), &ctx, 0, cmp);
        else
          sort::quick_sort(reinterpret_cast<uint8_t*>(recs.data()), recs.size(), sizeof(Rec), &ctx, 0, cmp);
      } catch (const Unwind&) {
      }
      std::vector<int> seen(500, 0);
      for (const Rec& r : recs) seen[r.index]++;
      EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 500) << stable << " " << limit;
    }
  }
}

// A comparator without a consistent order (a user function answering at random, or always the
// same) still ends, inside the range, with every record there exactly once.
TEST(Sort, InconsistentComparatorsKeepEveryRecord) {
  using Cmp = int32_t (*)(const uint8_t*, const uint8_t*, void*, intptr_t);
  const Cmp comparators[] = {
      [](const uint8_t*, const uint8_t*, void*, intptr_t) -> int32_t { return 1; },
      [](const uint8_t*, const uint8_t*, void*, intptr_t) -> int32_t { return -1; },
      [](const uint8_t*, const uint8_t*, void* u, intptr_t) -> int32_t {
        return static_cast<int32_t>((*static_cast<std::mt19937*>(u))() % 3) - 1;
      },
  };
  for (bool stable : {true, false}) {
    for (Cmp cmp : comparators) {
      std::mt19937 gen(5);
      std::vector<Rec> recs;
      for (int i = 0; i < 5000; i++) recs.push_back({static_cast<int32_t>(gen() % 100), i});
      auto* base = reinterpret_cast<uint8_t*>(recs.data());
      if (stable)
        sort::merge_sort(base, recs.size(), sizeof(Rec), &gen, 0, cmp);
      else
        sort::quick_sort(base, recs.size(), sizeof(Rec), &gen, 0, cmp);
      std::vector<int> seen(5000, 0);
      for (const Rec& r : recs) seen[r.index]++;
      EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 5000) << stable;
    }
  }
}

class RootedSort : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
    test::ensure_integer_handlers();
  }
};

// The comparator allocates and collects mid-sort: the records live in a rooted copy, the nested
// blocks they hold survive and the result is written back through the node.
TEST_F(RootedSort, CollectionsDuringTheComparatorKeepEveryRecord) {
  Cell holder = block::make(1);
  NodeId node = holder.node();
  for (int i = 0; i < 300; i++) {
    Cell inner = block::make(1);
    block::append_cell(inner, test::int_cell((i * 37) % 101));
    block::append_cell(node, inner);
  }
  // Root only the outer block: the collector rewrites nothing but moves every buffer in stress.
  struct Root {
    NodeId node;
  } root{node};
  gc::ScopedRoot keep([](void* r) { gc::mark_block(static_cast<Root*>(r)->node); }, &root);
  gc::set_stress(1);
  int calls = 0;
  sort::sort_cells_rooted(node, 0, 300, 1, true, [&](const Cell* a, const Cell* b) -> int32_t {
    if (++calls % 50 == 0) {
      block::make(100);  // garbage
      gc::collect();
    }
    int32_t x = block::head_of(*a)->int_value(), y = block::head_of(*b)->int_value();
    return x - y;
  });
  gc::set_stress(0);
  ASSERT_EQ(series_buffer(node)->length(), 300u);
  int32_t prev = -1;
  for (uint32_t i = 0; i < 300; i++) {
    Cell c = series_buffer(node)->cells_head()[i];
    int32_t v = block::head_of(c)->int_value();
    EXPECT_LE(prev, v);
    prev = v;
  }
  // The series shrinking under the comparator raises and leaves the series as the code left it.
  EXPECT_EQ(test::raised([&] {
              sort::sort_cells_rooted(node, 0, 300, 1, false, [&](const Cell*, const Cell*) -> int32_t {
                if (series_buffer(node)->length() == 300) series_buffer(node)->set_length(299);
                return 0;
              });
            }),
            Err::script_invalid_arg);
  EXPECT_EQ(series_buffer(node)->length(), 299u);
}

}  // namespace
}  // namespace zem
