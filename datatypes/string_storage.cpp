// String storage: reading, writing, widening and copying code units of 1, 2 or 4 bytes in series
// buffers.
#include "datatypes/string_storage.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "evaluator/stack.h"
#include "runtime/casefold.h"
#include "runtime/dtoa.h"
#include "runtime/error.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"

namespace zem::str {

namespace {

[[noreturn]] void bad_unit() { crash_report(CRASH_ASSERTION_FAILED, 0); }

inline void check_unit(uint32_t unit) {
  if (unit != 1 && unit != 2 && unit != 4 && unit != 8) bad_unit();
}

inline void put_unit(uint8_t* p, uint32_t unit, uint32_t cp) {
  switch (unit) {
    case 1:
      *p = static_cast<uint8_t>(cp);
      break;
    case 2:
      p[0] = static_cast<uint8_t>(cp);
      p[1] = static_cast<uint8_t>(cp >> 8);
      break;
    case 4:
      p[0] = static_cast<uint8_t>(cp);
      p[1] = static_cast<uint8_t>(cp >> 8);
      p[2] = static_cast<uint8_t>(cp >> 16);
      p[3] = static_cast<uint8_t>(cp >> 24);
      break;
    case 8:  // a vector's 8-byte element: the value in the low half
      std::memcpy(p, &cp, 4);
      std::memset(p + 4, 0, 4);
      break;
    default:
      bad_unit();
  }
}

// The unit a code point needs when appended (unit 1 keeps ASCII only) or written over a unit.
inline uint32_t unit_to_append(uint32_t cp) { return cp < 0x80 ? 1 : cp <= 0xFFFF ? 2 : 4; }
inline uint32_t unit_to_write(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// Units from the buffer's first unit to its tail.
inline uint32_t buffer_units(const SeriesBuffer* b) { return b->length(); }

// The head index clamped to the buffer.
inline uint32_t clamped_head(const Cell& s, const SeriesBuffer* b) {
  return std::min<uint32_t>(s.head_index(), buffer_units(b));
}

}  // namespace

void put_char(uint8_t* p, uint32_t unit, uint32_t cp) { put_unit(p, unit, cp); }

uint32_t get_char(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1:
      return *p;
    case 2:
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8);
    case 4:
    case 8:  // a vector's 8-byte element: its low half
      return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
             (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    default:
      bad_unit();
  }
}

uint32_t code_point_at(const Cell& s, uint32_t i) {
  const SeriesBuffer* b = series_buffer(s.node());
  return get_char(b->head_ptr() + (static_cast<size_t>(s.head_index()) + i) * b->unit(), b->unit());
}

uint8_t* head_address(Cell& s) {
  SeriesBuffer* b = series_buffer(s.node());
  uint32_t len = buffer_units(b);
  if (s.head_index() > len) s.set_head_index(len);
  return b->head_ptr() + static_cast<size_t>(s.head_index()) * b->unit();
}

bool head_at_tail(const Cell& s) {
  const SeriesBuffer* b = series_buffer(s.node());
  return s.head_index() >= buffer_units(b);
}

uint32_t count_from_head(const Cell& s) {
  const SeriesBuffer* b = series_buffer(s.node());
  uint32_t len = buffer_units(b);
  return s.head_index() >= len ? 0 : len - s.head_index();
}

int32_t index_of_code_point(const Cell& s, uint32_t cp) {
  const SeriesBuffer* b = series_buffer(s.node());
  uint32_t unit = b->unit();
  uint32_t n = count_from_head(s);
  const uint8_t* p = b->head_ptr() + static_cast<size_t>(s.head_index()) * unit;
  for (uint32_t i = 0; i < n; i++)
    if (get_char(p + static_cast<size_t>(i) * unit, unit) == cp) return static_cast<int32_t>(i);
  return -1;
}

bool contains_code_point(const Cell& s, uint32_t cp, uint32_t step, bool case_sensitive) {
  const SeriesBuffer* b = series_buffer(s.node());
  uint32_t unit = b->unit();
  uint32_t n = count_from_head(s);
  if (step == 0) step = 1;
  const uint8_t* p = b->head_ptr() + static_cast<size_t>(s.head_index()) * unit;
  if (!case_sensitive) cp = casefold::to_upper(cp);
  for (uint32_t i = 0; i < n; i += step) {
    uint32_t c = get_char(p + static_cast<size_t>(i) * unit, unit);
    if (!case_sensitive) c = casefold::to_upper(c);
    if (c == cp) return true;
  }
  return false;
}

bool starts_with_c_text(const Cell& s, std::string_view bytes) {
  if (count_from_head(s) < bytes.size()) return false;
  for (size_t i = 0; i < bytes.size(); i++)
    if (code_point_at(s, static_cast<uint32_t>(i)) != static_cast<uint8_t>(bytes[i])) return false;
  return true;
}

// ---- Writes --------------------------------------------------------------------------------------

namespace {

// Twice what the used bytes and the extra need (or just that near the size limit).
int64_t grown_capacity(const SeriesBuffer* b, uint64_t extra) {
  uint64_t need = static_cast<uint64_t>(b->used()) + extra;
  uint64_t grown = need * 2;
  if (grown > static_cast<uint64_t>(kMaxSeriesBytes)) grown = need;  // alloc raises when still too big
  return static_cast<int64_t>(grown);
}

}  // namespace

SeriesBuffer* reserve_bytes(NodeId node, uint64_t extra) {
  SeriesBuffer* b = series_buffer(node);
  if (extra <= b->room()) return b;
  return alloc::expand_copy(node, grown_capacity(b, extra));
}

SeriesBuffer* grow_bytes(NodeId node, uint64_t extra) {
  SeriesBuffer* b = series_buffer(node);
  if (extra <= b->room()) return b;
  return alloc::expand_remap(node, grown_capacity(b, extra));
}

SeriesBuffer* widen_to(NodeId node, uint32_t unit) {
  return unicode::widen_series(node, static_cast<int>(unit));
}

SeriesBuffer* append_code_point(NodeId node, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t need = unit_to_append(cp);
  if (need > b->unit()) b = widen_to(node, need);
  uint32_t unit = b->unit();
  check_unit(unit);
  if (b->room() < unit) b = reserve_bytes(node, unit);
  put_unit(b->tail_ptr(), unit, cp);
  b->tail += unit;
  return b;
}

SeriesBuffer* overwrite_code_point(NodeId node, uint32_t unit_index, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t need = unit_to_write(cp);
  if (need > b->unit()) b = widen_to(node, need);
  put_unit(b->head_ptr() + static_cast<size_t>(unit_index) * b->unit(), b->unit(), cp);
  return b;
}

SeriesBuffer* put_code_point_at(NodeId node, uint32_t index, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t need = unit_to_write(cp);
  if (need > b->unit()) b = widen_to(node, need);
  uint32_t unit = b->unit();
  check_unit(unit);
  uint64_t end = (static_cast<uint64_t>(index) + 1) * unit;  // bytes from the first unit
  if (end > b->capacity - b->head) b = reserve_bytes(node, end - b->used());
  uint32_t len = b->length();
  if (index > len)  // the units between the old tail and the write hold U+0000, never stale bytes
    std::memset(b->tail_ptr(), 0, static_cast<size_t>(index - len) * unit);
  put_unit(b->head_ptr() + static_cast<size_t>(index) * unit, unit, cp);
  if (index >= len) b->tail = b->head + static_cast<uint32_t>(end);
  return b;
}

SeriesBuffer* insert_code_point_at(NodeId node, uint32_t index, uint32_t cp) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t need = unit_to_write(cp);
  if (need > b->unit()) b = widen_to(node, need);
  uint32_t unit = b->unit();
  check_unit(unit);
  if (b->room() < unit) b = reserve_bytes(node, unit);
  uint32_t len = b->length();
  if (index > len) index = len;
  uint8_t* at = b->head_ptr() + static_cast<size_t>(index) * unit;
  std::memmove(at + unit, at, static_cast<size_t>(len - index) * unit);
  put_unit(at, unit, cp);
  b->tail += unit;
  return b;
}

