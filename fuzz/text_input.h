// Shared by the fuzz targets of the library's text codecs: the runtime boots once, each input is
// put into the global word `fuzz-bytes` as a binary! and a fixed script runs over it, as zem-run
// runs a script (under its try frame). Zem errors are expected outcomes; a crash, a sanitizer
// report or a C++ exception that escapes the script is the fault looked for.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/startup.h"
#include "tests/runner/script.h"

namespace fuzz_text {

constexpr size_t kMaxInput = 1 << 16;

inline void run(const std::string& script) {
  try {
    zem::runner::run_script(script);
  } catch (const zem::Unwind&) {
    std::fprintf(stderr, "an exit escaped the script's try frame\n");
    std::abort();
  } catch (const std::bad_alloc&) {
    // The C heap ran out: an input that asks for too much, not a fault.
  }
}

inline void boot(int* argc, char*** argv) {
  ::setenv("ZEM_GC_STRESS", "61", 0);
  // The runtime's crash report would turn a sanitizer's fault into a plain exit.
  constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
  struct sigaction saved[4];
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], nullptr, &saved[i]);
  zem::runtime_init(*argc, *argv);
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], &saved[i], nullptr);
  zem::run_outermost([] { zem::runner::prepare(); });
}

// The input as `fuzz-bytes`, then the script (which converts it to text itself: bytes that are not
// UTF-8 end the script with a Zem error).
inline void run_over(const uint8_t* data, size_t size, const std::string& script) {
  if (size > kMaxInput) return;
  zem::run_outermost([&] {
    zem::Cell bytes = zem::binary::load(data, static_cast<uint32_t>(size));
    zem::context::set_or_add_word(zem::context::global(),
                                  zem::make_word_cell(zem::symbol::intern("fuzz-bytes"), 0), bytes);
  });
  run(script);
}

}  // namespace fuzz_text
