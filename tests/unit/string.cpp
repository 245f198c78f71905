// string! actions: molds, comparison, append/insert/take/change, find/select, sort, trim, swap, path
// access and the set operations. Most tables run over the same text stored in 1-, 2- and 4-byte
// units: the answers must not depend on the width.
#include "datatypes/string.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/hashtab.h"
#include "runtime/ownership.h"
#include "runtime/wiring.h"
#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using test::int_cell;
using test::raised;
using namespace strings;

// One action call with refinements: `flag` marks a refinement present, `with` gives its argument.
struct Call {
  std::vector<Cell> cells;
  std::vector<int32_t> refs;
  ActionCall call;
  Call(ActionIndex a, std::initializer_list<Cell> args, uint32_t refinements = 11)
      : cells(args), refs(refinements, -1) {
    cells.reserve(32);
    call.action = a;
  }
  Call& flag(uint32_t r) {
    refs[r] = 0;
    return *this;
  }
  Call& with(uint32_t r, const Cell& arg) {
    refs[r] = static_cast<int32_t>(cells.size());
    cells.push_back(arg);
    return *this;
  }
  // The handler of slot 0's type, or of `type` (make and to take a datatype! in slot 0).
  Cell run(TypeId type = TYPE_NONE_ID) {
    call.args = cells.data();
    call.arg_count = static_cast<uint32_t>(cells.size());
    call.refinements = refs.data();
    call.refinement_count = static_cast<uint32_t>(refs.size());
    return *action_handler(type ? type : cells[0].type(), call.action)(call);
  }
};

Cell char_cell(uint32_t cp) { return make_char(cp); }

// An unbound word with index 0.
Cell word_of(const char* name) {
  Cell w = test::typed_cell(TYPE_WORD);
  w.set_word_symbol(symbol::intern(name));
  return w;
}

// An object! stand-in for the owner of a series: no context, a change record.
Cell object_stand_in() {
  Cell o = test::typed_cell(TYPE_OBJECT);
  o.set_object(0, 0, 1);
  return o;
}

// A refinement without an argument in the tables below.
constexpr int32_t kFlag = INT32_MIN;

class StringTest : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::words);
  }
  // A string of the UTF-8 text stored in units of at least `unit` bytes.
  static Cell text(const std::string& utf8, uint32_t unit = 1, TypeId type = TYPE_STRING) {
    Cell s = str::make_from_utf8(utf8, type);
    str::widen_to(s.node(), unit);
    return s;
  }
  static std::string utf8(const Cell& s) { return str::to_std_string(s); }
  static std::string whole(Cell s) {
    s.set_head_index(0);
    return str::to_std_string(s);
  }
  static uint32_t units_of(const Cell& s) { return series_buffer(s.node())->length(); }
  static uint32_t unit(const Cell& s) { return series_buffer(s.node())->unit(); }
  // 1-based index of a series answer, 0 for none.
  static int index(const Cell& c) { return c.is(TYPE_NONE) ? 0 : static_cast<int>(c.head_index()) + 1; }
  static std::string mold(const Cell& v, MoldFlags f = {}) { return test::mold_text(v, f); }
};

constexpr uint32_t kUnits[] = {1, 2, 4};

// ---- mold ---------------------------------------------------------------------------------------

TEST_F(StringTest, MoldQuotesEscapesAndBraces) {
  struct Case {
    std::string in, out;
  };
  const std::string a49(49, 'a'), a50(50, 'a');
  const Case cases[] = {
      {"abc", "\"abc\""},
      {"", "\"\""},
      {a49, "\"" + a49 + "\""},
      {a50, "{" + a50 + "}"},
      {"a\"b", "{a\"b}"},                   // a quote chooses braces, unescaped
      {"a\tb\nc", "\"a^-b^/c\""},           // tab and line feed in double quotes
      {"1\n2\n3", "\"1^/2^/3\""},           // two line feeds still give double quotes
      {"1\n2\n3\n", "{1^/2^/3^/}"},         // three give braces, escaped there too
      {"\"a\tb\n", "{\"a^-b^/}"},            // tab and line feed inside braces
      {"x^y", "\"x^^y\""},
      {"\x7f", "\"^~\""},
      {"\x1e", "\"^(1E)\""},
      {"\x01\x1b\x1f", "\"^A^[^_\""},
      {"\xc2\x85", "\"^(85)\""},             // U+0085
      {"\xc3\xa9", "\"\xc3\xa9\""},          // U+00E9 as itself
      {"{a}", "\"{a}\""},                    // short text: braces inside double quotes as they are
      {"\"{a}", "{\"{a}}"},                  // matched pair inside braces
      {"\"{a", "{\"^{a}"},                   // unmatched open brace
      {"\"a}", "{\"a^}}"},                   // unmatched close brace
      {"\"{ {x}", "{\"^{ ^{x^}}"},           // after an unmatched "{", nothing opens
      {"\"{a{b}}c}", "{\"{a{b}}c^}}"},
      {"\"x^y", "{\"x^^y}"},
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) EXPECT_EQ(mold(text(c.in, u)), c.out) << c.in << " unit " << u;
  }
  MoldFlags all;
  all.all = true;
  EXPECT_EQ(mold(text("a\xc3\xa9\xe2\x98\xba"), all), "\"a^(E9)^(263A)\"");
}

