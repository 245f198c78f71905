// The clock read once into date, time and zone; zone packing; sleeping through signals.
#include "services/os/clock.h"

#include <errno.h>
#include <time.h>

#include <cmath>
#include <cstdlib>

namespace zem::os {

namespace {

constexpr int32_t kMaxZoneMinutes = 15 * 60 + 45;

double seconds_of_day(const tm& t, int32_t nanoseconds, bool precise) {
  double s = t.tm_hour * 3600.0 + t.tm_min * 60.0 + t.tm_sec;
  return precise ? s + nanoseconds / 1e9 : s;
}

}  // namespace

uint32_t pack_zone(int32_t minutes) {
  int32_t mag = std::abs(minutes);
  if (mag > kMaxZoneMinutes) mag = kMaxZoneMinutes;
  uint32_t bits = static_cast<uint32_t>(mag / 60) << 2 | static_cast<uint32_t>(mag % 60 / 15);
  if (minutes < 0 && bits != 0) bits |= 0x40;
  return bits;
}

int32_t unpack_zone(uint32_t zone_bits) {
  int32_t mag = static_cast<int32_t>((zone_bits >> 2) & 15) * 60 + static_cast<int32_t>(zone_bits & 3) * 15;
  return (zone_bits & 0x40) ? -mag : mag;
}

uint32_t pack_date(int32_t year, int32_t month, int32_t day, uint32_t zone_bits) {
  return static_cast<uint32_t>(year) << 17 | static_cast<uint32_t>(month & 15) << 12 |
         static_cast<uint32_t>(day & 31) << 7 | (zone_bits & 0x7F);
}

ClockReading read_clock(bool utc, bool precise) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  if (!utc) tzset();  // localtime_r alone keeps the zone it first read
  return reading_at(static_cast<int64_t>(ts.tv_sec), static_cast<int32_t>(ts.tv_nsec), utc, precise);
}

ClockReading reading_at(int64_t epoch_seconds, int32_t nanoseconds, bool utc, bool precise) {
  time_t now = static_cast<time_t>(epoch_seconds);
  tm u{};
  gmtime_r(&now, &u);
  tm l = u;
  if (!utc) localtime_r(&now, &l);

  ClockReading r;
  r.epoch_seconds = epoch_seconds;
  r.nanoseconds = nanoseconds;
  r.year = l.tm_year + 1900;
  r.month = l.tm_mon + 1;
  r.day = l.tm_mday;
  r.zone_minutes = utc ? 0 : static_cast<int32_t>(l.tm_gmtoff / 60);
  r.zone_bits = pack_zone(r.zone_minutes);
  r.date_word = pack_date(r.year, r.month, r.day, r.zone_bits);
  r.local_seconds = seconds_of_day(l, r.nanoseconds, precise);
  r.utc_seconds = seconds_of_day(u, r.nanoseconds, precise);
  return r;
}

double time_of_day(bool precise) { return read_clock(true, precise).utc_seconds; }

uint32_t today_packed(bool utc) { return read_clock(utc, false).date_word; }

int64_t sleep_ms(double seconds) {
  if (!std::isfinite(seconds)) return 1;
  double ms = seconds * 1000.0;
  if (!(ms >= 1.0)) return 1;
  if (ms >= static_cast<double>(kMaxSleepMs)) return kMaxSleepMs;
  return static_cast<int64_t>(ms);
}

void sleep(double seconds) {
  int64_t ms = sleep_ms(seconds);
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace zem::os
