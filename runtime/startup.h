// Process start-up and exit: the one place that initialises every runtime module, in order.
#pragma once

#include <new>

#include "runtime/error.h"
#include "runtime/platform.h"

namespace zem {

// Platform start-up, then every module in its fixed order (a module may use only what an earlier
// one made). Ends the process with status 1, after a message on stderr, when an argument is not
// valid UTF-8.
void runtime_init(int argc, char** argv);

// Normal exit: frees the C heap and ends the process with the 8-bit form of the status.
[[noreturn]] void runtime_exit(int status);

// The outermost catcher: an exit code that escapes every catcher of the runtime ends the process
// with the crash report "no CATCH for THROW"; a runtime table that cannot grow, with "out of memory".
template <class Body>
void run_outermost(Body&& body) {
  try {
    body();
  } catch (const Unwind&) {
    crash_report(CRASH_NO_CATCH, 0);
  } catch (const std::bad_alloc&) {
    crash_report(CRASH_OUT_OF_MEMORY, 0);
  }
}

}  // namespace zem
