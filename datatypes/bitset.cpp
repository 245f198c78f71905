// bitset! values: construction from specs, membership, the set operations and the series actions.
#include "datatypes/bitset.h"

#include <algorithm>
#include <cstring>

#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/number_text.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/support.h"

namespace zem {

namespace {

inline uint8_t bit_mask(uint32_t n) { return uint8_t(0x80 >> (n & 7)); }

inline uint8_t byte_or_fill(const BitsView& b, size_t i) {
  return i < b.length ? b.bytes[i] : bits_fill(b.complemented);
}

}  // namespace

bool bits_test(const BitsView& b, uint32_t n) {
  size_t i = n >> 3;
  if (i >= b.length) return b.complemented;
  return (b.bytes[i] & bit_mask(n)) != 0;
}

bool bits_test_range(const BitsView& b, uint32_t low, uint32_t high) {
  // Bits past the stored bytes are all members or all not; the stored part is checked bit by bit.
  const uint64_t stored_end = uint64_t(b.length) * 8;
  if (high >= stored_end && !b.complemented) return false;
  for (uint64_t n = low; n <= high && n < stored_end; n++)
    if (!(b.bytes[n >> 3] & bit_mask(uint32_t(n)))) return false;
  return true;
}

void bits_set_range(const BitsView& b, uint32_t low, uint32_t high, bool value) {
  uint64_t stored_end = uint64_t(b.length) * 8;
  for (uint64_t n = low; n <= high && n < stored_end; n++) {
    if (value) b.bytes[n >> 3] |= bit_mask(uint32_t(n));
    else b.bytes[n >> 3] &= uint8_t(~bit_mask(uint32_t(n)));
  }
}

void bits_invert(const BitsView& b) {
  for (size_t i = 0; i < b.length; i++) b.bytes[i] = uint8_t(~b.bytes[i]);
}

bool bits_combine(const BitsView& a, const BitsView& b, int op, uint8_t* out) {
  size_t n = std::max(a.length, b.length);
  auto apply = [op](unsigned x, unsigned y) -> unsigned {
    switch (op) {
      case 5: case 9: return x | y;
      case 6: case 10: return x & y;
      case 7: case 12: return x ^ y;
      default: return x & ~y;  // 11: a and not b
    }
  };
  for (size_t i = 0; i < n; i++) out[i] = uint8_t(apply(byte_or_fill(a, i), byte_or_fill(b, i)));
  return apply(a.complemented ? 1 : 0, b.complemented ? 1 : 0) & 1;
}

int bits_compare(const BitsView& a, const BitsView& b) {
  if (a.length != b.length) return a.length < b.length ? -1 : 1;
  if (a.complemented != b.complemented) return a.complemented ? 1 : -1;
  for (size_t i = a.length; i-- > 0;) {
    if (a.bytes[i] != b.bytes[i]) return a.bytes[i] < b.bytes[i] ? -1 : 1;
  }
  return 0;
}

long bits_append_hex(std::string& out, const BitsView& b, bool part, long limit) {
  static const char kHex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < b.length; i++) {
    if (part && limit <= 0) break;
    uint8_t v = b.complemented ? uint8_t(~b.bytes[i]) : b.bytes[i];
    out.push_back(kHex[v >> 4]);
    out.push_back(kHex[v & 15]);
    limit -= 2;
  }
  return limit;
}

std::string bits_mold_text(const BitsView& b) {
  std::string s = "make bitset! ";
  if (b.complemented) s += "[not ";
  s += "#{";
  bits_append_hex(s, b, false, 0);
  s += "}";
  if (b.complemented) s += "]";
  return s;
}

// ---- bitset! values ----

BitsView bitset_bits(const Cell& bitset) {
  SeriesBuffer* s = series_buffer(bitset.node());
  return {s->head_ptr(), s->used(), (s->flags & kBitsetComplement) != 0};
}