TEST_F(StringTest, MoldAndFormWithPartLimit) {
  Cell s = text("abcdef");
  Cell part = int_cell(3);
  StdStringOut out;
  EXPECT_EQ(form_handler(TYPE_STRING)(s, out, &part, 3), 0);
  EXPECT_EQ(out.text(), "abc");
  StdStringOut m;
  int32_t left = mold_handler(TYPE_STRING)(s, m, MoldFlags{}, &part, 3, 0);
  EXPECT_EQ(m.text(), "\"abc\"");
  EXPECT_EQ(left, -2);
}

// ---- make, to, compare ---------------------------------------------------------------------------

TEST_F(StringTest, MakeAndTo) {
  Cell made = Call(ActionIndex::make, {datatype_cell(TYPE_STRING), int_cell(10)}).run(TYPE_STRING);
  EXPECT_TRUE(made.is(TYPE_STRING));
  EXPECT_EQ(str::count_from_head(made), 0u);
  EXPECT_EQ(raised([&] { Call(ActionIndex::make, {datatype_cell(TYPE_STRING), int_cell(-1)}).run(TYPE_STRING); }),
            Err::script_out_of_range);
  EXPECT_EQ(raised([&] {
              Call(ActionIndex::to, {datatype_cell(TYPE_STRING), shared_cells.none}).run(TYPE_STRING);
            }),
            Err::script_bad_to_arg);

  Cell b = block::make(4);
  block::append_cell(b, text("ab"));
  block::append_cell(b, char_cell(0x263A));
  block::append_cell(b, text("c", 4));
  Cell s = Call(ActionIndex::to, {datatype_cell(TYPE_STRING), b}).run(TYPE_STRING);
  EXPECT_EQ(utf8(s), "ab\xe2\x98\xba" "c");

  Cell src = text("xyz");
  src.set_head_index(1);
  Cell f = Call(ActionIndex::to, {datatype_cell(TYPE_FILE), src}).run(TYPE_FILE);
  EXPECT_TRUE(f.is(TYPE_FILE));
  EXPECT_EQ(utf8(f), "yz");
  EXPECT_NE(f.node(), src.node());
}

TEST_F(StringTest, CompareUnderEachOp) {
  struct Case {
    const char* a;
    const char* b;
    CompareOp op;
    int32_t result;
  };
  const Case cases[] = {
      {"ABC", "abc", COMP_EQUAL, 0},
      {"ABC", "abc", COMP_STRICT_EQUAL, -1},
      {"abc", "abcd", COMP_EQUAL, 1},
      {"abc", "abd", COMP_LESSER, -1},
      {"abd", "ABC", COMP_GREATER, 1},
      {"ab", "abc", COMP_SORT, -1},
      {"B", "a", COMP_SORT, 1},
      {"B", "a", COMP_CASE_SORT, -1},
      {"\xc3\xa9", "\xc3\x89", COMP_EQUAL, 0},  // é and É fold alike
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      EXPECT_EQ(compare_handler(TYPE_STRING)(text(c.a, u), text(c.b), c.op), c.result)
          << c.a << " " << c.b << " op " << c.op << " unit " << u;
    }
    // Folding goes to upper case, so "_" sorts after the letters whatever the width.
    EXPECT_EQ(compare_handler(TYPE_STRING)(text("_", u), text("a"), COMP_SORT), 1);
  }
  Cell file = text("abc", 1, TYPE_FILE);
  Cell string = text("abc");
  EXPECT_EQ(compare_handler(TYPE_STRING)(string, file, COMP_EQUAL), 0);
  EXPECT_EQ(compare_handler(TYPE_STRING)(string, file, COMP_LESSER), kCannotCompare);
  EXPECT_EQ(compare_handler(TYPE_STRING)(string, int_cell(1), COMP_EQUAL), kCannotCompare);
  Cell same = string;
  EXPECT_EQ(compare_handler(TYPE_STRING)(string, same, COMP_SAME), 0);
  EXPECT_NE(compare_handler(TYPE_STRING)(string, text("abc"), COMP_SAME), 0);
}

// ---- append, insert, take ------------------------------------------------------------------------

