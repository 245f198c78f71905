// Raising errors. Every error goes through `fire`, which never returns: it records the error in the
// pending-exit record and throws the one C++ exception type that carries an exit code.
// (Interim form: the full catalogue, the error values and the pending-exit record replace it.)
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem {

// Non-local exit codes, unsigned: a catcher accepts codes at or below its threshold.
enum ExitCode : uint32_t {
  EXIT_NONE = 0,
  EXIT_LEXER_STOP = 10,
  EXIT_THROW = 0x7FFFFFFA,
  EXIT_EXIT = 0x7FFFFFFB,
  EXIT_RETURN = 0x7FFFFFFC,
  EXIT_CONTINUE = 0x7FFFFFFD,
  EXIT_BREAK = 0x7FFFFFFE,
  EXIT_ERROR = 0x7FFFFFFF,
};

// Error codes: category * 100 + position of the id in its category (first id is +2).
enum class Err : uint32_t {
  internal_no_memory = 902,
};

// The one exception type of the runtime; the payload stays in the pending-exit record.
struct Unwind {
  uint32_t code;
};

[[noreturn]] void fire(Err id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

}  // namespace zem
