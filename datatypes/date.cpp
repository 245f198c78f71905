// date!: the packed date word, its fields and setters, construction, text, comparison and arithmetic.
#include "datatypes/date.h"

#include <cassert>
#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/calendar.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/number_text.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "datatypes/fixed_words.h"
#include "runtime/unicode.h"
#include "services/random.h"

namespace zem::dates {

namespace cal = calendar;

uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone_bits, bool time_flag) {
  return static_cast<uint32_t>(year) << 17 | uint32_t(month & 15) << 12 | uint32_t(day & 31) << 7 |
         (zone_bits & cal::kZoneMask) | (time_flag ? kTimeFlag : 0);
}

Cell make(uint32_t date_word, double time) {
  Cell c{};
  c.set_header(TYPE_DATE);
  c.set_date_word(date_word);
  c.set_float_payload(time);
  return c;
}

Cell* push(uint32_t date_word, double time) { return stack::push_value(make(date_word, time)); }

void append_new(const Cell& block, uint32_t date_word, double time) {
  block::append_cell(block, make(date_word, time));
}

namespace {

constexpr int32_t kMinYear = -16384, kMaxYear = 16383;

[[noreturn]] void fire_type_limit(TypeId t) {
  Cell type = datatype_cell(t);
  fire(Err::script_type_limit, &type);
}

// The parts of a date taken apart: day number, stored time, zone bits, time flag.
struct Parts {
  int64_t n = 0;
  double t = 0;
  uint32_t zone = 0;
  bool timed = false;
};

Parts parts_of(const Cell& d) {
  uint32_t w = d.date_word();
  return {cal::to_days(year_of(w), month_of(w), day_of(w)), d.float_value(), zone_of(w), has_time(w)};
}

// Keeps 0 <= t + offset < 86400 by moving whole days between t and n.
void normalize(int64_t& n, double& t, uint32_t zone) {
  if (!std::isfinite(t)) {
    Cell v = times::make(t);
    fire(Err::script_invalid_arg, &v);
  }
  const double off = cal::zone_seconds(zone);
  double k = std::floor((t + off) / 86400);
  if (std::fabs(k) > 1e8) fire_type_limit(TYPE_DATE);
  t -= k * 86400;
  n += int64_t(k);
  if (t + off < 0) {
    t += 86400;
    n -= 1;
  } else if (t + off >= 86400) {
    t -= 86400;
    n += 1;
  }
}

// Writes the parts back; a year the word cannot hold is script `type-limit`.
void store(Cell& d, Parts p) {
  if (p.timed) normalize(p.n, p.t, p.zone);
  else p.t = 0;
  cal::Ymd ymd = cal::from_days(p.n);
  if (ymd.year < kMinYear || ymd.year > kMaxYear) fire_type_limit(TYPE_DATE);
  d.set_date_word(pack(ymd.year, ymd.month, ymd.day, p.zone, p.timed));
  d.set_float_payload(p.t);
}

double local_time(const Parts& p) { return p.timed ? p.t + cal::zone_seconds(p.zone) : 0.0; }

// Sets the local time of day (any value: whole days roll into the date).
void set_local_time(Parts& p, double local) {
  p.timed = true;
  p.t = local - cal::zone_seconds(p.zone);
}

void set_month(Parts& p, int64_t v) {
  cal::Ymd ymd = cal::from_days(p.n);
  int64_t year = ymd.year + cal::floor_div(v - 1, 12);
  if (year < kMinYear || year > kMaxYear) fire_type_limit(TYPE_DATE);
  int32_t month = int32_t(cal::floor_mod(v - 1, 12) + 1);
  p.n = cal::to_days(int32_t(year), month, ymd.day);
}

// Zone bits of an integer (hours) or a time! offset; `invalid-arg` for another value.
uint32_t zone_from_value(const Cell& v) {
  if (v.is(TYPE_INTEGER)) return cal::zone_bits(v.int_value() % 16, 0);
  if (!v.is(TYPE_TIME)) fire(Err::script_invalid_arg, &v);
  double t = std::fmod(v.float_value(), 57600.0);
  int32_t minutes = times::minute_of(t);
  return cal::zone_bits(times::hour_of(t), t < 0 ? -minutes : minutes);
}

// `keep_local`: the local time stays (the instant moves); else the instant stays.
void set_zone(Parts& p, const Cell& v, bool keep_local) {
  uint32_t bits = zone_from_value(v);
  double local = local_time(p);
  if (!p.timed) {
    local = 0;
    keep_local = true;
  }
  p.zone = bits;
  p.timed = true;
  if (keep_local) set_local_time(p, local);
}

int64_t week_start(int64_t n, int64_t v) {
  int64_t j = cal::year_start(cal::from_days(n).year);
  if (v <= 1) return j;
  int64_t e = cal::floor_mod(j + 3, 7);
  return j + 7 * v - e - 7;
}

// ---- fields ----

int field_of_symbol(uint32_t sym) {
  const uint32_t c = symbol::canonical_id(sym);
  const uint32_t names[] = {fixed.sym.date,    fixed.sym.year,   fixed.sym.month,  fixed.sym.day,
                            fixed.sym.zone,    fixed.sym.time,   fixed.sym.hour,   fixed.sym.minute,
                            fixed.sym.second,  fixed.sym.weekday, fixed.sym.yearday, fixed.sym.timezone,
                            fixed.sym.week,    fixed.sym.isoweek};
  for (int i = 0; i < 14; i++)
    if (symbol::canonical_id(names[i]) == c) return i + 1;
  if (symbol::canonical_id(fixed.sym.julian) == c) return 11;
  return 0;
}

int field_of_element(const Cell& e) {
  if (e.is(TYPE_INTEGER)) return e.int_value() >= 1 && e.int_value() <= 14 ? e.int_value() : 0;
  if (word::is_plain_kind(e.type())) return field_of_symbol(e.word_symbol());
  return 0;
}

int64_t integer_arg(const Cell& v) {
  if (!v.is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &v);
  return v.int_value();
}

void set_field(Cell& d, int field, const Cell& v) {
  Parts p = parts_of(d);
  switch (field) {
    case 1: {
      if (!v.is(TYPE_DATE)) fire(Err::script_invalid_arg, &v);
      uint32_t w = v.date_word();
      p.n = cal::to_days(year_of(w), month_of(w), day_of(w));
      p.timed = has_time(w);
      break;
    }
    case 2: {
      int64_t y = integer_arg(v);
      if (y < kMinYear || y > kMaxYear) fire_type_limit(TYPE_DATE);
      cal::Ymd ymd = cal::from_days(p.n);
      p.n = cal::to_days(int32_t(y), ymd.month, ymd.day);
      break;
    }
    case 3:
      set_month(p, integer_arg(v));
      break;
    case 4: {
      cal::Ymd ymd = cal::from_days(p.n);
      p.n = cal::to_days(ymd.year, ymd.month, 0) + integer_arg(v);
      break;
    }
    case 5:
    case 12:
      set_zone(p, v, field == 5);
      break;
    case 6:
      if (v.is(TYPE_NONE)) {
        p.timed = false;
      } else if (v.is(TYPE_TIME)) {
        set_local_time(p, v.float_value());
      } else {
        fire(Err::script_invalid_arg, &v);
      }
      break;
    case 7:
    case 8:
    case 9:
      // The fields read the local time: they are written on it too.
      set_local_time(p, times::with_field(local_time(p), field - 6, v));
      break;
    case 10:
      p.n = p.n + (integer_arg(v) - 1) - cal::floor_mod(p.n + 2, 7);
      break;
    case 11:
      p.n = cal::year_start(cal::from_days(p.n).year) + integer_arg(v) - 1;
      break;
    case 13:
      p.n = week_start(p.n, integer_arg(v));
      break;
    case 14:
      p.n = cal::iso_week_one(cal::from_days(p.n).year) + 7 * (integer_arg(v) - 1);
      break;
    default:
      break;
  }
  store(d, p);
}

}  // namespace

