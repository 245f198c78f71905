// Parse throughput: splits a generated 10 MB text of records ("id,name,score\n") into a block of
// [id name score] blocks with collect/keep, and prints the time; bench/parse_records.py does the
// same with python3's `re` for comparison.
// usage: build/bench_parse_records [MEGABYTES]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/string_storage.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/parse.h"
#include "evaluator/stack.h"
#include "runtime/startup.h"

using namespace zem;

namespace {

// The same text as the python twin: a 32-bit LCG picks each field.
std::string make_text(size_t bytes) {
  std::string s;
  s.reserve(bytes + 64);
  uint32_t seed = 12345;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  while (s.size() < bytes) {
    s += std::to_string(next() % 1000000);
    s += ',';
    uint32_t n = 3 + next() % 8;
    for (uint32_t i = 0; i < n; i++) s += char('a' + next() % 26);
    s += ',';
    s += std::to_string(next() % 100);
    s += '\n';
  }
  return s;
}

Cell charset(const char* first, const char* last) {
  Cell bs = make_bitset(32, 0, false);
  bits_set_range(bitset_bits(bs), uint8_t(*first), uint8_t(*last), true);
  return bs;
}

void set_word(const char* name, const Cell& value) {
  Cell w = word::make_from_c_name(name);
  context::set_word_value(w, value);
}

}  // namespace

int main(int argc, char** argv) {
  size_t mb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 10;
  runtime_init(1, argv);
  const std::string text = make_text(mb << 20);
  set_word("digit", charset("0", "9"));
  set_word("alpha", charset("a", "z"));
  const char* rules_text =
      "[collect [some [collect [keep some digit #\",\" keep some alpha #\",\" keep some digit] "
      "#\"^/\"]]]";
  Cell rules{};
  lexer::ScanMode mode;
  lexer::scan_buffer(&rules, reinterpret_cast<const uint8_t*>(rules_text), std::strlen(rules_text),
                     mode, nullptr, nullptr, nullptr, nullptr);
  context::bind_block(rules, context::global(), false);
  set_word("rules", rules);
  Cell input = str::make_from_c_text(text);
  set_word("input", input);
  double best = 1e9;
  uint32_t records = 0;
  for (int run = 0; run < 3; ++run) {
    stack::reset();
    stack::push_anon_frame(FRAME_NATIVE);
    auto t0 = std::chrono::steady_clock::now();
    Cell r = parse::run(input, *block::head_of(rules), 0, 0, nullptr);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!r.is(TYPE_BLOCK)) {
      std::fprintf(stderr, "the rules did not collect\n");
      return 1;
    }
    records = block::length(r);
    if (s < best) best = s;
  }
  std::printf("parse of %.1f MB into %u records, best of 3: %.3f s (%.1f MB/s)\n",
              double(text.size()) / (1 << 20), records, best, double(text.size()) / (1 << 20) / best);
  return 0;
}
