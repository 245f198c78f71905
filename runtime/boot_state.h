// What start-up tells the rest of the runtime while it builds the global environment.
#pragma once

#include <cstdint>

namespace zem {

// Header flag of function values made by the boot library: tracing, the debugger, the profiler
// and error locations treat them like compiled code (call and return only).
constexpr uint32_t kFunctionLibrary = 0x800;

struct BootState {
  bool loading = false;  // the boot library is being evaluated
  bool done = false;     // the global environment is built
};
extern BootState boot_state;

}  // namespace zem
