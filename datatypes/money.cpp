// money!: the cell, its text, its conversions from and to numbers and text, comparison across
// currencies, rounding, random amounts, the registration and the hooks the core calls.
#include "datatypes/money.h"

#include <cmath>
#include <utility>
#include <initializer_list>
#include <string>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "evaluator/number_text.h"
#include "evaluator/stack.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "services/random.h"

namespace zem::money {

namespace {

[[noreturn]] void fire_typed(Err e, TypeId t, const Cell* second = nullptr) {
  Cell type = datatype_cell(t);
  fire(e, &type, second);
}

Cell* answer(const Cell& v) {
  static Cell out;
  out = v;
  return &out;
}

void check(Fault f) {
  if (f == Fault::overflow) fire_typed(Err::script_type_limit, TYPE_MONEY);
  if (f == Fault::zero_divide) fire(Err::math_zero_divide);
}

// A field of the system object down a path of names, or null.
const Cell* system_field(std::initializer_list<std::string_view> names) {
  const Cell* v = context::symbol_value_cell(symbol::intern("system"), context::global());
  for (std::string_view name : names) {
    if (!v || !v->is(TYPE_OBJECT)) return nullptr;
    const int32_t i = object::field_index(*v, symbol::intern(name));
    if (i < 0) return nullptr;
    v = &context::values(v->object_context())[i];
  }
  return v;
}

const Cell* currency_list() {
  const Cell* list = system_field({"locale", "currencies", "list"});
  return list && list->is(TYPE_BLOCK) ? list : nullptr;
}

// The code word of a currency index, or null when the list has no such entry.
const Cell* currency_word(uint8_t index) {
  const Cell* list = currency_list();
  if (!list || index == 0) return nullptr;
  SeriesCells words = series_cells(*list);
  if (index > words.length || !words.cells[index - 1].is(TYPE_WORD)) return nullptr;
  return &words.cells[index - 1];
}

// The index as a cell can hold it: a code further down the list than 255 is refused.
uint8_t storable_currency(int32_t index, const Cell& named) {
  if (index > kMaxCurrency) fire_typed(Err::script_bad_make_arg, TYPE_MONEY, &named);
  return uint8_t(index);
}

bool compatible(uint8_t a, uint8_t b) { return a == 0 || b == 0 || a == b; }

// ---- floats ----

enum class FloatFit { exact, truncated, out_of_range };

// The float's shortest text read as an amount, fraction digits past the fifth dropped.
FloatFit float_amount(double d, Amount& out) {
  out = Amount{};
  if (!std::isfinite(d) || std::fabs(d) >= 1e17) return FloatFit::out_of_range;
  std::string_view text = dtoa::format_float_plain(d, 0);
  size_t i = 0;
  if (text[0] == '-') {
    out.negative = true;
    i = 1;
  }
  const size_t point = text.find('.');
  std::string_view whole = text.substr(i, point - i);
  std::string_view fraction = text.substr(point + 1);
  for (size_t k = 0; k < whole.size(); k++)
    out.digit[kIntDigits - whole.size() + k] = uint8_t(whole[k] - '0');
  FloatFit fit = FloatFit::exact;
  for (size_t k = 0; k < fraction.size(); k++) {
    if (k < size_t(kFracDigits)) out.digit[kIntDigits + k] = uint8_t(fraction[k] - '0');
    else if (fraction[k] != '0') fit = FloatFit::truncated;
  }
  if (is_zero(out)) out.negative = false;
  return fit;
}

Amount float_to_amount(double d, bool strict) {
  Amount a;
  const FloatFit fit = float_amount(d, a);
  if (fit == FloatFit::out_of_range || (strict && fit == FloatFit::truncated)) {
    Cell value = make_float(d);
    fire_typed(Err::script_bad_make_arg, TYPE_MONEY, &value);
  }
  return a;
}

// ---- text ----

int32_t money_digits_option() {
  const Cell* digits = system_field({"options", "money-digits"});
  return digits && digits->is(TYPE_INTEGER) ? digits->int_value() : 2;
}

std::string text_of(const Cell& v, bool grouped, int32_t fraction) {
  const Amount a = amount_of(v);
  std::string s;
  if (sign_of(a) < 0) s.push_back('-');
  if (const Cell* code = currency_word(v.money_currency())) s += symbol::name(code->word_symbol());
  else if (v.money_currency()) s += "???";  // an index the list does not reach (damaged cell)
  s.push_back('$');
  int first = 0;
  while (first < kIntDigits - 1 && a.digit[first] == 0) first++;
  for (int i = first; i < kIntDigits; i++) {
    if (grouped && i > first && (kIntDigits - i) % 3 == 0) s.push_back('\'');
    s.push_back(char('0' + a.digit[i]));
  }
  if (fraction > kFracDigits) fraction = kFracDigits;
  if (fraction > 0) {
    s.push_back('.');
    for (int k = 0; k < fraction; k++) s.push_back(char('0' + a.digit[kIntDigits + k]));
  }
  return s;
}

int32_t mn_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  const std::string s = text_of(value, true, money_digits_option());
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

int32_t mn_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit, int32_t) {
  const std::string s = text_of(value, false, flags.all ? kFracDigits : money_digits_option());
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

// ---- make and to ----

// Text of a string-like value as money: the money grammar, or false.
bool from_text(const Cell& text, Cell& out) {
  SeriesUnits units = series_units(text);
  std::string bytes;
  bytes.reserve(units.length);
  for (size_t i = 0; i < units.length; i++) {
    const uint32_t c = code_unit_at(units.data, i, units.unit);
    if (c > 0x7F) return false;
    bytes.push_back(char(c));
  }
  return parse_number_text(bytes.data(), bytes.size(), out);
}

Cell to_money(const Cell& spec) {
  Cell out{};
  const TypeId t = spec.type();
  if (t == TYPE_MONEY) return spec;
  if (t == TYPE_INTEGER) return from_integer(spec.int_value());
  if (t == TYPE_FLOAT) return make(float_to_amount(spec.float_value(), true));
  if (str::is_text_type(t) && from_text(spec, out)) return out;
  fire_typed(Err::script_bad_to_arg, TYPE_MONEY, &spec);
}

// [code] amount [hundred-thousandths], the amount an integer or a float and the fraction only
// after an integer.
Cell from_block(const Cell& block) {
  const Cell spec = block;
  auto refuse = [&spec]() { fire_typed(Err::script_bad_make_arg, TYPE_MONEY, &spec); };
  SeriesCells items = series_cells(block);
  size_t i = 0;
  uint8_t currency = 0;
  if (i < items.length && items.cells[i].is(TYPE_WORD)) {
    const int32_t index = currency_index(items.cells[i].word_symbol());
    if (index < 0) refuse();
    currency = storable_currency(index, spec);
    i++;
  }
  if (i >= items.length) refuse();
  const Cell amount = items.cells[i++];
  Amount a;
  if (amount.is(TYPE_INTEGER)) {
    a = amount_of_integer(amount.int_value());
    if (i < items.length) {
      const Cell fraction = items.cells[i++];
      if (!fraction.is(TYPE_INTEGER) || fraction.int_value() < 0 || fraction.int_value() > 99999) refuse();
      Amount extra;
      for (int32_t k = kDigits - 1, f = fraction.int_value(); f; k--, f /= 10) extra.digit[k] = uint8_t(f % 10);
      extra.negative = amount.int_value() < 0;
      check(add(a, extra));
    }
  } else if (amount.is(TYPE_FLOAT)) {
    a = float_to_amount(amount.float_value(), true);
  } else {
    refuse();
  }
  if (i != items.length) refuse();
  return make(a, currency);
}

Cell* mn_make(ActionCall& call) {
  const Cell spec = call.arg(1);
  Cell& result = call.result();
  if (spec.is(TYPE_WORD)) {
    const int32_t index = currency_index(spec.word_symbol());
    if (index < 0) fire_typed(Err::script_bad_make_arg, TYPE_MONEY, &spec);
    result = make(Amount{}, storable_currency(index, spec));
  } else if (spec.is(TYPE_BLOCK)) {
    result = from_block(spec);
  } else {
    result = to_money(spec);
  }
  return &result;
}

Cell* mn_to(ActionCall& call) {
  call.result() = to_money(call.arg(1));
  return &call.result();
}

// ---- paths and pick ----

// 1 for code, 2 for amount, 0 for anything else.
int accessor_of(const Cell& e) {
  if (e.is(TYPE_INTEGER)) return e.int_value() == 1 ? 1 : e.int_value() == 2 ? 2 : 0;
  if (!e.is(TYPE_WORD) && !e.is(TYPE_LIT_WORD) && !e.is(TYPE_GET_WORD)) return 0;
  const uint32_t s = symbol::canonical_id(e.word_symbol());
  if (s == symbol::canonical_id(symbol::intern("code"))) return 1;
  if (s == symbol::canonical_id(symbol::intern("amount"))) return 2;
  return 0;
}

Cell accessor_value(const Cell& v, int which) {
  if (which == 2) return make(amount_of(v));
  const Cell* code = currency_word(v.money_currency());
  return code ? *code : make_none();
}

Cell* mn_eval_path(PathStep& step) {
  const Cell path = step.path ? *step.path : *step.value, element = *step.element;
  if (step.set_value) fire(Err::script_bad_path_set, &path, &element);
  const int which = accessor_of(element);
  if (!which) fire(Err::script_invalid_path, &path, &element);
  return answer(accessor_value(*step.value, which));
}

Cell* mn_pick(ActionCall& call) {
  const Cell index = call.arg(1);
  const int which = accessor_of(index);
  if (!which) fire(Err::script_out_of_range, &index);
  call.result() = accessor_value(call.result(), which);
  return &call.result();
}

// ---- arithmetic ----

Cell* mn_absolute(ActionCall& call) {
  call.result().set_money_negative(false);
  return &call.result();
}

Cell* mn_negate(ActionCall& call) {
  Cell& v = call.result();
  v.set_money_negative(!v.money_negative() && !is_zero(amount_of(v)));
  return &v;
}

template <MathOp Op>
Cell* mn_math(ActionCall& call) {
  return do_math(call, Op);
}

Cell* mn_even(ActionCall& call) { return answer_logic(amount_of(call.result()).digit[kIntDigits - 1] % 2 == 0); }
Cell* mn_odd(ActionCall& call) { return answer_logic(amount_of(call.result()).digit[kIntDigits - 1] % 2 != 0); }

// Refinements of round in spec order.
enum { R_TO, R_EVEN, R_DOWN, R_HALF_DOWN, R_FLOOR, R_CEILING, R_HALF_CEILING };

Cell* mn_round(ActionCall& call) {
  Cell& v = call.result();
  const Amount value = amount_of(v);
  if (is_zero(value)) return &v;
  Amount scale = amount_of_integer(1);
  if (const Cell* s = call.refinement_arg(R_TO)) {
    if (s->is(TYPE_INTEGER)) scale = amount_of_integer(s->int_value());
    else if (s->is(TYPE_FLOAT)) scale = float_to_amount(s->float_value(), true);
    else if (s->is(TYPE_MONEY)) scale = amount_of(*s);
    else {
      const Cell word = call.word ? *call.word : stack::current_call_word(), type = datatype_cell(s->type());
      fire(Err::script_not_related, &word, &type);
    }
  }
  scale.negative = false;
  if (is_zero(scale)) return &v;
  const bool negative = value.negative;
  Amount m = value;
  m.negative = false;
  Amount r = m;
  check(remainder(r, scale));
  // An exact multiple stays as it is under every rule.
  if (is_zero(r)) return &v;
  Amount down = m;
  check(subtract(down, r));
  Amount rest = scale;  // the distance up to the next multiple
  check(subtract(rest, r));
  // A tie lies halfway: r equals the distance up.
  const int half = compare_magnitudes(r, rest);
  bool go_up = half >= 0;  // the nearest, ties away from zero
  if (call.has(R_DOWN)) {
    go_up = false;
  } else if (call.has(R_FLOOR)) {
    go_up = negative;
  } else if (call.has(R_CEILING)) {
    go_up = !negative;
  } else if (half == 0 && call.has(R_EVEN)) {
    // The tie goes to the even multiple: down when down / scale is even.
    Amount twice = scale;
    bool odd;
    if (add(twice, scale) == Fault::overflow) {
      odd = compare_magnitudes(down, scale) >= 0;  // down / scale is 0 or 1
    } else {
      Amount t = down;
      check(remainder(t, twice));
      odd = !is_zero(t);
    }
    go_up = odd;
  } else if (half == 0 && call.has(R_HALF_DOWN)) {
    go_up = false;
  } else if (half == 0 && call.has(R_HALF_CEILING)) {
    go_up = !negative;
  }
  Amount result = down;
  if (go_up) check(add(result, scale));
  result.negative = negative;
  store(v, result, v.money_currency());
  return &v;
}

// Uniform in 0 ... |value|: digits drawn for the value's length, redrawn while above it.
Cell* mn_random(ActionCall& call) {
  Cell& v = call.result();
  if (call.has(0)) {  // /seed
    const auto w = v.raw_words();
    random::seed(int32_t(w[0] ^ w[1] ^ w[2] ^ uint32_t(v.money_negative())));
    v = make_unset();
    return &v;
  }
  const bool secure = call.has(1);
  const Amount bound = amount_of(v);
  const int first = kDigits - significant_digits(bound);
  Amount r;
  do {
    r = Amount{};
    for (int i = first; i < kDigits; i++) r.digit[i] = uint8_t(random::integer_upto(secure, 10) - 1);
  } while (compare_magnitudes(r, bound) > 0);
  r.negative = bound.negative;
  store(v, r, v.money_currency());
  return &v;
}

// ---- the hooks' entries ----

Cell hook_from_float(double d, bool strict) { return from_float(d, strict); }
int32_t hook_sign(const Cell& v) { return sign_of(amount_of(v)); }
bool hook_float_underflow(double d) { return d <= -1e17; }
bool hook_float_overflow(double d) { return d >= 1e17; }

// The text grammar's pieces made into an amount: integer digits right-aligned to the point, at
// most 17 of them and at most 5 fraction digits ("'" skipped); a known currency code.
bool make_from_parts(Cell& target, const char* text, bool negative, int32_t currency, int32_t start,
                     int32_t point, int32_t end) {
  uint8_t index = 0;
  if (currency >= 0) {
    const uint32_t sym = symbol::intern(std::string_view(text + currency, 3));
    const int32_t i = currency_index(sym);
    if (i < 0) return false;
    Cell word{};
    word.set_header(TYPE_WORD);
    word.set_word(0, sym, 0xFFFFFFFFu);
    index = storable_currency(i, word);
  }
  const int32_t whole_end = point >= 0 ? point : end;
  std::string digits;
  for (int32_t i = start + 1; i < whole_end; i++)
    if (text[i] != '\'') digits.push_back(text[i]);
  if (point >= 0) {
    if (end - point - 1 > kFracDigits) return false;
    digits.push_back('.');
    digits.append(text + point + 1, size_t(end - point - 1));
  }
  Amount a;
  if (!from_plain_text(digits, a)) return false;
  a.negative = negative;
  store(target, a, index);
  return true;
}

}  // namespace

Amount amount_of(const Cell& c) {
  Amount a;
  for (int i = 0; i < kDigits / 2; i++) {
    const uint8_t b = c.money_digit_byte(uint32_t(i));
    a.digit[2 * i] = b >> 4;
    a.digit[2 * i + 1] = b & 15;
  }
  a.negative = c.money_negative();
  return a;
}

void store(Cell& target, const Amount& a, uint8_t currency) {
  target.set_header(TYPE_MONEY);
  target.set_raw_words(0, 0, 0);
  target.set_money_currency(currency);
  for (int i = 0; i < kDigits / 2; i++)
    target.set_money_digit_byte(uint32_t(i), uint8_t(a.digit[2 * i] << 4 | a.digit[2 * i + 1]));
  target.set_money_negative(a.negative && !is_zero(a));
}

Cell make(const Amount& a, uint8_t currency) {
  Cell c{};
  store(c, a, currency);
  return c;
}

int32_t currency_index(uint32_t sym) {
  const Cell* list = currency_list();
  if (!list) return -1;
  const uint32_t canonical = symbol::canonical_id(sym);
  SeriesCells words = series_cells(*list);
  for (size_t i = 0; i < words.length; i++)
    if (words.cells[i].is(TYPE_WORD) && symbol::canonical_id(words.cells[i].word_symbol()) == canonical)
      return int32_t(i + 1);
  return -1;
}

Cell from_integer(int32_t n) { return make(amount_of_integer(n)); }

Cell from_float(double d, bool strict) { return make(float_to_amount(d, strict)); }

int32_t to_integer(const Cell& v) {
  int32_t n = 0;
  if (!to_int32(amount_of(v), n)) fire_typed(Err::script_type_limit, TYPE_INTEGER);
  return n;
}

double to_float(const Cell& v) {
  Amount a = amount_of(v);
  if (is_zero(a)) return 0.0;
  const bool negative = a.negative;
  a.negative = false;
  const std::string text = plain_text(a, kFracDigits);
  size_t unread = 0;
  const double d = dtoa::text_to_float(text.data(), text.data() + text.size(), 0, &unread);
  if (unread != 0) {
    Cell value = v;
    fire_typed(Err::script_bad_make_arg, TYPE_FLOAT, &value);
  }
  return negative ? -d : d;
}

namespace {

// An amount as a signed count of units (0.00001) when its magnitude has at most 18 digits (the
// first four of the 22 are zero), or an integer as that many whole units; false for anything else.
bool small_units(const Cell& c, int64_t& units) {
  if (c.is(TYPE_INTEGER)) {
    units = int64_t(c.int_value()) * 100000;
    return true;
  }
  if (!c.is(TYPE_MONEY) || c.money_digit_byte(0) || c.money_digit_byte(1)) return false;
  // Unrolled, so that each byte is read from its payload word directly.
  int64_t v = [&]<uint32_t... I>(std::integer_sequence<uint32_t, I...>) {
    int64_t n = 0;
    ((n = n * 100 + (c.money_digit_byte(I + 2) >> 4) * 10 + (c.money_digit_byte(I + 2) & 15)), ...);
    return n;
  }(std::make_integer_sequence<uint32_t, kDigits / 2 - 2>{});
  units = c.money_negative() ? -v : v;
  return true;
}

void store_units(Cell& target, int64_t units, uint8_t currency) {
  target.set_header(TYPE_MONEY);
  target.set_raw_words(0, 0, 0);
  target.set_money_currency(currency);
  uint64_t m = units < 0 ? uint64_t(0) - uint64_t(units) : uint64_t(units);
  [&]<uint32_t... I>(std::integer_sequence<uint32_t, I...>) {
    auto put = [&](uint32_t i) {
      const uint32_t two = uint32_t(m % 100);
      m /= 100;
      target.set_money_digit_byte(i, uint8_t((two / 10) << 4 | two % 10));
    };
    (put(kDigits / 2 - 1 - I), ...);  // the last byte first
  }(std::make_integer_sequence<uint32_t, kDigits / 2>{});
  target.set_money_negative(units < 0);
}

// The sums, and products and quotients by an integer, of amounts that fit in 64 bits: the same
// values as the digit kernel's, which takes everything else (and every fault). False when the
// operands are not of that kind.
bool small_math(Cell& left, const Cell& right, MathOp op) {
  int64_t a, b, r;
  if (!left.is(TYPE_MONEY) && !right.is(TYPE_MONEY)) return false;
  if (!small_units(left, a) || !small_units(right, b)) return false;
  const uint8_t ca = left.is(TYPE_MONEY) ? left.money_currency() : 0;
  const uint8_t cb = right.is(TYPE_MONEY) ? right.money_currency() : 0;
  if (!compatible(ca, cb)) return false;
  switch (op) {
    case OP_ADD: r = a + b; break;  // both below 10^18: no overflow, and within the 22 digits
    case OP_SUBTRACT: r = a - b; break;
    case OP_MULTIPLY:
      // One side is an integer (two amounts do not multiply): its units are whole.
      if (__builtin_mul_overflow(left.is(TYPE_INTEGER) ? a / 100000 : a,
                                 right.is(TYPE_INTEGER) ? b / 100000 : b, &r))
        return false;
      break;
    case OP_DIVIDE:
      // An amount by a non-zero integer: truncated toward zero after the fifth decimal.
      if (!left.is(TYPE_MONEY) || !right.is(TYPE_INTEGER) || b == 0) return false;
      r = a / (b / 100000);
      break;
    default: return false;
  }
  store_units(left, r, cb ? cb : ca);
  return true;
}

}  // namespace

Cell* do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  const Cell right = call.arg(1);
  const TypeId lt = left.type(), rt = right.type();
  if ((op == OP_MULTIPLY && lt == TYPE_MONEY && rt == TYPE_MONEY) ||
      ((op == OP_DIVIDE || op == OP_REMAINDER) && lt != TYPE_MONEY && rt == TYPE_MONEY))
    fire_typed(Err::script_invalid_type, lt);
  if (small_math(left, right, op)) return &left;
  auto operand = [](const Cell& c, uint8_t& currency) -> Amount {
    currency = 0;
    switch (c.type()) {
      case TYPE_MONEY:
        currency = c.money_currency();
        return amount_of(c);
      case TYPE_INTEGER:
        return amount_of_integer(c.int_value());
      case TYPE_FLOAT:
      case TYPE_PERCENT:
        return float_to_amount(c.float_value(), false);
      default:
        fire_typed(Err::script_invalid_type, c.type());
    }
  };
  uint8_t ca, cb;
  Amount a = operand(left, ca);
  const Amount b = operand(right, cb);
  if (!compatible(ca, cb)) fire(Err::script_wrong_denom, &left, &right);
  const uint8_t currency = cb ? cb : ca;
  switch (op) {
    case OP_ADD: check(add(a, b)); break;
    case OP_SUBTRACT: check(subtract(a, b)); break;
    case OP_MULTIPLY: check(multiply(a, b)); break;
    case OP_DIVIDE: check(divide(a, b)); break;
    case OP_REMAINDER: check(remainder(a, b)); break;
    default: fire_typed(Err::script_invalid_type, lt);
  }
  store(left, a, currency);
  if (op == OP_DIVIDE && lt == TYPE_MONEY && rt == TYPE_MONEY) set_float(left, to_float(left));
  return &left;
}

