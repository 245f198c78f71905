// tuple!: construction, saturating arithmetic, comparison, series-like actions, paths and text.
#include "datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/scalar_path.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/symbol.h"
#include "evaluator/number_text.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "evaluator/rt_entries.h"
#include "services/random.h"

namespace zem {
namespace tuple {

namespace {

[[noreturn]] void fire_typed(Err e, const Cell* first, TypeId t) {
  Cell type = datatype_cell(t);
  if (first) fire(e, first, &type);
  fire(e, &type);
}

[[noreturn]] void bad_to(const Cell& spec) {
  Cell type = datatype_cell(TYPE_TUPLE);
  fire(Err::script_bad_to_arg, &type, &spec);
}

uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255)); }

// A double truncated toward zero and clamped to 0..255; NaN counts as 0.
uint8_t clamp_double(double d) {
  if (std::isnan(d) || d <= 0) return 0;
  if (d >= 255) return 255;
  return static_cast<uint8_t>(d);
}

// Answers a value for the interpreter to copy (path reads).
Cell* answer(const Cell& v) {
  static Cell out;
  out = v;
  return &out;
}

}  // namespace

Cell make(uint32_t count, const uint8_t* bytes) {
  Cell c{};
  c.set_header(TYPE_TUPLE);
  c.set_raw_words(0, 0, 0);
  count = std::min(count, kMaxCount);
  c.set_tuple_count(std::max(count, kMinCount));
  for (uint32_t i = 0; i < count; i++) c.set_tuple_at(i, bytes[i]);
  return c;
}

Cell from_ints(uint32_t count, const int32_t* values) {
  uint8_t bytes[kMaxCount] = {};
  count = std::min(count, kMaxCount);
  for (uint32_t i = 0; i < count; i++) bytes[i] = static_cast<uint8_t>(values[i]);
  return make(std::max(count, kMinCount), bytes);
}

Cell rgba(int32_t r, int32_t g, int32_t b, int32_t alpha) {
  const uint8_t bytes[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(alpha)};
  return make(alpha == -1 ? 3 : 4, bytes);
}

Cell from_issue(const Cell& issue) {
  SeriesUnits name = issue_name_units(issue);
  int digits[8];
  bool ok = name.length == 3 || name.length == 6 || name.length == 8;
  for (size_t i = 0; ok && i < name.length; i++) {
    // A code point of 128 or more is no digit (never taken modulo 128).
    uint32_t c = code_unit_at(name.data, i, name.unit);
    digits[i] = c < 128 ? hex_digit_value(c) : -1;
    ok = digits[i] >= 0;
  }
  if (!ok) fire(Err::script_invalid_data, &issue);
  uint8_t bytes[4];
  uint32_t count;
  if (name.length == 3) {
    for (int i = 0; i < 3; i++) bytes[i] = uint8_t(digits[i] * 17);
    count = 3;
  } else {
    count = uint32_t(name.length / 2);
    for (uint32_t i = 0; i < count; i++) bytes[i] = uint8_t(digits[2 * i] * 16 + digits[2 * i + 1]);
  }
  return make(count, bytes);
}

Cell from_binary(const Cell& binary) {
  SeriesUnits b = series_units(binary);
  uint8_t bytes[kMaxCount] = {};
  uint32_t n = uint32_t(std::min<size_t>(b.length, kMaxCount));
  for (uint32_t i = 0; i < n; i++) bytes[i] = static_cast<const uint8_t*>(b.data)[i];
  return make(std::max(n, kMinCount), bytes);
}

bool zero(const Cell& t) {
  for (uint32_t i = 0; i < t.tuple_count(); i++)
    if (t.tuple_at(i) != 0) return false;
  return true;
}

