// External processes: spawning, the poll loop over the pipes, output decoding and reaping.
#include "services/os/process.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"
#include "services/os/files.h"

extern char** environ;

namespace zem::process {

namespace {

// A descriptor closed when its holder goes out of scope (every error path included).
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

bool make_pipe(Fd& read_end, Fd& write_end) {
  int p[2];
  if (pipe2(p, O_CLOEXEC) != 0) return false;
  read_end.fd = p[0];
  write_end.fd = p[1];
  return true;
}

void set_nonblocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

int exit_code(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int wait_for(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return exit_code(status);
}

void* reap(void* arg) {
  const pid_t pid = static_cast<pid_t>(reinterpret_cast<intptr_t>(arg));
  wait_for(pid);
  return nullptr;
}

// A child nobody waits for is waited for by a thread of its own, for its id alone.
void reap_later(pid_t pid) {
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_attr_setstacksize(&attr, 64 * 1024);
  pthread_t thread;
  if (pthread_create(&thread, &attr, reap, reinterpret_cast<void*>(static_cast<intptr_t>(pid))) != 0) {
    // Without a thread the child is reaped when it has ended by the time of the next check.
    waitpid(pid, nullptr, WNOHANG);
  }
  pthread_attr_destroy(&attr);
}

// The spawn attributes and file actions of one start; freed on every path.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Our ignored SIGPIPE and any blocked signals are not the child's business.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  // Starts argv; answers 0 or the error number.
  int start(const std::vector<std::string>& argv, pid_t& pid) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    return posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  }
};

const std::vector<std::string> shell_argv(const std::string& command) { return {"/bin/sh", "-c", command}; }

// Writes the input and drains output and error until all three are done.
void pump(Fd& in, const std::string& input, Fd& out, std::string& out_bytes, Fd& err, std::string& err_bytes) {
  size_t written = 0;
  if (in.fd >= 0 && input.empty()) in.reset();
  for (int fd : {in.fd, out.fd, err.fd})
    if (fd >= 0) set_nonblocking(fd);
  char chunk[65536];
  while (in.fd >= 0 || out.fd >= 0 || err.fd >= 0) {
    pollfd fds[3];
    Fd* owners[3];
    std::string* sinks[3];
    nfds_t n = 0;
    if (in.fd >= 0) fds[n] = {in.fd, POLLOUT, 0}, owners[n] = &in, sinks[n++] = nullptr;
    if (out.fd >= 0) fds[n] = {out.fd, POLLIN, 0}, owners[n] = &out, sinks[n++] = &out_bytes;
    if (err.fd >= 0) fds[n] = {err.fd, POLLIN, 0}, owners[n] = &err, sinks[n++] = &err_bytes;
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    for (nfds_t i = 0; i < n; i++) {
      if (!fds[i].revents) continue;
      Fd& fd = *owners[i];
      if (!sinks[i]) {
        const ssize_t k = ::write(fd.fd, input.data() + written, input.size() - written);
        if (k > 0) written += static_cast<size_t>(k);
        // A child that stops reading (EPIPE) simply does not get the rest.
        if ((k < 0 && errno != EAGAIN && errno != EINTR) || written == input.size()) fd.reset();
      } else {
        const ssize_t k = ::read(fd.fd, chunk, sizeof chunk);
        if (k > 0) {
          sinks[i]->append(chunk, static_cast<size_t>(k));
        } else if (k == 0 || (errno != EAGAIN && errno != EINTR)) {
          fd.reset();
        }
      }
    }
  }
}

// The stream's value in text: its POSIX path for a file!, else the text from its position.
std::string path_of(const Cell& file) {
  std::string path;
  Cell f = file;
  if (!files::os_path(f, path)) fire(Err::access_cannot_open, &file);
  return path;
}

}  // namespace

std::vector<std::string> split_command(std::string_view command) {
  std::vector<std::string> args;
  std::string arg;
  bool in_arg = false, quoted = false;
  auto finish = [&] {
    if (!in_arg) return;
    if (!arg.empty() && arg.front() == '"') arg.erase(0, 1);
    if (!arg.empty() && arg.back() == '"') arg.pop_back();
    args.push_back(arg);
    arg.clear();
    in_arg = false;
  };
  for (char c : command) {
    if (!quoted && (c == ' ' || c == '\t')) {
      finish();
      continue;
    }
    if (c == '"') quoted = !quoted;
    arg += c;
    in_arg = true;
  }
  finish();
  return args;
}

std::string repair_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  const size_t n = bytes.size();
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    size_t len = 0;
    uint8_t lo = 0x80, hi = 0xBF;  // the allowed range of the second byte
    if (b < 0x80) len = 1;
    else if (b >= 0xC2 && b <= 0xDF) len = 2;
    else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      if (b == 0xE0) lo = 0xA0;
      if (b == 0xED) hi = 0x9F;  // no surrogates
    } else if (b >= 0xF0 && b <= 0xF4) {
      len = 4;
      if (b == 0xF0) lo = 0x90;
      if (b == 0xF4) hi = 0x8F;
    }
    size_t good = len ? 1 : 0;
    while (good && good < len && i + good < n) {
      const uint8_t c = p[i + good];
      if (good == 1 ? (c < lo || c > hi) : (c < 0x80 || c > 0xBF)) break;
      good++;
    }
    if (len && good == len) {
      out.append(bytes.data() + i, len);
      i += len;
    } else {
      out += "\xEF\xBF\xBD";  // one replacement for the longest broken prefix
      i += good ? good : 1;
    }
  }
  return out;
}

