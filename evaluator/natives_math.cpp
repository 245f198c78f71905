// Math natives: signs, shifts, trigonometry in degrees or radians, logarithms, roots.
#include <algorithm>
#include <cmath>
#include <limits>

#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/word.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/tuple.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kEpsilon = 2.220446049250313e-16;

// integer! and percent! arguments read as float!.
double arg_float(const Cell& c) {
  return c.is(TYPE_INTEGER) ? static_cast<double>(c.int_value()) : c.float_value();
}

// How an angle beyond +-90 degrees is folded back: 0 by a half turn (tangent's period), 1 not at
// all, 2 mirrored about 90 degrees (sine's symmetry). The natives use 1: folding changes the
// argument's rounding, and unfolded angles give the C library's own results (those of python3's
// math module at 135 and -135 degrees, within two units in the last place elsewhere).
enum AngleFold : int32_t { FOLD_HALF_TURN = 0, FOLD_NONE = 1, FOLD_MIRROR = 2 };

double normalize_angle(double degrees, AngleFold fold) {
  double a = std::fmod(degrees, 360.0);
  if (a > 180.0 || a < -180.0) a += a >= 0 ? -360.0 : 360.0;
  if (a > 90.0 || a < -90.0) {
    if (fold == FOLD_HALF_TURN) a += a >= 0 ? -180.0 : 180.0;
    else if (fold == FOLD_MIRROR) a = a >= 0 ? 180.0 - a : -180.0 - a;
  }
  return a * kPi / 180.0;
}

double angle_arg(const int32_t* r, AngleFold fold) {
  double a = arg_float(*stack::arg(0));
  return r[0] >= 0 ? a : normalize_angle(a, fold);
}

uint32_t float_answer(double d) {
  stack::set_single_result(make_float(d));
  return EXIT_NONE;
}

// -1, 0 or 1 for the number in slot 0, for the sign natives.
int32_t sign_of(uint32_t index) {
  const Cell& v = *stack::arg(0);
  switch (v.type()) {
    case TYPE_INTEGER:
      return v.int_value() < 0 ? -1 : v.int_value() > 0;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME: {
      double d = v.float_value();
      return d < 0.0 ? -1 : d > 0.0;
    }
    case TYPE_MONEY:
      return money::sign_of(money::amount_of(v));
    default:
      natives::fire_expect_arg(index, 0, 0);
  }
}

uint32_t arc_trig(uint32_t index, int32_t check, const int32_t* r, double (*fn)(double)) {
  if (check) natives::check_args(index, r);
  double d = fn(arg_float(*stack::arg(0)));
  return float_answer(r[0] >= 0 ? d : d * 180.0 / kPi);
}

uint32_t float_fn(uint32_t index, int32_t check, const int32_t* r, double (*fn)(double)) {
  if (check) natives::check_args(index, r);
  return float_answer(fn(arg_float(*stack::arg(0))));
}

}  // namespace

uint32_t native_negative_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_negative_q, r);
  stack::set_single_result(make_logic(sign_of(NATIVE_negative_q) < 0));
  return EXIT_NONE;
}

uint32_t native_positive_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_positive_q, r);
  stack::set_single_result(make_logic(sign_of(NATIVE_positive_q) > 0));
  return EXIT_NONE;
}

uint32_t native_sign_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_sign_q, r);
  stack::set_single_result(make_integer(sign_of(NATIVE_sign_q)));
  return EXIT_NONE;
}

uint32_t native_zero_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_zero_q, r);
  const Cell& v = *stack::arg(0);
  bool zero = false;
  switch (v.type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
      zero = v.int_value() == 0;
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      zero = v.float_value() == 0.0;
      break;
    case TYPE_PAIR:
      zero = v.pair_x() == 0 && v.pair_y() == 0;
      break;
    case TYPE_TUPLE:
      zero = tuple::zero(v);
      break;
    case TYPE_POINT2D:
    case TYPE_POINT3D:
      zero = v.point_x() == 0.0f && v.point_y() == 0.0f && (v.is(TYPE_POINT2D) || v.point_z() == 0.0f);
      break;
    case TYPE_MONEY:
      zero = money::is_zero(money::amount_of(v));
      break;
    default:
      break;
  }
  stack::set_single_result(make_logic(zero));
  return EXIT_NONE;
}

uint32_t native_shift(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_shift, r);
  int32_t data = stack::arg(0)->int_value();
  int32_t bits = std::max(stack::arg(1)->int_value(), 0);
  int32_t result;
  if (r[0] >= 0) {
    result = bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) << bits);
  } else if (r[1] >= 0) {
    result = bits > 31 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(data) >> bits);
  } else {
    result = bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
  }
  stack::set_single_result(make_integer(result));
  return EXIT_NONE;
}

uint32_t native_sine(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_sine, r);
  double d = std::sin(angle_arg(r, FOLD_NONE));
  return float_answer(std::fabs(d) < kEpsilon ? 0.0 : d);
}

