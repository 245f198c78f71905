// The lexer engine without values: the token stream, structural scanning, prescans, syntax errors with
// their positions, events and nested scans.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/registry.h"
#include "evaluator/lexer.h"
#include "runtime/startup.h"

namespace zem::lexer {
namespace {

// Construction literals know the datatype names from the registry.
struct RegistryEnv : ::testing::Environment {
  void SetUp() override { init_through(StartLayer::datatypes); }
};
const auto* const kRegistry = ::testing::AddGlobalTestEnvironment(new RegistryEnv);

// "kind:text" for every token, or the error as "!id type (line N) near".
std::string describe(std::string_view text) {
  TokenStream ts = tokenize(text);
  std::string out;
  for (const Token& t : ts.tokens) {
    if (!out.empty()) out += ' ';
    out += std::to_string(t.kind) + ":" + std::string(text.substr(t.start, t.end - t.start));
  }
  if (!ts.ok) {
    if (!out.empty()) out += ' ';
    const char* ids[] = {"invalid", "bad-char", "malconstruct", "missing"};
    out += "!" + std::string(ids[int(ts.error.kind)]) + " " + std::to_string(ts.error.type) + " " +
           ts.error.position() + " " + ts.error.near;
    if (ts.error.expected) out += std::string(" ") + ts.error.expected;
  }
  return out;
}

struct Case {
  const char* text;
  const char* tokens;
};

TEST(LexerScan, TokenKinds) {
  const Case cases[] = {
      {"", ""},
      {" \t\r\n ;just a comment\n", "11:;just a comment"},
      {"[a (b)]", "2:[ 14:a 4:( 14:b 5:) 3:]"},
      {"#[a 1]", "8:#[ 14:a 16:1 3:]"},
      {"word set: :get 'lit", "14:word 14:set: 14::get 14:'lit"},
      {"/ref /", "17:/ref 14:/"},
      {"#issue #\"c\" #\"^(41)\"", "15:#issue 18:#\"c\" 18:#\"^(41)\""},
      {"\"str\" \"e^\"s^/\" {a{b}c}", "13:\"str\" 13:\"e^\"s^/\" 7:{a{b}c}"},
      {"%file %\"a b\" %{raw}% %%{x}% y}%%", "19:%file 19:%\"a b\" 34:%{raw}% 34:%%{x}% y}%%"},
      {"#{0A} 2#{01010101} 64#{AA==}", "20:#{0A} 20:2#{01010101} 20:64#{AA==}"},
      {"0 42 -7 1'000", "16:0 16:42 16:-7 16:1'000"},
      {"1.5 1e3 .5 -1.5e-3", "22:1.5 22:1e3 22:.5 22:-1.5e-3"},
      {"10% 1.#INF -1.#nan", "21:10% 23:1.#INF 23:-1.#nan"},
      {"1.2.3 1x2 3X4", "24:1.2.3 26:1x2 26:3X4"},
      {"1-Jan-2000 2000-01-01 1/2/2000", "25:1-Jan-2000 25:2000-01-01 25:1/2/2000"},
      {"12:30 1:30.5", "28:12:30 28:1:30.5"},
      {"$1.25 USD$1 -$2", "29:$1.25 29:USD$1 29:-$2"},
      {"<tag a=\"1\"> http://x.y/z a@b.c @ref FFh 0FFh", "30:<tag a=\"1\"> 31:http://x.y/z 32:a@b.c 35:@ref 33:FFh 33:0FFh"},
      // A scan that builds nothing raises nothing for what only building refuses.
      {"%a%20b http://x/%20", "19:%a%20b 31:http://x/%20"},
      {"#(true) #(NONE) #( unset ) #(integer!)", "10:#(true) 10:#(NONE) 10:#( unset ) 10:#(integer!)"},
      // Points: a "," right after the first number makes the lookahead choose a point literal.
      {"(1, 2) (1,2,3) (1 2)", "27:(1, 2) 27:(1,2,3) 4:( 16:1 16:2 5:)"},
      {"(x , y)", "4:( 14:x 12:, 14:y 5:)"},
      // Paths: the head token, then each element; ":" before a follower ends a set-path.
      {"a/b/c d", "9:a 14:b 14:c 14:d"},
      {"a/b: 1", "9:a 14:b 16:1"},
      {"'a/(b)/1.5/\"s\"", "9:'a 4:( 14:b 5:) 22:1.5 13:\"s\""},
      {":a/b/(1, 2)", "9::a 14:b 27:(1, 2)"},
      // Unicode spaces end a word, and a token made only of them is skipped.
      {"ab\u00A0cd \u3000 e", "14:ab 14:cd 14:e"},
      {"\u3000", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(c.text), c.tokens) << c.text;
  EXPECT_EQ(describe(std::string_view("a\0b", 3)), "14:a");  // byte 0 ends the input
}

TEST(LexerScan, SyntaxErrors) {
  const Case cases[] = {
      // Containers: the closer asked for, and where.
      {"[a", "2:[ 14:a !missing 5 (line 1) [a ]"},
      {"a]", "14:a !missing 5 (line 1) ] ["},
      // A closer that does not match the open container: the error names the closer expected.
      {"(a]", "4:( 14:a !missing 6 (line 1) ] )"},
      {"[a)", "2:[ 14:a !missing 5 (line 1) ) ]"},
      {"(1 , [2])", "!invalid 51 (line 1) (1 , [2])"},
      {"1 , 2", "16:1 !invalid 51 (line 1) , 2"},
      {"(x , y , z , w)", "4:( 14:x 12:, 14:y 12:, 14:z !invalid 51 (line 1) , w)"},
      {"1,5", "16:1 !invalid 51 (line 1) ,5"},
      // Paths.
      {"a/b:/c", "9:a 14:b !bad-char 25 (line 1) a/b:/c"},
      {"x a/b/", "14:x 9:a 14:b !bad-char 25 (line 1) a/b/"},
      // Strings: unfinished, bad escapes, invalid UTF-8, unbalanced raw runs.
      {"\"abc", "!invalid 7 (line 1) \"abc"},
      {"x\n{abc\ndef", "14:x !invalid 7 (line 3) {abc"},
      {"{", "!invalid 7 (line 1) {"},
      {"\"^(110000)\"", "!invalid 7 (line 1) \"^(110000)\""},
      {"\"^(1234567)\"", "!invalid 7 (line 1) \"^(1234567)\""},
      {"\"^(xyz)\" ", "!invalid 7 (line 1) \"^(xyz)\" "},
      {"\"\xC3\"", "!invalid 7 (line 1) \"\xC3\""},
      {"\"\xED\xA0\x80\"", "!invalid 7 (line 1) \"\xED\xA0\x80\""},
      {"%{a}%%", "!invalid 7 (line 1) %{a}%%"},
      {"%%{a}% b", "!invalid 7 (line 1) %%{a}% b"},
      // Words, issues, construction literals.
      {"'a:", "!invalid 17 (line 1) 'a:"},
      {"# ", "!invalid 20 (line 1) # "},
      {"#(foo)", "!malconstruct 0 (line 1) #(foo)"},
      {"#(true x)", "!malconstruct 0 (line 1) #(true x)"},
      // Bytes no token may hold: the datatype of the state the automaton was in.
      {"}", "!bad-char 0 (line 1) }"},
      {"ab\xFF", "!invalid 15 (line 1) ab\xFF"},
      {"12a", "!invalid 11 (line 1) 12a"},
      // Line numbers count line feeds only; the near text stops at a line feed and after 30 bytes.
      {"a\r\r\nb\n\"x\ny", "14:a 14:b !invalid 7 (line 3) \"x"},
      {"\"0123456789012345678901234567890123456789", "!invalid 7 (line 1) \"01234567890123456789012345678"},
      {"\"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC",
       "!invalid 7 (line 1) \"\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC\xE2\x82\xAC"},
  };
  for (const Case& c : cases) EXPECT_EQ(describe(c.text), c.tokens) << c.text;
}

TEST(LexerScan, LinesOfTokens) {
  TokenStream ts = tokenize("a\n\n{x\ny} b ;c\n\"q\"");
  ASSERT_TRUE(ts.ok);
  std::vector<uint32_t> lines;
  for (const Token& t : ts.tokens) lines.push_back(t.line);
  EXPECT_EQ(lines, (std::vector<uint32_t>{1, 3, 4, 4, 5}));
}

struct Prescan {
  const char* text;
  bool one_value;
  TypeId result;
  uint32_t consumed;
};

// A prescan builds nothing: it finds the datatype of the first value and where it ends.
TEST(LexerScan, Prescan) {
  const Prescan cases[] = {
      {"123 abc", false, TYPE_INTEGER, 3},
      {"  [a [b] c] d", false, TYPE_BLOCK, 11},
      {"a/b/c: 1", false, TYPE_SET_PATH, 6},
      {"'a/b", false, TYPE_LIT_PATH, 4},
      {"a/", false, TYPE_PATH, 2},
      {"[a", false, TYPE_ERROR, 2},
      {"(1, 2) x", true, TYPE_POINT2D, 6},
      {"{a}", true, TYPE_STRING, 3},
      {"", false, TYPE_NONE_ID, 0},
      {"\"unfinished", false, TYPE_ERROR, 11},
  };
  for (const Prescan& c : cases) {
    ScanMode mode;
    mode.full_scan = false;
    mode.wrap = false;
    mode.one_value = c.one_value;
    uint32_t consumed = 99;
    std::string_view text(c.text);
    TypeId t = scan_buffer(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode,
                           &consumed, nullptr, nullptr, nullptr);
    EXPECT_EQ(t, c.result) << c.text;
    EXPECT_EQ(consumed, c.consumed) << c.text;
  }
}

// The consumed length of string! input counts characters.
TEST(LexerScan, ConsumedCountsCharactersOfStringInput) {
  std::string text = "\xC3\xA9t\xC3\xA9 x";
  Cell input{TYPE_STRING, 0, 0, 0};
  ScanMode mode;
  mode.full_scan = false;
  mode.wrap = false;
  uint32_t consumed = 0;
  scan_buffer(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode, &consumed,
              nullptr, &input, nullptr);
  EXPECT_EQ(consumed, 3u);
}

struct Recorder : Observer {
  uint32_t wanted = EV_PRESCAN | EV_SCAN | EV_OPEN | EV_CLOSE;
  std::string text;
  std::vector<std::string> seen;
  std::function<bool(State&, EventInfo&)> hook;
  uint32_t mask() const override { return wanted; }
  bool on_event(State& st, EventInfo& ev) override {
    const char* names[] = {"prescan", "scan", "load", "open", "close", "error"};
    int bit = std::countr_zero(static_cast<uint32_t>(ev.event));
    seen.push_back(std::string(names[bit]) + " " + std::to_string(ev.type) + " " +
                   text.substr(ev.start, ev.end - ev.start) + " @" + std::to_string(ev.line));
    return hook ? hook(st, ev) : true;
  }
};

TypeId run(std::string_view text, Recorder& rec, uint32_t* consumed = nullptr) {
  rec.text = std::string(text);
  ScanMode mode;
  mode.wrap = false;
  return scan_buffer(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode, consumed,
                     &rec, nullptr, nullptr);
}

TEST(LexerScan, Events) {
  Recorder rec;
  run("[a \"s\"]\n;c\n(1, 2)", rec);
  std::vector<std::string> want = {
      "prescan 0 [ @1",     "open 5 [ @1",          "prescan 15 a @1",  "scan 15 a @1",
      "prescan 7 \"s\" @1", "scan 7 \"s\" @1",      "prescan 0 ] @1",   "close 5 ] @1",
      "prescan 0 ;c @2",    "prescan 0 ( @3",       "prescan 51 (1, 2) @3", "scan 51 (1, 2) @3",
  };
  EXPECT_EQ(rec.seen, want);
}

TEST(LexerScan, CallbackAnswers) {
  // False at prescan skips the token; false at close keeps the container open (then it is missing).
  Recorder skip;
  skip.wanted = EV_PRESCAN;
  skip.hook = [&](State&, EventInfo& ev) { return skip.text.substr(ev.start, 1) != "b"; };
  EXPECT_EQ(run("a b c", skip), TYPE_WORD);
  EXPECT_EQ(skip.seen.size(), 3u);

  Recorder keep;
  keep.wanted = EV_CLOSE;
  keep.hook = [](State&, EventInfo&) { return false; };
  EXPECT_EQ(run("[a]", keep), TYPE_ERROR);
  EXPECT_EQ(last_error().kind, ErrorKind::missing);
}

TEST(LexerScan, CallbackMovesTheCursor) {
  // Forward: the tokens in between are not scanned. Backward or outside the input: the cursor stays
  // where it was shown or stops at the input's end, so the scan always moves on.
  Recorder fwd;
  fwd.wanted = EV_SCAN;
  fwd.hook = [](State&, EventInfo& ev) {
    if (ev.start == 0) ev.cursor = 6;
    return true;
  };
  uint32_t consumed = 0;
  run("a b c d", fwd, &consumed);
  EXPECT_EQ(fwd.seen, (std::vector<std::string>{"scan 15 a @1", "scan 15 d @1"}));
  EXPECT_EQ(consumed, 7u);

  Recorder wild;
  wild.wanted = EV_SCAN;
  int calls = 0;
  wild.hook = [&](State&, EventInfo& ev) {
    ev.cursor = ++calls % 2 ? 0 : 1000;
    return true;
  };
  run("abc def", wild, &consumed);
  EXPECT_EQ(consumed, 7u);
  EXPECT_LE(calls, 3);
}

TEST(LexerScan, NestedScans) {
  // A callback may scan again; the outer scan goes on where it was, with its containers intact.
  Recorder outer;
  outer.wanted = EV_SCAN;
  std::vector<std::string> inner;
  outer.hook = [&](State&, EventInfo&) {
    inner.push_back(describe("[x [y] \"z\"]"));
    return true;
  };
  EXPECT_EQ(run("[[a] b]", outer), TYPE_BLOCK);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(inner[0], "2:[ 14:x 2:[ 14:y 3:] 13:\"z\" 3:]");
  EXPECT_EQ(describe("[a"), "2:[ 14:a !missing 5 (line 1) [a ]");
}

TEST(LexerScan, DeepNestingGrowsTheOutputBuffer) {
  std::string text = std::string(5000, '[') + "a" + std::string(5000, ']');
  TokenStream ts = tokenize(text);
  EXPECT_TRUE(ts.ok);
  EXPECT_EQ(ts.tokens.size(), 10001u);
}

TEST(LexerScan, Escapes) {
  struct E {
    const char* text;
    int cp;  // -1: invalid
  };
  const E cases[] = {
      {"(41)", 0x41}, {"(tab)", 9}, {"(LINE)", 10}, {"(null)", 0}, {"(del)", 127}, {"(10FFFF)", 0x10FFFF},
      {"(110000)", -1}, {"(1234567)", -1}, {"()", -1}, {"(12", -1}, {"(g)", -1},
      {"\"", '"'}, {"-", 9}, {"/", 10}, {"^", '^'}, {"{", '{'}, {"}", '}'}, {"~", 127}, {"@", 0},
      {"a", 1}, {"z", 26}, {"A", 1}, {"_", 31}, {"[", 27}, {"!", '!'}, {"\xC3\xA9", 0xE9}, {"\xC3", -1},
      {"", -1},
  };
  for (const E& c : cases) {
    std::string_view t(c.text);
    auto* p = reinterpret_cast<const uint8_t*>(t.data());
    uint32_t cp = 0xDEAD;
    const uint8_t* next = decode_escape(p, p + t.size(), cp);
    if (c.cp < 0) {
      EXPECT_EQ(next, nullptr) << c.text;
    } else {
      EXPECT_EQ(next, p + t.size()) << c.text;
      EXPECT_EQ(cp, uint32_t(c.cp)) << c.text;
    }
  }
}

}  // namespace
}  // namespace zem::lexer