TEST_F(StringTest, AppendWidensAndRepeats) {
  Cell s = text("ab");
  s.set_head_index(1);
  Cell r = Call(ActionIndex::append, {s, char_cell(0x1F600)}, 3).run();
  EXPECT_EQ(r.head_index(), 0u);  // answered from its head
  EXPECT_EQ(unit(s), 4u);
  EXPECT_EQ(whole(s), "ab\xf0\x9f\x98\x80");

  Cell t = text("x");
  Call(ActionIndex::append, {t, text("yz")}, 3).with(APPEND_DUP, int_cell(3)).run();
  EXPECT_EQ(whole(t), "xyzyzyz");
  Call(ActionIndex::append, {t, text("abcdef", 2)}, 3).with(APPEND_PART, int_cell(2)).run();
  EXPECT_EQ(whole(t), "xyzyzyzab");
  Cell tag = text("b", 1, TYPE_TAG);
  Call(ActionIndex::append, {t, tag}, 3).run();
  EXPECT_EQ(whole(t), "xyzyzyzab<b>");

  Cell latin = text("a");
  Call(ActionIndex::append, {latin, char_cell(0xE9)}, 3).run();
  EXPECT_EQ(unit(latin), 2u);  // appending Latin-1 widens
  Cell self = text("ab");
  Call(ActionIndex::append, {self, self}, 3).with(APPEND_DUP, int_cell(2)).run();
  EXPECT_EQ(whole(self), "ababab");

  EXPECT_EQ(raised([&] {
              Call(ActionIndex::append, {t, text("abc")}, 3).with(APPEND_DUP, int_cell(0x7FFFFFFF)).run();
            }),
            Err::internal_no_memory);
  EXPECT_EQ(whole(t), "xyzyzyzab<b>");  // nothing of the failed append stays
}

TEST_F(StringTest, InsertMovesTheHeadPastTheText) {
  for (uint32_t u : kUnits) {
    Cell s = text("abef", u);
    s.set_head_index(2);
    Cell r = Call(ActionIndex::insert, {s, text("cd")}, 3).run();
    EXPECT_EQ(whole(r), "abcdef");
    EXPECT_EQ(r.head_index(), 4u);
    r = Call(ActionIndex::insert, {r, char_cell(0x263A)}, 3).with(APPEND_DUP, int_cell(2)).run();
    EXPECT_EQ(whole(r), "abcd\xe2\x98\xba\xe2\x98\xba" "ef");
    EXPECT_EQ(r.head_index(), 6u);
    Cell end = s;
    end.set_head_index(units_of(s));
    r = Call(ActionIndex::insert, {end, text("!")}, 3).run();
    EXPECT_EQ(r.head_index(), units_of(s));
    EXPECT_EQ(whole(r), "abcd\xe2\x98\xba\xe2\x98\xba" "ef!");
  }
}

TEST_F(StringTest, TakeAnswersACharWithoutPart) {
  Cell s = text("xyz", 2);
  Cell c = Call(ActionIndex::take, {s}, 3).run();
  EXPECT_TRUE(c.is(TYPE_CHAR));
  EXPECT_EQ(c.char_value(), uint32_t('x'));
  Cell l = Call(ActionIndex::take, {s}, 3).flag(TAKE_LAST).run();
  EXPECT_EQ(l.char_value(), uint32_t('z'));
  Cell p = Call(ActionIndex::take, {s}, 3).with(TAKE_PART, int_cell(1)).run();
  EXPECT_TRUE(p.is(TYPE_STRING));
  EXPECT_EQ(utf8(p), "y");
  EXPECT_TRUE(Call(ActionIndex::take, {s}, 3).run().is(TYPE_NONE));
}

// ---- find and select -----------------------------------------------------------------------------

struct FindCase {
  const char* series;
  uint32_t head;  // 0-based
  char kind;      // 's' string, 'c' char, 't' tag, 'w' word, 'i' integer (formed)
  const char* value;
  std::vector<std::pair<uint32_t, int32_t>> refinements;  // position, integer argument (or -1)
  int found;      // 1-based index, 0 for none
};