int32_t compare(const Cell& a, const Cell& b, CompareOp) {
  if (!b.is(TYPE_TUPLE)) return kCannotCompare;
  const uint32_t na = a.tuple_count(), nb = b.tuple_count();
  for (uint32_t i = 0; i < std::max(na, nb); i++) {
    const uint32_t x = i < na ? a.tuple_at(i) : 0, y = i < nb ? b.tuple_at(i) : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

Cell* do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  Cell& right = call.arg(1);
  if (!left.is(TYPE_TUPLE)) {
    // Only the operations that commute take the tuple second.
    if (op == OP_SUBTRACT || op == OP_DIVIDE || op == OP_REMAINDER) {
      Cell word = op == OP_SUBTRACT ? fixed.word.subtract
                  : op == OP_DIVIDE  ? fixed.word.divide
                                     : make_word_cell(symbol::intern_c_name("remainder"), 0);
      fire_typed(Err::script_not_related, &word, left.type());
    }
    std::swap(left, right);
  }
  const TypeId rt = right.type();
  const uint32_t count = left.tuple_count();
  if (rt == TYPE_FLOAT || rt == TYPE_PERCENT) {
    const double f = right.float_value();
    Cell out = left;
    for (uint32_t i = 0; i < count; i++) {
      NumFault fault = NumFault::none;
      double r = float_apply(double(left.tuple_at(i)), f, op, fault);
      if (fault != NumFault::none) {
        Cell word = call.word ? *call.word : make_none();
        fire_typed(Err::script_cannot_use, &word, rt);
      }
      out.set_tuple_at(i, clamp_double(r));
    }
    left = out;
    return &left;
  }
  if (rt != TYPE_INTEGER && rt != TYPE_TUPLE) fire_typed(Err::script_invalid_type, nullptr, rt);
  const uint32_t n = rt == TYPE_TUPLE ? std::max(count, right.tuple_count()) : count;
  Cell out = left;
  out.set_tuple_count(n);
  for (uint32_t i = 0; i < n; i++) {
    const int32_t l = i < count ? left.tuple_at(i) : 0;
    const int32_t r = rt == TYPE_INTEGER ? right.int_value()
                      : i < right.tuple_count() ? right.tuple_at(i)
                                                : 0;
    IntResult res = integer_apply(l, r, op, false);
    if (res.fault == NumFault::zero_divide) fire_num_fault(res.fault);
    int64_t v = res.value;
    if (res.promoted) v = res.real > 0 ? 255 : 0;
    out.set_tuple_at(i, clamp_byte(v));
  }
  left = out;
  return &left;
}

namespace {

Cell tuple_from_block(const Cell& spec) {
  SeriesCells items = series_cells(spec);
  if (items.length > kMaxCount) bad_to(spec);
  uint8_t bytes[kMaxCount] = {};
  for (size_t i = 0; i < items.length; i++) {
    const Cell& e = items.cells[i];
    double v;
    if (e.is(TYPE_INTEGER) || e.is(TYPE_CHAR)) v = e.int_value();
    else if (e.is(TYPE_FLOAT)) v = std::trunc(e.float_value());
    else bad_to(spec);
    if (!(v >= 0 && v <= 255)) bad_to(spec);
    bytes[i] = uint8_t(v);
  }
  return make(std::max<uint32_t>(uint32_t(items.length), kMinCount), bytes);
}

Cell* tup_make(ActionCall& call) {
  const Cell spec = call.arg(1);
  Cell& result = call.result();
  switch (spec.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      result = tuple_from_block(spec);
      return &result;
    case TYPE_STRING:
    case TYPE_FILE:
    case TYPE_URL:
    case TYPE_TAG:
    case TYPE_EMAIL:
    case TYPE_REF: {
      Cell v = rt::load_value(spec);
      if (!v.is(TYPE_TUPLE)) bad_to(spec);
      result = v;
      return &result;
    }
    case TYPE_ISSUE:
      result = from_issue(spec);
      return &result;
    case TYPE_TUPLE:
      result = spec;
      return &result;
    case TYPE_BINARY:
      result = from_binary(spec);
      return &result;
    default:
      bad_to(spec);
  }
}

std::string text_of(const Cell& t) {
  std::string s;
  for (uint32_t i = 0; i < t.tuple_count(); i++) {
    if (i) s.push_back('.');
    s += std::to_string(t.tuple_at(i));
  }
  return s;
}

int32_t tup_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string s = text_of(value);
  out.append_ascii(s);
  return limit - int32_t(s.size());
}

int32_t tup_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return tup_form(value, out, part, limit);
}

Cell* tup_pick_at(const Cell& t, const Cell& index) {
  if (!index.is(TYPE_INTEGER)) fire_typed(Err::script_invalid_type, nullptr, index.type());
  const int32_t i = index.int_value();
  if (i < 1 || uint32_t(i) > t.tuple_count()) fire(Err::script_out_of_range, &index);
  return answer(make_integer(t.tuple_at(uint32_t(i - 1))));
}

Cell* tup_eval_path(PathStep& step) {
  Cell& t = *step.value;
  const Cell index = *step.element;
  if (!index.is(TYPE_INTEGER)) fire_typed(Err::script_invalid_type, nullptr, index.type());
  if (!step.set_value) return tup_pick_at(t, index);
  const Cell value = *step.set_value;
  if (!value.is(TYPE_INTEGER) && !value.is(TYPE_NONE)) fire_typed(Err::script_invalid_type, nullptr, value.type());
  const int32_t i = index.int_value();
  if (i < 1 || uint32_t(i) > t.tuple_count()) fire(Err::script_out_of_range, &index);
  if (value.is(TYPE_INTEGER)) {
    t.set_tuple_at(uint32_t(i - 1), clamp_byte(value.int_value()));
  } else {
    for (uint32_t k = uint32_t(i - 1); k < kMaxCount; k++) t.set_tuple_at(k, 0);
    t.set_tuple_count(std::max<uint32_t>(kMinCount, uint32_t(i - 1)));
  }
  write_back_scalar(step);
  return answer(value);
}

