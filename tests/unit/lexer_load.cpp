// The lexer building values: containers, the string family with unit choice and escapes, integers,
// chars, construction literals, one-value mode, string and binary input, and values kept across a
// collection that a callback runs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "evaluator/lexer.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "tests/unit/context_fixture.h"
#include "tests/unit/support_values.h"
#include "runtime/unicode.h"
#include "runtime/wiring.h"

namespace zem::lexer {
namespace {

class LexerLoad : public testing::ContextTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);
    // The loaders build values of datatypes whose modules come later (a scan refuses a token of a
    // datatype not built): they stand registered as those modules register them, with their
    // parents' handlers.
    for (TypeId t : {TYPE_PERCENT, TYPE_TIME, TYPE_TAG, TYPE_EMAIL, TYPE_REF, TYPE_BINARY, TYPE_TUPLE,
                     TYPE_PAIR, TYPE_POINT2D, TYPE_POINT3D}) {
      register_type(t, type_record(t).parent, type_record(t).name, HandlerRow(kInherit));
    }
  }

  Cell load(std::string_view text, ScanMode mode = {}, uint32_t* consumed = nullptr) {
    Cell out{};
    scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode, consumed,
                nullptr, nullptr, nullptr);
    return out;
  }

  // Runs the scan, which must raise; answers the error id.
  Err raised(std::string_view text) {
    try {
      load(text);
    } catch (const Unwind&) {
      Err e = pending_exit().error;
      clear_pending_exit();
      return e;
    }
    return Err{};
  }
};

// A short description of a value: type id and content for the kinds these loaders build.
std::string show(const Cell& c) {
  switch (c.type()) {
    case TYPE_INTEGER: return std::to_string(c.int_value());
    case TYPE_CHAR: return "#" + std::to_string(c.char_value());
    case TYPE_FLOAT: case TYPE_PERCENT: {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%s%.17g", c.is(TYPE_PERCENT) ? "%" : "", c.float_value());
      return buf;
    }
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_GET_WORD: case TYPE_LIT_WORD: case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
      const char* sigil[] = {"", ":", "'", "get:", "/", "#"};
      // A fresh word (global, no slot yet) shows bare; "@" marks a word bound by other means.
      const bool fresh = c.word_context() == context::global() && static_cast<int32_t>(c.word_index()) < 0 &&
                         !c.is(TYPE_ISSUE);
      return sigil[c.type() - TYPE_WORD] + std::string(symbol::name(c.word_symbol())) +
             (c.word_context() && !fresh ? "@" : "");
    }
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_SET_PATH:
    case TYPE_GET_PATH: {
      const char* open[] = {"path(", "lit-path(", "set-path(", "get-path("};
      std::string s = c.is(TYPE_BLOCK) ? "[" : c.is(TYPE_PAREN) ? "(" : open[c.type() - TYPE_PATH];
      Cell* p = block::head_of(c);
      for (uint32_t i = 0, n = block::length(c); i < n; ++i) s += (i ? " " : "") + show(p[i]);
      return s + (c.is(TYPE_BLOCK) ? "]" : ")");
    }
    default:
      if (str::is_text_type(c.type())) {
        return std::to_string(c.type()) + ":" + str::to_std_string(c) + "/" +
               std::to_string(series_buffer(c.node())->unit());
      }
      return "type" + std::to_string(c.type());
  }
}

