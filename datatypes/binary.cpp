// binary!: the byte-series helpers, conversion of values to bytes, and the binary! action handlers.
#include "datatypes/binary.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cstring>
#include <vector>

#include "datatypes/base_coders.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "datatypes/string_storage.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/support.h"
#include "runtime/unicode.h"

namespace zem::binary {

using ownership::Change;
using ownership::ChangeNotice;

namespace {

inline SeriesBuffer* buffer_of(const Cell& b) { return series_buffer(b.node()); }
inline uint32_t used_of(const Cell& b) { return buffer_of(b)->used(); }
inline uint32_t clamped_head(const Cell& b) { return std::min(b.head_index(), used_of(b)); }

// True when the address lies in the data area of the binary's present buffer.
bool inside(const Cell& b, const uint8_t* p) {
  SeriesBuffer* sb = buffer_of(b);
  return p >= sb->data() && p < sb->end_ptr();
}

[[noreturn]] void no_memory() { fire(Err::internal_no_memory); }

// A byte count that no series can hold raises internal `no-memory`.
uint32_t checked_size(uint64_t n) {
  if (n > static_cast<uint64_t>(kMaxSeriesBytes)) no_memory();
  return static_cast<uint32_t>(n);
}

Cell binary_type_cell() { return datatype_cell(TYPE_BINARY); }

[[noreturn]] void bad_to_arg(const Cell& value) {
  Cell type = binary_type_cell();
  fire(Err::script_bad_to_arg, &type, &value);
}

}  // namespace

// ---- Reading -------------------------------------------------------------------------------------

uint32_t rs_length(const Cell& b) {
  uint32_t used = used_of(b);
  return used - std::min(b.head_index(), used);
}

bool rs_skip(Cell& b, int32_t n) {
  int64_t used = used_of(b);
  int64_t h = std::clamp<int64_t>(static_cast<int64_t>(clamped_head(b)) + n, 0, used);
  b.set_head_index(static_cast<uint32_t>(h));
  return h >= used;
}

bool rs_next(Cell& b) { return rs_skip(b, 1); }

uint8_t* rs_head(const Cell& b) {
  assert(b.head_index() <= used_of(b) && "binary head past its tail");
  return buffer_of(b)->head_ptr() + b.head_index();
}

uint8_t* rs_tail(const Cell& b) { return buffer_of(b)->tail_ptr(); }

bool rs_tail_q(const Cell& b) { return b.head_index() >= used_of(b); }

void rs_clear(const Cell& b) {
  SeriesBuffer* sb = buffer_of(b);
  if (b.head_index() < sb->used()) sb->tail = sb->head + b.head_index();
}

uint8_t byte_at(const Cell& b, uint32_t offset) {
  assert(offset < used_of(b) && "binary byte read past its tail");
  return buffer_of(b)->head_ptr()[offset];
}

// ---- Writing -------------------------------------------------------------------------------------

void reserve(const Cell& b, uint64_t n) {
  checked_size(static_cast<uint64_t>(used_of(b)) + n);
  str::reserve_bytes(b.node(), n);
}

uint8_t* append_bytes(const Cell& b, const uint8_t* src, uint32_t n) {
  // A source in the buffer stays readable when the buffer is replaced: the old one lives until the
  // next collection. Any other source lets a big buffer grow by moving its pages.
  const SeriesBuffer* old = buffer_of(b);
  if (src >= old->data() && src < old->data() + old->capacity) {
    reserve(b, n);
  } else {
    checked_size(static_cast<uint64_t>(used_of(b)) + n);
    str::grow_bytes(b.node(), n);
  }
  SeriesBuffer* sb = buffer_of(b);
  uint8_t* at = sb->tail_ptr();
  std::memmove(at, src, n);
  sb->tail += n;
  return at;
}

uint8_t* insert_bytes(const Cell& b, uint32_t offset, const uint8_t* src, uint32_t n) {
  std::vector<uint8_t> own;
  if (inside(b, src)) {  // the move below would shift the source
    own.assign(src, src + n);
    src = own.data();
  }
  reserve(b, n);
  SeriesBuffer* sb = buffer_of(b);
  uint32_t at = std::min(clamped_head(b) + offset, sb->used());
  uint8_t* p = sb->head_ptr() + at;
  std::memmove(p + n, p, sb->used() - at);
  std::memcpy(p, src, n);
  sb->tail += n;
  return p;
}

uint8_t* overwrite_bytes(const Cell& b, uint32_t offset, const uint8_t* src, uint32_t n) {
  uint64_t end = static_cast<uint64_t>(clamped_head(b)) + offset + n;
  uint32_t used = used_of(b);
  if (end > used) reserve(b, end - used);
  SeriesBuffer* sb = buffer_of(b);
  uint8_t* p = sb->head_ptr() + clamped_head(b) + offset;
  std::memmove(p, src, n);
  if (end > sb->used()) sb->tail = sb->head + static_cast<uint32_t>(end);
  return p;
}

void append_int32_be(uint32_t value, const Cell& b) {
  SeriesBuffer* sb = buffer_of(b);
  assert(sb->room() >= 4 && "append_int32_be without reserved room");
  uint8_t* p = sb->tail_ptr();
  p[0] = static_cast<uint8_t>(value >> 24);
  p[1] = static_cast<uint8_t>(value >> 16);
  p[2] = static_cast<uint8_t>(value >> 8);
  p[3] = static_cast<uint8_t>(value);
  sb->tail += 4;
}

// ---- Construction --------------------------------------------------------------------------------

void make_at(Cell& target, uint32_t capacity) {
  NodeId node = alloc::make_bytes(capacity);
  target = Cell{};
  target.set_header(TYPE_BINARY);
  target.set_series(0, node);
}

Cell make(uint32_t capacity) {
  Cell c;
  make_at(c, capacity);
  return c;
}

Cell make_in(const Cell& block, uint32_t capacity) {
  Cell c = make(capacity);
  block::append_cell(block, c);
  return c;
}

Cell load_in(const uint8_t* src, uint32_t n, const Cell* block) {
  Cell c = make(n);
  SeriesBuffer* sb = buffer_of(c);
  if (n) std::memcpy(sb->head_ptr(), src, n);
  sb->tail = sb->head + n;
  if (block) block::append_cell(*block, c);
  return c;
}

Cell load(const uint8_t* src, uint32_t n) { return load_in(src, n, nullptr); }

Cell* push_copy(const Cell& b) {
  Cell source = b;
  Cell copy = make(rs_length(source));
  uint32_t n = rs_length(source);
  SeriesBuffer* sb = buffer_of(copy);
  if (n) std::memcpy(sb->head_ptr(), buffer_of(source)->head_ptr() + clamped_head(source), n);
  sb->tail = sb->head + n;
  return stack::push_value(copy);
}

// ---- Values as bytes -----------------------------------------------------------------------------

namespace {

// An integer that is one byte, as a signed or an unsigned number.
uint8_t integer_byte(const Cell& value) {
  int32_t v = value.int_value();
  if (v > 255 || v < -128) fire(Err::script_invalid_arg, &value);
  return static_cast<uint8_t>(v);
}

// The UTF-8 bytes of a text value from its head, at most `cap` of them.
uint64_t text_bytes(uint8_t* dst, const Cell& text, uint64_t cap) {
  SeriesBuffer* sb = series_buffer(text.node());
  uint32_t unit = sb->unit();
  uint32_t len = sb->length();
  uint32_t h = std::min(text.head_index(), len);
  const uint8_t* start = sb->head_ptr() + static_cast<size_t>(h) * unit;
  const uint8_t* end = sb->head_ptr() + static_cast<size_t>(len) * unit;
  if (!dst) {
    return std::min<uint64_t>(unicode::utf8_size_of_units(start, end, static_cast<int>(unit)), cap);
  }
  return unicode::encode_utf8_units_bounded(start, len - h, static_cast<int>(unit), dst, cap);
}

constexpr uint64_t kNoCap = UINT64_MAX;

}  // namespace

uint8_t byte_of_arg(const Cell& value) {
  if (value.is(TYPE_INTEGER)) return integer_byte(value);
  if (value.is(TYPE_CHAR) && value.char_value() <= 0xFF) return static_cast<uint8_t>(value.char_value());
  fire(Err::script_invalid_arg, &value);
}

uint64_t value_to_bytes(uint8_t* dst, const Cell& value, int32_t limit, bool unit_mode,
                        bool form_mode) {
  const uint64_t cap = limit > 0 ? static_cast<uint64_t>(limit) : kNoCap;
  const TypeId t = value.type();
  switch (t) {
    case TYPE_CHAR: {
      uint8_t bytes[4];
      uint64_t n = static_cast<uint64_t>(unicode::encode_utf8_char(value.char_value(), bytes));
      n = std::min(n, cap);
      if (dst) std::memcpy(dst, bytes, n);
      return n;
    }
    case TYPE_INTEGER: {
      uint8_t byte = integer_byte(value);
      if (dst) *dst = byte;
      return 1;
    }
    case TYPE_BINARY: {
      uint64_t n = std::min<uint64_t>(rs_length(value), cap);
      if (dst && n) std::memmove(dst, buffer_of(value)->head_ptr() + clamped_head(value), n);
      return n;
    }
    case TYPE_TUPLE: {
      uint64_t n = std::min<uint64_t>(value.tuple_count(), cap);
      if (dst)
        for (uint32_t i = 0; i < n; i++) dst[i] = value.tuple_at(i);
      return n;
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      PointerStackGuard guard(value.node());  // a block holding itself ends in `too-deep`
      uint32_t count = block::length(value);
      if (!unit_mode && limit > 0) count = std::min<uint32_t>(count, static_cast<uint32_t>(limit));
      uint64_t total = 0;
      for (uint32_t i = 0; i < count && i < block::length(value); i++) {
        const Cell element = block::head_of(value)[i];
        int32_t sub = 0;
        if (unit_mode && limit > 0) {
          if (total >= cap) break;
          sub = static_cast<int32_t>(cap - total);
        }
        total += value_to_bytes(dst ? dst + total : nullptr, element, sub, unit_mode, form_mode);
        if (total > static_cast<uint64_t>(kMaxSeriesBytes)) no_memory();
      }
      return total;
    }
    default:
      break;
  }
  if (str::is_text_type(t)) return text_bytes(dst, value, cap);
  if (!form_mode) bad_to_arg(value);
  Cell formed = str::make_string(16);
  strings::form_onto(formed.node(), value);
  return text_bytes(dst, formed, cap);
}

// ---- append, insert, change ----------------------------------------------------------------------

namespace {

// A value whose bytes may come from the target's own buffer is converted aside first.
bool may_share(const Cell& value, const Cell& target) {
  return block::is_block_kind(value.type()) || value.node() == target.node();
}

uint64_t grown_size(const Cell& target, uint64_t size, int32_t dup) {
  if (size > static_cast<uint64_t>(kMaxSeriesBytes)) no_memory();
  uint64_t total = size * static_cast<uint64_t>(dup);
  checked_size(static_cast<uint64_t>(used_of(target)) + total);
  return total;
}

}  // namespace

void append_value(Cell& target, const Cell& value, int32_t part, bool, int32_t dup, bool append_mode) {
  if (dup < 1 || part == 0) return;
  if (dup == 1 && value.is(TYPE_INTEGER) && !ownership::is_owned(target)) {
    // One byte, the most frequent append: no sizing pass, no owner to tell.
    const uint8_t byte = integer_byte(value);
    if (buffer_of(target)->room() == 0) reserve(target, 1);
    SeriesBuffer* sb = buffer_of(target);
    const uint32_t len = sb->used();
    const uint32_t at = append_mode ? len : std::min(target.head_index(), len);
    uint8_t* p = sb->head_ptr() + at;
    if (at < len) std::memmove(p + 1, p, len - at);
    *p = byte;
    sb->tail += 1;
    if (!append_mode) target.set_head_index(at + 1);
    return;
  }
  const int32_t limit = part > 0 ? part : 0;
  // Sizing checks every value before a byte moves.
  uint64_t size = value_to_bytes(nullptr, value, limit, false, false);
  uint64_t total = grown_size(target, size, dup);
  uint32_t len = used_of(target);
  uint32_t at = append_mode ? len : std::min(target.head_index(), len);
  ChangeNotice notice(target, append_mode ? Change::append : Change::insert, &value,
                      static_cast<int32_t>(at), -1);
  if (notice.reached()) {  // the handler ran user code: sizes and positions again
    size = value_to_bytes(nullptr, value, limit, false, false);
    total = grown_size(target, size, dup);
    len = used_of(target);
    at = append_mode ? len : std::min(target.head_index(), len);
  }
  std::vector<uint8_t> aside;
  if (may_share(value, target)) {
    aside.resize(size);
    value_to_bytes(aside.data(), value, limit, false, false);
  }
  // The value's bytes are read through its own node, or were set aside: the target may move.
  checked_size(static_cast<uint64_t>(used_of(target)) + total);
  str::grow_bytes(target.node(), total);
  SeriesBuffer* sb = buffer_of(target);
  uint8_t* p = sb->head_ptr() + at;
  if (at < len) std::memmove(p + total, p, len - at);
  if (may_share(value, target)) {
    if (size) std::memcpy(p, aside.data(), size);
  } else {
    value_to_bytes(p, value, limit, false, false);
  }
  if (dup > 1 && size) replicate_bytes(p, static_cast<uint32_t>(size), static_cast<uint32_t>(dup));
  sb->tail += static_cast<uint32_t>(total);
  notice.done(target, &value, static_cast<int32_t>(at), static_cast<int32_t>(total));
  if (!append_mode) target.set_head_index(at + static_cast<uint32_t>(total));
}

namespace {

int32_t count_arg(const Cell& c) {
  if (c.is(TYPE_INTEGER)) return c.int_value();
  if (c.is(TYPE_FLOAT) || c.is(TYPE_PERCENT)) return float_to_int_checked(c);
  fire(Err::script_invalid_arg, &c);
}

struct AddArgs {
  int32_t part = -1;
  int32_t dup = 1;
  bool only = false;
};

AddArgs add_args(ActionCall& call) {
  AddArgs a;
  if (Cell* p = call.refinement_arg(strings::APPEND_PART)) a.part = std::max(count_arg(*p), 0);
  if (Cell* d = call.refinement_arg(strings::APPEND_DUP)) a.dup = count_arg(*d);
  a.only = call.has(strings::APPEND_ONLY);
  return a;
}

Cell* add_handler(ActionCall& call, bool append_mode) {
  AddArgs a = add_args(call);
  Cell target = call.result();
  append_value(target, call.arg(1), a.part, a.only, a.dup, append_mode);
  call.result() = target;
  return &call.result();
}
Cell* append_handler(ActionCall& call) { return add_handler(call, true); }
Cell* insert_handler(ActionCall& call) { return add_handler(call, false); }

// change: the value's bytes (formed when it is of another type), /dup times, replace as many bytes
// from the head, or the /part count of them.
Cell* change_handler(ActionCall& call) {
  AddArgs a = add_args(call);
  Cell s = call.result();
  const Cell value = call.arg(1);
  if (a.dup < 1) return &call.result();
  uint32_t len = used_of(s);
  uint32_t h = std::min(s.head_index(), len);
  s.set_head_index(h);
  int64_t part = -1;
  if (Cell* p = call.refinement_arg(strings::APPEND_PART)) {
    if (p->is(TYPE_BINARY) && p->node() == s.node())
      part = static_cast<int64_t>(std::min(p->head_index(), len)) - h;
    else
      part = count_arg(*p);
    part = std::clamp<int64_t>(part, 0, len - h);
  }
  uint64_t size = value_to_bytes(nullptr, value, 0, false, true);
  uint64_t total = grown_size(s, size, a.dup);
  int32_t announced = static_cast<int32_t>(part >= 0 ? part : std::min<uint64_t>(total, len - h));
  ChangeNotice notice(s, Change::change, &value, static_cast<int32_t>(h), announced);
  // The new bytes are made aside: the value may be this very buffer.
  std::vector<uint8_t> bytes(value_to_bytes(nullptr, value, 0, false, true));
  value_to_bytes(bytes.data(), value, 0, false, true);
  size = bytes.size();
  total = grown_size(s, size, a.dup);
  bytes.resize(total);
  if (a.dup > 1 && size) replicate_bytes(bytes.data(), static_cast<uint32_t>(size), static_cast<uint32_t>(a.dup));
  len = used_of(s);
  h = std::min(h, len);
  uint32_t avail = len - h;
  uint32_t replaced = part >= 0 ? std::min<uint32_t>(static_cast<uint32_t>(part), avail)
                                : static_cast<uint32_t>(std::min<uint64_t>(total, avail));
  if (total > replaced) reserve(s, total - replaced);
  SeriesBuffer* sb = buffer_of(s);
  uint8_t* p = sb->head_ptr() + h;
  std::memmove(p + total, p + replaced, avail - replaced);
  if (total) std::memcpy(p, bytes.data(), total);
  sb->tail = sb->head + (len - replaced + static_cast<uint32_t>(total));
  notice.done(s, &value, static_cast<int32_t>(h), static_cast<int32_t>(total));
  s.set_head_index(std::min<uint32_t>(h + static_cast<uint32_t>(total), used_of(s)));
  call.result() = s;
  return &call.result();
}

// ---- to and make ---------------------------------------------------------------------------------

Cell big_endian(uint64_t bits, uint32_t n) {
  uint8_t bytes[8];
  for (uint32_t i = 0; i < n; i++) bytes[i] = static_cast<uint8_t>(bits >> (8 * (n - 1 - i)));
  return load(bytes, n);
}

Cell to_binary(const Cell& v) {
  switch (v.type()) {
    case TYPE_INTEGER:
      return big_endian(static_cast<uint32_t>(v.int_value()), 4);
    case TYPE_FLOAT:
    case TYPE_PERCENT:
      return big_endian(std::bit_cast<uint64_t>(v.float_value()), 8);
    case TYPE_ISSUE: {
      std::string_view text = symbol::name(v.word_symbol());
      std::vector<uint8_t> out(basecode::decoded_capacity(16, text.size()));
      int64_t n = basecode::decode_base16(reinterpret_cast<const uint8_t*>(text.data()), text.size(), 1,
                                          out.data());
      if (n < 0) fire(Err::script_invalid_data, &v);
      return load(out.data(), static_cast<uint32_t>(n));
    }
    case TYPE_BITSET: {
      BitsView bits = bitset_bits(v);
      return load(bits.bytes, checked_size(bits.length));
    }
    case TYPE_IMAGE:
      // Mode 2, the stored B, G, R, A words: the one lossless mode.
      return further_type_hooks().image_get_pixels(v, 2);
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell result = make(16);
      append_value(result, v, -1, false, 1, true);
      return result;
    }
    default:
      break;
  }
  if (v.is(TYPE_CHAR) || v.is(TYPE_BINARY) || v.is(TYPE_TUPLE) || str::is_text_type(v.type())) {
    uint64_t n = value_to_bytes(nullptr, v, 0, false, false);
    Cell result = make(checked_size(n));
    SeriesBuffer* sb = buffer_of(result);
    value_to_bytes(sb->head_ptr(), v, 0, false, false);
    sb->tail = sb->head + static_cast<uint32_t>(n);
    return result;
  }
  bad_to_arg(v);
}

Cell* to_handler(ActionCall& call) {
  call.result() = to_binary(call.arg(1));
  return &call.result();
}

Cell* make_handler(ActionCall& call) {
  const Cell spec = call.arg(1);
  if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT)) {
    int32_t n = spec.is(TYPE_INTEGER) ? spec.int_value() : float_to_int_checked(spec);
    if (n < 0) fire(Err::script_out_of_range, &spec);
    call.result() = make(static_cast<uint32_t>(n));
    return &call.result();
  }
  if (spec.is(TYPE_MONEY)) {
    Cell type = binary_type_cell();
    fire(Err::script_bad_make_arg, &type, &spec);
  }
  call.result() = to_binary(spec);
  return &call.result();
}

}  // namespace

