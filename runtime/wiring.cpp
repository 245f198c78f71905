// The wiring table itself: start-up fills it (runtime/startup.cpp).
#include "runtime/wiring.h"

namespace zem {

Wiring wiring;

}  // namespace zem
