// The parse engine's value matching: literal matches, to/thru searches and repeated matches.
#include "evaluator/parse_match.h"

#include <algorithm>
#include <cstring>

#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "runtime/casefold.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem::parse {

InputKind input_kind(TypeId t) {
  if (str::is_text_type(t)) return InputKind::text;
  if (t == TYPE_BINARY) return InputKind::binary;
  return InputKind::block;
}

uint32_t unit_at(const Cell& input, uint32_t index) {
  SeriesBuffer* b = series_buffer(input.node());
  uint32_t unit = b->unit();
  return str::get_char(b->head_ptr() + size_t(index) * unit, unit);
}

uint32_t input_tail(const Cell& input) { return series::units_in_buffer(input.node()); }

uint32_t search_end(const Cell& input, int32_t limit) {
  uint32_t end = input_tail(input);
  if (limit > 0 && static_cast<uint32_t>(limit) < end) end = static_cast<uint32_t>(limit);
  return end;
}

namespace {

inline uint32_t fold(uint32_t cp) { return casefold::map_char(cp, false); }

inline bool same_char(uint32_t a, uint32_t b, int32_t mode) {
  return a == b || (mode != COMP_STRICT_EQUAL && fold(a) == fold(b));
}

bool is_text_value(TypeId t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_EMAIL || t == TYPE_REF;
}

bool in_bitset(const Cell& bitset, uint32_t cp) { return bits_test(bitset_bits(bitset), cp); }

// The text of `value` from its head against the input from absolute index `at`, within `end`.
bool text_equal_at(const Cell& input, uint32_t at, uint32_t end, const Cell& value, int32_t mode) {
  Cell v = value;
  uint32_t n = str::count_from_head(v);
  if (uint64_t(at) + n > end) return false;
  SeriesBuffer* ib = series_buffer(input.node());
  SeriesBuffer* vb = series_buffer(v.node());
  const uint32_t iu = ib->unit(), vu = vb->unit();
  const uint8_t* ip = ib->head_ptr() + size_t(at) * iu;
  const uint8_t* vp = vb->head_ptr() + size_t(v.head_index()) * vu;
  for (uint32_t i = 0; i < n; i++)
    if (!same_char(str::get_char(ip + size_t(i) * iu, iu), str::get_char(vp + size_t(i) * vu, vu), mode))
      return false;
  return true;
}

uint32_t value_length(const Cell& value) {
  Cell v = value;
  return str::count_from_head(v);
}

// Bytes a text or binary value stands for against binary input: its UTF-8 bytes or its bytes.
uint32_t byte_length(const Cell& value) {
  SeriesBuffer* b = series_buffer(value.node());
  uint32_t len = b->length();
  uint32_t h = std::min(value.head_index(), len);
  if (value.is(TYPE_BINARY)) return len - h;
  uint32_t unit = b->unit();
  return uint32_t(unicode::utf8_size_of_units(b->head_ptr() + size_t(h) * unit,
                                              b->head_ptr() + size_t(len) * unit, int(unit)));
}

// A binary! input matched through the binary! module; bytes are never case-folded.
int32_t match_binary_at(const Cell& input, const Cell& value, int32_t mode) {
  const uint32_t pos = input.head_index();
  const TypeId t = value.type();
  if (t == TYPE_BINARY || str::is_text_type(t)) {
    if (further_type_hooks().binary_match_series(input, value, mode, true) != 0) return -1;
    return int32_t(byte_length(value));
  }
  if (pos >= input_tail(input)) return -1;
  if (t == TYPE_BITSET) return further_type_hooks().binary_byte_in_bitset(input, value) ? 1 : -1;
  if (t == TYPE_CHAR) return unit_at(input, pos) == value.char_value() ? 1 : -1;
  return -1;
}

}  // namespace

bool compare_values(const Cell& element, const Cell& rule, int32_t mode) {
  CompareOp op = static_cast<CompareOp>(mode);
  if (rule.is(TYPE_LIT_WORD) || rule.is(TYPE_LIT_PATH))
    op = mode == COMP_STRICT_EQUAL ? COMP_PARSE_CASE : COMP_PARSE;
  return block::cell_compare(element, rule, op) == 0;
}