Cell get_field(const Cell& d, int field) {
  const uint32_t w = d.date_word();
  Parts p = parts_of(d);
  switch (field) {
    case 1:
      return make(pack(year_of(w), month_of(w), day_of(w), 0, false), 0.0);
    case 2:
      return make_integer(year_of(w));
    case 3:
      return make_integer(month_of(w));
    case 4:
      return make_integer(day_of(w));
    case 5:
    case 12:
      return p.timed ? times::make(cal::zone_seconds(p.zone)) : make_none();
    case 6:
      return p.timed ? times::make(local_time(p)) : make_none();
    case 7:
    case 8:
    case 9:
      return times::field_value(local_time(p), field - 6);
    case 10:
      return make_integer(cal::weekday(p.n));
    case 11:
      return make_integer(cal::year_day(p.n));
    case 13:
      return make_integer(cal::week(p.n));
    case 14:
      return make_integer(cal::iso_week(p.n));
    default:
      return make_none();
  }
}

int32_t year_day(const Cell& d) { return cal::year_day(parts_of(d).n); }

void set_all(Cell& target, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
             int32_t zone_minutes, bool timed) {
  assert(month >= 1 && month <= 12 && day >= 1 && day <= cal::month_length(year, month));
  assert(year >= kMinYear && year <= kMaxYear && zone_hours >= -15 && zone_hours <= 15);
  uint32_t zone = cal::zone_bits(zone_hours, zone_minutes);
  double t = timed ? seconds - cal::zone_seconds(zone) : 0.0;
  target = make(pack(year, month, day, zone, timed), t);
}