TEST_F(LexerLoad, ValuesOfEveryBuiltKind) {
  struct Case {
    const char* text;
    const char* block;
  };
  const Case cases[] = {
      {"", "[]"},
      {"1 -2 +3 1'000'000 2147483647 -2147483648", "[1 -2 3 1000000 2147483647 -2147483648]"},
      {"[1 (2 [3])] ()", "[[1 (2 [3])] ()]"},
      {"\"abc\" {a{b}c} %{x}y}% %%{a}% b}%%", "[7:abc/1 7:a{b}c/1 7:x}y/1 7:a}% b/1]"},
      {"\"a^-b^/c^(41)^(tab)^^^\"\"", "[7:a\tb\ncA\t^\"/1]"},
      {"\"^(E9)\" \"^(00E9)\" \"\xC3\xA9\" \"\xF0\x9F\x98\x80\" \"^(1F600)\"",
       "[7:\xC3\xA9/1 7:\xC3\xA9/2 7:\xC3\xA9/2 7:\xF0\x9F\x98\x80/4 7:\xF0\x9F\x98\x80/4]"},
      {"#\"a\" #\"^(41)\" #\"^/\" #\"^(line)\" #\"\xC3\xA9\"", "[#97 #65 #10 #10 #233]"},
      {"%file.txt %\"a b\" <a href=x> me@x.org @ref http://x.org/p",
       "[8:file.txt/1 8:a b/1 44:a href=x/1 45:me@x.org/1 50:ref/1 9:http://x.org/p/1]"},
      {"#(true) #(none) #(unset) #(integer!)", "[type4 type3 type2 type1]"},
      {"a b: :c 'd caf\xC3\xA9 + <= /ref / #iss", "[a :b get:c 'd caf\xC3\xA9 + <= /ref / #iss@]"},
      {"a/b/c :a/1 'x/(y)/\"s\" a/b: 1", "[path(a b c) get-path(a 1) lit-path(x (y) 7:s/1) set-path(a b) 1]"},
      {"2147483648 -2147483649 12345678901 1.5e3 1'000.5 .5 -0.0",
       "[2147483648 -2147483649 12345678901 1500 1000.5 0.5 -0]"},
      {"10% 12.5% 1.#INF -1.#INF 1.#nan FFh 0FFh FFFFFFFFh 7Fh -1234567890",
       "[%0.10000000000000001 %0.125 inf -inf nan 255 255 -1 127 -1234567890]"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(show(load(c.text)), c.block) << c.text;
    } catch (const Unwind&) {
      ADD_FAILURE() << c.text << " raised " << int(pending_exit().error) << " type " << int(last_error().type)
                    << " near " << last_error().near;
      clear_pending_exit();
    }
  }
}

// Ten digits with a sign are still an integer; eleven are a float.
TEST_F(LexerLoad, IntegerLengthCountsDigits) {
  const std::pair<const char*, TypeId> cases[] = {
      {"-1234567890", TYPE_INTEGER}, {"+1234567890", TYPE_INTEGER}, {"-2147483648", TYPE_INTEGER},
      {"-2147483649", TYPE_FLOAT},   {"1'234'567'890", TYPE_INTEGER}, {"12345678901", TYPE_FLOAT},
      {"00000000001", TYPE_FLOAT},   {"2147483647", TYPE_INTEGER},  {"2147483648", TYPE_FLOAT},
  };
  for (const auto& [text, type] : cases) {
    Cell b = load(text);
    ASSERT_EQ(block::length(b), 1u) << text;
    EXPECT_EQ(block::head_of(b)->type(), type) << text;
  }
}

TEST_F(LexerLoad, Errors) {
  struct Case {
    const char* text;
    Err id;
    TypeId type;
  };
  const Case cases[] = {
      {"1''0", Err::syntax_invalid, TYPE_INTEGER},
      {"#\"\"", Err::syntax_invalid, TYPE_CHAR},
      {"#\"ab\"", Err::syntax_invalid, TYPE_CHAR},
      {"#\"^(110000)\"", Err::syntax_invalid, TYPE_CHAR},
      {"[1 2", Err::syntax_missing, TYPE_BLOCK},
      {"'<a>", Err::syntax_invalid, TYPE_TAG},
      {"1.5e", Err::syntax_invalid, TYPE_FLOAT},
      {"1h", Err::syntax_invalid, TYPE_INTEGER},
      {"Ah", Err::syntax_invalid, TYPE_WORD},
      {"123456789h", Err::syntax_invalid, TYPE_INTEGER},
      {"a/b:/c", Err::syntax_bad_char, TYPE_PATH},
      {"#[a 1 b]", Err::syntax_invalid, TYPE_MAP},
      {"#[[a] 1]", Err::syntax_invalid, TYPE_MAP},
      {"1.2.256", Err::syntax_invalid, TYPE_TUPLE},
      {"1.2.3.4.5.6.7.8.9.10.11.12.13", Err::syntax_invalid, TYPE_TUPLE},
      {"(1, )", Err::syntax_invalid, TYPE_POINT2D},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(raised(c.text), c.id) << c.text;
    if (c.type != TYPE_NONE_ID) {
      EXPECT_EQ(last_error().type, c.type) << c.text;
    }
  }
}

TEST_F(LexerLoad, OneValueAndTarget) {
  ScanMode one;
  one.one_value = true;
  uint32_t consumed = 0;
  EXPECT_EQ(show(load("  [1 2] 3", one, &consumed)), "[1 2]");
  EXPECT_EQ(consumed, 7u);
  one.single_result = true;
  EXPECT_EQ(show(load("4 5", one, &consumed)), "[4]");

  Cell target = block::make(4);
  block::append_cell(target, Cell{TYPE_INTEGER, 0, 9, 0});
  std::string_view text = "1 \"x\"";
  scan_buffer(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(), ScanMode{}, nullptr,
              nullptr, nullptr, &target);
  EXPECT_EQ(show(target), "[9 [1 7:x/1]]");
}

