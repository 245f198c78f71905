// integer!: 32-bit arithmetic with its faults, conversions, and the integer! action handlers.
#include "datatypes/integer.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "datatypes/float.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/number_text.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/support.h"
#include "services/random.h"

namespace zem {

std::string integer_to_text(int32_t value) {
  char buf[12];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

namespace {

IntResult int_result(int32_t v) {
  IntResult r;
  r.value = v;
  return r;
}

IntResult float_result(double d) {
  IntResult r;
  r.promoted = true;
  r.real = d;
  return r;
}

IntResult fault_result(NumFault f) {
  IntResult r;
  r.fault = f;
  return r;
}

}  // namespace

IntResult integer_apply(int32_t left, int32_t right, MathOp op, bool float_quotient) {
  const double l = left, r = right;
  switch (op) {
    case OP_ADD:
    case OP_SUBTRACT:
    case OP_MULTIPLY:
      return integer_add_sub_mul(left, right, op);
    case OP_DIVIDE:
      if (right == 0) return fault_result(NumFault::zero_divide);
      if (left == INT32_MIN && right == -1) return fault_result(NumFault::overflow);
      if (!float_quotient || left % right == 0) return int_result(left / right);
      return float_result(l / r);
    case OP_REMAINDER:
      if (right == 0) return fault_result(NumFault::zero_divide);
      if (left == INT32_MIN && right == -1) return fault_result(NumFault::overflow);
      return int_result(left % right);
    case OP_OR:
      return int_result(left | right);
    case OP_AND:
      return int_result(left & right);
    case OP_XOR:
      return int_result(left ^ right);
    default:
      break;
  }
  std::abort();  // no other code can come from the language
}

IntResult integer_power(int32_t base, int32_t exponent) {
  if (exponent < 0) return float_result(std::pow(double(base), double(exponent)));
  int32_t result = 1, b = base;
  uint32_t e = uint32_t(exponent);
  while (e != 0) {
    if ((e & 1) && __builtin_mul_overflow(result, b, &result)) break;
    e >>= 1;
    // Squaring once more than needed must not count as an overflow.
    if (e != 0 && __builtin_mul_overflow(b, b, &b)) break;
  }
  if (e != 0) return float_result(std::pow(double(base), double(exponent)));
  return int_result(result);
}

IntResult integer_round(int32_t value, int64_t scale, unsigned flags) {
  const int64_t s = scale < 0 ? -scale : scale;
  if (s == 0) return int_result(value);
  const int64_t v = value < 0 ? -int64_t(value) : int64_t(value);
  const int64_t rem = v % s;
  if (rem == 0) return int_result(value);
  const int64_t sign = value < 0 ? -1 : 1;
  const int64_t down = v - rem, up = v + (s - rem), t = v / s;
  const int64_t toward = sign * down, away = sign * up;
  int64_t res;
  if (flags & ROUND_DOWN) res = toward;
  else if (flags & ROUND_FLOOR) res = value > 0 ? down : -up;
  else if (flags & ROUND_CEILING) res = value >= 0 ? up : -down;
  else if (rem < s - rem) res = toward;
  else if (rem > s - rem) res = away;
  else if (flags & ROUND_EVEN) res = (t & 1) ? away : toward;
  else if (flags & ROUND_HALF_DOWN) res = toward;
  else if (flags & ROUND_HALF_CEILING) res = value >= 0 ? up : -down;
  else res = away;
  if (res < INT32_MIN || res > INT32_MAX) return fault_result(NumFault::overflow);
  return int_result(int32_t(res));
}

int integer_sign(int32_t value) { return (value > 0) - (value < 0); }

int integer_compare(int32_t a, int32_t b) { return (a > b) - (a < b); }

bool float_out_of_int_range(double d) {
  return !(d >= -2147483648.0 && d <= 2147483647.0);  // NaN fails both tests
}

int32_t integer_from_bytes(const uint8_t* bytes, size_t length) {
  uint32_t v = 0;
  for (size_t i = 0; i < length && i < 4; i++) v = (v << 8) | bytes[i];
  return int32_t(v);
}

bool integer_from_hex_name(const void* units, size_t length, int unit, int32_t& out) {
  if (length > 8) return false;
  uint32_t v = 0;
  for (size_t i = 0; i < length; i++) {
    int d = hex_digit_value(code_unit_at(units, i, unit));
    if (d < 0) return false;
    v = v * 16 + uint32_t(d);
  }
  out = int32_t(v);
  return true;
}

void fire_num_fault(NumFault fault) {
  switch (fault) {
    case NumFault::zero_divide: fire(Err::math_zero_divide);
    case NumFault::overflow: fire(Err::math_overflow);
    case NumFault::type_limit: {
      Cell type = datatype_cell(TYPE_INTEGER);
      fire(Err::script_type_limit, &type);
    }
    default: std::abort();  // cannot-use carries the call's word: its callers raise it
  }
}

Cell* integer_do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  Cell& right = call.arg(1);
  FurtherTypeHooks& hooks = further_type_hooks();
  switch (right.type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR: {
      IntResult r = integer_apply(left.int_value(), right.int_value(), op);
      if (r.fault != NumFault::none) fire_num_fault(r.fault);
      if (r.promoted) set_float(left, r.real);
      else left.set_int_value(r.value);  // a char! left operand stays a char!
      return &left;
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      return float_do_math(call, op);
    case TYPE_MONEY:
      return hooks.money_do_math(call, op);
    case TYPE_TUPLE:
      // The tuple's arithmetic takes the tuple first and refuses the operations that do not commute.
      return hooks.tuple_do_math(call, op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
      std::swap(left, right);
      if (op == OP_DIVIDE) {
        Cell type = datatype_cell(TYPE_INTEGER);
        fire(Err::script_not_related, &fixed.word.divide, &type);
      }
      TypeId t = left.type();
      if (op == OP_SUBTRACT) {
        // n - pair is (-pair) + n
        if (t == TYPE_PAIR) hooks.pair_negate(left);
        else if (t == TYPE_POINT2D) hooks.point2d_negate(left);
        else hooks.point3d_negate(left);
        op = OP_ADD;
      }
      if (t == TYPE_PAIR) return hooks.pair_do_math(call, op);
      if (t == TYPE_POINT2D) return hooks.point2d_do_math(call, op);
      return hooks.point3d_do_math(call, op);
    }
    case TYPE_VECTOR: {
      Cell vector = right, number = left;
      hooks.vector_do_math(op, vector, number, left);
      return &left;
    }
    case TYPE_DATE:
      if (op != OP_ADD) {
        Cell type = datatype_cell(TYPE_INTEGER);
        fire(Err::script_not_related, &fixed.word.subtract, &type);
      }
      std::swap(left, right);
      return hooks.date_do_math(call, op);
    default: {
      Cell type = datatype_cell(right.type());
      fire(Err::script_invalid_type, &type);
    }
  }
}

namespace {

// Refinements of random and round, in spec order.
enum { RANDOM_SEED, RANDOM_SECURE, RANDOM_ONLY };
enum { ROUND_TO, ROUND_R_EVEN, ROUND_R_DOWN, ROUND_R_HALF_DOWN, ROUND_R_FLOOR, ROUND_R_CEILING,
       ROUND_R_HALF_CEILING };

unsigned round_flags(const ActionCall& call) {
  static const unsigned kFlags[] = {0, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR,
                                    ROUND_CEILING, ROUND_HALF_CEILING};
  unsigned flags = 0;
  for (uint32_t r = ROUND_R_EVEN; r <= ROUND_R_HALF_CEILING; r++)
    if (call.has(r)) flags |= kFlags[r];
  return flags;
}

[[noreturn]] void fire_bad_to(TypeId target, const Cell& spec) {
  Cell type = datatype_cell(target);
  fire(Err::script_bad_to_arg, &type, &spec);
}

Cell* int_random(ActionCall& call) {
  Cell& v = call.result();
  if (call.has(RANDOM_SEED)) {
    random::seed(v.int_value());
    v = make_unset();
    return &v;
  }
  // The type byte stays: random of a char! is a char!.
  v.set_int_value(static_cast<int32_t>(random::integer_upto(call.has(RANDOM_SECURE), v.int_value())));
  return &v;
}

int32_t int_from_spec(const Cell& spec) {
  FurtherTypeHooks& hooks = further_type_hooks();
  NumFault fault = NumFault::none;
  switch (str::is_text_type(spec.type()) ? TYPE_STRING : spec.type()) {
    case TYPE_CHAR:
      return spec.int_value();
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      int32_t v = float_truncate(spec.float_value(), fault);
      if (fault != NumFault::none) fire_num_fault(fault);
      return v;
    }
    case TYPE_TIME: {
      int32_t v = float_truncate(spec.float_value() + 0.5, fault);
      if (fault != NumFault::none) fire_num_fault(fault);
      return v;
    }
    case TYPE_MONEY:
      return hooks.money_to_integer(spec);
    case TYPE_DATE:
      return hooks.date_to_epoch_seconds(spec);
    case TYPE_BINARY: {
      SeriesUnits b = series_units(spec);
      return integer_from_bytes(static_cast<const uint8_t*>(b.data), b.length);
    }
    case TYPE_ISSUE: {
      SeriesUnits name = issue_name_units(spec);
      int32_t v;
      if (!integer_from_hex_name(name.data, name.length, name.unit, v))
        fire(Err::script_invalid_data, &spec);
      return v;
    }
    case TYPE_STRING: {  // every text type
      SeriesUnits text = series_units(spec);
      int error = 0;
      int32_t v = parse_integer_text(text.data, text.length, text.unit, error);
      if (error != 0) fire_bad_to(TYPE_INTEGER, spec);
      return v;
    }
    default:
      fire_bad_to(TYPE_INTEGER, spec);
  }
}

Cell* int_to(ActionCall& call) {
  const Cell& spec = call.arg(1);
  if (spec.is(TYPE_INTEGER)) {
    call.result() = spec;
    return &call.result();
  }
  int32_t v = int_from_spec(spec);
  call.result() = make_integer(v);
  return &call.result();
}

Cell* int_make(ActionCall& call) {
  const Cell& spec = call.arg(1);
  if (spec.is(TYPE_LOGIC)) {
    call.result() = make_integer(logic_flag(spec) ? 1 : 0);
    return &call.result();
  }
  return int_to(call);
}

int32_t write_text(TextOut& out, const std::string& text, int32_t limit) {
  out.append_ascii(text);
  return limit - static_cast<int32_t>(text.size());
}

int32_t int_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  return write_text(out, integer_to_text(value.int_value()), limit);
}

int32_t int_mold(const Cell& value, TextOut& out, MoldFlags, const Cell*, int32_t limit, int32_t) {
  return write_text(out, integer_to_text(value.int_value()), limit);
}

int32_t int_compare(const Cell& a, const Cell& b, CompareOp op) {
  if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && !b.is(TYPE_INTEGER)) return 1;
  switch (b.type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      return integer_compare(a.int_value(), b.int_value());
    case TYPE_MONEY: {
      Cell money = further_type_hooks().money_from_integer(a.int_value());
      return further_type_hooks().money_compare(money, b, op);
    }
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      return float_compare(double(a.int_value()), b.float_value(), op);
    default:
      return kCannotCompare;
  }
}

