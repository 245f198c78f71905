// Start-up builds the global environment from the embedded library: the globals it defines, the
// routines and predicates, the library-function flag, and the exits of `quit-return`.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/boot_state.h"
#include "runtime/error.h"
#include "runtime/startup.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class Boot : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    static char prog[] = "zem";
    static char* argv[] = {prog, nullptr};
    runtime_init(1, argv);
  }
};

Cell global(const char* name) {
  Cell* v = context::symbol_value_cell(symbol::intern(name), context::global());
  return v ? *v : Cell{};
}

// The value of the text, or an empty cell when it raises or exits.
Cell eval_value(const std::string& text, bool* failed = nullptr) { return test::eval_text(text, failed); }

// The molded result of evaluating the text, or "error" when it raises.
std::string eval(const std::string& text) {
  bool failed = false;
  Cell v = eval_value(text, &failed);
  return failed ? "error" : actions::mold_text(v);
}

TEST_F(Boot, EverySourceInTheLoadOrderIsEmbedded) {
  for (std::string_view n : boot::load_order()) {
    bool embedded = false;
    for (const boot::LibrarySource& s : boot::embedded_sources()) embedded |= n == s.name;
    EXPECT_TRUE(embedded) << n;
  }
  EXPECT_TRUE(boot_state.done);
}

TEST_F(Boot, GlobalsAfterStartUp) {
  const struct {
    const char* name;
    TypeId type;
  } table[] = {
      {"integer!", TYPE_DATATYPE}, {"block!", TYPE_DATATYPE}, {"none", TYPE_NONE},
      {"true", TYPE_LOGIC},        {"false", TYPE_LOGIC},     {"on", TYPE_LOGIC},
      {"yes", TYPE_LOGIC},         {"off", TYPE_LOGIC},       {"no", TYPE_LOGIC},
      {"tab", TYPE_CHAR},          {"cr", TYPE_CHAR},         {"lf", TYPE_CHAR},
      {"newline", TYPE_CHAR},      {"escape", TYPE_CHAR},     {"slash", TYPE_CHAR},
      {"space", TYPE_CHAR},        {"sp", TYPE_CHAR},         {"null", TYPE_CHAR},
      {"crlf", TYPE_STRING},       {"enter", TYPE_CHAR},      {"dot", TYPE_CHAR},
      {"comma", TYPE_CHAR},        {"dbl-quote", TYPE_CHAR},  {"pi", TYPE_FLOAT},
      {"Tovik", TYPE_LOGIC},       {"any-type!", TYPE_TYPESET}, {"series!", TYPE_TYPESET},
      {"internal!", TYPE_TYPESET}, {"default!", TYPE_TYPESET}, {"make", TYPE_ACTION},
      {"write", TYPE_ACTION},      {"quit-return", TYPE_ROUTINE}, {"block?", TYPE_ROUTINE},
      {"planar?", TYPE_ROUTINE},   {"quit", TYPE_FUNCTION},   {"+", TYPE_OP},
      {">>>", TYPE_OP},           {"xor", TYPE_OP},         {"//", TYPE_OP},
      {"mod", TYPE_FUNCTION},     {"modulo", TYPE_FUNCTION}, {"system", TYPE_OBJECT},
      {"last-lf?", TYPE_ROUTINE}, {"get-current-dir", TYPE_ROUTINE},
      {"set-current-dir", TYPE_ROUTINE}, {"create-dir", TYPE_ROUTINE},
      {"exists?", TYPE_ROUTINE},  {"os-info", TYPE_ROUTINE},  {"frame-index?", TYPE_ROUTINE},
      {"tracing?", TYPE_ROUTINE}, {"write-stdout", TYPE_ROUTINE}, {"stack-size?", TYPE_ROUTINE},
  };
  for (const auto& row : table) EXPECT_EQ(global(row.name).type(), row.type) << row.name;
  const struct {
    const char* expr;
    const char* mold;
  } values[] = {
      {"true", "true"},      {"yes", "true"},        {"off", "false"},       {"Tovik", "false"},
      {"lf", "#\"^/\""},     {"space", "#\" \""},    {"null", "#\"^@\""},
      {"dbl-quote", "#\"^\"\""}, {"pi", "3.141592653589793"},
      {"none", "none"},      {"false", "false"},     {"on", "true"},         {"no", "false"},
      {"tab", "#\"^-\""},    {"cr", "#\"^M\""},      {"newline", "#\"^/\""}, {"escape", "#\"^[\""},
      {"slash", "#\"/\""},   {"sp", "#\" \""},       {"crlf", "\"^M^/\""},    {"enter", "#\"^M\""},
      {"dot", "#\".\""},     {"comma", "#\",\""},     {"system/platform", "Linux"},
      {"number!", "make typeset! [integer! float! percent!]"},
  };
  for (const auto& v : values) EXPECT_EQ(eval(v.expr), v.mold) << v.expr;
}

