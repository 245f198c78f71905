// Display width of code points, from generated tables.
#include "runtime/char_width.h"

#include <algorithm>

#include "runtime/char_width_tables.h"

namespace zem::unicode {

bool in_ranges(uint32_t cp, std::span<const CodeRange> table) {
  if (table.empty() || cp < table.front().first || cp > table.back().last) return false;
  // First range whose end is not below cp.
  auto it = std::lower_bound(table.begin(), table.end(), cp,
                             [](const CodeRange& r, uint32_t c) { return r.last < c; });
  return it != table.end() && it->first <= cp;
}

int char_width(uint32_t cp) {
  if (cp == 0) return 0;
  if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
  if (in_ranges(cp, kZeroWidth)) return 0;
  if (in_ranges(cp, kWide)) return 2;
  return 1;
}

int char_width_cjk(uint32_t cp) {
  if (in_ranges(cp, kAmbiguous)) return 2;
  return char_width(cp);
}

std::span<const CodeRange> width_table(WidthTable which) {
  switch (which) {
    case WidthTable::zero:
      return kZeroWidth;
    case WidthTable::wide:
      return kWide;
    default:
      return kAmbiguous;
  }
}

}  // namespace zem::unicode
