// Token loaders of the kinds whose datatypes exist so far, and the builders of containers: each
// loader checks its token and, when asked to build, appends exactly one cell to the scan's output.
#include "evaluator/lexer_loaders.h"

#include <cctype>
#include <cstring>
#include <limits>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/word.h"
#include "evaluator/number_text.h"
#include "runtime/dtoa.h"
#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/url.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem::lexer {
namespace {

bool equal_nocase(const uint8_t* s, const uint8_t* e, std::string_view word) {
  if (size_t(e - s) != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(s[i]) != word[i]) return false;
  return true;
}

[[noreturn]] void bad(State& st, const uint8_t* start, const uint8_t* end, TypeId type) {
  syntax_error(st, start, end, ErrorKind::invalid, type);
}

// ---- text of the string family ----

// The unit a text needs: from the widest UTF-8 lead byte, raised by long hexadecimal escapes.
uint32_t text_unit(const uint8_t* s, const uint8_t* e, uint32_t flags, bool escapes) {
  uint32_t unit = 1u << (flags >> 30);
  if (unit > 4) unit = 4;
  if (escapes && unit < 4) {
    for (const uint8_t* p = s; p + 1 < e; ++p) {
      if (p[0] != '^') continue;
      if (p[1] != '(') {
        ++p;  // "^^" and the like: the next byte is the escaped one
        continue;
      }
      const uint8_t* q = p + 2;
      while (q < e && std::isxdigit(*q)) ++q;
      if (q < e && *q == ')') {
        ptrdiff_t digits = q - (p + 2);
        if (digits > 4) unit = 4;
        else if (digits > 2 && unit < 2) unit = 2;
      }
      p = q - 1;
    }
  }
  return unit;
}

// Builds a text value of `type` from [s, e): UTF-8, with "^" escapes decoded when `escapes`.
// Invalid UTF-8 or an invalid escape is a syntax error for `type`.
void load_text(State& st, const uint8_t* tstart, const uint8_t* tend, const uint8_t* s, const uint8_t* e,
               uint32_t flags, TypeId type, bool escapes, bool build) {
  uint32_t unit = text_unit(s, e, flags, escapes);
  Cell value{};
  uint8_t* out = nullptr;
  if (build) {
    str::init_with_unit(value, static_cast<uint32_t>(e - s), unit);
    value.set_header(type);
    out = series_buffer(value.node())->head_ptr();
  }
  uint32_t count = 0;
  for (const uint8_t* p = s; p < e;) {
    uint32_t cp = *p;
    if (cp == '^' && escapes) {
      p = decode_escape(p + 1, e, cp);
      if (!p) bad(st, tstart, tend, type);
    } else if (cp >= 0x80) {
      int n = decode_utf8(p, e, cp);
      if (!n) bad(st, tstart, tend, type);
      p += n;
    } else {
      ++p;
    }
    if (out) {
      if (unicode::unit_for(cp) > int(unit)) bad(st, tstart, tend, type);
      unicode::write_unit(out + size_t(count) * unit, int(unit), cp);
    }
    ++count;
  }
  if (build) {
    series_buffer(value.node())->set_length(count);
    *push_cell(st) = value;
  }
}

void load_string(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  // "..." or {...}: the text between the delimiters.
  TypeId type = st.string_type;
  st.string_type = TYPE_STRING;
  load_text(st, start, end, start + 1, end - 1, flags, type, (flags & F_CARET) != 0, build);
}

void load_raw_string(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  size_t run = 0;
  while (start + run < end && start[run] == '%') ++run;
  // The automaton's flags may not cover all of the text: take them from the text itself.
  const uint8_t* s = start + run + 1;
  const uint8_t* e = end - run - 1;
  uint32_t text_flags = 0;
  for (const uint8_t* p = s; p < e; ++p) text_flags |= kClassTable[*p];
  load_text(st, start, end, s, e, text_flags & ~kClassMask, TYPE_STRING, false, build);
}

// Text with percent-encoded bytes decoded: checked as UTF-8 first, so the decoded text is too.
void load_percent_text(State& st, const uint8_t* start, const uint8_t* end, const uint8_t* s,
                       uint32_t flags, TypeId type, bool build) {
  load_text(st, start, end, s, end, flags, type, false, false);
  if (!build) return;
  std::string text = url::percent_decode(std::string_view(reinterpret_cast<const char*>(s), size_t(end - s)));
  *push_cell(st) = str::make_from_utf8(text, type);
}

void load_file(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  if (end - start >= 2 && start[1] == '"') {
    if (end - start < 3 || end[-1] != '"') bad(st, start, end, TYPE_FILE);
    load_text(st, start, end, start + 2, end - 1, flags, TYPE_FILE, (flags & F_CARET) != 0, build);
    return;
  }
  if (std::memchr(start + 1, '%', size_t(end - start - 1))) {
    load_percent_text(st, start, end, start + 1, flags, TYPE_FILE, build);
  } else {
    load_text(st, start, end, start + 1, end, flags, TYPE_FILE, false, build);
  }
}

void load_url(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  if (*start == ':') bad(st, start, end, TYPE_GET_WORD);
  if (*start == '\'') bad(st, start, end, TYPE_LIT_WORD);
  if (flags & F_PERCENT) {
    load_percent_text(st, start, end, start, flags, TYPE_URL, build);
  } else {
    load_text(st, start, end, start, end, flags, TYPE_URL, false, build);
  }
}

void load_tag(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  if (*start != '<') bad(st, start, end, TYPE_TAG);
  load_text(st, start, end, start + 1, end - 1, flags, TYPE_TAG, false, build);
}

void load_email(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  load_text(st, start, end, start, end, flags, TYPE_EMAIL, false, build);
}

void load_ref(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  load_text(st, start, end, start + 1, end, flags, TYPE_REF, false, build);
}

// ---- char! ----

void load_char(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  const uint8_t* s = start + 2;  // after #"
  const uint8_t* e = end - 1;    // before the closing quote
  if (s >= e) bad(st, start, end, TYPE_CHAR);
  uint32_t cp = *s;
  const uint8_t* next;
  if (cp == '^') {
    next = decode_escape(s + 1, e, cp);
  } else {
    int n = decode_utf8(s, e, cp);
    next = n ? s + n : nullptr;
  }
  if (next != e) bad(st, start, end, TYPE_CHAR);
  if (build) *push_cell(st) = Cell{TYPE_CHAR, 0, cp, 0};
}

// ---- integer! ----

void load_integer(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  const uint8_t* p = start;
  bool negative = false;
  if (p < end && (*p == '-' || *p == '+')) negative = *p++ == '-';
  if (p >= end) bad(st, start, end, TYPE_PAIR);
  uint32_t digits = 0;
  uint32_t value = 0;
  bool overflow = false;
  for (const uint8_t* q = p; q < end; ++q) {
    if (*q == '\'') {
      if (q + 1 < end && q[1] == '\'') bad(st, start, end, TYPE_INTEGER);
      continue;
    }
    uint32_t d = *q - '0';
    if (d > 9) bad(st, start, end, TYPE_INTEGER);
    ++digits;
    if (value > (0xFFFFFFFFu - d) / 10) overflow = true;
    value = value * 10 + d;
  }
  if (digits == 0) bad(st, start, end, TYPE_PAIR);
  // More than 10 digits cannot fit; a sign or separators do not count ("-1234567890" fits).
  bool too_long = digits > 10;
  bool smallest = end - start == 11 && std::memcmp(start, "-2147483648", 11) == 0;
  if (!smallest && (too_long || overflow || value > 0x7FFFFFFF)) {
    // Too large for 32 bits: the token is a float!.
    const TokenHandlers& h = token_handlers(K_FLOAT);
    if (!h.load) fire_not_done(TYPE_FLOAT);
    st.token_type = TYPE_FLOAT;
    h.load(st, start, end, flags, build);
    return;
  }
  if (build) {
    uint32_t v = negative ? 0u - value : value;
    *push_cell(st) = Cell{TYPE_INTEGER, 0, v, 0};
  }
}

// ---- words ----

// A fresh word belongs to the global context without a slot yet: reading it before a bind finds it
// is an error, and its first write adds it there.
Cell unbound_word(TypeId type, const uint8_t* s, const uint8_t* e) {
  uint32_t sym = symbol::intern_bytes(s, static_cast<uint32_t>(e - s));
  return context::word_cell(type, context::global(), sym, -1);
}

void load_word(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  // The word scanner has picked the kind; a path head comes without its sigil.
  TypeId type = st.token_type;
  const uint8_t* s = start;
  const uint8_t* e = end;
  if (type == TYPE_GET_WORD || type == TYPE_LIT_WORD) ++s;
  if (type == TYPE_SET_WORD) --e;
  if (s >= e) syntax_error(st, start, end, ErrorKind::invalid, type);
  if (build) *push_cell(st) = unbound_word(type, s, e);
}

void load_issue(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  if (end - start < 2) bad(st, start, end, TYPE_ISSUE);
  if (!build) return;
  Cell issue;
  word::init_issue(issue, std::string_view(reinterpret_cast<const char*>(start + 1), size_t(end - start - 1)));
  *push_cell(st) = issue;
}

void load_refinement(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  ptrdiff_t n = end - start;
  TypeId type = TYPE_REFINEMENT;
  const uint8_t* s = start + 1;
  const uint8_t* e = end;
  if (n == 1) {
    type = TYPE_WORD;  // "/" alone is the word "/"
    s = start;
  } else if (n == 2) {
    if (start[0] == '\'') {
      type = TYPE_LIT_WORD;
    } else if (start[0] == ':') {
      type = TYPE_GET_WORD;
    } else if (start[1] == ':') {
      type = TYPE_SET_WORD;
      s = start;
      e = start + 1;
    }
  } else if (start[0] != '/') {
    bad(st, start, end, TYPE_REFINEMENT);
  }
  st.token_type = type;
  if (build) *push_cell(st) = unbound_word(type, s, e);
}

// ---- float!, percent! ----

void push_float(State& st, TypeId type, double d) {
  Cell c{};
  c.set_header(type);
  c.set_float_payload(d);
  *push_cell(st) = c;
}

// Float text (float syntax, "," as decimal mark, "'" separators) read with a decimal exponent offset.
bool read_float(const uint8_t* s, const uint8_t* e, int exponent_offset, double& d) {
  std::string text(reinterpret_cast<const char*>(s), size_t(e - s));
  for (char& c : text)
    if (c == ',') c = '.';
  if (!float_syntax(text)) return false;
  std::erase(text, '\'');
  size_t unread = 0;
  d = dtoa::text_to_float(text.data(), text.data() + text.size(), exponent_offset, &unread);
  return unread == 0;
}

void load_float(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  double d;
  if (!read_float(start, end, 0, d)) bad(st, start, end, TYPE_FLOAT);
  if (build) push_float(st, TYPE_FLOAT, d);
}

void load_percent(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  double d;
  if (!read_float(start, end - 1, -2, d)) bad(st, start, end, TYPE_FLOAT);  // without the "%"
  if (build) push_float(st, TYPE_PERCENT, d);
}

void load_special_float(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  const uint8_t* s = start;
  bool negative = false;
  if (s < end && (*s == '-' || *s == '+')) negative = *s++ == '-';
  double d;
  if (end - s == 6 && std::memcmp(s, "1.#", 3) == 0 && equal_nocase(s + 3, end, "nan")) {
    d = std::numeric_limits<double>::quiet_NaN();
  } else if (end - s == 6 && std::memcmp(s, "1.#", 3) == 0 && equal_nocase(s + 3, end, "inf")) {
    d = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  } else {
    bad(st, start, end, TYPE_FLOAT);
  }
  if (build) push_float(st, TYPE_FLOAT, d);
}

// ---- hexadecimal integer ----

void load_hex_integer(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  const uint8_t* e = end - 1;  // before the "h"
  ptrdiff_t digits = e - start;
  if (digits < 2 && !(*start >= '0' && *start <= '9')) bad(st, start, end, TYPE_WORD);
  if (digits < 2 || digits > 8) bad(st, start, end, TYPE_INTEGER);
  uint32_t v = 0;
  for (const uint8_t* p = start; p < e; ++p) {
    int d = hex_digit_value(*p);
    if (d < 0) bad(st, start, end, TYPE_INTEGER);
    v = v << 4 | uint32_t(d);
  }
  if (build) *push_cell(st) = Cell{TYPE_INTEGER, 0, v, 0};
}

// ---- binary! ----

// Decodes the text between the braces in base 2, 16 or 64, skipping blanks, line ends and ";"
// comments. Answers the first bad position, or null.
const uint8_t* decode_binary(const uint8_t* s, const uint8_t* e, int base, std::string& out) {
  uint32_t acc = 0;
  int have = 0;  // digits in the current group
  bool padded = false;
  for (const uint8_t* p = s; p < e; ++p) {
    uint8_t c = *p;
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (c == ';') {
      while (p < e && *p != '\n') ++p;
      continue;
    }
    if (padded) {
      if (c != '=') return p;
      continue;
    }
    if (base == 2) {
      if (c != '0' && c != '1') return p;
      acc = acc << 1 | uint32_t(c - '0');
      if (++have == 8) out.push_back(char(acc)), acc = 0, have = 0;
    } else if (base == 16) {
      int d = hex_digit_value(c);
      if (d < 0) return p;
      acc = acc << 4 | uint32_t(d);
      if (++have == 2) out.push_back(char(acc)), acc = 0, have = 0;
    } else {
      int d = c >= 'A' && c <= 'Z' ? c - 'A' : c >= 'a' && c <= 'z' ? c - 'a' + 26
              : c >= '0' && c <= '9' ? c - '0' + 52 : c == '+' ? 62 : c == '/' ? 63 : -1;
      if (c == '=') {
        // Two digits and "=" give one byte, three give two.
        if (have == 2) out.push_back(char(acc >> 4));
        else if (have == 3) out.push_back(char(acc >> 10)), out.push_back(char(acc >> 2));
        else return p;
        padded = true;
        have = 0;
        continue;
      }
      if (d < 0) return p;
      acc = acc << 6 | uint32_t(d);
      if (++have == 4) {
        out.push_back(char(acc >> 16)), out.push_back(char(acc >> 8)), out.push_back(char(acc));
        acc = 0, have = 0;
      }
    }
  }
  return have ? e : nullptr;  // a partial final group
}

void load_binary(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  const uint8_t* brace = static_cast<const uint8_t*>(std::memchr(start, '{', size_t(end - start)));
  int base = 16;
  if (*start != '#') {
    base = 0;
    for (const uint8_t* p = start; p < brace && *p != '#'; ++p) {
      if (*p < '0' || *p > '9' || base > 64) bad(st, start, end, TYPE_BINARY);
      base = base * 10 + (*p - '0');
    }
    if (base != 2 && base != 16 && base != 64) bad(st, start, end, TYPE_BINARY);
  }
  std::string bytes;
  bytes.reserve(size_t(end - brace) * (base == 16 ? 4 : base == 2 ? 1 : 6) / 8 + 1);
  if (const uint8_t* at = decode_binary(brace + 1, end - 1, base, bytes)) bad(st, at, end, TYPE_BINARY);
  if (build) {
    *push_cell(st) = further_type_hooks().binary_load(reinterpret_cast<const uint8_t*>(bytes.data()),
                                                      static_cast<uint32_t>(bytes.size()));
  }
}

// ---- tuple!, pair! ----

void load_tuple(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  uint8_t bytes[12];
  uint32_t count = 0;
  uint32_t field = 0;
  int digits = 0;
  for (const uint8_t* p = start;; ++p) {
    if (p == end || *p == '.') {
      if (digits == 0 || count == 12) bad(st, start, end, TYPE_TUPLE);
      bytes[count++] = uint8_t(field);
      field = 0, digits = 0;
      if (p == end) break;
      continue;
    }
    if (*p < '0' || *p > '9') bad(st, start, end, TYPE_TUPLE);
    field = field * 10 + uint32_t(*p - '0');
    if (field > 255) bad(st, start, end, TYPE_TUPLE);
    ++digits;
  }
  if (build) *push_cell(st) = further_type_hooks().tuple_make(count, bytes);
}

// An integer by the integer token's rules within [s, e); false when it is none or does not fit.
bool read_int(const uint8_t* s, const uint8_t* e, int32_t& out) {
  bool negative = false;
  if (s < e && (*s == '-' || *s == '+')) negative = *s++ == '-';
  int64_t v = 0;
  int digits = 0;
  for (; s < e; ++s) {
    if (*s == '\'') continue;
    if (*s < '0' || *s > '9') return false;
    v = v * 10 + (*s - '0');
    if (++digits > 10) return false;
  }
  if (negative) v = -v;
  if (digits == 0 || v > INT32_MAX || v < INT32_MIN) return false;
  out = int32_t(v);
  return true;
}

void load_pair(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  if (flags & F_DOT) bad(st, start, end, TYPE_PAIR);
  const uint8_t* x = start + 1;  // the separator is never the first byte
  while (x < end && *x != 'x' && *x != 'X') ++x;
  int32_t a, b;
  if (x >= end || !read_int(start, x, a) || !read_int(x + 1, end, b)) bad(st, start, end, TYPE_PAIR);
  if (build) {
    Cell c{};
    c.set_header(TYPE_PAIR);
    further_type_hooks().pair_set(c, a, b);
    *push_cell(st) = c;
  }
}

// ---- time! ----

void load_time(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  const uint8_t* p = start;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  const uint8_t* colon = static_cast<const uint8_t*>(std::memchr(p, ':', size_t(end - p)));
  int32_t hours, minutes;
  if (!colon || !read_int(p, colon, hours)) {
    bool smallest = colon && colon - start == 11 && std::memcmp(start, "-2147483648", 11) == 0;
    if (!smallest) bad(st, start, end, TYPE_TIME);
    hours = INT32_MIN, negative = false;
  }
  const uint8_t* m = colon + 1;
  const uint8_t* q = m;
  while (q < end && *q >= '0' && *q <= '9') ++q;
  if (q == m || !read_int(m, q, minutes)) bad(st, start, end, TYPE_TIME);
  double seconds = 0;
  if (q < end) {
    if (*q == ':' && q + 1 == end) bad(st, start, end, TYPE_TIME);
    if (*q != ':' && *q != '.' && *q != ',') bad(st, start, end, TYPE_TIME);
    for (const uint8_t* r = q; r < end; ++r)
      if (*r == 'e' || *r == 'E') bad(st, start, end, TYPE_TIME);
    const uint8_t* from = q + 1;
    if (*q != ':') {
      // "m:s.f": the fields were minutes and seconds with a fraction.
      minutes = hours;
      hours = 0;
      from = m;
    }
    double d;
    if (!read_float(from, end, 0, d) || d < 0) bad(st, start, end, TYPE_TIME);
    seconds = d;
  }
  if (minutes < 0) bad(st, start, end, TYPE_TIME);
  double value = double(hours < 0 ? -int64_t(hours) : hours) * 3600 + double(minutes) * 60 + seconds;
  if (negative || hours < 0) value = -value;
  if (build) push_float(st, TYPE_TIME, value);
}

// ---- point2D!, point3D! ----

void load_point(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  // The token runs from after "(" to after ")".
  float xyz[3];
  int n = 0;
  const uint8_t* p = start;
  for (;;) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    const uint8_t* s = p;
    while (p < end && *p != ',' && *p != ')' && *p != ' ' && *p != '\t') ++p;
    if (s == p) bad(st, start, end, TYPE_POINT2D);
    double d;
    if (std::memchr(s, '#', size_t(p - s))) {
      size_t before = st.tail;
      load_special_float(st, s, p, 0, true);
      d = cell_at(uint32_t(before))->float_value();
      st.tail = uint32_t(before);
    } else if (p - s >= 313 || !read_float(s, p, 0, d)) {
      bad(st, start, end, TYPE_FLOAT);
    }
    xyz[n++] = float(d);
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    if (p >= end) bad(st, start, end, n == 3 ? TYPE_POINT3D : TYPE_POINT2D);
    if (n == 1) {
      if (*p != ',') bad(st, start, end, TYPE_POINT2D);
    } else if (n == 2) {
      if (*p == ')') break;
    } else {
      if (*p != ')') bad(st, start, end, TYPE_POINT3D);
      break;
    }
    ++p;  // past ","
  }
  if (!build) return;
  Cell c{};
  if (n == 2) {
    c.set_header(TYPE_POINT2D);
    further_type_hooks().point2d_set(c, xyz[0], xyz[1]);
  } else {
    c.set_header(TYPE_POINT3D);
    further_type_hooks().point3d_set(c, xyz[0], xyz[1], xyz[2]);
  }
  *push_cell(st) = c;
}

