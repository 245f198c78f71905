// time!: fields, text, arithmetic, construction and path setters of durations in seconds.
#include "datatypes/time.h"

#include <charconv>
#include <cmath>
#include <string>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/number_text.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/unicode.h"
#include "runtime/wiring.h"

namespace zem::times {

int32_t hour_of(double s) {
  NumFault fault = NumFault::none;
  int32_t h = float_truncate(std::trunc(s / 3600), fault);
  if (fault != NumFault::none) {
    Cell type = datatype_cell(TYPE_INTEGER);
    fire(Err::script_type_limit, &type);
  }
  return h;
}

int32_t minute_of(double s) { return int32_t(std::floor(std::fmod(std::fabs(s), 3600) / 60)); }

double second_of(double s) { return std::fmod(s, 60); }

int field_of_symbol(uint32_t sym) {
  uint32_t c = symbol::canonical_id(sym);
  if (c == symbol::canonical_id(fixed.sym.hour)) return 1;
  if (c == symbol::canonical_id(fixed.sym.minute)) return 2;
  if (c == symbol::canonical_id(fixed.sym.second)) return 3;
  return 0;
}

Cell field_value(double s, int field) {
  if (field == 1) return make_integer(hour_of(s));
  if (field == 2) return make_integer(minute_of(s));
  return make_float(second_of(s));
}

double with_field(double s, int field, const Cell& value) {
  bool integer = value.is(TYPE_INTEGER);
  if (!integer && !(field == 3 && value.is(TYPE_FLOAT))) fire(Err::script_invalid_arg, &value);
  if (field == 3) {
    // The second reads with the sign of s: put the new one in place of it.
    double v = integer ? double(value.int_value()) : value.float_value();
    return s - std::fmod(s, 60) + v;
  }
  const bool negative = std::signbit(s);
  const double a = std::fabs(s);
  const double minutes_and_seconds = std::fmod(a, 3600);
  const double hours = (a - minutes_and_seconds) / 3600;
  const int64_t v = value.int_value();
  if (field == 1) {
    double m = double(v < 0 ? -v : v) * 3600 + minutes_and_seconds;
    return (v != 0 ? v < 0 : negative) ? -m : m;
  }
  const double seconds = std::fmod(a, 60);
  double m = hours * 3600 + double(v) * 60 + seconds;
  return negative ? -m : m;
}

namespace {

std::string whole_number_text(double d) {
  char buf[400];
  auto r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 0);
  return std::string(buf, r.ptr);
}

}  // namespace

std::string text(double s) {
  if (!std::isfinite(s)) return float_to_text(s, FLOAT_TEXT_TIME);
  std::string out;
  if (s < 0) out.push_back('-');
  const double a = std::fabs(s);
  double sec = std::fmod(a, 60);
  double minutes = std::round((a - sec) / 60);
  std::string sec_text = "00";
  if (sec >= kTolerance) {
    sec_text = float_to_text(sec, FLOAT_TEXT_TIME);
    double shown = 0;
    std::from_chars(sec_text.data(), sec_text.data() + sec_text.size(), shown);
    if (shown >= 60) {  // 59.9999999 prints as 60: it is the next minute
      minutes += 1;
      sec_text = "00";
    } else if (sec_text.size() == 1 || sec_text[1] == '.') {
      sec_text.insert(0, "0");
    }
  }
  double hours = std::floor(minutes / 60);
  // Beyond 2^53 minutes the remainder is lost to rounding and may leave 0..59 (or int's range).
  const double rest = minutes - hours * 60;
  int m = rest >= 0 && rest < 60 ? int(rest) : 0;
  out += whole_number_text(hours);
  out.push_back(':');
  out.push_back(char('0' + m / 10));
  out.push_back(char('0' + m % 10));
  out.push_back(':');
  out += sec_text;
  return out;
}

Cell load_text_value(const Cell& text) {
  Cell s = text;
  int32_t length = -1;
  const char* utf8 = unicode::string_to_utf8(s, &length);
  std::string copy(utf8, size_t(length));  // the scan may move the cached buffer
  return wiring.load_first ? wiring.load_first(copy) : make_none();
}

void store_back(const PathStep& step) {
  const Cell value = *step.value;
  if (step.previous) {
    PathHandler h = path_handler(step.previous->type());
    if (!h || !step.previous_element) return;
    Cell element = *step.previous_element;
    PathStep up;
    up.value = step.previous;
    up.element = &element;
    up.set_value = &value;
    up.path = step.path;
    up.index = step.index - 1;
    up.last = true;
    h(up);
    return;
  }
  if (step.previous_element && word::is_plain_kind(step.previous_element->type())) {
    Cell w = word::retyped(*step.previous_element, TYPE_WORD);
    word::set_checked(w, value);
  }
}

