// Raising errors and the pending-exit record.
//
// Every error goes through `fire`, which never returns: it stores the error in the pending-exit
// record and throws `Unwind`, the one C++ exception type of the runtime, which carries only the
// exit code. The payload (error value, thrown value and name, the value of a return) stays in the
// record, which the collector marks, until a catcher takes it.
#pragma once

#include <cstdint>
#include <string_view>

#include "runtime/cell.h"

namespace zem {

// Non-local exit codes, unsigned: a catcher accepts codes at or below its threshold.
enum ExitCode : uint32_t {
  EXIT_NONE = 0,
  EXIT_LEXER_STOP = 10,
  EXIT_MEMORY_LOCAL_1 = 0x7FFFFFF6,  // memory manager's local exits, caught at EXIT_MEMORY_CATCH
  EXIT_MEMORY_LOCAL_2 = 0x7FFFFFF7,
  EXIT_MEMORY_CATCH = 0x7FFFFFF8,
  EXIT_POWER = 0x7FFFFFF9,  // integer power's local overflow exit
  EXIT_THROW = 0x7FFFFFFA,
  EXIT_EXIT = 0x7FFFFFFB,
  EXIT_RETURN = 0x7FFFFFFC,
  EXIT_CONTINUE = 0x7FFFFFFD,
  EXIT_BREAK = 0x7FFFFFFE,
  EXIT_ERROR = 0x7FFFFFFF,
};

namespace err_detail {
// Positions are counted by the enumerator sequence: each category restarts at number * 100 + 2.
enum : uint32_t {
#define ZEM_ERROR_CATEGORY(num, cat, word, title) cat##_base_ = (num)*100 + 1,
#define ZEM_ERROR(cat, id, word) cat##_##id,
#define ZEM_ERROR_CATEGORY_END(cat) cat##_end_,
#include "runtime/error_ids.def"
#undef ZEM_ERROR_CATEGORY
#undef ZEM_ERROR
#undef ZEM_ERROR_CATEGORY_END
};
}  // namespace err_detail

// Error codes (`ErrorCode`): category * 100 + position of the id in its category object.
enum class Err : uint32_t {
#define ZEM_ERROR_CATEGORY(num, cat, word, title)
#define ZEM_ERROR(cat, id, word) cat##_##id = err_detail::cat##_##id,
#define ZEM_ERROR_CATEGORY_END(cat)
#include "runtime/error_ids.def"
#undef ZEM_ERROR_CATEGORY
#undef ZEM_ERROR
#undef ZEM_ERROR_CATEGORY_END
};

constexpr uint32_t kErrCategoryCount = 10;

struct ErrCategoryInfo {
  uint32_t number;
  std::string_view word;   // the category word, e.g. "script"
  std::string_view title;  // e.g. "Script Error"
  uint32_t id_count;       // ids are codes number * 100 + 2 ... + id_count + 1
};

// The catalogue as data, for the error values and for checking the catalogue the library carries.
const ErrCategoryInfo& error_category(uint32_t number);  // number < kErrCategoryCount
constexpr uint32_t error_category_of(Err e) { return static_cast<uint32_t>(e) / 100; }
// The id word of a code ("no-value"), or empty when the code names no id.
std::string_view error_id_word(uint32_t code);
// The code of category word + id word, or 0 when the catalogue has no such error.
uint32_t error_code_of(std::string_view category, std::string_view id);

// The one exception type of the runtime; the payload stays in the pending-exit record.
struct Unwind {
  uint32_t code;
};

// The exit in progress and its payload. Cells here may hold series: the collector marks them
// through `mark_pending_exit`.
struct PendingExit {
  uint32_t code = EXIT_NONE;
  Err error = Err{};  // error raised by `fire`, until the error value is made
  Cell args[3] = {};  // its arguments; type 0 = not given
  Cell value = {};    // the error value, the thrown value, or the value of a return/break
  Cell name = {};     // the name of a throw (type 0 = no name)
};

PendingExit& pending_exit();
// Forgets the exit in progress (a catcher does this once it has taken the payload).
void clear_pending_exit();
// Calls `mark` on every payload cell that holds a value.
void mark_pending_exit(void (*mark)(Cell&, void*), void* user);

// Raises the error: fills the pending-exit record, lets the installed raiser build the error value
// and unwind, and otherwise throws Unwind{EXIT_ERROR}. Never returns.
[[noreturn]] void fire(Err id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                       const Cell* arg3 = nullptr);

// The wiring entry `raise_error` (runtime/wiring.h): called by `fire` with the record filled in (code
// EXIT_ERROR, error and args); it may make the error value into `value` and unwind the call stack.
// When it returns, `fire` throws Unwind{EXIT_ERROR}.
using ErrorRaiser = void (*)(PendingExit&);

}  // namespace zem