// ---- construction literals ----

void load_construct(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool build) {
  if (!build) return;  // the structural scanner has checked the name
  const uint8_t* s = start + 2;
  const uint8_t* e = end - 1;
  while (s < e && (*s == ' ' || *s == '\t' || *s == '\r' || *s == '\n')) ++s;
  while (e > s && (e[-1] == ' ' || e[-1] == '\t' || e[-1] == '\r' || e[-1] == '\n')) --e;
  std::string name(reinterpret_cast<const char*>(s), size_t(e - s));
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c += 32;
  Cell value;
  if (name == "true" || name == "false") {
    value = make_logic(name == "true");
  } else if (name == "none") {
    value = make_none();
  } else if (name == "unset") {
    value = make_unset();
  } else {
    value = make_none();
    for (uint32_t t = 1; t <= highest_type_id(); ++t) {
      std::string tn(type_name(static_cast<TypeId>(t)));
      for (char& c : tn)
        if (c >= 'A' && c <= 'Z') c += 32;
      if (tn == name) value = datatype_cell(static_cast<TypeId>(t));
    }
  }
  *push_cell(st) = value;
}

// ---- containers ----

void make_container(State& st, TypeId type, uint32_t, const Cell* cells, uint32_t count, Cell* out) {
  if (type == TYPE_MAP) {
    // Keys and values in pairs, every key of a datatype a map! may hold.
    const uint8_t* opener = st.in_start + out->marker_opener();
    if (count % 2) syntax_error(st, opener, st.cursor, ErrorKind::invalid, TYPE_MAP);
    for (uint32_t i = 0; i < count; i += 2) {
      if (!further_type_hooks().map_valid_key(cells[i].type())) {
        syntax_error(st, opener, st.cursor, ErrorKind::invalid, TYPE_MAP);
      }
    }
    Cell body = block::make(count);
    block::append_cells(body, cells, count);
    Cell map{};
    further_type_hooks().map_make_at(map, body, count);
    *out = map;
    return;
  }
  if (!block::is_block_kind(type)) fire_not_done(type);  // points of values come with their datatypes
  Cell value = block::make(count, type);
  block::append_cells(value, cells, count);
  *out = value;
}

