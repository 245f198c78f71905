// Shared helpers: form/mold text output, the pointer stack with its cycle guard, cell helpers.
#include "runtime/support.h"

#include <cmath>
#include <cstring>

#include "runtime/error.h"

namespace zem {

namespace {
PointerStack g_ptrstack;
}  // namespace

void StdStringOut::append_code_point(uint32_t cp) {
  if (cp < 0x80) {
    text_.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    text_.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    text_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    text_.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    text_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    text_.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    text_.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    text_.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

namespace ptrstack {

void push(NodeId node) {
  g_ptrstack.entries[g_ptrstack.top++] = node;
  if (g_ptrstack.top == kPointerStackSize) {
    g_ptrstack.top = 0;
    fire(Err::internal_too_deep);
  }
}

void pop() {
  if (g_ptrstack.top > 0) g_ptrstack.top--;
}

void drop(uint32_t n) { g_ptrstack.top = n > g_ptrstack.top ? 0 : g_ptrstack.top - n; }

void reset() { g_ptrstack.top = 0; }

bool contains(NodeId node) {
  for (uint32_t i = 0; i < g_ptrstack.top; i++)
    if (g_ptrstack.entries[i] == node) return true;
  return false;
}

uint32_t depth() { return g_ptrstack.top; }

}  // namespace ptrstack

PointerStackGuard::PointerStackGuard(NodeId node) : depth_(g_ptrstack.top) { ptrstack::push(node); }

PointerStackGuard::~PointerStackGuard() {
  if (g_ptrstack.top > depth_) g_ptrstack.top = depth_;
}

NodeId walk_node(const Cell& value) {
  switch (value.type()) {
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT:
      return value.object_context();
    default:
      return value.node();
  }
}

bool mold_cycle_guard(const Cell& value, TextOut& out, int32_t& limit, bool mold) {
  if (!ptrstack::contains(walk_node(value))) return false;
  std::string_view text = "...";
  if (mold) {
    switch (value.type()) {
      case TYPE_BLOCK:
      case TYPE_HASH:
        text = "[...]";
        break;
      case TYPE_PAREN:
        text = "(...)";
        break;
      case TYPE_MAP:
        text = "#[...]";
        break;
      case TYPE_OBJECT:
        text = "make object! [...]";
        break;
      default:
        break;
    }
  }
  out.append_ascii(text);
  limit -= static_cast<int32_t>(text.size());
  return true;
}

uint8_t* replicate_bytes(uint8_t* buffer, uint32_t n, uint32_t count) {
  const size_t total = static_cast<size_t>(n) * count;
  if (total == 0) return buffer;
  size_t filled = n;
  while (filled * 2 <= total) {
    std::memcpy(buffer + filled, buffer, filled);
    filled *= 2;
  }
  std::memcpy(buffer + filled, buffer, total - filled);
  return buffer + total;
}

int32_t mold_indent(TextOut& out, int32_t n, int32_t limit) {
  for (int32_t i = 0; i < n; i++) out.append_ascii("    ");
  return limit - 4 * n;
}

int32_t float_to_int_checked(const Cell& number) {
  if (number.is(TYPE_INTEGER)) return number.int_value();
  double d = number.float_value();
  if (!(d <= 2147483647.0 && d >= -2147483648.0)) fire(Err::script_out_of_range, &number);
  return static_cast<int32_t>(d);
}

void support_init() { ptrstack::reset(); }

}  // namespace zem
