// Process-level platform layer on Linux: standard handles, UTF-8 arguments, floating-point set-up,
// the crash report (signals and fatal runtime faults) and the process exit.
#pragma once

#include <cstdint>

namespace zem {

// Crash report codes: the process exits with the code as its status.
enum CrashCode : int {
  CRASH_NONE = 0,
  CRASH_ACCESS_VIOLATION = 1,
  CRASH_INVALID_ALIGNMENT = 2,
  CRASH_BREAKPOINT = 3,
  CRASH_SINGLE_STEP = 4,
  CRASH_BOUNDS_EXCEEDED = 5,
  CRASH_FLOAT_DIVIDE_BY_ZERO = 7,
  CRASH_SEGMENTATION_FAULT = 32,
  CRASH_FPU_ERROR = 33,
  CRASH_BUS_ERROR = 34,
  CRASH_OUT_OF_MEMORY = 94,
  CRASH_NO_CATCH = 95,
  CRASH_ASSERTION_FAILED = 98,
  CRASH_UNKNOWN_ERROR = 99,
  CRASH_NO_CASE_MATCH = 100,
  CRASH_NO_SWITCH_MATCH = 101,
};

struct PlatformState {
  int argc = 0;
  char** argv = nullptr;  // UTF-8 copies on the C heap, closed by a null pointer
  int std_in = 0;
  int std_out = 1;
  int std_err = 2;
  bool handlers_installed = false;
};
extern PlatformState platform_state;

namespace platform {

// Floating point: every exception masked, round to nearest (the plain IEEE double results).
void reset_fpu();
// Standard handles made valid (a closed one is reopened on /dev/null so a later open never takes
// its number), crash handlers installed, LC_NUMERIC pinned to "C", arguments checked and copied.
// Answers false, after a message on stderr naming the argument, when an argument is not UTF-8.
bool start(int argc, char** argv);
// Installs the signal handlers of the crash report (on an alternate stack, so a machine-stack
// overflow is reported too), and that alternate stack for the calling thread. Idempotent.
void install_crash_handlers();
// Puts LC_NUMERIC back to "C" (libraries such as GTK call setlocale).
void pin_numeric_locale();

// Machine stack the full call stack needs (with the sanitizers' larger frames).
constexpr uint64_t kStackBytes = 512ull << 20;
// Runs `work(argc, argv)` on a new thread whose machine stack is `bytes` (its pages are only touched
// when used) while the calling thread waits, and answers work's status. For the programs' main(),
// before anything else: the runtime starts and runs on that thread, whatever the soft stack limit.
// Asynchronous signals reach that thread only; an exit() on it ends the process as usual. When no
// such thread can be made, work runs on the calling thread, on the stack it has. Under a soft limit
// on address space or data, the stack is at most an eighth of it.
int run_on_stack(uint64_t bytes, int (*work)(int, char**), int argc, char** argv);
// Extent of the calling thread's machine stack: low (limit) and high (base) addresses.
void stack_extent(uintptr_t& low, uintptr_t& high);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool valid_utf8(const char* text, uint64_t length);

}  // namespace platform

// Message of a crash code; "unknown error code!" for codes without one.
const char* crash_message(int code);
// The 8-bit process status of a runtime status: -2 is 254; a non-zero status whose low byte is 0
// becomes 255, so a failure never reads as success.
int exit_status_byte(int status);
// Code 0: frees the C heap and exits with 0. Otherwise writes
// "*** Runtime Error N: MESSAGE\n*** at: XXXXXXXXh\n" to stderr first and exits with the code.
[[noreturn]] void crash_report(int code, uintptr_t address);
// Formats the crash report text into buf without allocating (usable from a signal handler);
// answers the length.
int format_crash_report(char* buf, int size, int code, uintptr_t address);

}  // namespace zem
