// pair!: construction, arithmetic with its float-point fallback, comparison, paths and text.
#include "datatypes/pair.h"

#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/point.h"
#include "datatypes/scalar_path.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "evaluator/number_text.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "evaluator/rt_entries.h"
#include "services/random.h"

namespace zem {
namespace pair {

namespace {

[[noreturn]] void fire_typed(Err e, const Cell* first, TypeId t) {
  Cell type = datatype_cell(t);
  if (first) fire(e, first, &type);
  fire(e, &type);
}

Cell* answer(const Cell& v) {
  static Cell out;
  out = v;
  return &out;
}

// x op y on int32; false when the result leaves the int32 range (zero divisors raise).
bool int_op(int32_t a, int32_t b, MathOp op, int32_t& out) {
  IntResult r = integer_apply(a, b, op, false);
  if (r.fault == NumFault::zero_divide) fire_num_fault(r.fault);
  if (r.fault == NumFault::overflow || r.promoted) return false;
  out = r.value;
  return true;
}

int32_t truncated(double d) {
  NumFault fault = NumFault::none;
  int32_t v = float_truncate(d, fault);
  if (fault != NumFault::none) fire_num_fault(fault);
  return v;
}

}  // namespace

Cell make(int32_t x, int32_t y) {
  Cell c{};
  set(c, x, y);
  return c;
}

void set(Cell& target, int32_t x, int32_t y) {
  target.set_header(TYPE_PAIR);
  target.set_raw_words(0, 0, 0);
  target.set_pair_xy(x, y);
}

Cell to_point2d(const Cell& p) { return point::make2(float(p.pair_x()), float(p.pair_y())); }

Cell math(const Cell& p, const Cell& operand, MathOp op, const Cell* word) {
  int32_t bx, by;
  switch (operand.type()) {
    case TYPE_INTEGER:
      bx = by = operand.int_value();
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      const double f = operand.float_value();
      if (std::isnan(f) || (op != OP_DIVIDE && std::isinf(f))) fire(Err::script_invalid_arg, &operand);
      if (op == OP_MULTIPLY || op == OP_DIVIDE) return point::math(to_point2d(p), operand, op, word);
      bx = by = truncated(f);
      break;
    }
    case TYPE_PAIR:
      bx = operand.pair_x();
      by = operand.pair_y();
      break;
    case TYPE_POINT2D:
      return point::math(to_point2d(p), operand, op, word);
    default:
      fire_typed(Err::script_invalid_type, nullptr, operand.type());
  }
  int32_t x, y;
  if (int_op(p.pair_x(), bx, op, x) && int_op(p.pair_y(), by, op, y)) return make(x, y);
  // Out of the int32 range: the same operation on float points.
  const Cell other = operand.is(TYPE_PAIR) ? to_point2d(operand) : make_integer(bx);
  return point::math(to_point2d(p), other, op, word);
}

Cell* do_math(ActionCall& call, MathOp op) {
  Cell r = math(call.result(), call.arg(1), op, call.word);
  call.result() = r;
  return &call.result();
}

void negate(Cell& p) {
  int32_t x, y;
  if (!__builtin_sub_overflow(0, p.pair_x(), &x) && !__builtin_sub_overflow(0, p.pair_y(), &y)) {
    p.set_pair_xy(x, y);
    return;
  }
  Cell q = to_point2d(p);
  point::negate(q);
  p = q;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  if (b.is(TYPE_POINT2D)) return point::compare(to_point2d(a), b, op);
  if (!b.is(TYPE_PAIR)) return kCannotCompare;
  if (a.pair_x() != b.pair_x()) return a.pair_x() < b.pair_x() ? -1 : 1;
  if (a.pair_y() != b.pair_y()) return a.pair_y() < b.pair_y() ? -1 : 1;
  return 0;
}

namespace {

Cell* pr_make(ActionCall& call) {
  const Cell spec = call.arg(1);
  Cell& result = call.result();
  switch (spec.type()) {
    case TYPE_BLOCK: {
      SeriesCells items = series_cells(spec);
      auto number = [](const Cell& c) { return c.is(TYPE_INTEGER) || c.is(TYPE_FLOAT); };
      if (items.length < 2 || !number(items.cells[0]) || !number(items.cells[1]))
        fire(Err::syntax_malconstruct, &spec);
      auto coordinate = [](const Cell& c) {
        return c.is(TYPE_INTEGER) ? c.int_value() : truncated(c.float_value());
      };
      int32_t x = coordinate(items.cells[0]), y = coordinate(items.cells[1]);
      result = make(x, y);
      return &result;
    }
    case TYPE_STRING: {
      Cell v = rt::load_value(spec);
      if (!v.is(TYPE_PAIR)) {
        Cell type = datatype_cell(TYPE_PAIR);
        fire(Err::script_bad_to_arg, &type, &spec);
      }
      result = v;
      return &result;
    }
    case TYPE_PAIR:
      result = spec;
      return &result;
    case TYPE_INTEGER:
      result = make(spec.int_value(), spec.int_value());
      return &result;
    case TYPE_FLOAT: {
      int32_t v = truncated(spec.float_value());
      result = make(v, v);
      return &result;
    }
    case TYPE_POINT2D: {
      if (!std::isfinite(spec.point_x()) || !std::isfinite(spec.point_y())) fire(Err::script_invalid_arg, &spec);
      int32_t x = truncated(spec.point_x()), y = truncated(spec.point_y());
      result = make(x, y);
      return &result;
    }
    default: {
      Cell type = datatype_cell(TYPE_PAIR);
      fire(Err::script_bad_to_arg, &type, &spec);
    }
  }
}

Cell* pr_random(ActionCall& call) {
  Cell& p = call.result();
  if (call.has(0)) {  // /seed
    random::seed(p.pair_x() ^ p.pair_y());
    p = make_unset();
    return &p;
  }
  const bool secure = call.has(1);
  auto draw = [secure](int32_t c) { return c == 0 ? 0 : random::integer_upto(secure, c); };
  p.set_pair_xy(draw(p.pair_x()), draw(p.pair_y()));
  return &p;
}

std::string text_of(const Cell& p) {
  return integer_to_text(p.pair_x()) + "x" + integer_to_text(p.pair_y());
}

int32_t pr_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string s = text_of(value);
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

int32_t pr_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return pr_form(value, out, part, limit);
}

bool is_word(const Cell& e) {
  return e.is(TYPE_WORD) || e.is(TYPE_LIT_WORD) || e.is(TYPE_GET_WORD) || e.is(TYPE_SET_WORD);
}

// 1 for the word x, 2 for y, compared without regard to case.
int axis_of_word(const Cell& word, const Cell& value) {
  const uint32_t s = symbol::canonical_id(word.word_symbol());
  if (s == symbol::canonical_id(fixed.sym.x)) return 1;
  if (s == symbol::canonical_id(fixed.sym.y)) return 2;
  if (value.is(TYPE_PAIR)) fire(Err::script_cannot_use, &word, &value);
  fire(Err::script_invalid_path, &value, &word);
}

Cell* pr_eval_path(PathStep& step) {
  Cell& p = *step.value;
  const Cell element = *step.element;
  int axis;
  if (element.is(TYPE_INTEGER) && (element.int_value() == 1 || element.int_value() == 2)) {
    axis = element.int_value();
  } else if (is_word(element)) {
    axis = axis_of_word(element, p);
  } else {
    const Cell value = p;
    fire(Err::script_invalid_path, &value, &element);
  }
  if (!step.set_value) return answer(make_integer(axis == 1 ? p.pair_x() : p.pair_y()));
  const Cell value = *step.set_value;
  if (!value.is(TYPE_INTEGER)) fire_typed(Err::script_invalid_type, nullptr, value.type());
  if (axis == 1) p.set_pair_xy(value.int_value(), p.pair_y());
  else p.set_pair_xy(p.pair_x(), value.int_value());
  write_back_scalar(step);
  return answer(value);
}

Cell* pr_pick(ActionCall& call) {
  Cell& p = call.result();
  const Cell index = call.arg(1);
  int axis = 0;
  if (index.is(TYPE_INTEGER)) axis = index.int_value();
  else if (is_word(index)) axis = axis_of_word(index, p);
  if (axis != 1 && axis != 2) fire(Err::script_out_of_range, &index);
  p = make_integer(axis == 1 ? p.pair_x() : p.pair_y());
  return &p;
}

Cell* pr_absolute(ActionCall& call) {
  Cell& p = call.result();
  // The checked absolute value: the lowest int32 has none and raises math overflow.
  if (p.pair_x() == INT32_MIN || p.pair_y() == INT32_MIN) fire_num_fault(NumFault::overflow);
  p.set_pair_xy(std::abs(p.pair_x()), std::abs(p.pair_y()));
  return &p;
}

Cell* pr_negate(ActionCall& call) {
  negate(call.result());
  return &call.result();
}

Cell* pr_reverse(ActionCall& call) {
  Cell& p = call.result();
  p.set_pair_xy(p.pair_y(), p.pair_x());
  return &p;
}

Cell* pr_round(ActionCall& call) {
  static const unsigned kFlags[] = {0, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR,
                                    ROUND_CEILING, ROUND_HALF_CEILING};
  unsigned flags = 0;
  for (uint32_t r = 1; r < 7; r++)
    if (call.has(r)) flags |= kFlags[r];
  Cell& p = call.result();
  const Cell* scale = call.refinement_arg(0);
  if (scale && scale->is(TYPE_MONEY)) {
    Cell word = call.word ? *call.word : stack::current_call_word();
    fire_typed(Err::script_not_related, &word, TYPE_MONEY);
  }
  auto round_one = [&](int32_t v, const Cell* sc) -> int32_t {
    if (!sc || sc->is(TYPE_INTEGER)) {
      IntResult r = integer_round(v, sc ? sc->int_value() : 1, flags);
      if (r.fault != NumFault::none) fire_num_fault(r.fault);
      return r.promoted ? truncated(r.real) : r.value;
    }
    if (!sc->is(TYPE_FLOAT) && !sc->is(TYPE_PERCENT)) fire_expect_arg(call, 1);
    NumFault fault = NumFault::none;
    double r = float_round(double(v), std::fabs(sc->float_value()), flags, fault);
    if (fault != NumFault::none) fire_num_fault(fault);
    return truncated(r);
  };
  if (scale && scale->is(TYPE_PAIR)) {
    const Cell sx = make_integer(scale->pair_x()), sy = make_integer(scale->pair_y());
    p.set_pair_xy(round_one(p.pair_x(), &sx), round_one(p.pair_y(), &sy));
  } else {
    p.set_pair_xy(round_one(p.pair_x(), scale), round_one(p.pair_y(), scale));
  }
  return &p;
}

template <MathOp Op>
Cell* pr_math(ActionCall& call) {
  return do_math(call, Op);
}

}  // namespace