void set_ymd_hms(Cell& target, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                 int32_t seconds, int32_t nanoseconds) {
  Parts p;
  p.n = cal::to_days(year, month, day);
  p.timed = true;
  p.t = hours * 3600.0 + minutes * 60.0 + seconds + nanoseconds * 1e-9;
  target = make(0, 0.0);
  store(target, p);
}

void set_week(Cell& d, int32_t week) { set_field(d, 14, make_integer(week)); }
void set_weekday(Cell& d, int32_t weekday) { set_field(d, 10, make_integer(weekday)); }
void set_year_day(Cell& d, int32_t yd) { set_field(d, 11, make_integer(yd)); }

int32_t to_epoch_seconds(const Cell& d) {
  Parts p = parts_of(d);
  double s = double(p.n - cal::kUnixEpochDay) * 86400 + std::floor(p.t + 0.5);
  if (!(s >= -2147483648.0 && s <= 2147483647.0)) fire_type_limit(TYPE_INTEGER);
  return int32_t(s);
}

void difference(const Cell& a, const Cell& b, Cell& result) {
  Parts pa = parts_of(a), pb = parts_of(b);
  result = times::make(double(pa.n - pb.n) * 86400 + (pa.t - pb.t));
}

Cell* do_math(ActionCall& call, MathOp op) {
  Cell& left = call.result();
  const Cell right = call.arg(1);
  Parts p = parts_of(left);
  switch (right.type()) {
    case TYPE_INTEGER:
      p.n += op == OP_SUBTRACT ? -int64_t(right.int_value()) : right.int_value();
      break;
    case TYPE_TIME:
      p.t += op == OP_SUBTRACT ? -right.float_value() : right.float_value();
      p.timed = true;
      break;
    case TYPE_DATE: {
      if (op != OP_SUBTRACT) {
        Cell type = datatype_cell(TYPE_DATE);
        fire(Err::script_not_related, &fixed.word.add, &type);
      }
      Parts q = parts_of(right);
      int64_t n = p.n - q.n;
      double t = p.t - q.t;
      normalize(n, t, p.zone);
      if (n < INT32_MIN || n > INT32_MAX) fire_type_limit(TYPE_INTEGER);
      set_integer(left, int32_t(n));
      return &left;
    }
    default: {
      Cell type = datatype_cell(right.type());
      fire(Err::script_invalid_type, &type);
    }
  }
  store(left, p);
  return &left;
}