// ---- Comparison and parse ------------------------------------------------------------------------

int32_t match_series(const Cell& input, const Cell& other, int32_t op_code, bool prefix) {
  const CompareOp op = static_cast<CompareOp>(op_code);
  std::string text;
  const uint8_t* pb;
  uint64_t nb;
  if (other.is(TYPE_BINARY)) {
    if (op == COMP_SAME)
      return input.node() == other.node() && input.head_index() == other.head_index() ? 0 : -1;
    nb = rs_length(other);
    pb = buffer_of(other)->head_ptr() + clamped_head(other);
  } else if (str::is_text_type(other.type())) {
    if (op == COMP_SAME) return -1;
    SeriesBuffer* sb = series_buffer(other.node());
    uint32_t unit = sb->unit(), len = sb->length();
    uint32_t h = std::min(other.head_index(), len);
    unicode::encode_utf8_units(sb->head_ptr() + static_cast<size_t>(h) * unit, len - h,
                               static_cast<int>(unit), false, text);
    pb = reinterpret_cast<const uint8_t*>(text.data());
    nb = text.size();
  } else {
    return kCannotCompare;
  }
  const bool equality = is_equality_op(op);
  const uint32_t na = rs_length(input);
  const uint8_t* pa = buffer_of(input)->head_ptr() + clamped_head(input);
  if (equality && pa == pb && (prefix || na == nb)) return 0;
  if (prefix) {
    if (nb == 0) return op == COMP_EQUAL || op == COMP_STRICT_EQUAL || op == COMP_FIND ||
                                op == COMP_PARSE || op == COMP_PARSE_CASE
                            ? 0
                            : 1;
    if (nb > na) return 1;
    return std::memcmp(pa, pb, nb) == 0 ? 0 : 1;
  }
  if (equality && na != nb) return 1;
  int d = std::memcmp(pa, pb, std::min<uint64_t>(na, nb));
  if (d != 0) return d < 0 ? -1 : 1;
  if (na == nb) return 0;
  return na < nb ? -1 : 1;
}

