// float!: double arithmetic, rounding, comparison, conversion and text, and its action handlers.
#include "datatypes/float.h"

#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/number_text.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "services/random.h"

namespace zem {

FloatState float_state;

uint64_t float_bits(double d) { return std::bit_cast<uint64_t>(d); }
double float_from_bits(uint64_t bits) { return std::bit_cast<double>(bits); }

bool float_is_nan(double d) { return std::isnan(d); }
bool float_is_non_finite(double d) { return !std::isfinite(d); }
double float_abs_bits(double d) { return float_from_bits(float_bits(d) & ~(uint64_t(1) << 63)); }

int32_t float_add_nearly_half(double d, NumFault& fault) {
  return float_truncate(d + 0.49999999999999994, fault);
}

namespace {

// Orders doubles as unsigned integers: -0.0 and 0.0 map alike, neighbours differ by one.
uint64_t ordered_bits(double d) {
  uint64_t u = float_bits(d);
  return (u >> 63) ? uint64_t(0) - u : u | (uint64_t(1) << 63);
}

}  // namespace

bool float_nearly_equal(double a, double b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;
  if (std::fabs(a - b) < kFloatEpsilon) return true;
  uint64_t ua = ordered_bits(a), ub = ordered_bits(b);
  return (ua > ub ? ua - ub : ub - ua) <= 10;
}

bool float_nearly_equal_single(float a, float b) {
  if (std::isnan(a) || std::isnan(b)) return false;
  if (a == b) return true;  // both zeros included
  uint32_t pa = std::bit_cast<uint32_t>(a), pb = std::bit_cast<uint32_t>(b);
  uint32_t ma = pa & 0x7FFFFFFF, mb = pb & 0x7FFFFFFF;
  if (ma >= 0x7F7FFFFF || mb >= 0x7F7FFFFF)
    return (pa >> 31) == (pb >> 31) && (ma > mb ? ma - mb : mb - ma) < 0x100000;
  auto ordered = [](uint32_t p) -> int64_t {
    return (p >> 31) ? -int64_t(p & 0x7FFFFFFF) : int64_t(p);
  };
  int64_t d = ordered(pa) - ordered(pb);
  return d >= -10 && d <= 10;
}

int float_compare(double a, double b, int op) {
  switch (op) {
    case 0:
    case 1:
      return float_nearly_equal(a, b) ? 0 : 1;
    case 2:
      return a == b ? 0 : 1;
    case 9:
      return float_bits(a) == float_bits(b) ? 0 : 1;
    default:
      break;
  }
  if (std::isnan(a) || std::isnan(b)) {
    if (op == 3 || op == 4) return 1;
    if (op == 5 || op == 6) return -1;
    if (op == 12) return 1;  // NaN is not found as equal to anything
    return 0;
  }
  return (a > b) - (a < b);
}

double float_apply(double a, double b, MathOp op, NumFault& fault) {
  switch (op) {
    case OP_ADD: return a + b;
    case OP_SUBTRACT: return a - b;
    case OP_MULTIPLY: return a * b;
    case OP_DIVIDE: return a / b;
    case OP_REMAINDER:
      if (std::isfinite(b)) return std::fmod(a, b);
      if (std::isnan(b)) return NAN;
      return std::isfinite(a) ? a : NAN;
    default:
      fault = NumFault::cannot_use;
      return 0.0;
  }
}

namespace {
// A scale below the value's precision changes nothing; nor does a zero scale (0 / 0 is no number).
bool round_keeps(double n, double sc) { return sc < std::fabs(n) * 0x1p-53 || sc == 0.0; }
}  // namespace

double float_round(double n, double sc, unsigned flags, NumFault& fault) {
  if (round_keeps(n, sc)) return n;
  int e = 0;
  double f;
  if (sc >= 1.0) {
    f = n / sc;
  } else {
    double m = std::frexp(sc, &e);
    if (e < -1021) {
      // 1 / sc would overflow: work on n scaled up by the exponent and the mantissa alone.
      n = std::ldexp(n, -e);
      sc = m;
    } else {
      e = 0;
    }
    f = n * (1.0 / sc);
  }
  const double a = std::fabs(f), h = std::floor(a) + 0.5;
  auto with_sign = [f](double x) { return std::copysign(x, f); };
  double r;
  if (flags & ROUND_DOWN) r = with_sign(std::floor(a));
  else if (flags & ROUND_FLOOR) r = std::floor(f);
  else if (flags & ROUND_CEILING) r = std::ceil(f);
  else if (a > h) r = with_sign(std::ceil(a));
  else if (a < h) r = with_sign(std::floor(a));
  else if (flags & ROUND_EVEN) r = with_sign(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : std::floor(a));
  else if (flags & ROUND_HALF_DOWN) r = with_sign(std::floor(a));
  else if (flags & ROUND_HALF_CEILING) r = std::ceil(f);
  else r = with_sign(std::ceil(a));
  double result;
  if (sc >= 1.0) {
    result = r * sc;
    // A finite value must not round to infinity.
    if (std::fabs(result) == DBL_MAX || (std::isinf(result) && std::isfinite(n))) {
      fault = NumFault::overflow;
      return 0.0;
    }
  } else {
    result = std::ldexp(r / (1.0 / sc), e);
  }
  return result;
}

double float_from_bytes(const uint8_t* bytes, size_t length) {
  uint64_t bits = 0;
  for (size_t i = 0; i < length && i < 8; i++) bits = (bits << 8) | bytes[i];
  return float_from_bits(bits);
}

int32_t float_truncate(double d, NumFault& fault) {
  if (float_out_of_int_range(d)) {
    fault = NumFault::type_limit;
    return 0;
  }
  return int32_t(d);
}

namespace {

// printf "%.<precision>g" in the C locale.
std::string general_text(double d, int precision) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::general, precision);
  return std::string(buf, res.ptr);
}

