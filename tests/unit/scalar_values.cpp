// Values held in their cell: the handle table and handle! values, the tuple header (count beside
// the other flags), and operands that scripts cannot write yet (percent!).
#include <gtest/gtest.h>

#include "datatypes/float.h"
#include "datatypes/handle.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "evaluator/dispatch.h"
#include "services/random.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::Frame;
using test::raised;

class ScalarValues : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_init();
    random::init();
    handle::reset_table();
  }
};

TEST_F(ScalarValues, HandleTableResolvesLiveEntriesOnly) {
  int a = 0, b = 0;
  const uint32_t ia = handle::add(reinterpret_cast<uintptr_t>(&a), handle::KIND_WINDOW);
  const uint32_t ib = handle::add(7, handle::KIND_FD);
  EXPECT_NE(ia, 0u);
  EXPECT_NE(ia, ib);
  EXPECT_EQ(handle::resolve(ia), reinterpret_cast<uintptr_t>(&a));
  EXPECT_EQ(handle::kind_of(ia), handle::KIND_WINDOW);
  EXPECT_EQ(handle::resolve(ib), 7u);
  EXPECT_EQ(handle::resolve(0), 0u);
  EXPECT_EQ(handle::live_count(), 2u);

  handle::release(ia);
  EXPECT_EQ(handle::resolve(ia), 0u);
  EXPECT_EQ(handle::kind_of(ia), handle::KIND_NONE);
  EXPECT_EQ(handle::live_count(), 1u);
  // The freed slot serves the next object under a new index: the old one stays dead.
  const uint32_t ic = handle::add(reinterpret_cast<uintptr_t>(&b), handle::KIND_FONT);
  EXPECT_NE(ic, ia);
  EXPECT_EQ(handle::resolve(ia), 0u);
  EXPECT_EQ(handle::resolve(ic), reinterpret_cast<uintptr_t>(&b));
  handle::release(ia);  // stale: nothing happens to the new entry
  EXPECT_EQ(handle::resolve(ic), reinterpret_cast<uintptr_t>(&b));
  handle::release(0);
  EXPECT_EQ(handle::live_count(), 2u);
}

TEST_F(ScalarValues, HandleComparesByIndexOnly) {
  const Cell w = handle::make(42, handle::KIND_WINDOW), f = handle::make(42, handle::KIND_FONT);
  const Cell lower = handle::make(41, handle::KIND_WINDOW);
  EXPECT_TRUE(actions::compare(w, f, COMP_EQUAL));
  EXPECT_TRUE(actions::compare(w, f, COMP_STRICT_EQUAL));
  EXPECT_TRUE(actions::compare(lower, w, COMP_LESSER));
  EXPECT_FALSE(actions::compare(w, test::int_cell(42), COMP_EQUAL));
  EXPECT_TRUE(actions::compare(w, test::int_cell(42), COMP_NOT_EQUAL));
  // Ordering against another type has no answer: the usual error, not a quiet result.
  EXPECT_EQ(raised([&] { actions::compare(w, test::int_cell(5), COMP_GREATER); }),
            Err::script_invalid_compare);
  EXPECT_EQ(raised([&] { actions::compare(w, test::int_cell(5), COMP_LESSER_EQUAL); }),
            Err::script_invalid_compare);
}

TEST_F(ScalarValues, HandleText) {
  EXPECT_EQ(test::form_text(handle::make(0x2A, handle::KIND_WINDOW)), "0000002Ah");
  EXPECT_EQ(test::form_text(handle::make(0xFFFFFFF0u, handle::KIND_FD)), "FFFFFFF0h");
  EXPECT_EQ(test::mold_text(handle::make(0x2A, handle::KIND_WINDOW)), "handle!");
  MoldFlags all;
  all.all = true;
  EXPECT_EQ(test::mold_text(handle::make(0x2A, handle::KIND_WINDOW), all), "#[handle! 0000002Ah window]");
  EXPECT_EQ(test::mold_text(handle::make(0x12FA40, handle::KIND_RICH_TEXT), all),
            "#[handle! 0012FA40h rich-text]");
  EXPECT_EQ(test::mold_text(handle::null_handle(), all), "#[handle! 00000000h]");
  int32_t left = 0;
  test::form_text(handle::make(1, handle::KIND_FD), &left);
  EXPECT_EQ(left, kNoLimit - 9);
}