TEST_F(StringTest, FindWithEveryRefinement) {
  const FindCase cases[] = {
      {"abcabc", 0, 's', "bc", {}, 2},
      {"abcabc", 0, 's', "bc", {{FIND_LAST, kFlag}}, 5},
      {"abcabc", 6, 's', "bc", {{FIND_REVERSE, kFlag}}, 5},
      {"abcabc", 0, 's', "bc", {{FIND_REVERSE, kFlag}}, 0},  // nothing before the head
      {"abc", 0, 'c', "b", {{FIND_TAIL, kFlag}}, 3},
      {"abc", 0, 's', "ab", {{FIND_MATCH, kFlag}}, 1},
      {"abc", 0, 's', "ab", {{FIND_MATCH, kFlag}, {FIND_TAIL, kFlag}}, 3},
      {"abc", 0, 's', "b", {{FIND_MATCH, kFlag}}, 0},
      {"ABC", 0, 's', "b", {}, 2},
      {"ABC", 0, 's', "b", {{FIND_CASE, kFlag}}, 0},
      {"ABC", 0, 's', "b", {{FIND_SAME, kFlag}}, 0},
      {"ABC", 0, 'c', "b", {}, 2},
      {"a1b2", 0, 's', "b", {{FIND_SKIP, 2}}, 3},
      {"a1b2", 0, 's', "1", {{FIND_SKIP, 2}}, 0},
      {"a1b2", 0, 'c', "a", {{FIND_SKIP, 2}, {FIND_TAIL, kFlag}}, 3},
      {"abcdef", 0, 's', "d", {{FIND_PART, 3}}, 0},
      {"abcdef", 0, 's', "c", {{FIND_PART, 3}}, 3},
      {"abcdef", 0, 's', "a", {{FIND_PART, 0}}, 0},
      {"abcdef", 0, 's', "ef", {{FIND_PART, 5}}, 0},           // the match must end in the range
      {"abcdef", 4, 's', "b", {{FIND_REVERSE, kFlag}, {FIND_PART, 2}}, 0},
      {"abcdef", 4, 's', "c", {{FIND_REVERSE, kFlag}, {FIND_PART, 2}}, 3},
      {"abcdef", 0, 's', "cd", {{FIND_LAST, kFlag}, {FIND_PART, 3}}, 0},
      {"abcabc", 0, 'c', "c", {{FIND_LAST, kFlag}, {FIND_MATCH, kFlag}}, 6},
      {"x<b>y", 0, 't', "b", {}, 2},
      {"x12y", 0, 'i', "12", {}, 2},
      {"print it", 0, 'w', "it", {}, 7},
      {"caf\xc3\xa9", 0, 's', "\xc3\x89", {}, 4},  // É finds é
      {"", 0, 's', "a", {}, 0},
      {"abc", 3, 's', "c", {}, 0},
      {"abc", 0, 's', "", {}, 0},
  };
  for (uint32_t u : kUnits) {
    for (const FindCase& c : cases) {
      Cell s = text(c.series, u);
      s.set_head_index(c.head);
      Cell v;
      switch (c.kind) {
        case 'c': v = char_cell(static_cast<uint8_t>(c.value[0])); break;
        case 't': v = text(c.value, 1, TYPE_TAG); break;
        case 'w': v = word_of(c.value); break;
        case 'i': v = int_cell(std::stoi(c.value)); break;
        default: v = text(c.value, 1); break;
      }
      Call call(ActionIndex::find, {s, v});
      for (auto [r, arg] : c.refinements) {
        if (arg == kFlag)
          call.flag(r);
        else
          call.with(r, int_cell(arg));
      }
      EXPECT_EQ(index(call.run()), c.found) << c.series << " / " << c.value << " unit " << u;
    }
  }
}

TEST_F(StringTest, FindErrorsAndBitsets) {
  Cell s = text("abc");
  EXPECT_EQ(raised([&] { Call(ActionIndex::find, {s, text("a")}).flag(FIND_ANY).run(); }),
            Err::internal_not_done);
  EXPECT_EQ(raised([&] { Call(ActionIndex::find, {s, text("a")}).with(FIND_SKIP, int_cell(0)).run(); }),
            Err::script_out_of_range);
  EXPECT_EQ(raised([&] { Call(ActionIndex::find, {s, text("a")}).with(FIND_PART, text("zz")).run(); }),
            Err::script_invalid_refine_arg);
  Cell pos = s;
  pos.set_head_index(2);
  EXPECT_EQ(index(Call(ActionIndex::find, {s, text("b")}).with(FIND_PART, pos).run()), 2);
  EXPECT_EQ(index(Call(ActionIndex::find, {s, text("c")}).with(FIND_PART, pos).run()), 0);

  // A bitset of "c" alone: byte 12 holds bit 0x80 >> 3; beyond its bytes the complement flag counts.
  NodeId bits = alloc::make_bytes(13);
  SeriesBuffer* b = series_buffer(bits);
  std::memset(b->head_ptr(), 0, 13);
  b->head_ptr()['c' >> 3] = 0x80 >> ('c' & 7);
  b->set_length(13);
  Cell bitset = block::value_of(bits, TYPE_BITSET);
  for (uint32_t u : kUnits) {
    EXPECT_EQ(index(Call(ActionIndex::find, {text("abcd", u), bitset}).run()), 3);
    EXPECT_EQ(index(Call(ActionIndex::find, {text("ab\xe2\x98\xba", u), bitset}).run()), 0);
  }
  series_buffer(bits)->flags |= 0x80000;
  EXPECT_EQ(index(Call(ActionIndex::find, {text("ab\xe2\x98\xba"), bitset}).run()), 3);
  EXPECT_TRUE(strings::head_char_in_bitset(text("\xe2\x98\xba"), bitset));
}

TEST_F(StringTest, SelectAnswersTheUnitAfterTheMatch) {
  struct Case {
    char kind;
    const char* value;
    int32_t answer;  // code point, 0 for none
  };
  const Case cases[] = {{'s', "a", 'b'}, {'s', "bc", 0}, {'c', "b", 'c'}, {'s', "B", 'c'}};
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      Cell v = c.kind == 'c' ? char_cell(static_cast<uint8_t>(c.value[0])) : text(c.value);
      Cell r = Call(ActionIndex::select, {text("abc", u), v}, 9).run();
      if (c.answer == 0) {
        EXPECT_TRUE(r.is(TYPE_NONE)) << c.value;
      } else {
        EXPECT_TRUE(r.is(TYPE_CHAR));
        EXPECT_EQ(r.char_value(), uint32_t(c.answer)) << c.value << " unit " << u;
      }
    }
  }
}