void append_to_block(Cell* target, const Cell& value) { block::append_cell(*target, value); }

}  // namespace

// Turns a syntax error into a stop of the scan. Raising it would unwind the call stack to the
// caller's try frame before load_first could take the error back.
class QuietErrors final : public Observer {
 public:
  uint32_t mask() const override { return EV_ERROR; }
  bool on_event(State&, EventInfo&) override {
    failed = true;
    return false;
  }
  bool failed = false;
};

// The first value of a text: unset! when it holds none, none! when more than one value or a syntax
// error stands in it.
Cell load_first(std::string_view text) {
  ScanMode one;
  one.one_value = true;
  Cell out = make_unset();
  uint32_t consumed = 0;
  QuietErrors quiet;
  TypeId t = scan_buffer(&out, reinterpret_cast<const uint8_t*>(text.data()), text.size(), one, &consumed,
                         &quiet, nullptr, nullptr);
  if (quiet.failed || t == TYPE_ERROR) return make_none();
  if (t == TYPE_NONE_ID) return make_unset();
  for (size_t i = consumed; i < text.size(); ++i) {
    char c = text[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return make_none();
  }
  return out;
}

void install_loaders() {
  set_builders(make_container, append_to_block);
  const struct {
    Kind kind;
    TokenHandler load;
  } loaders[] = {
      {K_CONSTRUCT, load_construct}, {K_STRING, load_string}, {K_INTEGER, load_integer},
      {K_CHAR, load_char},           {K_FILE, load_file},     {K_TAG, load_tag},
      {K_URL, load_url},             {K_EMAIL, load_email},   {K_RAW_STRING, load_raw_string},
      {K_REF, load_ref},             {K_WORD, load_word},     {K_ISSUE, load_issue},
      {K_REFINEMENT, load_refinement}, {K_FLOAT, load_float}, {K_PERCENT, load_percent},
      {K_SPECIAL_FLOAT, load_special_float}, {K_HEX_INTEGER, load_hex_integer},
      {K_BINARY, load_binary},       {K_TUPLE, load_tuple},   {K_PAIR, load_pair},
      {K_TIME, load_time},           {K_POINT, load_point},   {K_DATE, load_date},
      {K_MONEY, load_money},
  };
  for (const auto& l : loaders) {
    TokenHandlers h = token_handlers(l.kind);
    h.load = l.load;
    set_token_handlers(l.kind, h);
  }
}

}  // namespace zem::lexer