SpawnResult spawn(const std::vector<std::string>& argv, const std::string& command, bool wait, bool shell,
                  const Redirect& in, Redirect& out, Redirect& err) {
  SpawnResult result;
  if (argv.empty() && !shell) return result;
  SpawnSetup setup;
  Fd in_child, in_parent, out_child, out_parent, err_child, err_parent;

  if (in.kind == Redirect::kFile) {
    in_child.fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
    if (in_child.fd < 0) return result;
  } else if (in.kind == Redirect::kData) {
    if (!make_pipe(in_child, in_parent)) return result;
  }
  auto prepare_output = [&](Redirect& r, Fd& child, Fd& parent, int target) {
    if (r.kind == Redirect::kFile) {
      child.fd = ::open(r.path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
      return child.fd >= 0 ? 0 : 1;
    }
    if (r.kind == Redirect::kData) return make_pipe(parent, child) ? 0 : -1;
    posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_WRONLY, 0);
    return 0;
  };
  int fault = prepare_output(out, out_child, out_parent, 1);
  if (fault == 0) fault = prepare_output(err, err_child, err_parent, 2) ? 2 : 0;
  if (fault) {
    if (fault > 0) result.cannot_open = fault;
    return result;
  }
  if (in_child.fd >= 0) posix_spawn_file_actions_adddup2(&setup.actions, in_child.fd, 0);
  if (out_child.fd >= 0) posix_spawn_file_actions_adddup2(&setup.actions, out_child.fd, 1);
  if (err_child.fd >= 0) posix_spawn_file_actions_adddup2(&setup.actions, err_child.fd, 2);

  pid_t pid = 0;
  int e = shell ? setup.start(shell_argv(command), pid) : setup.start(argv, pid);
  if (e == ENOENT && !shell) {
    result.shell = true;
    e = setup.start(shell_argv(command), pid);
  } else {
    result.shell = shell;
  }
  in_child.reset();
  out_child.reset();
  err_child.reset();
  if (e != 0) return result;

  const bool redirected = in.kind != Redirect::kNone || out.kind != Redirect::kNone || err.kind != Redirect::kNone;
  if (!wait && !redirected) {
    reap_later(pid);
    result.result = pid;
    return result;
  }
  pump(in_parent, in.bytes, out_parent, out.bytes, err_parent, err.bytes);
  result.result = wait_for(pid);
  return result;
}

bool start_detached(const std::vector<std::string>& argv) {
  Redirect none, out, err;
  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (argv.empty() || setup.start(argv, pid) != 0) return false;
  reap_later(pid);
  return true;
}

namespace {

// Input of a child from a string!, binary! or file! value.
void input_from(const Cell& value, Redirect& r) {
  if (value.is(TYPE_NONE)) return;
  if (value.is(TYPE_FILE)) {
    r.kind = Redirect::kFile;
    r.path = path_of(value);
  } else if (value.is(TYPE_BINARY)) {
    r.kind = Redirect::kData;
    const uint32_t n = binary::rs_length(value);
    if (n) r.bytes.assign(reinterpret_cast<const char*>(binary::rs_head(value)), n);
  } else {
    r.kind = Redirect::kData;
    Cell text = value;
    int32_t length = -1;
    const char* utf8 = unicode::string_to_utf8(text, &length);
    r.bytes.assign(utf8, static_cast<size_t>(length));
  }
}

void output_to(const Cell& value, Redirect& r) {
  if (value.is(TYPE_NONE)) return;
  if (value.is(TYPE_FILE)) {
    r.kind = Redirect::kFile;
    r.path = path_of(value);
  } else {
    r.kind = Redirect::kData;
  }
}

// Appends what a child wrote to the string! or binary! it was collected for.
void decode_output(const Cell& target, const Redirect& r) {
  if (r.kind != Redirect::kData || r.bytes.empty()) return;
  if (r.bytes.size() > static_cast<size_t>(kMaxSeriesBytes)) fire(Err::script_size_limit, &target);
  if (target.is(TYPE_BINARY)) {
    binary::append_bytes(target, reinterpret_cast<const uint8_t*>(r.bytes.data()),
                         static_cast<uint32_t>(r.bytes.size()));
    return;
  }
  const std::string text = repair_utf8(r.bytes);
  if (text.size() > static_cast<size_t>(kMaxSeriesBytes)) fire(Err::script_size_limit, &target);
  const Cell decoded = files::load_text(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  strings::append_text(target, decoded, -1, 1);
}

}  // namespace

int64_t call(const Cell& command, bool wait, bool shell, const Cell& in, const Cell& out, const Cell& err) {
  std::vector<std::string> argv;
  std::string text;
  if (command.is(TYPE_FILE)) {
    text = path_of(command);
    argv.push_back(text);
    // The shell gets the path as one word.
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    text = quoted + "'";
  } else {
    Cell c = command;
    int32_t length = -1;
    const char* utf8 = unicode::string_to_utf8(c, &length);
    text.assign(utf8, static_cast<size_t>(length));
    argv = split_command(text);
  }
  Redirect rin, rout, rerr;
  input_from(in, rin);
  output_to(out, rout);
  output_to(err, rerr);
  const SpawnResult r = spawn(argv, text, wait, shell, rin, rout, rerr);
  if (r.cannot_open) fire(Err::access_cannot_open, r.cannot_open == 2 ? &err : &out);
  decode_output(out, rout);
  decode_output(err, rerr);
  return r.result;
}

}  // namespace zem::process