TEST_F(StringTest, PathAccess) {
  Cell path = block::make(1, TYPE_PATH);
  auto step = [&](Cell& s, const Cell& element, const Cell* set) {
    PathStep st;
    Cell value = s;
    st.value = &value;
    st.element = &element;
    st.set_value = set;
    st.path = &path;
    return *path_handler(TYPE_STRING)(st);
  };
  Cell s = text("abc");
  EXPECT_EQ(step(s, int_cell(2), nullptr).char_value(), uint32_t('b'));
  EXPECT_EQ(step(s, text("b"), nullptr).char_value(), uint32_t('c'));
  Cell x = char_cell('x');
  EXPECT_EQ(step(s, text("b"), &x).char_value(), uint32_t('x'));
  EXPECT_EQ(utf8(s), "abx");
  Cell word = word_of("b");
  EXPECT_EQ(raised([&] { step(s, word, nullptr); }), Err::script_invalid_path);
  EXPECT_EQ(raised([&] { step(s, text("z"), &x); }), Err::script_bad_path_set);
}

// ---- change --------------------------------------------------------------------------------------

TEST_F(StringTest, ChangeInPlaceAndGrowing) {
  struct Case {
    const char* start;
    uint32_t head;
    char kind;  // 's' text, 'c' char, 'i' integer, 'b' block of 1 and 2, 't' tag
    const char* value;
    int32_t part, dup;  // -1: absent
    const char* result;
    uint32_t answer;  // 0-based head of the answer
  };
  const Case cases[] = {
      {"abcdef", 0, 's', "XY", -1, -1, "XYcdef", 2},
      {"abcdef", 0, 's', "XY", 3, -1, "XYdef", 2},
      {"abcdef", 0, 's', "X", -1, 3, "XXXdef", 3},
      {"ab", 2, 's', "cd", -1, -1, "abcd", 4},
      {"abc", 0, 'i', "12", -1, -1, "12c", 2},
      {"abc", 0, 'b', "", -1, -1, "12c", 2},
      {"abc", 0, 't', "x", -1, -1, "<x>", 3},
      {"abcdef", 1, 'i', "12", 4, 2, "a1212f", 5},
      {"abcdef", 1, 's', "XYZW", 1, -1, "aXYZWcdef", 5},
      {"abc", 1, 's', "", 1, -1, "ac", 1},
      {"abc", 0, 'c', "Z", -1, -1, "Zbc", 1},
      {"ab", 0, 's', "wxyz", -1, 40, nullptr, 160},
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      Cell s = text(c.start, u);
      s.set_head_index(c.head);
      Cell v;
      switch (c.kind) {
        case 'c': v = char_cell(static_cast<uint8_t>(c.value[0])); break;
        case 'i': v = int_cell(std::stoi(c.value)); break;
        case 't': v = text(c.value, 1, TYPE_TAG); break;
        case 'b':
          v = block::make(2);
          block::append_cell(v, int_cell(1));
          block::append_cell(v, int_cell(2));
          break;
        default: v = text(c.value, 1); break;
      }
      Call call(ActionIndex::change, {s, v}, 3);
      if (c.part >= 0) call.with(APPEND_PART, int_cell(c.part));
      if (c.dup >= 0) call.with(APPEND_DUP, int_cell(c.dup));
      Cell r = call.run();
      std::string expect = c.result ? c.result : [] {
        std::string w;
        for (int i = 0; i < 40; i++) w += "wxyz";
        return w;
      }();
      EXPECT_EQ(whole(r), expect) << c.start << " <- " << c.value << " unit " << u;
      EXPECT_EQ(r.head_index(), c.answer) << c.start << " <- " << c.value << " unit " << u;
    }
  }
}

TEST_F(StringTest, ChangeWidensOnlyForAWideChar) {
  Cell s = text("abc");
  Call(ActionIndex::change, {s, char_cell(0xE9)}, 3).run();
  EXPECT_EQ(unit(s), 2u);
  EXPECT_EQ(utf8(s), "\xc3\xa9" "bc");
  Cell t = text("abc");
  Cell latin = text("x");
  str::overwrite_code_point(latin.node(), 0, 0xE9);  // unit 1 holding U+00E9
  ASSERT_EQ(unit(latin), 1u);
  Call(ActionIndex::change, {t, latin}, 3).run();
  EXPECT_EQ(unit(t), 1u);
  EXPECT_EQ(utf8(t), "\xc3\xa9" "bc");
  Cell w = text("abc");
  Call(ActionIndex::change, {w, text("\xf0\x9f\x98\x80")}, 3).run();
  EXPECT_EQ(unit(w), 4u);
  EXPECT_EQ(utf8(w), "\xf0\x9f\x98\x80" "bc");
  // A value on the series' own buffer.
  Cell self = text("abcdef");
  Cell tail = self;
  tail.set_head_index(3);
  Call(ActionIndex::change, {self, tail}, 3).run();
  EXPECT_EQ(utf8(self), "defdef");
}

