// Float to text: shortest digits, layout of the formatted number, specials.
#include "runtime/dtoa.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>

namespace zem::dtoa {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

std::string mold(double d) { return std::string(format_float(d, 0, true)); }

double read(std::string_view s, int extra = 0, size_t* unread = nullptr) {
  size_t left = 0;
  double d = text_to_float(s.data(), s.data() + s.size(), extra, &left);
  if (unread) *unread = left;
  else EXPECT_EQ(left, 0u) << s;
  return d;
}

uint64_t bits(double d) { return std::bit_cast<uint64_t>(d); }

TEST(FormatFloat, Layout) {
  struct Case {
    double d;
    int digits;
    bool dot_zero;
    const char* text;
  };
  const Case cases[] = {
      {0.1, 0, true, "0.1"},
      {0.1 + 0.2, 0, true, "0.30000000000000004"},
      {1.7976931348623157e308, 0, true, "1.7976931348623157e308"},
      {5e-324, 0, true, "5.0e-324"},
      {-0.0, 0, true, "-0.0"},
      {0.0, 0, true, "0.0"},
      {0.0, 0, false, "0"},
      {-0.0, 0, false, "-0"},
      {100.0, 0, true, "100.0"},
      {1e16, 0, true, "10000000000000000.0"},
      {1e17, 0, true, "1.0e17"},
      {1e17, 0, false, "1e17"},
      {1e-7, 0, true, "0.0000001"},
      {1e-8, 0, true, "1.0e-8"},
      {1.5e300, 0, true, "1.5e300"},
      {-2.5, 0, true, "-2.5"},
      {12.5, 6, false, "12.5"},
      {30.0, 6, false, "30"},
      {123456789.0, 6, false, "123457000"},
      {2.0 / 3.0, 6, false, "0.666667"},
      {1234.5, 0, true, "1234.5"},
      {123456789012345680.0, 0, true, "1.2345678901234568e17"},
      {0.000001234, 0, true, "0.000001234"},
      {-1.25e-20, 0, true, "-1.25e-20"},
      {kInf, 0, true, "1.#INF"},
      {-kInf, 0, false, "-1.#INF"},
      {std::nan(""), 0, true, "1.#NaN"},
      {-std::nan(""), 0, true, "1.#NaN"},
  };
  for (const Case& c : cases) {
    std::string_view s = format_float(c.d, c.digits, c.dot_zero);
    EXPECT_EQ(s, c.text);
    EXPECT_EQ(s.data()[s.size()], '\0');
  }
}

TEST(FloatToDigits, PointSignAndSpecials) {
  FloatDigits f = float_to_digits(-1234.5, 0, true);
  EXPECT_STREQ(f.text, "12345");
  EXPECT_EQ(f.point, 4);
  EXPECT_TRUE(f.negative);
  EXPECT_EQ(f.count, 5);
  f = float_to_digits(0.00123, 2, true);
  EXPECT_STREQ(f.text, "12");
  EXPECT_EQ(f.point, -2);
  f = float_to_digits(1.0 / 3.0, 30, true);  // exact digits of the double, correctly rounded
  EXPECT_STREQ(f.text, "333333333333333314829616256247");
  f = float_to_digits(0.5, 40, true);
  EXPECT_STREQ(f.text, "5");  // trailing zeros dropped
  f = float_to_digits(kInf, 0, true);
  EXPECT_STREQ(f.text, "1.#INF");
  EXPECT_EQ(f.point, kDigitsInfNan);
  f = float_to_digits(-0.0, 0, true);
  EXPECT_STREQ(f.text, "-0.0");
  EXPECT_EQ(f.point, kDigitsZero);
}

TEST(TextToFloat, ReadsAndRoundsCorrectly) {
  EXPECT_EQ(read("0.30000000000000004"), 0.1 + 0.2);
  EXPECT_EQ(read("1e309"), kInf);
  EXPECT_EQ(read("-1e309"), -kInf);
  EXPECT_TRUE(std::isnan(read("1.#NaN")));
  EXPECT_EQ(read("1.#INF"), kInf);
  EXPECT_EQ(read("-1.#INF"), -kInf);
  EXPECT_EQ(read("1.#inf"), kInf);
  EXPECT_EQ(read("3e-324"), 5e-324);  // the nearest double, not zero
  EXPECT_EQ(bits(read("2e-324")), bits(0.0));
  EXPECT_EQ(bits(read("-1e-400")), bits(-0.0));
  EXPECT_EQ(bits(read("-0")), bits(-0.0));
  EXPECT_EQ(read("1.7976931348623157e308"), 1.7976931348623157e308);
  EXPECT_EQ(read("+12.5E+1"), 125.0);
  EXPECT_EQ(read(".5"), 0.5);
  EXPECT_EQ(read("5."), 5.0);
  EXPECT_EQ(read("50", -2), 0.5);
  EXPECT_EQ(read("12.5", -2), 0.125);
  EXPECT_EQ(read("1e99999999999999999999"), kInf);
  EXPECT_EQ(read("0e99999999999999999999"), 0.0);
  EXPECT_EQ(read("0.000000000000000000000000000000000000001e39"), 1.0);
  EXPECT_EQ(read(std::string(400, '0') + "1.5"), 1.5);
  EXPECT_EQ(read("1" + std::string(400, '0') + "e-400"), 1.0);

  size_t unread = 0;
  EXPECT_EQ(read("1.5e", 0, &unread), 1.5);  // a bare "e" is not an exponent
  EXPECT_EQ(unread, 1u);
  EXPECT_EQ(read("2.5x7", 0, &unread), 2.5);
  EXPECT_EQ(unread, 2u);
  EXPECT_EQ(read("abc", 0, &unread), 0.0);
  EXPECT_EQ(unread, 3u);
  EXPECT_EQ(read("-.", 0, &unread), 0.0);
  EXPECT_EQ(unread, 2u);
}

// Calls `row` with the fields of every line of a fixture but its comments; answers the rows read.
template <class F>
int for_each_row(const char* name, F&& row) {
  std::ifstream in(std::string(std::getenv("ZEM_TEST_DATA")) + "/" + name);
  EXPECT_TRUE(in) << name;
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    SCOPED_TRACE(line.substr(0, 80));
    std::istringstream fields(line);
    row(fields);
    rows++;
  }
  return rows;
}

