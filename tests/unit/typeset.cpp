// typeset!: the mask layout, construction and the typeset actions.
#include "datatypes/typeset.h"

#include <gtest/gtest.h>

#include "datatypes/unset_none_logic.h"
#include "runtime/wiring.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::Frame;
using test::int_cell;
using test::raised;

class Typeset : public ::testing::Test {
 protected:
  void SetUp() override { init_through(StartLayer::datatypes); }
};

Cell of(std::initializer_list<TypeId> types) {
  Cell ts = make_typeset();
  for (TypeId t : types) typeset_set_bit(ts, t);
  return ts;
}

TEST_F(Typeset, MaskLayout) {
  // Byte n >> 3 of the mask in memory order, bit 0x80 >> (n & 7); words computed with python3
  // struct.
  struct Case {
    TypeId t;
    uint32_t d1, d2, d3;
  } cases[] = {
      {TYPE_DATATYPE, 0x40, 0, 0}, {TYPE_UNSET, 0x20, 0, 0},    {TYPE_INTEGER, 0x1000, 0, 0},
      {TYPE_TYPESET, 0, 0x40, 0},  {TYPE_IMAGE, 0, 0x40000, 0}, {TYPE_EVENT, 0, 0x20000, 0},
  };
  for (const Case& c : cases) {
    Cell ts = of({c.t});
    EXPECT_EQ(ts.typeset_word(0), c.d1) << type_name(c.t);
    EXPECT_EQ(ts.typeset_word(1), c.d2) << type_name(c.t);
    EXPECT_EQ(ts.typeset_word(2), c.d3) << type_name(c.t);
    EXPECT_TRUE(typeset_has(ts, c.t));
    EXPECT_EQ(typeset_count(ts), c.t <= highest_type_id() ? 1u : 0u);
  }
  Cell high = make_typeset();
  typeset_set_bit(high, 95);
  EXPECT_EQ(high.typeset_word(2), 0x01000000u);
  EXPECT_FALSE(typeset_bit(high, 96));

  Cell all = typeset_all();
  EXPECT_FALSE(typeset_has(all, TYPE_UNSET));
  EXPECT_TRUE(typeset_bit(all, 0));
  EXPECT_TRUE(typeset_bit(all, 95));
  EXPECT_EQ(typeset_count(all), highest_type_id() - 1u);
}

TEST_F(Typeset, FormAndMold) {
  Cell two = of({TYPE_FLOAT, TYPE_INTEGER});
  int32_t left;
  EXPECT_EQ(test::form_text(two, &left), "make typeset! [integer! float!]");
  EXPECT_EQ(left, kNoLimit - 31);
  EXPECT_EQ(test::mold_text(two, {}, &left), "make typeset! [integer! float!]");
  EXPECT_EQ(left, kNoLimit - 31);
  EXPECT_EQ(test::mold_text(two, {.only = true}, &left), "integer! float!");
  EXPECT_EQ(left, kNoLimit - 15);
  EXPECT_EQ(test::mold_text(make_typeset(), {}, &left), "make typeset! []");
  EXPECT_EQ(left, kNoLimit - 16);
  EXPECT_EQ(test::mold_text(make_typeset(), {.only = true}, &left), "");
  EXPECT_EQ(left, kNoLimit);

  // Complementing the empty set lists every registered type, in id order.
  Frame f(ActionIndex::complement, {make_typeset()});
  std::string all = test::form_text(f.run());
  EXPECT_EQ(all.find("make typeset! [datatype! unset! none! logic! block! paren! string!"), 0u);
  EXPECT_EQ(all.substr(all.size() - 25), "point2D! point3D! image!]");
  EXPECT_EQ(all.find("event!"), std::string::npos);

  // With /part the walk stops once the limit is used up.
  StdStringOut out;
  Cell part = int_cell(20);
  Cell three = of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING});
  left = typeset_serialize(three, out, false, &part, 20);
  EXPECT_EQ(out.text(), "make typeset! [string!");
  EXPECT_EQ(left, 20 - 15 - 8);
  out.clear();
  left = typeset_serialize(three, out, false, &part, 30);
  EXPECT_EQ(out.text(), "make typeset! [string! integer!");
  EXPECT_LE(left, 0);
}