int32_t match_text_at(const Cell& input, const Cell& value, int32_t mode) {
  if (input.is(TYPE_BINARY)) return match_binary_at(input, value, mode);
  const uint32_t pos = input.head_index();
  const uint32_t tail = input_tail(input);
  const TypeId t = value.type();
  if (pos >= tail) return is_text_value(t) && value_length(value) == 0 ? 0 : -1;
  switch (t) {
    case TYPE_CHAR:
      return same_char(unit_at(input, pos), value.char_value(), mode) ? 1 : -1;
    case TYPE_BITSET:
      return in_bitset(value, unit_at(input, pos)) ? 1 : -1;
    case TYPE_TAG: {
      uint32_t n = value_length(value);
      if (uint64_t(pos) + n + 2 > tail) return -1;
      if (unit_at(input, pos) != '<' || unit_at(input, pos + 1 + n) != '>') return -1;
      return text_equal_at(input, pos + 1, tail, value, mode) ? int32_t(n + 2) : -1;
    }
    default:
      if (!is_text_value(t)) return -1;
      return text_equal_at(input, pos, tail, value, mode) ? int32_t(value_length(value)) : -1;
  }
}

namespace {

// The bytes a one-byte unit may hold to match a code point: the code point itself and, unless
// strict, every byte of the same fold. Kept for the last code point asked, since a rule searches
// the same one over and over.
struct ByteMatches {
  uint32_t cp = 0;
  int32_t mode = -1;
  bool binary = false;
  bool hit[256] = {};
  uint32_t count = 0;
  uint8_t only = 0, other = 0;  // the bytes when count is 1 or 2
};

const ByteMatches& byte_matches(uint32_t cp, int32_t mode, bool binary) {
  static ByteMatches m;
  if (m.mode == mode && m.cp == cp && m.binary == binary) return m;
  m.cp = cp;
  m.mode = mode;
  m.binary = binary;
  m.count = 0;
  for (uint32_t b = 0; b < 256; b++) {
    m.hit[b] = binary ? b == cp : same_char(b, cp, mode);
    if (m.hit[b]) {
      m.other = m.only;
      m.only = uint8_t(b);
      m.count++;
    }
  }
  return m;
}

// The first index in [from, end) of a one-byte unit that matches, or end.
uint32_t scan_bytes(const uint8_t* base, uint32_t from, uint32_t end, const ByteMatches& m) {
  if (from >= end || m.count == 0) return end;
  if (m.count == 1) {
    const void* p = std::memchr(base + from, m.only, end - from);
    return p ? uint32_t(static_cast<const uint8_t*>(p) - base) : end;
  }
  if (m.count == 2) return from + uint32_t(str::find_either_byte(base + from, end - from, m.only, m.other));
  for (uint32_t i = from; i < end; i++)
    if (m.hit[base[i]]) return i;
  return end;
}

// The first index in [from, end) whose unit matches the code point (folded unless strict), or end.
uint32_t scan_char(const Cell& input, uint32_t from, uint32_t end, uint32_t cp, int32_t mode) {
  SeriesBuffer* b = series_buffer(input.node());
  const uint32_t unit = b->unit();
  const uint8_t* base = b->head_ptr();
  const bool binary = input.is(TYPE_BINARY);
  if (unit == 1) return scan_bytes(base, from, end, byte_matches(cp, mode, binary));
  for (uint32_t i = from; i < end; i++) {
    uint32_t c = str::get_char(base + size_t(i) * unit, unit);
    if (binary ? c == cp : same_char(c, cp, mode)) return i;
  }
  return end;
}

// A text value against text input: candidates by its first code point, then the whole value.
bool search_text(const Cell& input, const Cell& value, int32_t mode, uint32_t pos, uint32_t end,
                 Found& found) {
  const uint32_t n = value_length(value);
  if (n == 0) {
    if (pos >= end) return false;
    found = {pos, 0};
    return true;
  }
  if (end < n) return false;
  const uint32_t first = str::code_point_at(value, 0);
  const uint32_t last_start = end - n + 1;
  const uint32_t tail = input_tail(input);
  for (uint32_t i = scan_char(input, pos, last_start, first, mode); i < last_start;
       i = scan_char(input, i + 1, last_start, first, mode)) {
    if (text_equal_at(input, i, tail, value, mode)) {
      found = {i, n};
      return true;
    }
  }
  return false;
}

// A binary value against binary input: bytes compared as they are.
bool search_bytes(const Cell& input, const Cell& value, uint32_t pos, uint32_t end, Found& found) {
  SeriesBuffer* vb = series_buffer(value.node());
  const uint32_t vh = std::min(value.head_index(), vb->length());
  const uint32_t n = vb->length() - vh;
  if (n == 0) {
    if (pos >= end) return false;
    found = {pos, 0};
    return true;
  }
  if (end < n || pos > end - n) return false;
  const uint8_t* v = vb->head_ptr() + vh;
  const uint8_t* base = series_buffer(input.node())->head_ptr();
  const uint32_t last_start = end - n + 1;
  for (uint32_t i = pos; i < last_start; i++) {
    const void* p = std::memchr(base + i, v[0], last_start - i);
    if (!p) return false;
    i = uint32_t(static_cast<const uint8_t*>(p) - base);
    if (std::memcmp(base + i, v, n) == 0) {
      found = {i, n};
      return true;
    }
  }
  return false;
}

}  // namespace

