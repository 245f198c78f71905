// zem-run: boots the runtime without the GUI and runs one script file (or "-" for stdin), with
// any further arguments left on the command line for the script.
// Printed output goes to stdout; the exit status is the script's (0 at its end, 254 after an
// uncaught error, whose "*** " message goes to stderr).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "library/boot.h"
#include "runtime/platform.h"
#include "runtime/startup.h"
#include "services/os/command_line.h"
#include "tests/runner/script.h"

namespace {

constexpr int kUncaughtErrorStatus = -2;

bool read_all(int fd, std::string& out) {
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
    } else if (n == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
}

void say(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0 && errno != EINTR) return;
    if (n > 0) done += static_cast<size_t>(n);
  }
}

int run(int argc, char** argv) {
  // Arguments after the script are the script's own (system/options/args).
  bool check = argc >= 2 && std::strcmp(argv[1], "--check") == 0;
  zem::os::set_program_arguments(check ? 3 : 2);
  zem::boot::install_image(zem::boot::built_image());
  zem::runtime_init(argc, argv);
  if (argc < (check ? 3 : 2)) {
    say(2, "usage: zem-run FILE|- [ARG...] | --check FILE [ARG...]\n");
    zem::runtime_exit(2);
  }

  std::string source;
  const char* path = argv[check ? 2 : 1];
  bool ok;
  if (std::strcmp(path, "-") == 0) {
    ok = read_all(0, source);
  } else {
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    ok = fd >= 0 && read_all(fd, source);
    if (fd >= 0) ::close(fd);
  }
  if (!ok) {
    say(2, std::string("*** Access Error: cannot open: ") + path + "\n");
    zem::runtime_exit(kUncaughtErrorStatus);
  }

  int status = 0;
  zem::run_outermost([&] {
    zem::runner::prepare();
    status = check ? zem::runner::run_check(path, source) : zem::runner::run_script(source);
  });
  zem::runtime_exit(status);
}

}  // namespace

int main(int argc, char** argv) { return zem::platform::run_on_stack(zem::platform::kStackBytes, run, argc, argv); }