TEST_F(Typeset, SetOperations) {
  const Cell a = of({TYPE_INTEGER, TYPE_FLOAT}), b = of({TYPE_FLOAT, TYPE_STRING});
  const Cell string_type = datatype_cell(TYPE_STRING);
  struct Case {
    const char* what;
    MathOp op;
    Cell first, second, result;
  } cases[] = {
      {"or", OP_OR, a, b, of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
      {"union datatype", OP_UNION, a, string_type, of({TYPE_INTEGER, TYPE_FLOAT, TYPE_STRING})},
      {"and", OP_AND, a, b, of({TYPE_FLOAT})},
      {"intersect", OP_INTERSECT, a, b, of({TYPE_FLOAT})},
      {"xor", OP_XOR, a, b, of({TYPE_INTEGER, TYPE_STRING})},
      {"difference", OP_DIFFERENCE, a, b, of({TYPE_INTEGER, TYPE_STRING})},
      {"exclude", OP_EXCLUDE, of({TYPE_INTEGER, TYPE_STRING}), string_type, of({TYPE_INTEGER})},
      {"unique", OP_UNIQUE, a, b, a},
  };
  for (const Case& c : cases) {
    Frame f(ActionIndex::and_t, {c.first, c.second});
    Cell r = *typeset_do_set_op(f.call, c.op);
    EXPECT_TRUE(r.is(TYPE_TYPESET)) << c.what;
    EXPECT_EQ(compare_handler(TYPE_TYPESET)(r, c.result, COMP_EQUAL), 0) << c.what;
  }
  // The actions reach the same operations through the registry.
  Frame f(ActionIndex::or_t, {a, string_type});
  EXPECT_EQ(typeset_count(f.run()), 3u);
  Frame bad(ActionIndex::xor_t, {a, int_cell(1)});
  EXPECT_EQ(raised([&] { bad.run(); }), Err::script_invalid_arg);
}

TEST_F(Typeset, FindAndCompare) {
  const Cell ts = of({TYPE_INTEGER, TYPE_FLOAT});
  Frame yes(ActionIndex::find, {ts, datatype_cell(TYPE_INTEGER)});
  EXPECT_TRUE(is_true(yes.run()));
  Frame no(ActionIndex::find, {ts, datatype_cell(TYPE_STRING)});
  Cell r = no.run();
  EXPECT_TRUE(r.is(TYPE_LOGIC));
  EXPECT_FALSE(is_true(r));
  Frame bad(ActionIndex::find, {ts, int_cell(1)});
  EXPECT_EQ(raised([&] { bad.run(); }), Err::script_invalid_arg);

  CompareHandler cmp = compare_handler(TYPE_TYPESET);
  const Cell same = of({TYPE_FLOAT, TYPE_INTEGER}),
             bigger = of({TYPE_BLOCK, TYPE_FLOAT, TYPE_STRING});
  EXPECT_EQ(cmp(ts, same, COMP_EQUAL), 0);
  EXPECT_EQ(cmp(ts, bigger, COMP_NOT_EQUAL), 1);
  EXPECT_EQ(cmp(ts, bigger, COMP_SORT), -1);  // ordered by member count
  EXPECT_EQ(cmp(bigger, ts, COMP_CASE_SORT), 1);
  EXPECT_EQ(cmp(ts, same, COMP_LESSER), kCannotCompare);
  EXPECT_EQ(cmp(ts, int_cell(0), COMP_EQUAL), kCannotCompare);
  // Bits beyond the registered ids count for equality, not for the member count.
  Cell extra = ts;
  typeset_set_bit(extra, 90);
  EXPECT_EQ(cmp(ts, extra, COMP_EQUAL), 1);
  EXPECT_EQ(cmp(ts, extra, COMP_SORT), 0);
}

TEST_F(Typeset, MakeAndSpecs) {
  const Cell ts = of({TYPE_INTEGER});
  Frame from_typeset(ActionIndex::make, {datatype_cell(TYPE_TYPESET), ts});
  EXPECT_EQ(compare_handler(TYPE_TYPESET)(from_typeset.run(TYPE_TYPESET), ts, COMP_EQUAL), 0);
  Frame from_int(ActionIndex::to, {datatype_cell(TYPE_TYPESET), int_cell(1)});
  EXPECT_EQ(raised([&] { from_int.run(TYPE_TYPESET); }), Err::script_bad_to_arg);
  EXPECT_EQ(pending_exit().args[0].datatype_id(), TYPE_TYPESET);
  EXPECT_EQ(pending_exit().args[1].int_value(), 1);

  Cell acc = make_typeset();
  typeset_add_value(acc, datatype_cell(TYPE_STRING));
  typeset_add_value(acc, ts);
  EXPECT_EQ(compare_handler(TYPE_TYPESET)(acc, of({TYPE_STRING, TYPE_INTEGER}), COMP_EQUAL), 0);
  EXPECT_EQ(raised([&] { typeset_add_value(acc, int_cell(1)); }), Err::script_invalid_arg);

  Cell block{}, word{};
  block.set_header(TYPE_BLOCK);
  word.set_header(TYPE_WORD);
  word.set_word_symbol(77);
  // Words stand for their values; a word whose value is a word adds object!.
  static Cell word_value;
  wiring.word_value = [](const Cell&) -> const Cell* { return &word_value; };
  word_value = datatype_cell(TYPE_FLOAT);
  const Cell spec[] = {datatype_cell(TYPE_CHAR), block, ts, word};
  EXPECT_EQ(compare_handler(TYPE_TYPESET)(typeset_from_spec(spec),
                                          of({TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT}), COMP_EQUAL),
            0);
  word_value = word;
  const Cell word_spec[] = {word};
  EXPECT_TRUE(typeset_has(typeset_from_spec(word_spec), TYPE_OBJECT));
  const Cell bad_spec[] = {datatype_cell(TYPE_CHAR), int_cell(1)};
  EXPECT_EQ(raised([&] { typeset_from_spec(bad_spec); }), Err::script_invalid_type_spec);
}

class TypesetFromBlock : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
  }
};