// ---- swap and trim -------------------------------------------------------------------------------

TEST_F(StringTest, Swap) {
  Cell a = text("ab"), b = text("xy");
  Call(ActionIndex::swap, {a, b}, 0).run();
  EXPECT_EQ(utf8(a), "xb");
  EXPECT_EQ(utf8(b), "ay");
  Cell end = a;
  end.set_head_index(2);
  Call(ActionIndex::swap, {end, b}, 0).run();
  EXPECT_EQ(utf8(b), "ay");
  Cell wide = text("\xe2\x98\xba");
  Call(ActionIndex::swap, {a, wide}, 0).run();
  EXPECT_EQ(utf8(a), "\xe2\x98\xba" "b");
  EXPECT_EQ(raised([&] { Call(ActionIndex::swap, {a, int_cell(1)}, 0).run(); }),
            Err::script_invalid_arg);
}

TEST_F(StringTest, TrimVariants) {
  struct Case {
    std::string in;
    std::vector<uint32_t> flags;
    const char* with;  // for TRIM_WITH
    std::string out;
  };
  const Case cases[] = {
      {"  a  b  ", {}, nullptr, "a  b"},
      {"  a  \n  b  \n", {}, nullptr, "a\nb\n"},
      {"  a  \n  b  ", {TRIM_HEAD}, nullptr, "a  \n  b  "},
      {"  a  \n  b  ", {TRIM_TAIL}, nullptr, "  a  \n  b"},
      {"  a  \n  b  ", {TRIM_HEAD, TRIM_TAIL}, nullptr, "a  \n  b"},
      {"  a \n\t b  ", {TRIM_LINES}, nullptr, "a b"},
      {" a b\tc\r\nd ", {TRIM_ALL}, nullptr, "abcd"},
      {"abcabc", {TRIM_WITH}, "ca", "bb"},
      {"a \r\nb", {}, nullptr, "a \r\nb"},      // blanks before a carriage return stay
      {"\xe3\x80\x80x\xc2\xa0", {}, nullptr, "x"},  // U+3000 and U+00A0 are blanks
      {std::string("\x00" "a", 2), {}, nullptr, std::string("\x00" "a", 2)},  // NUL is not
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      Cell s = text(c.in, u);
      Call call(ActionIndex::trim, {s}, 6);
      for (uint32_t f : c.flags) {
        if (f == TRIM_WITH)
          call.with(f, text(c.with));
        else
          call.flag(f);
      }
      call.run();
      EXPECT_EQ(utf8(s), c.out) << "[" << c.in << "] unit " << u;
    }
  }
  Cell s = text("xx  ab  ");
  s.set_head_index(2);
  Call(ActionIndex::trim, {s}, 6).run();
  EXPECT_EQ(whole(s), "xxab");  // units before the head are untouched
  EXPECT_EQ(raised([&] { Call(ActionIndex::trim, {s}, 6).flag(TRIM_AUTO).run(); }),
            Err::internal_not_done);
}

// ---- sort ----------------------------------------------------------------------------------------

TEST_F(StringTest, SortRefinements) {
  struct Case {
    const char* in;
    uint32_t head;
    std::vector<std::pair<uint32_t, int32_t>> refinements;
    const char* out;
    uint32_t answer;
  };
  const Case cases[] = {
      {"cBa", 0, {}, "aBc", 0},
      {"cBa", 0, {{SORT_CASE, kFlag}}, "Bac", 0},
      {"abc", 0, {{SORT_REVERSE, kFlag}}, "cba", 0},
      {"b2a1", 0, {{SORT_SKIP, 2}}, "a1b2", 0},
      {"b1a2", 0, {{SORT_SKIP, 2}, {SORT_COMPARE, 2}}, "b1a2", 0},
      {"a2a1", 0, {{SORT_SKIP, 2}, {SORT_ALL, kFlag}}, "a1a2", 0},
      {"dcba", 4, {{SORT_PART, -2}}, "dcab", 2},
      {"dcba", 0, {{SORT_PART, 2}}, "cdba", 0},
      {"a_Zb", 0, {}, "abZ_", 0},  // "_" after the letters in every width
      {"bBaA", 0, {{SORT_STABLE, kFlag}}, "aAbB", 0},
      {"bBaA", 0, {{SORT_STABLE, kFlag}, {SORT_CASE, kFlag}}, "ABab", 0},
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      Cell s = text(c.in, u);
      s.set_head_index(c.head);
      Call call(ActionIndex::sort, {s}, 7);
      for (auto [r, arg] : c.refinements) {
        if (arg == kFlag)
          call.flag(r);
        else
          call.with(r, int_cell(arg));
      }
      Cell r = call.run();
      EXPECT_EQ(whole(r), c.out) << c.in << " unit " << u;
      EXPECT_EQ(r.head_index(), c.answer) << c.in << " unit " << u;
    }
  }
  Cell s = text("abc");
  EXPECT_EQ(raised([&] { Call(ActionIndex::sort, {s}, 7).with(SORT_SKIP, int_cell(2)).run(); }),
            Err::script_invalid_refine_arg);
  EXPECT_EQ(raised([&] { Call(ActionIndex::sort, {s}, 7).flag(SORT_ALL).run(); }),
            Err::script_bad_refines);
  EXPECT_EQ(raised([&] {
              Call(ActionIndex::sort, {text("ab")}, 7).with(SORT_SKIP, int_cell(2)).with(SORT_COMPARE, int_cell(3)).run();
            }),
            Err::script_out_of_range);
  EXPECT_EQ(raised([&] { Call(ActionIndex::sort, {s}, 7).with(SORT_COMPARE, text("x")).run(); }),
            Err::script_invalid_refine_arg);
}

