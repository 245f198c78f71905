// Lexer throughput: scans a generated 10 MB source text (all token kinds, nested blocks, comments,
// strings with escapes and some UTF-8) without building values, and prints MB/s.
// usage: build/bench_lexer_scan [MEGABYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "evaluator/lexer.h"

using namespace zem;
using namespace zem::lexer;

namespace {

std::string make_source(size_t bytes) {
  static const char* const kPieces[] = {
      "print", "x: 42", "y: x + 1.5e3", ":get-it", "'lit", "/ref", "a/b/c", "obj/field: 10",
      "\"a string with ^\"escapes^\" and ^(41)\"", "{braced {nested} text}", "%{raw}%", "#issue",
      "#\"c\"", "%file.zem", "#{DEADBEEF}", "12%", "1.2.3", "1-Jan-2000", "12:30:15", "3x4",
      "(1, 2)", "$12.50", "<tag attr=\"v\">", "http://example.org/path", "me@example.org", "FFh",
      "@ref", "#(true)", "-1234567", "caf\xC3\xA9", "\"\xE2\x82\xAC 10\"", "; a comment to the end\n",
  };
  std::string s;
  s.reserve(bytes + 256);
  unsigned seed = 12345;
  int depth = 0;
  while (s.size() < bytes) {
    seed = seed * 1103515245 + 12345;
    unsigned r = seed >> 8;
    if (r % 13 == 0 && depth < 8) {
      s += "[";
      ++depth;
    } else if (r % 11 == 0 && depth > 0) {
      s += "]";
      --depth;
    } else {
      s += kPieces[r % (sizeof kPieces / sizeof *kPieces)];
    }
    s += (r % 9 == 0) ? "\n" : " ";
  }
  while (depth-- > 0) s += "]";
  return s;
}

double best_seconds(const std::string& src, bool list_tokens, size_t* tokens) {
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    auto t0 = std::chrono::steady_clock::now();
    if (list_tokens) {
      TokenStream ts = tokenize(src);
      if (!ts.ok) {
        std::fprintf(stderr, "syntax error %s near %s\n", ts.error.position().c_str(), ts.error.near.c_str());
        std::exit(1);
      }
      *tokens = ts.tokens.size();
    } else {
      ScanMode mode;
      mode.wrap = false;
      TypeId t = scan_buffer(nullptr, reinterpret_cast<const uint8_t*>(src.data()), src.size(), mode,
                             nullptr, nullptr, nullptr, nullptr);
      if (t == TYPE_ERROR) std::exit(1);
    }
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
  std::string src = make_source(mb << 20);
  size_t tokens = 0;
  double scan = best_seconds(src, false, &tokens);
  double listed = best_seconds(src, true, &tokens);
  double size = double(src.size()) / (1 << 20);
  std::printf("lexer scan of %.1f MB (%zu tokens), best of 5:\n", size, tokens);
  std::printf("  full scan, no values:   %8.1f MB/s\n", size / scan);
  std::printf("  token stream listed:    %8.1f MB/s\n", size / listed);
  return 0;
}
