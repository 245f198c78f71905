// The set natives: union, intersect, unique, difference, exclude over the engines of the set types,
// and complement?.
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem {

namespace {

bool is_block_kind(TypeId t) { return t == TYPE_BLOCK || t == TYPE_HASH; }

// Refinements common to the five: /case, /skip size.
uint32_t set_operation(uint32_t index, int32_t check, const int32_t* r, MathOp op) {
  if (check) natives::check_args(index, r);
  const Cell& set1 = *stack::arg(0);
  const TypeId t = set1.type();
  if (op != OP_UNIQUE) {
    const Cell& set2 = *stack::arg(1);
    bool agree = is_block_kind(t) ? is_block_kind(set2.type()) : set2.type() == t;
    if (!agree) {
      Cell want = datatype_cell(t);
      Cell got = datatype_cell(set2.type());
      fire(Err::script_expect_val, &want, &got);
    }
  }
  const bool case_sensitive = r[0] >= 0;
  const Cell* skip = r[1] >= 0 ? stack::arg(static_cast<uint32_t>(r[1])) : nullptr;
  const Cell* set2 = op == OP_UNIQUE ? nullptr : stack::arg(1);
  ActionCall call;
  call.args = stack::arg(0);
  call.arg_count = 2;
  switch (t) {
    case TYPE_BLOCK:
    case TYPE_HASH:
      stack::set_single_result(block::set_operation(op, set1, set2, case_sensitive, skip));
      return EXIT_NONE;
    case TYPE_STRING:
      stack::set_single_result(strings::set_operation(op, set1, set2 ? *set2 : set1,
                                                      case_sensitive, skip));
      return EXIT_NONE;
    case TYPE_BITSET:
      stack::set_single_result(*bitset_do_bitwise(call, op));
      return EXIT_NONE;
    case TYPE_TYPESET:
      stack::set_single_result(*typeset_do_set_op(call, op));
      return EXIT_NONE;
    case TYPE_DATE:
      if (op == OP_DIFFERENCE) {
        Cell result{};
        further_type_hooks().date_difference(set1, *set2, result);
        stack::set_single_result(result);
        return EXIT_NONE;
      }
      break;
    default:
      break;
  }
  natives::fire_expect_arg(index, 0, 0);
}

}  // namespace

uint32_t native_union(int32_t check, const int32_t* r) {
  return set_operation(NATIVE_union, check, r, OP_UNION);
}
uint32_t native_intersect(int32_t check, const int32_t* r) {
  return set_operation(NATIVE_intersect, check, r, OP_INTERSECT);
}
uint32_t native_unique(int32_t check, const int32_t* r) {
  return set_operation(NATIVE_unique, check, r, OP_UNIQUE);
}
uint32_t native_difference(int32_t check, const int32_t* r) {
  return set_operation(NATIVE_difference, check, r, OP_DIFFERENCE);
}
uint32_t native_exclude(int32_t check, const int32_t* r) {
  return set_operation(NATIVE_exclude, check, r, OP_EXCLUDE);
}

uint32_t native_complement_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_complement_q, r);
  const Cell& bits = *stack::arg(0);
  if (!bits.is(TYPE_BITSET)) natives::fire_expect_arg(NATIVE_complement_q, 0, 0);
  stack::set_single_result(make_logic(bitset_bits(bits).complemented));
  return EXIT_NONE;
}

}  // namespace zem