struct TextScan {
  size_t point = std::string::npos;  // the "."
  size_t exp = std::string::npos;    // the "e"
};

TextScan scan_text(const std::string& s) {
  TextScan t;
  t.point = s.find('.');
  t.exp = s.find('e');
  return t;
}

// Long texts are those printed with all 16 (or 17) digits; their noise shows in the last two.
bool noisy_text(const std::string& s, const TextScan& t) {
  size_t start = s[0] == '-' ? 1 : 0;
  size_t body = (t.exp == std::string::npos ? s.size() : t.exp) - start;
  size_t limit = t.exp == std::string::npos && s[start] == '0' ? 17 : 16;
  if (body <= limit) return false;
  size_t end = t.exp == std::string::npos ? s.size() : t.exp;
  std::string_view last(s.data() + end - 2, 2);
  return last == "01" || last == "99";
}

}  // namespace

std::string float_to_text(double d, int mode, bool pretty) {
  if (std::isinf(d)) return d < 0 ? "-1.#INF" : "1.#INF";
  if (std::isnan(d)) return "1.#NaN";
  const bool percent = mode == FLOAT_TEXT_SINGLE_PERCENT || mode == FLOAT_TEXT_PERCENT;
  if (pretty && std::fabs(d) < kFloatEpsilon) {
    if (percent) return "0%";
    return mode == FLOAT_TEXT_POINT ? "0" : "0.0";
  }
  const bool single = mode == FLOAT_TEXT_SINGLE || mode == FLOAT_TEXT_SINGLE_PERCENT ||
                      mode == FLOAT_TEXT_POINT;
  std::string s;
  if (single) s = general_text(d, 7);
  else if (mode == FLOAT_TEXT_TIME) s = std::string(dtoa::format_float(d, 6, false));
  else if (mode == FLOAT_TEXT_PERCENT) s = general_text(d, 13);
  else s = general_text(d, 16);
  TextScan t = scan_text(s);
  if (pretty && noisy_text(s, t)) {
    bool short_mode = mode == FLOAT_TEXT_SINGLE || mode == FLOAT_TEXT_TIME || mode == FLOAT_TEXT_POINT;
    s = general_text(d, short_mode ? 5 : 14);
    t = scan_text(s);
  }
  if (t.exp != std::string::npos) {
    // "e+020" -> "e20", "e-005" -> "e-5"
    size_t i = t.exp + 1;
    std::string exponent;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
      if (s[i] == '-') exponent.push_back('-');
      i++;
    }
    while (i + 1 < s.size() && s[i] == '0') i++;
    exponent.append(s, i, std::string::npos);
    s.resize(t.exp + 1);
    s += exponent;
  }
  if (percent) {
    s.push_back('%');
  } else if (t.point == std::string::npos && mode != FLOAT_TEXT_TIME && mode != FLOAT_TEXT_POINT) {
    s.insert(t.exp == std::string::npos ? s.size() : t.exp, ".0");
  }
  return s;
}

