// The decimal kernel of money!: signed amounts of 22 decimal digits (17 before the point, 5 after)
// added, subtracted, multiplied, divided and compared digit by digit, never through floating point.
// Pure functions on plain values: faults are answered, the money type decides the errors.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zem::money {

constexpr int kDigits = 22;
constexpr int kIntDigits = 17;
constexpr int kFracDigits = 5;
// Two operands of a product may have this many significant digits together.
constexpr int kProductDigits = 28;

// digit[0] is the most significant (ten-quadrillions... of the integer part), digit[21] the last
// fraction digit (units of 0.00001).
struct Amount {
  bool negative = false;
  uint8_t digit[kDigits] = {};
};

enum class Fault : uint8_t { none, overflow, zero_divide };

bool is_zero(const Amount& a);
// -1, 0 or 1 from the digits and the sign; zero is 0 whatever its sign says.
int sign_of(const Amount& a);
// Digits from the first non-zero one to the last fraction digit; 1 for zero.
int significant_digits(const Amount& a);

// -1, 0 or 1 comparing the magnitudes, and the signed values.
int compare_magnitudes(const Amount& a, const Amount& b);
int compare(const Amount& a, const Amount& b);

// a op b into a; on a fault a is left as it was. The quotient is truncated toward zero after the
// fifth decimal; the remainder takes the dividend's sign. Zero results are never negative.
Fault add(Amount& a, const Amount& b);
Fault subtract(Amount& a, const Amount& b);
Fault multiply(Amount& a, const Amount& b);
Fault divide(Amount& a, const Amount& b);
Fault remainder(Amount& a, const Amount& b);

// The amount of a whole number.
Amount amount_of_integer(int64_t n);
// The integer part, truncated toward zero; false when it leaves the int32 range.
bool to_int32(const Amount& a, int32_t& out);

// Plain text "-1234.50000": the sign, the integer digits (at least "0"), "." and `fraction` digits
// (truncated; none and no point for 0).
std::string plain_text(const Amount& a, int fraction);
// Reads [sign] digits ["." digits] with at most 17 significant integer digits and at most 5
// fraction digits; false for anything else.
bool from_plain_text(std::string_view text, Amount& out);

}  // namespace zem::money