TEST_F(ScalarValues, TupleCountChangeKeepsOtherHeaderBits) {
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  Cell t = tuple::make(5, bytes);
  t.set_new_line(true);
  Cell element = test::int_cell(3), none{};
  none.set_header(TYPE_NONE);
  PathStep step;
  step.value = &t;
  step.element = &element;
  step.set_value = &none;
  step.last = true;
  path_handler(TYPE_TUPLE)(step);
  EXPECT_EQ(t.tuple_count(), 3u);
  EXPECT_TRUE(t.new_line());
  EXPECT_TRUE(t.is(TYPE_TUPLE));
  EXPECT_EQ(t.tuple_at(2), 0);
  EXPECT_EQ(t.tuple_at(3), 0);  // bytes past the count are kept zero
  EXPECT_EQ(t.tuple_at(4), 0);
}

TEST_F(ScalarValues, TupleFromIntsClampsItsCount) {
  int32_t values[16];
  for (int i = 0; i < 16; i++) values[i] = 256 + i;
  Cell t = tuple::from_ints(16, values);
  EXPECT_EQ(t.tuple_count(), 12u);
  EXPECT_EQ(t.tuple_at(11), 11);
  EXPECT_EQ(tuple::from_ints(1, values).tuple_count(), 3u);
  EXPECT_EQ(test::form_text(tuple::rgba(255, 0, 0, 128)), "255.0.0.128");
  EXPECT_EQ(test::form_text(tuple::rgba(1, 2, 3, -1)), "1.2.3");
}

Cell percent(double d) {
  Cell c = make_float(d);
  c.set_type(TYPE_PERCENT);
  return c;
}

TEST_F(ScalarValues, PercentOperands) {
  const uint8_t hundreds[] = {100, 100, 100};
  const Cell t = tuple::make(3, hundreds);
  EXPECT_EQ(test::form_text(Frame(ActionIndex::multiply, {t, percent(0.5)}).run()), "50.50.50");
  EXPECT_EQ(test::form_text(Frame(ActionIndex::multiply, {t, percent(3.0)}).run()), "255.255.255");
  EXPECT_EQ(test::form_text(Frame(ActionIndex::divide, {t, percent(0.5)}).run()), "200.200.200");
  EXPECT_EQ(test::form_text(Frame(ActionIndex::subtract, {t, percent(-200.0)}).run()), "255.255.255");
  const Cell p = pair::make(10, 20);
  EXPECT_EQ(test::form_text(Frame(ActionIndex::multiply, {p, percent(0.5)}).run()), "(5, 10)");
  EXPECT_EQ(test::form_text(Frame(ActionIndex::add, {p, percent(2.5)}).run()), "12x22");
  EXPECT_EQ(test::form_text(Frame(ActionIndex::multiply, {point::make3(1, 2, 3), percent(0.5)}).run()),
            "(0.5, 1, 1.5)");
}

TEST_F(ScalarValues, PointExactKey) {
  EXPECT_EQ(point::exact_key(point::make2(0.0f, 1.0f)), point::exact_key(point::make2(-0.0f, 1.0f)));
  // Nearly equal points are different keys.
  EXPECT_NE(point::exact_key(point::make2(1.0f, 2.0f)), point::exact_key(point::make2(1.0000001f, 2.0f)));
  EXPECT_NE(point::exact_key(point::make3(1, 2, 0)), point::exact_key(point::make3(1, 2, 1)));
}

}  // namespace
}  // namespace zem
