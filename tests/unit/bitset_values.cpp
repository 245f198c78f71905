// bitset! values: make and to from every spec form, molds, membership through pick and find,
// the changing actions on ordinary and complemented sets, and the set operations.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/series.h"
#include "runtime/ownership.h"
#include "runtime/wiring.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"
#include "tests/unit/value_cells.h"

namespace zem {
namespace {

using test::Frame;
using test::int_cell;
using test::raised;

using test::binary_cell;
using test::string_cell;
Cell word(const char* name) { return test::word_cell(name); }
Cell block(std::initializer_list<Cell> cells) { return test::block_of(cells); }

class BitsetValues : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::words);
  }

  static Cell make(const Cell& spec) { return Frame(ActionIndex::make, {datatype_cell(TYPE_BITSET), spec}).run(TYPE_BITSET); }
  static Cell to(const Cell& spec) { return Frame(ActionIndex::to, {datatype_cell(TYPE_BITSET), spec}).run(TYPE_BITSET); }
  static bool pick(const Cell& bits, const Cell& value) { return logic_flag(Frame(ActionIndex::pick, {bits, value}).run()); }
  static bool find(const Cell& bits, const Cell& value) { return logic_flag(Frame(ActionIndex::find, {bits, value}).run()); }
  static std::string mold(const Cell& bits) { return test::mold_text(bits); }
  static int32_t length(const Cell& bits) { return Frame(ActionIndex::length_q, {bits}).run().int_value(); }
};

TEST_F(BitsetValues, MakeFromEverySpec) {
  EXPECT_EQ(mold(make(string_cell(U"A"))), "make bitset! #{000000000000000040}");
  Cell not_a = make(block({word("not"), string_cell(U"A")}));
  EXPECT_EQ(mold(not_a), "make bitset! [not #{000000000000000040}]");
  BitsView b = bitset_bits(not_a);
  ASSERT_EQ(b.length, 9u);
  EXPECT_EQ(b.bytes[0], 0xFF);
  EXPECT_EQ(b.bytes[8], 0xBF);

  EXPECT_EQ(length(make(int_cell(9))), 16);
  EXPECT_EQ(length(make(int_cell(0))), 0);
  EXPECT_EQ(length(make(test::float_cell(8.9))), 8);
  EXPECT_EQ(mold(make(binary_cell({0x0F, 0x80}))), "make bitset! #{0F80}");
  Cell not_bin = make(block({word("not"), binary_cell({0x0F})}));
  EXPECT_EQ(mold(not_bin), "make bitset! [not #{0F}]");
  EXPECT_TRUE(pick(not_bin, int_cell(0)));   // the binary names the bits that are not members
  EXPECT_FALSE(pick(not_bin, int_cell(4)));
  EXPECT_TRUE(pick(not_bin, int_cell(800)));

  Cell range = make(block({make_char('a'), word("-"), make_char('c'), int_cell(100)}));
  for (char32_t c : std::u32string_view(U"abc")) EXPECT_TRUE(pick(range, make_char(c)));
  EXPECT_TRUE(pick(range, int_cell(100)));
  EXPECT_TRUE(pick(range, make_char('d')));  // 100
  EXPECT_FALSE(pick(range, make_char('e')));
  EXPECT_FALSE(pick(range, int_cell(96)));
  EXPECT_EQ(length(range), 104);

  Cell copy = make(range);
  EXPECT_NE(copy.node(), range.node());
  EXPECT_EQ(mold(copy), mold(range));
  Cell not_range = make(block({word("not"), make_char('a'), word("-"), make_char('c')}));
  EXPECT_FALSE(pick(not_range, make_char('c')));
  EXPECT_TRUE(pick(not_range, make_char('d')));
  EXPECT_TRUE(pick(not_range, int_cell(100000)));
}

