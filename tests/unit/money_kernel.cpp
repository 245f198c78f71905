// The money digit kernel against python3's decimal module (tests/data/money_kernel.txt), and the
// kernel's own text and integer conversions.
#include "datatypes/money_kernel.h"

#include <gtest/gtest.h>

#include "tests/unit/fixture_lines.h"

namespace zem::money {
namespace {

Amount parse(const std::string& text) {
  Amount a;
  EXPECT_TRUE(from_plain_text(text, a)) << text;
  return a;
}

TEST(MoneyKernel, AgreesWithDecimal) {
  const auto rows = test::fixture_lines("money_kernel.txt");
  ASSERT_GE(rows.size(), 10000u);
  for (const auto& row : rows) {
    ASSERT_EQ(row.size(), 4u);
    Amount a = parse(row[1]);
    const Amount before = a, b = parse(row[2]);
    const std::string& op = row[0];
    Fault f = op == "add"   ? add(a, b)
              : op == "sub" ? subtract(a, b)
              : op == "mul" ? multiply(a, b)
              : op == "div" ? divide(a, b)
                            : remainder(a, b);
    std::string got = f == Fault::overflow      ? "overflow"
                      : f == Fault::zero_divide ? "zero-divide"
                                                : plain_text(a, 5);
    EXPECT_EQ(got, row[3]) << op << " " << row[1] << " " << row[2];
    if (f != Fault::none) EXPECT_EQ(plain_text(a, 5), plain_text(before, 5)) << "a fault leaves a as it was";
  }
}

TEST(MoneyKernel, CompareOrdersNegativesByMagnitude) {
  // Two negatives of different magnitude, including ones that differ only in the last digits.
  const char* ascending[] = {"-1000.00000", "-999.99999", "-999.99998", "-2.5", "-2.05",
                             "0",           "0.00001",    "2.05",       "2.5",  "99999999999999999.99999"};
  for (size_t i = 0; i < std::size(ascending); i++)
    for (size_t j = 0; j < std::size(ascending); j++)
      EXPECT_EQ(compare(parse(ascending[i]), parse(ascending[j])), i < j ? -1 : i > j ? 1 : 0)
          << ascending[i] << " " << ascending[j];
  Amount negative_zero = parse("0");
  negative_zero.negative = true;
  EXPECT_EQ(compare(negative_zero, parse("0")), 0);
  EXPECT_EQ(sign_of(negative_zero), 0);
}

TEST(MoneyKernel, TextAndIntegers) {
  EXPECT_EQ(plain_text(amount_of_integer(-2147483648LL), 2), "-2147483648.00");
  EXPECT_EQ(plain_text(parse("0012.30"), 0), "12");
  EXPECT_EQ(plain_text(parse("-0.5"), 1), "-0.5");
  for (const char* bad : {"", "-", "1.", ".5", "1.123456", "123456789012345678", "1e5", "1,5", "--1"}) {
    Amount a;
    EXPECT_FALSE(from_plain_text(bad, a)) << bad;
  }
  int32_t v = 0;
  EXPECT_TRUE(to_int32(parse("-2147483648.99999"), v));
  EXPECT_EQ(v, INT32_MIN);
  EXPECT_TRUE(to_int32(parse("2147483647.5"), v));
  EXPECT_EQ(v, INT32_MAX);
  EXPECT_FALSE(to_int32(parse("2147483648"), v));
  EXPECT_FALSE(to_int32(parse("-2147483649"), v));
  EXPECT_FALSE(to_int32(parse("10000000000"), v));
}

}  // namespace
}  // namespace zem::money
