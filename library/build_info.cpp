// When this build was made: the time stamp the build system passes in (SOURCE_DATE_EPOCH when set,
// for reproducible builds), read by `system/build/date`; and the source revision it was made from,
// read by `system/build/git`.
#include <cstdint>

#include "datatypes/calendar.h"
#include "datatypes/date.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"

#ifndef ZEM_BUILD_EPOCH
#define ZEM_BUILD_EPOCH 0
#endif

#include "build_git.inc"

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

// The Zem text of the revision's fields, or none when the source was not a git checkout.
const Cell* build_git(Cell*, uint32_t) {
  static Cell result;
  const char* revision = ZEM_GIT_REVISION;
  if (!revision) return &shared_cells.none;
  result = str::make_from_utf8(revision);
  return &result;
}

}  // namespace zem::library
