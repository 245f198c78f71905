// find and select on text, binary! and vector!, and parse's tests of the text at a position.
#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem::strings {

namespace {

// The complement flag of a bitset's byte series (bits past the stored bytes are members).
constexpr uint32_t kBitsetComplement = 0x80000;

Cell* answer(ActionCall& call, const Cell& value) {
  call.result() = value;
  return &call.result();
}

// What is searched for: one unit tested by a predicate, or a run of code points.
struct Pattern {
  enum Kind { code_point, bitset, number, text } kind = text;
  uint32_t cp = 0;
  Cell value{};  // the bitset or the number
  const uint8_t* p = nullptr;
  uint32_t unit = 1;
  uint32_t m = 0;
  std::vector<uint32_t> own;
  Cell formed{};  // a formed value's string

  uint32_t at(uint32_t i) const { return str::get_char(p + static_cast<size_t>(i) * unit, unit); }
};

bool is_text_series(TypeId t) { return str::is_text_type(t); }

double number_of(const Cell& c) { return c.is(TYPE_INTEGER) ? c.int_value() : c.float_value(); }

// Prepares the pattern. Allocation happens here only, so buffer addresses taken afterwards stay
// valid through the search.
void prepare(Pattern& pat, const Cell& series, const Cell& value) {
  TypeId st = series.type();
  TypeId t = value.type();
  bool element_series = st == TYPE_BINARY || st == TYPE_VECTOR;
  if (t == TYPE_CHAR) {
    pat.kind = Pattern::code_point;
    pat.cp = value.char_value();
  } else if (t == TYPE_BITSET) {
    pat.kind = Pattern::bitset;
    pat.value = value;
  } else if ((t == TYPE_INTEGER || t == TYPE_FLOAT) && element_series) {
    pat.kind = Pattern::number;
    pat.value = value;
  } else if (t == TYPE_BINARY && st != TYPE_BINARY) {
    fire(Err::script_invalid_arg, &value);
  } else if (t == TYPE_TAG) {
    pat.own.push_back('<');
    uint32_t n = str::count_from_head(value);
    for (uint32_t i = 0; i < n; i++) pat.own.push_back(str::code_point_at(value, i));
    pat.own.push_back('>');
  } else if (str::is_text_type(t) || t == TYPE_BINARY) {
    pat.formed = value;
  } else if (t == TYPE_WORD) {
    std::string_view name = symbol::name(value.word_symbol());
    const uint8_t* p = reinterpret_cast<const uint8_t*>(name.data());
    const uint8_t* end = p + name.size();
    while (p < end) {
      size_t len = static_cast<size_t>(end - p);
      int32_t cp = unicode::decode_utf8_checked(p, len);
      if (cp < 0) break;
      pat.own.push_back(static_cast<uint32_t>(cp));
      p += len;
    }
  } else {
    pat.formed = str::make_string(16);
    form_onto(pat.formed.node(), value);
  }
  if (pat.kind != Pattern::text) return;
  if (pat.formed.header != 0) {
    SeriesBuffer* b = series_buffer(pat.formed.node());
    uint32_t h = std::min(pat.formed.head_index(), b->length());
    pat.unit = b->unit();
    pat.p = b->head_ptr() + static_cast<size_t>(h) * pat.unit;
    pat.m = b->length() - h;
  } else {
    pat.unit = 4;
    pat.p = reinterpret_cast<const uint8_t*>(pat.own.data());
    pat.m = static_cast<uint32_t>(pat.own.size());
  }
}

struct Haystack {
  const uint8_t* p;  // the buffer's first unit
  uint32_t unit;
  Cell series;
  uint32_t at(uint32_t i) const { return str::get_char(p + static_cast<size_t>(i) * unit, unit); }
};

bool unit_matches(const Pattern& pat, const Haystack& h, uint32_t pos, bool fold_case) {
  switch (pat.kind) {
    case Pattern::code_point: {
      uint32_t c = h.at(pos);
      return c == pat.cp || (fold_case && fold(c) == fold(pat.cp));
    }
    case Pattern::bitset:
      return bitset_has(pat.value, h.at(pos));
    case Pattern::number: {
      if (h.series.is(TYPE_BINARY))
        return pat.value.is(TYPE_INTEGER) && static_cast<int64_t>(h.at(pos)) == pat.value.int_value();
      Cell e = further_type_hooks().vector_element(h.series, h.p + static_cast<size_t>(pos) * h.unit);
      if (!(e.is(TYPE_INTEGER) || e.is(TYPE_FLOAT))) return false;
      return number_of(e) == number_of(pat.value);
    }
    case Pattern::text:
      break;
  }
  return false;
}

// The m units of the pattern starting at `from`.
bool text_matches(const Pattern& pat, const Haystack& h, uint32_t from, bool fold_case) {
  for (uint32_t i = 0; i < pat.m; i++) {
    uint32_t a = h.at(from + i), b = pat.at(i);
    if (a == b) continue;
    if (!fold_case || fold(a) != fold(b)) return false;
  }
  return true;
}

// Folded code points of the bytes 0-255, for scanning 1-byte text.
const uint32_t* byte_folds() {
  static uint32_t table[256];
  static bool made = false;
  if (!made) {
    for (uint32_t b = 0; b < 256; b++) table[b] = fold(b);
    made = true;
  }
  return table;
}

// The bytes whose fold is a given folded code point; kept for the last one asked, since a search
// is often repeated for the same pattern.
struct FirstBytes {
  uint32_t folded = UINT32_MAX;
  bool hit[256] = {};
  uint32_t count = 0;
  uint8_t only = 0, other = 0;  // the bytes when count is 1 or 2
};

const FirstBytes& first_bytes(uint32_t folded) {
  static FirstBytes f;
  if (f.folded == folded) return f;
  const uint32_t* folds = byte_folds();
  f.folded = folded;
  f.count = 0;
  for (uint32_t b = 0; b < 256; b++) {
    f.hit[b] = folds[b] == folded;
    if (f.hit[b]) {
      f.other = f.only;
      f.only = static_cast<uint8_t>(b);
      f.count++;
    }
  }
  return f;
}

// The common forward search, step 1: the first unit of the pattern is found by a scan of the bytes
// (memchr, or a byte table when folding), the rest compared from a pattern folded once. Answers the
// first unit of the match, or -1.
int64_t scan_forward(const Pattern& pat, const Haystack& h, uint32_t from, uint32_t end,
                     bool fold_case) {
  uint32_t m = pat.kind == Pattern::text ? pat.m : 1;
  if (end < m || from > end - m) return -1;
  // The pattern folded once (short patterns stay off the heap).
  uint32_t small[32];
  std::vector<uint32_t> big;
  uint32_t* pf = small;
  if (m > 32) {
    big.resize(m);
    pf = big.data();
  }
  for (uint32_t i = 0; i < m; i++) {
    uint32_t c = pat.kind == Pattern::text ? pat.at(i) : pat.cp;
    pf[i] = fold_case ? fold(c) : c;
  }
  uint32_t last_start = end - m;
  if (h.unit == 1) {
    const uint32_t* folds = byte_folds();
    const uint8_t* base = h.p;
    if (!fold_case) {
      if (pf[0] > 0xFF) return -1;
      const uint8_t* p = base + from;
      const uint8_t* stop = base + last_start + 1;
      while (p < stop) {
        p = static_cast<const uint8_t*>(std::memchr(p, static_cast<int>(pf[0]), stop - p));
        if (!p) return -1;
        uint32_t i = 1;
        while (i < m && p[i] == pf[i]) i++;
        if (i == m) return p - base;
        p++;
      }
      return -1;
    }
    const FirstBytes& first = first_bytes(pf[0]);
    if (first.count == 0) return -1;
    for (uint32_t pos = from; pos <= last_start; pos++) {
      if (first.count == 1) {  // one byte folds to it: memchr finds the candidates
        const void* hit = std::memchr(base + pos, first.only, last_start + 1 - pos);
        if (!hit) return -1;
        pos = static_cast<uint32_t>(static_cast<const uint8_t*>(hit) - base);
      } else if (first.count == 2) {  // a letter's two forms
        pos += static_cast<uint32_t>(
            str::find_either_byte(base + pos, last_start + 1 - pos, first.only, first.other));
        if (pos > last_start) return -1;
      } else if (!first.hit[base[pos]]) {
        continue;
      }
      uint32_t i = 1;
      while (i < m && folds[base[pos + i]] == pf[i]) i++;
      if (i == m) return pos;
    }
    return -1;
  }
  for (uint32_t pos = from; pos <= last_start; pos++) {
    uint32_t i = 0;
    for (; i < m; i++) {
      uint32_t c = h.at(pos + i);
      if (c != pf[i] && (!fold_case || fold(c) != pf[i])) break;
    }
    if (i == m) return pos;
  }
  return -1;
}

int64_t int_refinement(const Cell& c, std::string_view name) {
  if (c.is(TYPE_INTEGER)) return c.int_value();
  fire_refine_arg(name, c);
}

}  // namespace

