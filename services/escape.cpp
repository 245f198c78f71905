// ESC [ sequences for a terminal: parsing into screen operations and writing them as ANSI text.
#include "services/escape.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <charconv>

namespace zem::escape {

namespace {

enum class State { Start, First, Separator, Second };

constexpr uint32_t kParameterModulus = 65535;

// Colour bits 0-7 of the attribute word (blue 1, green 2, red 4) as an ANSI colour index
// (red 1, green 2, blue 4).
int ansi_colour(int bits) { return (bits & 1) << 2 | (bits & 2) | (bits & 4) >> 2; }

void append_number(std::string& s, int64_t n) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof buf, n);
  s.append(buf, r.ptr);
}

std::string csi(int64_t n, char final) {
  std::string s = "\x1b[";
  append_number(s, n);
  s += final;
  return s;
}

std::string hex8(int32_t v) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s(8, '0');
  uint32_t u = static_cast<uint32_t>(v);
  for (int i = 7; i >= 0; --i, u >>= 4) s[static_cast<size_t>(i)] = kDigits[u & 15];
  return s;
}

// The erase of `mode` on an ANSI terminal. Modes 1 and 5 also erase the cursor's own cell (and,
// for 1, the cursor's row up to it): ANSI has no erase that stops short of the cursor.
const char* erase_sequence(int mode) {
  switch (mode) {
    case 0: return "\x1b[2K\x1b[J";       // the cursor's whole row and everything below
    case 1: return "\x1b[1J";             // everything above the cursor
    case 2: return "\x1b[2J\x1b[1;1H";    // the screen; cursor home
    case 3: return "\x1b[2K\r";           // the cursor's row; cursor to its column 0
    case 4: return "\x1b[K";              // from the cursor to the end of its row
    case 5: return "\x1b[1K\r";           // the row up to the cursor; cursor to column 0
    default: return "";
  }
}

}  // namespace

bool operator==(const Op& x, const Op& y) {
  return x.kind == y.kind && x.a == y.a && x.b == y.b && x.codes == y.codes;
}

Parsed parse(const void* text, size_t bytes, int unit) {
  const auto* p = static_cast<const uint8_t*>(text);
  const size_t units = unit > 0 ? bytes / static_cast<size_t>(unit) : 0;
  Parsed done;
  if (units < 2 || p[unit] != '[') return done;
  State state = State::Start;
  uint32_t p1 = 0, p2 = 0;
  std::vector<uint16_t> codes;
  for (size_t i = 2;; ++i) {
    if (i >= units) return Parsed{};  // cut off by the end of the text
    const uint8_t c = p[i * static_cast<size_t>(unit)];
    const bool digit = c >= '0' && c <= '9';
    done.consumed = (i + 1) * static_cast<size_t>(unit);
    switch (state) {
      case State::Start:
        if (digit) {
          p1 = c - '0';
          state = State::First;
          continue;
        }
        if (c == ';') continue;
        switch (c) {
          case 's': done.op = Op(OpKind::SaveCursor); break;
          case 'u': done.op = Op(OpKind::RestoreCursor); break;
          case 'K': done.op = Op(OpKind::Erase, 4); break;
          case 'J': done.op = Op(OpKind::Erase, 0); break;
          case 'H':
          case 'f': done.op = Op(OpKind::Position, 0, 0); break;
          case '?': done.op = Op(OpKind::Report); break;
          default: break;
        }
        return done;
      case State::First: {
        if (digit) {
          p1 = (p1 * 10 + (c - '0')) % kParameterModulus;
          continue;
        }
        if (c == ';') {
          state = State::Separator;
          continue;
        }
        const auto n = static_cast<int32_t>(p1);
        switch (c) {
          case 'm':
            codes.push_back(static_cast<uint16_t>(p1));
            done.op = Op(OpKind::Attribute);
            done.op->codes = std::move(codes);
            break;
          case 'A': done.op = Op(OpKind::Up, n); break;
          case 'B': done.op = Op(OpKind::Down, n); break;
          case 'C': done.op = Op(OpKind::Right, n); break;
          case 'D': done.op = Op(OpKind::Left, n); break;
          case 'J':
            if (n == 1 || n == 2) done.op = Op(OpKind::Erase, n);
            break;
          case 'K':
            if (n == 1 || n == 2) done.op = Op(OpKind::Erase, n == 1 ? 5 : 3);
            break;
          default: break;
        }
        return done;
      }
      case State::Separator:
        if (digit) {
          p2 = c - '0';
          state = State::Second;
          continue;
        }
        if (c == ';') continue;
        return done;
      case State::Second:
        if (digit) {
          p2 = (p2 * 10 + (c - '0')) % kParameterModulus;
          continue;
        }
        if (c == 'm' || c == ';') {
          codes.push_back(static_cast<uint16_t>(p1));
          codes.push_back(static_cast<uint16_t>(p2));
          if (c == ';') {  // the pair is applied; the list goes on
            p1 = p2 = 0;
            state = State::Start;
            continue;
          }
          done.op = Op(OpKind::Attribute);
          done.op->codes = std::move(codes);
        } else if (c == 'H' || c == 'f') {
          done.op = Op(OpKind::Position, static_cast<int32_t>(p1), static_cast<int32_t>(p2));
        }
        return done;
    }
  }
}