namespace {

Cell bitset_cell(NodeId node) {
  Cell c{};
  c.set_header(TYPE_BITSET);
  c.set_node(node);
  return c;
}

void set_complemented(NodeId node, bool on) {
  SeriesBuffer* s = series_buffer(node);
  s->flags = on ? (s->flags | kBitsetComplement) : (s->flags & ~kBitsetComplement);
}

// Makes bit n stored, filling the new bytes with the set's membership beyond its old bytes.
void grow_to(const Cell& bitset, uint32_t n) {
  const NodeId node = bitset.node();
  SeriesBuffer* s = series_buffer(node);
  const size_t need = bits_bytes_for(n), used = s->used();
  if (used >= need) return;
  const uint8_t fill = bits_fill((s->flags & kBitsetComplement) != 0);
  if (s->head + need > s->capacity) {
    s = alloc::expand_fill(node, int64_t(need), fill);
  } else {
    std::memset(s->tail_ptr(), fill, need - used);
  }
  s->set_length(uint32_t(need));
}

bool word_named(const Cell& c, std::string_view name) {
  if (!c.is(TYPE_WORD)) return false;
  std::string_view n = symbol::name(c.word_symbol());
  return std::equal(n.begin(), n.end(), name.begin(), name.end(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b;
  });
}

[[noreturn]] void fire_bad_spec(const Cell& spec, BitsetMode mode) {
  Cell type = datatype_cell(TYPE_BITSET);
  if (mode == BITS_MODE_MAKE) fire(Err::script_bad_make_arg, &type, &spec);
  if (mode == BITS_MODE_TO) fire(Err::script_bad_to_arg, &type, &spec);
  fire(Err::script_invalid_arg, &spec);
}

int64_t process_range(uint32_t low, uint32_t high, const Cell* bitset, BitsetOp op) {
  switch (op) {
    case BITS_HIGHEST:
      return high;
    case BITS_TEST:
      return bits_test_range(bitset_bits(*bitset), low, high);
    case BITS_SET:
      // A complemented set already holds every bit beyond its bytes.
      if (!bitset_bits(*bitset).complemented) grow_to(*bitset, high);
      bits_set_range(bitset_bits(*bitset), low, high, true);
      return 1;
    case BITS_CLEAR:
      // Bits beyond an ordinary set's bytes are already out; a complemented set must store them.
      if (bitset_bits(*bitset).complemented) grow_to(*bitset, high);
      bits_set_range(bitset_bits(*bitset), low, high, false);
      return 1;
  }
  return 0;
}

// One number as a bit; negative numbers name no bit (an error unless testing).
int64_t process_number(const Cell& value, const Cell* bitset, BitsetOp op) {
  int64_t n = value.is(TYPE_FLOAT) ? float_to_int_checked(value) : value.int_value();
  if (n < 0) {
    if (op == BITS_TEST) return 0;
    fire(Err::script_out_of_range, &value);
  }
  return process_range(uint32_t(n), uint32_t(n), bitset, op);
}

int64_t process_string(const Cell& text, const Cell* bitset, BitsetOp op) {
  SeriesUnits u = series_units(text);
  uint32_t highest = 0;
  for (size_t i = 0; i < u.length; i++) highest = std::max(highest, code_unit_at(u.data, i, u.unit));
  if (op == BITS_HIGHEST) return highest;
  if (u.length == 0) return 1;
  // Grow once for the whole text; growing allocates but never moves the text's buffer.
  BitsView b = bitset_bits(*bitset);
  if ((op == BITS_SET && !b.complemented) || (op == BITS_CLEAR && b.complemented)) grow_to(*bitset, highest);
  b = bitset_bits(*bitset);
  for (size_t i = 0; i < u.length; i++) {
    uint32_t cp = code_unit_at(u.data, i, u.unit);
    if (op == BITS_TEST) {
      if (!bits_test(b, cp)) return 0;
    } else {
      bits_set_range(b, cp, cp, op == BITS_SET);
    }
  }
  return 1;
}

int64_t process_block(const Cell& block, const Cell* bitset, BitsetOp op, BitsetMode mode) {
  int64_t answer = op == BITS_TEST ? 1 : 0;
  SeriesCells items = series_cells(block);
  for (size_t i = 0; i < items.length;) {
    // Growing the bitset allocates but never moves the block, so the cells stay put.
    const Cell& item = items.cells[i];
    int64_t r;
    if (i + 1 < items.length && word_named(items.cells[i + 1], "-")) {
      if (i + 2 >= items.length) fire(Err::script_past_end);
      const Cell& high = items.cells[i + 2];
      if (!item.is(TYPE_CHAR) && !item.is(TYPE_INTEGER)) fire(Err::script_invalid_arg, &item);
      if (high.type() != item.type()) fire(Err::script_invalid_arg, &high);
      if (item.int_value() > high.int_value()) fire(Err::script_past_end);
      if (item.int_value() < 0) {
        if (op == BITS_TEST) return 0;
        fire(Err::script_out_of_range, &item);
      }
      r = process_range(uint32_t(item.int_value()), uint32_t(high.int_value()), bitset, op);
      i += 3;
    } else {
      r = bitset_process(item, bitset, op, mode);
      i += 1;
    }
    if (op == BITS_HIGHEST) answer = std::max(answer, r);
    if (op == BITS_TEST && r == 0) return 0;
  }
  return op == BITS_SET || op == BITS_CLEAR ? 1 : answer;
}

}  // namespace

