// The parse engine: rule tables over blocks and strings, with stand-in and real evaluators.
#include <gtest/gtest.h>

#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/function.h"
#include "datatypes/series.h"
#include "evaluator/interpreter.h"
#include "evaluator/parse_native.h"
#include "runtime/collector.h"
#include "datatypes/fixed_words.h"
#include "tests/unit/parse_fixture.h"

namespace zem::testing {
namespace {

struct Case {
  const char* input;  // "..." a string!, else a block
  const char* rules;
  const char* result;  // molded answer or error id
};

void run_table(ParseTest* t, std::function<std::string(const Case&)> run,
               std::initializer_list<Case> cases) {
  (void)t;
  for (const Case& c : cases) EXPECT_EQ(run(c), c.result) << c.input << " / " << c.rules;
}

class ParseEngine : public ParseTest {
 protected:
  void table(std::initializer_list<Case> cases, int32_t mode = 0) {
    run_table(this, [&](const Case& c) { return run(c.input, c.rules, mode); }, cases);
  }
  void SetUp() override {
    ParseTest::SetUp();
    set("digit", bitset_of("0123456789"));
    set("rule-ab", read("\"a\" \"b\""));
    set("wx", gword("x"));
    set("two", make_integer(2));
    set("yes", make_logic(true));
    set("no", make_logic(false));
    set("integer!", datatype_cell(TYPE_INTEGER));
    set("word!", datatype_cell(TYPE_WORD));
  }
  static Cell bitset_of(std::string_view chars) {
    Cell bs = make_bitset(32, 0, false);
    BitsView b = bitset_bits(bs);
    for (char c : chars) bits_set_range(b, uint8_t(c), uint8_t(c), true);
    return bs;
  }
};

TEST_F(ParseEngine, LiteralsAlternativesAndTheEndOfInput) {
  table({
      {"\"\"", "[]", "true"},
      {"\"a\"", "[]", "false"},
      {"[]", "[]", "true"},
      {"\"b\"", "[\"a\" | \"b\"]", "true"},
      {"\"ab\"", "[\"a\"]", "false"},  // input left over
      {"\"ab\"", "[\"a\" \"b\"]", "true"},
      {"\"AB\"", "[\"ab\"]", "true"},  // case-folded by default
      {"\"ab\"", "[#\"a\" #\"B\"]", "true"},
      {"\"ab\"", "[\"a\" \"\" \"b\" \"\"]", "true"},  // empty text matches, also at the end
      {"\"abc\"", "[\"a\" [\"x\" | \"b\"] \"c\"]", "true"},
      {"\"abc\"", "[[\"a\" \"x\"] | [\"a\" \"b\" \"c\"]]", "true"},  // backtracks to the start
      {"\"<b>x\"", "[<b> \"x\"]", "true"},
      {"\"12\"", "[digit digit]", "true"},
      {"\"1a\"", "[digit digit]", "false"},
      {"[a b]", "['a 'b]", "true"},
      {"[a b]", "[wx]", "parse-rule"},  // a word whose value is a word
      {"\"ab\"", "[rule-ab]", "true"},  // a word naming a block enters it
      {"\"ab\"", "[unset-word]", "parse-rule"},
      {"\"ab\"", "[a/b]", "parse-rule"},
      {"\"ab\"", "[integer!]", "parse-unsupported"},
      {"\"ab\"", "[\"a\" none \"b\"]", "true"},
  });
}

TEST_F(ParseEngine, DatatypeRulesOnBlocks) {
  table({
      {"[1 b]", "[integer! word!]", "true"},
      {"[1 b]", "[word! word!]", "false"},
      {"[1]", "[integer! integer!]", "false"},
  });
}

TEST_F(ParseEngine, RepeatsAndCounts) {
  table({
      {"\"aaab\"", "[some \"a\"]", "false"},
      {"\"aaab\"", "[some \"a\" \"b\"]", "true"},
      {"\"b\"", "[some \"a\" \"b\"]", "false"},
      {"\"b\"", "[any \"a\" \"b\"]", "true"},
      {"\"b\"", "[any \"a\" | \"b\"]", "false"},  // zero "a" matched: "b" never tried
      {"\"aa\"", "[3 \"a\"]", "false"},
      {"\"aa\"", "[1 2 \"a\"]", "true"},
      {"\"aaa\"", "[1 2 \"a\"]", "false"},
      {"\"aa\"", "[two \"a\"]", "true"},
      {"\"aa\"", "[1 two \"a\"]", "true"},
      {"\"x\"", "[0 \"y\" \"x\"]", "true"},
      {"\"x\"", "[0 0 \"y\" \"x\"]", "true"},
      {"\"x\"", "[-1 \"x\"]", "out-of-range"},
      {"\"x\"", "[2 1 \"x\"]", "parse-rule"},
      {"\"x\"", "[2]", "parse-rule"},
      {"\"x\"", "[any]", "parse-end"},
      {"\"ab\"", "[opt \"a\" \"b\"]", "true"},
      {"\"b\"", "[opt \"a\" \"b\"]", "true"},
      {"\"1a2\"", "[some [digit | \"a\"]]", "true"},
      {"\"ab\"", "[some [\"a\" | \"b\"]]", "true"},
      {"\"abab\"", "[2 [\"a\" \"b\"]]", "true"},
      {"\"aab\"", "[some [\"a\"] \"b\"]", "true"},
      {"\"\"", "[any [opt \"a\"]]", "true"},        // no progress: stops and matches
      {"\"aa\"", "[while \"a\"]", "true"},
      {"\"aa\"", "[any skip]", "true"},
      {"[a a b]", "[some 'a 'b]", "true"},
      {"[x x]", "[some wx]", "true"},  // a word value as a command's argument matches literally
      {"\"ab\"", "[some [\"a\" break] \"b\"]", "true"},
      {"\"aab\"", "[some [\"a\" reject] \"aab\"]", "false"},
      {"\"aab\"", "[any [\"a\" reject] \"aab\"]", "true"},
  });
}

TEST_F(ParseEngine, KeywordsAndCommands) {
  table({
      {"\"abcd\"", "[to \"c\" \"cd\"]", "true"},
      {"\"abcd\"", "[thru \"c\" \"d\"]", "true"},
      {"\"abcd\"", "[to \"x\"]", "false"},
      {"\"abcd\"", "[to end]", "true"},
      {"\"abcd\"", "[thru end]", "true"},
      {"\"abcd\"", "[to #\"C\" \"cd\"]", "true"},
      {"\"ab1d\"", "[to digit \"1d\"]", "true"},
      {"\"abcd\"", "[to [\"c\" | \"d\"] \"cd\"]", "true"},
      {"\"abcd\"", "[thru [\"c\" | \"x\"] \"d\"]", "true"},
      {"\"abcd\"", "[to [\"x\"] | \"abcd\"]", "true"},
      {"[a b c]", "[to 'c 'c]", "true"},
      {"[a b c]", "[thru 'b 'c]", "true"},
      {"\"ab\"", "[to 1]", "parse-rule"},
      {"\"ab\"", "[to]", "parse-end"},
      {"\"ab\"", "[\"a\" break]", "false"},
      {"\"a\"", "[\"a\" break]", "true"},
      {"\"ab\"", "[\"a\" break \"b\"]", "false"},
      {"\"a\"", "[fail | \"a\"]", "true"},  // fail goes to the next alternative
      {"\"a\"", "[\"a\" fail]", "false"},
      {"\"a\"", "[[\"a\" fail] | \"a\"]", "true"},
      {"\"ab\"", "[\"a\" not \"c\" \"b\"]", "true"},
      {"\"ab\"", "[\"a\" not \"b\" \"b\"]", "false"},
      {"\"ab\"", "[ahead \"a\" \"ab\"]", "true"},
      {"\"ab\"", "[ahead \"b\" \"ab\"]", "false"},
      {"\"ab\"", "[\"a\" end]", "false"},
      {"\"ab\"", "[\"ab\" end]", "true"},
      {"\"ab\"", "[skip skip]", "true"},
      {"\"ab\"", "[skip skip skip]", "false"},
      {"\"a1\"", "[skip quote 1]", "false"},
      {"[a 1]", "[skip quote 1]", "true"},
      {"[a [b c] d]", "['a into ['b 'c] 'd]", "true"},
      {"[a [b c] d]", "['a into ['b] 'd]", "false"},   // the sub-block must be used up
      {"[a 1 d]", "['a into ['b] 'd]", "false"},       // no series: fails without error
      {"\"ab\"", "[into [\"a\"]]", "parse-block"},
      {"[[a]]", "[into]", "parse-end"},
      {"[[a]]", "[into 'a]", "parse-end"},
      {"\"ab\"", "[\"a\" \"b\" | keep \"x\"]", "true"},
      {"\"ab\"", "[keep \"a\"]", "parse-keep"},
      {"\"ab\"", "[copy]", "parse-end"},
      {"\"ab\"", "[copy x]", "parse-end"},
      {"\"ab\"", "[if]", "parse-end"},
  });
}

TEST_F(ParseEngine, CaseSensitivity) {
  table({{"\"AB\"", "[\"ab\"]", "false"},
         {"\"AB\"", "[case no [\"ab\"]]", "true"},
         {"\"AB\"", "[case no [\"ab\"] \"\"]", "true"},
         {"\"ABc\"", "[case no \"ab\" \"C\"]", "false"},  // the former mode returns
         {"\"AB\"", "[to #\"b\" \"B\"]", "false"},
         {"[A]", "['a]", "false"}},
        COMP_STRICT_EQUAL);
  table({{"\"Ab\"", "[case yes \"ab\"]", "false"}, {"\"ab\"", "[case yes \"ab\"]", "true"}});
}

TEST_F(ParseEngine, CopyAndSetStoreTheMatchedPart) {
  EXPECT_EQ(run("\"abcd\"", "[copy x to \"c\" to end]"), "true");
  EXPECT_EQ(mold(get("x")), "\"ab\"");
  EXPECT_EQ(run("[a b c]", "[set x skip to end]"), "true");
  EXPECT_EQ(mold(get("x")), "a");
  EXPECT_EQ(run("\"abc\"", "[set x opt \"z\" to end]"), "true");
  EXPECT_EQ(mold(get("x")), "none");
  EXPECT_EQ(run("\"abc\"", "[set x skip to end]"), "true");
  EXPECT_EQ(mold(get("x")), "#\"a\"");
  EXPECT_EQ(run("[1 2 3 4]", "[skip copy x 2 skip skip]"), "true");
  EXPECT_EQ(mold(get("x")), "[2 3]");
}

TEST_F(ParseEngine, SetWordAndGetWordMoveThePosition) {
  EXPECT_EQ(run("\"xy\"", "[a: \"x\" :a \"xy\"]"), "true");
  EXPECT_EQ(str::to_std_string(get("a")), "xy");
  set("other", str::make_from_c_text("xy"));
  EXPECT_EQ(run("\"xy\"", "[\"x\" :other \"xy\"]"), "parse-invalid-ref");
  EXPECT_EQ(run("\"xyz\"", "[\"x\" p: \"y\" :p \"yz\"]"), "true");
}

TEST_F(ParseEngine, CollectAndKeep) {
  EXPECT_EQ(run("[1 2]", "[collect [some [keep skip]]]"), "[1 2]");
  EXPECT_EQ(run("[1 2 3]", "[collect [keep skip]]"), "[1]");  // the block, also without a full match
  EXPECT_EQ(run("\"abcd\"", "[collect [keep 2 skip keep to end]]"), "[\"ab\" \"cd\"]");
  EXPECT_EQ(run("\"abc\"", "[collect [keep pick 2 skip skip]]"), "[#\"a\" #\"b\"]");
  EXPECT_EQ(run("[1 2]", "[collect set b [keep skip] skip]"), "true");
  EXPECT_EQ(mold(get("b")), "[1]");
  EXPECT_EQ(run("[1 2 3]", "[collect [keep skip collect [keep skip] keep skip]]"), "[1 [2] 3]");
  EXPECT_EQ(run("\"ab\"", "[collect [keep copy x \"a\" skip]]"), "[\"a\"]");
  EXPECT_EQ(run("\"ab\"", "[collect [keep \"x\" | skip skip]]"), "[]");
  parens["value"] = [] { return read("10 20"); };
  EXPECT_EQ(run("[1]", "[collect [keep (value) skip]]"), "[[10 20]]");
  EXPECT_EQ(run("[1]", "[collect [keep pick (value) skip]]"), "[10 20]");
  EXPECT_EQ(run("[1]", "[collect [keep]]"), "parse-end");
}

// The string actions register with the strings module; until then only block targets are tried.
bool string_actions_present() { return action_handler(TYPE_STRING, ActionIndex::insert) != nullptr; }

TEST_F(ParseEngine, CollectIntoATarget) {
  set("t", read("x"));
  EXPECT_EQ(run("[1 2]", "[collect into t [keep skip keep skip]]"), "true");
  EXPECT_EQ(mold(get("t")), "[1 2 x]");  // inserted at the target's position, which comes back
  set("t", read("x"));
  EXPECT_EQ(run("[1 2]", "[collect after t [keep 2 skip]]"), "true");
  EXPECT_EQ(mold(get("t")), "[x [1 2]]");
  set("t", read("x"));
  EXPECT_EQ(run("[1 2]", "[collect into t [keep skip collect [keep skip]]]"), "true");
  EXPECT_EQ(mold(get("t")), "[1 [2] x]");
  Cell in = read("a b");
  set("same", in);
  EXPECT_EQ(run(in, "[collect into same [keep skip]]"), "parse-into-bad");
  set("n", make_integer(1));
  EXPECT_EQ(run("\"ab\"", "[collect into n [keep skip]]"), "parse-into-type");
  set("s", str::make_from_c_text(""));
  EXPECT_EQ(run("[a b]", "[collect into s [keep skip]]"), "parse-into-type");  // no cells into text
  if (!string_actions_present()) return;
  set("s", str::make_from_c_text("z"));
  EXPECT_EQ(run("\"ab\"", "[collect after s [keep to end]]"), "true");
  EXPECT_EQ(mold(get("s")), "\"zab\"");
  set("s", str::make_from_c_text("z"));
  EXPECT_EQ(run("\"abc\"", "[collect into s [keep skip keep 2 skip]]"), "true");
  EXPECT_EQ(mold(get("s")), "\"abcz\"");
}

TEST_F(ParseEngine, Remove) {
  Cell in = str::make_from_c_text("xaxb");
  EXPECT_EQ(run(in, "[some [remove \"x\" skip]]"), "true");
  EXPECT_EQ(mold(in), "\"ab\"");
  Cell blk = read("1 2 3");
  EXPECT_EQ(run(blk, "[skip p: 2 skip remove p]"), "true");
  EXPECT_EQ(mold(blk), "[1]");
  EXPECT_EQ(run("\"ab\"", "[remove a/b]"), "parse-rule");
  EXPECT_EQ(run("\"ab\"", "[remove]"), "parse-end");
}

TEST_F(ParseEngine, InsertAndChange) {
  Cell blk = read("1 3");
  EXPECT_EQ(run(blk, "[skip insert 2 skip]"), "true");  // the position moves past the insertion
  EXPECT_EQ(mold(blk), "[1 2 3]");
  blk = read("1 3");
  EXPECT_EQ(run(blk, "[p: skip insert p 0 skip]"), "true");
  EXPECT_EQ(mold(blk), "[0 1 3]");
  blk = read("1 3");
  set("v", read("a b"));
  EXPECT_EQ(run(blk, "[insert only v 2 skip]"), "true");
  EXPECT_EQ(mold(blk), "[[a b] 1 3]");
  Cell ch = read("1 2 3");
  EXPECT_EQ(run(ch, "[skip change skip 'x skip]"), "true");
  EXPECT_EQ(mold(ch), "[1 'x 3]");  // the value is inserted as it stands
  ch = read("1 2 3");
  EXPECT_EQ(run(ch, "[skip change 2 skip v]"), "true");
  EXPECT_EQ(mold(ch), "[1 a b]");
  ch = read("1 2 3");
  EXPECT_EQ(run(ch, "[p: 2 skip change p 'z skip]"), "true");
  EXPECT_EQ(mold(ch), "['z 3]");
  ch = read("1 2 3");
  EXPECT_EQ(run(ch, "[skip change 'q 'x 2 skip | 3 skip]"), "true");  // the match failed: no change
  EXPECT_EQ(mold(ch), "[1 2 3]");
  EXPECT_EQ(run("\"ab\"", "[insert]"), "parse-end");
  EXPECT_EQ(run("[a]", "[insert unset-word]"), "no-value");
  EXPECT_EQ(run("[a]", "[insert a/b]"), "parse-rule");
  EXPECT_EQ(run("\"ab\"", "[change]"), "parse-rule");
  EXPECT_EQ(run("\"ab\"", "[change skip]"), "parse-end");
  if (!string_actions_present()) return;
  Cell ins = str::make_from_c_text("ac");
  EXPECT_EQ(run(ins, "[\"a\" insert \"b\" \"c\"]"), "true");
  EXPECT_EQ(mold(ins), "\"abc\"");
  Cell chs = str::make_from_c_text("abc");
  EXPECT_EQ(run(chs, "[\"a\" change \"b\" \"XY\" \"c\"]"), "true");
  EXPECT_EQ(mold(chs), "\"aXYc\"");
}

TEST_F(ParseEngine, ParensSeeAndChangeTheState) {
  int calls = 0;
  parens["count"] = [&] {
    calls++;
    return make_none();
  };
  EXPECT_EQ(run("\"aaa\"", "[some [\"a\" (count)]]"), "true");
  EXPECT_EQ(calls, 3);
  // A paren that shortens the input below the position leaves the position at the new tail.
  Cell in = str::make_from_c_text("abcd");
  parens["cut"] = [&] {
    str::truncate(in, 1);
    return make_none();
  };
  EXPECT_EQ(run(in, "[3 skip (cut) end]"), "true");
  // A paren that empties the rules: the cursor comes back within them.
  Cell rules = read("\"a\" (shrink) \"b\"");
  set("r", rules);
  parens["shrink"] = [&] {
    block::truncate_at(rules.node(), 2);
    return make_none();
  };
  EXPECT_EQ(run("\"a\"", "[r]"), "true");
  parens["no"] = [] { return make_logic(false); };
  parens["yes"] = [] { return make_integer(0); };
  EXPECT_EQ(run("\"a\"", "[if (yes) \"a\"]"), "true");
  EXPECT_EQ(run("\"a\"", "[if (no) \"a\" | skip]"), "true");
  EXPECT_EQ(run("\"a\"", "[if (no) \"a\"]"), "false");
}

TEST_F(ParseEngine, NestedParseInAParenLeavesTheOuterStacks) {
  parens["inner"] = [&] {
    Cell in = str::make_from_c_text("zz");
    Cell rules = read("some \"z\" [\"q\"]");
    Cell r = parse::run(in, rules, 0, 0, nullptr);
    EXPECT_EQ(mold(r), "false");
    return r;
  };
  parens["raise"] = [&] {
    try {
      parse::run(str::make_from_c_text("z"), read("2 1 \"z\""), 0, 0, nullptr);
    } catch (const Unwind&) {
      clear_pending_exit();
    }
    return make_none();
  };
  EXPECT_EQ(run("[a [b c] d]", "['a into ['b (inner) (raise) 'c] 'd]"), "true");
}

TEST_F(ParseEngine, PartLimit) {
  Cell in = str::make_from_c_text("abcd");
  EXPECT_EQ(run(in, "[\"ab\"]", 0, 2), "true");
  EXPECT_EQ(run(in, "[\"abc\"]", 0, 2), "false");
  EXPECT_EQ(run(in, "[to end]", 0, 3), "true");
  EXPECT_EQ(run(in, "[some skip]", 0, 3), "true");
  EXPECT_EQ(run(in, "[thru \"d\"]", 0, 3), "false");
  // The limit indexes the outer input: it does not cut into a sub-block.
  Cell blk = read("[1 2 3] 4 5");
  EXPECT_EQ(run(blk, "[into [3 skip]]", 0, 1), "true");
}

TEST_F(ParseEngine, StackLimit) {
  // A rule that names itself nests until the rule stack is full.
  set("deep", read("[deep]"));
  EXPECT_EQ(run("\"a\"", "[deep]"), "parse-stack");
}

TEST_F(ParseEngine, TraceEventsForASmallInput) {
  std::vector<std::string> events;
  on_event = [&](const Cell* a) {
    std::string e(symbol::name(a[0].word_symbol()));
    e += logic_flag(a[1]) ? "+" : "-";
    events.push_back(e + std::to_string(a[2].head_index()) + "@" + std::to_string(a[3].head_index()));
    return true;
  };
  Cell fn{};
  fn.set_header(TYPE_FUNCTION);
  stack::reset();
  EXPECT_EQ(run(input_of("\"ab\""), "[\"a\" [\"b\"]]", 0, 0, &fn), "true");
  const std::vector<std::string> expected = {
      "push+0@0",  "fetch+0@0", "match+0@1", "fetch+1@1", "push+0@1",  "fetch+0@1",
      "match+0@2", "pop+0@2",   "pop+2@2",  "end+2@2",
  };
  EXPECT_EQ(events, expected);
  // Answering false ends the parse with the match flag of that moment.
  events.clear();
  on_event = [&](const Cell* a) {
    events.push_back(std::string(symbol::name(a[0].word_symbol())));
    return events.size() < 3;
  };
  EXPECT_EQ(run(input_of("\"ab\""), "[\"x\" \"b\"]", 0, 0, &fn), "false");
  EXPECT_EQ(events.size(), 3u);
}

TEST_F(ParseEngine, SurvivesCollectionsAtEveryRepetition) {
  gc::set_enabled(true);
  gc::set_stress(1);
  parens["garbage"] = [] {
    for (int i = 0; i < 10; i++) str::make_from_c_text("garbage text");
    return make_none();
  };
  Cell in = str::make_from_c_text("a1b2c3d4");
  set("in", in);
  EXPECT_EQ(run(in, "[collect [some [keep copy x skip (garbage) digit]]]"),
            "[\"a\" \"b\" \"c\" \"d\"]");
  gc::set_stress(0);
}

}  // namespace
}  // namespace zem::testing

