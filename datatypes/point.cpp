// point2D! and point3D!: construction, arithmetic, near-equality, paths and text.
#include "datatypes/point.h"

#include <bit>
#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/scalar_path.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "evaluator/number_text.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/murmur.h"
#include "evaluator/rt_entries.h"
#include "services/random.h"

namespace zem {
namespace point {

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

void set_components(Cell& p, const std::array<double, 3>& c) {
  p.set_point_xyz(float(c[0]), float(c[1]), p.is(TYPE_POINT3D) ? float(c[2]) : 0.0f);
}

double number_of(const Cell& c) { return c.is(TYPE_INTEGER) ? double(c.int_value()) : c.float_value(); }

}  // namespace

Cell make2(float x, float y) {
  Cell c{};
  set2(c, x, y);
  return c;
}
Cell make3(float x, float y, float z) {
  Cell c{};
  set3(c, x, y, z);
  return c;
}
void set2(Cell& target, float x, float y) {
  target.set_header(TYPE_POINT2D);
  target.set_point_xyz(x, y, 0.0f);
}
void set3(Cell& target, float x, float y, float z) {
  target.set_header(TYPE_POINT3D);
  target.set_point_xyz(x, y, z);
}

std::array<double, 3> components(const Cell& p) {
  return {p.point_x(), p.point_y(), p.is(TYPE_POINT3D) ? double(p.point_z()) : 0.0};
}

Cell math(const Cell& p, const Cell& operand, MathOp op, const Cell* word) {
  const bool three = p.is(TYPE_POINT3D);
  std::array<double, 3> b{};
  switch (operand.type()) {
    case TYPE_INTEGER:
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      const double n = number_of(operand);
      b = {n, n, n};
      break;
    }
    case TYPE_PAIR:
      if (three) fire_typed(Err::script_invalid_type, nullptr, TYPE_PAIR);
      b = {double(operand.pair_x()), double(operand.pair_y()), 0.0};
      break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (operand.type() != p.type()) fire_typed(Err::script_invalid_type, nullptr, operand.type());
      b = components(operand);
      break;
    default:
      fire_typed(Err::script_invalid_type, nullptr, operand.type());
  }
  std::array<double, 3> a = components(p);
  for (uint32_t i = 0; i < dimensions(p); i++) {
    NumFault fault = NumFault::none;
    a[i] = float_apply(a[i], b[i], op, fault);
    if (fault != NumFault::none) {
      Cell w = word ? *word : make_none();
      fire_typed(Err::script_cannot_use, &w, p.type());
    }
  }
  Cell out = p;
  set_components(out, a);
  return out;
}

Cell* do_math(ActionCall& call, MathOp op) {
  Cell r = math(call.result(), call.arg(1), op, call.word);
  call.result() = r;
  return &call.result();
}

void negate(Cell& p) {
  std::array<double, 3> c = components(p);
  for (double& d : c) d = -d;
  set_components(p, c);
}

int32_t compare(const Cell& a, const Cell& b, CompareOp op) {
  Cell other = b;
  if (a.is(TYPE_POINT2D) && b.is(TYPE_PAIR)) other = make2(float(b.pair_x()), float(b.pair_y()));
  if (other.type() != a.type()) return kCannotCompare;
  const uint32_t n = dimensions(a);
  const float x[3] = {a.point_x(), a.point_y(), a.point_z()};
  const float y[3] = {other.point_x(), other.point_y(), other.point_z()};
  switch (op) {
    case COMP_EQUAL:
    case COMP_NOT_EQUAL:
    case COMP_FIND:
      for (uint32_t i = 0; i < n; i++)
        if (!float_nearly_equal_single(x[i], y[i])) return 1;
      return 0;
    case COMP_STRICT_EQUAL:
      for (uint32_t i = 0; i < n; i++)
        if (!(x[i] == y[i])) return 1;
      return 0;
    case COMP_SAME:
      for (uint32_t i = 0; i < n; i++)
        if (std::bit_cast<uint32_t>(x[i]) != std::bit_cast<uint32_t>(y[i])) return 1;
      return 0;
    default:
      break;
  }
  double d = 0;
  for (uint32_t i = 0; i < n; i++) {
    d = double(x[i]) - double(y[i]);
    if (!float_nearly_equal_single(float(d), 0.0f)) break;
  }
  return d < 0 ? -1 : d > 0 ? 1 : 0;
}