namespace {

[[noreturn]] void bad_to_arg(const Cell& spec) {
  Cell type = datatype_cell(TYPE_TIME);
  fire(Err::script_bad_to_arg, &type, &spec);
}

[[noreturn]] void not_related(const Cell& word, TypeId t) {
  Cell type = datatype_cell(t);
  fire(Err::script_not_related, &word, &type);
}

double from_block(const Cell& spec) {
  SeriesCells block = series_cells(spec);
  if (block.length < 1 || block.length > 3) bad_to_arg(spec);
  double parts[3] = {0, 0, 0};
  for (size_t i = 0; i < block.length; i++) {
    const Cell& c = block.cells[i];
    if (c.is(TYPE_INTEGER)) parts[i] = c.int_value();
    else if (i == 2 && c.is(TYPE_FLOAT)) parts[i] = c.float_value();
    else bad_to_arg(spec);
    if (i > 0 && parts[i] < 0) bad_to_arg(spec);
  }
  double m = std::fabs(parts[0]) * 3600 + parts[1] * 60 + parts[2];
  return parts[0] < 0 ? -m : m;
}

double from_text(const Cell& spec) {
  Cell loaded = load_text_value(spec);
  if (!loaded.is(TYPE_TIME)) bad_to_arg(spec);
  return loaded.float_value();
}

Cell* tm_make(ActionCall& call) {
  const Cell spec = call.arg(1);
  double s;
  switch (spec.type()) {
    case TYPE_TIME:
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      s = spec.float_value();
      break;
    case TYPE_INTEGER:
      s = spec.int_value();
      break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      s = from_block(spec);
      break;
    default:
      if (!str::is_text_type(spec.type())) bad_to_arg(spec);
      s = from_text(spec);
      break;
  }
  call.result() = make(s);
  return &call.result();
}

int32_t tm_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string t = text(value.float_value());
  out.append_ascii(t);
  return limit - int32_t(t.size());
}

int32_t tm_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return tm_form(value, out, part, limit);
}

int field_of_element(const Cell& element) {
  if (element.is(TYPE_INTEGER)) {
    int32_t i = element.int_value();
    return i >= 1 && i <= 3 ? i : 0;
  }
  if (word::is_plain_kind(element.type())) return field_of_symbol(element.word_symbol());
  return 0;
}

Cell* tm_eval_path(PathStep& step) {
  Cell& value = *step.value;
  int field = field_of_element(*step.element);
  if (!field) fire(Err::script_invalid_path, step.path, step.element);
  if (!step.set_value) {
    value = field_value(value.float_value(), field);
    return &value;
  }
  value.set_float_payload(with_field(value.float_value(), field, *step.set_value));
  store_back(step);
  return step.value;
}

Cell* tm_pick(ActionCall& call) {
  const Cell index = call.arg(1);
  int field = field_of_element(index);
  if (!field) fire(Err::script_out_of_range, &index);
  call.result() = field_value(call.result().float_value(), field);
  return &call.result();
}

Cell* tm_add(ActionCall& call) {
  if (call.arg(1).is(TYPE_DATE)) {
    std::swap(call.result(), call.arg(1));
    return further_type_hooks().date_do_math(call, OP_ADD);
  }
  return float_do_math(call, OP_ADD);
}

Cell* tm_subtract(ActionCall& call) {
  if (call.arg(1).is(TYPE_DATE)) not_related(fixed.word.subtract, TYPE_TIME);
  return float_do_math(call, OP_SUBTRACT);
}

Cell* tm_multiply(ActionCall& call) {
  if (call.arg(1).is(TYPE_TIME)) not_related(fixed.word.multiply, TYPE_TIME);
  return float_do_math(call, OP_MULTIPLY);
}

Cell* tm_divide(ActionCall& call) {
  const bool by_time = call.arg(1).is(TYPE_TIME);
  Cell* r = float_do_math(call, OP_DIVIDE);
  if (by_time) r->set_type(TYPE_FLOAT);  // time / time is a plain number
  return r;
}

Cell* tm_round(ActionCall& call) {
  Cell* r = float_round_action(call);
  if (r->is(TYPE_INTEGER)) set_float(*r, double(r->int_value()));
  r->set_type(TYPE_TIME);
  return r;
}

// Whole seconds within the minute, after moving s away from zero by the tolerance.
bool whole_second_even(double s) {
  s += s >= 0 ? kTolerance : -kTolerance;
  return std::fmod(std::trunc(std::fmod(s, 60)), 2) == 0;
}

Cell* tm_even(ActionCall& call) { return answer_logic(whole_second_even(call.result().float_value())); }
Cell* tm_odd(ActionCall& call) { return answer_logic(!whole_second_even(call.result().float_value())); }

}  // namespace

void register_time() {
  register_type(TYPE_TIME, TYPE_FLOAT, "time!",
                HandlerRow()
                    .set(ActionIndex::make, &tm_make)
                    .set(ActionIndex::random, kInherit)
                    .set(ActionIndex::to, &tm_make)
                    .set(ActionIndex::form, &tm_form)
                    .set(ActionIndex::mold, &tm_mold)
                    .set(ActionIndex::eval_path, &tm_eval_path)
                    .set(ActionIndex::compare, kInherit)
                    .set(ActionIndex::absolute, kInherit)
                    .set(ActionIndex::add, &tm_add)
                    .set(ActionIndex::divide, &tm_divide)
                    .set(ActionIndex::multiply, &tm_multiply)
                    .set(ActionIndex::negate, kInherit)
                    .set(ActionIndex::remainder, kInherit)
                    .set(ActionIndex::round, &tm_round)
                    .set(ActionIndex::subtract, &tm_subtract)
                    .set(ActionIndex::even_q, &tm_even)
                    .set(ActionIndex::odd_q, &tm_odd)
                    .set(ActionIndex::pick, &tm_pick));
}

}  // namespace zem::times