namespace {

// ---- make and to ----

[[noreturn]] void bad_to_arg(const Cell& spec) {
  Cell type = datatype_cell(TYPE_DATE);
  fire(Err::script_bad_to_arg, &type, &spec);
}

// Reads a spec block: three integers (day month year, or year month day), then a time! or hour
// [minute [second]] integers (the second may be a float!), then a zone as a time! or hours
// [minutes]. `validate` refuses values that would roll over.
Cell from_block(const Cell& spec, bool validate) {
  enum Slot { A, B, C, HOUR, MINUTE, SECOND, TIME, ZONE_H, ZONE_M, ZONE_T, NONE };
  struct Step {
    int8_t next;
    Slot slot;
  };
  // Per state: integer!, time!, float!.
  static const Step kTable[14][3] = {
      {{1, A}, {-1, NONE}, {-1, NONE}},          {{2, B}, {-1, NONE}, {-1, NONE}},
      {{3, C}, {-1, NONE}, {-1, NONE}},          {{8, HOUR}, {4, TIME}, {-1, NONE}},
      {{6, ZONE_H}, {5, ZONE_T}, {-1, NONE}},    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
      {{7, ZONE_M}, {-1, NONE}, {-1, NONE}},     {{-1, NONE}, {-1, NONE}, {-1, NONE}},
      {{9, MINUTE}, {-1, NONE}, {-1, NONE}},     {{10, SECOND}, {-1, NONE}, {10, SECOND}},
      {{12, ZONE_H}, {11, ZONE_T}, {-1, NONE}},  {{-1, NONE}, {-1, NONE}, {-1, NONE}},
      {{13, ZONE_M}, {-1, NONE}, {-1, NONE}},    {{-1, NONE}, {-1, NONE}, {-1, NONE}},
  };
  SeriesCells block = series_cells(spec);
  double v[NONE] = {};
  bool given[NONE] = {};
  int state = 0;
  for (size_t i = 0; i < block.length; i++) {
    const Cell& c = block.cells[i];
    int column = c.is(TYPE_INTEGER) ? 0 : c.is(TYPE_TIME) ? 1 : c.is(TYPE_FLOAT) ? 2 : -1;
    if (column < 0) bad_to_arg(spec);
    const Step& s = kTable[state][column];
    if (s.next < 0) bad_to_arg(spec);
    v[s.slot] = column == 0 ? double(c.int_value()) : c.float_value();
    given[s.slot] = true;
    state = s.next;
  }
  if (state < 3) bad_to_arg(spec);
  double day = v[A], month = v[B], year = v[C];
  if (day >= 100 && day > year) std::swap(day, year);
  if (year < kMinYear || year > kMaxYear) bad_to_arg(spec);

  int32_t zone_hours = 0, zone_minutes = 0;
  if (given[ZONE_T]) {
    double z = std::fmod(v[ZONE_T], 57600.0);
    zone_hours = times::hour_of(z);
    zone_minutes = times::minute_of(z);
    if (z < 0) zone_minutes = -zone_minutes;
  } else {
    zone_hours = int32_t(v[ZONE_H]);
    zone_minutes = int32_t(v[ZONE_M]);
  }
  double t = given[TIME] ? v[TIME] : v[HOUR] * 3600 + v[MINUTE] * 60 + v[SECOND];
  const bool timed = block.length > 3;

  if (validate) {
    bool ok = month >= 1 && month <= 12 && day >= 1 &&
              day <= cal::month_length(int32_t(year), int32_t(month));
    if (timed) {
      ok = ok && t >= 0 && t < 86400 && v[MINUTE] >= 0 && v[MINUTE] < 60 && v[SECOND] >= 0 && v[SECOND] < 60;
      ok = ok && zone_hours >= -15 && zone_hours <= 15 && zone_minutes > -60 && zone_minutes < 60;
    }
    if (!ok) bad_to_arg(spec);
  }
  Parts p;
  p.n = cal::to_days(int32_t(year), 1, 1);
  set_month(p, int64_t(month));
  cal::Ymd ymd = cal::from_days(p.n);
  p.n = cal::to_days(ymd.year, ymd.month, 0) + int64_t(day);
  p.zone = cal::zone_bits(zone_hours % 16, zone_minutes);
  if (timed) set_local_time(p, t);
  Cell d = make(0, 0.0);
  store(d, p);
  return d;
}

Cell from_text(const Cell& spec) {
  Cell loaded = times::load_text_value(spec);
  if (!loaded.is(TYPE_DATE)) bad_to_arg(spec);
  return loaded;
}

Cell from_spec(const Cell& spec, bool validate) {
  switch (spec.type()) {
    case TYPE_DATE:
      return spec;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH:
      return from_block(spec, validate);
    case TYPE_INTEGER: {
      if (validate) break;
      // Epoch seconds: a UTC date and time.
      int64_t s = spec.int_value();
      Parts p;
      p.n = cal::kUnixEpochDay + cal::floor_div(s, 86400);
      p.t = double(cal::floor_mod(s, 86400));
      p.timed = true;
      Cell d = make(0, 0.0);
      store(d, p);
      return d;
    }
    default:
      if (str::is_text_type(spec.type())) return from_text(spec);
      break;
  }
  bad_to_arg(spec);
}

Cell* dt_make(ActionCall& call) {
  call.result() = from_spec(call.arg(1), true);
  return &call.result();
}

Cell* dt_to(ActionCall& call) {
  call.result() = from_spec(call.arg(1), false);
  return &call.result();
}

// ---- text ----

void append_two_digits(std::string& out, int32_t v) {
  out.push_back(char('0' + v / 10 % 10));
  out.push_back(char('0' + v % 10));
}

// The first three characters of the month's name in system/locale/months.
void append_month(TextOut& out, int32_t month, int32_t& limit) {
  const Cell* months = nullptr;
  const Cell* sys = context::symbol_value_cell(symbol::intern("system"), context::global());
  if (sys && sys->is(TYPE_OBJECT)) {
    int32_t i = object::field_index(*sys, symbol::intern("locale"));
    const Cell* locale = i >= 0 ? &context::values(sys->object_context())[i] : nullptr;
    if (locale && locale->is(TYPE_OBJECT)) {
      int32_t j = object::field_index(*locale, symbol::intern("months"));
      if (j >= 0) months = &context::values(locale->object_context())[j];
    }
  }
  if (!months || !months->is(TYPE_BLOCK)) fire(Err::script_invalid_months);
  SeriesCells names = series_cells(*months);
  if (names.length < size_t(month) || !names.cells[month - 1].is(TYPE_STRING)) fire(Err::script_invalid_months);
  SeriesUnits name = series_units(names.cells[month - 1]);
  for (size_t k = 0; k < name.length && k < 3; k++, limit--)
    out.append_code_point(code_unit_at(name.data, k, name.unit));
}

int32_t dt_form(const Cell& d, TextOut& out, const Cell*, int32_t limit) {
  const uint32_t w = d.date_word();
  const int32_t year = year_of(w);
  const char sep = year < 0 ? '/' : '-';
  std::string text = std::to_string(day_of(w));
  text.push_back(sep);
  out.append_ascii(text);
  limit -= int32_t(text.size());
  append_month(out, month_of(w), limit);
  text.assign(1, sep);
  // A year 0-99 keeps four digits, which the loader reads as written (two digits would read as
  // 1950-2049); negative years are written as they are ("-45"), which it reads back alike.
  if (year < 0) {
    text += std::to_string(year);
  } else {
    std::string digits = std::to_string(year);
    if (digits.size() < 4 && year < 100) digits.insert(0, 4 - digits.size(), '0');
    text += digits;
  }
  if (has_time(w)) {
    Parts p = parts_of(d);
    text.push_back('/');
    text += times::text(local_time(p));
    if (p.zone) {
      int32_t off = cal::zone_seconds(p.zone);
      text.push_back(off < 0 ? '-' : '+');
      off = off < 0 ? -off : off;
      append_two_digits(text, off / 3600);
      text.push_back(':');
      append_two_digits(text, off % 3600 / 60);
    }
  }
  out.append_ascii(text);
  return limit - int32_t(text.size());
}

int32_t dt_mold(const Cell& d, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return dt_form(d, out, part, limit);
}

// ---- compare ----

// Dates compare by instant: day number and UTC time; a date without time as its local midnight.
int32_t dt_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_DATE)) return kCannotCompare;
  if (op == COMP_SAME)
    return a.date_word() == b.date_word() && float_bits(a.float_value()) == float_bits(b.float_value()) ? 0 : 1;
  Parts pa = parts_of(a), pb = parts_of(b);
  auto utc = [](const Parts& p) { return p.timed ? p.t : -double(cal::zone_seconds(p.zone)); };
  double diff = double(pa.n - pb.n) * 86400 + (utc(pa) - utc(pb));
  int32_t r = (diff > 0) - (diff < 0);
  if (is_equality_op(op)) return r == 0 ? 0 : 1;
  return r;
}

