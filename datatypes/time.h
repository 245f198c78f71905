// time!: a signed number of seconds held as a double, with the hour/minute/second view, its text
// and the path rules that date! shares.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/registry.h"

namespace zem::times {

constexpr double kTolerance = 0.000001;

inline Cell make(double seconds) {
  Cell c{};
  c.set_header(TYPE_TIME);
  c.set_float_payload(seconds);
  return c;
}

// Hour truncated toward zero; minute 0-59 from |s|; second with the sign of s. The hour raises
// script `type-limit` when it leaves the integer range.
int32_t hour_of(double s);
int32_t minute_of(double s);
double second_of(double s);

// 1 hour, 2 minute, 3 second; 0 for another word.
int field_of_symbol(uint32_t sym);
// The field as a value: integer! hours and minutes, float! seconds.
Cell field_value(double s, int field);
// s with the field set to `value`: the magnitude of s takes the new field and keeps its sign (a
// non-zero hour brings its own), so setting a field to the value it reads leaves s as it was.
// A value of the wrong type raises script `invalid-arg` with it.
double with_field(double s, int field, const Cell& value);

// "h:mm:ss[.f]", with "-" before a negative value; the value is rounded to the printed precision
// before it is split, so no field prints as 60.
std::string text(double s);

// The one value a text holds (none! when it holds more or a syntax error): make and to from text.
Cell load_text_value(const Cell& text);

// After a path has changed a value that lives in its cell (the step's value, a copy on the
// stack), stores the new value where the path found it: the field of the container one step back
// (which tells an owning object), or the word the path starts with.
void store_back(const PathStep& step);

void register_time();

}  // namespace zem::times
