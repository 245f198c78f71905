// Interning and looking up one million distinct names in the symbol table.
// usage: build/bench_symbol_intern [count]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "datatypes/symbol.h"
#include "runtime/casefold.h"
#include "runtime/collector.h"
#include "runtime/hashtab.h"
#include "runtime/memory.h"
#include "services/random.h"

using namespace zem;

int main(int argc, char** argv) {
  size_t n = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1000000;
  alloc::init();
  gc::init();
  casefold::init();
  hashtab::init(random::kHashSeed);
  symbol::init();

  // Names shaped like words of a program: a few letters, a hyphen, a number, some upper case.
  std::vector<std::string> names;
  names.reserve(n);
  for (size_t i = 0; i < n; i++) {
    std::string s = (i % 3 == 0) ? "Item-" : (i % 3 == 1) ? "value-of-" : "x";
    s += std::to_string(i * 2654435761u % 1000000007u);
    names.push_back(std::move(s));
  }

  using clock = std::chrono::steady_clock;
  auto t0 = clock::now();
  uint64_t sum = 0;
  for (const auto& s : names) sum += symbol::intern(s);
  auto t1 = clock::now();
  for (const auto& s : names) sum += symbol::intern(s);
  auto t2 = clock::now();
  for (const auto& s : names) sum += symbol::find(s);
  auto t3 = clock::now();

  auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
  std::printf("symbols: %u (checksum %llu), buckets: %u\n", symbol::count(), static_cast<unsigned long long>(sum),
              hashtab::record(symbol_state.index)->buckets);
  std::printf("intern %zu new names:      %8.1f ms  (%5.0f ns/name)\n", n, ms(t1 - t0), ms(t1 - t0) * 1e6 / n);
  std::printf("intern them again:           %8.1f ms  (%5.0f ns/name)\n", ms(t2 - t1), ms(t2 - t1) * 1e6 / n);
  std::printf("look them up (find):         %8.1f ms  (%5.0f ns/name)\n", ms(t3 - t2), ms(t3 - t2) * 1e6 / n);
  return symbol::count() == n ? 0 : 1;
}