TEST_F(BitsetValues, SpecErrors) {
  EXPECT_EQ(raised([] { make(int_cell(-1)); }), Err::script_out_of_range);
  EXPECT_EQ(raised([] { to(int_cell(8)); }), Err::script_bad_to_arg);
  EXPECT_EQ(raised([] { make(block({make_char('c'), word("-"), make_char('a')})); }), Err::script_past_end);
  EXPECT_EQ(raised([] { make(block({make_char('a'), word("-")})); }), Err::script_past_end);
  EXPECT_EQ(raised([] { make(block({make_char('a'), word("-"), int_cell(100)})); }), Err::script_invalid_arg);
  EXPECT_EQ(raised([] { make(block({int_cell(-3)})); }), Err::script_out_of_range);
  EXPECT_EQ(raised([] { make(make_none()); }), Err::script_bad_make_arg);
  EXPECT_EQ(raised([] { to(make_none()); }), Err::script_bad_to_arg);
  Cell b = make(string_cell(U"a"));
  EXPECT_EQ(raised([&] { Frame(ActionIndex::append, {b, make_none()}).run(); }), Err::script_invalid_arg);
  EXPECT_EQ(raised([&] { Frame(ActionIndex::remove, {b}).run(); }), Err::script_missing_arg);
}

TEST_F(BitsetValues, MembershipBeyondTheBytes) {
  Cell plain = make(string_cell(U"a"));
  Cell not_a = make(block({word("not"), string_cell(U"a")}));
  EXPECT_FALSE(pick(plain, int_cell(5000)));
  EXPECT_TRUE(pick(not_a, int_cell(5000)));
  EXPECT_TRUE(find(not_a, int_cell(5000)));
  EXPECT_FALSE(find(not_a, make_char('a')));
  EXPECT_FALSE(pick(plain, int_cell(-1)));  // testing a negative number is no error
  EXPECT_TRUE(pick(plain, string_cell(U"aa")));
  EXPECT_FALSE(pick(plain, string_cell(U"ab")));
  EXPECT_TRUE(pick(not_a, block({make_char('b'), word("-"), make_char('z')})));
  EXPECT_FALSE(pick(not_a, block({make_char('a'), word("-"), make_char('z')})));
  EXPECT_TRUE(pick(not_a, block({int_cell(98), word("-"), int_cell(70000)})));  // past the bytes
  EXPECT_EQ(raised([&] { pick(not_a, block({make_char('b'), word("-"), int_cell(200)})); }),
            Err::script_invalid_arg);
}

TEST_F(BitsetValues, ChangingActions) {
  // Appending a bit beyond a complemented set's bytes changes nothing: it is a member already.
  Cell not_a = make(block({word("not"), string_cell(U"a")}));
  Frame(ActionIndex::append, {not_a, int_cell(5000)}).run();
  EXPECT_EQ(length(not_a), 104);

  Cell plain = make(string_cell(U"a"));
  Frame(ActionIndex::append, {plain, string_cell(U"\u20AC")}).run();  // grows to hold U+20AC
  EXPECT_EQ(length(plain), (0x20AC / 8 + 1) * 8);
  EXPECT_TRUE(pick(plain, make_char(0x20AC)));
  EXPECT_TRUE(pick(plain, make_char('a')));

  Frame poke(ActionIndex::poke, {plain, make_char('a'), int_cell(0)});
  poke.run();
  EXPECT_FALSE(pick(plain, make_char('a')));
  Frame(ActionIndex::poke, {plain, make_char('z'), make_logic(true)}).run();
  EXPECT_TRUE(pick(plain, make_char('z')));

  // remove/part takes the named bits out, complemented or not.
  Frame remove(ActionIndex::remove, {not_a, make_char('b')});
  int32_t refs[2] = {1, -1};
  remove.call.refinements = refs;
  remove.call.refinement_count = 2;
  remove.run();
  EXPECT_FALSE(pick(not_a, make_char('b')));
  EXPECT_TRUE(pick(not_a, make_char('c')));
  Frame remove_far(ActionIndex::remove, {not_a, int_cell(300)});
  remove_far.call.refinements = refs;
  remove_far.call.refinement_count = 2;
  remove_far.run();  // beyond the bytes: the set grows to store it
  EXPECT_FALSE(pick(not_a, int_cell(300)));
  EXPECT_TRUE(pick(not_a, int_cell(301)));

  // clear leaves the empty set.
  Frame(ActionIndex::clear, {not_a}).run();
  EXPECT_FALSE(pick(not_a, make_char('c')));
  EXPECT_FALSE(pick(not_a, int_cell(100000)));
  EXPECT_EQ(mold(not_a).find("not"), std::string::npos);
}

