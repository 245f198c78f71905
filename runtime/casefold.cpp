#include "runtime/casefold.h"

#include <algorithm>

#include "runtime/casefold_tables.h"

namespace zem::casefold {

namespace {

// Entry c of a direct array holds the mapping of code point c, or 0 when c maps to itself.
struct CasefoldState {
  uint32_t to_upper[0x10000];
  uint32_t to_lower[0x10000];
  bool ready;
};
CasefoldState g_casefold;

uint32_t map_astral(uint32_t cp, std::span<const CasePair> table) {
  if (cp < table.front().from || cp > table.back().from) return cp;
  for (const CasePair& p : table) {
    if (p.from < cp) continue;
    return p.from == cp ? p.to : cp;
  }
  return cp;
}

}  // namespace

void init() {
  if (g_casefold.ready) return;
  for (const CasePair& p : kToUpperBmp) g_casefold.to_upper[p.from] = p.to;
  for (const CasePair& p : kToLowerBmp) g_casefold.to_lower[p.from] = p.to;
  g_casefold.ready = true;
}

std::span<const CasePair> table(bool upper, bool astral) {
  if (astral) return upper ? std::span<const CasePair>(kToUpperAstral) : kToLowerAstral;
  return upper ? std::span<const CasePair>(kToUpperBmp) : kToLowerBmp;
}

uint32_t map_char(uint32_t cp, bool upper) {
  if (cp <= 0xFFFF) {
    uint32_t m = upper ? g_casefold.to_upper[cp] : g_casefold.to_lower[cp];
    return m ? m : cp;
  }
  return map_astral(cp, upper ? std::span<const CasePair>(kToUpperAstral) : kToLowerAstral);
}

uint32_t swap_case(uint32_t cp) {
  uint32_t up = to_upper(cp);
  return up != cp ? up : to_lower(cp);
}

size_t part_count(int64_t count, size_t left) {
  if (count <= 0) return 0;
  return std::min(static_cast<size_t>(count), left);
}

void change_case(unicode::UnitText& text, size_t from, size_t count, bool upper) {
  size_t n = text.size();
  from = std::min(from, n);
  count = std::min(count, n - from);
  for (size_t i = from; i < from + count; i++) {
    uint32_t cp = text.at(i);
    uint32_t m = map_char(cp, upper);
    if (m != cp) text.put(i, m);
  }
}

}  // namespace zem::casefold