uint32_t native_cosine(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_cosine, r);
  double d = std::cos(angle_arg(r, FOLD_NONE));
  return float_answer(std::fabs(d) < kEpsilon ? 0.0 : d);
}

uint32_t native_tangent(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_tangent, r);
  double a = angle_arg(r, FOLD_NONE);
  constexpr double kInf = std::numeric_limits<double>::infinity();
  if (a == kPi / 2) return float_answer(kInf);
  if (a == -kPi / 2) return float_answer(-kInf);
  return float_answer(std::tan(a));
}

uint32_t native_arcsine(int32_t check, const int32_t* r) {
  return arc_trig(NATIVE_arcsine, check, r, [](double d) { return std::asin(d); });
}
uint32_t native_arccosine(int32_t check, const int32_t* r) {
  return arc_trig(NATIVE_arccosine, check, r, [](double d) { return std::acos(d); });
}
uint32_t native_arctangent(int32_t check, const int32_t* r) {
  return arc_trig(NATIVE_arctangent, check, r, [](double d) { return std::atan(d); });
}

uint32_t native_arctangent2(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_arctangent2, r);
  double d = std::atan2(arg_float(*stack::arg(0)), arg_float(*stack::arg(1)));
  return float_answer(r[0] >= 0 ? d : d * 180.0 / kPi);
}

uint32_t native_nan_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_nan_q, r);
  const Cell& v = *stack::arg(0);
  bool nan = !v.is(TYPE_INTEGER) && std::isnan(v.float_value());
  stack::set_single_result(make_logic(nan));
  return EXIT_NONE;
}

uint32_t native_log_2(int32_t check, const int32_t* r) {
  return float_fn(NATIVE_log_2, check, r,
                  [](double d) { return std::log(d) / 0.6931471805599453; });
}
uint32_t native_log_10(int32_t check, const int32_t* r) {
  return float_fn(NATIVE_log_10, check, r, [](double d) { return std::log10(d); });
}
uint32_t native_log_e(int32_t check, const int32_t* r) {
  return float_fn(NATIVE_log_e, check, r, [](double d) { return std::log(d); });
}
uint32_t native_exp(int32_t check, const int32_t* r) {
  return float_fn(NATIVE_exp, check, r,
                  [](double d) { return std::pow(2.718281828459045, d); });
}
uint32_t native_square_root(int32_t check, const int32_t* r) {
  return float_fn(NATIVE_square_root, check, r, [](double d) { return std::sqrt(d); });
}

// max and min of a pair, point or tuple (value a) with a number or a value of its kind, component
// by component; false for the combinations that the compare action decides.
bool max_min_compound(Cell& a, const Cell& b, bool is_max) {
  auto pick_i = [is_max](int32_t x, int32_t y) { return is_max ? std::max(x, y) : std::min(x, y); };
  auto pick_f = [is_max](float x, float y) {
    if (std::isnan(x)) return x;
    if (std::isnan(y)) return y;
    return is_max ? std::max(x, y) : std::min(x, y);
  };
  const bool number = b.is(TYPE_INTEGER) || b.is(TYPE_FLOAT) || b.is(TYPE_PERCENT);
  if (a.is(TYPE_PAIR)) {
    int32_t bx, by;
    if (b.is(TYPE_PAIR)) {
      bx = b.pair_x(), by = b.pair_y();
    } else if (b.is(TYPE_INTEGER)) {
      bx = by = b.int_value();
    } else if (number && std::isfinite(b.float_value()) && !float_out_of_int_range(b.float_value())) {
      bx = by = int32_t(b.float_value());
    } else if (number || b.is(TYPE_POINT2D)) {
      a = pair::to_point2d(a);
      return max_min_compound(a, b, is_max);
    } else {
      return false;
    }
    a = pair::make(pick_i(a.pair_x(), bx), pick_i(a.pair_y(), by));
    return true;
  }
  if (a.is(TYPE_POINT2D) || a.is(TYPE_POINT3D)) {
    float o[3];
    if (number) {
      o[0] = o[1] = o[2] = float(b.is(TYPE_INTEGER) ? double(b.int_value()) : b.float_value());
    } else if (b.type() == a.type()) {
      o[0] = b.point_x(), o[1] = b.point_y(), o[2] = b.point_z();
    } else {
      return false;
    }
    const float x = pick_f(a.point_x(), o[0]), y = pick_f(a.point_y(), o[1]);
    a = a.is(TYPE_POINT2D) ? point::make2(x, y) : point::make3(x, y, pick_f(a.point_z(), o[2]));
    return true;
  }
  if (a.is(TYPE_TUPLE)) {
    const uint32_t n = a.tuple_count();
    if (b.is(TYPE_TUPLE) && b.tuple_count() != n) return false;
    if (!b.is(TYPE_TUPLE) && !number) return false;
    int32_t level = 0;
    if (number) {
      const double d = b.is(TYPE_INTEGER) ? double(b.int_value()) : std::trunc(b.float_value());
      level = std::isnan(d) ? 0 : int32_t(std::clamp(d, 0.0, 255.0));
    }
    for (uint32_t i = 0; i < n; i++)
      a.set_tuple_at(i, uint8_t(pick_i(a.tuple_at(i), b.is(TYPE_TUPLE) ? b.tuple_at(i) : level)));
    return true;
  }
  return false;
}