void remove_units(const Cell& s, uint32_t index, uint32_t count) {
  SeriesBuffer* b = series_buffer(s.node());
  uint32_t len = b->length();
  uint64_t from = static_cast<uint64_t>(s.head_index()) + index;
  if (from >= len || count == 0) return;
  uint64_t to = std::min<uint64_t>(from + count, len);
  uint32_t unit = b->unit();
  uint8_t* p = b->head_ptr();
  std::memmove(p + from * unit, p + to * unit, (len - to) * unit);
  b->tail -= static_cast<uint32_t>((to - from) * unit);
}

void truncate(const Cell& s, uint32_t n) {
  SeriesBuffer* b = series_buffer(s.node());
  if (b->length() > n) b->set_length(n);
}

void reset_empty(Cell& s) {
  SeriesBuffer* b = series_buffer(s.node());
  b->flags = (b->flags & ~kSeriesUnitMask) | 1u;
  b->tail = b->head;
  s.set_head_index(0);
}

SeriesBuffer* append_c_text(NodeId node, std::string_view bytes) {
  SeriesBuffer* b = series_buffer(node);
  if (bytes.empty()) return b;
  bool ascii = std::all_of(bytes.begin(), bytes.end(), [](char c) { return (c & 0x80) == 0; });
  if (!ascii && b->unit() < 2) b = widen_to(node, 2);
  uint32_t unit = b->unit();
  check_unit(unit);
  b = reserve_bytes(node, static_cast<uint64_t>(bytes.size()) * unit);
  uint8_t* p = b->tail_ptr();
  if (unit == 1) {
    std::memcpy(p, bytes.data(), bytes.size());
  } else {
    for (size_t i = 0; i < bytes.size(); i++)
      put_unit(p + i * unit, unit, static_cast<uint8_t>(bytes[i]));
  }
  b->tail += static_cast<uint32_t>(bytes.size() * unit);
  return b;
}

