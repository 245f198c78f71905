// The clock natives: now and wait.
#include <cmath>

#include "datatypes/calendar.h"
#include "datatypes/date.h"
#include "datatypes/time.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "services/os/clock.h"

namespace zem {

namespace {

enum NowRefinement { NOW_YEAR, NOW_MONTH, NOW_DAY, NOW_TIME, NOW_ZONE, NOW_DATE, NOW_WEEKDAY, NOW_YEARDAY,
                     NOW_PRECISE, NOW_UTC };

}  // namespace

uint32_t native_now(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_now, r);
  auto has = [r](int i) { return r[i] >= 0; };
  int asked = 0;
  for (int i = NOW_YEAR; i <= NOW_PRECISE; i++) asked += has(i);
  if (asked > 1 && !(asked == 2 && has(NOW_TIME) && has(NOW_PRECISE))) fire(Err::script_bad_refines);

  // One reading gives both the date and the time of day, so they cannot straddle midnight.
  const os::ClockReading now = os::read_clock(has(NOW_UTC), has(NOW_PRECISE));
  Cell d;
  if (has(NOW_DATE)) {
    d = dates::make(now.date_word & ~calendar::kZoneMask & ~dates::kTimeFlag, 0.0);
  } else {
    double stored = now.local_seconds - calendar::zone_seconds(now.zone_bits);
    d = dates::make(now.date_word | dates::kTimeFlag, stored);
  }
  static const struct {
    NowRefinement refinement;
    int field;
  } kFields[] = {{NOW_YEAR, 2}, {NOW_MONTH, 3},   {NOW_DAY, 4},     {NOW_ZONE, 5},
                 {NOW_TIME, 6}, {NOW_WEEKDAY, 10}, {NOW_YEARDAY, 11}};
  for (const auto& f : kFields)
    if (has(f.refinement)) d = dates::get_field(d, f.field);
  stack::set_single_result(d);
  return EXIT_NONE;
}

uint32_t native_wait(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_wait, r);
  const Cell value = *stack::arg(0);
  double seconds;
  if (value.is(TYPE_INTEGER)) seconds = value.int_value();
  else if (value.is(TYPE_FLOAT) || value.is(TYPE_TIME)) seconds = value.float_value();
  else fire(Err::script_invalid_arg, &value);
  stack::set_single_result(make_none());
  os::sleep(seconds);
  return EXIT_NONE;
}

}  // namespace zem
