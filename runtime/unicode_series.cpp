// The conversions of runtime/unicode.h on series buffers and string values.
#include <algorithm>
#include <cstring>

#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace zem::unicode {

namespace {

void set_unit(SeriesBuffer* b, int unit) {
  b->flags = (b->flags & ~kSeriesUnitMask) | static_cast<uint32_t>(unit);
}

// Replaces the content of `target` (0: a new series) with the decoded text.
NodeId store(const UnitText& text, NodeId target) {
  size_t bytes = text.bytes.size();
  size_t room = std::max<size_t>(bytes, text.unit);  // never an empty buffer
  SeriesBuffer* b;
  if (target == 0) {
    target = alloc::make_unit_series(static_cast<int64_t>(room / text.unit), text.unit);
    b = series_buffer(target);
  } else {
    b = series_buffer(target);
    if (b->capacity - b->head < room) b = alloc::expand(target, static_cast<int64_t>(room));
  }
  set_unit(b, text.unit);
  if (bytes) std::memcpy(b->head_ptr(), text.bytes.data(), bytes);
  b->tail = b->head + static_cast<uint32_t>(bytes);
  return target;
}

int start_unit(NodeId target) { return target ? static_cast<int>(series_buffer(target)->unit()) : 1; }

// The code points of a string value from its position: first unit, count and unit size.
struct StringRange {
  const uint8_t* units;
  size_t count;
  int unit;
};

StringRange range_of(const Cell& str, int32_t n) {
  const SeriesBuffer* b = series_buffer(str.node());
  int unit = static_cast<int>(b->unit());
  size_t length = b->length();
  int32_t index = static_cast<int32_t>(str.head_index());
  size_t head = index < 0 ? 0 : std::min(static_cast<size_t>(index), length);
  size_t count = length - head;
  if (n >= 0) count = std::min(count, static_cast<size_t>(n));
  return {b->head_ptr() + head * unit, count, unit};
}

}  // namespace

SeriesBuffer* widen_series(NodeId node, int to) {
  SeriesBuffer* b = series_buffer(node);
  int from = static_cast<int>(b->unit());
  if (to <= from) return b;
  size_t count = b->length();
  // One spare unit of the new size beyond the widened text.
  size_t need = (count + 1) * to;
  if (b->capacity - b->head < need) b = alloc::expand_copy(node, static_cast<int64_t>(need));
  widen_units(b->head_ptr(), count, from, to);
  set_unit(b, to);
  b->tail = b->head + static_cast<uint32_t>(count * to);
  return b;
}

NodeId load_utf8_series(const uint8_t* bytes, size_t len, NodeId target, bool crlf, uint32_t* count) {
  UnitText text;
  text.unit = start_unit(target);
  *count = static_cast<uint32_t>(load_utf8(bytes, len, text, crlf));
  return store(text, target);
}

NodeId load_utf8_binary(const Cell& binary, NodeId target, bool crlf, uint32_t* count) {
  const SeriesBuffer* b = series_buffer(binary.node());
  size_t length = b->used();
  size_t head = std::min<size_t>(binary.head_index(), length);
  return load_utf8_series(b->head_ptr() + head, length - head, target, crlf, count);
}

NodeId load_utf8_cstring(const char* text, NodeId target, bool crlf, uint32_t* count) {
  return load_utf8_series(reinterpret_cast<const uint8_t*>(text), std::strlen(text), target, crlf,
                          count);
}

NodeId load_utf16le_series(const uint8_t* le, size_t units, NodeId target, bool crlf,
                           uint32_t* count) {
  UnitText text;
  text.unit = start_unit(target);
  *count = static_cast<uint32_t>(load_utf16le(le, units, text, crlf));
  return store(text, target);
}

uint8_t* cache_buffer(Cell& str, size_t size) {
  if (str.text_cache() == 0) {
    str.set_text_cache(alloc::make_bytes(static_cast<int64_t>(size)));
  } else if (series_buffer(str.text_cache())->capacity < size) {
    alloc::expand_copy(str.text_cache(), static_cast<int64_t>(size));
  }
  SeriesBuffer* b = series_buffer(str.text_cache());
  b->head = 0;
  return b->data();
}

const char* string_to_utf8(Cell& str, int32_t* length, bool crlf) {
  StringRange r = range_of(str, *length);
  uint8_t* out = cache_buffer(str, utf8_room_for(r.count, r.unit));
  size_t n = write_utf8_units(r.units, r.count, r.unit, crlf, out);
  out[n] = 0;
  *length = static_cast<int32_t>(n);
  return reinterpret_cast<const char*>(out);
}

const char16_t* string_to_utf16(Cell& str, int32_t* length, bool crlf) {
  StringRange r = range_of(str, *length);
  std::u16string text;
  if (!encode_utf16_units(r.units, r.count, r.unit, crlf, text)) return nullptr;
  uint8_t* out = cache_buffer(str, (text.size() + 1) * 2);
  std::memcpy(out, text.data(), text.size() * 2);
  std::memset(out + text.size() * 2, 0, 2);
  *length = static_cast<int32_t>(text.size());
  return reinterpret_cast<const char16_t*>(out);
}

const char16_t* to_utf16_text(Cell& str) {
  int32_t n = -1;
  return string_to_utf16(str, &n, true);
}

size_t encode_utf8_into(const Cell& str, uint8_t* out, int32_t n, bool nul) {
  StringRange r = range_of(str, n);
  size_t w = write_utf8_units(r.units, r.count, r.unit, false, out);
  if (nul) out[w] = 0;
  return w;
}

size_t encode_utf8_bounded(const Cell& str, uint8_t* out, size_t capacity, int32_t n, bool nul) {
  if (nul) {
    if (capacity == 0) return 0;
    capacity--;
  }
  StringRange r = range_of(str, n);
  size_t w = encode_utf8_units_bounded(r.units, r.count, r.unit, out, capacity);
  if (nul) out[w] = 0;
  return w;
}

}  // namespace zem::unicode