// The digits of python3's "%.{n-1}e" text ("1.23450e+07" -> "12345", point 8).
void python_digits(const std::string& sci, std::string& digits, int& point) {
  size_t e = sci.find('e');
  digits.clear();
  for (size_t i = 0; i < e; i++)
    if (sci[i] != '.' && sci[i] != '-') digits += sci[i];
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  point = std::stoi(sci.substr(e + 1)) + 1;
}

// A few thousand doubles with python3's shortest repr and its 6- and 17-digit forms.
TEST(FloatFixture, DigitsAgreeWithPython) {
  int rows = for_each_row("float_digits.txt", [](std::istringstream& f) {
    std::string hex, repr, six, seventeen;
    f >> hex >> repr >> six >> seventeen;
    double d = std::bit_cast<double>(std::stoull(hex, nullptr, 16));
    // Shortest digits read back as the same double, and match python's repr.
    std::string s = mold(d);
    EXPECT_EQ(bits(read(s)), bits(d)) << s;
    EXPECT_EQ(bits(read(repr)), bits(d));
    std::string want;
    int point;
    size_t e = repr.find('e');
    std::string mant = repr.substr(0, e);
    int exp = e == std::string::npos ? 0 : std::stoi(repr.substr(e + 1));
    // repr mantissa "123.45" -> digits "12345", point 3 + exp
    std::string digits;
    size_t dot = mant.find('.');
    std::string intpart = mant.substr(mant[0] == '-', dot == std::string::npos ? std::string::npos
                                                                                 : dot - (mant[0] == '-'));
    std::string frac = dot == std::string::npos ? "" : mant.substr(dot + 1);
    digits = intpart + frac;
    point = static_cast<int>(intpart.size()) + exp;
    size_t lead = digits.find_first_not_of('0');
    point -= static_cast<int>(lead);
    digits = digits.substr(lead);
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
    FloatDigits fd = float_to_digits(d, 0, true);
    EXPECT_EQ(fd.text, digits);
    EXPECT_EQ(fd.point, point);
    EXPECT_EQ(fd.negative, d < 0);

    for (auto [n, text] : {std::pair<int, std::string>{6, six}, {17, seventeen}}) {
      python_digits(text, want, point);
      fd = float_to_digits(d, n, true);
      EXPECT_EQ(fd.text, want) << n;
      EXPECT_EQ(fd.point, point) << n;
    }
  });
  EXPECT_GT(rows, 3000);
}

// Ties, near-ties, long and far-out decimal texts with python3's float() of them.
TEST(FloatFixture, ReadingAgreesWithPython) {
  int rows = for_each_row("float_read.txt", [](std::istringstream& f) {
    std::string text, hex;
    int extra;
    f >> text >> extra >> hex;
    EXPECT_EQ(bits(read(text, extra)), std::stoull(hex, nullptr, 16));
  });
  EXPECT_GT(rows, 1000);
}

}  // namespace
}  // namespace zem::dtoa