SeriesBuffer* append_utf8(NodeId node, std::string_view utf8) {
  SeriesBuffer* b = series_buffer(node);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const uint8_t* end = p + utf8.size();
  // ASCII runs go in as bytes; anything else is decoded one sequence at a time.
  while (p < end) {
    const uint8_t* run = p;
    while (p < end && *p < 0x80) p++;
    if (p > run)
      b = append_c_text(node, std::string_view(reinterpret_cast<const char*>(run), p - run));
    if (p == end) break;
    size_t len = static_cast<size_t>(end - p);
    int32_t cp = unicode::decode_utf8_checked(p, len);
    if (cp < 0) fire(Err::access_invalid_utf8);  // cut short at the end
    b = append_code_point(node, static_cast<uint32_t>(cp));
    p += len;
  }
  return b;
}

SeriesBuffer* concatenate(Cell& target, const Cell& source, int32_t part, uint32_t offset,
                          bool per_code_point, ConcatMode mode) {
  if (source.is(TYPE_SYMBOL)) {
    Cell name = symbol::name_string_of(source);
    return concatenate(target, name, part, offset, per_code_point, mode);
  }
  // A symbol's name string stands for its interned bytes: writing into it would make the two
  // disagree.
  if (target.is(TYPE_SYMBOL)) fire(Err::script_protected);
  NodeId tnode = target.node();
  NodeId snode = source.node();
  SeriesBuffer* tb = series_buffer(tnode);
  SeriesBuffer* sb = series_buffer(snode);
  if (tb->unit() < sb->unit()) {
    tb = widen_to(tnode, sb->unit());
  } else if (sb->unit() < tb->unit() && !per_code_point) {
    sb = widen_to(snode, tb->unit());
    tb = series_buffer(tnode);
  }
  sb = series_buffer(snode);
  uint32_t n = count_from_head(source);
  if (part >= 0 && static_cast<uint32_t>(part) < n) n = static_cast<uint32_t>(part);
  uint32_t tunit = tb->unit();
  uint32_t sunit = sb->unit();
  check_unit(tunit);
  check_unit(sunit);
  uint64_t bytes = static_cast<uint64_t>(n) * tunit;
  if (bytes == 0) return tb;

  // The source text, copied aside when it lives in the target's buffer (moving the target's units
  // would otherwise move it under the copy).
  std::vector<uint8_t> own;
  const uint8_t* from = nullptr;
  size_t src_head = clamped_head(source, sb);
  if (snode == tnode) {
    own.assign(sb->head_ptr() + src_head * sunit, sb->head_ptr() + (src_head + n) * sunit);
    from = own.data();
  }

  uint32_t thead = clamped_head(target, tb);
  uint32_t tlen = tb->length();
  uint64_t at_unit = mode == ConcatMode::append ? tlen : std::min<uint64_t>(thead + offset, tlen);
  uint64_t grow = bytes;
  if (mode == ConcatMode::overwrite)
    grow = (at_unit + n > tlen) ? (at_unit + n - tlen) * tunit : 0;
  tb = grow_bytes(tnode, grow);  // the source is read through its node below, or was copied aside
  if (!from) from = series_buffer(snode)->head_ptr() + src_head * sunit;

  uint8_t* base = tb->head_ptr();
  uint8_t* dest = base + at_unit * tunit;
  if (mode == ConcatMode::insert)
    std::memmove(dest + bytes, dest, static_cast<size_t>(tlen - at_unit) * tunit);
  if (sunit == tunit) {
    std::memmove(dest, from, bytes);
  } else {  // a narrower source copied code point by code point
    for (uint32_t i = 0; i < n; i++)
      put_unit(dest + static_cast<size_t>(i) * tunit, tunit, get_char(from + static_cast<size_t>(i) * sunit, sunit));
  }
  uint64_t written_end = at_unit * tunit + bytes;
  if (mode == ConcatMode::insert) {
    tb->tail += static_cast<uint32_t>(bytes);
  } else if (tb->head + written_end > tb->tail) {
    tb->tail = tb->head + static_cast<uint32_t>(written_end);
  }
  return tb;
}

