// object!: construction, copies and class ids, the change-notification record and its calls,
// reflection, molds, paths, select/put/modify and comparison.
#include "datatypes/object.h"

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "runtime/wiring.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;
using test::mold_text;
using test::raised;

struct HandlerCall {
  std::string name, word;
  std::vector<Cell> args;
  uint32_t locals;
};
std::vector<HandlerCall> g_calls;

class Object : public testing::ContextTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::values);
    g_calls.clear();
    wiring.run_handler = [](const Cell&, const Cell& name, const Cell* args, uint32_t n, uint32_t locals) {
      g_calls.push_back({std::string(symbol::name(name.word_symbol())), std::string(symbol::name(args[0].word_symbol())),
                         std::vector<Cell>(args, args + n), locals});
    };
    // Stands in for the evaluator: each set-word takes the value after it.
    wiring.eval_object_block = [](const Cell& block) {
      uint32_t n = block::length(block);
      for (uint32_t i = 0; i + 1 < n; i += 2) {
        Cell w = block::head_of(block)[i];
        context::set_word_value(w, block::head_of(block)[i + 1]);
      }
    };
  }
  void TearDown() override {
    wiring.run_handler = nullptr;
    wiring.eval_object_block = nullptr;
    ContextTest::TearDown();
  }
  // A function! value over a spec block (no body needed for the record).
  static Cell function(std::initializer_list<Cell> spec) {
    Cell s = block_of(spec);
    NodeId more = alloc::make_cells(5);
    Cell body = block_of({});
    for (const Cell& c : {body, make_unset(), make_unset(), make_unset(), make_unset()})
      block::append_cell(more, c);
    NodeId ctx = context::make_from_spec(s, true, false, CONTEXT_FUNCTION);
    Cell fn = test::typed_cell(TYPE_FUNCTION);
    fn.set_fn(ctx, s.node(), more);
    context::owner(ctx) = fn;
    return fn;
  }
  static Cell field(const Cell& obj, const char* name) {
    return *object::find_field_value(obj, w(name));
  }
  // The molds of a block's values, separated by blanks.
  static std::string molds(const Cell& block) {
    std::string s;
    for (uint32_t i = 0; i < block::length(block); i++)
      s += (i ? " " : "") + mold_text(block::head_of(block)[i]);
    return s;
  }
  static Cell make_with(const Cell& proto, std::initializer_list<Cell> body) {
    return object::make(proto, block_of(body), TYPE_OBJECT);
  }
};

TEST_F(Object, ClassIdsFollowTheShape) {
  Cell proto = make_with(make_none(), {w("a", TYPE_SET_WORD), int_cell(1), w("b", TYPE_SET_WORD), int_cell(2)});
  ASSERT_NE(proto.object_class(), 0u);
  EXPECT_EQ(field(proto, "b").int_value(), 2);
  // Setting existing fields keeps the class; adding one makes a new class.
  Cell same1 = make_with(proto, {w("a", TYPE_SET_WORD), int_cell(5)});
  Cell same2 = make_with(proto, {w("b", TYPE_SET_WORD), int_cell(6)});
  Cell wider = make_with(proto, {w("c", TYPE_SET_WORD), int_cell(7)});
  EXPECT_EQ(same1.object_class(), proto.object_class());
  EXPECT_EQ(same2.object_class(), proto.object_class());
  EXPECT_NE(wider.object_class(), proto.object_class());
  EXPECT_EQ(field(same1, "a").int_value(), 5);
  EXPECT_EQ(field(proto, "a").int_value(), 1);  // the prototype is not touched
  EXPECT_EQ(field(wider, "a").int_value(), 1);
  // make clears the set marks its evaluation left.
  EXPECT_FALSE(context::word_at(same1.object_context(), 0)->has_flag(kWordSetMark));
  // construct: the same rule, no evaluation.
  Cell c = object::construct(&proto, block_of({w("a", TYPE_SET_WORD), w("b", TYPE_SET_WORD), w("x")}));
  EXPECT_EQ(c.object_class(), proto.object_class());
  EXPECT_EQ(symbol::name(field(c, "a").word_symbol()), "x");
  EXPECT_EQ(symbol::name(field(c, "b").word_symbol()), "x");
  EXPECT_NE(object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(1)})).object_class(), proto.object_class());
  // Specs that are neither object nor block.
  EXPECT_EQ(raised([&] { object::make(proto, int_cell(1)); }), Err::syntax_malconstruct);
  // An object spec merges: new words make a new class.
  Cell merged = object::make(proto, wider);
  EXPECT_EQ(context::word_count(merged.object_context()), 3u);
  EXPECT_NE(merged.object_class(), proto.object_class());
  EXPECT_EQ(object::make(proto, same1).object_class(), proto.object_class());
}

