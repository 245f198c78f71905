// Case folding: the one-to-one case mappings of code points, from generated tables.
#include "runtime/casefold.h"

#include <algorithm>

#include "runtime/casefold_tables.h"
#include "runtime/error.h"
#include "runtime/memory.h"

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

int64_t part_count_of(const Cell& str, const Cell& part) {
  if (part.is(TYPE_INTEGER)) return part.int_value();
  if (part.type() != str.type() || part.node() != str.node()) fire(Err::script_invalid_part, &part);
  return int64_t{static_cast<int32_t>(part.head_index())} - static_cast<int32_t>(str.head_index());
}

CaseChange change_case(Cell& value, const Cell* part, bool upper) {
  if (value.is(TYPE_CHAR)) {
    value.set_char_value(map_char(value.char_value(), upper));
    return {0, 0};
  }
  NodeId node = value.node();
  SeriesBuffer* b = series_buffer(node);
  uint32_t length = b->length();
  int32_t index = static_cast<int32_t>(value.head_index());
  uint32_t from = index < 0 ? 0 : std::min(static_cast<uint32_t>(index), length);
  size_t count = length - from;
  if (part) count = part_count(part_count_of(value, *part), count);
  for (size_t i = from; i < from + count; i++) {
    int unit = static_cast<int>(b->unit());
    uint8_t* at = b->head_ptr() + i * unit;
    uint32_t cp = unicode::read_unit(at, unit);
    uint32_t m = map_char(cp, upper);
    if (m == cp) continue;
    if (unicode::unit_for(m) > unit) {
      b = unicode::widen_series(node, unicode::unit_for(m));
      unit = static_cast<int>(b->unit());
      at = b->head_ptr() + i * unit;
    }
    unicode::write_unit(at, unit, m);
  }
  return {from, static_cast<uint32_t>(count)};
}

}  // namespace zem::casefold
