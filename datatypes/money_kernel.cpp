// The decimal kernel of money!: digit-string arithmetic on fixed 22-digit amounts, with exact
// overflow detection (a result that needs an 18th integer digit is a fault, one that fits never is).
#include "datatypes/money_kernel.h"

#include <algorithm>
#include <cstring>

namespace zem::money {

namespace {

// Digits of the magnitude as a number of units (0.00001) in a uint64 when it has at most 18.
uint64_t units_of(const Amount& a, int from) {
  uint64_t v = 0;
  for (int i = from; i < kDigits; i++) v = v * 10 + a.digit[i];
  return v;
}

void set_units(Amount& a, uint64_t v) {
  for (int i = kDigits - 1; i >= 0; i--) {
    a.digit[i] = uint8_t(v % 10);
    v /= 10;
  }
}

// Magnitude sum; false on a carry out of the first digit.
bool add_magnitudes(const Amount& a, const Amount& b, Amount& out) {
  int carry = 0;
  for (int i = kDigits - 1; i >= 0; i--) {
    int s = a.digit[i] + b.digit[i] + carry;
    carry = s >= 10;
    out.digit[i] = uint8_t(carry ? s - 10 : s);
  }
  return carry == 0;
}

// a - b for magnitudes with a >= b.
void subtract_magnitudes(const Amount& a, const Amount& b, Amount& out) {
  int borrow = 0;
  for (int i = kDigits - 1; i >= 0; i--) {
    int d = a.digit[i] - b.digit[i] - borrow;
    borrow = d < 0;
    out.digit[i] = uint8_t(borrow ? d + 10 : d);
  }
}

void normalise_zero(Amount& a) {
  if (is_zero(a)) a.negative = false;
}

// The signed sum of a and b, where b's sign is given apart (subtraction flips it).
Fault add_signed(Amount& a, const Amount& b, bool b_negative) {
  if (is_zero(b)) return Fault::none;
  Amount r;
  if (is_zero(a) || a.negative == b_negative) {
    if (!add_magnitudes(a, b, r)) return Fault::overflow;
    r.negative = b_negative;  // a is zero or has the same sign
    a = r;  // b is not zero, so neither is the sum
    return Fault::none;
  } else if (compare_magnitudes(a, b) >= 0) {
    subtract_magnitudes(a, b, r);
    r.negative = a.negative;
  } else {
    subtract_magnitudes(b, a, r);
    r.negative = b_negative;
  }
  normalise_zero(r);
  a = r;
  return Fault::none;
}

// Long division of the big-endian digits `num` (n of them) by the magnitude of b, which is not
// zero: the quotient's digits into q (n of them, big-endian), the remainder into rem.
void long_divide(const uint8_t* num, int n, const Amount& b, uint8_t* q, Amount& rem) {
  const int first = kDigits - significant_digits(b);
  if (kDigits - first <= 18) {
    // The running remainder stays below the divisor, so ten times it plus a digit fits in 64 bits.
    const uint64_t divisor = units_of(b, first);
    uint64_t r = 0;
    for (int i = 0; i < n; i++) {
      r = r * 10 + num[i];
      q[i] = uint8_t(r / divisor);
      r %= divisor;
    }
    set_units(rem, r);
    return;
  }
  // A wide divisor: the running remainder as digits, one spare digit at the front, and repeated
  // subtraction for each quotient digit.
  uint8_t r[kDigits + 1] = {};
  uint8_t d[kDigits + 1] = {};
  std::memcpy(d + 1, b.digit, kDigits);
  for (int i = 0; i < n; i++) {
    std::memmove(r, r + 1, kDigits);
    r[kDigits] = num[i];
    uint8_t count = 0;
    while (!std::lexicographical_compare(r, r + kDigits + 1, d, d + kDigits + 1)) {
      int borrow = 0;
      for (int k = kDigits; k >= 0; k--) {
        int v = r[k] - d[k] - borrow;
        borrow = v < 0;
        r[k] = uint8_t(borrow ? v + 10 : v);
      }
      count++;
    }
    q[i] = count;
  }
  std::memcpy(rem.digit, r + 1, kDigits);
}

}  // namespace

bool is_zero(const Amount& a) {
  // Every arithmetic call asks this of both operands: test the digits eight bytes at a time.
  static_assert(kDigits == 22);
  uint64_t w[3] = {};
  std::memcpy(w, a.digit, kDigits);
  return (w[0] | w[1] | w[2]) == 0;
}

int sign_of(const Amount& a) {
  if (is_zero(a)) return 0;
  return a.negative ? -1 : 1;
}

int significant_digits(const Amount& a) {
  for (int i = 0; i < kDigits; i++)
    if (a.digit[i]) return kDigits - i;
  return 1;
}

int compare_magnitudes(const Amount& a, const Amount& b) {
  int c = std::memcmp(a.digit, b.digit, kDigits);
  return c < 0 ? -1 : c > 0;
}

int compare(const Amount& a, const Amount& b) {
  const int sa = sign_of(a), sb = sign_of(b);
  if (sa != sb || sa == 0) return sa < sb ? -1 : sa > sb;
  // Two negatives: the larger magnitude is the smaller value.
  const int m = compare_magnitudes(a, b);
  return sa < 0 ? -m : m;
}

Fault add(Amount& a, const Amount& b) { return add_signed(a, b, b.negative); }

Fault subtract(Amount& a, const Amount& b) { return add_signed(a, b, !b.negative); }

Fault multiply(Amount& a, const Amount& b) {
  if (is_zero(a) || is_zero(b)) {
    a = Amount{};
    return Fault::none;
  }
  const int sa = significant_digits(a), sb = significant_digits(b);
  if (sa + sb > kProductDigits) return Fault::overflow;
  // Columns little-endian: column k holds units^2 of 10^k. The product has ten fraction digits.
  uint32_t col[2 * kDigits] = {};
  for (int i = 0; i < sa; i++) {
    const uint32_t x = a.digit[kDigits - 1 - i];
    if (!x) continue;
    for (int j = 0; j < sb; j++) col[i + j] += x * b.digit[kDigits - 1 - j];
  }
  uint32_t carry = 0;
  for (uint32_t& c : col) {
    c += carry;
    carry = c / 10;
    c %= 10;
  }
  // Dropping the five extra decimals leaves columns 5..26 as the digits; anything above overflows.
  for (int k = kFracDigits + kDigits; k < 2 * kDigits; k++)
    if (col[k]) return Fault::overflow;
  Amount r;
  for (int i = 0; i < kDigits; i++) r.digit[kDigits - 1 - i] = uint8_t(col[kFracDigits + i]);
  r.negative = a.negative != b.negative;
  normalise_zero(r);
  a = r;
  return Fault::none;
}

Fault divide(Amount& a, const Amount& b) {
  if (is_zero(b)) return Fault::zero_divide;
  if (is_zero(a)) return Fault::none;
  // The dividend in units times 100000: the integer quotient is the quotient with five decimals.
  constexpr int n = kDigits + kFracDigits;
  uint8_t num[n] = {};
  std::memcpy(num, a.digit, kDigits);
  uint8_t q[n];
  Amount rem;
  long_divide(num, n, b, q, rem);
  for (int i = 0; i < kFracDigits; i++)
    if (q[i]) return Fault::overflow;
  Amount r;
  std::memcpy(r.digit, q + kFracDigits, kDigits);
  r.negative = a.negative != b.negative;
  normalise_zero(r);
  a = r;
  return Fault::none;
}

Fault remainder(Amount& a, const Amount& b) {
  if (is_zero(b)) return Fault::zero_divide;
  if (is_zero(a)) return Fault::none;
  uint8_t q[kDigits];
  Amount rem;
  long_divide(a.digit, kDigits, b, q, rem);
  rem.negative = a.negative;
  normalise_zero(rem);
  a = rem;
  return Fault::none;
}

Amount amount_of_integer(int64_t n) {
  Amount a;
  a.negative = n < 0;
  uint64_t m = n < 0 ? uint64_t(0) - uint64_t(n) : uint64_t(n);
  for (int i = kIntDigits - 1; i >= 0 && m; i--) {
    a.digit[i] = uint8_t(m % 10);
    m /= 10;
  }
  return a;
}

bool to_int32(const Amount& a, int32_t& out) {
  for (int i = 0; i < kIntDigits - 10; i++)
    if (a.digit[i]) return false;
  int64_t v = 0;
  for (int i = kIntDigits - 10; i < kIntDigits; i++) v = v * 10 + a.digit[i];
  if (a.negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  return true;
}

std::string plain_text(const Amount& a, int fraction) {
  std::string s;
  if (sign_of(a) < 0) s.push_back('-');
  int i = 0;
  while (i < kIntDigits - 1 && a.digit[i] == 0) i++;
  for (; i < kIntDigits; i++) s.push_back(char('0' + a.digit[i]));
  fraction = std::min(fraction, kFracDigits);
  if (fraction > 0) {
    s.push_back('.');
    for (int k = 0; k < fraction; k++) s.push_back(char('0' + a.digit[kIntDigits + k]));
  }
  return s;
}

bool from_plain_text(std::string_view text, Amount& out) {
  Amount a;
  size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) a.negative = text[i++] == '-';
  const size_t digits_start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') i++;
  std::string_view whole = text.substr(digits_start, i - digits_start);
  std::string_view fraction;
  if (i < text.size() && text[i] == '.') {
    const size_t f = ++i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') i++;
    fraction = text.substr(f, i - f);
    if (fraction.empty()) return false;
  }
  if (i != text.size() || whole.empty() || fraction.size() > size_t(kFracDigits)) return false;
  while (whole.size() > 1 && whole[0] == '0') whole.remove_prefix(1);
  if (whole.size() > size_t(kIntDigits)) return false;
  for (size_t k = 0; k < whole.size(); k++)
    a.digit[kIntDigits - whole.size() + k] = uint8_t(whole[k] - '0');
  for (size_t k = 0; k < fraction.size(); k++) a.digit[kIntDigits + k] = uint8_t(fraction[k] - '0');
  normalise_zero(a);
  out = a;
  return true;
}

}  // namespace zem::money