TEST_F(LexerLoad, StringAndBinaryInput) {
  // A count beyond the text is clamped to it; consumed counts characters of string input.
  Cell out{};
  uint32_t consumed = 0;
  Cell t = str::make_from_utf8("12 \"\xE2\x82\xAC\" 34");
  EXPECT_EQ(transcode_string(&out, t, 1000, ScanMode{}, &consumed, nullptr, nullptr), TYPE_INTEGER);
  EXPECT_EQ(show(out), "[12 7:\xE2\x82\xAC/2 34]");
  EXPECT_EQ(consumed, 9u);  // characters
  transcode_string(&out, t, 2, ScanMode{}, &consumed, nullptr, nullptr);
  EXPECT_EQ(show(out), "[12]");
  EXPECT_EQ(consumed, 2u);

  Cell bin{TYPE_BINARY, 1, alloc::make_bytes(16), 0};
  const char bytes[] = "x56 78";
  SeriesBuffer* b = series_buffer(bin.node());
  std::memcpy(b->head_ptr(), bytes, 6);
  b->set_length(6);
  transcode_binary(&out, bin, -1, ScanMode{}, &consumed, nullptr, nullptr);
  EXPECT_EQ(show(out), "[56 78]");
  EXPECT_EQ(consumed, 5u);  // bytes
}

// A syntax error carries its position text, its datatype or expected closer, and the text near it.
TEST_F(LexerLoad, ErrorArguments) {
  struct Case {
    const char* text;
    Err id;
    const char* args;
  };
  const Case cases[] = {
      {"1\n\n1''0 x", Err::syntax_invalid, "(line 3) type11 1''0 x"},
      {"[a\n", Err::syntax_missing, "(line 2) #93 [a"},
      {"a]", Err::syntax_missing, "(line 1) #91 ]"},
      {"#(nothing)", Err::syntax_malconstruct, "(line 1) #(nothing)"},
      {"\"a\xFF\"", Err::syntax_invalid, "(line 1) type7 \"a\xEF\xBF\xBD\""},
      {"a/b:/c", Err::syntax_bad_char, "(line 1) a/b:/c"},
  };
  for (const Case& c : cases) {
    std::string args;
    try {
      load(c.text);
    } catch (const Unwind&) {
      EXPECT_EQ(pending_exit().error, c.id) << c.text;
      for (const Cell& a : pending_exit().args) {
        if (a.type() == TYPE_NONE_ID) continue;
        if (!args.empty()) args += ' ';
        args += a.is(TYPE_STRING)     ? str::to_std_string(a)
                : a.is(TYPE_DATATYPE) ? "type" + std::to_string(a.datatype_id())
                                      : show(a);
      }
      clear_pending_exit();
    }
    EXPECT_EQ(args, c.args) << c.text;
  }
}

// A callback answering false to the error event passes over the bad token: the scan goes on from
// the cursor, at least one character past the token's start even when the callback moves it back,
// so every kind of error leaves the scan moving forward.
TEST_F(LexerLoad, CallbackPassesOverSyntaxErrors) {
  struct Skipper : Observer {
    int32_t move_to = -1;  // where the callback puts the cursor, or -1 to leave it
    std::vector<uint32_t> lines;
    uint32_t mask() const override { return EV_ERROR; }
    bool on_event(State&, EventInfo& ev) override {
      lines.push_back(ev.line);
      if (move_to >= 0) ev.cursor = uint32_t(move_to);
      return false;
    }
  };
  struct Case {
    const char* text;
    int32_t move_to;
    const char* values;
    size_t errors;
  };
  const Case cases[] = {
      {"a ) b #\"xx\" c", -1, "[a b c]", 2},
      {"a \xFF b", -1, "[a b]", 1},
      {"a {x\xFF\n} b\n1''0 c", -1, "[a b c]", 3},  // the braced string, then its stray "}"
      {"x/y:/z w", -1, "[path(x y) w]", 2},          // the path, then ":/z"
      {"(1, ) 2", -1, "[2]", 1},
      {"a ) b ] c", 0, "[a b c]", 2},
      {"a [b", -1, "none", 1},  // the missing "]" is met at the end: nothing is left to scan
  };
  for (const Case& c : cases) {
    Skipper skipper;
    skipper.move_to = c.move_to;
    Cell out{};
    std::string_view text = c.text;
    try {
      scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), ScanMode{}, nullptr,
                  &skipper, nullptr, nullptr);
      EXPECT_EQ(out.is(TYPE_NONE) ? "none" : show(out), std::string(c.values)) << c.text;
    } catch (const Unwind&) {
      ADD_FAILURE() << c.text << " raised " << int(pending_exit().error);
      clear_pending_exit();
    }
    EXPECT_EQ(skipper.lines.size(), c.errors) << c.text;
  }
}

