// The Zembin encoder against buffers built by hand (tests/data/zembin/gen_fixtures.py), and its
// refusals: values no codec carries, nesting past the limit, and a clean state after either.
#include "services/zembin/encoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "services/zembin/decoder.h"
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

// "??" in the expected text matches any byte; in a compact buffer of another size, one unsigned
// varint (a class id: one byte below 128, more as the library makes more classes), and the
// payload length before it grows by as many bytes.
bool matches(const std::string& expected, const std::string& actual) {
  if (expected.size() == actual.size()) {
    for (size_t i = 0; i < expected.size(); ++i)
      if (expected[i] != '?' && expected[i] != actual[i]) return false;
    return true;
  }
  std::vector<std::string> want, got;
  for (size_t i = 0; i < expected.size(); i += 3) want.push_back(expected.substr(i, 2));
  for (size_t i = 0; i < actual.size(); i += 3) got.push_back(actual.substr(i, 2));
  size_t extra = 0, g = 0;
  std::vector<size_t> widened;  // positions in `got` where a varint took more than one byte
  for (size_t w = 0; w < want.size(); ++w, ++g) {
    if (g >= got.size()) return false;
    if (want[w] == "??") {
      while (g < got.size() && std::stoul(got[g], nullptr, 16) >= 0x80) ++g, ++extra;
      if (g >= got.size()) return false;
      continue;
    }
    if (want[w] != got[g]) {
      // the payload length of a compact buffer counts the wider varint
      unsigned long a = std::stoul(want[w], nullptr, 16), b = std::stoul(got[g], nullptr, 16);
      widened.push_back(b - a);
      if (b < a || b - a > 2) return false;
    }
  }
  if (g != got.size()) return false;
  for (size_t d : widened)
    if (d != extra) return false;
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
  // 1,000 levels are the most a buffer holds: blocks nested 1,000 deep encode, 1,001 do not.
  for (uint32_t levels : {1000u, 1001u}) {
    Cell* top = stack::push_value(block::make(1));
    Cell inner = *top;
    for (uint32_t i = 1; i < levels; ++i) {
      Cell next = block::make(1);
      block::append_cell(inner, next);
      inner = next;
    }
    Cell* out = stack::push_value(block::make(0));
    for (bool compact : {true, false}) {
      std::vector<uint8_t> bytes;
      Err e = test::raised([&] { bytes = zembin::encode_bytes(*top, compact); });
      EXPECT_EQ(e, levels > zembin::kMaxDepth ? Err::internal_too_deep : Err{}) << levels;
      // What the encoder writes, the decoder reads.
      if (e == Err{})
        EXPECT_EQ(test::raised([&] { zembin::decode(bytes.data(), bytes.size(), *out); }), Err{});
    }
  }
  EXPECT_EQ(encode_source("s: \"ab\" reduce [s s]", true), before);
}

TEST_F(ZembinEncoder, SharedStructureWrittenOnce) {
  // A 100,000-byte string referenced 50 times costs its bytes once.
  std::string once = encode_source("s: append/dup copy \"\" \"x\" 100000 s", true);
  std::string many = encode_source("s: append/dup copy \"\" \"x\" 100000 append/dup copy [] s 50", true);
  ASSERT_NE(many, "failed");
  EXPECT_LT(many.size(), once.size() + 50 * 3 * 8);
}

TEST_F(ZembinEncoder, FunctionBodySharedBetweenTwoFunctions) {
  // Two functions over one body, each with its own context: the second one's body is a path to
  // the first one's, and the decoded functions share one body series again.
  const Cell f = test::eval_text("func [x] [x + 1]");
  ASSERT_TRUE(f.is(TYPE_FUNCTION));
  Cell g = f;
  context::clone_for_function(g, CONTEXT_FUNCTION);
  Cell* pair = stack::push_value(block::make(2));
  block::append_cell(*pair, f);
  block::append_cell(*pair, g);
  Cell* out = stack::push_value(block::make(0));
  for (bool compact : {true, false}) {
    std::vector<uint8_t> bytes = zembin::encode_bytes(*pair, compact);
    block::clear_at_head(*out);
    zembin::decode(bytes.data(), bytes.size(), *out);
    ASSERT_EQ(block::length(*out), 1u);
    const Cell decoded = block_head(out->node())[0];
    ASSERT_TRUE(decoded.is(TYPE_BLOCK));
    const Cell f2 = block_head(decoded.node())[0], g2 = block_head(decoded.node())[1];
    ASSERT_TRUE(f2.is(TYPE_FUNCTION) && g2.is(TYPE_FUNCTION));
    EXPECT_NE(f2.fn_context(), g2.fn_context()) << compact;
    EXPECT_EQ(f2.fn_spec(), g2.fn_spec()) << compact;
    const Cell body_f = block_head(f2.fn_more())[MORE_BODY], body_g = block_head(g2.fn_more())[MORE_BODY];
    ASSERT_TRUE(body_f.is(TYPE_BLOCK) && body_g.is(TYPE_BLOCK));
    EXPECT_EQ(body_f.node(), body_g.node()) << compact;
    EXPECT_EQ(block::length(body_f), 3u);
  }
}

}  // namespace
}  // namespace zem