bool byte_in_bitset(const Cell& input, const Cell& bitset) {
  if (rs_tail_q(input)) return false;
  return bits_test(bitset_bits(bitset), *rs_head(input));
}

bool match(const Cell& input, const Cell& value, int32_t op) {
  if (value.is(TYPE_BINARY) || str::is_text_type(value.type()))
    return match_series(input, value, op, true) == 0;
  if (value.is(TYPE_CHAR)) return !rs_tail_q(input) && *rs_head(input) == value.char_value();
  return false;
}

namespace {

int32_t compare_handler(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_BINARY)) return kCannotCompare;
  return match_series(a, b, op, false);
}

// ---- Form and mold -------------------------------------------------------------------------------

// "#{", the bytes as upper-case hexadecimal, "}". More than 30 bytes go on lines of 32 bytes at the
// next indentation level, and the closing brace on a line of its own at the present level.
int32_t mold_bytes(const Cell& b, TextOut& out, bool only, bool flat, const Cell* part, int32_t limit,
                   int32_t indent) {
  const uint32_t n = rs_length(b);
  // The bytes are read through the node at each step: the output may grow buffers.
  const Cell value = b;
  const uint32_t h = clamped_head(b);
  const bool lines = n > 30 && !flat;
  auto emit = [&](std::string_view text) {
    out.append_ascii(text);
    limit -= static_cast<int32_t>(text.size());
  };
  if (!only) emit("#{");
  if (lines) {
    emit("\n");
    limit = mold_indent(out, indent + 1, limit);
  }
  for (uint32_t i = 0; i < n; i++) {
    emit(str::byte_to_hex(buffer_of(value)->head_ptr()[h + i]));
    if (part && limit <= 0) return limit;
    if (lines && (i + 1) % 32 == 0 && i + 1 < n) {
      emit("\n");
      limit = mold_indent(out, indent + 1, limit);
    }
  }
  if (lines) {
    emit("\n");
    limit = mold_indent(out, indent, limit);
  }
  if (!only) emit("}");
  return limit;
}