// Values of the datatypes built elsewhere go through their hooks; stand-ins record what they get.
std::vector<std::string> made;

Cell record_made(TypeId t, std::string what) {
  made.push_back(std::move(what));
  return Cell{t, static_cast<uint32_t>(made.size() - 1), 0, 0};
}

TEST_F(LexerLoad, ValuesMadeThroughTypeHooks) {
  FurtherTypeHooks& h = further_type_hooks();
  FurtherTypeHooks saved = h;
  h.binary_load.fn = [](const uint8_t* b, uint32_t n) {
    std::string hex;
    for (uint32_t i = 0; i < n; ++i) hex += "0123456789ABCDEF"[b[i] >> 4], hex += "0123456789ABCDEF"[b[i] & 15];
    return record_made(TYPE_BINARY, "#{" + hex + "}");
  };
  h.tuple_make.fn = [](uint32_t n, const uint8_t* b) {
    std::string t;
    for (uint32_t i = 0; i < n; ++i) t += (i ? "." : "") + std::to_string(b[i]);
    return record_made(TYPE_TUPLE, t);
  };
  h.pair_set.fn = [](Cell& c, int32_t x, int32_t y) { c = record_made(TYPE_PAIR, std::to_string(x) + "x" + std::to_string(y)); };
  h.point2d_set.fn = [](Cell& c, float x, float y) {
    c = record_made(TYPE_POINT2D, "(" + std::to_string(x) + ", " + std::to_string(y) + ")");
  };
  h.point3d_set.fn = [](Cell& c, float x, float y, float z) {
    c = record_made(TYPE_POINT3D, "(" + std::to_string(x) + ", " + std::to_string(y) + ", " + std::to_string(z) + ")");
  };
  auto describe = [](const Cell& block) {
    std::string out;
    Cell* p = block::head_of(block);
    for (uint32_t i = 0, n = block::length(block); i < n; ++i) {
      out += i ? " " : "";
      out += p[i].is(TYPE_TIME) ? "time:" + std::to_string(p[i].float_value())
             : p[i].is(TYPE_BINARY) || p[i].is(TYPE_TUPLE) || p[i].is(TYPE_PAIR) || p[i].is(TYPE_POINT2D) ||
                     p[i].is(TYPE_POINT3D)
                 ? made[p[i].raw_words()[0]]
                 : show(p[i]);
    }
    return out;
  };
  struct Case {
    const char* text;
    const char* values;
  };
  const Case cases[] = {
      // Binary in bases 16, 2 and 64 (checked against python3's base64), with blanks and comments.
      {"#{0A0b} 16#{ 0a ;c\n ff } #{} 2#{00000001 11111111}", "#{0A0B} #{0AFF} #{} #{01FF}"},
      {"64#{AQID} 64#{AQI=} 64#{AQ==} 64#{SGVsbG8sIHdvcmxkIQ==}", "#{010203} #{0102} #{01} #{48656C6C6F2C20776F726C6421}"},
      {"1.2.3 0.0.0.0.0.0.0.0.0.0.0.255", "1.2.3 0.0.0.0.0.0.0.0.0.0.0.255"},
      {"1x2 -3X+4 1'0x0", "1x2 -3x4 10x0"},
      {"12:30 1:30.5 -0:30 0:0:1.25 100:00", "time:45000.000000 time:90.500000 time:-1800.000000 time:1.250000 time:360000.000000"},
      {"(1, 2) ( 1.5 , -2 ) (1,2,3) (1.#INF, 0)", "(1.000000, 2.000000) (1.500000, -2.000000) (1.000000, 2.000000, 3.000000) (inf, 0.000000)"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(describe(load(c.text)), c.values) << c.text;
    } catch (const Unwind&) {
      ADD_FAILURE() << c.text << " raised " << int(pending_exit().error) << " near " << last_error().near;
      clear_pending_exit();
    }
  }
  h = saved;

  // Checks need no hooks: a scan that builds nothing finds the errors.
  const Case errors[] = {
      {"#{0}", "!0 41"}, {"#{0g}", "!0 41"}, {"2#{0101}", "!0 41"}, {"8#{00}", "!0 41"}, {"64#{A}", "!0 41"},
      {"64#{A===}", "!0 41"}, {"64#{AA=A}", "!0 41"}, {"1.2.256", "!0 39"}, {"1.2..3", "!0 39"},
      {"1.2.3.4.5.6.7.8.9.10.11.12.13", "!0 39"}, {"1.5x2", "!0 37"}, {"1x99999999999", "!0 37"},
      {"1:2:", "!0 43"}, {"1:2:3e2", "!0 43"}, {"(1, )", "!0 51"}, {"(1, 2, 3, 4)", "!0 52"}, {"(1 2, 3)", "!0 51"},
  };
  for (const Case& c : errors) {
    TokenStream ts = tokenize(c.text);
    std::string got = ts.ok ? "ok" : "!" + std::to_string(int(ts.error.kind)) + " " + std::to_string(ts.error.type);
    EXPECT_EQ(got, c.values) << c.text;
  }
}