Cell make_bitset(size_t bytes, uint8_t fill, bool complemented) {
  NodeId node = alloc::make_bytes_filled(int64_t(bytes), fill);
  series_buffer(node)->set_length(uint32_t(bytes));
  set_complemented(node, complemented);
  return bitset_cell(node);
}

int64_t bitset_process(const Cell& spec, const Cell* bitset, BitsetOp op, BitsetMode mode) {
  switch (spec.type()) {
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      return process_number(spec, bitset, op);
    case TYPE_STRING:
      return process_string(spec, bitset, op);
    case TYPE_BLOCK:
      return process_block(spec, bitset, op, mode);
    case TYPE_BINARY:
      fire_not_done(TYPE_BINARY);
    default:
      fire_bad_spec(spec, mode);
  }
}

Cell bitset_make_from_spec(const Cell& spec_in, bool to) {
  const BitsetMode mode = to ? BITS_MODE_TO : BITS_MODE_MAKE;
  Cell spec = spec_in;
  bool complemented = false;
  if (spec.is(TYPE_BLOCK)) {
    SeriesCells items = series_cells(spec);
    if (items.length > 0 && word_named(items.cells[0], "not")) {
      complemented = true;
      if (items.length > 1 && items.cells[1].is(TYPE_BINARY)) spec = items.cells[1];
      else spec.set_head_index(spec.head_index() + 1);  // the rest of the block
    }
  }
  switch (spec.type()) {
    case TYPE_BITSET:
      return bitset_cell(alloc::copy_series(spec.node()));
    case TYPE_INTEGER:
    case TYPE_FLOAT: {
      if (to) fire_bad_spec(spec, mode);
      int64_t n = spec.is(TYPE_FLOAT) ? float_to_int_checked(spec) : spec.int_value();
      if (n < 0) fire(Err::script_out_of_range, &spec);
      return make_bitset(size_t((n + 7) / 8), bits_fill(complemented), complemented);
    }
    case TYPE_BINARY: {
      SeriesUnits bytes = series_units(spec);
      Cell result = make_bitset(bytes.length, 0, complemented);
      BitsView b = bitset_bits(result);
      bytes = series_units(spec);
      std::memcpy(b.bytes, bytes.data, bytes.length);
      if (complemented) bits_invert(b);
      return result;
    }
    default: {
      int64_t highest = bitset_process(spec, nullptr, BITS_HIGHEST, mode);
      Cell result = make_bitset(bits_bytes_for(uint32_t(highest)), bits_fill(complemented), complemented);
      bitset_process(spec, &result, complemented ? BITS_CLEAR : BITS_SET, mode);
      return result;
    }
  }
}

Cell* bitset_do_bitwise(ActionCall& call, int op) {
  const Cell& right = call.arg(1);
  if (!right.is(TYPE_BITSET)) {
    Cell type = datatype_cell(right.type());
    fire(Err::script_invalid_type, &type);
  }
  if (op == OP_UNIQUE) return &call.result();
  const size_t n = std::max(bitset_bits(call.result()).length, bitset_bits(right).length);
  Cell result = make_bitset(n, 0, false);
  bool complemented = bits_combine(bitset_bits(call.result()), bitset_bits(right), op,
                                   bitset_bits(result).bytes);
  set_complemented(result.node(), complemented);
  call.result() = result;
  return &call.result();
}

namespace {

Cell* bs_make(ActionCall& call) {
  call.result() = bitset_make_from_spec(call.arg(1), false);
  return &call.result();
}

Cell* bs_to(ActionCall& call) {
  call.result() = bitset_make_from_spec(call.arg(1), true);
  return &call.result();
}

int32_t bs_write(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  BitsView b = bitset_bits(value);
  std::string text = "make bitset! ";
  if (b.complemented) text += "[not ";
  text += "#{";
  long left = limit - long(text.size());
  left = bits_append_hex(text, b, part != nullptr, left);
  text += b.complemented ? "}]" : "}";
  left -= b.complemented ? 2 : 1;
  out.append_ascii(text);
  return int32_t(std::max<long>(left, INT32_MIN));
}

int32_t bs_form(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return bs_write(value, out, part, limit);
}

int32_t bs_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return bs_write(value, out, part, limit);
}

int32_t bs_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_BITSET)) return kCannotCompare;
  if (op == COMP_SAME) return a.node() == b.node() ? 0 : 1;
  return bits_compare(bitset_bits(a), bitset_bits(b));
}

bool truthy_poke_value(const Cell& v) {
  if (v.is(TYPE_NONE)) return false;
  if (v.is(TYPE_LOGIC)) return logic_flag(v);
  if (v.is(TYPE_INTEGER)) return v.int_value() != 0;
  if (v.is(TYPE_FLOAT)) return v.float_value() != 0.0;
  return true;
}