namespace {
constexpr size_t kRotateScratch = 64 * 1024;
std::vector<uint8_t>& rotate_scratch() {
  static std::vector<uint8_t> scratch(kRotateScratch);
  return scratch;
}
}  // namespace

size_t find_either_byte(const uint8_t* p, size_t n, uint8_t a, uint8_t b) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHighs = 0x8080808080808080ULL;
  const uint64_t ma = kOnes * a, mb = kOnes * b;
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t w;
    std::memcpy(&w, p + i, 8);
    const uint64_t xa = w ^ ma, xb = w ^ mb;
    // A zero byte in xa or xb: the usual test, exact for "some byte is zero".
    if (((xa - kOnes) & ~xa & kHighs) | ((xb - kOnes) & ~xb & kHighs)) break;
  }
  for (; i < n; i++)
    if (p[i] == a || p[i] == b) return i;
  return n;
}

void rotate_bytes(uint8_t* p, size_t a, size_t b) {
  if (a == 0 || b == 0) return;
  std::vector<uint8_t>& scratch = rotate_scratch();
  size_t small = std::min(a, b);
  if (scratch.size() < small) scratch.resize(small);
  if (a <= b) {
    std::memcpy(scratch.data(), p, a);
    std::memmove(p, p + a, b);
    std::memcpy(p + b, scratch.data(), a);
  } else {
    std::memcpy(scratch.data(), p + a, b);
    std::memmove(p + b, p, a);
    std::memcpy(p, scratch.data(), b);
  }
  if (scratch.size() > kRotateScratch) {  // one large rotation does not keep its memory
    scratch.resize(kRotateScratch);
    scratch.shrink_to_fit();
  }
  if (scratch.size() > kRotateScratch) {
    scratch.resize(kRotateScratch);
    scratch.shrink_to_fit();
  }
}

void move_head_units(Cell& source, Cell& target, uint32_t bytes) {
  const SeriesBuffer* sb = series_buffer(source.node());
  uint32_t unit = sb->unit();
  check_unit(unit);
  uint32_t n = std::min(bytes / unit, count_from_head(source));
  uint32_t at = clamped_head(target, series_buffer(target.node()));
  for (uint32_t i = 0; i < n; i++)
    insert_code_point_at(target.node(), at + i, code_point_at(source, i));
  remove_units(source, 0, n);
}

// ---- Construction --------------------------------------------------------------------------------

void init_with_unit(Cell& s, uint32_t capacity, uint32_t unit) {
  check_unit(unit);
  NodeId node = alloc::make_unit_series(std::max<uint32_t>(capacity, 1), unit);
  s = Cell{};
  s.set_header(TYPE_STRING);
  s.set_node(node);
}

void init_empty(Cell& s, uint32_t capacity, TypeId type) {
  init_with_unit(s, capacity, 1);
  s.set_header(type);
}

Cell make_string(uint32_t capacity, TypeId type) {
  Cell s;
  init_empty(s, capacity, type);
  return s;
}

Cell make_from_c_text(std::string_view bytes, TypeId type) {
  Cell s = make_string(static_cast<uint32_t>(bytes.size()), type);
  append_c_text(s.node(), bytes);
  return s;
}

Cell make_from_utf8(std::string_view utf8, TypeId type) {
  Cell s = make_string(static_cast<uint32_t>(utf8.size()), type);
  append_utf8(s.node(), utf8);
  return s;
}

