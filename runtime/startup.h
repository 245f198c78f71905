// Process start-up and exit: the one place that initialises every runtime module, in order.
#pragma once

#include <cstdint>
#include <new>

#include "runtime/error.h"
#include "runtime/platform.h"

namespace zem {

// The layers of start-up in their fixed order: a module may use only what an earlier one made.
enum class StartLayer : uint8_t {
  platform,   // platform start, pointer stack, output hooks, output writer, random state
  memory,     // memory manager, collector, resource registry
  datatypes,  // datatype registry, action entries, root block
  symbols,    // case folding, hash tables, the symbol table (empty)
  words,      // the global context, fixed words
  values,     // natives, parse, owner table, objects, the error catalogue
  evaluator,  // stacks, lexer, interpreter, slot pool
  library,    // the boot library: the global environment; the collector is enabled
};

// Platform start-up, then every module up to and including the layer `last`. Unit tests start a
// runtime this way; a process starts all of it through runtime_init. Answers false, after a message
// on stderr, when an argument is not valid UTF-8.
bool init_through(StartLayer last, int argc = 0, char** argv = nullptr);

// The whole start-up. Ends the process with status 1 when an argument is not valid UTF-8.
void runtime_init(int argc, char** argv);

// Frees every buffer of the memory manager, so that init_through can start a runtime again in the
// same process (unit tests). The C heap and the module tables stay.
void release_runtime();

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