double float_random_bits(double x, bool secure) {
  if (!secure) return random::next_u32() / 2147483647.0 * x;
  double s1 = random::secure_random(), s2 = random::secure_random();
  return (s2 + s1 / 2147483647.0) / (2147483648.0 / x);
}

namespace {

[[noreturn]] void fire_with_type(Err e, const Cell* first, TypeId t) {
  Cell type = datatype_cell(t);
  if (first) fire(e, first, &type);
  fire(e, &type);
}

int32_t truncate_checked(double d) {
  NumFault fault = NumFault::none;
  int32_t v = float_truncate(d, fault);
  if (fault != NumFault::none) fire_num_fault(fault);
  return v;
}

bool is_float_payload(TypeId t) { return t == TYPE_FLOAT || t == TYPE_PERCENT || t == TYPE_TIME; }

}  // namespace

Cell* float_do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  Cell& right = call.arg(1);
  FurtherTypeHooks& hooks = further_type_hooks();
  // integer! arithmetic hands its float cases here; a char! left operand counts as its number.
  const TypeId lt = left.is(TYPE_CHAR) ? TYPE_INTEGER : left.type(), rt = right.type();
  switch (rt) {
    case TYPE_TUPLE:
      return hooks.tuple_do_math(call, op);
    case TYPE_MONEY:
      return hooks.money_do_math(call, op);
    case TYPE_PAIR:
    case TYPE_POINT2D:
    case TYPE_POINT3D: {
      if (lt == TYPE_TIME) break;  // not an operand of time!: invalid-type below
      if (op == OP_SUBTRACT || op == OP_DIVIDE)
        fire_with_type(Err::script_not_related,
                       op == OP_SUBTRACT ? &fixed.word.subtract : &fixed.word.divide, rt);
      if (lt == TYPE_INTEGER) set_float(left, double(left.int_value()));
      std::swap(left, right);
      if (rt == TYPE_PAIR) return hooks.pair_do_math(call, op);
      if (rt == TYPE_POINT2D) return hooks.point2d_do_math(call, op);
      return hooks.point3d_do_math(call, op);
    }
    case TYPE_VECTOR: {
      Cell vector = right, number = left;
      hooks.vector_do_math(op, vector, number, left);
      return &left;
    }
    default:
      break;
  }
  bool right_ok = rt == TYPE_INTEGER || is_float_payload(rt) ||
                  (rt == TYPE_CHAR && lt != TYPE_TIME && lt != TYPE_PERCENT);
  if (!right_ok) {
    Cell type = datatype_cell(rt);
    fire(Err::script_invalid_type, &type);
  }
  const double a = lt == TYPE_INTEGER ? double(left.int_value()) : left.float_value();
  const double b = rt == TYPE_INTEGER || rt == TYPE_CHAR ? double(right.int_value()) : right.float_value();
  NumFault fault = NumFault::none;
  double r = float_apply(a, b, op, fault);
  if (fault != NumFault::none) fire_with_type(Err::script_cannot_use, call.word, TYPE_FLOAT);
  TypeId result_type;
  if ((lt == TYPE_TIME) != (rt == TYPE_TIME)) result_type = TYPE_TIME;
  else if (lt == TYPE_PERCENT && rt != TYPE_TIME) result_type = TYPE_PERCENT;
  else result_type = lt == TYPE_INTEGER ? TYPE_FLOAT : lt;
  set_float(left, r, result_type);
  return &left;
}

Cell* float_power(ActionCall& call) {
  Cell& base = call.result();
  const Cell& exponent = call.arg(1);
  if (!exponent.is(TYPE_INTEGER) && !exponent.is(TYPE_FLOAT)) fire_expect_arg(call, 1);
  double e = exponent.is(TYPE_INTEGER) ? double(exponent.int_value()) : exponent.float_value();
  base.set_float_payload(std::pow(base.float_value(), e));
  return &base;
}