int32_t form_handler(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return mold_bytes(value, out, false, false, part, limit, 0);
}

int32_t mold_handler(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                     int32_t indent) {
  return mold_bytes(value, out, flags.only, flags.flat, part, limit, indent);
}

// ---- Bitwise -------------------------------------------------------------------------------------

Cell* bitwise(ActionCall& call, MathOp op) {
  const Cell a = call.arg(0);
  const Cell b = call.arg(1);
  if (!b.is(TYPE_BINARY)) fire(Err::script_invalid_arg, &b);
  uint32_t na = rs_length(a), nb = rs_length(b);
  Cell result = make(std::max(na, nb));
  const uint8_t* pa = buffer_of(a)->head_ptr() + clamped_head(a);
  const uint8_t* pb = buffer_of(b)->head_ptr() + clamped_head(b);
  SeriesBuffer* sr = buffer_of(result);
  uint8_t* out = sr->head_ptr();
  uint32_t shorter = std::min(na, nb), longer = std::max(na, nb);
  for (uint32_t i = 0; i < shorter; i++)
    out[i] = op == OP_AND ? pa[i] & pb[i] : op == OP_OR ? pa[i] | pb[i] : pa[i] ^ pb[i];
  if (op == OP_AND)
    std::memset(out + shorter, 0, longer - shorter);
  else
    std::memcpy(out + shorter, (na > nb ? pa : pb) + shorter, longer - shorter);
  sr->tail = sr->head + longer;
  call.result() = result;
  return &call.result();
}

