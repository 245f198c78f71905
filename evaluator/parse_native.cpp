// The parse native: argument handling around the parse engine.
#include "evaluator/parse_native.h"

#include <cmath>
#include <cstdint>

#include "datatypes/series.h"
#include "evaluator/natives.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::parse {

namespace {

enum Refinement { REF_CASE = 0, REF_PART = 1, REF_TRACE = 2 };

Cell logic(bool v) { return Cell{TYPE_LOGIC, v ? 1u : 0u, 0, 0}; }

}  // namespace

uint32_t native(const int32_t* refinements) {
  Cell* base = stack::base();
  const Cell input = base[0];
  const int32_t mode = refinements[REF_CASE] >= 0 ? COMP_STRICT_EQUAL : 0;
  int32_t limit = 0;
  if (refinements[REF_PART] >= 0) {
    const Cell part = base[refinements[REF_PART]];
    if (part.is(TYPE_INTEGER) || part.is(TYPE_FLOAT) || part.is(TYPE_PERCENT)) {
      // A length past either end (or NaN) is cut to the int range before it becomes an index.
      double length = part.is(TYPE_INTEGER) ? part.int_value() : std::trunc(part.float_value());
      double end = double(input.head_index()) + length;
      limit = !(end > 0) ? 0 : end >= double(INT32_MAX) ? INT32_MAX : int32_t(end);
    } else if (part.type() == input.type() && part.node() == input.node()) {
      limit = int32_t(part.head_index());
    } else {
      Cell word = make_word_cell(stack_state.part_symbol, 0);
      fire(Err::script_invalid_refine_arg, &word, &part);
    }
    if (limit <= 0) {
      Cell in = input;
      *base = logic(series::count_from_head(in) == 0);
      return EXIT_NONE;
    }
  }
  const Cell* callback = refinements[REF_TRACE] >= 0 ? &base[refinements[REF_TRACE]] : nullptr;
  Cell result;
  try {
    result = run(input, base[1], mode, limit, callback);
  } catch (const Unwind& u) {
    // break, continue, return, exit and throw from a paren or the callback travel on as a status;
    // the stacks were cut back by the unwinder already.
    if (u.code == EXIT_ERROR) throw;
    return u.code;
  }
  *stack::base() = result;
  return EXIT_NONE;
}

}  // namespace zem::parse

namespace zem {

uint32_t native_parse(int32_t check, const int32_t* refinements) {
  if (check) natives::check_args(NATIVE_parse, refinements);
  return parse::native(refinements);
}

}  // namespace zem
