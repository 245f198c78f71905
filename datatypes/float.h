// float!: the IEEE double. The arithmetic, comparison, rounding and text of doubles, shared with
// percent!, time!, vector! and the point types.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/integer.h"

namespace zem {

// The one process-wide printing switch of floats (system/options/float).
struct FloatState {
  bool pretty = true;
};
extern FloatState float_state;

// What a double is printed as, by `float_to_text`.
enum FloatTextMode : int {
  FLOAT_TEXT_SINGLE = 0,         // float element of a 32-bit vector
  FLOAT_TEXT_DOUBLE = 1,         // float!
  FLOAT_TEXT_SINGLE_PERCENT = 2, // percent element of a 32-bit vector
  FLOAT_TEXT_PERCENT = 3,        // percent! (the value already multiplied by 100)
  FLOAT_TEXT_TIME = 4,           // time! seconds
  FLOAT_TEXT_POINT = 5,          // point2D!/point3D! coordinates
};

// Pretty text of a double: 16 significant digits (fewer for the other modes), with the noise of
// binary fractions removed while `pretty` is on ("0.1 + 0.7" forms as 0.8).
std::string float_to_text(double d, int mode, bool pretty);
inline std::string float_to_text(double d, int mode) { return float_to_text(d, mode, float_state.pretty); }

constexpr double kFloatEpsilon = 2.220446049250313e-16;

bool float_is_nan(double d);
bool float_is_non_finite(double d);
double float_abs_bits(double d);  // clears the sign bit
// Rounds a non-negative double to the nearest int32, halves up (adds the largest double below 0.5,
// so 0.49999999999999994 stays 0); `type_limit` outside the int32 range.
int32_t float_add_nearly_half(double d, NumFault& fault);

// Equal within an absolute 2^-52 or within 10 representable steps; never for NaN.
bool float_nearly_equal(double a, double b);
bool float_nearly_equal_single(float a, float b);

// Comparison of two doubles under a compare code (0 equal?, 1 not-equal?, 2 strict-equal?, 3-6 the
// orderings, 9 same?, 12 the equality of find and select): -1, 0 or 1.
int float_compare(double a, double b, int op);

// add, subtract, multiply, divide and remainder of doubles; the bitwise codes are `cannot_use`.
double float_apply(double a, double b, MathOp op, NumFault& fault);

// Rounding of n to a multiple of the positive scale sc (1.0 without /to); overflow when the result
// leaves the finite doubles.
double float_round(double n, double sc, unsigned flags, NumFault& fault);

// The first min(length, 8) bytes, big-endian, right-aligned into the 64-bit pattern.
double float_from_bytes(const uint8_t* bytes, size_t length);

// A random double in 0 ... x: inclusive from the generator, x excluded from the secure source.
double float_random_bits(double x, bool secure);

// Truncation toward zero into an int32; `type_limit` outside the int32 range or for NaN.
int32_t float_truncate(double d, NumFault& fault);

uint64_t float_bits(double d);
double float_from_bits(uint64_t bits);

inline Cell make_float(double d) {
  Cell c{};
  c.set_header(TYPE_FLOAT);
  c.set_float_payload(d);
  return c;
}
// The cell takes the type (float! unless given) keeping its flag bits, and the double.
inline Cell& set_float(Cell& c, double d, TypeId type = TYPE_FLOAT) {
  c.set_type(type);
  c.set_float_payload(d);
  return c;
}

// The arithmetic with slot 0 an integer!, float!, percent! or time! and any right operand; the
// result is in slot 0 with the type the operands give.
Cell* float_do_math(ActionCall& call, MathOp op);
// The power, round and make handlers; integer! hands its float cases to them.
Cell* float_power(ActionCall& call);
Cell* float_round_action(ActionCall& call);

void register_float();

}  // namespace zem