TEST_F(Object, CopyHasItsOwnContext) {
  Cell inner = block_of({int_cell(1)});
  Cell obj = object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(1), w("b", TYPE_SET_WORD), inner}));
  Cell fa = w("a");
  context::bind_word(obj.object_context(), fa);
  context::set_word_value(fa, int_cell(3));
  Cell shallow = object::copy(obj, false);
  Cell deep = object::copy(obj, true);
  for (const Cell& c : {shallow, deep}) {
    EXPECT_NE(c.object_context(), obj.object_context());
    EXPECT_EQ(c.object_class(), obj.object_class());
    EXPECT_EQ(context::owner(c.object_context()).object_context(), c.object_context());
    EXPECT_EQ(context::word_at(c.object_context(), 1)->word_context(), c.object_context());
    EXPECT_TRUE(context::word_at(c.object_context(), 0)->has_flag(kWordSetMark));  // flags copied
    EXPECT_EQ(field(c, "a").int_value(), 3);
  }
  EXPECT_EQ(field(shallow, "b").node(), inner.node());
  EXPECT_NE(field(deep, "b").node(), inner.node());
  Cell ca = w("a");
  context::bind_word(shallow.object_context(), ca);
  context::set_word_value(ca, int_cell(9));
  EXPECT_EQ(field(obj, "a").int_value(), 3);
}

TEST_F(Object, ChangeRecordAndHandlerCalls) {
  Cell handler = function({w("word"), w("old"), w("new"), w("local", TYPE_REFINEMENT), w("t"), w("u")});
  Cell obj = object::construct(nullptr, block_of({w("x", TYPE_SET_WORD), int_cell(1)}));
  context::set_or_add_word(obj.object_context(), w("on-change*"), int_cell(0));
  // A handler field must hold a function.
  EXPECT_EQ(raised([&] { object::build_change_record(obj); }), Err::script_bad_field_set);
  context::values(obj.object_context())[1] = handler;
  object::build_change_record(obj);
  ASSERT_NE(obj.object_record(), 0u);
  const Cell& rec = block_head(obj.object_record())[0];
  EXPECT_EQ(rec.handler_field(), 1u);   // field index of on-change*
  EXPECT_EQ(rec.handler_locals(), 3u);  // /local, t, u
  EXPECT_EQ(block_head(obj.object_record())[1].handler_field(), object::kNoHandler);

  // Setting a field through its word calls on-change* with the word, old and new value.
  Cell x = w("x");
  context::bind_word(obj.object_context(), x);
  context::set_word_value(x, int_cell(2));
  ASSERT_EQ(g_calls.size(), 1u);
  EXPECT_EQ(g_calls[0].name, "on-change*");
  EXPECT_EQ(g_calls[0].word, "x");
  EXPECT_EQ(g_calls[0].args[1].int_value(), 1);
  EXPECT_EQ(g_calls[0].args[2].int_value(), 2);
  EXPECT_EQ(g_calls[0].locals, 3u);
  EXPECT_EQ(g_calls[0].args[0].word_context(), obj.object_context());

  // Another function in the field is noticed at the next change: its locals are recounted.
  context::values(obj.object_context())[1] = function({w("a"), w("b"), w("c")});
  context::set_word_value(x, int_cell(3));
  ASSERT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1].locals, 0u);
  // A handler field that no longer holds a function.
  context::values(obj.object_context())[1] = int_cell(5);
  EXPECT_EQ(raised([&] { context::set_word_value(x, int_cell(4)); }), Err::script_invalid_obj_evt);

  // Paths report the change too; an object without a record changes silently.
  context::values(obj.object_context())[1] = handler;
  Cell path = block_of({w("o"), w("x")}, TYPE_PATH);
  Cell elem = w("x");
  Cell nv = int_cell(8);
  PathStep step;
  step.value = &obj;
  step.element = &elem;
  step.set_value = &nv;
  step.path = &path;
  step.last = true;
  EXPECT_EQ(object::eval_path(step)->int_value(), 8);
  EXPECT_EQ(g_calls.size(), 3u);
  EXPECT_EQ(g_calls[2].args[1].int_value(), 4);
  Cell plain = object::construct(nullptr, block_of({w("x", TYPE_SET_WORD), int_cell(1)}));
  Cell px = w("x");
  context::bind_word(plain.object_context(), px);
  context::set_word_value(px, int_cell(2));
  EXPECT_EQ(g_calls.size(), 3u);
  EXPECT_TRUE(context::word_at(plain.object_context(), 0)->has_flag(kWordSetMark));
}

