// typeset!: a set of datatypes held in one cell as a 96-bit mask. Type id n is bit (0x80 >> (n &
// 7)) of mask byte n >> 3, the bytes in memory order of the three mask words (runtime/layout.h).
#pragma once

#include <cstdint>
#include <span>

#include "datatypes/registry.h"

namespace zem {

inline Cell make_typeset(uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
  Cell c{};
  c.set_header(TYPE_TYPESET);
  c.set_typeset_words(w1, w2, w3);
  return c;
}

// Bit n of the mask (n < 96).
bool typeset_bit(const Cell& ts, uint32_t n);
void typeset_set_bit(Cell& ts, uint32_t n);
// Inline: argument type checks run on every call.
inline bool typeset_has(const Cell& ts, TypeId t) {
  uint32_t n = t;
  uint32_t w = n < 96 ? ts.typeset_word(n >> 5) : 0;
  return (w >> (((n >> 3) & 3) * 8)) & (0x80u >> (n & 7));
}
// Every bit but unset!'s.
Cell typeset_all();
// Members among the ids 1 .. highest registered.
uint32_t typeset_count(const Cell& ts);

// Adds one value: a word! stands for its value; a typeset! is or-ed in; a datatype! sets its bit;
// anything else raises script `invalid-arg` with the value.
void typeset_add_value(Cell& ts, const Cell& value);
// A typeset from the elements of a spec block (function argument types): a word! stands for its
// value, then a datatype! sets its bit, a typeset! is or-ed in, a word! value adds object!, a
// block! is skipped, anything else raises script `invalid-type-spec` with the value.
Cell typeset_from_spec(std::span<const Cell> elements);

// Writes "make typeset! [integer! float!]", or with `only` "integer! float!"; answers the limit
// left.
int32_t typeset_serialize(const Cell& ts, TextOut& out, bool only, const Cell* part, int32_t limit);

// The set operation `op` (or~/union, and~/intersect, xor~/difference, exclude, unique) of the
// typeset in slot 0 with the typeset! or datatype! in slot 1 (else script `invalid-arg`); the
// result is slot 0.
Cell* typeset_do_set_op(ActionCall& call, MathOp op);

void register_typeset();

}  // namespace zem
