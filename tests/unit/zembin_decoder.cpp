// The Zembin decoder in codec mode against buffers built by hand (tests/data/zembin_decode/
// gen_cases.py): the values they give, the faults they raise with their offsets, and hostile
// buffers (huge claims, deep nesting) that must fail cleanly before allocating anything big.
#include "services/zembin/decoder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "memory_fixture.h"
#include "runtime/error.h"
#include "services/lz77.h"
#include "support_values.h"

namespace zem {
namespace {

using Bytes = std::vector<uint8_t>;

struct Case {
  std::string name, expect;
  Bytes data;
};

std::vector<Case> cases() {
  const char* dir = std::getenv("ZEM_TEST_DATA");
  std::ifstream in(std::string(dir ? dir : "tests/data") + "/zembin_decode/cases.txt");
  std::vector<Case> rows;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const size_t a = line.find('\t'), b = line.find('\t', a + 1);
    Case c{line.substr(0, a), line.substr(a + 1, b - a - 1), {}};
    for (size_t i = b + 1; i + 1 < line.size(); i += 2) c.data.push_back(uint8_t(std::stoi(line.substr(i, 2), nullptr, 16)));
    rows.push_back(c);
  }
  return rows;
}

// "= mold" when the buffer decodes, else "! id offset" (the error's first argument).
std::string outcome(const Bytes& data) {
  stack::reset();
  clear_pending_exit();
  Cell* dest = block::push_only(4);
  try {
    zembin::decode(data.data(), data.size(), *dest);
  } catch (const Unwind&) {
    const PendingExit& p = pending_exit();
    std::string s = "! " + std::string(error_id_word(static_cast<uint32_t>(p.error)));
    if (p.args[0].is(TYPE_INTEGER)) s += " " + std::to_string(p.args[0].int_value());
    clear_pending_exit();
    stack::reset();
    return s;
  }
  std::string mold = test::mold_text(*stack::base());
  for (size_t nl; (nl = mold.find('\n')) != std::string::npos;) mold.replace(nl, 1, "^/");
  stack::reset();
  return "= " + mold;
}

bool matches(const std::string& expect, const std::string& got) {
  // "! id ?": any offset (or none).
  if (expect.size() >= 2 && expect.compare(expect.size() - 2, 2, " ?") == 0)
    return got.compare(0, expect.size() - 2, expect, 0, expect.size() - 2) == 0;
  return expect == got;
}

class ZembinDecoder : public testing::RuntimeTest<StartLayer::library> {};

TEST_F(ZembinDecoder, HandBuiltBuffers) {
  const std::vector<Case> rows = cases();
  ASSERT_GT(rows.size(), 60u) << "tests/data/zembin_decode/cases.txt";
  for (const Case& c : rows) {
    SCOPED_TRACE(c.name);
    const std::string got = outcome(c.data);
    EXPECT_TRUE(matches(c.expect, got)) << c.name << "\n expected " << c.expect << "\n      got " << got;
  }
}

// Every action with a word comes back as the runtime's own action of its slot.
TEST_F(ZembinDecoder, EveryActionSlot) {
  for (uint32_t slot = 1; slot <= static_cast<uint32_t>(kActionCount); ++slot) {
    const Bytes data = {'Z', 'E', 'M', 'B', 'I', 'N', 2, 1, 1, 4, 0x16, uint8_t(slot), 0x05, 0x00};
    const std::string got = outcome(data);
    if (natives::action_spec_block(slot)) EXPECT_EQ(got.compare(0, 15, "= [make action!"), 0) << slot << " " << got;
    else EXPECT_EQ(got, "! zb-invalid-record 12") << slot;
  }
}

Bytes compact_buffer(const Bytes& records) {
  Bytes out = {'Z', 'E', 'M', 'B', 'I', 'N', 2, 1, 1};
  for (uint32_t v = uint32_t(records.size()); ; v >>= 7) {
    out.push_back(uint8_t((v & 0x7F) | (v >= 0x80 ? 0x80 : 0)));
    if (v < 0x80) break;
  }
  out.insert(out.end(), records.begin(), records.end());
  return out;
}

// 100,000 nested blocks stop at the nesting limit instead of running out of machine stack, in
// both forms.
TEST_F(ZembinDecoder, DeepNesting) {
  Bytes limit;
  for (int i = 0; i < 999; ++i) limit.insert(limit.end(), {0x05, 0x01});
  limit.push_back(0x81);
  stack::reset();
  Cell* dest = block::push_only(1);
  const Bytes at_limit = compact_buffer(limit);
  EXPECT_EQ(test::raised([&] { zembin::decode(at_limit.data(), at_limit.size(), *dest); }), Err{})
      << "1,000 levels decode";
  stack::reset();

  Bytes records;
  for (int i = 0; i < 100000; ++i) records.insert(records.end(), {0x05, 0x01});
  records.push_back(0x81);
  const Bytes compact = compact_buffer(records);
  EXPECT_EQ(outcome(compact), "! zb-invalid-record " + std::to_string(compact.size() - records.size() + 2001));

  Bytes plain = {'Z', 'E', 'M', 'B', 'I', 'N', 2, 0, 1, 0, 0, 0, 0, 0, 0, 0};
  const uint32_t n = 100000 * 12 + 8;
  for (int i = 0; i < 4; ++i) plain[12 + i] = uint8_t(n >> (8 * i));
  for (int i = 0; i < 100000; ++i) plain.insert(plain.end(), {5, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0});
  plain.insert(plain.end(), {11, 0, 0, 0, 1, 0, 0, 0});
  EXPECT_EQ(outcome(plain), "! zb-invalid-record " + std::to_string(16 + 1000 * 12 + 1));
}

// A second function whose body record is a reference to the first one's body shares that body.
TEST_F(ZembinDecoder, SharedFunctionBody) {
  const Bytes fn1 = {0x18, 0x01, 0x01, 0x0E, 0x05, 0x01, 0x00, 0x05, 0x01, 0x0F, 0x00, 0x05, 0x01, 0x0F, 0x00};
  const Bytes fn2 = {0x18, 0x01, 0x01, 0x0E, 0x05, 0x01, 0x00, 0x05, 0x01, 0x0F, 0x00,
                     0xC1, 0x05, 0x03, 0x00, 0x00, 0x01};
  Bytes records = {0x05, 0x02};
  records.insert(records.end(), fn1.begin(), fn1.end());
  records.insert(records.end(), fn2.begin(), fn2.end());
  Bytes data = {'Z', 'E', 'M', 'B', 'I', 'N', 2, 5, 1, uint8_t(records.size()), 1, 2, 0, 0, 0, 0, 'a', 0};
  data.insert(data.end(), records.begin(), records.end());
  stack::reset();
  Cell* dest = block::push_only(1);
  ASSERT_EQ(test::raised([&] { zembin::decode(data.data(), data.size(), *dest); }), Err{});
  const Cell fns = *block::head_of(*dest);
  const Cell f1 = block::cell_at_index(fns, 0)[0], f2 = block::cell_at_index(fns, 1)[0];
  ASSERT_TRUE(f1.is(TYPE_FUNCTION) && f2.is(TYPE_FUNCTION));
  EXPECT_NE(f1.fn_context(), f2.fn_context());
  EXPECT_EQ(block_head(f1.fn_more())[MORE_BODY].node(), block_head(f2.fn_more())[MORE_BODY].node());
  EXPECT_EQ(test::mold_text(fns), "[func [a][a] func [a][a]]");
  stack::reset();
}

// A packed buffer is decoded from its unpacked bytes; offsets count as if it had not been packed.
TEST_F(ZembinDecoder, PackedBuffers) {
  const Bytes records = {0x05, 0x02, 0x85, 0xC1, 0x86};
  Bytes body = {0x01, uint8_t(records.size())};
  body.insert(body.end(), records.begin(), records.end());
  const Bytes packed = lz77::pack(body.data(), body.size());
  Bytes data = {'Z', 'E', 'M', 'B', 'I', 'N', 2, 3};
  data.insert(data.end(), packed.begin(), packed.end());
  EXPECT_EQ(outcome(data), "! zb-invalid-record " + std::to_string(8 + 2 + 3 + 2));
}

}  // namespace
}  // namespace zem