// max and min: a NaN float wins against numbers; otherwise the compare action decides, equal
// values giving value1 for max and value2 for min.
namespace {
uint32_t max_min(uint32_t index, int32_t check, const int32_t* r, bool is_max) {
  if (check) natives::check_args(index, r);
  Cell a = *stack::arg(0);
  Cell b = *stack::arg(1);
  auto is_num = [](const Cell& c) {
    return c.is(TYPE_INTEGER) || c.is(TYPE_FLOAT) || c.is(TYPE_PERCENT);
  };
  auto is_nan = [](const Cell& c) {
    return (c.is(TYPE_FLOAT) || c.is(TYPE_PERCENT)) && std::isnan(c.float_value());
  };
  auto compound = [](const Cell& c) {
    return c.is(TYPE_PAIR) || c.is(TYPE_POINT2D) || c.is(TYPE_POINT3D) || c.is(TYPE_TUPLE);
  };
  if (is_nan(a) && is_num(b)) return stack::set_single_result(a), EXIT_NONE;
  if (is_nan(b) && is_num(a)) return stack::set_single_result(b), EXIT_NONE;
  if (compound(b) && (a.is(TYPE_INTEGER) || a.is(TYPE_FLOAT))) std::swap(a, b);
  if (compound(a) && max_min_compound(a, b, is_max)) return stack::set_single_result(a), EXIT_NONE;
  bool less = actions::compare(a, b, COMP_LESSER);
  stack::set_single_result(is_max ? (less ? b : a) : (less ? a : b));
  return EXIT_NONE;
}
}  // namespace

uint32_t native_max(int32_t check, const int32_t* r) { return max_min(NATIVE_max, check, r, true); }
uint32_t native_min(int32_t check, const int32_t* r) { return max_min(NATIVE_min, check, r, false); }

uint32_t native_to_hex(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_to_hex, r);
  std::string_view digits = str::int_to_hex(stack::arg(0)->int_value(), false);
  if (r[0] >= 0) {
    const Cell& length = *stack::arg(static_cast<uint32_t>(r[0]));
    if (length.int_value() <= 0) fire(Err::script_invalid_arg, &length);
    if (static_cast<size_t>(length.int_value()) < digits.size())
      digits.remove_prefix(digits.size() - static_cast<size_t>(length.int_value()));
  }
  Cell issue;
  word::init_issue(issue, digits);
  stack::set_single_result(issue);
  return EXIT_NONE;
}

namespace {
// A pair coordinate: an integer as it is, a float truncated toward zero; a float that is not finite
// or lies outside the int32 range has no coordinate.
int32_t as_pair_coordinate(const Cell& c) {
  if (c.is(TYPE_INTEGER)) return c.int_value();
  const double d = c.float_value();
  if (!std::isfinite(d) || float_out_of_int_range(d)) fire(Err::script_invalid_arg, &c);
  return int32_t(d);
}
float number_to_float32(const Cell& c) {
  return c.is(TYPE_INTEGER) ? float(c.int_value()) : float(c.float_value());
}
}  // namespace

uint32_t native_as_pair(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_as_pair, r);
  stack::set_single_result(pair::make(as_pair_coordinate(*stack::arg(0)), as_pair_coordinate(*stack::arg(1))));
  return EXIT_NONE;
}

uint32_t native_as_point2d(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_as_point2d, r);
  stack::set_single_result(point::make2(number_to_float32(*stack::arg(0)), number_to_float32(*stack::arg(1))));
  return EXIT_NONE;
}

// The amount in the named currency; a float with more than five decimals is refused as make does.
uint32_t native_as_money(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_as_money, r);
  const Cell code = *stack::arg(0), amount = *stack::arg(1);
  const int32_t index = money::currency_index(code.word_symbol());
  if (index < 0) fire(Err::script_bad_denom, &code);
  if (index > money::kMaxCurrency) {
    const Cell type = datatype_cell(TYPE_MONEY);
    fire(Err::script_bad_make_arg, &type, &code);
  }
  Cell m = amount.is(TYPE_INTEGER) ? money::from_integer(amount.int_value())
                                   : money::from_float(amount.float_value(), true);
  m.set_money_currency(uint8_t(index));
  stack::set_single_result(m);
  return EXIT_NONE;
}

uint32_t native_as_point3d(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_as_point3d, r);
  stack::set_single_result(point::make3(number_to_float32(*stack::arg(0)), number_to_float32(*stack::arg(1)),
                                        number_to_float32(*stack::arg(2))));
  return EXIT_NONE;
}

}  // namespace zem
