// Contexts and binding: the global context with case variants, heap, object and on-stack
// contexts, deep binding with cycles, reading and writing through words.
#include "datatypes/context.h"

#include "evaluator/stack.h"
#include "runtime/wiring.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::raised;

class Context : public testing::ContextTest {};

TEST_F(Context, GlobalWordsShareOneSlotAcrossCaseVariants) {
  NodeId g = context::global();
  Cell print = context::find_or_add_global(sym("print"), false, true);
  uint32_t before = context::word_count(g);
  Cell Print = context::find_or_add_global(sym("Print"), false, true);
  // Print gets its own entry and a spare value slot, but reads and writes print's slot.
  EXPECT_EQ(context::word_count(g), before + 1);
  EXPECT_EQ(series_length(context::values_block(g)), context::word_count(g));
  EXPECT_EQ(Print.word_symbol(), sym("Print"));
  EXPECT_EQ(Print.word_index(), print.word_index());
  context::set_word_value(Print, test::int_cell(7));
  EXPECT_EQ(context::word_value_cell(print)->int_value(), 7);

  // Case-insensitive look-up with the copy flag answers a copy in the asked spelling.
  Cell PRINT = context::find_or_add_global(sym("PRINT"), true, true);
  EXPECT_EQ(PRINT.word_symbol(), sym("PRINT"));
  EXPECT_EQ(PRINT.word_index(), print.word_index());
  EXPECT_EQ(context::word_count(g), before + 1);
  EXPECT_EQ(context::find_symbol_index(g, sym("pRiNt"), true), static_cast<int32_t>(print.word_index()));
  EXPECT_EQ(context::find_symbol_index(g, sym("pRiNt"), false), -1);
}

TEST_F(Context, ReadingAndWritingErrors) {
  Cell unresolved = w("nothing-here");
  EXPECT_EQ(raised([&] { context::word_value_cell(unresolved); }), Err::script_no_value);
  // Writing resolves the word: it is added to the context and keeps its index.
  context::set_word_value(unresolved, test::int_cell(3));
  EXPECT_GE(context::word_index(unresolved), 0);
  EXPECT_EQ(context::word_value_cell(unresolved)->int_value(), 3);

  // A function context with no call running.
  Cell spec = block_of({w("a"), w("b")});
  NodeId fn = context::make_from_spec(spec, true, false, CONTEXT_FUNCTION);
  Cell b = context::word_cell(TYPE_WORD, fn, sym("b"), 1);
  EXPECT_EQ(raised([&] { context::word_value_cell(b); }), Err::script_not_in_context);
  EXPECT_EQ(raised([&] { context::set_word_value(b, test::int_cell(1)); }), Err::script_not_defined);

  // With a call running its values are the call's stack cells.
  stack::init();
  Cell* first = stack::push_value(test::int_cell(10));
  stack::push_value(test::int_cell(20));
  context::cell(fn).set_context_values(stack::values_ref(first));
  EXPECT_EQ(context::word_value_cell(b)->int_value(), 20);
  context::set_word_value(b, test::int_cell(21));
  EXPECT_EQ(first[1].int_value(), 21);
  // symbol_value_cell reads on-stack contexts' symbols from the global context.
  EXPECT_EQ(context::symbol_value_cell(sym("nothing-here"), fn)->int_value(), 3);
}

TEST_F(Context, SelfWordMeansTheOwner) {
  NodeId ctx = context::allocate(4, false, true, 0, CONTEXT_OBJECT);
  context::owner(ctx) = test::int_cell(99);  // stands for the owning object
  Cell body = block_of({w("self"), w("x")});
  context::add_symbol(ctx, sym("x"));
  context::bind_block(body, ctx, true);
  EXPECT_EQ(at(body, 0).word_context(), ctx);
  EXPECT_EQ(context::word_index(at(body, 0)), -1);
  EXPECT_EQ(context::word_value_cell(at(body, 0))->int_value(), 99);
  EXPECT_EQ(context::word_index(at(body, 1)), 0);
}

TEST_F(Context, SpecAddsOnlyWordLikeItems) {
  Cell str{TYPE_STRING, 0, alloc::make_bytes(4), 0};
  Cell spec = block_of({w("a"), w("b", TYPE_SET_WORD), str, block_of({w("c")}), w("d", TYPE_GET_WORD),
                        w("e", TYPE_LIT_WORD), w("local", TYPE_REFINEMENT), w("A")});
  NodeId ctx = context::make_from_spec(spec, false, false, CONTEXT_OBJECT);
  ASSERT_EQ(context::word_count(ctx), 4u);  // a d e local; A is a case variant of a
  EXPECT_EQ(series_length(context::values_block(ctx)), 4u);
  const char* names[] = {"a", "d", "e", "local"};
  for (uint32_t i = 0; i < 4; i++) {
    Cell* word = context::word_at(ctx, i);
    EXPECT_EQ(word->word_symbol(), sym(names[i]));
    EXPECT_EQ(word->word_context(), ctx);
    EXPECT_EQ(context::word_index(*word), static_cast<int32_t>(i));
    EXPECT_TRUE(context::values(ctx)[i].is(TYPE_UNSET));
  }
}

