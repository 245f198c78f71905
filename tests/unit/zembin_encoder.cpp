// The Zembin encoder against buffers built by hand (tests/data/zembin/gen_fixtures.py), and its
// refusals: values no codec carries, nesting past the limit, and a clean state after either.
#include "services/zembin/encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "memory_fixture.h"
#include "support_values.h"

namespace zem {
namespace {

struct Fixture {
  std::string name, form, source, expected;
};

std::vector<Fixture> fixtures() {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  std::ifstream in(std::string(dir ? dir : "tests/data") + "/zembin/fixtures.txt");
  std::vector<Fixture> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> f;
    size_t at = 0;
    for (size_t tab; (tab = line.find('\t', at)) != std::string::npos; at = tab + 1)
      f.push_back(line.substr(at, tab - at));
    f.push_back(line.substr(at));
    if (f.size() != 4) continue;
    for (size_t nl; (nl = f[2].find("\\n")) != std::string::npos;) f[2].replace(nl, 2, "\n");
    rows.push_back({f[0], f[1], f[2], f[3]});
  }
  return rows;
}

std::string hex(const Cell& binary) {
  std::string s;
  const uint8_t* p = binary::rs_head(binary);
  char buf[4];
  for (uint32_t i = 0, n = binary::rs_length(binary); i < n; ++i) {
    snprintf(buf, sizeof buf, i ? " %02X" : "%02X", p[i]);
    s += buf;
  }
  return s;
}

// "??" in the expected text matches any byte.
bool matches(const std::string& expected, const std::string& actual) {
  if (expected.size() != actual.size()) return false;
  for (size_t i = 0; i < expected.size(); ++i)
    if (expected[i] != '?' && expected[i] != actual[i]) return false;
  return true;
}

std::string encode_source(const std::string& source, bool compact, Err* error = nullptr) {
  bool failed = false;
  Cell b = test::eval_text("system/codecs/zembin/encode* do [" + source + "] " +
                               (compact ? "true" : "false"),
                           &failed, error);
  if (failed || !b.is(TYPE_BINARY)) return "failed";
  return hex(b);
}

class ZembinEncoder : public testing::RuntimeTest<StartLayer::library> {};

TEST_F(ZembinEncoder, HandBuiltBuffers) {
  std::vector<Fixture> rows = fixtures();
  ASSERT_GT(rows.size(), 20u) << "tests/data/zembin/fixtures.txt";
  for (const Fixture& f : rows) {
    std::string actual = encode_source(f.source, f.form == "compact");
    EXPECT_TRUE(matches(f.expected, actual)) << f.name << "\n expected " << f.expected
                                             << "\n   actual " << actual;
  }
}

TEST_F(ZembinEncoder, RefusalsLeaveACleanState) {
  const std::string before = encode_source("s: \"ab\" reduce [s s]", true);
  struct Case {
    const char* source;
    Err error;
  };
  const Case cases[] = {
      {"null-handle", Err::access_no_codec},
      {"reduce [1 \"x\" null-handle]", Err::access_no_codec},
      {":shift-right", Err::access_no_codec},  // a routine!
      {"b: copy [] loop 1000 [b: reduce [b]] b", Err::internal_too_deep},
  };
  for (const Case& c : cases) {
    for (bool compact : {true, false}) {
      Err e{};
      EXPECT_EQ(encode_source(c.source, compact, &e), "failed") << c.source;
      EXPECT_EQ(e, c.error) << c.source;
    }
    // Nothing of the failed encode is left behind: the same value gives the same bytes.
    EXPECT_EQ(encode_source("s: \"ab\" reduce [s s]", true), before) << c.source;
  }
  // 1,000 levels are the most a buffer holds.
  EXPECT_NE(encode_source("b: copy [] loop 999 [b: reduce [b]] b", true), "failed");
}

TEST_F(ZembinEncoder, SharedStructureWrittenOnce) {
  // A 100,000-byte string referenced 50 times costs its bytes once.
  std::string once = encode_source("s: append/dup copy \"\" \"x\" 100000 s", true);
  std::string many = encode_source("s: append/dup copy \"\" \"x\" 100000 append/dup copy [] s 50", true);
  ASSERT_NE(many, "failed");
  EXPECT_LT(many.size(), once.size() + 50 * 3 * 8);
}

}  // namespace
}  // namespace zem