// Changes report to the owner of the bitset's series, before and after.
void poke_with_notice(const Cell& bitset, const Cell& index, const Cell& value) {
  ownership::ChangeNotice notice(bitset, ownership::Change::poke, &value);
  bitset_process(index, &bitset, truthy_poke_value(value) ? BITS_SET : BITS_CLEAR, BITS_MODE_OTHER);
  notice.done(bitset, &value);
}

Cell* bs_path(PathStep& step) {
  const Cell& element = *step.element;
  if (!element.is(TYPE_CHAR) && !element.is(TYPE_INTEGER)) {
    Cell type = datatype_cell(element.type());
    fire(Err::script_invalid_type, &type);
  }
  if (step.set_value) {
    poke_with_notice(*step.value, element, *step.set_value);
    return step.value;
  }
  return answer_logic(bitset_process(element, step.value, BITS_TEST, BITS_MODE_OTHER) != 0);
}

Cell complemented_copy(const Cell& value) {
  Cell copy = bitset_cell(alloc::copy_series(value.node()));
  BitsView b = bitset_bits(copy);
  bits_invert(b);
  set_complemented(copy.node(), !b.complemented);
  return copy;
}

Cell* bs_complement(ActionCall& call) {
  call.result() = complemented_copy(call.result());
  return &call.result();
}

template <int Op>
Cell* bs_bitwise(ActionCall& call) {
  return bitset_do_bitwise(call, Op);
}

Cell* bs_append(ActionCall& call) {
  const auto change = call.action == ActionIndex::insert ? ownership::Change::insert : ownership::Change::append;
  ownership::ChangeNotice notice(call.result(), change, &call.arg(1));
  bitset_process(call.arg(1), &call.result(), BITS_SET, BITS_MODE_OTHER);
  notice.done(call.result(), &call.arg(1));
  return &call.result();
}

Cell* bs_clear(ActionCall& call) {
  // An empty set: no member among the bytes and none beyond them.
  ownership::ChangeNotice notice(call.result(), ownership::Change::clear);
  BitsView b = bitset_bits(call.result());
  std::memset(b.bytes, 0, b.length);
  set_complemented(call.result().node(), false);
  notice.done(call.result());
  return &call.result();
}

Cell* bs_copy(ActionCall& call) {
  call.result() = bitset_cell(alloc::copy_series(call.result().node()));
  return &call.result();
}

Cell* bs_length(ActionCall& call) {
  call.result() = make_integer(int32_t(bitset_bits(call.result()).length * 8));
  return &call.result();
}

Cell* bs_pick(ActionCall& call) {
  return answer_logic(bitset_process(call.arg(1), &call.result(), BITS_TEST, BITS_MODE_OTHER) != 0);
}

Cell* bs_poke(ActionCall& call) {
  poke_with_notice(call.result(), call.arg(1), call.arg(2));
  return &call.result();
}

Cell* bs_remove(ActionCall& call) {
  const Cell* value = call.refinement_arg(0);  // /part
  if (!value) fire(Err::script_missing_arg, call.word);
  ownership::ChangeNotice notice(call.result(), ownership::Change::remove, value);
  bitset_process(*value, &call.result(), BITS_CLEAR, BITS_MODE_OTHER);
  notice.done(call.result(), value);
  return &call.result();
}

}  // namespace

void register_bitset() {
  register_type(TYPE_BITSET, TYPE_NONE_ID, "bitset!",
                HandlerRow()
                    .set(ActionIndex::make, &bs_make)
                    .set(ActionIndex::reflect, &series::reflect_handler)
                    .set(ActionIndex::to, &bs_to)
                    .set(ActionIndex::form, &bs_form)
                    .set(ActionIndex::mold, &bs_mold)
                    .set(ActionIndex::eval_path, &bs_path)
                    .set(ActionIndex::compare, &bs_compare)
                    .set(ActionIndex::negate, &bs_complement)
                    .set(ActionIndex::and_t, &bs_bitwise<OP_AND>)
                    .set(ActionIndex::complement, &bs_complement)
                    .set(ActionIndex::or_t, &bs_bitwise<OP_OR>)
                    .set(ActionIndex::xor_t, &bs_bitwise<OP_XOR>)
                    .set(ActionIndex::append, &bs_append)
                    .set(ActionIndex::clear, &bs_clear)
                    .set(ActionIndex::copy, &bs_copy)
                    .set(ActionIndex::find, &bs_pick)
                    .set(ActionIndex::insert, &bs_append)
                    .set(ActionIndex::length_q, &bs_length)
                    .set(ActionIndex::pick, &bs_pick)
                    .set(ActionIndex::poke, &bs_poke)
                    .set(ActionIndex::remove, &bs_remove)
                    .set(ActionIndex::modify, &series::modify_handler));
}

}  // namespace zem
