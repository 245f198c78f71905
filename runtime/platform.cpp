// The process platform layer on Linux: handles, arguments, FPU set-up, crash reports and exit.
#include "runtime/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cfenv>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "runtime/c_heap.h"
#include "runtime/unicode.h"

namespace zem {

PlatformState platform_state;

namespace {

// Room for the report handler even when a thread's machine stack is exhausted: this area for the
// first thread that installs the handlers, a mapping for any other.
constexpr size_t kAltStackBytes = 64 * 1024;
alignas(16) char alt_stack[kAltStackBytes];
std::atomic<bool> alt_stack_taken{false};
thread_local bool alt_stack_set = false;

void install_alt_stack() {
  if (alt_stack_set) return;
  void* area = alt_stack_taken.exchange(true)
                   ? ::mmap(nullptr, kAltStackBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                   : alt_stack;
  if (area == MAP_FAILED) return;
  stack_t ss{};
  ss.ss_sp = area;
  ss.ss_size = kAltStackBytes;
  alt_stack_set = ::sigaltstack(&ss, nullptr) == 0;
}

struct StackJob {
  int (*work)(int, char**);
  int argc;
  char** argv;
  sigset_t mask;  // the signal mask the program started with
  int status;
};

void* run_stack_job(void* p) {
  auto* job = static_cast<StackJob*>(p);
  ::pthread_sigmask(SIG_SETMASK, &job->mask, nullptr);
  job->status = job->work(job->argc, job->argv);
  return nullptr;
}

void write_all(int fd, const char* p, size_t n) {
  while (n > 0) {
    ssize_t w = ::write(fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
    } else if (!(w < 0 && errno == EINTR)) {
      return;
    }
  }
}

int signal_code(int sig, int si_code) {
  switch (sig) {
    case SIGSEGV:
      return CRASH_SEGMENTATION_FAULT;
    case SIGBUS:
      return CRASH_BUS_ERROR;
    case SIGFPE:
      return si_code == FPE_FLTDIV || si_code == FPE_INTDIV ? CRASH_FLOAT_DIVIDE_BY_ZERO
                                                            : CRASH_FPU_ERROR;
    default:
      return CRASH_UNKNOWN_ERROR;
  }
}

// Async-signal-safe: formats on the stack, write(2), _exit.
void on_fatal_signal(int sig, siginfo_t* info, void* context) {
  uintptr_t address = reinterpret_cast<uintptr_t>(info->si_addr);
#if defined(__x86_64__)
  // The instruction that faulted, not the data address it touched.
  if (context) address = static_cast<uintptr_t>(static_cast<ucontext_t*>(context)->uc_mcontext.gregs[REG_RIP]);
#endif
  int code = signal_code(sig, info->si_code);
  char buf[160];
  int n = format_crash_report(buf, sizeof buf, code, address);
  write_all(platform_state.std_err, buf, static_cast<size_t>(n));
  _exit(exit_status_byte(code));
}

void ensure_open(int fd) {
  if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
    int null_fd = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
}

char* append_text(char* o, char* end, const char* s) {
  while (*s && o < end) *o++ = *s++;
  return o;
}

}  // namespace

namespace platform {

void reset_fpu() { std::fesetenv(FE_DFL_ENV); }

void install_crash_handlers() {
  install_alt_stack();
  if (platform_state.handlers_installed) return;
  struct sigaction sa {};
  sa.sa_sigaction = on_fatal_signal;
  sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  sigemptyset(&sa.sa_mask);
  for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::sigaction(sig, &sa, nullptr);
  platform_state.handlers_installed = true;
}

void pin_numeric_locale() { std::setlocale(LC_NUMERIC, "C"); }

int run_on_stack(uint64_t bytes, int (*work)(int, char**), int argc, char** argv) {
  // A thread's stack is address space taken whole at its start (the main thread's grows as it is
  // used): under a cap on address space or data it takes an eighth of the cap at most.
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit lim{};
    if (::getrlimit(resource, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY)
      bytes = std::min<uint64_t>(bytes, lim.rlim_cur / 8);
  }
  StackJob job{work, argc, argv, {}, 0};
  // Blocked here before the thread starts, so that no asynchronous signal lands on this waiting
  // thread; the worker puts the program's own mask back.
  sigset_t all;
  sigfillset(&all);
  ::pthread_sigmask(SIG_BLOCK, &all, &job.mask);
  pthread_attr_t attr;
  pthread_t thread;
  bool started = false;
  if (::pthread_attr_init(&attr) == 0) {
    started = ::pthread_attr_setstacksize(&attr, bytes) == 0 &&
              ::pthread_create(&thread, &attr, run_stack_job, &job) == 0;
    ::pthread_attr_destroy(&attr);
  }
  if (!started) {
    ::pthread_sigmask(SIG_SETMASK, &job.mask, nullptr);
    return work(argc, argv);  // the interpreter measures whichever stack it runs on
  }
  ::pthread_join(thread, nullptr);
  ::pthread_sigmask(SIG_SETMASK, &job.mask, nullptr);
  return job.status;
}

void stack_extent(uintptr_t& low, uintptr_t& high) {
  pthread_attr_t attr;
  void* addr = nullptr;
  size_t size = 0;
  if (::pthread_getattr_np(::pthread_self(), &attr) == 0) {
    ::pthread_attr_getstack(&attr, &addr, &size);
    ::pthread_attr_destroy(&attr);
  }
  low = reinterpret_cast<uintptr_t>(addr);
  high = low + size;
}

bool valid_utf8(const char* text, uint64_t length) {
  const auto* p = reinterpret_cast<const uint8_t*>(text);
  const uint8_t* end = p + length;
  while (p < end) {
    if (unicode::fast_decode_utf8_char(p, end) < 0) return false;
  }
  return true;
}

bool start(int argc, char** argv) {
  for (int fd : {0, 1, 2}) ensure_open(fd);
  platform_state.std_in = 0;
  platform_state.std_out = 1;
  platform_state.std_err = 2;
  install_crash_handlers();
  pin_numeric_locale();

  for (int i = 0; i < argc; ++i) {
    if (!valid_utf8(argv[i], std::strlen(argv[i]))) {
      char buf[96];
      char* end = buf + sizeof buf;
      char* o = append_text(buf, end, "*** Error: command-line argument ");
      char num[12];
      int k = 0;
      for (int v = i; k == 0 || v > 0; v /= 10) num[k++] = static_cast<char>('0' + v % 10);
      while (k > 0 && o < end) *o++ = num[--k];
      o = append_text(o, end, " is not valid UTF-8\n");
      write_all(platform_state.std_err, buf, static_cast<size_t>(o - buf));
      return false;
    }
  }
  auto** vec = static_cast<char**>(cheap::alloc((static_cast<size_t>(argc) + 1) * sizeof(char*)));
  for (int i = 0; i < argc; ++i) {
    size_t n = std::strlen(argv[i]);
    vec[i] = static_cast<char*>(cheap::alloc(n + 1));
    std::memcpy(vec[i], argv[i], n + 1);
  }
  vec[argc] = nullptr;
  platform_state.argc = argc;
  platform_state.argv = vec;
  return true;
}

}  // namespace platform

const char* crash_message(int code) {
  switch (code) {
    case CRASH_ACCESS_VIOLATION: return "access violation";
    case CRASH_INVALID_ALIGNMENT: return "invalid alignment";
    case CRASH_BREAKPOINT: return "breakpoint";
    case CRASH_SINGLE_STEP: return "single step";
    case CRASH_BOUNDS_EXCEEDED: return "bounds exceeded";
    case CRASH_FLOAT_DIVIDE_BY_ZERO: return "float divide by zero";
    case CRASH_SEGMENTATION_FAULT: return "segmentation fault";
    case CRASH_FPU_ERROR: return "FPU error";
    case CRASH_BUS_ERROR: return "Bus error";
    case CRASH_OUT_OF_MEMORY: return "out of memory";
    case CRASH_NO_CATCH: return "no CATCH for THROW";
    case CRASH_ASSERTION_FAILED: return "assertion failed";
    case CRASH_UNKNOWN_ERROR: return "unknown error";
    case CRASH_NO_CASE_MATCH: return "no value matched in CASE";
    case CRASH_NO_SWITCH_MATCH: return "no value matched in SWITCH";
    default: return "unknown error code!";
  }
}

int exit_status_byte(int status) {
  int b = status & 0xFF;
  return status != 0 && b == 0 ? 255 : b;
}

int format_crash_report(char* buf, int size, int code, uintptr_t address) {
  char* o = buf;
  char* end = buf + size;
  o = append_text(o, end, "*** Runtime Error ");
  char num[12];
  int k = 0;
  bool neg = code < 0;
  uint32_t v = neg ? 0u - static_cast<uint32_t>(code) : static_cast<uint32_t>(code);
  do {
    num[k++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  if (neg && o < end) *o++ = '-';
  while (k > 0 && o < end) *o++ = num[--k];
  o = append_text(o, end, ": ");
  o = append_text(o, end, crash_message(code));
  o = append_text(o, end, "\n*** at: ");
  static const char kHex[] = "0123456789ABCDEF";
  uint32_t a = static_cast<uint32_t>(address);  // low 32 bits, as every address the system shows
  for (int i = 7; i >= 0 && o < end; --i) *o++ = kHex[(a >> (i * 4)) & 0xF];
  o = append_text(o, end, "h\n");
  return static_cast<int>(o - buf);
}

void crash_report(int code, uintptr_t address) {
  if (code != 0) {
    char buf[160];
    int n = format_crash_report(buf, sizeof buf, code, address);
    write_all(platform_state.std_err, buf, static_cast<size_t>(n));
  }
  cheap::free_all();
  std::exit(exit_status_byte(code));
}

}  // namespace zem