TEST_F(Object, ReflectMoldAndPaths) {
  Cell obj = object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(1), w("b", TYPE_SET_WORD),
                                                  block_of({w("x")}), w("c", TYPE_SET_WORD), int_cell(3)}));
  context::values(obj.object_context())[1] = w("x");
  auto reflect = [&](const char* what) {
    test::Frame f(ActionIndex::reflect, {obj, w(what)});
    return f.run();
  };
  EXPECT_EQ(molds(reflect("words")), "a b c");
  EXPECT_EQ(molds(reflect("body")), "a: 1 b: 'x c: 3");
  EXPECT_EQ(block_head(reflect("words").node())[2].word_context(), obj.object_context());
  EXPECT_EQ(reflect("class").int_value(), static_cast<int32_t>(obj.object_class()));
  EXPECT_EQ(molds(reflect("changed")), "");
  EXPECT_FALSE(logic_flag(reflect("events?")));
  EXPECT_FALSE(logic_flag(reflect("owner")));
  EXPECT_EQ(raised([&] { reflect("nope"); }), Err::internal_not_done);

  EXPECT_EQ(mold_text(obj), "make object! [\n    a: 1\n    b: 'x\n    c: 3\n]");
  EXPECT_EQ(test::form_text(obj), "a: 1\nb: 'x\nc: 3");
  MoldFlags flat;
  flat.flat = true;
  EXPECT_EQ(mold_text(obj, flat), "make object! [a: 1 b: 'x c: 3]");
  // An object that contains itself.
  context::values(obj.object_context())[2] = obj;
  EXPECT_EQ(mold_text(obj, flat), "make object! [a: 1 b: 'x c: make object! [...]]");
  EXPECT_EQ(ptrstack::depth(), 0u);
  context::values(obj.object_context())[2] = int_cell(3);

  // Paths: absent fields and unset fields.
  Cell path = block_of({w("o"), w("zz")}, TYPE_PATH);
  auto get = [&](const Cell& element, bool last) {
    PathStep step;
    step.value = &obj;
    step.element = &element;
    step.path = &path;
    step.last = last;
    return *object::eval_path(step);
  };
  EXPECT_EQ(get(w("A", TYPE_GET_WORD), true).int_value(), 1);
  EXPECT_EQ(raised([&] { get(w("zz"), true); }), Err::script_invalid_path);
  EXPECT_EQ(raised([&] { get(w("zz"), false); }), Err::script_unset_path);
  EXPECT_EQ(raised([&] { get(int_cell(1), true); }), Err::script_invalid_path);
  context::values(obj.object_context())[0] = make_unset();
  EXPECT_EQ(raised([&] { get(w("a"), false); }), Err::script_unset_path);

  // select, put, modify.
  test::Frame sel(ActionIndex::select, {obj, w("c", TYPE_LIT_WORD)});
  EXPECT_EQ(sel.run().int_value(), 3);
  test::Frame sel_none(ActionIndex::select, {obj, w("q")});
  EXPECT_TRUE(sel_none.run().is(TYPE_NONE));
  test::Frame sel_bad(ActionIndex::select, {obj, int_cell(1)});
  EXPECT_EQ(raised([&] { sel_bad.run(); }), Err::script_invalid_type);
  test::Frame put(ActionIndex::put, {obj, w("c"), int_cell(30)});
  EXPECT_EQ(put.run().int_value(), 30);
  EXPECT_EQ(field(obj, "c").int_value(), 30);
  test::Frame put_bad(ActionIndex::put, {obj, w("c", TYPE_SET_WORD), int_cell(30)});
  EXPECT_EQ(raised([&] { put_bad.run(); }), Err::script_invalid_key_type);
  Cell c = w("c");
  context::bind_word(obj.object_context(), c);
  context::set_word_value(c, int_cell(4));
  EXPECT_EQ(molds(reflect("changed")), "c");
  test::Frame clear(ActionIndex::modify, {obj, w("changed"), make_none()});
  clear.run();
  EXPECT_EQ(molds(reflect("changed")), "");
  test::Frame bad(ActionIndex::modify, {obj, w("changed"), int_cell(1)});
  EXPECT_EQ(raised([&] { bad.run(); }), Err::script_invalid_arg);
}

