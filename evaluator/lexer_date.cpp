// The date token: "d-Mon-yyyy", "yyyy-mm-dd", "d/m/y", ISO week and ordinal dates, the compact
// ISO form, each with an optional time and zone. Every field is checked before the date is made.
#include <cctype>
#include <cmath>
#include <string_view>

#include "datatypes/type_hooks.h"
#include "evaluator/lexer_loaders.h"

namespace zem::lexer {
namespace {

struct Reader {
  const uint8_t* p;
  const uint8_t* end;
  bool at(char c) const { return p < end && *p == c; }
  bool at_digit() const { return p < end && std::isdigit(*p); }
  bool eat(char c) {
    if (!at(c)) return false;
    ++p;
    return true;
  }
  // Up to `max` decimal digits; answers how many were read.
  int digits(int64_t& v, int max = 9) {
    v = 0;
    int n = 0;
    while (at_digit() && n < max) v = v * 10 + (*p++ - '0'), n++;
    return n;
  }
  // Exactly n digits.
  bool fixed(int n, int64_t& v) { return digits(v, n) == n; }
};

struct Fields {
  int64_t year = 0, month = 0, day = 0;
  bool timed = false;
  double seconds = 0;
  int64_t zone_hours = 0, zone_minutes = 0;
  enum Form { by_month, by_week, by_ordinal } form = by_month;
  int64_t week = 0, weekday = 0, year_day = 0;
};

// Seconds with an optional fraction ("." or ","); false when malformed.
bool read_seconds(Reader& r, double& s) {
  int64_t whole;
  if (r.digits(whole, 2) == 0) return false;
  s = double(whole);
  if (r.at('.') || r.at(',')) {
    ++r.p;
    double scale = 0.1;
    if (!r.at_digit()) return false;
    while (r.at_digit()) s += (*r.p++ - '0') * scale, scale /= 10;
  }
  return true;
}

// "Z", or "+"/"-" hours with optional minutes (with or without ":").
bool read_zone(Reader& r, Fields& f) {
  if (r.eat('Z') || r.eat('z')) return true;
  if (!r.at('+') && !r.at('-')) return true;
  bool negative = *r.p++ == '-';
  int64_t h, m = 0;
  int n = r.digits(h, 2);
  if (n == 0) return false;
  if (r.eat(':')) {
    if (r.digits(m, 2) == 0) return false;
  } else if (n == 2 && r.at_digit()) {
    if (!r.fixed(2, m)) return false;
  }
  if (m > 59) return false;
  f.zone_hours = negative ? -h : h;
  f.zone_minutes = negative ? -m : m;
  return true;
}

// hours ":" minutes [":" seconds] [zone]
bool read_time(Reader& r, Fields& f) {
  int64_t h, m;
  if (r.digits(h, 2) == 0 || !r.eat(':') || r.digits(m, 2) == 0) return false;
  double s = 0;
  if (r.eat(':') && !read_seconds(r, s)) return false;
  f.timed = true;
  f.seconds = double(h) * 3600 + double(m) * 60 + s;
  if (h > 23 || m > 59 || s >= 60) return false;
  return read_zone(r, f);
}

// yyyymmddThhmm[ss[.f]][zone]
bool read_compact(Reader& r, Fields& f) {
  int64_t h, m;
  if (!(r.eat('T') || r.eat('t'))) return false;
  if (!r.fixed(2, h) || !r.fixed(2, m)) return false;
  double s = 0;
  if (r.at_digit() && !read_seconds(r, s)) return false;
  f.timed = true;
  f.seconds = double(h) * 3600 + double(m) * 60 + s;
  if (h > 23 || m > 59 || s >= 60) return false;
  return read_zone(r, f);
}

int month_from_name(const uint8_t* s, const uint8_t* e) {
  static constexpr std::string_view kMonths[12] = {"january", "february", "march",     "april",
                                                   "may",     "june",     "july",      "august",
                                                   "september", "october", "november", "december"};
  size_t n = size_t(e - s);
  if (n < 3 || n > 9) return 0;
  for (int i = 0; i < 12; i++) {
    if (n > kMonths[i].size()) continue;
    bool same = true;
    for (size_t k = 0; k < n && same; k++) same = std::tolower(s[k]) == kMonths[i][k];
    if (same) return i + 1;
  }
  return 0;
}

bool leap(int64_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); }

bool valid_day(const Fields& f) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (f.month < 1 || f.month > 12 || f.year < -9999 || f.year > 9999) return false;
  int64_t length = f.month == 2 && leap(f.year) ? 29 : kDays[f.month - 1];
  return f.day >= 1 && f.day <= length;
}