// ---- paths and pick ----

Cell* dt_eval_path(PathStep& step) {
  int field = field_of_element(*step.element);
  if (!field) fire(Err::script_invalid_path, step.path, step.element);
  if (!step.set_value) {
    *step.value = get_field(*step.value, field);
    return step.value;
  }
  set_field(*step.value, field, *step.set_value);
  times::store_back(step);
  return step.value;
}

Cell* dt_pick(ActionCall& call) {
  const Cell index = call.arg(1);
  int field = field_of_element(index);
  if (!field) fire(Err::script_out_of_range, &index);
  call.result() = get_field(call.result(), field);
  return &call.result();
}

Cell* dt_add(ActionCall& call) { return do_math(call, OP_ADD); }
Cell* dt_subtract(ActionCall& call) { return do_math(call, OP_SUBTRACT); }

// ---- random ----

Cell* dt_random(ActionCall& call) {
  Cell& d = call.result();
  if (call.has(0)) {  // /seed
    random::seed(int32_t(d.date_word() + uint32_t(int64_t(std::trunc(d.float_value())))));
    d = make_unset();
    return &d;
  }
  const bool secure = call.has(1);
  Parts p = parts_of(d);
  int64_t n = p.n;
  if (n < 1 || n > INT32_MAX) {
    Cell v = d;
    fire(Err::script_out_of_range, &v);
  }
  p.n = random::integer_upto(secure, int32_t(n)) - 1;
  if (p.timed) {
    p.zone = uint32_t(secure ? random::secure_random() : random::next_u32()) & 0x7F;
    double x;
    if (secure) {
      double s1 = random::secure_random(), s2 = random::secure_random();
      x = (s2 + s1 / 2147483647.0) * 3600 / 2147483648.0;
    } else {
      x = double(random::next_u32()) / 2147483647.0 * 3600.0;
    }
    set_local_time(p, std::floor(std::fabs(x)) / 3600 * 24 * 3600);
  }
  store(d, p);
  return &d;
}

}  // namespace