TEST_F(StringTest, StableCaseInsensitiveSortKeepsEqualRecordsInOrder) {
  // Records of two units ordered by their first unit alone: equal keys keep their order.
  std::string in, expect_a, expect_b;
  for (int i = 0; i < 300; i++) {
    char key = "bBaA"[i % 4];
    char tag = static_cast<char>('0' + i % 10);
    in += key;
    in += tag;
    ((key == 'a' || key == 'A') ? expect_a : expect_b) += std::string{key, tag};
  }
  for (uint32_t u : kUnits) {
    Cell s = text(in, u);
    Call(ActionIndex::sort, {s}, 7).with(SORT_SKIP, int_cell(2)).flag(SORT_STABLE).run();
    EXPECT_EQ(utf8(s), expect_a + expect_b) << "unit " << u;
  }
}

int32_t g_calls = 0;

TEST_F(StringTest, SortWithAFunctionComparator) {
  auto saved = wiring.sort_compare;
  // Orders by code point, descending, through the callback.
  wiring.sort_compare = [](const Cell&, const Cell& a, const Cell& b) -> int32_t {
    g_calls++;
    if (a.is(TYPE_CHAR)) return a.char_value() < b.char_value() ? 1 : a.char_value() > b.char_value() ? -1 : 0;
    uint32_t x = str::code_point_at(a, 1), y = str::code_point_at(b, 1);  // records: second unit
    return x < y ? -1 : x > y ? 1 : 0;
  };
  Cell fn = test::typed_cell(TYPE_FUNCTION);
  for (uint32_t u : kUnits) {
    g_calls = 0;
    Cell s = text("bdac", u);
    Call(ActionIndex::sort, {s}, 7).with(SORT_COMPARE, fn).run();
    EXPECT_EQ(utf8(s), "dcba");
    EXPECT_GT(g_calls, 0);
    Cell r = text("a3b1c2", u);
    Call(ActionIndex::sort, {r}, 7).with(SORT_COMPARE, fn).with(SORT_SKIP, int_cell(2)).flag(SORT_ALL).run();
    EXPECT_EQ(utf8(r), "b1c2a3");
  }
  // A comparator that collects: the sort works on its own copy and writes back through the node.
  static Cell kept;
  kept = text("qwertyuiopasdfghjklzxcvbnm", 2);
  gc::ScopedRoot root([](void*) { gc::mark_value(kept); }, nullptr);
  wiring.sort_compare = [](const Cell&, const Cell& a, const Cell& b) -> int32_t {
    str::make_string(100);  // garbage
    gc::collect();
    return a.char_value() < b.char_value() ? -1 : a.char_value() > b.char_value() ? 1 : 0;
  };
  Call(ActionIndex::sort, {kept}, 7).with(SORT_COMPARE, fn).flag(SORT_STABLE).run();
  EXPECT_EQ(utf8(kept), "abcdefghijklmnopqrstuvwxyz");

  // A comparator that shortens the series: the sort reports it and writes nothing back.
  static Cell victim;
  victim = text("dcba");
  wiring.sort_compare = [](const Cell&, const Cell&, const Cell&) -> int32_t {
    series_buffer(victim.node())->set_length(1);
    return 1;
  };
  EXPECT_EQ(raised([&] { Call(ActionIndex::sort, {victim}, 7).with(SORT_COMPARE, fn).run(); }),
            Err::script_invalid_arg);
  EXPECT_EQ(utf8(victim), "d");
  wiring.sort_compare = saved;
}

// ---- set operations ------------------------------------------------------------------------------

