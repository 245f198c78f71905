// The clock, the local zone and sleeping.
//
// One call, read_clock, takes a single CLOCK_REALTIME reading and derives from it both the calendar
// date (local or universal) and the time of day, so a caller never pairs the date of one instant
// with the time of another (around midnight two separate readings can straddle the day change).
// The local zone is the process's (TZ, else /etc/localtime), read through localtime_r; its offset
// includes daylight saving time when in effect.
//
// A packed date word holds year << 17 | month << 12 | day << 7 | zone, where the 7 zone bits are
// sign << 6 | hours << 2 | quarter-hours (sign 1 = west of UTC). The time-set bit (0x10000) is
// never set here.
#pragma once

#include <cstdint>

namespace zem::os {

struct ClockReading {
  // Calendar date of the reading: local, or universal when read with utc = true.
  int32_t year = 0;
  int32_t month = 0;  // 1-12
  int32_t day = 0;    // 1-31
  // Exact offset of that date's zone east of UTC in minutes (0 with utc = true). Truncated toward
  // zero to whole minutes when the zone has seconds in it (old local mean times).
  int32_t zone_minutes = 0;
  // The 7 packed zone bits of zone_minutes (see pack_zone: whole quarters, toward zero).
  uint32_t zone_bits = 0;
  // year, month, day and zone_bits packed into one date word.
  uint32_t date_word = 0;
  // Seconds since midnight of that date, in that zone (the wall-clock time of day).
  double local_seconds = 0;
  // Seconds since UTC midnight (the same as local_seconds with utc = true).
  double utc_seconds = 0;
  // The reading itself: seconds since the epoch and the nanoseconds below them.
  int64_t epoch_seconds = 0;
  int32_t nanoseconds = 0;
};

// Reads the clock once. Without `precise` the two seconds fields are whole numbers; with it they
// carry the fraction below the second from the reading's nanoseconds.
//
// For a date value whose time is kept in universal time from midnight of the local date, that
// time is local_seconds - unpack_zone(zone_bits) * 60: it pairs with date_word exactly, also when
// the local and universal dates differ.
// The local zone is looked up again on every call, so a change of TZ by the program shows at once.
ClockReading read_clock(bool utc, bool precise);
// The same for a given instant (seconds since the epoch and nanoseconds below them).
ClockReading reading_at(int64_t epoch_seconds, int32_t nanoseconds, bool utc, bool precise);

// Seconds since UTC midnight (whole unless `precise`), from its own reading.
double time_of_day(bool precise);
// Today's packed date word with the local zone, or the universal date with zone 0 when `utc`.
uint32_t today_packed(bool utc);

// Zone bits of an offset in minutes east of UTC: the magnitude is packed (hours, then whole
// quarters, an odd remainder rounded toward zero) and the sign set for a negative offset, so
// -0:30 stays negative and -3:15 keeps its quarter. An offset that packs to 0:00 has no sign;
// hours beyond 15 are held at 15:45.
uint32_t pack_zone(int32_t minutes);
// The offset in minutes east of UTC that zone bits describe.
int32_t unpack_zone(uint32_t zone_bits);
// year << 17 | month << 12 | day << 7 | zone bits (the year may be negative).
uint32_t pack_date(int32_t year, int32_t month, int32_t day, uint32_t zone_bits);

// Longest sleep, in milliseconds.
constexpr int64_t kMaxSleepMs = 2147483647;
// The milliseconds a sleep of `seconds` lasts: at least 1; NaN, infinities and negative values
// give 1; values above kMaxSleepMs are held at it; fractions of a millisecond are dropped.
int64_t sleep_ms(double seconds);
// Sleeps for sleep_ms(seconds); a signal that interrupts the sleep does not shorten it.
void sleep(double seconds);

}  // namespace zem::os
