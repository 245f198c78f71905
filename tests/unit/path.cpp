// Path kinds and paren!: text forms, make and to, the unsupported actions.
#include "datatypes/path.h"

#include <gtest/gtest.h>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/stack.h"
#include "runtime/hashtab.h"
#include "services/random.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class PathTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    stack::push_native_frame(make_word_cell(symbol::intern("test"), 0));
  }
  Cell abc(TypeId t) {
    Cell p = block::make(3, t);
    for (const char* n : {"a", "b", "c"}) block::append_cell(p, context::add_global_word(symbol::intern(n)));
    return p;
  }
};

TEST_F(PathTest, MoldAndFormOfEachKind) {
  struct Case {
    TypeId type;
    const char* mold;
  };
  for (const Case& c : {Case{TYPE_PATH, "a/b/c"}, Case{TYPE_LIT_PATH, "'a/b/c"},
                        Case{TYPE_GET_PATH, ":a/b/c"}, Case{TYPE_SET_PATH, "a/b/c:"}}) {
    Cell p = abc(c.type);
    EXPECT_EQ(test::mold_text(p), c.mold);
    EXPECT_EQ(test::form_text(p), "a/b/c");
  }
  // A path inside itself is written as the cycle marker.
  Cell p = abc(TYPE_PATH);
  block::append_cell(p, p);
  EXPECT_EQ(test::mold_text(p), "a/b/c/...");
}

TEST_F(PathTest, MakeAndTo) {
  stack::push_value(datatype_cell(TYPE_PATH));
  stack::push_value(test::int_cell(0));
  int32_t none[1] = {-1};
  actions::call(ActionIndex::make, none);
  EXPECT_TRUE(stack::arg(0)->is(TYPE_PATH));
  EXPECT_EQ(block::length(*stack::arg(0)), 0u);

  stack::reset_arguments();
  stack::push_value(datatype_cell(TYPE_SET_PATH));
  stack::push_value(abc(TYPE_BLOCK));
  actions::call(ActionIndex::make, none);
  EXPECT_EQ(test::mold_text(*stack::arg(0)), "a/b/c:");

  stack::reset_arguments();
  stack::push_value(datatype_cell(TYPE_PATH));
  stack::push_value(make_logic(true));
  EXPECT_EQ(test::raised([&] { actions::call(ActionIndex::make, none); }), Err::script_bad_make_arg);
}

TEST_F(PathTest, SortIsNotForPaths) {
  stack::push_value(abc(TYPE_PATH));
  int32_t refs[7] = {-1, -1, -1, -1, -1, -1, -1};
  EXPECT_EQ(test::raised([&] { actions::call(ActionIndex::sort, refs); }), Err::script_expect_arg);
}

TEST_F(PathTest, ParenMold) {
  Cell p = abc(TYPE_PAREN);
  EXPECT_EQ(test::mold_text(p), "(a b c)");
  EXPECT_EQ(test::mold_text(p, MoldFlags{true, false, false}), "a b c");
  Cell outer = block::make(1, TYPE_BLOCK);
  block::append_cell(outer, p);
  EXPECT_EQ(test::mold_text(outer), "[(a b c)]");
  // Only an occurrence inside itself is the cycle marker.
  block::append_cell(p, p);
  EXPECT_EQ(test::mold_text(p), "(a b c (...))");
}

}  // namespace
}  // namespace zem
