// Text encodings: UTF-8 and UTF-16LE decoding and encoding into code point units.
#include "runtime/unicode.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem::unicode {

namespace {

// ---- Strict UTF-8 automaton ----
// Bytes fall into 12 classes; states are multiples of 12 so that state + class indexes the table.
enum : int {
  kAccept = 0,
  kReject = 12,
  kNeed1 = 24,     // one continuation byte left
  kNeed2 = 36,     // two left
  kAfterE0 = 48,   // A0-BF next (no overlong 3-byte form)
  kAfterED = 60,   // 80-9F next (no surrogates)
  kAfterF0 = 72,   // 90-BF next (no overlong 4-byte form)
  kNeed3 = 84,     // after F1-F3
  kAfterF4 = 96,   // 80-8F next (nothing above U+10FFFF)
  kStates = 108,
  // byte classes
  kAscii = 0, kCont80 = 1, kLead2 = 2, kLead3 = 3, kLeadED = 4, kLeadF4 = 5, kLead4 = 6,
  kContA0 = 7, kBad = 8, kCont90 = 9, kLeadE0 = 10, kLeadF0 = 11,
};

struct Automaton {
  std::array<uint8_t, 256> byte_class{};
  std::array<uint8_t, kStates> next{};
};

constexpr Automaton make_automaton() {
  Automaton a{};
  for (int b = 0; b < 256; b++) {
    int c = kBad;
    if (b < 0x80) c = kAscii;
    else if (b < 0x90) c = kCont80;
    else if (b < 0xA0) c = kCont90;
    else if (b < 0xC0) c = kContA0;
    else if (b < 0xC2) c = kBad;
    else if (b < 0xE0) c = kLead2;
    else if (b == 0xE0) c = kLeadE0;
    else if (b == 0xED) c = kLeadED;
    else if (b < 0xF0) c = kLead3;
    else if (b == 0xF0) c = kLeadF0;
    else if (b < 0xF4) c = kLead4;
    else if (b == 0xF4) c = kLeadF4;
    a.byte_class[b] = static_cast<uint8_t>(c);
  }
  for (auto& s : a.next) s = kReject;
  a.next[kAccept + kAscii] = kAccept;
  a.next[kAccept + kLead2] = kNeed1;
  a.next[kAccept + kLead3] = kNeed2;
  a.next[kAccept + kLeadE0] = kAfterE0;
  a.next[kAccept + kLeadED] = kAfterED;
  a.next[kAccept + kLeadF0] = kAfterF0;
  a.next[kAccept + kLead4] = kNeed3;
  a.next[kAccept + kLeadF4] = kAfterF4;
  for (int c : {kCont80, kCont90, kContA0}) {
    a.next[kNeed1 + c] = kAccept;
    a.next[kNeed2 + c] = kNeed1;
    a.next[kNeed3 + c] = kNeed2;
  }
  a.next[kAfterE0 + kContA0] = kNeed1;
  a.next[kAfterED + kCont80] = kNeed1;
  a.next[kAfterED + kCont90] = kNeed1;
  a.next[kAfterF0 + kCont90] = kNeed2;
  a.next[kAfterF0 + kContA0] = kNeed2;
  a.next[kAfterF4 + kCont80] = kNeed2;
  return a;
}

constexpr Automaton kUtf8 = make_automaton();

[[noreturn]] void fire_invalid_char(uint32_t cp) {
  Cell arg{};
  arg.set_header(TYPE_INTEGER);
  arg.set_int_value(static_cast<int32_t>(cp));
  fire(Err::script_invalid_char, &arg);
}

// The error carries the bytes at the position (up to 4, never past the input) as a binary! value.
[[noreturn]] void fire_invalid_utf8(const uint8_t* at, size_t avail) {
  if (!memory_state.initialised) fire(Err::access_invalid_utf8);
  size_t n = std::min<size_t>(avail, 4);
  NodeId node = alloc::make_bytes(static_cast<int64_t>(n));
  SeriesBuffer* b = series_buffer(node);
  std::memcpy(b->head_ptr(), at, n);
  b->tail = b->head + static_cast<uint32_t>(n);
  Cell bytes{TYPE_BINARY, 0, node, 0};
  fire(Err::access_invalid_utf8, &bytes);
}

inline bool is_cont(uint8_t b) { return (b & 0xC0) == 0x80; }

}  // namespace

