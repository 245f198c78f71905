// Text to number: the parsers behind `to integer!`, `to float!` and `to money!`, and the float
// syntax test the lexer shares. They read the raw code units of a string buffer (1, 2 or 4 bytes
// each) and report failure through an error word the caller set to 0; they never raise.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "runtime/cell.h"
#include "runtime/unicode.h"

namespace zem {

// Unit i of a buffer of 1-, 2- or 4-byte code units.
inline uint32_t code_unit_at(const void* units, size_t i, int unit) {
  return unicode::read_unit(static_cast<const uint8_t*>(units) + i * unit, unit);
}

// The code units of a string-family or binary! value from its head to its tail.
struct SeriesUnits {
  const void* data;
  size_t length;
  int unit;
};
SeriesUnits series_units(const Cell& value);
// The name of an issue! as code units.
SeriesUnits issue_name_units(const Cell& issue);
// The cells of a block-like value from its head to its tail.
struct SeriesCells {
  const Cell* cells;
  size_t length;
};
SeriesCells series_cells(const Cell& value);

// Value of an ASCII hexadecimal digit (either case), or -1.
inline int hex_digit_value(uint32_t c) {
  if (c >= '0' && c <= '9') return int(c - '0');
  if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
  return -1;
}

// Error words of the parsers.
constexpr int NUMTEXT_BAD = -1;       // not a number of that kind
constexpr int NUMTEXT_OVERFLOW = -2;  // an integer that does not fit in 32 bits

// Optional sign, then ASCII digits with "'" separators anywhere after the sign.
int32_t parse_integer_text(const void* units, size_t length, int unit, int& error);

// At most 312 units of float syntax ("," also a decimal mark, "'" separators); NaN on failure.
double parse_float_text(const void* units, size_t length, int unit, int& error);

// The pieces of a money amount in text, as offsets in code units from the start.
struct MoneyTextParts {
  bool negative = false;
  long currency = -1;  // start of the three-letter code, or -1
  long before_digits;  // the "$", or the character before the first digit
  long point = -1;     // the decimal point, or -1
  long end;
};

// The money grammar: [sign] [code "$" | "$"] digits ["." digits]; false when the text does not match.
bool parse_money_text(const void* units, size_t length, int unit, MoneyTextParts& parts);

// The money conversion: single-byte text checked by the grammar, then made into `target` by the
// money type; false when either refuses it.
bool parse_number_text(const char* text, size_t length, Cell& target);

inline bool is_ascii_letter(uint32_t c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Float syntax: one optional sign, digits with "'" separators, an optional "." fraction, an optional
// exponent; at least one digit before the exponent. At most 312 bytes.
bool float_syntax(std::string_view text);

}  // namespace zem