Cell* tup_pick(ActionCall& call) { return tup_pick_at(call.result(), call.arg(1)); }

Cell* tup_random(ActionCall& call) {
  Cell& t = call.result();
  if (call.has(0)) {  // /seed
    auto w = t.raw_words();
    random::seed(int32_t(w[0] ^ w[1] ^ w[2]));
    t = make_unset();
    return &t;
  }
  const bool secure = call.has(1);
  for (uint32_t i = 0; i < t.tuple_count(); i++)
    t.set_tuple_at(i, uint8_t(random::integer_upto(secure, t.tuple_at(i) + 1) - 1));
  return &t;
}

Cell* tup_reverse(ActionCall& call) {
  Cell& t = call.result();
  const uint32_t count = t.tuple_count();
  uint32_t n = count;
  if (const Cell* part = call.refinement_arg(0)) {
    if (!part->is(TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, &fixed.ref.part, part);
    if (part->int_value() < 0) fire(Err::script_out_of_range, part);
    n = std::min(count, uint32_t(part->int_value()));
  }
  uint8_t bytes[kMaxCount];
  for (uint32_t i = 0; i < count; i++) bytes[i] = t.tuple_at(i);
  if (const Cell* skip = call.refinement_arg(1)) {
    if (!skip->is(TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, &fixed.ref.skip, skip);
    const int32_t s = skip->int_value();
    if (s < 1) fire(Err::script_out_of_range, skip);
    if (uint32_t(s) == n) return &t;
    if (uint32_t(s) > n || n % uint32_t(s) != 0) fire(Err::script_invalid_refine_arg, &fixed.ref.skip, skip);
    const uint32_t groups = n / uint32_t(s);
    for (uint32_t g = 0; g < groups; g++)
      for (uint32_t k = 0; k < uint32_t(s); k++) t.set_tuple_at(g * s + k, bytes[(groups - 1 - g) * s + k]);
    return &t;
  }
  for (uint32_t i = 0; i < n; i++) t.set_tuple_at(i, bytes[n - 1 - i]);
  return &t;
}

Cell* tup_complement(ActionCall& call) {
  Cell& t = call.result();
  for (uint32_t i = 0; i < t.tuple_count(); i++) t.set_tuple_at(i, uint8_t(~t.tuple_at(i)));
  return &t;
}

Cell* tup_length(ActionCall& call) {
  Cell& t = call.result();
  t = make_integer(int32_t(t.tuple_count()));
  return &t;
}

template <MathOp Op>
Cell* tup_math(ActionCall& call) {
  return do_math(call, Op);
}

}  // namespace

void register_type() {
  register_type(TYPE_TUPLE, TYPE_NONE_ID, "tuple!",
                HandlerRow()
                    .set(ActionIndex::make, &tup_make)
                    .set(ActionIndex::random, &tup_random)
                    .set(ActionIndex::to, &tup_make)
                    .set(ActionIndex::form, &tup_form)
                    .set(ActionIndex::mold, &tup_mold)
                    .set(ActionIndex::eval_path, &tup_eval_path)
                    .set(ActionIndex::compare, &compare)
                    .set(ActionIndex::add, &tup_math<OP_ADD>)
                    .set(ActionIndex::divide, &tup_math<OP_DIVIDE>)
                    .set(ActionIndex::multiply, &tup_math<OP_MULTIPLY>)
                    .set(ActionIndex::remainder, &tup_math<OP_REMAINDER>)
                    .set(ActionIndex::subtract, &tup_math<OP_SUBTRACT>)
                    .set(ActionIndex::and_t, &tup_math<OP_AND>)
                    .set(ActionIndex::complement, &tup_complement)
                    .set(ActionIndex::or_t, &tup_math<OP_OR>)
                    .set(ActionIndex::xor_t, &tup_math<OP_XOR>)
                    .set(ActionIndex::length_q, &tup_length)
                    .set(ActionIndex::pick, &tup_pick)
                    .set(ActionIndex::reverse, &tup_reverse));
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.tuple_do_math.fn = &do_math;
  hooks.tuple_compare.fn = &compare;
  hooks.tuple_zero.fn = &zero;
  hooks.tuple_make.fn = &make;
}

}  // namespace tuple
}  // namespace zem
