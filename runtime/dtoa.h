// Float and decimal text: correctly rounded conversion between IEEE doubles and decimal digits, in both
// directions. Every module that turns floats into text or text into floats goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zem::dtoa {

// Decimal-point positions of the special values.
constexpr int kDigitsInfNan = 9999;
constexpr int kDigitsZero = 9998;

struct FloatDigits {
  // The digits without point or sign (value = 0.d1d2... x 10^point); for the special values the
  // whole text ("1.#INF", "-1.#INF", "1.#NaN", "0.0", "-0", ...). Valid until the next call.
  const char* text;
  int point;
  bool negative;  // sign bit set
  int count;      // digits written (length of text)
};

// ndigits <= 0: the shortest digits that read back as the same double. ndigits > 0: that many
// significant digits (at most 30), correctly rounded, trailing zeros dropped. `dot_zero` picks
// "0.0" / "-0.0" over "0" / "-0" for zeros.
FloatDigits float_to_digits(double d, int ndigits, bool dot_zero);

// The text of a double, laid out in plain or exponent form (see dtoa.cpp). `dot_zero` keeps a
// ".0" on whole numbers ("100.0", "1.0e17"); without it they end in their last digit ("100", "1e17").
// The view is NUL-terminated and valid until the next call.
std::string_view format_float(double d, int ndigits, bool dot_zero);

// The same digits (shortest round-trip when ndigits <= 0, else at most ndigits) always in plain
// notation, never with an exponent: "100000000000000000.0", "0.000001". Whole numbers keep ".0";
// the special values give the texts of float_to_digits ("1.#INF", "1.#NaN"). Same lifetime as above.
std::string_view format_float_plain(double d, int ndigits);

// Reads [start, end): optional sign, digits with an optional ".", an optional exponent ("e" or "E",
// optional sign). `extra_exponent` is added to the decimal exponent before rounding (-2 reads
// percent text). "1.#INF", "-1.#INF" and "1.#NaN" read back as themselves. Stores through `unread`
// the characters left after the number (all of them when no number starts at `start`).
double text_to_float(const char* start, const char* end, int extra_exponent, size_t* unread);

}  // namespace zem::dtoa