Cell* int_absolute(ActionCall& call) {
  Cell& v = call.result();
  if (v.int_value() == INT32_MIN) fire(Err::math_overflow);
  v.set_int_value(static_cast<int32_t>(std::abs(v.int_value())));
  return &v;
}

Cell* int_negate(ActionCall& call) {
  Cell& v = call.result();
  if (v.int_value() == INT32_MIN) fire(Err::math_overflow);
  v.set_int_value(static_cast<int32_t>(-v.int_value()));
  return &v;
}

template <MathOp Op>
Cell* int_math(ActionCall& call) {
  return integer_do_math(call, Op);
}

Cell* int_power(ActionCall& call) {
  Cell& base = call.result();
  const Cell& exponent = call.arg(1);
  if (!exponent.is(TYPE_INTEGER) && !exponent.is(TYPE_FLOAT)) fire_expect_arg(call, 1);
  if (exponent.is(TYPE_FLOAT) || exponent.int_value() < 0) {
    set_float(base, double(base.int_value()));
    return float_power(call);
  }
  IntResult r = integer_power(base.int_value(), exponent.int_value());
  if (r.promoted) set_float(base, r.real);
  else base.set_int_value(r.value);
  return &base;
}

Cell* int_round(ActionCall& call) {
  Cell& v = call.result();
  const Cell* scale = call.refinement_arg(ROUND_TO);
  if (scale && scale->is(TYPE_MONEY)) {
    Cell type = datatype_cell(TYPE_MONEY);
    fire(Err::script_not_related, call.word, &type);
  }
  if (scale && !scale->is(TYPE_INTEGER)) {
    set_float(v, double(v.int_value()));
    return float_round_action(call);
  }
  IntResult r = integer_round(v.int_value(), scale ? scale->int_value() : 1, round_flags(call));
  if (r.fault != NumFault::none) fire_num_fault(r.fault);
  v.set_int_value(r.value);
  return &v;
}

