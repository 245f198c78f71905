// Natives that wait for datatypes, services or library parts not built yet: each raises internal
// `not-done` naming itself.
#include "evaluator/natives.h"

namespace zem {

#define ZEM_PENDING(name)                                            \
  uint32_t native_##name(int32_t check, const int32_t* refinements) { \
    if (check) natives::check_args(NATIVE_##name, refinements);      \
    natives::fire_not_done(NATIVE_##name);                           \
  }


}  // namespace zem