void register_date() {
  register_type(TYPE_DATE, TYPE_NONE_ID, "date!",
                HandlerRow()
                    .set(ActionIndex::make, &dt_make)
                    .set(ActionIndex::random, &dt_random)
                    .set(ActionIndex::to, &dt_to)
                    .set(ActionIndex::form, &dt_form)
                    .set(ActionIndex::mold, &dt_mold)
                    .set(ActionIndex::eval_path, &dt_eval_path)
                    .set(ActionIndex::compare, &dt_compare)
                    .set(ActionIndex::add, &dt_add)
                    .set(ActionIndex::subtract, &dt_subtract)
                    .set(ActionIndex::pick, &dt_pick));
  FurtherTypeHooks& hooks = further_type_hooks();
  hooks.date_do_math.fn = &do_math;
  hooks.date_set_all.fn = &set_all;
  hooks.date_set_week.fn = &set_week;
  hooks.date_set_weekday.fn = &set_weekday;
  hooks.date_set_year_day.fn = &set_year_day;
  hooks.date_leap_year.fn = [](int32_t year) { return cal::leap_year(year); };
  hooks.date_get_field.fn = [](const Cell& d, int32_t field) {
    Cell v = get_field(d, field);
    return v.is(TYPE_INTEGER) ? v.int_value() : 0;
  };
  hooks.date_difference.fn = &difference;
  hooks.date_to_epoch_seconds.fn = &to_epoch_seconds;
}

}  // namespace zem::dates
