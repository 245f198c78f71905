// typeset!: the 96-bit type mask, its construction from blocks, and its action handlers.
#include "datatypes/typeset.h"

#include <algorithm>

#include "datatypes/unset_none_logic.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/wiring.h"

namespace zem {

namespace {

const Cell* word_value_not_done(const Cell&) { fire_not_done(TYPE_WORD); }

uint32_t mask_word(const Cell& ts, uint32_t i) { return ts.typeset_word(i); }

// Mask bit of id n inside its 32-bit word: byte (n >> 3) & 3 of the word, most significant bit
// first.
uint32_t bit_in_word(uint32_t n) { return (0x80u >> (n & 7)) << (((n >> 3) & 3) * 8); }

const Cell& resolve_word(const Cell& value) {
  return value.is(TYPE_WORD) ? *(wiring.word_value ? wiring.word_value(value) : word_value_not_done(value)) : value;
}

void or_in(Cell& ts, const Cell& other) {
  for (uint32_t i = 0; i < 3; i++) ts.set_typeset_word(i, ts.typeset_word(i) | other.typeset_word(i));
}

Cell* typeset_make(ActionCall& call) {
  const Cell& spec = call.arg(1);
  if (spec.is(TYPE_TYPESET)) {
    call.result() = spec;
    return &call.result();
  }
  if (spec.is(TYPE_BLOCK)) {
    // Adding values evaluates nothing, so the buffer stays where it is.
    SeriesBuffer* buffer = series_buffer(spec.node());
    const Cell* tail = buffer->cells_tail();
    const Cell* at = std::min<const Cell*>(buffer->cells_head() + spec.head_index(), tail);
    Cell ts = make_typeset();
    for (; at < tail; at++) typeset_add_value(ts, *at);
    call.result() = ts;
    return &call.result();
  }
  Cell type = datatype_cell(TYPE_TYPESET);
  fire(Err::script_bad_to_arg, &type, &spec);
}

int32_t typeset_form(const Cell& value, TextOut& out, const Cell* part, int32_t limit) {
  return typeset_serialize(value, out, false, part, limit);
}

int32_t typeset_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part,
                     int32_t limit, int32_t) {
  return typeset_serialize(value, out, flags.only, part, limit);
}

int32_t typeset_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_TYPESET)) return kCannotCompare;
  if (is_value_equality_op(op))
    return a.same_payload(b) ? 0 : 1;
  if (!is_sort_op(op)) return kCannotCompare;
  uint32_t x = typeset_count(a), y = typeset_count(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

template <MathOp Op>
Cell* typeset_set_op(ActionCall& call) {
  return typeset_do_set_op(call, Op);
}

Cell* typeset_complement(ActionCall& call) {
  Cell& ts = call.result();
  for (uint32_t i = 0; i < 3; i++) ts.set_typeset_word(i, ~ts.typeset_word(i));
  return &ts;
}

Cell* typeset_find(ActionCall& call) {
  const Cell& value = call.arg(1);
  if (!value.is(TYPE_DATATYPE)) fire(Err::script_invalid_arg, &value);
  return typeset_bit(call.result(), value.datatype_id()) ? &shared_cells.true_value
                                                 : &shared_cells.false_value;
}

}  // namespace

bool typeset_bit(const Cell& ts, uint32_t n) {
  return n < 96 && (mask_word(ts, n >> 5) & bit_in_word(n)) != 0;
}

void typeset_set_bit(Cell& ts, uint32_t n) {
  if (n < 96) ts.set_typeset_word(n >> 5, ts.typeset_word(n >> 5) | bit_in_word(n));
}

Cell typeset_all() {
  static_assert(TYPE_UNSET < 32, "unset! sits in the first mask word");
  return make_typeset(~bit_in_word(TYPE_UNSET), 0xFFFFFFFF, 0xFFFFFFFF);
}

