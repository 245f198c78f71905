// What start-up tells the rest of the runtime while it builds the global environment.
#pragma once

#include <cstdint>

namespace zem {

struct BootState {
  bool loading = false;  // the boot library is being evaluated
  bool done = false;     // the global environment is built
};
extern BootState boot_state;

}  // namespace zem