int32_t compare(const Cell& m, const Cell& other, CompareOp op) {
  const Amount a = amount_of(m);
  switch (other.type()) {
    case TYPE_MONEY: {
      const uint8_t ca = m.money_currency(), cb = other.money_currency();
      switch (op) {
        case COMP_LESSER:
        case COMP_LESSER_EQUAL:
        case COMP_GREATER:
        case COMP_GREATER_EQUAL:
          if (!compatible(ca, cb)) fire(Err::script_wrong_denom, &m, &other);
          break;
        case COMP_SORT:
        case COMP_CASE_SORT:
          if (ca != cb) {
            // No code before any code; codes in the order of their words.
            if (!ca || !cb) return ca ? 1 : -1;
            const Cell* wa = currency_word(ca);
            const Cell* wb = currency_word(cb);
            if (wa && wb) {
              const int c = symbol::name(wa->word_symbol()).compare(symbol::name(wb->word_symbol()));
              if (c) return c < 0 ? -1 : 1;
            }
            return ca < cb ? -1 : 1;
          }
          break;
        case COMP_STRICT_EQUAL:
        case COMP_SAME:
          if (ca != cb) return 1;
          break;
        case COMP_FIND:
          if (cb ? ca != cb : !compatible(ca, cb)) return 1;
          break;
        default:
          if (!compatible(ca, cb)) return 1;
          break;
      }
      return money::compare(a, amount_of(other));
    }
    case TYPE_INTEGER:
      if (op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) return 1;
      return money::compare(a, amount_of_integer(other.int_value()));
    case TYPE_FLOAT:
    case TYPE_PERCENT: {
      if (op == COMP_STRICT_EQUAL || op == COMP_SAME || op == COMP_FIND) return 1;
      // By value: a float beyond the amounts lies beyond every amount, and one with more than five
      // decimals lies past its truncation, away from zero.
      const double x = other.float_value();
      if (std::isnan(x)) return is_equality_op(op) ? 1 : kCannotCompare;
      Amount b;
      const FloatFit fit = float_amount(x, b);
      if (fit == FloatFit::out_of_range) return x > 0 ? -1 : 1;
      const int c = money::compare(a, b);
      if (c != 0 || fit == FloatFit::exact) return c;
      return x > 0 ? -1 : 1;
    }
    default:
      return kCannotCompare;
  }
}