TEST_F(Object, Comparison) {
  auto obj = [&](int a, int b) {
    return object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(a), w("b", TYPE_SET_WORD), int_cell(b)}));
  };
  Cell x = obj(1, 2), y = obj(1, 2), z = obj(1, 3);
  Cell small = object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(1)}));
  EXPECT_EQ(object::compare(x, x, COMP_SAME), 0);
  EXPECT_EQ(object::compare(x, y, COMP_SAME), -1);
  EXPECT_EQ(object::compare(x, y, COMP_EQUAL), 0);
  EXPECT_EQ(object::compare(x, z, COMP_LESSER), -1);
  EXPECT_EQ(object::compare(z, x, COMP_LESSER), 1);
  EXPECT_EQ(object::compare(small, x, COMP_EQUAL), -1);
  EXPECT_EQ(object::compare(x, int_cell(1), COMP_EQUAL), kCannotCompare);
  // Mutually containing objects stop at the cycle.
  context::values(x.object_context())[1] = y;
  context::values(y.object_context())[1] = x;
  EXPECT_EQ(object::compare(x, y, COMP_EQUAL), 0);
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(Object, SetFromValue) {
  Cell obj = object::construct(nullptr, block_of({w("a", TYPE_SET_WORD), int_cell(1), w("b", TYPE_SET_WORD), int_cell(2)}));
  object::set_from_value(obj, block_of({int_cell(7)}), false, false, false);
  EXPECT_EQ(field(obj, "a").int_value(), 7);
  EXPECT_TRUE(field(obj, "b").is(TYPE_NONE));  // past the block's end
  EXPECT_EQ(raised([&] { object::set_from_value(obj, block_of({make_unset()}), false, false, false); }),
            Err::script_need_value);
  EXPECT_EQ(field(obj, "a").int_value(), 7);  // nothing set before the error
  object::set_from_value(obj, block_of({make_none(), int_cell(5)}), false, false, true);
  EXPECT_EQ(field(obj, "a").int_value(), 7);
  EXPECT_EQ(field(obj, "b").int_value(), 5);
  Cell src = object::construct(nullptr, block_of({w("B", TYPE_SET_WORD), int_cell(9)}));
  object::set_from_value(obj, src, false, false, false);
  EXPECT_EQ(field(obj, "a").int_value(), 7);
  EXPECT_EQ(field(obj, "b").int_value(), 9);
  object::set_from_value(obj, int_cell(4), false, false, false);
  EXPECT_EQ(field(obj, "a").int_value(), 4);
  EXPECT_EQ(field(obj, "b").int_value(), 4);
}

}  // namespace
}  // namespace zem
