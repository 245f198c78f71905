// Natives that compare and inspect values: the comparisons, same?, not, type?, new-line(?).
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem {

namespace {

uint32_t compare_native(uint32_t index, int32_t check, const int32_t* refinements, CompareOp op) {
  if (check) natives::check_args(index, refinements);
  actions::compare_to_logic(op);
  stack::keep_one_result();
  return EXIT_NONE;
}

bool same_values(const Cell& a, const Cell& b) {
  if (a.type() != b.type()) return false;
  // By the payload's bits: the words each type's identity lives in.
  const auto x = a.raw_words(), y = b.raw_words();
  switch (a.type()) {
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT:
      return x[0] == y[0];
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_BITSET:
      return x[1] == y[1];
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
    case TYPE_IMAGE: case TYPE_NATIVE: case TYPE_ACTION: case TYPE_POINT2D:
    // Words: the same binding and the same symbol (the index cache may differ).
    case TYPE_WORD: case TYPE_SET_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
    case TYPE_REFINEMENT: case TYPE_ISSUE:
      return x[0] == y[0] && x[1] == y[1];
    case TYPE_FLOAT: case TYPE_PERCENT: case TYPE_PAIR: case TYPE_TIME: case TYPE_OP:
      return x[1] == y[1] && x[2] == y[2];
    case TYPE_NONE:
    case TYPE_UNSET:
      return true;
    case TYPE_TUPLE:
    case TYPE_MONEY:
      return actions::compare_raw(a, b, COMP_SAME) == 0;
    default:
      return x == y;
  }
}

}  // namespace

uint32_t native_equal_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_equal_q, check, r, COMP_EQUAL);
}
uint32_t native_not_equal_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_not_equal_q, check, r, COMP_NOT_EQUAL);
}
uint32_t native_strict_equal_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_strict_equal_q, check, r, COMP_STRICT_EQUAL);
}
uint32_t native_lesser_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_lesser_q, check, r, COMP_LESSER);
}
uint32_t native_greater_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_greater_q, check, r, COMP_GREATER);
}
uint32_t native_lesser_or_equal_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_lesser_or_equal_q, check, r, COMP_LESSER_EQUAL);
}
uint32_t native_greater_or_equal_q(int32_t check, const int32_t* r) {
  return compare_native(NATIVE_greater_or_equal_q, check, r, COMP_GREATER_EQUAL);
}

uint32_t native_same_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_same_q, r);
  stack::set_single_result(make_logic(same_values(*stack::arg(0), *stack::arg(1))));
  return EXIT_NONE;
}

uint32_t native_not(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_not, r);
  stack::set_single_result(make_logic(!is_true(*stack::arg(0))));
  return EXIT_NONE;
}

uint32_t native_type_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_type_q, r);
  TypeId t = stack::arg(0)->type();
  if (r[0] >= 0) {
    stack::set_single_result(type_record(t).word);
  } else {
    stack::set_single_result(datatype_cell(t));
  }
  return EXIT_NONE;
}

uint32_t native_new_line(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_new_line, r);
  Cell position = *stack::arg(0);
  bool on = logic_flag(*stack::arg(1));
  uint32_t length = block::length(position);
  if (r[0] < 0 && r[1] < 0) {
    if (length > 0) block::cell_at_index(position, position.head_index())->set_new_line(on);
  } else {
    int32_t n = 1;
    if (r[1] >= 0) {
      const Cell& size = *stack::arg(static_cast<uint32_t>(r[1]));
      n = size.int_value();
      if (n < 1) fire(Err::script_out_of_range, &size);
    }
    for (uint32_t i = 0; i < length; ++i) {
      bool on_period = n == 1 || i % static_cast<uint32_t>(n) == 0;
      block::cell_at_index(position, position.head_index() + i)->set_new_line(on_period == on);
    }
  }
  stack::set_single_result(position);
  return EXIT_NONE;
}

uint32_t native_new_line_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_new_line_q, r);
  const Cell& position = *stack::arg(0);
  bool on = block::length(position) > 0 &&
            block::cell_at_index(position, position.head_index())->new_line();
  stack::set_single_result(make_logic(on));
  return EXIT_NONE;
}

}  // namespace zem
