// percent! and triple! text: the percent mode of the float text, and the triple's constructor form.
#include <gtest/gtest.h>

#include "datatypes/percent.h"
#include "datatypes/registry.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

class PercentTriple : public ::testing::Test {
 protected:
  void SetUp() override { registry_init(); }
};

TEST_F(PercentTriple, PercentFormsAsHundredths) {
  const struct {
    double fraction;
    const char* text;
  } cases[] = {{0.5, "50%"}, {0.0, "0%"}, {1e-9, "1e-7%"}, {-2.5, "-250%"}, {0.125, "12.5%"}, {1.0 / 3, "33.33333333333%"}};
  for (const auto& c : cases) {
    Cell p{};
    percent::set_float(p, c.fraction);
    int32_t left = 0;
    EXPECT_EQ(test::form_text(p, &left), c.text);
    EXPECT_EQ(left, kNoLimit - int32_t(std::string(c.text).size()));
    EXPECT_EQ(test::mold_text(p), c.text);
  }
  // The two halves of the double make the same value.
  Cell a{}, b{};
  percent::set_float(a, 0.375);
  percent::set_words(b, a.float_high_word(), a.float_low_word());
  EXPECT_EQ(test::mold_text(b), "37.5%");
  EXPECT_EQ(percent::get_float(b), 0.375);
}

TEST_F(PercentTriple, TripleMoldsAsItsConstructor) {
  Cell t{TYPE_TRIPLE, uint32_t(1), uint32_t(-2), uint32_t(3)};
  int32_t left = 0;
  EXPECT_EQ(test::form_text(t, &left), "make triple! [1 -2 3]");
  EXPECT_EQ(left, kNoLimit - 21);
  EXPECT_EQ(test::mold_text(t), "make triple! [1 -2 3]");
  Cell extremes{TYPE_TRIPLE, uint32_t(INT32_MIN), 0u, uint32_t(INT32_MAX)};
  EXPECT_EQ(test::mold_text(extremes), "make triple! [-2147483648 0 2147483647]");
}

}  // namespace
}  // namespace zem