void register_type() {
  register_type(TYPE_PAIR, TYPE_NONE_ID, "pair!",
                HandlerRow()
                    .set(ActionIndex::make, &pr_make)
                    .set(ActionIndex::random, &pr_random)
                    .set(ActionIndex::to, &pr_make)
                    .set(ActionIndex::form, &pr_form)
                    .set(ActionIndex::mold, &pr_mold)
                    .set(ActionIndex::eval_path, &pr_eval_path)
                    .set(ActionIndex::compare, &compare)
                    .set(ActionIndex::absolute, &pr_absolute)
                    .set(ActionIndex::add, &pr_math<OP_ADD>)
                    .set(ActionIndex::divide, &pr_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &pr_math<OP_MULTIPLY>)
                    .set(ActionIndex::negate, &pr_negate)
                    .set(ActionIndex::remainder, &pr_math<OP_REMAINDER>)
                    .set(ActionIndex::round, &pr_round)
                    .set(ActionIndex::subtract, &pr_math<OP_SUBTRACT>)
                    .set(ActionIndex::and_t, &pr_math<OP_AND>)
                    .set(ActionIndex::or_t, &pr_math<OP_OR>)
                    .set(ActionIndex::xor_t, &pr_math<OP_XOR>)
                    .set(ActionIndex::pick, &pr_pick)
                    .set(ActionIndex::reverse, &pr_reverse));
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.pair_do_math.fn = &do_math;
  hooks.pair_negate.fn = &negate;
  hooks.pair_set.fn = &set;
}

}  // namespace pair
}  // namespace zem