namespace zem::testing {
namespace {

// Parens, the callback and the native with the real interpreter.
class ParseInterpreted : public ParseTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::evaluator);  // the interpreter's own parse hooks, no stand-ins
  }
  // Calls the native with the refinements' cells (unset: absent).
  std::string native(const Cell& input, std::string_view rules, bool case_, const Cell* part,
                     const Cell* callback) {
    stack::reset();
    stack::push_anon_frame(FRAME_NATIVE);
    stack::push_value(input);
    stack::push_value(input_of(rules));
    int32_t refs[3] = {-1, -1, -1};
    if (case_) refs[0] = 2;
    if (part) refs[1] = int32_t(stack::cell_index(stack::push_value(*part)) - stack::cell_index(stack::base()));
    if (callback) refs[2] = int32_t(stack::cell_index(stack::push_value(*callback)) - stack::cell_index(stack::base()));
    try {
      uint32_t code = parse::native(refs);
      if (code) return "exit " + std::to_string(code);
    } catch (const Unwind&) {
      std::string id(error_id_word(static_cast<uint32_t>(pending_exit().error)));
      clear_pending_exit();
      return id;
    }
    return mold(*stack::base());
  }
};

TEST_F(ParseInterpreted, ParensRunAsBlocks) {
  EXPECT_EQ(run("\"ab\"", "[\"a\" (n: 5) \"b\" (m: n)]"), "true");
  EXPECT_EQ(mold(get("m")), "5");
  EXPECT_EQ(run("[1]", "[collect [keep (7) skip]]"), "[7]");
  EXPECT_EQ((set("no", make_logic(false)), run("\"a\"", "[if (no) \"a\" | (k: 1) skip]")), "true");
}

