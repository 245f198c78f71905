// String hashes: one 32-bit block per character, so a text hashes alike in every storage unit, folded
// to upper case as the case-insensitive string comparison folds.
#include "runtime/casefold.h"
#include "runtime/hashtab.h"
#include "runtime/memory.h"
#include "runtime/murmur.h"
#include "runtime/unicode.h"

namespace zem::hashtab {

namespace {
constexpr uint8_t kSliceType = 56;  // internal: a string cell whose w3 limits the characters hashed
}

uint32_t hash_string(const Cell& cell, bool case_sensitive) {
  murmur::Hasher h(hash_state.seed);
  if (cell.node() == 0) return h.finish(0);
  const SeriesBuffer* b = series_buffer(cell.node());
  uint32_t unit = b->unit();
  uint32_t len = b->length();
  uint32_t at = cell.head_index() < len ? cell.head_index() : len;
  uint32_t n = len - at;
  if (cell.type() == kSliceType && cell.slice_length() >= 0 && uint32_t(cell.slice_length()) < n)
    n = uint32_t(cell.slice_length());
  const uint8_t* p = b->head_ptr() + size_t(at) * unit;
  for (uint32_t i = 0; i < n; i++, p += unit) {
    uint32_t c = unicode::read_unit(p, int(unit));
    h.block(case_sensitive ? c : casefold::map_char(c, true));
  }
  return h.finish(n * 4);
}

}  // namespace zem::hashtab
