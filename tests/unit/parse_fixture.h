// A runtime for the parse engine's tests: contexts, stacks, actions and the parse stacks, a small
// reader that turns rule text into blocks (words bound globally, strings, chars, integers, tags,
// nested blocks and parens), parens that run named C++ actions, and a mold for the results.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/string_storage.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "tests/unit/context_fixture.h"

namespace zem::testing {

class ParseTest : public ContextTest {
 public:
  static Cell gword_of(std::string_view name);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Reads rule or input text: a sequence of values (a block of them).
  static Cell read(std::string_view text);
  // Input text starting with a double quote is a string!, else a block of the values read.
  static Cell input_of(std::string_view text);
  static std::string mold(const Cell& value);
  // The global word of the name, ready to be looked up and set.
  static Cell gword(std::string_view name);
  static void set(std::string_view name, const Cell& value);
  static Cell get(std::string_view name);

  // Runs the rules over the input; answers the molded result or the error's id ("parse-rule").
  std::string run(const Cell& input, std::string_view rules, int32_t mode = 0, int32_t limit = 0,
                  const Cell* callback = nullptr);
  std::string run(std::string_view input, std::string_view rules, int32_t mode = 0) {
    return run(input_of(input), rules, mode);
  }


 public:
  // Parens: (name ...) runs the action registered under the name, which answers the paren's value.
  static std::map<std::string, std::function<Cell()>> parens;
  // Trace callback: receives the five event values, answers whether to go on.
  static std::function<bool(const Cell* args)> on_event;
};

}  // namespace zem::testing
