// The native-resource registry on its own: growth, lists, release rules.
#include "runtime/resources.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

namespace zem {
namespace {

std::map<intptr_t, int> g_released;
void release(void* data) { ++g_released[reinterpret_cast<intptr_t>(data)]; }
void* ptr(intptr_t n) { return reinterpret_cast<void*>(n); }

class ResourcesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    resources::init();
    g_released.clear();
    cls = resources::register_class("image", release);
  }
  uint32_t cls = 0;
};

TEST_F(ResourcesTest, TableDoublesAndIndicesStayValid) {
  std::vector<int32_t> idx;
  for (intptr_t i = 1; i <= 999; ++i) idx.push_back(resources::add(ptr(i), cls));
  EXPECT_EQ(resources::capacity(), 1000u);
  idx.push_back(resources::add(ptr(1000), cls));  // the 1000th
  EXPECT_EQ(resources::capacity(), 2000u);
  for (intptr_t i = 1001; i <= 2500; ++i) idx.push_back(resources::add(ptr(i), cls));
  std::set<int32_t> distinct(idx.begin(), idx.end());
  EXPECT_EQ(distinct.size(), idx.size());
  for (size_t i = 0; i < idx.size(); ++i) EXPECT_EQ(resources::data_of(idx[i]), ptr(static_cast<intptr_t>(i + 1)));
}

TEST_F(ResourcesTest, MarkSweepReleasesUnmarkedOnce) {
  int32_t a = resources::add(ptr(1), cls), b = resources::add(ptr(2), cls), c = resources::add(ptr(3), cls);
  EXPECT_TRUE(resources::mark(b, nullptr));
  EXPECT_FALSE(resources::mark(b, nullptr));  // second mark of the same collection
  EXPECT_TRUE(resources::mark(c, ptr(33)));
  resources::sweep();
  EXPECT_EQ(g_released[1], 1);
  EXPECT_EQ(g_released[2], 0);
  EXPECT_EQ(g_released[3], 0);
  EXPECT_EQ(resources::data_of(c), ptr(33));  // replaced without release
  EXPECT_TRUE(resources::mark(b, nullptr));   // marks were cleared by the sweep
  resources::sweep();
  EXPECT_EQ(g_released[33], 1);
  EXPECT_EQ(g_released[1], 1);
  // The freed entries are handed out again; the released one is not released twice.
  int32_t d = resources::add(ptr(4), cls);
  EXPECT_TRUE(d == a || d == c);
  resources::sweep();
  resources::sweep();
  EXPECT_EQ(g_released[2], 1);
  EXPECT_EQ(g_released[4], 1);
  EXPECT_EQ(g_released[33], 1);
}

TEST_F(ResourcesTest, SetDataRemoveAndClasses) {
  int32_t a = resources::add(ptr(1), cls);
  resources::set_data(a, ptr(1));
  EXPECT_EQ(g_released[1], 0);  // same data: nothing released
  resources::set_data(a, ptr(2));
  EXPECT_EQ(g_released[1], 1);
  EXPECT_EQ(resources::remove(a, true), -1);
  EXPECT_EQ(g_released[2], 1);
  // Removing again, or an index out of range, changes nothing.
  EXPECT_EQ(resources::remove(a, true), -1);
  EXPECT_EQ(resources::remove(5000, true), -1);
  EXPECT_EQ(g_released[2], 1);
  EXPECT_FALSE(resources::mark(a, nullptr));

  uint32_t font = resources::register_class("font", nullptr);
  EXPECT_EQ(font, cls + 1);
  int32_t f = resources::add(ptr(7), font);
  int32_t i = resources::add(ptr(8), cls);
  int32_t unknown = resources::add(ptr(9), 0);
  std::vector<void*> seen;
  static std::vector<void*>* out;
  out = &seen;
  resources::for_each_of_class(cls, [](void* d) { out->push_back(d); });
  EXPECT_EQ(seen, std::vector<void*>{ptr(8)});
  resources::remove(f, true);        // a class without a callback releases nothing
  resources::remove(unknown, true);  // nor does class 0
  resources::remove(i, false);
  EXPECT_EQ(g_released[7] + g_released[8] + g_released[9], 0);
}

}  // namespace
}  // namespace zem