Cell* and_handler(ActionCall& call) { return bitwise(call, OP_AND); }
Cell* or_handler(ActionCall& call) { return bitwise(call, OP_OR); }
Cell* xor_handler(ActionCall& call) { return bitwise(call, OP_XOR); }

// A new binary: inverting in place would change a literal for every later evaluation of it.
Cell* complement_handler(ActionCall& call) {
  const Cell a = call.arg(0);
  uint32_t n = rs_length(a);
  Cell result = make(n);
  const uint8_t* pa = buffer_of(a)->head_ptr() + clamped_head(a);
  SeriesBuffer* sr = buffer_of(result);
  for (uint32_t i = 0; i < n; i++) sr->head_ptr()[i] = static_cast<uint8_t>(~pa[i]);
  sr->tail = sr->head + n;
  call.result() = result;
  return &call.result();
}

// ---- Trim ----------------------------------------------------------------------------------------

Cell* trim_handler(ActionCall& call) {
  Cell s = call.result();
  if (call.has(strings::TRIM_AUTO) || call.has(strings::TRIM_LINES)) fire(Err::internal_not_done);
  ChangeNotice notice(s, Change::trim, nullptr, static_cast<int32_t>(s.head_index()), 0);
  if (call.has(strings::TRIM_WITH)) {
    strings::trim_chars(s, call.refinement_arg(strings::TRIM_WITH));
  } else {
    SeriesBuffer* sb = buffer_of(s);
    uint32_t h = clamped_head(s);
    uint8_t* p = sb->head_ptr() + h;
    uint32_t n = sb->used() - h;
    uint32_t kept = 0;
    if (call.has(strings::TRIM_ALL)) {
      for (uint32_t i = 0; i < n; i++)
        if (p[i] != 0) p[kept++] = p[i];
    } else {
      bool head = call.has(strings::TRIM_HEAD), tail = call.has(strings::TRIM_TAIL);
      if (!head && !tail) head = tail = true;
      uint32_t first = 0, end = n;
      if (head)
        while (first < end && p[first] == 0) first++;
      if (tail)
        while (end > first && p[end - 1] == 0) end--;
      kept = end - first;
      std::memmove(p, p + first, kept);
    }
    sb->tail = sb->head + h + kept;
  }
  notice.done(s, nullptr, static_cast<int32_t>(s.head_index()), 0);
  return &call.result();
}

}  // namespace

