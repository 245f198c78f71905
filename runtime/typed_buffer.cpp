// Typed buffers: byte series holding fixed-size items for runtime lists.
#include "runtime/typed_buffer.h"

#include <cstring>

#include "runtime/memory.h"

namespace zem::array {

NodeId make(uint32_t capacity, uint32_t item_size) {
  NodeId n = alloc::make_bytes(int64_t(capacity) * item_size);
  SeriesBuffer* b = series_buffer(n);
  b->flags = (b->flags & ~kSeriesUnitMask) | item_size;
  return n;
}

uint32_t length(NodeId buf) { return series_buffer(buf)->length(); }
void clear(NodeId buf) { series_buffer(buf)->set_length(0); }
void set_length(NodeId buf, uint32_t i) { series_buffer(buf)->set_length(i - 1); }
NodeId copy(NodeId buf) { return alloc::copy_series(buf); }
uint32_t flags(NodeId buf) { return series_buffer(buf)->flags; }

uint8_t* alloc_tail_bytes(NodeId buf, uint32_t n) {
  SeriesBuffer* b = series_buffer(buf);
  if (b->room() < n) {
    int64_t need = int64_t(b->used()) + n;
    int64_t cap = int64_t(b->capacity) * 2;
    b = alloc::expand_copy(buf, cap < need ? need : cap);
  }
  uint8_t* p = b->tail_ptr();
  b->tail += n;
  return p;
}

void append_byte(NodeId buf, uint8_t v) { *alloc_tail_bytes(buf, 1) = v; }
void append_bytes(NodeId buf, const void* bytes, uint32_t n) { std::memcpy(alloc_tail_bytes(buf, n), bytes, n); }
void append_int(NodeId buf, int32_t v) { std::memcpy(alloc_tail_bytes(buf, 4), &v, 4); }
void append_u32(NodeId buf, uint32_t v) { std::memcpy(alloc_tail_bytes(buf, 4), &v, 4); }

uint8_t pick_byte(NodeId buf, uint32_t i) { return series_head(buf)[i - 1]; }
uint32_t pick_u32(NodeId buf, uint32_t i) {
  uint32_t v;
  std::memcpy(&v, series_head(buf) + (i - 1) * 4, 4);
  return v;
}
int32_t pick_int(NodeId buf, uint32_t i) { return static_cast<int32_t>(pick_u32(buf, i)); }
void poke_u32(NodeId buf, uint32_t i, uint32_t v) { std::memcpy(series_head(buf) + (i - 1) * 4, &v, 4); }

int64_t find_int(NodeId buf, int32_t v) {
  SeriesBuffer* b = series_buffer(buf);
  const uint8_t* h = b->head_ptr();
  for (uint32_t off = 0; off + 4 <= b->used(); off += 4) {
    int32_t x;
    std::memcpy(&x, h + off, 4);
    if (x == v) return off;
  }
  return -1;
}

void insert_int(NodeId buf, uint32_t index, int32_t v) {
  alloc_tail_bytes(buf, 4);
  SeriesBuffer* b = series_buffer(buf);
  uint8_t* at = b->head_ptr() + index * 4;
  std::memmove(at + 4, at, b->tail_ptr() - 4 - at);
  std::memcpy(at, &v, 4);
}

void remove_bytes(NodeId buf, uint32_t offset, uint32_t n) {
  SeriesBuffer* b = series_buffer(buf);
  if (offset >= b->used()) return;
  if (n > b->used() - offset) n = b->used() - offset;
  uint8_t* at = b->head_ptr() + offset;
  std::memmove(at, at + n, b->tail_ptr() - at - n);
  b->tail -= n;
}

bool remove_u32(NodeId buf, uint32_t v) {
  int64_t off = find_int(buf, static_cast<int32_t>(v));
  if (off < 0) return false;
  remove_bytes(buf, static_cast<uint32_t>(off), 4);
  return true;
}

}  // namespace zem::array