int32_t apply_sgr(int32_t a, int code, int32_t default_attribute) {
  if (code >= 30 && code <= 37) return (a & 0xF8) | ansi_colour(code - 30);
  if (code >= 40 && code <= 47) return (a & 0x8F) | ansi_colour(code - 40) << 4;
  switch (code) {
    case 0: return default_attribute;
    case 1: return a | 0x88;
    case 4: return a | 0x8000;
    case 7: return ((a & 0xF0) >> 4) | ((a & 0x0F) << 4);
    case 39: return (a & ~0x0F) | (default_attribute & 0x0F);
    case 49: return (a & ~0xF0) | (default_attribute & 0xF0);
    default: return a;
  }
}

std::string attribute_text(int32_t attribute, int32_t default_attribute) {
  std::string s = "\x1b[0";
  const int fg = attribute & 0x0F, bg = attribute >> 4 & 0x0F;
  if (fg != (default_attribute & 0x0F)) {
    s += ';';
    append_number(s, (fg & 8 ? 90 : 30) + ansi_colour(fg & 7));
  }
  if (bg != (default_attribute >> 4 & 0x0F)) {
    s += ';';
    append_number(s, (bg & 8 ? 100 : 40) + ansi_colour(bg & 7));
  }
  if (attribute & 0x8000) s += ";4";
  s += 'm';
  return s;
}

std::string ansi_text(const Op& op, Terminal& t) {
  switch (op.kind) {
    case OpKind::SaveCursor:
      t.saved = true;
      return "\x1b[s";
    case OpKind::RestoreCursor:
      return t.saved ? "\x1b[u" : "\x1b[1;1H";
    case OpKind::Erase: {
      // Erased cells take the default attribute.
      if (t.attribute == t.default_attribute) return erase_sequence(op.a);
      return "\x1b[0m" + std::string(erase_sequence(op.a)) +
             attribute_text(t.attribute, t.default_attribute);
    }
    case OpKind::Up: return op.a > 0 ? csi(op.a, 'A') : "";
    case OpKind::Down: return op.a > 0 ? csi(op.a, 'B') : "";
    case OpKind::Right: return op.a > 0 ? csi(op.a, 'C') : "";
    case OpKind::Left: return op.a > 0 ? csi(op.a, 'D') : "";
    case OpKind::Position: {
      // A position off the screen is refused: the cursor stays.
      if ((t.width > 0 && op.a >= t.width) || (t.height > 0 && op.b >= t.height)) return "";
      std::string s = "\x1b[";
      append_number(s, int64_t{op.b} + 1);
      s += ';';
      append_number(s, int64_t{op.a} + 1);
      s += 'H';
      return s;
    }
    case OpKind::Report: return "";
    case OpKind::Attribute: {
      int32_t a = t.attribute;
      for (uint16_t code : op.codes) a = apply_sgr(a, code, t.default_attribute);
      t.attribute = a;
      return attribute_text(a, t.default_attribute);
    }
  }
  return "";
}

std::string report_text(const Terminal& t) {
  std::string s = "Screen buffer info:\n   size______ ";
  append_number(s, t.width);
  s += 'x';
  append_number(s, t.height);
  s += "\n   cursor____ ?x?\n   attribute_ " + hex8(t.attribute) + " " + hex8(t.default_attribute);
  s += "\n   left______ 0 top: 0\n   right_____ ";
  append_number(s, t.width - 1);
  s += " bottom: ";
  append_number(s, t.height - 1);
  s += "\n   max_______ ";
  append_number(s, t.width);
  s += 'x';
  append_number(s, t.height);
  s += '\n';
  return s;
}

void read_size(int fd, Terminal& t) {
  winsize ws{};
  if (::ioctl(fd, TIOCGWINSZ, &ws) == 0) {
    t.width = ws.ws_col;
    t.height = ws.ws_row;
  } else {
    t.width = t.height = 0;
  }
}

}  // namespace zem::escape