uint32_t typeset_count(const Cell& ts) {
  uint32_t n = 0;
  for (uint32_t t = 1; t <= highest_type_id(); t++) n += typeset_bit(ts, t);
  return n;
}

void typeset_add_value(Cell& ts, const Cell& given) {
  const Cell& value = resolve_word(given);
  if (value.is(TYPE_TYPESET))
    or_in(ts, value);
  else if (value.is(TYPE_DATATYPE))
    typeset_set_bit(ts, value.datatype_id());
  else
    fire(Err::script_invalid_arg, &value);
}

Cell typeset_from_spec(std::span<const Cell> elements) {
  Cell ts = make_typeset();
  for (const Cell& element : elements) {
    const Cell& value = resolve_word(element);
    if (value.is(TYPE_DATATYPE))
      typeset_set_bit(ts, value.datatype_id());
    else if (value.is(TYPE_TYPESET))
      or_in(ts, value);
    else if (value.is(TYPE_WORD))
      typeset_set_bit(ts, TYPE_OBJECT);
    else if (!value.is(TYPE_BLOCK))
      fire(Err::script_invalid_type_spec, &value);
  }
  return ts;
}

int32_t typeset_serialize(const Cell& ts, TextOut& out, bool only, const Cell* part,
                          int32_t limit) {
  if (!only) {
    out.append_ascii("make typeset! [");
    limit -= 15;
  }
  // The blank goes before each name but the first; the limit is counted as if each name were
  // followed by one, with the last blank taken back (only) or turned into "]".
  bool first = true;
  for (uint32_t t = 1; t <= highest_type_id(); t++) {
    if (!typeset_bit(ts, t)) continue;
    if (part && limit <= 0) return limit;
    if (!first) out.append_ascii(" ");
    std::string_view name = type_name(static_cast<TypeId>(t));
    out.append_ascii(name);
    limit -= static_cast<int32_t>(name.size()) + 1;
    first = false;
  }
  if (only) return first ? limit : limit + 1;
  out.append_ascii("]");
  return first ? limit - 1 : limit;
}

Cell* typeset_do_set_op(ActionCall& call, MathOp op) {
  Cell& a = call.result();
  const Cell& arg = call.arg(1);
  Cell b;
  if (arg.is(TYPE_TYPESET)) {
    b = arg;
  } else if (arg.is(TYPE_DATATYPE)) {
    b = make_typeset();
    typeset_set_bit(b, arg.datatype_id());
  } else {
    fire(Err::script_invalid_arg, &arg);
  }
  for (uint32_t i = 0; i < 3; i++) {
    uint32_t x = mask_word(a, i), y = mask_word(b, i);
    switch (op) {
      case OP_OR:
      case OP_UNION:
        a.set_typeset_word(i, x | y);
        break;
      case OP_AND:
      case OP_INTERSECT:
        a.set_typeset_word(i, x & y);
        break;
      case OP_XOR:
      case OP_DIFFERENCE:
        a.set_typeset_word(i, x ^ y);
        break;
      case OP_EXCLUDE:
        a.set_typeset_word(i, x & ~y);
        break;
      default:
        break;  // unique: the first typeset as it is
    }
  }
  return &a;
}

void register_typeset() {
  register_type(TYPE_TYPESET, TYPE_NONE_ID, "typeset!",
                HandlerRow()
                    .set(ActionIndex::make, &typeset_make)
                    .set(ActionIndex::to, &typeset_make)
                    .set(ActionIndex::form, &typeset_form)
                    .set(ActionIndex::mold, &typeset_mold)
                    .set(ActionIndex::compare, &typeset_compare)
                    .set(ActionIndex::and_t, &typeset_set_op<OP_AND>)
                    .set(ActionIndex::complement, &typeset_complement)
                    .set(ActionIndex::or_t, &typeset_set_op<OP_OR>)
                    .set(ActionIndex::xor_t, &typeset_set_op<OP_XOR>)
                    .set(ActionIndex::find, &typeset_find));
}

}  // namespace zem