TEST_F(Context, DeepBindingThroughNestedBlocksAndPaths) {
  NodeId ctx = context::allocate(2, false, false, 0, CONTEXT_OBJECT);
  context::add_symbol(ctx, sym("x"));
  Cell inner_path = block_of({w("x"), w("y")}, TYPE_PATH);
  Cell paren = block_of({w("X", TYPE_GET_WORD), inner_path}, TYPE_PAREN);
  Cell issue = context::word_cell(TYPE_ISSUE, context::global(), sym("x"), -1);
  Cell top = block_of({w("x", TYPE_SET_WORD), block_of({paren}), w("y"), issue});
  context::bind_block(top, ctx, false);

  EXPECT_EQ(at(top, 0).word_context(), ctx);
  Cell& in_paren = at(at(at(top, 1), 0), 0);
  EXPECT_EQ(in_paren.word_context(), ctx);  // case-insensitive
  EXPECT_EQ(at(at(at(at(top, 1), 0), 1), 0).word_context(), ctx);  // inside the path
  // Words the context lacks and issues keep their binding.
  EXPECT_EQ(at(top, 2).word_context(), context::global());
  EXPECT_EQ(context::word_index(at(top, 2)), -1);
  EXPECT_EQ(at(top, 3).word_context(), context::global());
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(Context, BlockContainingItselfBindsOnce) {
  NodeId ctx = context::allocate(2, false, false, 0, CONTEXT_OBJECT);
  context::add_symbol(ctx, sym("a"));
  Cell blk = block_of({w("a")});
  testing::append_cell(blk.node(), blk);                      // [a <itself>]
  testing::append_cell(blk.node(), block_of({blk, w("a")}));  // [a <itself> [<itself> a]]
  context::bind_block(blk, ctx, false);
  EXPECT_EQ(at(blk, 0).word_context(), ctx);
  EXPECT_EQ(at(at(blk, 2), 1).word_context(), ctx);
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(Context, TooDeepNestingRaisesAndEmptiesThePointerStack) {
  NodeId ctx = context::allocate(1, false, false, 0, CONTEXT_OBJECT);
  Cell blk = block_of({w("a")});
  for (int i = 0; i < 1100; i++) blk = block_of({blk});
  EXPECT_EQ(raised([&] { context::bind_block(blk, ctx, false); }), Err::internal_too_deep);
  EXPECT_EQ(ptrstack::depth(), 0u);
}

TEST_F(Context, ObjectFieldsGetTheSetMarkWithoutAChangeRecord) {
  NodeId ctx = context::allocate(2, false, true, 0, CONTEXT_OBJECT);
  context::add_symbol(ctx, sym("f"));
  static int notified = 0;
  notified = 0;
  wiring.field_changed = [](const Cell&, const Cell&, const Cell&, const Cell&) { notified++; };
  Cell f = context::word_cell(TYPE_WORD, ctx, sym("f"), 0);
  context::set_word_value(f, test::int_cell(5));
  EXPECT_EQ(notified, 0);  // the owner has no change record
  EXPECT_TRUE(context::word_at(ctx, 0)->has_flag(kWordSetMark));
  EXPECT_EQ(context::values(ctx)[0].int_value(), 5);

  // With a change record, the notifier sees the old and the new value.
  context::owner(ctx) = Cell{TYPE_OBJECT, ctx, 1, 1234};
  static Cell seen_old, seen_new;
  wiring.field_changed = [](const Cell&, const Cell&, const Cell& o, const Cell& n) {
    notified++;
    seen_old = o;
    seen_new = n;
  };
  context::set_word_value(f, test::int_cell(6));
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(seen_old.int_value(), 5);
  EXPECT_EQ(seen_new.int_value(), 6);
  context::set_in(f, test::int_cell(8), ctx, false);
  EXPECT_EQ(notified, 1);
  wiring.field_changed = nullptr;
}

TEST_F(Context, CollectSetWordsAndCloneForFunction) {
  NodeId ctx = context::allocate(2, false, true, 0, CONTEXT_OBJECT);
  Cell body = block_of({w("a", TYPE_SET_WORD), w("b"), w("c", TYPE_SET_WORD), w("A", TYPE_SET_WORD)});
  EXPECT_TRUE(context::collect_set_words(ctx, body));
  EXPECT_EQ(context::word_count(ctx), 2u);
  EXPECT_FALSE(context::collect_set_words(ctx, body));
  Cell past = body;
  past.set_head_index(10);  // a head past the tail adds nothing
  EXPECT_FALSE(context::collect_set_words(ctx, past));

  Cell fn{TYPE_FUNCTION, ctx, 0, 0};
  NodeId copy = context::clone_for_function(fn, CONTEXT_FUNCTION);
  EXPECT_EQ(fn.fn_context(), copy);
  EXPECT_EQ(context::kind(copy), CONTEXT_FUNCTION);
  EXPECT_TRUE(context::has_self(copy));
  ASSERT_EQ(context::word_count(copy), 2u);
  EXPECT_EQ(context::word_at(copy, 1)->word_context(), copy);
  EXPECT_EQ(context::word_at(ctx, 1)->word_context(), ctx);
  // The copy's table is its own.
  context::add_symbol(copy, sym("z"));
  EXPECT_EQ(context::word_count(ctx), 2u);
}

TEST_F(Context, SurvivesCollections) {
  gc::set_stress(1);
  Cell word = w("kept");
  context::set_word_value(word, block_of({w("x")}));
  for (int i = 0; i < 3; i++) gc::collect();
  const Cell* v = context::word_value_cell(word);
  ASSERT_TRUE(v->is(TYPE_BLOCK));
  EXPECT_EQ(block_head(v->node())[0].word_symbol(), sym("x"));
  EXPECT_EQ(context::find_symbol_index(context::global(), sym("kept"), false), context::word_index(word));
  gc::set_stress(0);
}

}  // namespace
}  // namespace zem
