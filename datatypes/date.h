// date!: a calendar date with an optional time of day and zone, and the constructors the lexer,
// the clock natives, file dates and the serializer use.
//
// The date word packs year (bits 17-31, signed), the time flag (16), month (12-15), day (7-11) and
// the zone (0-6: sign << 6 | hours << 2 | quarters). The time is the time of day in UTC counted
// from midnight of the local date: stored = local - zone offset, always with
// 0 <= stored + offset < 86400. A date without time has the flag clear and time 0.0.
#pragma once

#include <cstdint>

#include "datatypes/registry.h"

namespace zem::dates {

constexpr uint32_t kTimeFlag = 0x10000;

inline int32_t year_of(uint32_t w) { return static_cast<int32_t>(w) >> 17; }
inline int32_t month_of(uint32_t w) { return int32_t((w >> 12) & 15); }
inline int32_t day_of(uint32_t w) { return int32_t((w >> 7) & 31); }
inline uint32_t zone_of(uint32_t w) { return w & 0x7F; }
inline bool has_time(uint32_t w) { return (w & kTimeFlag) != 0; }
uint32_t pack(int32_t year, int32_t month, int32_t day, uint32_t zone_bits, bool time_flag);

Cell make(uint32_t date_word, double time);
// A new date on the argument stack; appended to a block.
Cell* push(uint32_t date_word, double time);
void append_new(const Cell& block, uint32_t date_word, double time);

// Fills a date from fields already checked by the caller (month 1-12, day within the month, zone
// hours -15..15); `seconds` is the local time of day when `has_time`. No normalisation.
void set_all(Cell& target, int32_t year, int32_t month, int32_t day, double seconds, int32_t zone_hours,
             int32_t zone_minutes, bool has_time);
// A UTC date and time (file modification dates).
void set_ymd_hms(Cell& target, int32_t year, int32_t month, int32_t day, int32_t hours, int32_t minutes,
                 int32_t seconds, int32_t nanoseconds);
// The ISO week, the weekday (1 Monday ... 7 Sunday) and the day of the year, as the path setters.
void set_week(Cell& date, int32_t week);
void set_weekday(Cell& date, int32_t weekday);
void set_year_day(Cell& date, int32_t year_day);

// Field 1-14 (date, year, month, day, zone, time, hour, minute, second, weekday, yearday, timezone,
// week, isoweek) as a value.
Cell get_field(const Cell& date, int field);
int32_t year_day(const Cell& date);
// Seconds since 1970-01-01 UTC; script `type-limit` when they leave the integer range.
int32_t to_epoch_seconds(const Cell& date);
// The time! from b to a.
void difference(const Cell& a, const Cell& b, Cell& result);
// Date arithmetic: slot 0 a date, slot 1 an integer (days), a time! or (subtract) a date.
Cell* do_math(ActionCall& call, MathOp op);

void register_date();

}  // namespace zem::dates
