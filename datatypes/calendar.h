// Calendar arithmetic of the proleptic Gregorian calendar on day numbers, without cells.
//
// A day number counts days from 1 March of year 0 (years before it are negative; 1 January 1970
// is day 719468). Divisions that can meet negative operands floor, so every date of years -9999 to
// 9999 has its own day number and comes back from it unchanged (truncation would give 29 February
// and 1 March of year 0 both day 0).
#pragma once

#include <cstdint>

namespace zem::calendar {

constexpr int64_t kUnixEpochDay = 719468;  // 1 January 1970

constexpr int64_t floor_div(int64_t a, int64_t b) {
  int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

struct Ymd {
  int32_t year;
  int32_t month;  // 1-12
  int32_t day;    // 1-31
};

bool leap_year(int32_t year);
int32_t month_length(int32_t year, int32_t month);

// Day number of a date; an out-of-range day rolls into the neighbouring months (31 April is
// 1 May, day 0 the last day of the month before). The month must be 1-12.
int64_t to_days(int32_t year, int32_t month, int32_t day);
Ymd from_days(int64_t n);

// 1 = Monday ... 7 = Sunday.
int32_t weekday(int64_t n);
// Day number of 1 January of the year.
int64_t year_start(int32_t year);
// 1-366.
int32_t year_day(int64_t n);
// Weeks from Sunday to Saturday, week 1 holding 1 January.
int32_t week(int64_t n);
// Day number of the Monday that starts ISO week 1 of the year.
int64_t iso_week_one(int32_t year);
// ISO 8601 week number 1-53.
int32_t iso_week(int64_t n);

// Zone bits: sign << 6 | hours << 2 | quarter-hours (sign 1 = west of UTC).
constexpr uint32_t kZoneMask = 0x7F;
constexpr uint32_t kZoneSign = 0x40;
// The offset east of UTC in seconds.
int32_t zone_seconds(uint32_t zone_bits);
// Zone bits from signed hours and minutes: |hours| kept to 0-15, |minutes| / 15 kept to two bits,
// the sign from the hours (or from the minutes when the hours are 0). All-zero fields carry no sign.
uint32_t zone_bits(int32_t hours, int32_t minutes);

}  // namespace zem::calendar
