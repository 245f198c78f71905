// The two output hook lists: registration order, growth, removal, independence of the lists.
#include "runtime/hooks.h"

#include <gtest/gtest.h>

#include <string>

namespace zem {
namespace {

std::string trace;

template <char Tag>
void h1(const Cell* value, int32_t lf) {
  trace += Tag;
  trace += value ? 'v' : '-';
  trace += static_cast<char>('0' + lf);
}

template <char Tag>
void h2(const char* text, int32_t length, int32_t flag) {
  trace += Tag;
  trace.append(text, static_cast<size_t>(length));
  trace += static_cast<char>('0' + flag);
}

class Hooks : public testing::Test {
 protected:
  void SetUp() override {
    hooks::init();
    trace.clear();
  }
};

TEST_F(Hooks, EmptyListsCallNothing) {
  hooks::call_list1(nullptr, 1);
  hooks::call_list2("x", 1, 0);
  EXPECT_EQ(trace, "");
  EXPECT_EQ(hooks::hook_state.list1.capacity, 5);
  EXPECT_EQ(hooks::hook_state.list2.capacity, 5);
}

TEST_F(Hooks, SixCallbacksGrowTheListOnceAndKeepTheirOrder) {
  hooks::add(h1<'a'>, nullptr);
  hooks::add(h1<'b'>, nullptr);
  hooks::add(h1<'c'>, nullptr);
  hooks::add(h1<'d'>, nullptr);
  hooks::add(h1<'e'>, nullptr);
  EXPECT_EQ(hooks::hook_state.list1.capacity, 5);
  hooks::add(h1<'f'>, nullptr);
  EXPECT_EQ(hooks::hook_state.list1.capacity, 10);
  EXPECT_EQ(hooks::hook_state.list1.count, 6);
  EXPECT_EQ(hooks::hook_state.list2.count, 0);  // null list-2 argument: list 2 unchanged
  Cell c{};
  hooks::call_list1(&c, 1);
  EXPECT_EQ(trace, "av1bv1cv1dv1ev1fv1");
}

TEST_F(Hooks, RemoveTakesTheFirstEqualEntryAndClosesTheGap) {
  hooks::add(h1<'a'>, h2<'x'>);
  hooks::add(h1<'b'>, h2<'y'>);
  hooks::add(h1<'a'>, h2<'z'>);
  hooks::remove(h1<'a'>, nullptr);  // list 2 untouched
  hooks::remove(h1<'c'>, h2<'y'>);  // absent list-1 entry: no change there
  hooks::call_list1(nullptr, 0);
  hooks::call_list2("t", 1, 0);
  EXPECT_EQ(trace, "b-0a-0xt0zt0");
}

TEST_F(Hooks, ListsAreIndependent) {
  hooks::add(nullptr, h2<'x'>);
  EXPECT_EQ(hooks::hook_state.list1.count, 0);
  hooks::call_list1(nullptr, 1);
  EXPECT_EQ(trace, "");
  hooks::call_list2("hello", 3, 0);
  EXPECT_EQ(trace, "xhel0");
}

}  // namespace
}  // namespace zem
