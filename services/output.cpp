// The standard output writer: UTF-8 text to the output handle, with LF line ends.
#include "services/output.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <charconv>
#include <cstring>
#include <string>

#include "runtime/hooks.h"
#include "runtime/platform.h"
#include "runtime/unicode.h"
#include "services/escape.h"

namespace zem::stdio {

OutputState output_state;

namespace {

OutputState& st = output_state;
escape::Terminal screen;  // what the escape interpreter keeps between sequences

void write_fd(const char* p, size_t n) {
  while (n > 0 && !st.broken) {
    ssize_t w = ::write(st.fd, p, n);
    if (w > 0) {
      p += w;
      n -= static_cast<size_t>(w);
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd pfd{st.fd, POLLOUT, 0};
      ::poll(&pfd, 1, -1);
    } else {
      st.broken = true;  // closed pipe, full disk, no handle: the text is dropped
    }
  }
}

void flush(bool echo) {
  if (st.pos == 0) return;
  write_fd(st.buffer, st.pos);
  if (echo) hooks::call_list2(st.buffer, static_cast<int32_t>(st.pos), 0);
  st.pos = 0;
}

void put_code_point(uint32_t cp, bool echo) {
  if (st.pos > kFlushThreshold) flush(echo);
  // A code point no string can hold raises invalid-char; what came before it is printed first.
  if (cp > unicode::kMaxCodePoint) flush(echo);
  st.pos += static_cast<size_t>(
      unicode::encode_utf8_char(cp, reinterpret_cast<uint8_t*>(st.buffer + st.pos)));
}

void write_units(const void* text, size_t bytes, int unit, bool line_feed, bool echo);

// An ESC "[" sequence carried out on the terminal: the text before it is out first; the sequence's
// own bytes are never printed nor echoed. Answers the bytes consumed (0: ESC is an ordinary
// character).
size_t carry_out_escape(const uint8_t* p, size_t remaining, int unit, bool echo) {
  escape::Parsed parsed = escape::parse(p, remaining, unit);
  if (parsed.consumed == 0) return 0;
  flush(echo);
  if (parsed.op) {
    escape::OpKind kind = parsed.op->kind;
    if (kind == escape::OpKind::Report || kind == escape::OpKind::Position)
      escape::read_size(st.fd, screen);
    if (kind == escape::OpKind::Report) {
      std::string report = escape::report_text(screen);
      write_units(report.data(), report.size(), 1, false, echo);
    } else {
      std::string ansi = escape::ansi_text(*parsed.op, screen);
      write_fd(ansi.data(), ansi.size());
    }
  }
  return parsed.consumed;
}

void write_units(const void* text, size_t bytes, int unit, bool line_feed, bool echo) {
  if (unit != 1 && unit != 2 && unit != 4) crash_report(CRASH_NO_CASE_MATCH, 0);
  const auto* p = static_cast<const uint8_t*>(text);
  const bool escapes = st.terminal && unit != 4;
  size_t n = bytes / static_cast<size_t>(unit);
  for (size_t i = 0; i < n; ++i, p += unit) {
    uint32_t cp = p[0];
    if (unit >= 2) cp |= static_cast<uint32_t>(p[1]) << 8;
    if (unit == 4) cp |= static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    if (cp == 0x1B && escapes) {
      size_t used = carry_out_escape(p, (n - i) * static_cast<size_t>(unit), unit, echo);
      if (used > 0) {
        size_t skip = used / static_cast<size_t>(unit) - 1;
        i += skip;
        p += skip * static_cast<size_t>(unit);
        continue;
      }
    }
    put_code_point(cp, echo);
  }
  if (line_feed) put_code_point('\n', echo);
  flush(echo);
}

// Number text goes out once, echoed once.
void print_number(const char* text, size_t n) {
  write_units(text, n, 1, false, false);
  hooks::call_list2(text, static_cast<int32_t>(n), 0);
}

void print_hex(uint32_t v, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  for (int i = digits - 1; i >= 0; --i, v >>= 4) st.numbers[i] = kDigits[v & 0xF];
  print_number(st.numbers, static_cast<size_t>(digits));
}

void print_general(double v, int precision) {
  auto r = std::to_chars(st.numbers, st.numbers + sizeof st.numbers, v, std::chars_format::general,
                         precision);
  print_number(st.numbers, static_cast<size_t>(r.ptr - st.numbers));
}

}  // namespace

void init() {
  ::signal(SIGPIPE, SIG_IGN);
  st.fd = platform_state.std_out;
  st.broken = false;
  st.pos = 0;
  st.terminal = ::isatty(st.fd) == 1;
  screen = escape::Terminal{};
  if (st.terminal) escape::read_size(st.fd, screen);
  st.initialized = true;
}

void set_handle(int fd) {
  st.fd = fd;
  st.broken = false;
  st.terminal = ::isatty(fd) == 1;
}

int handle() { return st.fd; }

void write(const void* text, size_t bytes, int unit, bool line_feed) {
  write_units(text, bytes, unit, line_feed, true);
}

void write_quiet(const void* text, size_t bytes, int unit, bool line_feed) {
  write_units(text, bytes, unit, line_feed, false);
}

void print_latin1(const void* text, size_t bytes) { write(text, bytes, 1, false); }
void print_latin1_line(const void* text, size_t bytes) { write(text, bytes, 1, true); }
void print_ucs2(const void* text, size_t bytes) { write(text, bytes, 2, false); }
void print_ucs2_line(const void* text, size_t bytes) { write(text, bytes, 2, true); }
void write_ucs4(const void* text, size_t bytes) { write(text, bytes, 4, false); }
void print_ucs4_line(const void* text, size_t bytes) { write(text, bytes, 4, true); }

const char* print_cstr(const char* text) {
  size_t n = std::strlen(text);
  write_fd(text, n);
  hooks::call_list2(text, static_cast<int32_t>(n), 0);
  return text;
}

int32_t print_int(int32_t v) {
  auto r = std::to_chars(st.numbers, st.numbers + sizeof st.numbers, v);
  print_number(st.numbers, static_cast<size_t>(r.ptr - st.numbers));
  return v;
}

int32_t print_hex_byte(int32_t v) {
  print_hex(static_cast<uint32_t>(v) & 0xFF, 2);
  return v;
}

int32_t print_hex32(int32_t v) {
  print_hex(static_cast<uint32_t>(v), 8);
  return v;
}

double print_float64(double v) {
  print_general(v, 16);
  return v;
}

float print_float32(float v) {
  print_general(static_cast<double>(v), 7);
  return v;
}

void print_formed(const Cell* value, const void* text, size_t bytes, int unit, bool line_feed) {
  if (hooks::hook_state.list1.count > 0) {
    hooks::call_list1(value, line_feed ? 1 : 0);
  } else {
    write_quiet(text, bytes, unit, line_feed);
  }
}

}  // namespace zem::stdio
