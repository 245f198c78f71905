// Word kinds and issue!: conversions, comparison codes, forms and molds, value access; the fixed
// words after start-up.
#include "datatypes/word.h"

#include <string>

#include "datatypes/char.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/fixed_words.h"
#include "runtime/wiring.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::form_text;
using test::mold_text;
using test::raised;

constexpr TypeId kKinds[] = {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT,
                             TYPE_ISSUE};

class Word : public testing::ContextTest {
 protected:
  void SetUp() override {
    ContextTest::SetUp();
    // A scanner for names: a plain name is a word, "name:" a set-word, anything starting with a
    // digit or holding a blank is not a word (stands in for the lexer).
    wiring.load_first = [](std::string_view text) -> Cell {
      if (text.empty()) return make_unset();
      if ((text[0] >= '0' && text[0] <= '9') || text.find(' ') != text.npos) return test::int_cell(1);
      if (text.back() == ':')
        return word::retyped(word::make_from_name(text.substr(0, text.size() - 1)), TYPE_SET_WORD);
      return word::make_from_name(text);
    };
  }
  void TearDown() override {
    wiring.load_first = nullptr;
    ContextTest::TearDown();
  }
  static Cell to(TypeId target, const Cell& spec) {
    test::Frame f(ActionIndex::to, {datatype_cell(target), spec});
    return f.run(target);
  }
  static Cell string_cell(const char* text) {
    uint32_t n = 0;
    NodeId node = unicode::load_utf8_series(reinterpret_cast<const uint8_t*>(text), std::strlen(text), 0,
                                            false, &n);
    Cell s = test::typed_cell(TYPE_STRING);
    s.set_node(node);
    return s;
  }
};

TEST_F(Word, FormsAndMoldsOfEachKind) {
  const char* molds[] = {"a", "a:", "'a", ":a", "/a", "#a"};
  for (int i = 0; i < 6; i++) {
    Cell v = w("a", kKinds[i]);
    EXPECT_EQ(mold_text(v), molds[i]) << type_name(kKinds[i]);
    EXPECT_EQ(form_text(v), "a") << type_name(kKinds[i]);
    int32_t left = 0;
    mold_text(v, {}, &left);
    EXPECT_EQ(left, kNoLimit - static_cast<int32_t>(std::strlen(molds[i])));
  }
  // Names beyond ASCII count characters, not bytes.
  int32_t left = 0;
  EXPECT_EQ(mold_text(w("größe", TYPE_SET_WORD), {}, &left), "größe:");
  EXPECT_EQ(left, kNoLimit - 6);
}

TEST_F(Word, ComparisonCodes) {
  struct Case {
    Cell a, b;
    CompareOp op;
    int32_t expect;
  } cases[] = {
      {w("a", TYPE_LIT_WORD), w("a", TYPE_SET_WORD), COMP_EQUAL, 0},
      {w("a", TYPE_LIT_WORD), w("a", TYPE_SET_WORD), COMP_STRICT_EQUAL, 1},
      {w("a"), w("A"), COMP_EQUAL, 0},
      {w("a"), w("A"), COMP_STRICT_EQUAL, 1},
      {w("a"), w("A"), COMP_FIND, 0},
      {w("a"), w("b"), COMP_NOT_EQUAL, 1},
      {w("a"), test::int_cell(1), COMP_EQUAL, kCannotCompare},
      {w("a"), w("a", TYPE_ISSUE), COMP_EQUAL, kCannotCompare},
      {w("a", TYPE_ISSUE), w("a"), COMP_EQUAL, kCannotCompare},
      {w("a", TYPE_ISSUE), w("A", TYPE_ISSUE), COMP_EQUAL, 0},
      {w("a"), w("a", TYPE_LIT_WORD), COMP_PARSE_CASE, 0},
      {w("a"), w("A", TYPE_LIT_WORD), COMP_PARSE_CASE, 1},
      {w("a"), w("A", TYPE_LIT_WORD), COMP_PARSE, 0},
      {w("a"), w("a", TYPE_SET_WORD), COMP_PARSE, 1},
      {w("abc"), w("ABD"), COMP_LESSER, -1},
      {w("b"), w("A"), COMP_SORT, 1},
      {w("B"), w("a"), COMP_CASE_SORT, -1},
      {w("ab"), w("AB"), COMP_SORT, 0},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare_handler(c.a.type())(c.a, c.b, c.op), c.expect)
        << mold_text(c.a) << " " << mold_text(c.b) << " op " << c.op;
  // same? needs the same binding as well.
  Cell x = w("x");
  Cell y = x;
  y.set_word_context(context::allocate(1, false, false, 0, CONTEXT_OBJECT));
  EXPECT_EQ(word::compare(x, x, COMP_SAME), 0);
  EXPECT_EQ(word::compare(x, y, COMP_SAME), 1);
}

