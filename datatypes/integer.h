// integer!: the signed 32-bit number. Its arithmetic core is shared with char! and the number types
// built on it; these functions work on plain values and report faults instead of raising, so the
// action handlers decide which error a fault becomes.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/unset_none_logic.h"

namespace zem {

// Why a number operation has no result; the handlers raise the matching error.
enum class NumFault : uint8_t {
  none,
  zero_divide,  // math zero-divide
  overflow,     // math overflow
  cannot_use,   // script cannot-use: the operation does not apply to the type
  type_limit,   // script type-limit: a double outside the int32 range (or NaN)
};

// Result of integer arithmetic: an int32, or a float when the exact result left the int32 range
// (or a division did not come out even).
struct IntResult {
  NumFault fault = NumFault::none;
  bool promoted = false;  // the result is `real`, a float!
  int32_t value = 0;
  double real = 0.0;
};

// Refinements of round, as a set of flags (several may be given; the rules pick in a fixed order).
enum RoundFlag : unsigned {
  ROUND_EVEN = 1u << 0,
  ROUND_DOWN = 1u << 1,
  ROUND_HALF_DOWN = 1u << 2,
  ROUND_FLOOR = 1u << 3,
  ROUND_CEILING = 1u << 4,
  ROUND_HALF_CEILING = 1u << 5,
};

// Decimal text: no grouping, no "+".
std::string integer_to_text(int32_t value);

// left op right for OP_ADD, OP_SUBTRACT or OP_MULTIPLY: the int32 result, or the float result when
// the exact one leaves the int32 range. Inline: the interpreter's quick operators call it too.
[[gnu::always_inline]] inline IntResult integer_add_sub_mul(int32_t left, int32_t right, MathOp op) {
  IntResult r;
  bool overflow = op == OP_ADD        ? __builtin_add_overflow(left, right, &r.value)
                  : op == OP_SUBTRACT ? __builtin_sub_overflow(left, right, &r.value)
                                      : __builtin_mul_overflow(left, right, &r.value);
  if (overflow) {
    const double l = left, rt = right;
    r.promoted = true;
    r.value = 0;
    r.real = op == OP_ADD ? l + rt : op == OP_SUBTRACT ? l - rt : l * rt;
  }
  return r;
}

// add, subtract and multiply promote to float on overflow; divide gives a float when the quotient is
// not whole unless `float_quotient` is false (then it truncates); remainder truncates (sign of the left).
IntResult integer_apply(int32_t left, int32_t right, MathOp op, bool float_quotient = true);

// Power by repeated squaring; an overflow or a negative exponent gives the float power.
IntResult integer_power(int32_t base, int32_t exponent);

// Round to a multiple of `scale` (1 without /to; its magnitude counts). Computed in 64 bits:
// overflow is reported only when the chosen result does not fit in 32 bits.
IntResult integer_round(int32_t value, int64_t scale, unsigned flags);

int integer_sign(int32_t value);
int integer_compare(int32_t a, int32_t b);  // -1, 0, 1

// True when a double does not truncate into an int32: above 2147483647.0, below -2147483648.0, NaN.
bool float_out_of_int_range(double d);

// The first min(length, 4) bytes, big-endian.
int32_t integer_from_bytes(const uint8_t* bytes, size_t length);

// An issue name read as up to 8 hexadecimal digits; false for a longer name or a non-hex character.
// `units` holds `length` code units of `unit` bytes each (1, 2 or 4), as string buffers do.
bool integer_from_hex_name(const void* units, size_t length, int unit, int32_t& out);

inline Cell make_integer(int32_t v) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.set_int_value(v);
  return c;
}
// The cell becomes an integer! keeping its flag bits.
inline Cell& set_integer(Cell& c, int32_t v) {
  c.set_type(TYPE_INTEGER);
  c.set_int_value(v);
  return c;
}

// The shared true or false cell, as the even?/odd?, pick and find handlers answer.
inline Cell* answer_logic(bool b) { return b ? &shared_cells.true_value : &shared_cells.false_value; }

// Raises the error of a fault: math zero-divide or overflow, script type-limit with integer!.
[[noreturn]] void fire_num_fault(NumFault fault);

// The arithmetic of an integer! (or char!) in slot 0 with slot 1: results stay in slot 0, which
// becomes a float! when the result does; other right operands are handed to their types.
Cell* integer_do_math(ActionCall& call, MathOp op);

void register_integer();

}  // namespace zem
