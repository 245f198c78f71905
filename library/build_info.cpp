// When this build was made: the time stamp the build system passes in (SOURCE_DATE_EPOCH when set,
// for reproducible builds), read by `system/build/date`.
#include <cstdint>

#include "datatypes/calendar.h"
#include "datatypes/date.h"

#ifndef ZEM_BUILD_EPOCH
#define ZEM_BUILD_EPOCH 0
#endif

namespace zem::library {

// The build's UTC date and time as a date!.
const Cell* build_date(Cell*, uint32_t) {
  static Cell result;
  constexpr int64_t kEpoch = ZEM_BUILD_EPOCH;
  const int64_t days = calendar::floor_div(kEpoch, 86400);
  const int64_t seconds = kEpoch - days * 86400;
  // Day 1 + days of January 1970 rolls over into the right month and year.
  dates::set_ymd_hms(result, 1970, 1, int32_t(1 + days), 0, 0, int32_t(seconds), 0);
  return &result;
}

}  // namespace zem::library
