// Process start-up and the crash report: arguments, statuses, signals mapped to their codes.
#include "runtime/platform.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cfenv>
#include <cstdlib>
#include <string>

#include "evaluator/stack.h"
#include "runtime/startup.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

TEST(Platform, ExitStatusIsEightBitAndNeverFalselyZero) {
  const struct {
    int status, byte;
  } cases[] = {{0, 0}, {1, 1}, {-2, 254}, {254, 254}, {256, 255}, {-256, 255}, {512, 255},
               {257, 1}, {95, 95}, {-1, 255}};
  for (const auto& c : cases) EXPECT_EQ(exit_status_byte(c.status), c.byte) << c.status;
}

TEST(Platform, CrashReportText) {
  char buf[160];
  int n = format_crash_report(buf, sizeof buf, 32, 0x123456789ABCDEF0ull);
  EXPECT_EQ(std::string(buf, n), "*** Runtime Error 32: segmentation fault\n*** at: 9ABCDEF0h\n");
  n = format_crash_report(buf, sizeof buf, 12345, 0);
  EXPECT_EQ(std::string(buf, n), "*** Runtime Error 12345: unknown error code!\n*** at: 00000000h\n");
  n = format_crash_report(buf, 19, 95, 0);  // a short buffer is never overrun
  EXPECT_EQ(std::string(buf, n), "*** Runtime Error 9");
}

TEST(Platform, Utf8Validation) {
  const struct {
    const char* text;
    bool valid;
  } cases[] = {
      {"plain", true},
      {"\xC3\xA9t\xC3\xA9", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},    // U+10FFFF
      {"\xFF", false},
      {"\xC3", false},               // truncated
      {"\xC0\xAF", false},           // overlong
      {"\xE0\x80\xAF", false},       // overlong
      {"\xED\xA0\x80", false},       // surrogate
      {"\xF4\x90\x80\x80", false},   // above U+10FFFF
      {"a\x80", false},              // stray continuation
      {"\xE2\x82", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::valid_utf8(c.text, std::char_traits<char>::length(c.text)), c.valid) << c.text;
  }
}

TEST(Platform, StartCopiesArgumentsOntoTheCHeap) {
  char prog[] = "/usr/bin/zem";
  char arg[] = "caf\xC3\xA9";
  char* argv1[] = {prog, nullptr};
  ASSERT_TRUE(platform::start(1, argv1));
  EXPECT_EQ(platform_state.argc, 1);
  EXPECT_STREQ(platform_state.argv[0], prog);
  EXPECT_EQ(platform_state.argv[1], nullptr);
  EXPECT_NE(platform_state.argv[0], prog);

  char* argv2[] = {prog, arg, nullptr};
  ASSERT_TRUE(platform::start(2, argv2));
  EXPECT_STREQ(platform_state.argv[1], arg);
}

TEST(Platform, StackExtentHoldsTheCurrentFrame) {
  uintptr_t low, high;
  platform::stack_extent(low, high);
  volatile char here = 0;
  auto at = reinterpret_cast<uintptr_t>(&here);
#if !defined(ZEM_SANITIZE)  // the sanitizer may keep locals on a separate fake stack
  EXPECT_LT(low, at);
  EXPECT_LT(at, high);
#else
  (void)at;
#endif
  EXPECT_GE(high - low, 1u << 20);
}

// What the work of run_on_stack saw of its thread.
struct StackProbe {
  pid_t pid = 0;
  pthread_t thread{};
  uintptr_t low = 0, high = 0, here = 0;
  bool sigusr1_blocked = false, sigint_blocked = true;
  uintptr_t machine_limit = 0;
  Err overflow{};
} probe;

int probe_thread(int argc, char** argv) {
  probe.pid = getpid();
  probe.thread = pthread_self();
  platform::stack_extent(probe.low, probe.high);
  volatile char here = 0;
  probe.here = reinterpret_cast<uintptr_t>(&here);
  sigset_t mask;
  pthread_sigmask(SIG_SETMASK, nullptr, &mask);
  probe.sigusr1_blocked = sigismember(&mask, SIGUSR1) == 1;
  probe.sigint_blocked = sigismember(&mask, SIGINT) == 1;
  return argc * 10 + (argv[0][0] == 'z');
}