bool bitset_has(const Cell& bitset, uint32_t cp) {
  const SeriesBuffer* b = series_buffer(bitset.node());
  if (static_cast<uint64_t>(cp) >= static_cast<uint64_t>(b->used()) * 8)
    return (b->flags & kBitsetComplement) != 0;
  return (b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

namespace {

// The search; answers the head index of the answer, or -1. `matched` receives the length of the
// match (m for a pattern, 1 for a single unit).
int64_t search(const Cell& series, const Cell& value, const FindOptions& o, uint32_t* matched) {
  SeriesBuffer* b = series_buffer(series.node());
  uint32_t len = b->length();
  if (len == 0) return -1;
  uint32_t head = series.head_index();
  if (head >= len && !o.reverse) return -1;
  head = std::min(head, len);
  if (o.wildcard) fire(Err::internal_not_done);
  int64_t n = 1;
  if (o.skip) {
    n = int_refinement(*o.skip, "skip");
    if (n < 1) fire(Err::script_out_of_range, o.skip);
  }
  bool backward = o.last || o.reverse;
  int64_t count = -1;
  if (o.part) {
    if (o.part->is(TYPE_INTEGER))
      count = o.part->int_value();
    else if (o.part->type() == series.type() && o.part->node() == series.node())
      count = static_cast<int64_t>(o.part->head_index()) - head;
    else
      fire_refine_arg("part", *o.part);
    if (count < 1) return -1;
  }
  bool fold_case = is_text_series(series.type()) && !o.exact;

  Pattern pat;
  prepare(pat, series, value);
  b = series_buffer(series.node());
  Haystack hay{b->head_ptr(), b->unit(), series};
  bool single = pat.kind != Pattern::text;
  if (!single && pat.m == 0) return -1;
  uint32_t m = single ? 1 : pat.m;

  auto matches_from = [&](int64_t first) {
    return single ? unit_matches(pat, hay, static_cast<uint32_t>(first), fold_case)
                  : text_matches(pat, hay, static_cast<uint32_t>(first), fold_case);
  };
  auto answer_at = [&](int64_t first) -> int64_t {
    *matched = m;
    if (!o.tail) return first;
    return single ? first + n : first + m;
  };

  if (!backward) {
    int64_t end = count < 0 ? len : std::min<int64_t>(head + count, len);
    if (n == 1 && !o.match && (pat.kind == Pattern::text || pat.kind == Pattern::code_point)) {
      int64_t first = scan_forward(pat, hay, head, static_cast<uint32_t>(end), fold_case);
      return first < 0 ? -1 : answer_at(first);
    }
    for (int64_t pos = head; pos < end; pos += n) {
      if (pos + m <= end && matches_from(pos)) return answer_at(pos);
      if (o.match) break;
    }
    return -1;
  }
  int64_t low, pos;
  if (o.last) {
    int64_t end = count < 0 ? len : std::min<int64_t>(head + count, len);
    low = head;
    pos = end - 1;
  } else {
    if (o.match) return -1;
    low = count < 0 ? 0 : std::max<int64_t>(0, static_cast<int64_t>(head) - count);
    pos = static_cast<int64_t>(head) - 1;
    if (pos < low) return -1;
  }
  for (; pos >= low; pos -= n) {
    int64_t first = pos - (m - 1);
    if (first >= low && matches_from(first)) return answer_at(first);
    if (o.match) break;
  }
  return -1;
}

// The forward search of a prepared pattern, step 1, from `head` to the tail.
int64_t search_forward(const Pattern& pat, const Cell& series, uint32_t head, bool fold_case) {
  SeriesBuffer* b = series_buffer(series.node());
  const uint32_t len = b->length();
  if (head >= len) return -1;
  Haystack hay{b->head_ptr(), b->unit(), series};
  if (pat.kind == Pattern::text || pat.kind == Pattern::code_point)
    return scan_forward(pat, hay, head, len, fold_case);
  for (uint32_t pos = head; pos < len; pos++)
    if (unit_matches(pat, hay, pos, fold_case)) return pos;
  return -1;
}

FindOptions options_of(ActionCall& call, bool with_tail_and_match) {
  FindOptions o;
  o.part = call.refinement_arg(FIND_PART);
  o.skip = call.refinement_arg(FIND_SKIP);
  o.exact = call.has(FIND_CASE) || call.has(FIND_SAME);
  o.wildcard = call.has(FIND_ANY) || call.has(FIND_WITH);
  o.last = call.has(FIND_LAST);
  o.reverse = call.has(FIND_REVERSE);
  if (with_tail_and_match) {
    o.tail = call.has(FIND_TAIL);
    o.match = call.has(FIND_MATCH);
  }
  return o;
}

}  // namespace

Cell find(const Cell& series, const Cell& value, const FindOptions& options, const ActionCall*) {
  uint32_t matched = 0;
  int64_t at = search(series, value, options, &matched);
  if (at < 0) return shared_cells.none;
  Cell result = series;
  uint32_t len = series_buffer(series.node())->length();
  result.set_head_index(static_cast<uint32_t>(std::min<int64_t>(at, len)));
  return result;
}

void find_each(const Cell& series, const Cell& value, bool exact,
               const std::function<uint32_t(uint32_t)>& step) {
  // As search: nothing to find from the tail, before the pattern is looked at.
  if (series.head_index() >= series_buffer(series.node())->length()) return;
  Pattern pat;
  prepare(pat, series, value);
  if (pat.kind == Pattern::text && pat.m == 0) return;
  const bool fold_case = is_text_series(series.type()) && !exact;
  int64_t at = search_forward(pat, series, series.head_index(), fold_case);
  while (at >= 0) at = search_forward(pat, series, step(static_cast<uint32_t>(at)), fold_case);
}

Cell select(const Cell& series, const Cell& value, const FindOptions& options, const ActionCall*) {
  FindOptions o = options;
  o.tail = false;
  o.match = false;
  uint32_t matched = 0;
  int64_t at = search(series, value, o, &matched);
  if (at < 0) return shared_cells.none;
  SeriesBuffer* b = series_buffer(series.node());
  uint64_t next = static_cast<uint64_t>(at) + matched;
  if (next >= b->length()) return shared_cells.none;
  const uint8_t* p = b->head_ptr() + next * b->unit();
  Cell c{};
  if (series.is(TYPE_BINARY)) {
    c.set_header(TYPE_INTEGER);
    c.set_int_value(*p);
  } else if (series.is(TYPE_VECTOR)) {
    c = further_type_hooks().vector_element(series, p);
  } else {
    c.set_header(TYPE_CHAR);
    c.set_char_value(str::get_char(p, b->unit()));
  }
  return c;
}

Cell* find_handler(ActionCall& call) {
  return answer(call, find(call.result(), call.arg(1), options_of(call, true), &call));
}

Cell* select_handler(ActionCall& call) {
  return answer(call, select(call.result(), call.arg(1), options_of(call, false), &call));
}

// ---- Parse's matching primitives -----------------------------------------------------------------

bool head_char_in_bitset(const Cell& s, const Cell& bitset) {
  if (str::head_at_tail(s)) return false;
  return bitset_has(bitset, str::code_point_at(s, 0));
}

bool matches_tag_brackets(const Cell& s, const Cell& tag) {
  uint32_t n = str::count_from_head(s);
  uint64_t close = 1 + static_cast<uint64_t>(str::count_from_head(tag));
  if (n == 0 || close >= n) return false;
  return str::code_point_at(s, 0) == '<' && str::code_point_at(s, static_cast<uint32_t>(close)) == '>';
}

bool matches_at_head(const Cell& s, const Cell& value, CompareOp op) {
  if (str::head_at_tail(s)) return false;
  TypeId t = value.type();
  if (t == TYPE_CHAR) {
    uint32_t c = str::code_point_at(s, 0);
    uint32_t v = value.char_value();
    return c == v || (op != COMP_STRICT_EQUAL && fold(c) == fold(v));
  }
  if (t == TYPE_TAG) {
    if (!matches_tag_brackets(s, value)) return false;
    Cell inner = s;
    inner.set_head_index(inner.head_index() + 1);
    return compare_values(inner, value, op, true) == 0;
  }
  if (str::is_text_type(t)) return compare_values(s, value, op, true) == 0;
  return false;
}

}  // namespace zem::strings