std::array<uint32_t, 3> exact_key(const Cell& p) {
  std::array<uint32_t, 3> key{};
  const float c[3] = {p.point_x(), p.point_y(), p.is(TYPE_POINT3D) ? p.point_z() : 0.0f};
  for (int i = 0; i < 3; i++) key[i] = std::bit_cast<uint32_t>(c[i] == 0.0f ? 0.0f : c[i]);
  return key;
}

namespace {

TypeId requested_type(const Cell& c) { return c.is(TYPE_DATATYPE) ? c.datatype_id() : c.type(); }

Cell* pt_make(ActionCall& call) {
  const TypeId t = requested_type(call.result());
  const Cell spec = call.arg(1);
  const uint32_t n = t == TYPE_POINT3D ? 3 : 2;
  Cell out{};
  out.set_header(t);
  out.set_point_xyz(0, 0, 0);
  switch (spec.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      SeriesCells items = series_cells(spec);
      std::array<double, 3> c{};
      bool ok = items.length >= n;
      for (uint32_t i = 0; ok && i < n; i++) {
        ok = items.cells[i].is(TYPE_INTEGER) || items.cells[i].is(TYPE_FLOAT);
        if (ok) c[i] = number_of(items.cells[i]);
      }
      if (!ok) fire(Err::syntax_malconstruct, &spec);
      set_components(out, c);
      break;
    }
    case TYPE_STRING: {
      Cell v = rt::load_value(spec);
      if (!v.is(t)) {
        Cell type = datatype_cell(t);
        fire(Err::script_bad_to_arg, &type, &spec);
      }
      out = v;
      break;
    }
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      const double d = number_of(spec);
      set_components(out, {d, d, d});
      break;
    }
    case TYPE_PAIR:
      set_components(out, {double(spec.pair_x()), double(spec.pair_y()), 0.0});
      break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      if (spec.is(TYPE_POINT3D) && t == TYPE_POINT2D) {
        Cell type = datatype_cell(t);
        fire(Err::script_bad_to_arg, &type, &spec);
      }
      set_components(out, components(spec));
      break;
    default: {
      Cell type = datatype_cell(t);
      fire(Err::script_bad_to_arg, &type, &spec);
    }
  }
  call.result() = out;
  return &call.result();
}

Cell* pt_random(ActionCall& call) {
  Cell& p = call.result();
  if (call.has(0)) {  // /seed
    const float c[3] = {p.point_x(), p.point_y(), p.point_z()};
    random::seed(int32_t(murmur::hash_bytes(c, sizeof(float) * dimensions(p), random::hash_seed())));
    p = make_unset();
    return &p;
  }
  std::array<double, 3> c = components(p);
  for (double& d : c)
    if (d != 0.0) d = float_random_bits(d, call.has(1));
  set_components(p, c);
  return &p;
}

std::string text_of(const Cell& p) {
  std::string s = "(";
  std::array<double, 3> c = components(p);
  for (uint32_t i = 0; i < dimensions(p); i++) {
    if (i) s += ", ";
    s += float_to_text(c[i], FLOAT_TEXT_POINT);
  }
  s += ")";
  return s;
}

int32_t pt_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string s = text_of(value);
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

int32_t pt_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return pt_form(value, out, part, limit);
}

// The component an index or word names (0-based), or -1.
int axis_of(const Cell& p, const Cell& e) {
  const int n = int(dimensions(p));
  if (e.is(TYPE_INTEGER)) return e.int_value() >= 1 && e.int_value() <= n ? e.int_value() - 1 : -1;
  if (e.is(TYPE_WORD) || e.is(TYPE_LIT_WORD) || e.is(TYPE_GET_WORD)) {
    const uint32_t s = symbol::canonical_id(e.word_symbol());
    if (s == symbol::canonical_id(fixed.sym.x)) return 0;
    if (s == symbol::canonical_id(fixed.sym.y)) return 1;
    if (n == 3 && s == symbol::canonical_id(fixed.sym.z)) return 2;
  }
  return -1;
}

Cell* pt_eval_path(PathStep& step) {
  Cell& p = *step.value;
  const Cell element = *step.element;
  const int axis = axis_of(p, element);
  if (axis < 0) fire(Err::script_invalid_path, step.path, &element);
  if (!step.set_value) return answer(make_float(components(p)[axis]));
  const Cell value = *step.set_value;
  if (!value.is(TYPE_INTEGER) && !value.is(TYPE_FLOAT)) fire_typed(Err::script_invalid_type, nullptr, value.type());
  std::array<double, 3> c = components(p);
  c[axis] = number_of(value);
  set_components(p, c);
  write_back_scalar(step);
  return answer(value);
}