TEST_F(Word, Conversions) {
  // A string holding a set-word gives the word; a digit is not a word.
  Cell a = to(TYPE_WORD, string_cell("a:"));
  EXPECT_TRUE(a.is(TYPE_WORD));
  EXPECT_EQ(a.word_symbol(), sym("a"));
  EXPECT_EQ(raised([&] { to(TYPE_WORD, string_cell("1")); }), Err::script_invalid_chars);
  EXPECT_EQ(raised([&] { to(TYPE_WORD, make_char('1')); }), Err::script_invalid_chars);
  Cell c = to(TYPE_WORD, make_char('q'));
  EXPECT_EQ(c.word_symbol(), sym("q"));

  Cell t = to(TYPE_WORD, datatype_cell(TYPE_INTEGER));
  EXPECT_TRUE(t.is(TYPE_WORD));
  EXPECT_EQ(symbol::name(t.word_symbol()), "integer!");
  Cell yes = to(TYPE_WORD, make_logic(true));
  EXPECT_EQ(symbol::name(yes.word_symbol()), "true");
  EXPECT_EQ(yes.word_context(), context::global());
  EXPECT_EQ(raised([&] { to(TYPE_WORD, test::int_cell(3)); }), Err::script_bad_to_arg);

  // The kinds convert into each other keeping the binding.
  NodeId obj = context::allocate(1, false, false, 0, CONTEXT_OBJECT);
  Cell bound = context::word_cell(TYPE_LIT_WORD, obj, sym("zz-absent"), 0);
  Cell g = to(TYPE_GET_WORD, bound);
  EXPECT_TRUE(g.is(TYPE_GET_WORD));
  EXPECT_EQ(g.word_context(), obj);
  // To refinement!: bound to the global context when it has the word, else left as it was.
  EXPECT_EQ(to(TYPE_REFINEMENT, bound).word_context(), obj);
  context::add_global_word(sym("zz-present"));
  Cell present = context::word_cell(TYPE_LIT_WORD, obj, sym("zz-present"), 0);
  Cell r = to(TYPE_REFINEMENT, present);
  EXPECT_TRUE(r.is(TYPE_REFINEMENT));
  EXPECT_EQ(r.word_context(), context::global());

  // Issues and refinements must name a word to become one.
  EXPECT_EQ(raised([&] { to(TYPE_WORD, w("1a", TYPE_ISSUE)); }), Err::script_bad_to_arg);
  EXPECT_TRUE(to(TYPE_WORD, w("ok", TYPE_ISSUE)).is(TYPE_WORD));

  // Issue text is not scanned: blanks stay in the name.
  Cell issue = to(TYPE_ISSUE, string_cell("a b"));
  EXPECT_TRUE(issue.is(TYPE_ISSUE));
  EXPECT_EQ(symbol::name(issue.word_symbol()), "a b");
  EXPECT_EQ(context::word_index(issue), -1);
  EXPECT_EQ(mold_text(to(TYPE_ISSUE, w("x", TYPE_SET_WORD))), "#x");
  EXPECT_EQ(mold_text(to(TYPE_ISSUE, make_char(0xE9))), "#\u00e9");
}

TEST_F(Word, IndexAndValueAccess) {
  test::Frame unresolved(ActionIndex::index_q, {w("fresh")});
  EXPECT_TRUE(unresolved.run().is(TYPE_NONE));
  Cell v = w("v");
  EXPECT_EQ(raised([&] { word::get(v); }), Err::script_no_value);
  EXPECT_EQ(raised([&] { word::set_checked(v, make_unset()); }), Err::script_need_value);
  word::set_checked(v, test::int_cell(4));
  EXPECT_EQ(word::get(v).int_value(), 4);
  test::Frame resolved(ActionIndex::index_q, {v});
  EXPECT_EQ(resolved.run().int_value(), context::word_index(v) + 1);
  // get_any reads unset! values without complaint.
  Cell u = word::make_from_c_name("still-unset");
  EXPECT_TRUE(word::get_any(u).is(TYPE_UNSET));
  // A name made as an issue keeps index -1.
  EXPECT_EQ(context::word_index(word::issue_from_c_name("tag")), -1);
  // Refinements have no index? action.
  EXPECT_EQ(action_handler(TYPE_REFINEMENT, ActionIndex::index_q), nullptr);
  EXPECT_EQ(action_handler(TYPE_ISSUE, ActionIndex::index_q), nullptr);
}

TEST_F(Word, FixedWordsAfterStart) {
  // One name in two positions of the list gives one word.
  EXPECT_EQ(fixed.word.throw_.word_symbol(), sym("throw"));
  EXPECT_EQ(fixed.word.throw_.word_index(), word::make_from_c_name("throw").word_index());
  EXPECT_EQ(fixed.sym.code, sym("code"));
  EXPECT_EQ(fixed.global.end.word_symbol(), sym("end"));
  EXPECT_EQ(fixed.global.Linux.word_context(), context::global());
  EXPECT_EQ(symbol::name(fixed.word.on_change_star.word_symbol()), "on-change*");
  EXPECT_EQ(symbol::name(fixed.word.m_not_found.word_symbol()), "<not-found>");
  EXPECT_TRUE(fixed.ref.local.is(TYPE_REFINEMENT));
  EXPECT_EQ(fixed.ref.local.word_context(), 0u);
  EXPECT_EQ(mold_text(fixed.issue_ooo), "#ooo");
  // Every registered type has its name word.
  for (uint32_t t = 1; t <= highest_type_id(); t++) {
    const TypeNameRecord& r = type_record(static_cast<TypeId>(t));
    if (!r.name) continue;
    ASSERT_TRUE(r.word.is(TYPE_WORD)) << r.name;
    EXPECT_EQ(symbol::name(r.word.word_symbol()), r.name);
    EXPECT_EQ(symbol::name(r.word.word_symbol()).back(), '!');
  }
  // The words survive a collection with their names.
  gc::collect();
  EXPECT_EQ(symbol::name(fixed.word.on_deep_change_star.word_symbol()), "on-deep-change*");
}

}  // namespace
}  // namespace zem