Cell* float_round_action(ActionCall& call) {
  // Refinements in spec order: /to, /even, /down, /half-down, /floor, /ceiling, /half-ceiling.
  static const unsigned kFlags[] = {0, ROUND_EVEN, ROUND_DOWN, ROUND_HALF_DOWN, ROUND_FLOOR,
                                    ROUND_CEILING, ROUND_HALF_CEILING};
  unsigned flags = 0;
  for (uint32_t r = 1; r < 7; r++)
    if (call.has(r)) flags |= kFlags[r];
  Cell& v = call.result();
  const Cell* scale = call.refinement_arg(0);
  if (scale && scale->is(TYPE_MONEY)) fire_with_type(Err::script_not_related, call.word, TYPE_MONEY);
  if (scale && !scale->is(TYPE_INTEGER) && !is_float_payload(scale->type())) fire_expect_arg(call, 1);
  const bool percent = v.is(TYPE_PERCENT);
  double sc = percent ? 0.01 : 1.0;
  if (scale) {
    sc = std::fabs(scale->is(TYPE_INTEGER) ? double(scale->int_value()) : scale->float_value());
    if (percent) sc /= 100;
  }
  // Left as it is, the value keeps its type whatever the scale's.
  if (round_keeps(v.float_value(), sc)) return &v;
  NumFault fault = NumFault::none;
  double r = float_round(v.float_value(), sc, flags, fault);
  if (fault != NumFault::none) fire_num_fault(fault);
  if (scale && scale->is(TYPE_INTEGER)) {
    set_integer(v, truncate_checked(r));
  } else {
    set_float(v, r, scale ? scale->type() : v.type());
  }
  return &v;
}

namespace {

Cell* flt_random(ActionCall& call) {
  Cell& v = call.result();
  if (call.has(0)) {  // /seed
    random::seed(int32_t(v.float_low_word() ^ v.float_high_word()));
    v = make_unset();
    return &v;
  }
  v.set_float_payload(float_random_bits(v.float_value(), call.has(1)));
  return &v;
}

// Percent text is read as the lexer reads a literal: "50%" is 0.5, a plain number its value.
bool percent_from_text(const SeriesUnits& text, double& out) {
  if (text.length == 0) return false;
  int error = 0;
  if (code_unit_at(text.data, text.length - 1, text.unit) == '%') {
    std::string bytes;
    for (size_t i = 0; i + 1 < text.length; i++) {
      uint32_t c = code_unit_at(text.data, i, text.unit);
      if (c > 0x7F) return false;
      bytes.push_back(char(c));
    }
    if (!float_syntax(bytes)) return false;
    std::erase(bytes, '\'');
    size_t unread = 0;
    out = dtoa::text_to_float(bytes.data(), bytes.data() + bytes.size(), -2, &unread);
    return unread == 0;
  }
  int32_t i = parse_integer_text(text.data, text.length, text.unit, error);
  if (error == 0) {
    out = i;
    return true;
  }
  error = 0;
  out = parse_float_text(text.data, text.length, text.unit, error);
  return error == 0;
}

double float_from_spec(const Cell& spec, TypeId requested) {
  FurtherTypeHooks& hooks = further_type_hooks();
  switch (str::is_text_type(spec.type()) ? TYPE_STRING : spec.type()) {
    case TYPE_INTEGER:
    case TYPE_CHAR:
      return spec.int_value();
    case TYPE_MONEY:
      return hooks.money_to_float(spec);
    case TYPE_TIME:
      return spec.float_value();
    case TYPE_BINARY: {
      SeriesUnits b = series_units(spec);
      return float_from_bytes(static_cast<const uint8_t*>(b.data), b.length);
    }
    case TYPE_STRING: {  // every text type
      SeriesUnits text = series_units(spec);
      double d = 0;
      if (requested == TYPE_PERCENT) {
        if (!percent_from_text(text, d)) break;
        return d;
      }
      int error = 0;
      if (text.length == 0) break;
      d = parse_float_text(text.data, text.length, text.unit, error);
      if (error != 0) break;
      return d;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      SeriesCells block = series_cells(spec);
      if (block.length != 2) break;
      const Cell* items = block.cells;
      for (int i = 0; i < 2; i++) {
        if (!items[i].is(TYPE_INTEGER) && !items[i].is(TYPE_FLOAT)) {
          Cell type = datatype_cell(TYPE_FLOAT);
          fire(Err::script_bad_to_arg, &type, &items[i]);
        }
      }
      auto number = [](const Cell& c) { return c.is(TYPE_INTEGER) ? double(c.int_value()) : c.float_value(); };
      double mantissa = number(items[0]);
      int32_t exponent = truncate_checked(number(items[1]));
      return mantissa * std::pow(10.0, exponent);
    }
    default:
      break;
  }
  Cell type = datatype_cell(requested);
  fire(Err::script_bad_to_arg, &type, &spec);
}

Cell* flt_make(ActionCall& call) {
  Cell& result = call.result();
  const Cell& spec = call.arg(1);
  TypeId requested = result.is(TYPE_DATATYPE) ? result.datatype_id() : result.type();
  if (spec.is(TYPE_FLOAT) || spec.is(TYPE_PERCENT)) {
    result = spec;
    result.set_type(requested);
    return &result;
  }
  double d = float_from_spec(spec, requested);
  result = make_float(d);
  result.set_type(requested);
  return &result;
}

int32_t flt_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string text = float_to_text(value.float_value(), FLOAT_TEXT_DOUBLE);
  out.append_ascii(text);
  return limit - int32_t(text.size());
}