TEST_F(TypesetFromBlock, MakeAddsEachValueFromTheBlockPosition) {
  NodeId block = alloc::make_cells(4);
  testing::append_cell(block, int_cell(1));  // before the position: not read
  testing::append_cell(block, datatype_cell(TYPE_CHAR));
  testing::append_cell(block, of({TYPE_INTEGER, TYPE_FLOAT}));
  Cell spec = testing::block_cell(block);
  spec.set_head_index(1);
  Frame make(ActionIndex::make, {datatype_cell(TYPE_TYPESET), spec});
  Cell r = make.run(TYPE_TYPESET);
  EXPECT_EQ(compare_handler(TYPE_TYPESET)(r, of({TYPE_CHAR, TYPE_INTEGER, TYPE_FLOAT}), COMP_EQUAL),
            0);

  spec.set_head_index(9);  // past the tail: an empty typeset
  Frame past(ActionIndex::to, {datatype_cell(TYPE_TYPESET), spec});
  EXPECT_EQ(typeset_count(past.run(TYPE_TYPESET)), 0u);

  spec.set_head_index(0);  // the integer is no type
  Frame bad(ActionIndex::make, {datatype_cell(TYPE_TYPESET), spec});
  EXPECT_EQ(raised([&] { bad.run(TYPE_TYPESET); }), Err::script_invalid_arg);
}

}  // namespace
}  // namespace zem
