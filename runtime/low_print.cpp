// Low-level printing of typed item lists for the runtime's own diagnostics.
#include "runtime/low_print.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "services/output.h"

namespace zem {

namespace print {

namespace {

void print_item(const Item& it) {
  switch (it.kind) {
    case ITEM_LOGIC:
      stdio::print_cstr(it.i32 ? "true" : "false");
      break;
    case ITEM_INT32:
      stdio::print_int(it.i32);
      break;
    case ITEM_BYTE:
      byte(static_cast<uint8_t>(it.i32));
      break;
    case ITEM_FLOAT32:
      stdio::print_float32(it.f32);
      break;
    case ITEM_FLOAT64:
      stdio::print_float64(it.f64);
      break;
    case ITEM_CSTR:
      stdio::print_cstr(it.str ? it.str : "");
      break;
    case ITEM_U64: {
      char buf[24];
      auto r = std::to_chars(buf, buf + sizeof buf - 1, it.u64v);
      *r.ptr = 0;
      stdio::print_cstr(buf);
      break;
    }
    default:
      stdio::print_hex32(it.i32);
      break;
  }
}

}  // namespace

void list(std::initializer_list<Item> items) {
  for (const Item& it : items) print_item(it);
  std::fflush(nullptr);
}

void list_line(std::initializer_list<Item> items) {
  for (const Item& it : items) print_item(it);
  stdio::print_cstr("\n");
  std::fflush(nullptr);
}

uint8_t byte(uint8_t b) {
  char s[2] = {static_cast<char>(b), 0};
  // A NUL byte still prints as one byte.
  if (b == 0) {
    stdio::write(s, 1, 1, false);
  } else {
    stdio::print_cstr(s);
  }
  return b;
}

void bytes(const char* address, int64_t n) {
  int64_t len = 0;
  while (len < n && address[len] != 0) ++len;
  // Raw bytes (UTF-8 passes through unchanged), echoed to hook list 2 like any C string.
  char chunk[257];
  for (int64_t done = 0; done < len;) {
    int64_t k = len - done < 256 ? len - done : 256;
    std::memcpy(chunk, address + done, static_cast<size_t>(k));
    chunk[k] = 0;
    stdio::print_cstr(chunk);
    done += k;
  }
}

void char_literal(uint8_t b) {
  char s[12] = "#\"";
  size_t n = 2;
  static const char kHex[] = "0123456789ABCDEF";
  switch (b) {
    case 0: s[n++] = '^'; s[n++] = '@'; break;
    case 9: s[n++] = '^'; s[n++] = '-'; break;
    case 10: s[n++] = '^'; s[n++] = '/'; break;
    case 27: s[n++] = '^'; s[n++] = ']'; break;
    default:
      if (b < 32) {
        s[n++] = '^';
        s[n++] = static_cast<char>(64 + b);
      } else if (b < 128) {
        s[n++] = static_cast<char>(b);
      } else {
        s[n++] = '^';
        s[n++] = '(';
        s[n++] = kHex[b >> 4];
        s[n++] = kHex[b & 0xF];
        s[n++] = ')';
      }
  }
  s[n++] = '"';
  s[n] = 0;
  stdio::print_cstr(s);
}

}  // namespace print

double normalize_angle(double degrees, int32_t mode) {
  double a = std::fmod(degrees, 360.0);
  if (a > 180.0 || a < -180.0) a += a >= 0 ? -360.0 : 360.0;
  if (a > 90.0 || a < -90.0) {
    if (mode == 0) {
      a += a >= 0 ? -180.0 : 180.0;
    } else if (mode == 2) {
      a = a >= 0 ? 180.0 - a : -180.0 - a;
    }
  }
  return a * 3.141592653589793 / 180.0;
}

bool c_strings_equal(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

}  // namespace zem