bool search_value(const Cell& input, const Cell& value, int32_t mode, int32_t limit, Found& found) {
  const uint32_t end = search_end(input, limit);
  const uint32_t pos = input.head_index();
  const TypeId t = value.type();
  switch (input_kind(input.type())) {
    case InputKind::block: {
      for (uint32_t i = pos; i < end; i++) {
        if (compare_values(*block::cell_at_index(input, i), value, mode)) {
          found = {i, 1};
          return true;
        }
      }
      return false;
    }
    case InputKind::binary:
    case InputKind::text: {
      if (t == TYPE_CHAR) {
        uint32_t i = scan_char(input, pos, end, value.char_value(), mode);
        if (i >= end) return false;
        found = {i, 1};
        return true;
      }
      if (t == TYPE_BITSET) {
        SeriesBuffer* b = series_buffer(input.node());
        const uint32_t unit = b->unit();
        const uint8_t* base = b->head_ptr();
        const BitsView bits = bitset_bits(value);
        for (uint32_t i = pos; i < end; i++) {
          if (bits_test(bits, str::get_char(base + size_t(i) * unit, unit))) {
            found = {i, 1};
            return true;
          }
        }
        return false;
      }
      if (!is_text_value(t) && t != TYPE_TAG && t != TYPE_BINARY) fire(Err::script_parse_rule, &value);
      if (t == TYPE_BINARY && !input.is(TYPE_BINARY)) fire(Err::script_parse_rule, &value);
      if (input.is(TYPE_BINARY) && t == TYPE_BINARY) return search_bytes(input, value, pos, end, found);
      if (!input.is(TYPE_BINARY) && t != TYPE_TAG) return search_text(input, value, mode, pos, end, found);
      Cell probe = input;
      for (uint32_t i = pos; i < end; i++) {
        probe.set_head_index(i);
        int32_t n = match_text_at(probe, value, mode);
        if (n >= 0 && i + uint32_t(n) <= end) {
          found = {i, uint32_t(n)};
          return true;
        }
      }
      return false;
    }
  }
  return false;
}

bool match_repeat(Cell& input, const Cell& value, int32_t min, int32_t max, int32_t& count,
                  int32_t mode, int32_t limit) {
  const uint32_t end = search_end(input, limit);
  const bool blocks = input_kind(input.type()) == InputKind::block;
  int32_t n = 0;
  count = 0;
  if (!blocks && is_text_value(value.type()) && value_length(value) == 0) return true;
  if (!blocks && !is_text_value(value.type()) && !value.is(TYPE_TAG) && !value.is(TYPE_CHAR) &&
      !value.is(TYPE_BITSET) && !value.is(TYPE_BINARY))
    return false;
  while (input.head_index() < end && (max < 0 || n < max)) {
    uint32_t step;
    if (blocks) {
      if (!compare_values(*block::cell_at_index(input, input.head_index()), value, mode)) break;
      step = 1;
    } else {
      int32_t m = match_text_at(input, value, mode);
      if (m <= 0 || input.head_index() + uint32_t(m) > end) break;
      step = uint32_t(m);
    }
    input.set_head_index(input.head_index() + step);
    n++;
  }
  count = n;
  return n >= min && (max < 0 || n <= max);
}

}  // namespace zem::parse
