// Both directions rest on std::to_chars / std::from_chars, which round correctly and never consult
// the locale: to_chars in shortest form gives the shortest digits that read back as the same double,
// with precision it gives n correctly rounded digits; from_chars rounds any digit string correctly.
#include "runtime/dtoa.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace zem::dtoa {

namespace {

constexpr int kMaxDigits = 30;

struct DtoaState {
  char digits[64];  // "-" then the digits, NUL-terminated
  char text[96];    // format_float's result
  std::string scratch;  // text_to_float's normalised digits
};
DtoaState g_dtoa;

FloatDigits special(const char* text, int point, bool negative) {
  return {text, point, negative, static_cast<int>(std::strlen(text))};
}

}  // namespace

FloatDigits float_to_digits(double d, int ndigits, bool dot_zero) {
  bool neg = std::signbit(d);
  if (std::isnan(d)) return special("1.#NaN", kDigitsInfNan, neg);
  if (std::isinf(d)) return special(neg ? "-1.#INF" : "1.#INF", kDigitsInfNan, neg);
  if (d == 0) {
    if (dot_zero) return special(neg ? "-0.0" : "0.0", kDigitsZero, neg);
    return special(neg ? "-0" : "0", kDigitsZero, neg);
  }
  // Scientific form "d.ddde+XX": the digits are the mantissa without its point.
  char sci[64];
  double mag = std::fabs(d);
  std::to_chars_result r =
      ndigits <= 0 ? std::to_chars(sci, sci + sizeof sci, mag, std::chars_format::scientific)
                   : std::to_chars(sci, sci + sizeof sci, mag, std::chars_format::scientific,
                                   std::min(ndigits, kMaxDigits) - 1);
  char* out = g_dtoa.digits + 1;
  int n = 0;
  const char* p = sci;
  for (; p < r.ptr && *p != 'e'; p++)
    if (*p != '.') out[n++] = *p;
  int exp = 0;
  std::from_chars(p + 1 + (p[1] == '+'), r.ptr, exp);
  while (n > 1 && out[n - 1] == '0') n--;
  out[n] = '\0';
  g_dtoa.digits[0] = '-';
  return {out, exp + 1, neg, n};
}

// Layout, with n digits and point position p (value = 0.digits x 10^p):
//   p > 17 or p < -6  exponent form: first digit, ".", the other digits, "e", p - 1
//   0 < p <= 17       the point after p digits, zeros padding the digits up to p
//   -6 <= p <= 0      "0.", -p zeros, the digits
// A mantissa that ends in its point gets a "0" with dot_zero and loses the point without it.
std::string_view format_float(double d, int ndigits, bool dot_zero) {
  FloatDigits f = float_to_digits(d, ndigits, dot_zero);
  if (f.point > kDigitsZero - 1) return f.text;
  char* w = g_dtoa.text;
  auto end_of_mantissa = [&] {
    if (w[-1] != '.') return;
    if (dot_zero) *w++ = '0';
    else w--;
  };
  if (f.negative) *w++ = '-';
  int p = f.point;
  if (p > 17 || p < -6) {
    *w++ = f.text[0];
    *w++ = '.';
    std::memcpy(w, f.text + 1, f.count - 1);
    w += f.count - 1;
    end_of_mantissa();
    *w++ = 'e';
    w = std::to_chars(w, g_dtoa.text + sizeof g_dtoa.text, p - 1).ptr;
  } else if (p > 0) {
    for (int i = 0; i < std::max(p, f.count); i++) {
      if (i == p) *w++ = '.';
      *w++ = i < f.count ? f.text[i] : '0';
    }
    if (p >= f.count) *w++ = '.';
    end_of_mantissa();
  } else {
    *w++ = '0';
    *w++ = '.';
    for (int i = 0; i < -p; i++) *w++ = '0';
    std::memcpy(w, f.text, f.count);
    w += f.count;
  }
  *w = '\0';
  return {g_dtoa.text, static_cast<size_t>(w - g_dtoa.text)};
}

