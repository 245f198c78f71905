// Text to number: the integer, float and money parsers over raw string code units.
#include "evaluator/number_text.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "runtime/dtoa.h"
#include "runtime/memory.h"

namespace zem {

int32_t parse_integer_text(const void* units, size_t length, int unit, int& error) {
  size_t i = 0;
  bool negative = false;
  if (length > 0) {
    uint32_t c = code_unit_at(units, 0, unit);
    if (c == '+' || c == '-') {
      negative = c == '-';
      i = 1;
    }
  }
  // The magnitude may reach 2147483648 only for a negative number; beyond that it overflows.
  const uint64_t limit = negative ? 2147483648u : 2147483647u;
  uint64_t magnitude = 0;
  bool any_digit = false;
  for (; i < length; i++) {
    uint32_t c = code_unit_at(units, i, unit);
    if (c == '\'') continue;
    if (c < '0' || c > '9') {
      error = NUMTEXT_BAD;
      return 0;
    }
    any_digit = true;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > limit) {
      error = NUMTEXT_OVERFLOW;
      return 0;
    }
  }
  if (!any_digit) {
    error = NUMTEXT_BAD;
    return 0;
  }
  return negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
}

namespace {

// Byte classes and transitions of the float syntax automaton. State 10 rejects; an "end" entry
// other than 10 accepts. States 11 (after the sign) and 12 (a leading "." with no digit yet) keep
// to one sign and require a digit.
enum { FC_OTHER, FC_SIGN, FC_DIGIT, FC_EXP, FC_POINT, FC_QUOTE, FC_END };

constexpr uint8_t kFloatStates[13][7] = {
    //  other sign digit e/E  .   '   end
    {10, 11, 1, 10, 12, 10, 10},  // 0 start
    {10, 10, 1, 6, 5, 2, 9},      // 1 integer digits
    {10, 10, 1, 10, 10, 10, 9},   // 2 after a "'" in the integer part
    {10, 10, 3, 6, 10, 4, 9},     // 3 fraction digits
    {10, 10, 3, 10, 10, 10, 9},   // 4 after a "'" in the fraction
    {10, 10, 3, 10, 10, 10, 9},   // 5 just after the point
    {10, 7, 8, 10, 10, 10, 10},   // 6 after "e"
    {10, 10, 8, 10, 10, 10, 10},  // 7 exponent sign
    {10, 10, 8, 10, 10, 10, 9},   // 8 exponent digits
    {9, 9, 9, 9, 9, 9, 9},        // 9 accepted
    {10, 10, 10, 10, 10, 10, 10}, // 10 rejected
    {10, 10, 1, 10, 12, 10, 10},  // 11 after the sign
    {10, 10, 3, 10, 10, 10, 10},  // 12 leading point
};

int float_class(unsigned char c) {
  if (c >= '0' && c <= '9') return FC_DIGIT;
  switch (c) {
    case '+': case '-': return FC_SIGN;
    case 'e': case 'E': return FC_EXP;
    case '.': return FC_POINT;
    case '\'': return FC_QUOTE;
    default: return FC_OTHER;
  }
}

constexpr size_t kMaxFloatText = 312;

}  // namespace

bool float_syntax(std::string_view text) {
  if (text.size() > kMaxFloatText) return false;
  int state = 0;
  for (unsigned char c : text) {
    state = kFloatStates[state][float_class(c)];
    if (state == 10) return false;
  }
  return kFloatStates[state][FC_END] != 10;
}

double parse_float_text(const void* units, size_t length, int unit, int& error) {
  if (length > kMaxFloatText) {
    error = NUMTEXT_BAD;
    return NAN;
  }
  std::string text;
  text.reserve(length);
  for (size_t i = 0; i < length; i++) {
    uint32_t c = code_unit_at(units, i, unit);
    if (c > 0x7F) {  // only ASCII counts: no code point may pass as a digit by its low byte
      error = NUMTEXT_BAD;
      return NAN;
    }
    text.push_back(c == ',' ? '.' : char(c));
  }
  if (!float_syntax(text)) {
    error = NUMTEXT_BAD;
    return NAN;
  }
  std::erase(text, '\'');
  size_t unread = 0;
  double d = dtoa::text_to_float(text.data(), text.data() + text.size(), 0, &unread);
  if (unread != 0) {
    error = NUMTEXT_BAD;
    return NAN;
  }
  return d;
}

bool parse_money_text(const void* units, size_t length, int unit, MoneyTextParts& parts) {
  if (length < 1) return false;
  const long end = long(length);
  auto at = [&](long i) { return code_unit_at(units, size_t(i), unit); };
  long i = 0;
  parts = MoneyTextParts{};
  if (at(0) == '-' || at(0) == '+') {
    parts.negative = at(0) == '-';
    i = 1;
  }
  if (i < end && is_ascii_letter(at(i))) {
    if (end - i < 5) return false;  // code, "$" and a digit at least
    for (int k = 0; k < 3; k++)
      if (!is_ascii_letter(at(i + k))) return false;
    parts.currency = i;
    i += 3;
    if (at(i) != '$') return false;
  }
  if (i < end && at(i) == '$') {
    if (i + 1 >= end) return false;
    parts.before_digits = i++;
  } else {
    parts.before_digits = i - 1;
  }
  bool any_digit = false;
  for (long k = i; k < end; k++) {
    uint32_t c = at(k);
    bool after_start = k == parts.before_digits + 1;
    bool last = k == end - 1;
    if (c >= '0' && c <= '9') {
      any_digit = true;
    } else if (c == '\'') {
      if (after_start || last || at(k - 1) == '\'' || parts.point >= 0) return false;
    } else if (c == '.') {
      if (after_start || last || at(k - 1) == '\'' || parts.point >= 0) return false;
      parts.point = k;
    } else {
      return false;
    }
  }
  parts.end = end;
  return any_digit;
}

bool parse_number_text(const char* text, size_t length, Cell& target) {
  MoneyTextParts p;
  if (!parse_money_text(text, length, 1, p)) return false;
  return further_type_hooks().money_make_from_parts(target, text, p.negative, int32_t(p.currency),
                                                    int32_t(p.before_digits), int32_t(p.point),
                                                    int32_t(p.end));
}

SeriesUnits series_units(const Cell& value) {
  SeriesBuffer* s = series_buffer(value.node());
  const uint32_t unit = s->unit(), length = s->length();
  const uint32_t head = std::min(value.head_index(), length);
  return {s->head_ptr() + size_t(head) * unit, length - head, int(unit)};
}

SeriesCells series_cells(const Cell& value) {
  SeriesBuffer* s = series_buffer(value.node());
  const uint32_t length = s->length();
  const uint32_t head = std::min(value.head_index(), length);
  return {s->cells_head() + head, length - head};
}

SeriesUnits issue_name_units(const Cell& issue) {
  std::string_view name = symbol::name(issue.word_symbol());
  return {name.data(), name.size(), 1};
}

}  // namespace zem
