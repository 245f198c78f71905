// Float results must be plain IEEE double results: a fused multiply-add would change this sum.
#include <gtest/gtest.h>

namespace {
volatile double a = 0.1, b = 10.0, c = -1.0;
}

TEST(BuildFlags, NoFusedMultiplyAdd) {
  double r = a * b + c;  // 0.1 * 10 rounds to exactly 1.0; fused it would give 5.55e-17
  EXPECT_EQ(r, 0.0);
}