TEST_F(Boot, RoutinesPredicatesAndOperators) {
  const struct {
    const char* expr;
    const char* want;
  } cases[] = {
      {"shift-right -8 1", "-4"},      {"shift-logical -8 1", "2147483644"},
      {"shift-left 1 4", "16"},     {"1 << 4", "16"},
      {"1 < 2", "true"},              {"2 <= 1", "false"},            {"1 = 1.0", "true"},
      {"1 == 1.0", "false"},          {"1 <> 2", "true"},             {"2 >= 2", "true"},
      {"-8 >> 1", "-4"},              {"-8 >>> 1", "2147483644"},
      {"shift-right -8 40", "-1"},     {"shift-logical -8 40", "0"},
      {"shift-left 1 31", "-2147483648"}, {"shift-right 5 -1", "5"},
      {"1 + 2 * 3", "9"},              {"integer? 1", "true"},
      {"string? 1", "false"},          {"none? none", "true"},
      {"none? 'none", "false"},        {"block? []", "true"},
      {"series? []", "true"},          {"number? 1.5", "true"},
      {"any-word? 'a", "true"},        {"immediate? 'a", "true"},
      {"any-list? make paren! 0", "true"}, {"any-block? make path! 0", "true"},
      {"any-list? make path! 0", "false"}, {"pick-stack 0", "none"},
      {"set-quiet 1 2", "error"},      {"x: [1 2] set-slot-quiet tail x 3 x", "[1 2]"},
      {"x: [1 2] set-slot-quiet x 3 x", "[3 2]"}, {"set-quiet 'q1 5 q1", "5"},
      {"boot-routine", "error"},
  };
  for (const auto& c : cases) EXPECT_EQ(eval(c.expr), c.want) << c.expr;
  // A typeset predicate reads its word at each call.
  EXPECT_EQ(eval("any-list!: make typeset! [block!] any-list? make paren! 0"), "false");
  EXPECT_EQ(eval("any-list!: make typeset! [block! paren! hash!] any-list? make paren! 0"), "true");
}

TEST_F(Boot, LibraryFunctionsCarryTheirFlag) {
  EXPECT_TRUE(global("quit").has_flag(kFunctionLibrary));
  // Those kept in the system object's sub-objects too.
  for (const char* path : {":system/lexer/trapper", ":system/state/callbacks/on-change*",
                           ":system/options/on-change*"}) {
    Cell f = eval_value(path);
    EXPECT_TRUE(f.is(TYPE_FUNCTION)) << path;
    EXPECT_TRUE(f.has_flag(kFunctionLibrary)) << path;
  }
  EXPECT_EQ(eval("f: make function! [[] [1]] f"), "1");
  EXPECT_FALSE(global("f").has_flag(kFunctionLibrary));
}

TEST_F(Boot, CallbackBitsReadTheObjectStartUpMade) {
  EXPECT_EQ(boot::callback_bits(), 0u);
  eval("system/state/callbacks/parse?: true");
  EXPECT_EQ(boot::callback_bits(), 2u);
  // Through the object itself once `system` names something else.
  eval("saved: system system: none saved/state/callbacks/deep?: true");
  EXPECT_EQ(boot::callback_bits(), 18u);
  eval("saved/state/callbacks/bits: none");
  EXPECT_EQ(boot::callback_bits(), 0u);
  eval("system: saved system/state/callbacks/deep?: system/state/callbacks/parse?: false");
  EXPECT_EQ(boot::callback_bits(), 0u);
}

TEST_F(Boot, QuitReturnEndsTheProcessWithItsStatus) {
  EXPECT_EXIT(eval("quit-return 3"), testing::ExitedWithCode(3), "");
  EXPECT_EXIT(eval("quit-return -2"), testing::ExitedWithCode(254), "");
  EXPECT_EXIT(eval("quit-return 256"), testing::ExitedWithCode(255), "");
}

}  // namespace
}  // namespace zem
