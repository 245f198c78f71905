// Zembin throughput: the library's own source blocks, loaded again and again into one block until its
// molded text reaches 20 MB, encoded and decoded in both forms, against the lexer scanning the molded
// text back into values (what a Zembin decode replaces). Rates are MB of molded text per second,
// best of 3; the decode rate over the scan rate is the point of the format.
// usage: build/bench_zembin [MEGABYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "evaluator/dispatch.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "library/boot.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/startup.h"
#include "services/zembin/decoder.h"
#include "services/zembin/encoder.h"

using namespace zem;

namespace {

double best_seconds(const std::function<void()>& run) {
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    run();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (s < best) best = s;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 20;
  init_through(StartLayer::library);
  // Nothing below reaches a safe point; the block is kept on the argument stack all the same.
  gc::set_enabled(false);
  Cell* all = stack::push_value(block::make(0));

  // Each round loads every library source afresh, so no series is shared between rounds.
  size_t text_size = 0;
  while (text_size < megabytes << 20) {
    for (const boot::LibrarySource& source : boot::embedded_sources()) {
      Cell code = boot::load_source(source.text);
      block::append_cells_from(*all, code);
      text_size += actions::mold_text(code).size();
    }
  }
  const std::string text = actions::mold_text(*all);
  const double mb = double(text.size()) / (1 << 20);
  std::printf("zembin: %u values at the top, molded text %.1f MB, best of 3 (MB of text per second)\n",
              block::length(*all), mb);

  double decode_compact = 0;
  for (bool compact : {true, false}) {
    const char* form = compact ? "compact" : "plain";
    std::vector<uint8_t> bytes;
    double s = best_seconds([&] { bytes = zembin::encode_bytes(*all, compact); });
    std::printf("  encode %-8s        %8.1f MB/s  (%.1f MB buffer)\n", form, mb / s,
                double(bytes.size()) / (1 << 20));
    Cell* out = stack::push_value(block::make(0));
    s = best_seconds([&] {
      block::clear_at_head(*out);
      zembin::decode(bytes.data(), bytes.size(), *out);
    });
    std::printf("  decode %-8s        %8.1f MB/s\n", form, mb / s);
    if (compact) decode_compact = s;
    stack::drop_values(1);
  }

  double scan = best_seconds([&] {
    Cell out{};
    lexer::ScanMode mode;
    if (lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode,
                           nullptr, nullptr, nullptr, nullptr) == TYPE_ERROR) {
      std::fprintf(stderr, "the molded text does not scan\n");
      std::exit(1);
    }
  });
  std::printf("  lexer scan of the text %8.1f MB/s\n", mb / scan);
  std::printf("  compact decode / lexer scan: %.2fx faster\n", scan / decode_compact);
  return 0;
}