// The hook that turns text into one value (to word! and the like).
TEST_F(LexerLoad, FirstValueOfAText) {
  EXPECT_EQ(show(wiring.load_first("abc")), "abc");
  EXPECT_EQ(show(wiring.load_first(" x: ")), ":x");
  EXPECT_EQ(show(wiring.load_first("12")), "12");
  EXPECT_TRUE(wiring.load_first("").is(TYPE_UNSET));
  EXPECT_TRUE(wiring.load_first("a b").is(TYPE_NONE));
  EXPECT_TRUE(wiring.load_first("a]").is(TYPE_NONE));
  EXPECT_TRUE(wiring.load_first("\"open").is(TYPE_NONE));
}

// A value after a line feed in its block or paren carries the new-line marker, so that scanned
// text molds back with its lines: a marked first value indents the block and puts its closer on a
// line of its own. Line feeds inside a token, after a closer or before one mark nothing.
TEST_F(LexerLoad, LineBreaksMarkTheValuesAfterThem) {
  struct Case {
    const char* text;
    const char* molded;
  };
  const Case cases[] = {
      {"[\n    a\n    b c\n]", "[[\n    a\n    b c\n]]"},
      {"f: func [x] [\n    print x\n    x + 1\n]", "[f: func [x] [\n    print x\n    x + 1\n]]"},
      {"a ; note\nb\n\n\nc", "[a\nb\nc]"},
      {"x: [a\n] y\n(1\n2) z", "[x: [a] y\n(1\n2) z]"},
      {"{1\n2\n3\n4} \"s\" p/q\nr/s", "[{1^/2^/3^/4} \"s\" p/q\nr/s]"},
      {"[[a\nb]\n]", "[[[a\nb]]]"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(test::mold_text(load(c.text)), c.molded) << c.text;
    } catch (const Unwind&) {
      ADD_FAILURE() << c.text << " raised " << int(pending_exit().error);
      clear_pending_exit();
    }
  }
  // The marker sits on the cells themselves: the first value of the three-line block, then b.
  Cell outer = load("[\n  a\n  b c\n]");
  Cell inner = block::head_of(outer)[0];
  Cell* p = block::head_of(inner);
  EXPECT_FALSE(block::head_of(outer)[0].new_line());
  EXPECT_TRUE(p[0].new_line());
  EXPECT_TRUE(p[1].new_line());
  EXPECT_FALSE(p[2].new_line());
}

// A callback may run the evaluator, which may collect: the values already built survive it.
TEST_F(LexerLoad, ValuesSurviveACollectionInACallback) {
  struct Collector : Observer {
    uint32_t mask() const override { return EV_LOAD; }
    bool on_event(State&, EventInfo&) override {
      gc::collect();
      return true;
    }
  } collector;
  gc::set_enabled(true);
  std::string text;
  for (int i = 0; i < 200; ++i) text += "\"string number " + std::to_string(i) + "\" [" + std::to_string(i) + "] ";
  Cell out{};
  scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), ScanMode{}, nullptr,
              &collector, nullptr, nullptr);
  ASSERT_TRUE(out.is(TYPE_BLOCK));
  ASSERT_EQ(block::length(out), 400u);
  Cell* p = block::head_of(out);
  EXPECT_EQ(str::to_std_string(p[398]), "string number 199");
  EXPECT_EQ(show(p[399]), "[199]");
}

}  // namespace
}  // namespace zem::lexer