void register_type() {
  register_type(TYPE_MONEY, TYPE_NONE_ID, "money!",
                HandlerRow()
                    .set(ActionIndex::make, &mn_make)
                    .set(ActionIndex::random, &mn_random)
                    .set(ActionIndex::to, &mn_to)
                    .set(ActionIndex::form, &mn_form)
                    .set(ActionIndex::mold, &mn_mold)
                    .set(ActionIndex::eval_path, &mn_eval_path)
                    .set(ActionIndex::compare, &compare)
                    .set(ActionIndex::absolute, &mn_absolute)
                    .set(ActionIndex::add, &mn_math<OP_ADD>)
                    .set(ActionIndex::divide, &mn_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &mn_math<OP_MULTIPLY>)
                    .set(ActionIndex::negate, &mn_negate)
                    .set(ActionIndex::remainder, &mn_math<OP_REMAINDER>)
                    .set(ActionIndex::round, &mn_round)
                    .set(ActionIndex::subtract, &mn_math<OP_SUBTRACT>)
                    .set(ActionIndex::even_q, &mn_even)
                    .set(ActionIndex::odd_q, &mn_odd)
                    .set(ActionIndex::pick, &mn_pick));
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.money_do_math.fn = &do_math;
  hooks.money_compare.fn = &compare;
  hooks.money_to_integer.fn = &to_integer;
  hooks.money_to_float.fn = &to_float;
  hooks.money_from_integer.fn = &from_integer;
  hooks.money_from_float.fn = &hook_from_float;
  hooks.money_sign.fn = &hook_sign;
  hooks.money_float_underflow.fn = &hook_float_underflow;
  hooks.money_float_overflow.fn = &hook_float_overflow;
  hooks.money_make_from_parts.fn = &make_from_parts;
}

}  // namespace zem::money
