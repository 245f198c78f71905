// Helpers for the C++ benchmarks that time an outside program as the peer: a scratch folder, files
// written into it, best-of-N wall time of a command or of our own code, and the seconds a python3
// snippet reports for its own timed part.
#pragma once
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline std::string scratch_dir() {
  char path[] = "/tmp/zem-bench-XXXXXX";
  if (!mkdtemp(path)) {
    std::perror("mkdtemp");
    std::exit(1);
  }
  return path;
}

inline void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    std::exit(1);
  }
}

inline std::vector<uint8_t> read_file(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  uint8_t chunk[1 << 16];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  return bytes;
}

// Best wall time of `runs` calls of fn, in seconds.
template <class Fn>
double best_of(int runs, Fn&& fn) {
  double best = 1e30;
  for (int i = 0; i < runs; i++) {
    const auto start = std::chrono::steady_clock::now();
    fn();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  return best;
}

// Runs a shell command; a failure ends the benchmark, since its figure would be meaningless.
inline void must_run(const std::string& command) {
  const int status = std::system(command.c_str());
  if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
}

// Best wall time of a shell command, process start included.
inline double time_command(int runs, const std::string& command) {
  return best_of(runs, [&] { must_run(command); });
}

// Debian's python3 when there is one, as bench/run uses: one from a version manager is often built
// without the same optimisations.
inline std::string python3() { return access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3"; }

// Runs `python3 -c code` and reads the number it prints last (the seconds it timed itself).
inline double python_seconds(const std::string& code) {
  std::string command = python3() + " -c '" + code + "'";
  FILE* p = popen(command.c_str(), "r");
  double seconds = -1;
  char line[256];
  while (p && std::fgets(line, sizeof line, p)) seconds = std::atof(line);
  if (!p || pclose(p) != 0 || seconds < 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::exit(1);
  }
  return seconds;
}

// Best time python3 takes for `expr` over `d`, the bytes of file (zlib is imported), then `check`.
inline double python_best_of(int runs, const std::string& file, const std::string& expr,
                             const std::string& check = "True") {
  return python_seconds("import zlib, time; d = open(\"" + file + "\", \"rb\").read(); best = 1e9\n"
                        "for i in range(" + std::to_string(runs) + "):\n"
                        " t = time.perf_counter(); r = " + expr + "; best = min(best, time.perf_counter() - t)\n"
                        "assert " + check + "\nprint(best)");
}

// One result line: our time, the peer's, and their ratio (below 1: we are faster).
inline void report(const char* name, double ours, double peer, const char* peer_name, double goal) {
  std::printf("%-8s ours %8.1f ms  %-28s %8.1f ms  ratio %.2f (goal <= %.2f) %s\n", name, ours * 1e3, peer_name,
              peer * 1e3, ours / peer, goal, ours / peer <= goal ? "met" : "MISSED");
}

// Deterministic bytes (xorshift64*), the same on every run.
struct Rng {
  uint64_t s = 0x9E3779B97F4A7C15ull;
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1Dull;
  }
};

}  // namespace bench