void load_from_buffer(const uint8_t* text, size_t length, Cell& target, int32_t encoding) {
  uint32_t count = 0;
  NodeId node;
  switch (encoding) {
    case ENC_UTF8:
      node = unicode::load_utf8_series(text, length, 0, false, &count);
      break;
    case ENC_UTF16LE:
      node = unicode::load_utf16le_series(text, length, 0, false, &count);
      break;
    default: {
      // A language error rather than a silent end of the process: the caller's text is kept and
      // the failure is reported where it can be caught.
      Cell enc{};
      enc.set_header(TYPE_INTEGER);
      enc.set_int_value(static_cast<int32_t>(encoding));
      fire(Err::script_invalid_arg, &enc);
    }
  }
  target = Cell{};
  target.set_header(TYPE_STRING);
  target.set_node(node);
}

void load_into_block(const uint8_t* text, size_t length, const Cell& block, int32_t encoding) {
  Cell s;
  load_from_buffer(text, length, s, encoding);
  block::append_cell(block, s);
}

Cell* load_on_stack(const uint8_t* text, size_t length, int32_t encoding) {
  Cell s;
  load_from_buffer(text, length, s, encoding);
  return stack::push_value(s);
}

Cell* push(const Cell& s) { return stack::push_value(s); }

Cell load_utf8_bytes(const uint8_t* bytes, size_t length) {
  // Validate first, so the error can carry the bytes from the first bad sequence on.
  size_t pos = 0;
  while (pos < length) {
    if (bytes[pos] < 0x80) {
      pos++;
      continue;
    }
    size_t len = length - pos;
    int32_t cp;
    try {
      cp = unicode::decode_utf8_checked(bytes + pos, len);
    } catch (const Unwind&) {
      cp = -1;
    }
    if (cp < 0) {
      clear_pending_exit();
      FurtherTypeHooks& hooks = further_type_hooks();
      if (hooks.binary_load.installed()) {
        Cell rest = hooks.binary_load(bytes + pos, static_cast<uint32_t>(length - pos));
        fire(Err::access_invalid_utf8, &rest);
      }
      fire(Err::access_invalid_utf8);
    }
    pos += len;
  }
  Cell s;
  load_from_buffer(bytes, length, s, ENC_UTF8);
  return s;
}

double to_float(const Cell& s, size_t* unread) {
  uint32_t n = count_from_head(s);
  std::string text;
  text.reserve(n);
  for (uint32_t i = 0; i < n; i++) {
    uint32_t cp = code_point_at(s, i);
    if (cp >= 0x80) break;
    text.push_back(static_cast<char>(cp));
  }
  size_t left = 0;
  double d = dtoa::text_to_float(text.data(), text.data() + text.size(), 0, &left);
  if (unread) *unread = left + (n - text.size());
  return d;
}

// ---- Hexadecimal ---------------------------------------------------------------------------------

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
char g_hex_buffer[12];
}  // namespace

const char* byte_to_hex(uint8_t byte) {
  g_hex_buffer[0] = kHexDigits[byte >> 4];
  g_hex_buffer[1] = kHexDigits[byte & 15];
  g_hex_buffer[2] = 0;
  return g_hex_buffer;
}

const char* int_to_hex(int32_t value, bool short_form) {
  uint32_t v = static_cast<uint32_t>(value);
  for (int i = 0; i < 8; i++) g_hex_buffer[i] = kHexDigits[(v >> ((7 - i) * 4)) & 15];
  g_hex_buffer[8] = 0;
  if (!short_form) return g_hex_buffer;
  if (v == 0) return "00";
  char fill = value < 0 ? 'F' : '0';
  int first = 0;
  while (first < 7 && g_hex_buffer[first] == fill) first++;
  return g_hex_buffer + first;
}

// ---- Output --------------------------------------------------------------------------------------

void StringOut::append_ascii(std::string_view text) { append_c_text(node_, text); }

void StringOut::append_code_point(uint32_t cp) { str::append_code_point(node_, cp); }

std::string to_std_string(const Cell& s) {
  std::string out;
  const SeriesBuffer* b = series_buffer(s.node());
  uint32_t n = count_from_head(s);
  unicode::encode_utf8_units(b->head_ptr() + static_cast<size_t>(clamped_head(s, b)) * b->unit(),
                             n, static_cast<int>(b->unit()), false, out);
  return out;
}

}  // namespace zem::str