Cell* pt_pick(ActionCall& call) {
  const Cell& p = call.result();
  const Cell index = call.arg(1);
  const int axis = axis_of(p, index);
  if (axis < 0) fire(Err::script_out_of_range, &index);
  call.result() = make_float(components(p)[axis]);
  return &call.result();
}

Cell* pt_absolute(ActionCall& call) {
  std::array<double, 3> c = components(call.result());
  for (double& d : c) d = std::fabs(d);
  set_components(call.result(), c);
  return &call.result();
}

Cell* pt_negate(ActionCall& call) {
  negate(call.result());
  return &call.result();
}

Cell* pt_reverse(ActionCall& call) {
  Cell& p = call.result();
  std::array<double, 3> c = components(p);
  std::swap(c[0], c[dimensions(p) - 1]);
  set_components(p, c);
  return &p;
}

Cell* pt_round(ActionCall& call) {
  static const unsigned kFlags[] = {0, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR,
                                    ROUND_CEILING, ROUND_HALF_CEILING};
  unsigned flags = 0;
  for (uint32_t r = 1; r < 7; r++)
    if (call.has(r)) flags |= kFlags[r];
  Cell& p = call.result();
  const Cell* scale = call.refinement_arg(0);
  std::array<double, 3> sc = {1.0, 1.0, 1.0};
  if (scale) {
    switch (scale->type()) {
      case TYPE_MONEY: {
        Cell word = stack::current_call_word();
        fire_typed(Err::script_not_related, &word, TYPE_MONEY);
      }
      case TYPE_PAIR:
        sc = {double(scale->pair_x()), double(scale->pair_y()), 1.0};
        break;
      case TYPE_POINT2D:
      case TYPE_POINT3D:
        sc = components(*scale);
        break;
      case TYPE_INTEGER:
      case TYPE_FLOAT:
      case TYPE_PERCENT: {
        const double d = number_of(*scale);
        sc = {d, d, d};
        break;
      }
      default:
        fire_expect_arg(call, 1);
    }
  }
  std::array<double, 3> c = components(p);
  for (uint32_t i = 0; i < dimensions(p); i++) {
    NumFault fault = NumFault::none;
    c[i] = float_round(c[i], std::fabs(sc[i]), flags, fault);
    if (fault != NumFault::none) fire_num_fault(fault);
  }
  set_components(p, c);
  return &p;
}

template <MathOp Op>
Cell* pt_math(ActionCall& call) {
  return do_math(call, Op);
}

void register_point(TypeId t, const char* name) {
  register_type(t, TYPE_NONE_ID, name,
                HandlerRow()
                    .set(ActionIndex::make, &pt_make)
                    .set(ActionIndex::random, &pt_random)
                    .set(ActionIndex::to, &pt_make)
                    .set(ActionIndex::form, &pt_form)
                    .set(ActionIndex::mold, &pt_mold)
                    .set(ActionIndex::eval_path, &pt_eval_path)
                    .set(ActionIndex::compare, &compare)
                    .set(ActionIndex::absolute, &pt_absolute)
                    .set(ActionIndex::add, &pt_math<OP_ADD>)
                    .set(ActionIndex::divide, &pt_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &pt_math<OP_MULTIPLY>)
                    .set(ActionIndex::negate, &pt_negate)
                    .set(ActionIndex::remainder, &pt_math<OP_REMAINDER>)
                    .set(ActionIndex::round, &pt_round)
                    .set(ActionIndex::subtract, &pt_math<OP_SUBTRACT>)
                    .set(ActionIndex::pick, &pt_pick)
                    .set(ActionIndex::reverse, &pt_reverse));
}

}  // namespace

void register_2d() {
  register_point(TYPE_POINT2D, "point2D!");
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.point2d_do_math.fn = &do_math;
  hooks.point2d_negate.fn = &negate;
  hooks.point2d_set.fn = &set2;
}

void register_3d() {
  register_point(TYPE_POINT3D, "point3D!");
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.point3d_do_math.fn = &do_math;
  hooks.point3d_negate.fn = &negate;
  hooks.point3d_set.fn = &set3;
}

}  // namespace point
}  // namespace zem