int32_t flt_mold(const Cell& value, TextOut& out, MoldFlags, const Cell*, int32_t limit, int32_t) {
  std::string_view text = dtoa::format_float(value.float_value(), 0, true);
  out.append_ascii(text);
  return limit - int32_t(text.size());
}

int32_t flt_compare(const Cell& a, const Cell& b, CompareOp op) {
  if ((op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) && a.type() != b.type()) return 1;
  const double x = a.float_value();
  double y;
  switch (b.type()) {
    case TYPE_MONEY: {
      // The money's own comparison, which orders floats it cannot hold by their value.
      const int32_t c = further_type_hooks().money_compare(b, a, op);
      return c == kCannotCompare ? c : -c;
    }
    case TYPE_INTEGER:
      y = b.int_value();
      break;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_TIME:
      y = b.float_value();
      break;
    default:
      return kCannotCompare;
  }
  return float_compare(x, y, op);
}

Cell* flt_absolute(ActionCall& call) {
  call.result().set_float_payload(float_abs_bits(call.result().float_value()));
  return &call.result();
}

Cell* flt_negate(ActionCall& call) {
  call.result().set_float_payload(0.0 - call.result().float_value());
  return &call.result();
}

template <MathOp Op>
Cell* flt_math(ActionCall& call) {
  return float_do_math(call, Op);
}

Cell* flt_even(ActionCall& call) { return answer_logic((truncate_checked(call.result().float_value()) & 1) == 0); }
Cell* flt_odd(ActionCall& call) { return answer_logic((truncate_checked(call.result().float_value()) & 1) != 0); }

}  // namespace

void register_float() {
  register_type(TYPE_FLOAT, TYPE_NONE_ID, "float!",
                HandlerRow()
                    .set(ActionIndex::make, &flt_make)
                    .set(ActionIndex::random, &flt_random)
                    .set(ActionIndex::to, &flt_make)
                    .set(ActionIndex::form, &flt_form)
                    .set(ActionIndex::mold, &flt_mold)
                    .set(ActionIndex::compare, &flt_compare)
                    .set(ActionIndex::absolute, &flt_absolute)
                    .set(ActionIndex::add, &flt_math<OP_ADD>)
                    .set(ActionIndex::divide, &flt_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &flt_math<OP_MULTIPLY>)
                    .set(ActionIndex::negate, &flt_negate)
                    .set(ActionIndex::power, &float_power)
                    .set(ActionIndex::remainder, &flt_math<OP_REMAINDER>)
                    .set(ActionIndex::round, &float_round_action)
                    .set(ActionIndex::subtract, &flt_math<OP_SUBTRACT>)
                    .set(ActionIndex::even_q, &flt_even)
                    .set(ActionIndex::odd_q, &flt_odd));
}

}  // namespace zem