bool parse(Reader& r, Fields& f) {
  const bool first_negative = r.eat('-');
  int64_t first;
  int first_digits = r.digits(first, 9);
  if (first_digits == 0) return false;
  if (first_negative) first = -first;
  if (!first_negative && first_digits == 8 && (r.at('T') || r.at('t'))) {
    f.year = first / 10000, f.month = first / 100 % 100, f.day = first % 100;
    return valid_day(f) && read_compact(r, f) && r.p == r.end;
  }
  if (first_digits > 4) return false;
  if (first_digits == 4 && !first_negative && r.at('-') && r.p + 1 < r.end &&
      (r.p[1] == 'W' || r.p[1] == 'w')) {
    r.p += 2;
    f.form = Fields::by_week;
    f.year = first;
    if (!r.fixed(2, f.week) || f.week < 1 || f.week > 53) return false;
    f.weekday = 1;
    if (r.eat('-') && (!r.fixed(1, f.weekday) || f.weekday < 1 || f.weekday > 7)) return false;
  } else if (first_digits == 4 && r.at('-') && r.end - r.p >= 4 && std::isdigit(r.p[1]) &&
             std::isdigit(r.p[2]) && std::isdigit(r.p[3]) && (r.end - r.p == 4 || !std::isdigit(r.p[4])) &&
             (r.end - r.p == 4 || r.p[4] != '-')) {
    ++r.p;
    f.form = Fields::by_ordinal;
    f.year = first;
    r.fixed(3, f.year_day);
    if (f.year_day < 1 || f.year_day > (leap(f.year) ? 366 : 365)) return false;
  } else {
    if (!r.at('-') && !r.at('/')) return false;
    const char sep = char(*r.p++);
    if (r.at_digit()) {
      if (r.digits(f.month, 2) == 0 || r.at_digit()) return false;
    } else {
      const uint8_t* s = r.p;
      while (r.p < r.end && std::isalpha(*r.p)) ++r.p;
      f.month = month_from_name(s, r.p);
      if (!f.month) return false;
    }
    if (!r.eat(sep)) return false;
    const bool last_negative = r.eat('-');
    int64_t last;
    int last_digits = r.digits(last, 9);
    if (last_digits == 0) return false;
    if (last_negative) last = -last;
    int year_digits;
    bool year_negative;
    if (last_negative || last > 31 || (!first_negative && first <= 99)) {
      f.day = first, f.year = last, year_digits = last_digits, year_negative = last_negative;
      if (first_negative) return false;
    } else {
      f.year = first, f.day = last, year_digits = first_digits, year_negative = first_negative;
    }
    if (!year_negative && year_digits <= 2) f.year += f.year > 49 ? 1900 : 2000;
    if (!valid_day(f)) return false;
  }
  if (f.year < -9999 || f.year > 9999) return false;
  if (r.p < r.end) {
    bool t = r.eat('T') || r.eat('t');
    if (!t && !r.eat('/')) return false;
    if (!read_time(r, f)) return false;
  }
  return r.p == r.end && f.zone_hours >= -15 && f.zone_hours <= 15;
}

}  // namespace

void load_date(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  Reader r{start, end};
  Fields f;
  if (!parse(r, f)) syntax_error(st, start, end, ErrorKind::invalid, TYPE_DATE);
  if (!build) return;
  FurtherTypeHooks& hooks = further_type_hooks();
  Cell c{};
  const bool calendar = f.form == Fields::by_month;
  hooks.date_set_all(c, int32_t(f.year), calendar ? int32_t(f.month) : 1, calendar ? int32_t(f.day) : 1,
                     f.seconds, int32_t(f.zone_hours), int32_t(f.zone_minutes), f.timed);
  if (f.form == Fields::by_week) {
    hooks.date_set_week(c, int32_t(f.week));
    hooks.date_set_weekday(c, int32_t(f.weekday));
  } else if (f.form == Fields::by_ordinal) {
    hooks.date_set_year_day(c, int32_t(f.year_day));
  }
  *push_cell(st) = c;
}

}  // namespace zem::lexer
