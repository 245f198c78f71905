// Calendar arithmetic on day numbers: dates, leap years, weekdays, weeks and zones.
#include "datatypes/calendar.h"

#include <cmath>

namespace zem::calendar {

namespace {

// Days from 1 March of year 0 to 1 March of year y.
int64_t march_start(int64_t y) { return 365 * y + floor_div(y, 4) - floor_div(y, 100) + floor_div(y, 400); }

}  // namespace

bool leap_year(int32_t year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int32_t month_length(int32_t year, int32_t month) {
  static const int8_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year(year) ? 29 : kDays[month - 1];
}

int64_t to_days(int32_t year, int32_t month, int32_t day) {
  int64_t b = (month + 9) % 12;  // March = 0 ... February = 11
  int64_t c = int64_t(year) - b / 10;
  return march_start(c) + (306 * b + 5) / 10 + (day - 1);
}

Ymd from_days(int64_t n) {
  int64_t y = int64_t(std::floor((10000.0 * double(n) + 14780.0) / 3652425.0));
  int64_t g = n - march_start(y);
  if (g < 0) g = n - march_start(--y);
  int64_t m = (100 * g + 52) / 3060;
  Ymd d;
  d.month = int32_t((m + 2) % 12 + 1);
  d.year = int32_t(y + (m + 2) / 12);
  d.day = int32_t(g - (306 * m + 5) / 10 + 1);
  return d;
}

int32_t weekday(int64_t n) { return int32_t(floor_mod(n + 2, 7) + 1); }

int64_t year_start(int32_t year) { return to_days(year, 1, 1); }

int32_t year_day(int64_t n) { return int32_t(n - year_start(from_days(n).year) + 1); }

int32_t week(int64_t n) {
  int64_t j = year_start(from_days(n).year);
  int64_t e = floor_mod(j + 3, 7);  // weekday of 1 January, 0 = Sunday
  return int32_t((n - j + 1 + e - 1) / 7 + 1);
}

int64_t iso_week_one(int32_t year) {
  int64_t j = year_start(year);
  int64_t w = floor_mod(j + 2, 7);  // 0 = Monday
  return w < 4 ? j - w : j - w + 7;
}

int32_t iso_week(int64_t n) {
  int32_t year = from_days(n).year;
  int64_t start = iso_week_one(year);
  // Days before week 1 belong to the last week of the year before.
  if (n < start) start = iso_week_one(year - 1);
  else if (n >= iso_week_one(year + 1)) return 1;
  return int32_t((n - start) / 7 + 1);
}

int32_t zone_seconds(uint32_t bits) {
  int32_t s = int32_t((bits >> 2) & 15) * 3600 + int32_t(bits & 3) * 900;
  return (bits & kZoneSign) ? -s : s;
}

uint32_t zone_bits(int32_t hours, int32_t minutes) {
  bool negative = hours < 0 || (hours == 0 && minutes < 0);
  uint32_t h = uint32_t(hours < 0 ? -int64_t(hours) : hours) & 15;
  uint32_t q = (uint32_t(minutes < 0 ? -int64_t(minutes) : minutes) / 15) & 3;
  uint32_t bits = h << 2 | q;
  return bits && negative ? bits | kZoneSign : bits;
}

}  // namespace zem::calendar