uint32_t read_unit(const uint8_t* p, int unit) {
  switch (unit) {
    case 1:
      return *p;
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

void write_unit(uint8_t* p, int unit, uint32_t cp) {
  switch (unit) {
    case 1:
      *p = static_cast<uint8_t>(cp);
      break;
    case 2: {
      uint16_t v = static_cast<uint16_t>(cp);
      std::memcpy(p, &v, 2);
      break;
    }
    default:
      std::memcpy(p, &cp, 4);
  }
}

void widen_units(uint8_t* data, size_t count, int from, int to) {
  for (size_t i = count; i-- > 0;) write_unit(data + i * to, to, read_unit(data + i * from, from));
}

void UnitText::widen(int to) {
  if (to <= unit) return;
  size_t n = size();
  bytes.resize(n * to);
  widen_units(bytes.data(), n, unit, to);
  unit = to;
}

void UnitText::push(uint32_t cp) {
  int need = unit_for(cp);
  if (need > unit) widen(need);
  size_t at = bytes.size();
  bytes.resize(at + unit);
  write_unit(bytes.data() + at, unit, cp);
}

void UnitText::put(size_t i, uint32_t cp) {
  int need = unit_for(cp);
  if (need > unit) widen(need);
  write_unit(bytes.data() + i * unit, unit, cp);
}

std::u32string UnitText::code_points() const {
  std::u32string s(size(), U'\0');
  for (size_t i = 0; i < s.size(); i++) s[i] = at(i);
  return s;
}

// ---- UTF-8 ----

int32_t fast_decode_utf8_char(const uint8_t*& p, const uint8_t* end) {
  uint8_t state = kAccept;
  uint32_t cp = 0;
  const uint8_t* start = p;
  const uint8_t* q = p;
  while (q < end) {
    uint8_t b = *q;
    uint8_t next = kUtf8.next[state + kUtf8.byte_class[b]];
    if (next == kReject) {
      p = q == start ? q + 1 : q;  // the failing byte may begin the next sequence
      return -1;
    }
    cp = state == kAccept ? b & (0x7Fu >> utf8_seq_len(b)) : (cp << 6) | (b & 0x3F);
    q++;
    if (next == kAccept) {
      p = q;
      return static_cast<int32_t>(cp);
    }
    state = next;
  }
  p = end;
  return -1;
}

size_t count_utf8_chars(const uint8_t* start, const uint8_t* end) {
  size_t n = 0;
  while (start < end) {
    if (*start < 0x80) start++;
    else fast_decode_utf8_char(start, end);
    n++;
  }
  return n;
}

const uint8_t* skip_utf8_chars(const uint8_t* p, const uint8_t* end, size_t n) {
  while (n > 0 && p < end) {
    if (*p < 0x80) p++;
    else fast_decode_utf8_char(p, end);
    n--;
  }
  return p;
}

int utf8_seq_len(uint8_t lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 0;
}

int utf8_char_size(uint32_t cp) {
  if (cp <= 0x7F) return 1;
  if (cp <= 0x7FF) return 2;
  if (cp <= 0xFFFF) return 3;
  if (cp <= kMaxCodePoint) return 4;
  fire_invalid_char(cp);
}

size_t utf8_size_of_units(const uint8_t* start, const uint8_t* end, int unit) {
  size_t n = 0;
  if (unit == 1) {
    for (const uint8_t* p = start; p < end; p++) n += *p < 0x80 ? 1 : 2;
    return n;
  }
  for (const uint8_t* p = start; p < end; p += unit) n += utf8_char_size(read_unit(p, unit));
  return n;
}

int encode_utf8_char(uint32_t cp, uint8_t* out) {
  if (cp <= 0x7F) {
    out[0] = static_cast<uint8_t>(cp);
    return 1;
  }
  if (cp <= 0x7FF) {
    out[0] = static_cast<uint8_t>(0xC0 | (cp >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp <= 0xFFFF) {
    out[0] = static_cast<uint8_t>(0xE0 | (cp >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 3;
  }
  if (cp <= kMaxCodePoint) {
    out[0] = static_cast<uint8_t>(0xF0 | (cp >> 18));
    out[1] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    return 4;
  }
  fire_invalid_char(cp);
}

int encode_utf8_char_bounded(uint32_t cp, uint8_t* out, size_t room) {
  uint8_t seq[4];
  int n = encode_utf8_char(cp, seq);
  if (static_cast<size_t>(n) > room) n = static_cast<int>(room);
  std::memcpy(out, seq, n);
  return n;
}

int32_t decode_utf8_checked(const uint8_t* p, size_t& len) {
  uint8_t b = p[0];
  if (b < 0x80) {
    len = 1;
    return b;
  }
  // C0 and C1 could only start overlong forms; F8 and above start nothing.
  if (b < 0xC2 || b > 0xF7) fire_invalid_utf8(p, len);
  size_t need = utf8_seq_len(b);
  if (len < need) return -1;
  for (size_t i = 1; i < need; i++)
    if (!is_cont(p[i])) fire_invalid_utf8(p, len);
  uint32_t cp;
  if (need == 2) {
    cp = ((b & 0x1Fu) << 6) | (p[1] & 0x3F);
  } else if (need == 3) {
    if (b == 0xE0 && p[1] < 0xA0) fire_invalid_utf8(p, len);  // overlong
    cp = ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3F);
    if (cp >= 0xDC00 && cp <= 0xDCFF) fire_invalid_utf8(p, len);
  } else {
    if (b == 0xF0 && p[1] < 0x90) fire_invalid_utf8(p, len);  // overlong
    cp = ((b & 0x07u) << 18) | ((p[1] & 0x3Fu) << 12) | ((p[2] & 0x3Fu) << 6) | (p[3] & 0x3F);
    if (cp > kMaxCodePoint) fire_invalid_utf8(p, len);
  }
  len = need;
  return static_cast<int32_t>(cp);
}

size_t load_utf8(const uint8_t* bytes, size_t len, UnitText& out, bool crlf) {
  const uint8_t* p = bytes;
  const uint8_t* end = bytes + len;
  if (len >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) p += 3;
  // Never more code points than bytes: size for that, widen as needed, cut to the count at the end.
  int unit = out.unit;
  out.bytes.assign(static_cast<size_t>(end - p) * unit, 0);
  uint8_t* w = out.bytes.data();
  size_t n = 0;
  while (p < end) {
    if (unit == 1) {  // runs of plain ASCII
      while (p < end && *p < 0x80 && *p != '\r') w[n++] = *p++;
      if (p == end) break;
    }
    uint32_t cp = *p;
    if (cp < 0x80) {
      p++;
      if (crlf && cp == '\r') {
        if (p < end && *p == '\n') continue;  // the LF that follows stands for both
        cp = '\n';
      }
    } else {
      size_t used = static_cast<size_t>(end - p);
      int32_t c = decode_utf8_checked(p, used);
      if (c < 0) fire_invalid_utf8(p, static_cast<size_t>(end - p));  // the input ends inside a sequence
      cp = static_cast<uint32_t>(c);
      p += used;
    }
    if (unit_for(cp) > unit) {
      int to = unit_for(cp);
      out.bytes.resize(out.bytes.size() / unit * to);
      w = out.bytes.data();
      widen_units(w, n, unit, to);
      unit = out.unit = to;
    }
    write_unit(w + n * unit, unit, cp);
    n++;
  }
  out.bytes.resize(n * unit);
  return n;
}

size_t write_utf8_units(const uint8_t* units, size_t count, int unit, bool crlf, uint8_t* out) {
  uint8_t* w = out;
  for (size_t i = 0; i < count; i++) {
    uint32_t cp = read_unit(units + i * unit, unit);
    if (cp < 0x80) {
      if (crlf && cp == '\n') *w++ = '\r';
      *w++ = static_cast<uint8_t>(cp);
    } else {
      w += encode_utf8_char(cp, w);
    }
  }
  return static_cast<size_t>(w - out);
}

void encode_utf8_units(const uint8_t* units, size_t count, int unit, bool crlf, std::string& out) {
  size_t at = out.size();
  out.resize(at + utf8_room_for(count, unit));
  size_t n;
  try {
    n = write_utf8_units(units, count, unit, crlf, reinterpret_cast<uint8_t*>(out.data()) + at);
  } catch (...) {
    out.resize(at);
    throw;
  }
  out.resize(at + n);
}

size_t encode_utf8_units_bounded(const uint8_t* units, size_t count, int unit, uint8_t* out,
                                 size_t capacity) {
  size_t n = 0;
  size_t i = 0;
  if (unit == 1) {
    // Runs of ASCII go as they are: saving and converting large texts is mostly ASCII.
    while (i < count && n < capacity) {
      size_t run = 0, most = std::min(count - i, capacity - n);
      while (run < most && units[i + run] < 0x80) run++;
      std::memcpy(out + n, units + i, run);
      n += run;
      i += run;
      if (i < count && n < capacity) n += encode_utf8_char_bounded(units[i++], out + n, capacity - n);
    }
    return n;
  }
  for (; i < count && n < capacity; i++)
    n += encode_utf8_char_bounded(read_unit(units + i * unit, unit), out + n, capacity - n);
  return n;
}

// ---- UTF-16 ----

namespace {
inline uint16_t utf16_at(const uint8_t* le, size_t i) {
  return static_cast<uint16_t>(le[2 * i] | (le[2 * i + 1] << 8));
}
inline bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
}  // namespace

int utf16_unit_needed(const uint8_t* le, size_t units) {
  int need = 1;
  for (size_t i = 0; i < units; i++) {
    uint16_t u = utf16_at(le, i);
    if (is_high_surrogate(u)) return 4;
    if (u > 0xFF) need = 2;
  }
  return need;
}

size_t load_utf16le(const uint8_t* le, size_t units, UnitText& out, bool crlf) {
  int need = utf16_unit_needed(le, units);
  if (units == 0 && need < 2) need = 2;
  int unit = out.unit = std::max(out.unit, need);
  out.bytes.assign(units * unit, 0);
  uint8_t* w = out.bytes.data();
  size_t n = 0;
  for (size_t i = 0; i < units; i++) {
    uint32_t u = utf16_at(le, i);
    if (crlf && u == '\r') continue;
    if (is_high_surrogate(u)) {
      uint32_t low = i + 1 < units ? utf16_at(le, i + 1) : 0;
      if (!is_low_surrogate(low)) {
        out.bytes.clear();
        fire(Err::script_invalid_chars);
      }
      u = 0x10000 + (((u & 0x3FF) << 10) | (low & 0x3FF));
      i++;
    }
    write_unit(w + n * unit, unit, u);
    n++;
  }
  out.bytes.resize(n * unit);
  return n;
}

int encode_utf16_char(uint32_t cp, char16_t* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  if (cp > kMaxCodePoint) return 0;
  cp -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 | (cp >> 10));
  out[1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  return 2;
}

size_t utf16_extra_units(const uint8_t* units, size_t count, int unit, bool crlf) {
  if (unit == 1 && !crlf) return 0;
  size_t extra = 0;
  for (size_t i = 0; i < count; i++) {
    uint32_t cp = read_unit(units + i * unit, unit);
    if (cp > 0xFFFF) extra++;
    else if (crlf && cp == '\n') extra++;
  }
  return extra;
}

bool encode_utf16_units(const uint8_t* units, size_t count, int unit, bool crlf, std::u16string& out) {
  size_t at = out.size();
  if (unit == 2 && !crlf) {
    out.resize(at + count);
    std::memcpy(out.data() + at, units, count * 2);
    return true;
  }
  out.resize(at + count + utf16_extra_units(units, count, unit, crlf));
  char16_t* w = out.data() + at;
  for (size_t i = 0; i < count; i++) {
    uint32_t cp = read_unit(units + i * unit, unit);
    if (crlf && cp == '\n') *w++ = u'\r';
    int n = encode_utf16_char(cp, w);
    if (n == 0) {
      out.resize(at);
      return false;
    }
    w += n;
  }
  return true;
}

std::u16string latin1_to_utf16(const char* text) {
  std::u16string s;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; p++) s.push_back(*p);
  return s;
}

}  // namespace zem::unicode