TEST_F(StringTest, SetOperations) {
  struct Case {
    MathOp op;
    const char* a;
    const char* b;
    bool case_sensitive;
    int32_t skip;
    const char* out;
  };
  const Case cases[] = {
      {OP_UNION, "abc", "bcd", false, 0, "abcd"},
      {OP_INTERSECT, "abc", "bcd", false, 0, "bc"},
      {OP_EXCLUDE, "abc", "bcd", false, 0, "a"},
      {OP_DIFFERENCE, "abc", "bcd", false, 0, "ad"},
      {OP_UNIQUE, "aAbB", "", false, 0, "ab"},
      {OP_UNIQUE, "aAbB", "", true, 0, "aAbB"},
      {OP_UNION, "a1b2", "a3c4", false, 2, "a1b2c4"},
      {OP_DIFFERENCE, "", "ab", false, 0, "ab"},
      {OP_INTERSECT, "aBc", "bC", false, 0, "Bc"},
      {OP_INTERSECT, "aBc", "bC", true, 0, ""},
      {OP_UNION, "\xc3\xa9", "\xc3\x89x", false, 0, "\xc3\xa9x"},
  };
  for (uint32_t u : kUnits) {
    for (const Case& c : cases) {
      Cell skip = int_cell(c.skip);
      Cell r = strings::set_operation(c.op, text(c.a, u), text(c.b), c.case_sensitive,
                                      c.skip ? &skip : nullptr);
      EXPECT_EQ(utf8(r), c.out) << c.a << " op " << c.op << " " << c.b << " unit " << u;
    }
  }
  Cell zero = int_cell(0);
  EXPECT_EQ(raised([&] { strings::set_operation(OP_UNION, text("a"), text("b"), false, &zero); }),
            Err::script_invalid_refine_arg);
}

// ---- parse matching primitives -------------------------------------------------------------------

TEST_F(StringTest, MatchingAtHead) {
  Cell s = text("<ab>cd");
  Cell tag = text("ab", 1, TYPE_TAG);
  EXPECT_TRUE(strings::matches_tag_brackets(s, tag));
  EXPECT_TRUE(strings::matches_at_head(s, tag, COMP_EQUAL));
  EXPECT_FALSE(strings::matches_at_head(s, text("ac", 1, TYPE_TAG), COMP_EQUAL));
  EXPECT_TRUE(strings::matches_at_head(s, text("<AB"), COMP_EQUAL));
  EXPECT_FALSE(strings::matches_at_head(s, text("<AB"), COMP_STRICT_EQUAL));
  EXPECT_FALSE(strings::matches_at_head(s, text("<ab>cde"), COMP_EQUAL));
  EXPECT_TRUE(strings::matches_at_head(s, text(""), COMP_EQUAL));
  EXPECT_FALSE(strings::matches_at_head(s, text(""), COMP_FIND));
  EXPECT_TRUE(strings::matches_at_head(s, char_cell('<'), COMP_EQUAL));
  Cell end = s;
  end.set_head_index(6);
  EXPECT_FALSE(strings::matches_at_head(end, text(""), COMP_EQUAL));
}

}  // namespace
}  // namespace zem

namespace zem {
namespace {

// ---- change notices ------------------------------------------------------------------------------

std::vector<std::string> g_notices;

void record_notice(const Cell&, const Cell&, const Cell& target, ownership::Change action,
                   const Cell*, int32_t, int32_t) {
  g_notices.push_back(std::string(ownership::change_word(action)) + " " + str::to_std_string(target));
}

class StringNotices : public StringTest {
 protected:
  void SetUp() override {
    StringTest::SetUp();
    ownership::init();
    wiring.deep_change = &record_notice;
    g_notices.clear();
  }
  void TearDown() override {
    wiring.deep_change = nullptr;
    StringTest::TearDown();
  }
};

TEST_F(StringNotices, EveryModifyingActionReportsBeforeAndAfter) {
  struct Case {
    ActionIndex action;
    std::vector<Cell> args;
    uint32_t refinements;
    const char* before;
    const char* after;
  };
  const Case cases[] = {
      {ActionIndex::append, {char_cell('x')}, 3, "append cba", "appended cbax"},
      {ActionIndex::insert, {char_cell('x')}, 3, "insert cba", "inserted xcba"},
      {ActionIndex::change, {char_cell('x')}, 3, "change cba", "changed xba"},
      {ActionIndex::take, {}, 3, "take cba", "taken ba"},
      {ActionIndex::sort, {}, 7, "sort cba", "sorted abc"},
      {ActionIndex::trim, {}, 6, "trim cba", "trimmed cba"},
      {ActionIndex::swap, {text("z")}, 0, "swap cba", "swaped zba"},
  };
  for (const Case& c : cases) {
    Cell s = text("cba");
    ownership::set_owner(s, object_stand_in(), int_cell(1));
    g_notices.clear();
    Call call(c.action, {s}, c.refinements);
    for (const Cell& a : c.args) call.cells.push_back(a);
    call.run();
    EXPECT_EQ(g_notices, (std::vector<std::string>{c.before, c.after}));
  }
  // trim/auto reports the first call, then raises before changing anything.
  Cell s = text(" a ");
  ownership::set_owner(s, object_stand_in(), int_cell(1));
  g_notices.clear();
  EXPECT_EQ(raised([&] { Call(ActionIndex::trim, {s}, 6).flag(TRIM_AUTO).run(); }), Err::internal_not_done);
  EXPECT_EQ(g_notices, std::vector<std::string>{"trim  a "});
}

}  // namespace
}  // namespace zem