TEST_F(BitsetValues, ComplementAndSetOperations) {
  Cell a = make(string_cell(U"a"));
  Cell not_a = Frame(ActionIndex::complement, {a}).run();
  EXPECT_FALSE(pick(not_a, make_char('a')));
  EXPECT_TRUE(pick(not_a, make_char('b')));
  EXPECT_TRUE(pick(not_a, int_cell(1000000)));
  EXPECT_TRUE(pick(a, make_char('a')));  // the original is untouched
  EXPECT_EQ(mold(Frame(ActionIndex::negate, {a}).run()), mold(not_a));

  Cell not_b = make(block({word("not"), string_cell(U"b")}));
  Cell both = Frame(ActionIndex::and_t, {not_a, not_b}).run();  // neither a nor b
  EXPECT_FALSE(pick(both, make_char('a')));
  EXPECT_FALSE(pick(both, make_char('b')));
  EXPECT_TRUE(pick(both, make_char('c')));
  EXPECT_TRUE(pick(both, int_cell(1000)));
  Cell either = Frame(ActionIndex::or_t, {not_a, not_b}).run();  // everything
  EXPECT_TRUE(pick(either, make_char('a')));
  EXPECT_TRUE(pick(either, int_cell(1000)));
  Cell x = Frame(ActionIndex::xor_t, {a, not_b}).run();  // a and b in, and nothing else but beyond
  EXPECT_FALSE(pick(x, make_char('a')));
  EXPECT_FALSE(pick(x, make_char('b')));
  EXPECT_TRUE(pick(x, make_char('c')));
  EXPECT_EQ(raised([&] { Frame(ActionIndex::or_t, {a, int_cell(1)}).run(); }), Err::script_invalid_type);
}

TEST_F(BitsetValues, CompareAndForm) {
  CompareHandler cmp = compare_handler(TYPE_BITSET);
  Cell a = make(string_cell(U"a")), a2 = make(string_cell(U"a")), short_one = make(string_cell(U"A"));
  EXPECT_EQ(cmp(a, a2, COMP_EQUAL), 0);
  EXPECT_EQ(cmp(a, a2, COMP_SAME), 1);
  EXPECT_EQ(cmp(a, a, COMP_SAME), 0);
  EXPECT_EQ(cmp(short_one, a, COMP_LESSER), -1);
  EXPECT_EQ(cmp(a, int_cell(1), COMP_EQUAL), kCannotCompare);

  StdStringOut out;
  Cell part = int_cell(20);
  int32_t left = form_handler(TYPE_BITSET)(a, out, &part, 20);
  EXPECT_EQ(out.text(), "make bitset! #{000000}");  // stops once the budget is spent
  EXPECT_EQ(left, -2);
}

TEST_F(BitsetValues, ChangesReportToTheOwner) {
  static std::vector<std::string> seen;
  seen.clear();
  ownership::init();
  wiring.deep_change = [](const Cell&, const Cell&, const Cell&, ownership::Change action, const Cell*,
                         int32_t, int32_t) { seen.emplace_back(ownership::change_word(action)); };
  Cell a = make(string_cell(U"a"));
  Cell owner{TYPE_OBJECT, 0, 0, 1};  // an object with a change record
  ownership::set_owner(a, owner, word("field"));
  Frame(ActionIndex::append, {a, make_char('b')}).run();
  Frame(ActionIndex::poke, {a, make_char('b'), make_logic(false)}).run();
  Frame(ActionIndex::clear, {a}).run();
  const std::vector<std::string> want = {"append", "appended", "poke", "poked", "clear", "cleared"};
  EXPECT_EQ(seen, want);
  auto saved = wiring.word_is;
  wiring.word_is = [](const Cell& w, std::string_view name) { return symbol::name(w.word_symbol()) == name; };
  EXPECT_EQ(Frame(ActionIndex::reflect, {a, word("owned")}).run().object_record(), 1u);  // the owner
  wiring.word_is = saved;
  wiring.deep_change = nullptr;
}

TEST_F(BitsetValues, PathAccess) {
  Cell a = make(string_cell(U"a"));
  PathStep step;
  step.value = &a;
  Cell elem = make_char('a');
  step.element = &elem;
  EXPECT_TRUE(logic_flag(*path_handler(TYPE_BITSET)(step)));
  Cell f = make_logic(false);
  step.set_value = &f;
  path_handler(TYPE_BITSET)(step);
  EXPECT_FALSE(pick(a, make_char('a')));
  Cell bad = make_none();
  step.element = &bad;
  EXPECT_EQ(raised([&] { path_handler(TYPE_BITSET)(step); }), Err::script_invalid_type);
}

}  // namespace
}  // namespace zem
