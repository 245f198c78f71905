// Whole scripts through the booted runtime: each input is loaded and evaluated as zem-run does,
// under its try frame. Whatever the script does, the outcome must be a value or a Zem error: no
// crash, no sanitizer report, no escape of a C++ exception.
//
// The runtime boots once; inputs share its global context, so a script may leave words changed for
// the next (a crash found that way reproduces with the inputs of the run, or by cat-ing them into
// one script for zem-run). The collector runs in stress mode (ZEM_GC_STRESS, 61 unless set) and
// words that reach outside the process (quit, call, files, waits) are unset. Endless loops are
// the fuzzer's -timeout to stop: fuzz/run uses fork mode so they end one job, not the run.
#include <signal.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "runtime/error.h"
#include "runtime/startup.h"
#include "tests/runner/script.h"

namespace {

constexpr size_t kMaxInput = 1 << 14;

// Unset before any input runs: they end the process, start others, touch files or sleep.
constexpr const char* kSandbox =
    "quit: quit-return: call: browse: wait: read: write: open: create: delete: rename: "
    "create-dir: set-current-dir: set-env: save: load-extension: none";

int run(const std::string& text) {
  int status = 0;
  try {
    status = zem::runner::run_script(text);
  } catch (const zem::Unwind&) {
    std::fprintf(stderr, "an exit escaped the script's try frame\n");
    std::abort();
  } catch (const std::bad_alloc&) {
    // The C heap ran out: an input that asks for too much, not a fault.
  }
  return status;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  ::setenv("ZEM_GC_STRESS", "61", 0);
  // The runtime's crash report would turn a sanitizer's fault into a plain exit: keep the
  // sanitizer's handlers.
  constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL};
  struct sigaction saved[4];
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], nullptr, &saved[i]);
  zem::runtime_init(*argc, *argv);
  for (int i = 0; i < 4; ++i) ::sigaction(kSignals[i], &saved[i], nullptr);
  zem::run_outermost([] { zem::runner::prepare(); });
  if (run(kSandbox) != 0) {
    std::fprintf(stderr, "the sandbox prelude failed\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > kMaxInput) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  // The first error ends a script: each line then runs on its own as well, so the later ones
  // are reached too.
  if (run(text) != 0) {
    for (size_t pos = 0, eol; pos < text.size(); pos = eol + 1) {
      eol = text.find('\n', pos);
      if (eol == std::string::npos) eol = text.size();
      if (eol > pos && eol - pos < text.size()) run(text.substr(pos, eol - pos));
    }
  }
  return 0;
}