std::string_view format_float_plain(double d, int ndigits) {
  FloatDigits f = float_to_digits(d, ndigits, true);
  if (f.point > kDigitsZero - 1) return f.text;
  // The widest layouts: about 330 zeros before the digits of the smallest doubles, or after those
  // of the largest: a buffer of its own rather than the shared one.
  static std::string plain;
  plain.clear();
  if (f.negative) plain.push_back('-');
  if (f.point > 0) {
    for (int i = 0; i < std::max(f.point, f.count); i++) {
      if (i == f.point) plain.push_back('.');
      plain.push_back(i < f.count ? f.text[i] : '0');
    }
    if (f.point >= f.count) plain += ".0";
  } else {
    plain += "0.";
    plain.append(size_t(-f.point), '0');
    plain.append(f.text, size_t(f.count));
  }
  return plain;
}

namespace {

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char lower(char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// "1.#INF" and "1.#NaN" (any digit, any letter case) at p; answers the text after them or null.
const char* read_special(const char* p, const char* end, double* value) {
  if (end - p < 4 || !is_digit(p[0]) || p[1] != '.' || p[2] != '#') return nullptr;
  const char* word;
  char c = lower(p[3]);
  if (c == 'i') {
    word = "inf";
    *value = std::numeric_limits<double>::infinity();
  } else if (c == 'n') {
    word = "nan";
    *value = std::numeric_limits<double>::quiet_NaN();
  } else {
    return nullptr;
  }
  p += 4;
  for (int i = 1; i < 3 && p < end && lower(*p) == word[i]; i++) p++;
  return p;
}

}  // namespace

double text_to_float(const char* start, const char* end, int extra_exponent, size_t* unread) {
  const char* p = start;
  bool neg = false;
  if (p < end && (*p == '+' || *p == '-')) neg = *p++ == '-';
  double special_value;
  if (const char* after = read_special(p, end, &special_value)) {
    *unread = end - after;
    return neg ? -special_value : special_value;
  }

  // Significant digits without leading zeros; value = digits x 10^exp10.
  std::string& digits = g_dtoa.scratch;
  digits.clear();
  int64_t exp10 = 0;
  bool any = false;
  for (; p < end && is_digit(*p); p++) {
    any = true;
    if (*p != '0' || !digits.empty()) digits.push_back(*p);
  }
  if (p < end && *p == '.') {
    const char* q = p + 1;
    for (; q < end && is_digit(*q); q++) {
      any = true;
      exp10--;
      if (*q != '0' || !digits.empty()) digits.push_back(*q);
    }
    if (any) p = q;
  }
  if (!any) {
    *unread = end - start;
    return 0.0;
  }
  if (p < end && (*p == 'e' || *p == 'E')) {
    const char* q = p + 1;
    bool eneg = false;
    if (q < end && (*q == '+' || *q == '-')) eneg = *q++ == '-';
    if (q < end && is_digit(*q)) {
      int64_t e = 0;
      for (; q < end && is_digit(*q); q++)
        if (e < 1000000000) e = e * 10 + (*q - '0');
      exp10 += eneg ? -e : e;
      p = q;
    }
  }
  *unread = end - p;
  exp10 += extra_exponent;

  const double zero = neg ? -0.0 : 0.0;
  const double inf = neg ? -std::numeric_limits<double>::infinity()
                         : std::numeric_limits<double>::infinity();
  while (!digits.empty() && digits.back() == '0') {
    digits.pop_back();
    exp10++;
  }
  if (digits.empty()) return zero;
  // Magnitudes far outside the double range need no rounding (and keep the exponent small).
  int64_t magnitude = exp10 + static_cast<int64_t>(digits.size());
  if (magnitude > 310) return inf;
  if (magnitude < -330) return zero;
  digits.push_back('e');
  char buf[24];
  digits.append(buf, std::to_chars(buf, buf + sizeof buf, exp10).ptr);
  double v = 0;
  std::from_chars_result r = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (r.ec == std::errc::result_out_of_range) return magnitude > 0 ? inf : zero;
  return neg ? -v : v;
}

}  // namespace zem::dtoa