std::string mold_text(const Cell& b, bool flat, bool only, int32_t indent) {
  StdStringOut out;
  mold_bytes(b, out, only, flat, nullptr, kNoLimit, indent);
  return out.text();
}

// ---- Registration --------------------------------------------------------------------------------

void register_binary_type() {
  HandlerRow row(kInherit);
  row.set(ActionIndex::make, make_handler)
      .set(ActionIndex::to, to_handler)
      .set(ActionIndex::form, &form_handler)
      .set(ActionIndex::mold, &mold_handler)
      .set(ActionIndex::set_path, kEmpty)
      .set(ActionIndex::compare, &compare_handler)
      .set(ActionIndex::and_t, and_handler)
      .set(ActionIndex::complement, complement_handler)
      .set(ActionIndex::or_t, or_handler)
      .set(ActionIndex::xor_t, xor_handler)
      .set(ActionIndex::append, append_handler)
      .set(ActionIndex::change, change_handler)
      .set(ActionIndex::insert, insert_handler)
      .set(ActionIndex::put, kEmpty)
      .set(ActionIndex::trim, trim_handler);
  for (int a = static_cast<int>(ActionIndex::absolute); a <= static_cast<int>(ActionIndex::odd_q); a++)
    row.set(static_cast<ActionIndex>(a), kEmpty);
  for (ActionIndex a : {ActionIndex::create, ActionIndex::close, ActionIndex::delete_, ActionIndex::open,
                        ActionIndex::open_q, ActionIndex::query, ActionIndex::read, ActionIndex::rename,
                        ActionIndex::update, ActionIndex::write})
    row.set(a, kEmpty);
  register_type(TYPE_BINARY, TYPE_STRING, "binary!", row);

  FurtherTypeHooks& h = further_type_hooks();
  h.binary_make_at.fn = [](Cell& target, uint32_t capacity) { make_at(target, capacity); };
  h.binary_load.fn = [](const uint8_t* bytes, uint32_t n) { return load(bytes, n); };
  h.binary_to.fn = [](Cell& target, const Cell& source, TypeId) { target = to_binary(source); };
  h.binary_byte_of_arg.fn = &byte_of_arg;
  h.binary_byte_in_bitset.fn = &byte_in_bitset;
  h.binary_match_series.fn = &match_series;
  h.binary_append.fn = &append_value;
}

}  // namespace zem::binary