// No second start of the program: the same process, a thread with the stack asked for and the
// signal mask the program had.
TEST(Platform, RunOnStackRunsTheWorkOnALargeStackInThisProcess) {
  sigset_t usr1, before;
  sigemptyset(&usr1);
  sigaddset(&usr1, SIGUSR1);
  pthread_sigmask(SIG_BLOCK, &usr1, &before);
  char prog[] = "zem";
  char* args[] = {prog, nullptr};
  EXPECT_EQ(platform::run_on_stack(64u << 20, probe_thread, 1, args), 11);
  sigset_t after;
  pthread_sigmask(SIG_SETMASK, &before, &after);
  EXPECT_EQ(sigismember(&after, SIGUSR1), 1);
  EXPECT_EQ(sigismember(&after, SIGINT), 0);  // the waiting thread's mask is put back

  EXPECT_EQ(probe.pid, getpid());
  EXPECT_FALSE(pthread_equal(probe.thread, pthread_self()));
  EXPECT_GE(probe.high - probe.low, 64u << 20);
#if !defined(ZEM_SANITIZE)
  EXPECT_LT(probe.low, probe.here);
  EXPECT_LT(probe.here, probe.high);
#endif
  EXPECT_TRUE(probe.sigusr1_blocked);
  EXPECT_FALSE(probe.sigint_blocked);
}

int overflow_on_thread(int, char**) {
  if (!init_through(StartLayer::library)) return 1;
  platform::stack_extent(probe.low, probe.high);
  probe.machine_limit = stack_state.machine_limit;
  bool failed = false;
  test::eval_text("b: [1] append/only b b compose/deep b", &failed, &probe.overflow);
  release_runtime();
  return failed ? 0 : 2;
}

// The runtime started on the worker measures the worker's stack: recursion in C++ that would
// exhaust it ends in the error.
TEST(Platform, DeepRecursionOnTheWorkerIsStackOverflow) {
  EXPECT_EQ(platform::run_on_stack(64u << 20, overflow_on_thread, 0, nullptr), 0);
  EXPECT_EQ(probe.overflow, Err::internal_stack_overflow);
  EXPECT_GT(probe.machine_limit, probe.low);
  EXPECT_LT(probe.machine_limit, probe.low + (1u << 20));
}

TEST(PlatformDeath, InvalidUtf8ArgumentIsRefused) {
  char prog[] = "zem";
  char bad[] = "ok\xFFno";
  char* argv[] = {prog, bad, nullptr};
  EXPECT_EXIT(runtime_init(2, argv), testing::ExitedWithCode(1),
              "command-line argument 1 is not valid UTF-8");
}

// Signals end the process with their code and the report on stderr.
// A page that may not be touched (a null store would be caught by the sanitizer first).
volatile int* no_access_page() {
  return static_cast<volatile int*>(
      mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
}
volatile double zero = 0.0;
volatile double quotient;

TEST(PlatformDeath, SignalsMapToTheirCodes) {
  const struct {
    void (*raise_it)();
    int code;
    const char* message;
  } cases[] = {
      {[] { raise(SIGSEGV); }, 32, "Runtime Error 32: segmentation fault\n\\*\\*\\* at: [0-9A-F]{8}h"},
      {[] { *no_access_page() = 1; }, 32, "Runtime Error 32: segmentation fault"},
      {[] { raise(SIGBUS); }, 34, "Runtime Error 34: Bus error"},
      {[] {
         feenableexcept(FE_DIVBYZERO);
         quotient = 1.0 / zero;
       },
       7, "Runtime Error 7: float divide by zero"},
      {[] { raise(SIGFPE); }, 33, "Runtime Error 33: FPU error"},
      {[] { raise(SIGILL); }, 99, "Runtime Error 99: unknown error"},
  };
  for (const auto& c : cases) {
    EXPECT_EXIT(
        {
          platform::install_crash_handlers();
          c.raise_it();
        },
        testing::ExitedWithCode(c.code), c.message);
  }
}

// Deep recursion that exhausts the machine stack still gets its report (alternate signal stack).
int depth(volatile char* p, int n) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(n);
  return n <= 0 ? p[0] : depth(frame, n + 1) + frame[0];
}

TEST(PlatformDeath, StackOverflowIsReported) {
  EXPECT_EXIT(
      {
        platform::install_crash_handlers();
        volatile char c = 0;
        depth(&c, 1);
      },
      testing::ExitedWithCode(32), "segmentation fault");
}

TEST(PlatformDeath, ExitCodeEscapingEveryCatcherIsNoCatchForThrow) {
  EXPECT_EXIT(run_outermost([] { throw Unwind{EXIT_THROW}; }), testing::ExitedWithCode(95),
              "Runtime Error 95: no CATCH for THROW");
}

TEST(PlatformDeath, RuntimeTableOutOfMemoryIsReported) {
  EXPECT_EXIT(run_outermost([] { throw std::bad_alloc(); }), testing::ExitedWithCode(94),
              "Runtime Error 94: out of memory");
}

TEST(PlatformDeath, RuntimeExitGivesTheEightBitStatus) {
  EXPECT_EXIT(runtime_exit(-2), testing::ExitedWithCode(254), "");
  EXPECT_EXIT(runtime_exit(512), testing::ExitedWithCode(255), "");
  EXPECT_EXIT(crash_report(0, 0), testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace zem
