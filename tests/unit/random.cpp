// The generator against an independent reference (tests/data/random_reference.py wrote the
// fixture), integer ranges, the secure source and the start-up state.
#include "services/random.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/startup.h"

namespace zem {
namespace {

std::string data_path(const char* name) {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  return std::string(dir ? dir : "tests/data") + "/" + name;
}

TEST(Random, MatchesTheReferenceSequences) {
  random::init();
  std::ifstream in(data_path("random_reference.txt"));
  ASSERT_TRUE(in) << data_path("random_reference.txt");
  int lines = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    std::istringstream s(line);
    std::string kind;
    int64_t seed;
    s >> kind >> seed;
    random::seed(static_cast<int32_t>(seed));
    if (kind == "seq") {
      int first, count;
      s >> first >> count;
      for (int i = 0; i < first; ++i) random::next_u32();
      for (int i = 0; i < count; ++i) {
        int64_t expected;
        s >> expected;
        EXPECT_EQ(random::next_u32(), expected) << line << " at " << first + i;
      }
    } else {
      int64_t n;
      s >> n;
      for (int64_t expected; s >> expected;) {
        EXPECT_EQ(random::integer_upto(false, static_cast<int32_t>(n)), expected) << line;
      }
    }
  }
  EXPECT_GT(lines, 20);
}

TEST(Random, FreshStartIsTheSequenceOfTheStartSeed) {
  char prog[] = "zem";
  char* argv[] = {prog, nullptr};
  runtime_init(1, argv);
  int32_t first[5];
  for (int32_t& v : first) v = random::next_u32();
  random::seed(random::kStartSeed);
  for (int32_t v : first) EXPECT_EQ(random::next_u32(), v);
  EXPECT_EQ(first[0], 1573102752);  // also in the reference fixture
  EXPECT_EQ(random::hash_seed(), random::kHashSeed);
}

TEST(Random, IntegerUptoStaysInRangeAndCoversIt) {
  random::init();
  for (bool secure : {false, true}) {
    for (int32_t n : {0, 1, -1, 2, -3, 7, 1000}) {
      std::set<int32_t> seen;
      for (int i = 0; i < 2000; ++i) {
        int32_t r = random::integer_upto(secure, n);
        if (n > 0) {
          ASSERT_TRUE(r >= 1 && r <= n) << r;
        } else if (n < 0) {
          ASSERT_TRUE(r >= n && r <= -1) << r;
        } else {
          ASSERT_EQ(r, 0);
        }
        seen.insert(r);
      }
      if (n != 0 && std::abs(n) <= 7) {
        EXPECT_EQ(seen.size(), static_cast<size_t>(std::abs(n)));
      }
    }
    for (int i = 0; i < 100; ++i) {
      EXPECT_LT(random::integer_upto(secure, INT32_MIN), 0);
    }
  }
}

TEST(Random, SecureSourceIsNonNegativeAndVaries) {
  std::set<int32_t> seen;
  for (int i = 0; i < 64; ++i) {
    int32_t v = random::secure_random();
    EXPECT_GE(v, 0);
    seen.insert(v);
  }
  EXPECT_GT(seen.size(), 60u);
}

// Chi-square over a few million draws per range and source, in at most 1000 equal classes of
// values. 3 * 2^29 is where a plain remainder without rejection would make the lower third of the
// range twice as likely as the rest.
TEST(Random, IntegerUptoIsUniform) {
  random::init();
  constexpr int kDraws = 2000000;
  for (bool secure : {false, true}) {
    for (int32_t n : {3, 7, 1000, 1610612736, 2147483647}) {
      const int classes = n < 1000 ? n : 1000;
      std::vector<int64_t> count(static_cast<size_t>(classes));
      for (int i = 0; i < kDraws; ++i) {
        const int64_t r = random::integer_upto(secure, n);
        ASSERT_TRUE(r >= 1 && r <= n) << r;
        count[static_cast<size_t>((r - 1) * classes / n)]++;
      }
      double chi2 = 0;
      const double expected = double(kDraws) / classes;  // classes of equal size up to one value
      for (int64_t c : count) chi2 += (double(c) - expected) * (double(c) - expected) / expected;
      // Wilson-Hilferty: the chi-square quantile for p = 1e-6 (z = 4.753).
      const double df = classes - 1, z = 4.753;
      const double bound = df * std::pow(1 - 2 / (9 * df) + z * std::sqrt(2 / (9 * df)), 3);
      EXPECT_LT(chi2, bound) << "n " << n << (secure ? " secure" : " twister");
    }
  }
}

}  // namespace
}  // namespace zem