Cell* int_even(ActionCall& call) { return answer_logic((call.result().int_value() & 1) == 0); }
Cell* int_odd(ActionCall& call) { return answer_logic((call.result().int_value() & 1) != 0); }

Cell* int_complement(ActionCall& call) {
  call.result().set_int_value(~call.result().int_value());
  return &call.result();
}

}  // namespace

void register_integer() {
  register_type(TYPE_INTEGER, TYPE_NONE_ID, "integer!",
                HandlerRow()
                    .set(ActionIndex::make, &int_make)
                    .set(ActionIndex::random, &int_random)
                    .set(ActionIndex::to, &int_to)
                    .set(ActionIndex::form, &int_form)
                    .set(ActionIndex::mold, &int_mold)
                    .set(ActionIndex::compare, &int_compare)
                    .set(ActionIndex::absolute, &int_absolute)
                    .set(ActionIndex::add, &int_math<OP_ADD>)
                    .set(ActionIndex::divide, &int_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &int_math<OP_MULTIPLY>)
                    .set(ActionIndex::negate, &int_negate)
                    .set(ActionIndex::power, &int_power)
                    .set(ActionIndex::remainder, &int_math<OP_REMAINDER>)
                    .set(ActionIndex::round, &int_round)
                    .set(ActionIndex::subtract, &int_math<OP_SUBTRACT>)
                    .set(ActionIndex::even_q, &int_even)
                    .set(ActionIndex::odd_q, &int_odd)
                    .set(ActionIndex::and_t, &int_math<OP_AND>)
                    .set(ActionIndex::complement, &int_complement)
                    .set(ActionIndex::or_t, &int_math<OP_OR>)
                    .set(ActionIndex::xor_t, &int_math<OP_XOR>));
}

}  // namespace zem
