// Process start-up and the crash report: arguments, statuses, signals mapped to their codes.
#include "runtime/platform.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>

#include <cfenv>
#include <cstdlib>
#include <string>

#include "runtime/startup.h"

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

// Runs in the re-executed process of the next test only.
TEST(Platform, StackLimitAfterReexec) {
  if (!std::getenv("ZEM_TEST_STACK_CHILD")) GTEST_SKIP() << "runs inside StackLimitIsRaisedOnce";
  rlimit lim{};
  ASSERT_EQ(getrlimit(RLIMIT_STACK, &lim), 0);
  EXPECT_GE(lim.rlim_cur, 64u << 20);
  EXPECT_STREQ(std::getenv(platform::kStackReexecMarker), "1");
}

void reexec_with_low_limit() {
  rlimit lim{};
  getrlimit(RLIMIT_STACK, &lim);
  if (lim.rlim_max != RLIM_INFINITY && lim.rlim_max < (64u << 20)) std::_Exit(0);  // cannot raise
  lim.rlim_cur = 8u << 20;
  setrlimit(RLIMIT_STACK, &lim);
  unsetenv(platform::kStackReexecMarker);
  setenv("ZEM_TEST_STACK_CHILD", "1", 1);
  char self[] = "/proc/self/exe";
  char filter[] = "--gtest_filter=Platform.StackLimitAfterReexec";
  char* args[] = {self, filter, nullptr};
  platform::ensure_stack_limit(args, 64u << 20);
  std::_Exit(3);  // not reached when the program was executed again
}

TEST(PlatformDeath, StackLimitIsRaisedOnce) {
  EXPECT_EXIT(reexec_with_low_limit(), testing::ExitedWithCode(0), "");
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
