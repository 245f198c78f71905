// The lexer: scanning UTF-8 source into tokens and building values from them.
#include "evaluator/lexer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/lexer_loaders.h"
#include "runtime/memory.h"
#include "runtime/collector.h"
#include "runtime/unicode.h"

namespace zem::lexer {
namespace {

constexpr uint32_t kInitialCells = 1000;
constexpr size_t kNearBytes = 30;
constexpr size_t kScratchBytes = 100000;

struct Globals {
  Cell* out = nullptr;  // output buffer shared by all running scans
  uint32_t capacity = 0;
  State* first = nullptr;
  State* last = nullptr;
  TokenHandlers table[kKindCount];
  ContainerMaker maker = nullptr;
  BlockAppender appender = nullptr;
  SyntaxError error;
  // Scratch bytes for the UTF-8 text of string input, used as a stack by nested scans.
  uint8_t* scratch = nullptr;
  size_t scratch_top = 0;
};
Globals g;

bool is_path_type(TypeId t) {
  return t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}

bool is_point_type(TypeId t) { return t == TYPE_POINT2D || t == TYPE_POINT3D; }

bool is_string_family(TypeId t) {
  return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL ||
         t == TYPE_REF;
}

uint32_t offset_of(const State& st, const uint8_t* p) { return static_cast<uint32_t>(p - st.in_start); }

bool equal_nocase(const uint8_t* s, const uint8_t* e, std::string_view word) {
  if (size_t(e - s) != word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i) {
    uint8_t c = s[i];
    if (c >= 'A' && c <= 'Z') c += 32;
    uint8_t w = static_cast<uint8_t>(word[i]);
    if (w >= 'A' && w <= 'Z') w += 32;
    if (c != w) return false;
  }
  return true;
}

uint32_t count_lines(const uint8_t* s, const uint8_t* e) {
  uint32_t n = 0;
  for (; s < e; ++s) n += *s == '\n';
  return n;
}

// ---- output buffer and container markers ----

Cell& marker(const State& st) { return g.out[st.head]; }
TypeId marker_type(const Cell& m) { return m.marker_type(); }
uint32_t marker_commas(const Cell& m) { return m.marker_commas(); }
bool is_marker(const Cell& c) { return c.is(TYPE_TRIPLE) && c.has_flag(kMarkerFlag); }

TypeId innermost_type(const State& st) {
  return st.head == State::kNoContainer ? TYPE_NONE_ID : marker_type(marker(st));
}

void grow_output(uint32_t need) {
  uint32_t cap = g.capacity ? g.capacity : kInitialCells;
  while (cap < need) {
    if (cap > 0x7FFFFFFF / sizeof(Cell)) fire(Err::internal_no_memory);
    cap *= 2;
  }
  void* p = std::realloc(g.out, size_t(cap) * sizeof(Cell));
  if (!p) fire(Err::internal_no_memory);
  g.out = static_cast<Cell*>(p);
  g.capacity = cap;
}

// The value modules install the loaders; building a value of a kind without one is refused.
[[noreturn]] void not_built(TypeId type) { fire_not_done(type); }


// ---- events ----

bool fire_event(State& st, Event ev, TypeId type, const uint8_t* start, const uint8_t* end,
                const Cell* value, bool at_start) {
  if (!(st.mask & ev)) return true;
  if (st.kind == K_POINT && st.point_open && start == st.token_start) start = st.point_open;
  const uint8_t* shown = at_start ? start : st.cursor;
  EventInfo info{ev, st.kind, type, st.token_line, offset_of(st, start), offset_of(st, end), value,
                 offset_of(st, shown)};
  bool go_on = st.observer->on_event(st, info);
  if (info.cursor != offset_of(st, shown)) {
    // The callback moved the input position: follow it, but never out of the input and never back
    // from where it was shown (the token's start, or its end once scanned), so that no token is
    // scanned twice and a callback that always moves back cannot hold the scan in place.
    const uint8_t* to = st.in_start + std::min<uint64_t>(info.cursor, uint64_t(st.in_end - st.in_start));
    if (to > shown) st.cursor = to;
  }
  return go_on;
}

// ---- syntax errors ----

[[noreturn]] void stop(State& st) {
  st.result_type = TYPE_ERROR;
  st.stopped = true;
  throw Unwind{EXIT_LEXER_STOP};
}

void close_open_paths(State& st);

[[noreturn]] void raise_error(State& st, const uint8_t* start, const uint8_t* end, ErrorKind kind,
                              TypeId type, char expected) {
  SyntaxError& e = g.error;
  e = SyntaxError{};
  e.kind = kind;
  e.type = type;
  e.line = st.line;
  e.expected = expected;
  if (!start) start = st.in_start;
  if (start > st.in_end) start = st.in_end;
  e.offset = offset_of(st, start);
  // Up to 30 bytes of whole characters, up to a line feed or the end of the input.
  const uint8_t* p = start;
  while (p < st.in_end && *p != '\n' && *p != 0 && size_t(p - start) < kNearBytes) {
    uint32_t cp;
    int n = *p < 0x80 ? 1 : decode_utf8(p, st.in_end, cp);
    if (n == 0) n = 1;
    if (size_t(p + n - start) > kNearBytes) break;
    p += n;
  }
  e.near.assign(reinterpret_cast<const char*>(start), size_t(p - start));

  if (!st.build) stop(st);
  if (st.mask & EV_ERROR) {
    close_open_paths(st);
    if (!fire_event(st, EV_ERROR, TYPE_ERROR, start, end ? end : st.cursor, nullptr, false)) {
      st.resume = true;
      throw Unwind{EXIT_LEXER_STOP};
    }
  }
  // The error's arguments: the position text, the datatype or the expected closer, the near text.
  Cell position = str::make_from_utf8(e.position());
  Cell near = str::make_string(static_cast<uint32_t>(e.near.size()));
  const auto* p0 = reinterpret_cast<const uint8_t*>(e.near.data());
  for (const uint8_t* q = p0; q < p0 + e.near.size();) {
    uint32_t cp;
    int n = decode_utf8(q, p0 + e.near.size(), cp);
    if (!n) cp = 0xFFFD, n = 1;  // a byte that is no UTF-8 shows as the replacement character
    str::append_code_point(near.node(), cp);
    q += n;
  }
  switch (kind) {
    case ErrorKind::invalid: {
      Cell type_cell = type == TYPE_NONE_ID ? make_none() : datatype_cell(type);
      fire(e.id(), &position, &type_cell, &near);
    }
    case ErrorKind::missing: {
      Cell closer{TYPE_CHAR, 0, static_cast<uint32_t>(expected), 0};
      fire(e.id(), &position, &closer, &near);
    }
    default:
      fire(e.id(), &position, &near);
  }
}

// The missing-closer error: `at` is the offending closer, or null when the input ended. The
// expected character is the closer of the open block or paren `container`; a stray closer, or one
// inside a path, expects its own opener.
[[noreturn]] void missing_error(State& st, const uint8_t* at, TypeId container) {
  bool bracketed = container == TYPE_BLOCK || container == TYPE_MAP;
  char expected = bracketed ? ']' : ')';
  bool open = st.head != State::kNoContainer && (bracketed || container == TYPE_PAREN ||
                                                 is_point_type(container));
  if (!open && at && at < st.in_end && *at == ']') expected = '[';
  if (!open && at && at < st.in_end && *at == ')') expected = '(';
  const uint8_t* start = at;
  if (!start && st.head != State::kNoContainer) start = st.in_start + marker(st).marker_opener();
  raise_error(st, start, at ? at + 1 : st.in_end, ErrorKind::missing, container, expected);
}

// ---- containers ----

void open_container(State& st, TypeId type, const uint8_t* opener) {
  if (is_point_type(innermost_type(st))) {
    syntax_error(st, opener, st.cursor, ErrorKind::invalid, TYPE_POINT2D);
  }
  if (!fire_event(st, EV_OPEN, type, opener, st.cursor, nullptr, true)) return;
  uint32_t at = st.tail;
  Cell* m = push_cell(st);
  m->header = TYPE_TRIPLE | kMarkerFlag;
  m->set_marker(st.head == State::kNoContainer ? 0 : at - st.head, type, offset_of(st, opener));
  st.head = at;
}

bool closes(TypeId open, TypeId expected) {
  if (open == expected) return true;
  if (expected == TYPE_BLOCK) return open == TYPE_MAP;
  if (expected == TYPE_PAREN) return is_point_type(open);
  if (expected == TYPE_SET_PATH) return is_path_type(open);
  return false;
}

// Replaces the innermost marker by the container's value (or a placeholder when values are not
// built) and drops the cells behind it.
void finish_container(State& st) {
  uint32_t at = st.head;
  Cell m = g.out[at];
  TypeId type = marker_type(m);
  uint32_t count = st.tail - at - 1;
  if (st.build) {
    if (!g.maker) not_built(type);
    g.maker(st, type, marker_commas(m), g.out + at + 1, count, g.out + at);
    if (m.new_line()) g.out[at].set_new_line(true);
  } else {
    g.out[at] = Cell{TYPE_NONE, 0, 0, 0};
  }
  st.tail = at + 1;
  st.head = m.marker_outer() ? at - m.marker_outer() : State::kNoContainer;
}

// Answers false when the callback kept the container open.
bool close_container(State& st, const uint8_t* closer, TypeId expected) {
  if (st.head == State::kNoContainer) missing_error(st, closer, expected);
  TypeId open = marker_type(marker(st));
  if (!closes(open, expected)) missing_error(st, closer, open);
  if (!fire_event(st, EV_CLOSE, open, closer, st.cursor, nullptr, true)) {
    st.start_state = S_TOP;
    return false;
  }
  finish_container(st);
  st.token_type = open;
  st.start_state = is_path_type(innermost_type(st)) ? S_PATH : S_TOP;
  return true;
}

void close_open_paths(State& st) {
  while (is_path_type(innermost_type(st))) {
    finish_container(st);
    st.start_state = S_TOP;
  }
}

// After a path element: "/" goes on with the next element; ":" before a follower ends a set-path;
// anything else ends the path.
void path_end(State& st) {
  if (!is_path_type(innermost_type(st))) {
    st.start_state = S_TOP;
    return;
  }
  const uint8_t* p = st.cursor;
  if (p < st.in_end && *p == '/') {
    st.cursor = p + 1;
    st.start_state = S_PATH;
    return;
  }
  if (p < st.in_end && *p == ':') {
    uint32_t next = p + 1 < st.in_end ? kClassTable[p[1]] & kClassMask : uint32_t{C_END};
    if (next == C_SLASH) {
      syntax_error(st, st.in_start + marker(st).marker_opener(), p + 2, ErrorKind::bad_char, TYPE_PATH);
    }
    if (kPathFollowerClasses >> next & 1) {
      Cell& m = marker(st);
      m.set_marker_container(TYPE_SET_PATH, m.marker_commas());
      st.cursor = p + 1;
    }
  }
  TypeId open = innermost_type(st);
  if (!fire_event(st, EV_CLOSE, open, st.cursor, st.cursor, nullptr, true)) {
    st.start_state = S_TOP;
    return;
  }
  finish_container(st);
  st.token_type = open;
  st.start_state = S_TOP;
}

// ---- structural scanners (kinds 0-12) ----

void scan_end(State& st, const uint8_t*, const uint8_t*, uint32_t, bool) { st.cursor = st.in_end; }

void scan_invalid(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
  TypeId type = kStateTypes[st.prev_state];
  if (st.brace_depth && st.brace_open) start = st.brace_open;
  if (st.prev_state == S_POINT && st.point_open) start = st.point_open;
  if (is_path_type(type) && is_path_type(innermost_type(st))) start = st.in_start + marker(st).marker_opener();
  ErrorKind kind = (type == TYPE_NONE_ID || is_path_type(type)) ? ErrorKind::bad_char : ErrorKind::invalid;
  syntax_error(st, start, end, kind, type);
}

void scan_block_open(State& st, const uint8_t* start, const uint8_t*, uint32_t, bool) {
  open_container(st, TYPE_BLOCK, start);
}

void scan_map_open(State& st, const uint8_t* start, const uint8_t*, uint32_t, bool) {
  open_container(st, TYPE_MAP, start);
}

void scan_block_close(State& st, const uint8_t* start, const uint8_t*, uint32_t, bool) {
  close_container(st, start, TYPE_BLOCK);
}

// "(" starts a point literal when the text up to the first byte outside the lookahead set is
// followed by ",".
bool point_ahead(const State& st, const uint8_t* p) {
  if (st.in_end - p < 3) return false;
  while (p < st.in_end && kPointLookahead[*p]) ++p;
  return p < st.in_end && *p == ',';
}

void scan_paren_open(State& st, const uint8_t* start, const uint8_t*, uint32_t, bool) {
  if (point_ahead(st, st.cursor)) {
    st.start_state = S_POINT;
    st.point_open = start;
    return;
  }
  uint32_t before = st.tail;
  open_container(st, TYPE_PAREN, start);
  // A paren inside a path holds whole values: its first token starts afresh, not as a path element.
  if (st.tail > before) st.start_state = S_TOP;
}

void scan_paren_close(State& st, const uint8_t* start, const uint8_t*, uint32_t, bool) {
  if (close_container(st, start, TYPE_PAREN) && st.start_state == S_PATH) path_end(st);
}

void scan_brace_open(State& st, const uint8_t* start, const uint8_t*, uint32_t flags, bool) {
  if (st.brace_depth) {
    ++st.brace_depth;
    st.brace_flags |= flags;
    return;
  }
  if (!fire_event(st, EV_OPEN, TYPE_STRING, start, st.cursor, nullptr, true)) return;
  st.brace_open = start;
  st.brace_depth = 1;
  st.brace_flags = flags;
  st.start_state = S_BRACED;
}

void check_string(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, TypeId type);

void scan_brace_close(State& st, const uint8_t*, const uint8_t* end, uint32_t flags, bool build) {
  st.brace_flags |= flags;
  if (--st.brace_depth) return;
  const uint8_t* open = st.brace_open;
  st.start_state = S_TOP;
  st.token_start = open;
  st.brace_open = nullptr;
  check_string(st, open, end, st.brace_flags, TYPE_STRING);
  if (build) {
    const TokenHandlers& h = g.table[K_STRING];
    if (!h.load) not_built(TYPE_STRING);
    st.string_type = TYPE_STRING;
    h.load(st, open, end, st.brace_flags, true);
  }
}

void scan_path_head(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  TypeId type = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
  uint32_t before = st.tail;
  open_container(st, type, start);
  if (st.tail == before) return;  // the callback refused the path: the "/" scans on its own
  if (build) {
    const TokenHandlers& h = g.table[K_WORD];
    if (!h.load) not_built(TYPE_WORD);
    st.token_type = TYPE_WORD;
    h.load(st, start + (type != TYPE_PATH), end, flags, true);
  }
  st.cursor = end + 1;  // past the "/"
  st.start_state = S_PATH;
}

void scan_construct(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool build) {
  const uint8_t* s = start + 2;  // after "#("
  const uint8_t* e = end - 1;    // before ")"
  auto blank = [](uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (s < e && blank(*s)) ++s;
  while (e > s && blank(e[-1])) --e;
  TypeId type = TYPE_NONE_ID;
  if (equal_nocase(s, e, "true") || equal_nocase(s, e, "false")) {
    type = TYPE_LOGIC;
  } else if (equal_nocase(s, e, "none")) {
    type = TYPE_NONE;
  } else if (equal_nocase(s, e, "unset")) {
    type = TYPE_UNSET;
  } else {
    for (uint32_t t = 1; t <= highest_type_id(); ++t) {
      std::string_view name = type_name(static_cast<TypeId>(t));
      if (!name.empty() && equal_nocase(s, e, name)) type = TYPE_DATATYPE;
    }
  }
  if (type == TYPE_NONE_ID) syntax_error(st, start, end, ErrorKind::malconstruct, TYPE_NONE_ID);
  st.token_type = type;
  if (build) {
    const TokenHandlers& h = g.table[K_CONSTRUCT];
    if (!h.load) not_built(type);
    h.load(st, start, end, flags, true);
  }
}

void scan_comment(State&, const uint8_t*, const uint8_t*, uint32_t, bool) {}

void scan_comma(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
  TypeId open = innermost_type(st);
  if (open == TYPE_PAREN) {
    marker(st).set_marker_container(TYPE_POINT2D, 1);
  } else if (open == TYPE_POINT2D) {
    marker(st).set_marker_container(TYPE_POINT3D, 2);
  } else {
    syntax_error(st, start, end, ErrorKind::invalid, TYPE_POINT2D);
  }
}

// ---- value scanners (kinds 13-15) ----

void check_string(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, TypeId type) {
  // Between the delimiters: every escape and every UTF-8 sequence must decode.
  const uint8_t* p = start + 1;
  const uint8_t* e = end - 1;
  while (p < e) {
    uint8_t b = *p;
    if (b == '^' && (flags & F_CARET)) {
      uint32_t cp;
      const uint8_t* next = decode_escape(p + 1, e, cp);
      if (!next) syntax_error(st, start, end, ErrorKind::invalid, type);
      p = next;
    } else if (b >= 0x80) {
      uint32_t cp;
      int n = decode_utf8(p, e, cp);
      if (!n) syntax_error(st, start, end, ErrorKind::invalid, type);
      p += n;
    } else {
      ++p;
    }
  }
}

void scan_string(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
  check_string(st, start, end, flags, st.string_type);
}

void scan_word(State& st, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
  TypeId type = TYPE_WORD;
  const uint8_t* s = start;
  const uint8_t* e = end;
  if (*s == ':') {
    type = TYPE_GET_WORD;
    ++s;
  } else if (*s == '\'') {
    type = TYPE_LIT_WORD;
    ++s;
    if (e - s > 0 && e[-1] == ':') syntax_error(st, start, end, ErrorKind::invalid, TYPE_LIT_WORD);
  } else if (e - s > 1 && e[-1] == ':') {
    type = TYPE_SET_WORD;
    --e;
  }
  if (flags & F_COLON) {
    if (std::memchr(s, ':', size_t(e - s))) syntax_error(st, start, end, ErrorKind::invalid, TYPE_WORD);
  }
  st.token_type = type;
}

void scan_issue(State& st, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
  if (end - start < 2) syntax_error(st, start, end, ErrorKind::invalid, TYPE_ISSUE);
}

// Raw strings: n "%", "{", text, "}", n "%". The automaton stops at the first "}" followed by "%"
// signs; when that run is shorter than the opening one the text goes on.
void raw_string_extent(State& st) {
  const uint8_t* s = st.token_start;
  const uint8_t* e = st.token_end;
  size_t open = 0;
  while (s + open < e && s[open] == '%') ++open;
  size_t close = 0;
  while (e - close > s + open && e[-1 - ptrdiff_t(close)] == '%') ++close;
  if (close > open) syntax_error(st, s, e, ErrorKind::invalid, TYPE_STRING);
  if (close == open) return;
  for (const uint8_t* p = e; p < st.in_end && *p; ++p) {
    if (*p != '}') continue;
    size_t run = 0;
    while (run < open && p + 1 + run < st.in_end && p[1 + run] == '%') ++run;
    if (run == open) {
      const uint8_t* to = p + 1 + open;
      st.line += count_lines(e, to);
      st.token_lines += count_lines(e, to);
      st.token_end = st.cursor = to;
      return;
    }
  }
  syntax_error(st, s, st.in_end, ErrorKind::invalid, TYPE_STRING);
}

// Words end before the first Unicode space of the delimiter set; leading ones are skipped. Answers
// false when nothing is left.
bool trim_word(State& st) {
  const uint8_t* s = st.token_start;
  const uint8_t* e = st.token_end;
  uint32_t cp;
  while (s < e) {
    int n = *s < 0x80 ? 1 : decode_utf8(s, e, cp);
    if (!n) syntax_error(st, s, e, ErrorKind::invalid, TYPE_WORD);
    if (*s < 0x80 || !is_delimiter_space(cp)) break;
    s += n;
  }
  if (s == e) return false;
  for (const uint8_t* p = s; p < e;) {
    int n = *p < 0x80 ? 1 : decode_utf8(p, e, cp);
    if (!n) syntax_error(st, p, e, ErrorKind::invalid, TYPE_WORD);
    if (*p >= 0x80 && is_delimiter_space(cp)) {
      e = p;
      st.cursor = p;
      break;
    }
    p += n;
  }
  st.token_start = s;
  st.token_end = e;
  return true;
}

uint32_t flags_of(const uint8_t* s, const uint8_t* e) {
  uint32_t flags = 0;
  for (; s < e; ++s) flags |= kClassTable[*s];
  return flags & ~kClassMask;
}

// The trigger byte of these final transitions is part of the token ("]", ")", "}", ">", "%", the
// closing quote, and the single-byte structural tokens).
bool includes_closer(uint8_t kind, uint32_t cls) {
  if (cls == C_END) return false;
  switch (kind) {
    case K_BLOCK_OPEN: case K_BLOCK_CLOSE: case K_PAREN_OPEN: case K_PAREN_CLOSE:
    case K_BRACE_OPEN: case K_BRACE_CLOSE: case K_MAP_OPEN: case K_CONSTRUCT: case K_COMMA:
    case K_STRING: case K_CHAR: case K_BINARY: case K_PERCENT: case K_POINT: case K_TAG:
      return true;
    case K_FILE:
      return cls == C_DQUOTE;
    default:
      return false;
  }
}

void record(State& st, uint8_t kind) {
  if (!st.sink) return;
  const uint8_t* start = kind == K_POINT && st.point_open ? st.point_open : st.token_start;
  st.sink->push_back(Token{kind, st.token_type, offset_of(st, start), offset_of(st, st.token_end),
                           st.token_line});
}

struct Unlink {
  State& st;
  uint32_t* consumed;
  ~Unlink() {
    if (consumed) {
      const uint8_t* p = st.cursor < st.in_end ? st.cursor : st.in_end;
      if (is_string_family(st.input.type())) {
        *consumed = static_cast<uint32_t>(unicode::count_utf8_chars(st.in_start, p));
      } else {
        *consumed = offset_of(st, p);
      }
    }
    if (st.outer) st.outer->inner = nullptr;
    else g.first = nullptr;
    g.last = st.outer;
  }
};

}  // namespace

Err SyntaxError::id() const {
  switch (kind) {
    case ErrorKind::invalid: return Err::syntax_invalid;
    case ErrorKind::bad_char: return Err::syntax_bad_char;
    case ErrorKind::malconstruct: return Err::syntax_malconstruct;
    case ErrorKind::missing: return Err::syntax_missing;
  }
  return Err::syntax_invalid;
}

namespace {

// The buffer and the handler table, made once, at start-up or by the first scan.
void prepare() {
  if (g.out) return;
  grow_output(kInitialCells);
  const TokenHandler structural[] = {scan_end,        scan_invalid,   scan_block_open, scan_block_close,
                                     scan_paren_open, scan_paren_close, scan_brace_open, scan_brace_close,
                                     scan_map_open,   scan_path_head, scan_construct,  scan_comment,
                                     scan_comma};
  for (int k = 0; k <= K_COMMA; ++k) g.table[k].scan = structural[k];
  g.table[K_STRING].scan = scan_string;
  g.table[K_WORD].scan = scan_word;
  g.table[K_ISSUE].scan = scan_issue;
  g.scratch = static_cast<uint8_t*>(std::malloc(kScratchBytes));
  if (!g.scratch) fire(Err::internal_no_memory);
  install_loaders();
}

// Scratch space for one scan's input: the top of the shared scratch stack when it has room, else a
// block of its own. Given back on every exit.
class Scratch {
 public:
  explicit Scratch(size_t bytes) : saved_(g.scratch_top) {
    if (kScratchBytes - g.scratch_top >= bytes) {
      data_ = g.scratch + g.scratch_top;
      g.scratch_top += bytes;
    } else {
      own_ = static_cast<uint8_t*>(std::malloc(bytes ? bytes : 1));
      if (!own_) fire(Err::internal_no_memory);
      data_ = own_;
    }
  }
  ~Scratch() {
    g.scratch_top = saved_;
    std::free(own_);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  uint8_t* data() { return data_; }

 private:
  size_t saved_;
  uint8_t* own_ = nullptr;
  uint8_t* data_ = nullptr;
};

}  // namespace

void init() {
  prepare();
  // The collector marks the values of every running scan.
  static const gc::RootFn kRoot = [](void*) {
    mark_states([](Cell& c, void*) { gc::mark_value(c); }, nullptr);
  };
  gc::remove_root(kRoot);
  gc::add_root(kRoot);
}

void set_token_handlers(Kind kind, TokenHandlers handlers) {
  prepare();
  g.table[kind] = handlers;
}

const TokenHandlers& token_handlers(Kind kind) {
  prepare();
  return g.table[kind];
}

void set_builders(ContainerMaker maker, BlockAppender appender) {
  g.maker = maker;
  g.appender = appender;
}

Cell* push_cell(State& st) {
  if (st.tail >= g.capacity) grow_output(st.tail + 1);
  Cell* c = g.out + st.tail++;
  *c = Cell{};
  return c;
}

Cell* cell_at(uint32_t index) { return g.out + index; }

const SyntaxError& last_error() { return g.error; }

void syntax_error(State& st, const uint8_t* start, const uint8_t* end, ErrorKind kind, TypeId type) {
  raise_error(st, start, end, kind, type, 0);
}

void mark_states(void (*mark)(Cell&, void*), void* user) {
  for (State* st = g.first; st; st = st->inner) {
    for (uint32_t i = st->base; i < st->tail; ++i)
      if (!is_marker(g.out[i])) mark(g.out[i], user);
    if (st->input.type() != TYPE_NONE_ID) mark(st->input, user);
  }
}

int decode_utf8(const uint8_t* p, const uint8_t* end, uint32_t& cp) {
  const uint8_t* q = p;
  int32_t c = unicode::fast_decode_utf8_char(q, end);
  if (c < 0) return 0;
  cp = static_cast<uint32_t>(c);
  return static_cast<int>(q - p);
}

const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t& cp) {
  if (p >= end) return nullptr;
  uint8_t c = *p;
  if (c == '(') {
    const uint8_t* s = p + 1;
    const uint8_t* e = s;
    while (e < end && *e != ')' && e - s < 8) ++e;
    if (e >= end || *e != ')' || e == s) return nullptr;
    static constexpr struct {
      std::string_view name;
      uint32_t cp;
    } kNames[] = {{"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127}};
    for (const auto& n : kNames) {
      if (equal_nocase(s, e, n.name)) {
        cp = n.cp;
        return e + 1;
      }
    }
    if (e - s > 6) return nullptr;
    uint32_t v = 0;
    for (const uint8_t* q = s; q < e; ++q) {
      uint8_t d = *q;
      if (d >= '0' && d <= '9') v = v * 16 + (d - '0');
      else if (d >= 'a' && d <= 'f') v = v * 16 + (d - 'a' + 10);
      else if (d >= 'A' && d <= 'F') v = v * 16 + (d - 'A' + 10);
      else return nullptr;
    }
    if (v > 0x10FFFF) return nullptr;  // no such code point
    cp = v;
    return e + 1;
  }
  switch (c) {
    case '"': cp = '"'; return p + 1;
    case '-': cp = 9; return p + 1;
    case '/': cp = 10; return p + 1;
    case '^': cp = '^'; return p + 1;
    case '{': case '}': cp = c; return p + 1;
    case '~': cp = 127; return p + 1;
    case '@': cp = 0; return p + 1;
    default: break;
  }
  if (c >= 'a' && c <= 'z') {
    cp = c - 'a' + 1;
    return p + 1;
  }
  if (c >= 0x41 && c <= 0x5F) {
    cp = c - 64;
    return p + 1;
  }
  int n = decode_utf8(p, end, cp);
  return n ? p + n : nullptr;
}

// One token per iteration: run the automaton from the start state, then the token's handlers.
void scan_token(State& st, bool one_value, bool prescan) {
  for (;;) {
    if (st.cursor >= st.in_end) {
      // The input ended inside a braced string, a point or a path: one more pass of the automaton
      // reports the unfinished token. A prescan leaves an unfinished path to its caller.
      bool unfinished = st.start_state == S_BRACED || st.start_state == S_POINT ||
                        (st.start_state == S_PATH && !prescan);
      if (!unfinished) return;
    }
    const uint8_t start_state = st.start_state;
    const uint8_t* const s0 = st.cursor;
    const uint8_t* const end = st.in_end;
    const uint8_t* p = s0;
    uint32_t state = start_state, prev = start_state;
    uint32_t line = st.line, flags = 0, skipped = 0, cls = C_END;
    while (p < end) {
      uint32_t e = kClassTable[*p];
      flags |= e;
      cls = e & kClassMask;
      prev = state;
      state = kTransitions[state * kClassCount + cls];
      skipped += kSkipTable[state];
      if (state >= kFinalBase) break;
      line += kLineTable[cls];
      ++p;
    }
    if (state < kFinalBase) {
      prev = state;
      state = kTransitions[state * kClassCount + C_END];
      cls = C_END;
    }
    flags &= ~kClassMask;
    uint8_t kind = static_cast<uint8_t>(state - kFinalBase);
    if (includes_closer(kind, cls)) ++p;
    const uint8_t* tstart = s0 + skipped;
    const uint32_t line_before = st.line;
    st.token_line = st.line + count_lines(s0, tstart);
    st.token_lines = line - st.token_line;
    st.line = line;
    st.cursor = st.token_end = p;
    st.token_start = tstart;
    st.prev_state = static_cast<uint8_t>(prev);
    st.kind = kind;
    st.token_type = kKindTypes[kind];

    if (kind == K_RAW_STRING) raw_string_extent(st);
    if (kind == K_WORD && (flags & F_UTF8_2_3)) {
      if (!trim_word(st)) {
        if (st.cursor < end) continue;
        kind = st.kind = K_END;
        st.token_type = TYPE_NONE_ID;
      } else {
        flags = flags_of(st.token_start, st.token_end) | (flags & F_COLON);
      }
    }
    tstart = st.token_start;
    const uint8_t* tend = st.token_end;
    const TokenHandlers& h = g.table[kind];
    bool in_braced = start_state == S_BRACED;
    if (!in_braced && st.token_line != line_before) st.line_break = true;
    const uint32_t tail_before = st.tail;

    if (prescan && !st.observer) {
      if (kind <= K_STRING && h.scan) h.scan(st, tstart, tend, flags, false);
    } else {
      bool load = !one_value || st.build;
      if (st.observer && !in_braced) {
        TypeId shown = kind == K_PATH_HEAD ? TYPE_NONE_ID : st.token_type;
        // End and invalid tokens cannot be skipped: the scan would not move on.
        if (!fire_event(st, EV_PRESCAN, shown, tstart, tend, nullptr, kind <= K_COMMA) && kind > K_INVALID) {
          continue;
        }
      }
      if (kind <= K_COMMA) {
        h.scan(st, tstart, tend, flags, st.build);
      } else {
        if (!st.build || h.scan || (st.mask & EV_SCAN)) {
          if (h.scan) h.scan(st, tstart, tend, flags, false);
          else if (h.load) h.load(st, tstart, tend, flags, false);
        }
        if (st.observer && !fire_event(st, EV_SCAN, st.token_type, tstart, tend, nullptr, false)) {
          load = false;
        }
        if (load && st.build) {
          // A datatype whose module is not built yet has no values to load into.
          if (!h.load || !type_built(st.token_type)) not_built(st.token_type);
          uint32_t before = st.tail;
          h.load(st, tstart, tend, flags, true);
          if (st.observer && st.tail > before &&
              !fire_event(st, EV_LOAD, st.token_type, tstart, tend, g.out + st.tail - 1, false)) {
            st.tail = before;
          }
        }
      }
    }

    // A value that follows a line feed in its container carries the new-line marker, so that it
    // molds back on a line of its own; a container's marker goes on the value the container becomes.
    if (st.tail > tail_before) {
      if (st.line_break) g.out[tail_before].set_new_line(true);
      st.line_break = false;
    } else if (kind == K_BLOCK_CLOSE || kind == K_PAREN_CLOSE) {
      st.line_break = false;
    }

    // The stream lists a braced string once, at its last "}", and a point literal once, at its ")".
    bool reported = kind != K_END && !(in_braced && kind != K_BRACE_CLOSE) && kind != K_BRACE_OPEN &&
                    !(kind == K_BRACE_CLOSE && st.brace_depth) &&
                    !(kind == K_PAREN_OPEN && st.start_state == S_POINT);
    if (reported) record(st, kind);

    if (kind == K_POINT) {
      st.start_state = S_TOP;
      if (is_path_type(innermost_type(st))) path_end(st);
      st.point_open = nullptr;
    } else if (start_state == S_PATH && kind != K_PATH_HEAD && kind != K_INVALID &&
               kind != K_PAREN_OPEN && kind != K_PAREN_CLOSE) {
      path_end(st);
    }

    if (st.token_type != TYPE_NONE_ID) {
      if ((one_value || prescan) && st.start_state == S_TOP && kind != K_PATH_HEAD) {
        uint32_t n = st.tail - st.base;
        if (n == 0 || (n == 1 && !is_marker(g.out[st.base]))) {
          st.last_type = st.token_type;
          return;
        }
      }
      st.last_type = st.token_type;
    }
  }
}

namespace {

// After the callback passed over a syntax error: the scan leaves the token it was in (a braced
// string, a point literal; open paths were closed before the event) and goes on from the cursor,
// moved at least one character past the bad token's start (past the bad byte itself for an
// invalid byte sequence) so that it cannot meet it again. Answers false at the end of the input:
// nothing is left to scan.
bool resume_after_error(State& st) {
  st.resume = false;
  const uint8_t* floor = st.kind == K_INVALID ? st.token_end : st.token_start;
  if (floor > st.in_end) floor = st.in_end;
  if (st.cursor <= floor && floor < st.in_end) {
    uint32_t cp;
    int n = *floor < 0x80 ? 1 : decode_utf8(floor, st.in_end, cp);
    st.cursor = floor + (n ? n : 1);
  }
  if (st.cursor >= st.in_end) return false;
  st.start_state = S_TOP;
  st.brace_depth = 0;
  st.brace_open = nullptr;
  st.point_open = nullptr;
  st.string_type = TYPE_STRING;
  return true;
}

// A callback that saw a syntax error and let it be raised (load/trap) keeps what was scanned
// before it: the complete top-level values, up to the outermost container still open, go into the
// target block (or as a block into the output cell) before the error passes on.
void keep_completed_values(State& st, Cell* out, Cell* target) {
  uint32_t end = st.tail;
  for (uint32_t at = st.head; at != State::kNoContainer;) {
    end = at;
    uint32_t outer = g.out[at].marker_outer();
    at = outer ? at - outer : State::kNoContainer;
  }
  if (end <= st.base || !g.maker || !g.appender) return;
  // The block takes the first output cell, which the collector marks while the state is linked.
  g.maker(st, TYPE_BLOCK, 0, g.out + st.base, end - st.base, g.out + st.base);
  st.head = State::kNoContainer;
  st.tail = st.base + 1;
  if (target) g.appender(target, g.out[st.base]);
  else *out = g.out[st.base];
  st.tail = st.base;
}

TypeId scan_into(Cell* out, const uint8_t* text, size_t len, ScanMode mode, uint32_t* consumed,
                 Observer* observer, const Cell* input, Cell* target, std::vector<Token>* sink) {
  prepare();
  if (len > 0x7FFFFFFF) fire(Err::internal_limit_hit);  // offsets are 32-bit
  State st;
  if (g.last) {
    st.outer = g.last;
    g.last->inner = &st;
    st.base = g.last->tail;
  } else {
    g.first = &st;
  }
  g.last = &st;
  st.tail = st.base;
  st.in_start = st.cursor = st.token_start = st.token_end = text;
  st.in_end = text + len;
  st.build = mode.full_scan && mode.wrap;
  st.observer = observer;
  st.mask = observer ? observer->mask() : 0;
  st.sink = sink;
  if (input) st.input = *input;
  Unlink unlink{st, consumed};

  for (;;) {
    try {
      scan_token(st, mode.one_value, !mode.full_scan);
      if (st.tail > st.base && st.head != State::kNoContainer) {
        if (!mode.full_scan && st.start_state == S_PATH) {
          st.last_type = innermost_type(st);
        } else {
          close_open_paths(st);
          if (st.head != State::kNoContainer) missing_error(st, nullptr, innermost_type(st));
        }
      }
      break;
    } catch (const Unwind& u) {
      if (u.code > EXIT_LEXER_STOP) {
        if ((target || out) && st.build && (st.mask & EV_ERROR)) keep_completed_values(st, out, target);
        throw;
      }
      if (st.resume && resume_after_error(st)) continue;
      if (out) *out = Cell{TYPE_NONE, 0, 0, 0};
      return st.stopped || st.resume ? TYPE_ERROR : st.last_type;
    }
  }

  if (st.build) {
    uint32_t n = st.tail - st.base;
    Cell* cells = g.out + st.base;
    Cell result{};
    if (mode.one_value && !mode.single_result && n > 0) {
      result = cells[0];
    } else {
      if (!g.maker) not_built(TYPE_BLOCK);
      g.maker(st, TYPE_BLOCK, 0, cells, n, &result);
    }
    if (target) {
      if (!g.appender) not_built(TYPE_BLOCK);
      g.appender(target, result);
    } else if (out) {
      *out = result;
    }
  }
  return st.last_type;
}

}  // namespace

TypeId scan_buffer(Cell* out, const uint8_t* text, size_t len, ScanMode mode, uint32_t* consumed,
                   Observer* observer, const Cell* input, Cell* target) {
  return scan_into(out, text, len, mode, consumed, observer, input, target, nullptr);
}

TypeId transcode_string(Cell* out, const Cell& str, int32_t count, ScanMode mode, uint32_t* consumed,
                        Observer* observer, Cell* target) {
  prepare();
  uint32_t available = str::count_from_head(str);
  uint32_t n = count < 0 || uint32_t(count) > available ? available : uint32_t(count);
  const SeriesBuffer* b = series_buffer(str.node());
  Scratch text(unicode::utf8_room_for(n, int(b->unit())));
  size_t len = unicode::encode_utf8_into(str, text.data(), int32_t(n), false);
  return scan_into(out, text.data(), len, mode, consumed, observer, &str, target, nullptr);
}

TypeId transcode_binary(Cell* out, const Cell& bin, int32_t count, ScanMode mode, uint32_t* consumed,
                        Observer* observer, Cell* target) {
  prepare();
  SeriesBuffer* b = series_buffer(bin.node());
  uint32_t length = b->length();
  uint32_t head = bin.head_index() < length ? bin.head_index() : length;
  uint32_t n = count < 0 || uint32_t(count) > length - head ? length - head : uint32_t(count);
  if (!observer) {
    return scan_into(out, b->head_ptr() + head, n, mode, consumed, observer, &bin, target, nullptr);
  }
  Scratch copy(n);
  std::memcpy(copy.data(), b->head_ptr() + head, n);
  return scan_into(out, copy.data(), n, mode, consumed, observer, &bin, target, nullptr);
}

TokenStream tokenize(std::string_view text) {
  TokenStream ts;
  ScanMode mode;
  mode.wrap = false;  // a full scan that checks every token and builds nothing
  TypeId result = scan_into(nullptr, reinterpret_cast<const uint8_t*>(text.data()), text.size(), mode,
                            nullptr, nullptr, nullptr, nullptr, &ts.tokens);
  if (result == TYPE_ERROR) {
    ts.ok = false;
    ts.error = g.error;
  }
  return ts;
}

}  // namespace zem::lexer
