// Text to number: integers, floats and money amounts from string code units of every width.
#include "evaluator/number_text.h"

#include "datatypes/type_hooks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace zem {
namespace {

int32_t parse_int(const std::u32string& s, int& err, int unit) {
  err = 0;
  if (unit == 4) return parse_integer_text(s.data(), s.size(), 4, err);
  if (unit == 2) {
    std::u16string w(s.begin(), s.end());
    return parse_integer_text(w.data(), w.size(), 2, err);
  }
  std::string n(s.begin(), s.end());
  return parse_integer_text(n.data(), n.size(), 1, err);
}

TEST(NumberText, Integers) {
  struct Case { std::u32string text; int32_t value; int err; } cases[] = {
      {U"1'000'000", 1000000, 0}, {U"'5", 5, 0},          {U"+7", 7, 0},
      {U"-2147483648", INT32_MIN, 0}, {U"2147483647", INT32_MAX, 0}, {U"-0", 0, 0},
      {U"5''", 5, 0},
      {U"-21474836480", 0, NUMTEXT_OVERFLOW}, {U"2147483648", 0, NUMTEXT_OVERFLOW},
      {U"-2147483649", 0, NUMTEXT_OVERFLOW},
      {U"12a", 0, NUMTEXT_BAD}, {U" 1", 0, NUMTEXT_BAD}, {U"1 ", 0, NUMTEXT_BAD},
      {U"1.0", 0, NUMTEXT_BAD}, {U"", 0, NUMTEXT_BAD},  {U"-", 0, NUMTEXT_BAD},
      {U"'", 0, NUMTEXT_BAD},   {U"--1", 0, NUMTEXT_BAD}, {U"+-1", 0, NUMTEXT_BAD},
      {U"\u0661", 0, NUMTEXT_BAD},  // ARABIC-INDIC DIGIT ONE is no digit here
      {U"\uFF11", 0, NUMTEXT_BAD},  // FULLWIDTH DIGIT ONE
  };
  for (const auto& c : cases) {
    for (int unit : {1, 2, 4}) {
      if (unit == 1 && c.text.find_first_of(U"\u0661\uFF11") != std::u32string::npos) continue;
      int err;
      int32_t v = parse_int(c.text, err, unit);
      EXPECT_EQ(err, c.err) << "unit " << unit << " case " << std::string(c.text.begin(), c.text.end());
      if (c.err == 0) {
        EXPECT_EQ(v, c.value);
      }
    }
  }
}

TEST(NumberText, FloatSyntax) {
  const std::pair<const char*, bool> cases[] = {
      {"1", true},       {"-1", true},      {"+1.5", true},  {"1.", true},      {".5", true},
      {"-.5", true},     {"1.5e3", true},   {"1.5E-3", true}, {"1e+10", true},  {"1'000.5", true},
      {"1.5'5", true},   {"1'", true},
      {"--1", false},    {"+-1", false},    {"-+1", false},  {"", false},       {"-", false},
      {".", false},      {"-.", false},     {"1.5e", false}, {"1e+", false},    {"e5", false},
      {"1''0", false},   {"'1", false},     {"1.2.3", false}, {"1e5.0", false}, {"1 ", false},
      {"1e5'", false},   {"1.#INF", false},
  };
  for (auto [text, ok] : cases) EXPECT_EQ(float_syntax(text), ok) << text;
  EXPECT_TRUE(float_syntax(std::string(312, '1')));
  EXPECT_FALSE(float_syntax(std::string(313, '1')));
}

double parse_float(const std::u32string& s, int& err) {
  err = 0;
  return parse_float_text(s.data(), s.size(), 4, err);
}

TEST(NumberText, Floats) {
  struct Case { std::u32string text; double value; } ok[] = {
      {U"1,5", 1.5}, {U"1'000.5", 1000.5}, {U"-2.5e-3", -2.5e-3}, {U"0.30000000000000004", 0.1 + 0.2},
      {U"1e400", INFINITY}, {U"-1e400", -INFINITY}, {U"1e-400", 0.0}, {U"+.5", 0.5},
      {U"2.2250738585072011e-308", 2.2250738585072011e-308}, {U"9007199254740993", 9007199254740992.0},
  };
  for (const auto& c : ok) {
    int err;
    EXPECT_EQ(parse_float(c.text, err), c.value) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(err, 0);
  }
  const std::u32string bad[] = {U"", U"abc", U"1.5e", U"--1", U"1,5,5", U"\u0661.5", U"\u0131",
                                std::u32string(313, U'1'), U"1.#INF"};
  for (const auto& s : bad) {
    int err;
    EXPECT_TRUE(std::isnan(parse_float(s, err))) << std::string(s.begin(), s.end());
    EXPECT_EQ(err, NUMTEXT_BAD);
  }
  int err = 0;
  std::string long_ok(300, '1');
  EXPECT_EQ(parse_float_text(long_ok.data(), long_ok.size(), 1, err), 1.1111111111111111e299);
  EXPECT_EQ(err, 0);
}

TEST(NumberText, Money) {
  struct Case { std::string text; bool negative; long currency, before, point; } cases[] = {
      {"$1.50", false, -1, 0, 2},
      {"-$1'000.00", true, -1, 1, 7},
      {"USD$1.00", false, 0, 3, 5},
      {"+EUR$3", false, 1, 4, -1},
      {"12", false, -1, -1, -1},
      {"-12", true, -1, 0, -1},
  };
  for (const auto& c : cases) {
    MoneyTextParts p;
    ASSERT_TRUE(parse_money_text(c.text.data(), c.text.size(), 1, p)) << c.text;
    EXPECT_EQ(p.negative, c.negative) << c.text;
    EXPECT_EQ(p.currency, c.currency) << c.text;
    EXPECT_EQ(p.before_digits, c.before) << c.text;
    EXPECT_EQ(p.point, c.point) << c.text;
    EXPECT_EQ(p.end, long(c.text.size())) << c.text;
  }
  const char* bad[] = {"USD1.00", "$.5", "1.'5", "1''0", "1.",   "",      "$",  "-",
                       "US$1",    "USD$", "'1",  "$'1",  "1'",   "1.2.3", "1a", "U1D$1"};
  for (std::string text : bad) {
    MoneyTextParts p;
    EXPECT_FALSE(parse_money_text(text.data(), text.size(), 1, p)) << text;
  }
}

TEST(NumberText, MoneyGoesToTheMoneyType) {
  struct Seen { bool negative; int32_t currency, start, point, end; };
  static Seen seen;
  static bool accept;
  auto& hook = further_type_hooks().money_make_from_parts;
  hook.fn = [](Cell&, const char*, bool negative, int32_t currency, int32_t start, int32_t point,
               int32_t end) {
    seen = {negative, currency, start, point, end};
    return accept;
  };
  Cell target{};
  accept = true;
  std::string text = "-USD$1'000.25";
  EXPECT_TRUE(parse_number_text(text.data(), text.size(), target));
  EXPECT_TRUE(seen.negative);
  EXPECT_EQ(seen.currency, 1);
  EXPECT_EQ(seen.start, 4);
  EXPECT_EQ(seen.point, 10);
  EXPECT_EQ(seen.end, 13);
  accept = false;  // the money type refuses the digits
  EXPECT_FALSE(parse_number_text(text.data(), text.size(), target));
  EXPECT_FALSE(parse_number_text("$.5", 3, target));
  hook.reset();
}

}  // namespace
}  // namespace zem