TEST_F(ParseInterpreted, NativeRefinements) {
  Cell s = str::make_from_c_text("abcd");
  Cell two = make_integer(2);
  Cell zero = make_integer(0);
  EXPECT_EQ(native(s, "[\"ab\"]", false, &two, nullptr), "true");
  EXPECT_EQ(native(s, "[\"AB\"]", true, &two, nullptr), "false");
  EXPECT_EQ(native(s, "[]", false, &zero, nullptr), "false");
  EXPECT_EQ(native(str::make_from_c_text(""), "[\"x\"]", false, &zero, nullptr), "true");
  Cell at3 = s;
  at3.set_head_index(3);
  EXPECT_EQ(native(s, "[\"abc\"]", false, &at3, nullptr), "true");
  Cell other = str::make_from_c_text("abcd");
  EXPECT_EQ(native(s, "[\"abc\"]", false, &other, nullptr), "invalid-refine-arg");
}

TEST_F(ParseInterpreted, CallbackAnswersTheMatchFlag) {
  // The callback's value is its match argument: the parse stops at the first failed step.
  Cell spec = read("event match rule input stack");
  Cell body = read("last: event match");
  Cell fn = function::build_value(spec, body, 0, -1, 0, 0);
  EXPECT_EQ(native(str::make_from_c_text("ab"), "[\"a\" \"x\" | \"ab\"]", false, nullptr, &fn), "false");
  EXPECT_EQ(mold(get("last")), "match");
  EXPECT_EQ(native(str::make_from_c_text("ab"), "[\"a\" \"b\"]", false, nullptr, &fn), "true");
  EXPECT_EQ(mold(get("last")), "end");
}

}  // namespace
}  // namespace zem::testing
