// The Zembin byte format: integers, doubles in both word orders, record heads, the preamble's
// bound checks and reference paths.
#include "services/zembin/format.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace zem;
using namespace zem::zembin;

namespace {

using Bytes = std::vector<uint8_t>;

std::string hex(const Bytes& b) {
  std::string s;
  char buf[4];
  for (uint8_t c : b) {
    snprintf(buf, sizeof buf, "%02X ", c);
    s += buf;
  }
  if (!s.empty()) s.pop_back();
  return s;
}

}  // namespace

TEST(ZembinFormat, VarintsAndZigzag) {
  struct Case {
    uint32_t value;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {63, {0x3F}},
      {127, {0x7F}},
      {128, {0x80, 0x01}},
      {300, {0xAC, 0x02}},
      {0xF0000000u, {0x80, 0x80, 0x80, 0x80, 0x0F}},
      {0xFFFFFFFFu, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
  };
  for (const Case& c : cases) {
    Bytes out;
    Writer(out).varint(c.value);
    EXPECT_EQ(hex(out), hex(c.bytes)) << c.value;
    Reader r(c.bytes.data(), c.bytes.size());
    uint32_t v = 0;
    ASSERT_TRUE(r.varint(v)) << c.value;
    EXPECT_EQ(v, c.value);
    EXPECT_TRUE(r.at_end());
  }
  // More than 32 bits, or a varint cut short, is refused; the reader stays on the failing byte.
  const Bytes bad[] = {{0x80, 0x80, 0x80, 0x80, 0x10},
                       {0x80, 0x80, 0x80, 0x80, 0x80, 0x01},
                       {0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                       {0x80},
                       {}};
  for (const Bytes& b : bad) {
    Reader r(b.data(), b.size());
    uint32_t v;
    EXPECT_FALSE(r.varint(v)) << hex(b);
  }
  Bytes over = {0x80, 0x80, 0x80, 0x80, 0x10};
  Reader r(over.data(), over.size());
  uint32_t v;
  EXPECT_FALSE(r.varint(v));
  EXPECT_EQ(r.offset(), 4u);

  const std::pair<int32_t, uint32_t> zz[] = {{0, 0},  {-1, 1}, {1, 2}, {-2, 3}, {63, 126},
                                             {64, 128}, {INT32_MAX, 0xFFFFFFFEu},
                                             {INT32_MIN, 0xFFFFFFFFu}};
  for (auto [n, stored] : zz) {
    EXPECT_EQ(zz_encode(n), stored) << n;
    EXPECT_EQ(zz_decode(stored), n) << n;
  }
}

TEST(ZembinFormat, DoublesLowWordFirstCompactHighWordFirstPlain) {
  // 1.5 is 3FF8000000000000: its low word is zero, so the order shows.
  Bytes compact, plain;
  Writer(compact).double_compact(1.5);
  Writer(plain).double_plain(1.5);
  EXPECT_EQ(hex(compact), "00 00 00 00 00 00 F8 3F");
  EXPECT_EQ(hex(plain), "00 00 F8 3F 00 00 00 00");
  for (double d : {1.5, -0.0, 0.1, -1e300, double(INFINITY)}) {
    Bytes a, b;
    Writer(a).double_compact(d);
    Writer(b).double_plain(d);
    double x = 0, y = 0;
    Reader ra(a.data(), a.size()), rb(b.data(), b.size());
    ASSERT_TRUE(ra.double_compact(x));
    ASSERT_TRUE(rb.double_plain(y));
    EXPECT_EQ(std::signbit(x), std::signbit(d));
    EXPECT_EQ(x, d);
    EXPECT_EQ(y, d);
  }
  Bytes seven(7, 0);
  Reader r(seven.data(), seven.size());
  double d;
  EXPECT_FALSE(r.double_compact(d));
  EXPECT_EQ(r.offset(), 0u);
}

TEST(ZembinFormat, CompactRecordHeads) {
  struct Case {
    Bytes bytes;
    bool allow_definition;
    bool ok;
    HeadKind kind;
    uint32_t type;
    bool variant, new_line, reference;
    size_t stop;  // where the reader stands after (the failing byte on refusal)
  };
  const Case cases[] = {
      {{0x85}, false, true, HeadKind::small_int, 0, false, false, false, 1},
      {{0xC0, 0x85}, false, true, HeadKind::small_int, 0, false, true, false, 2},
      {{0xC1, 0x85}, false, false, {}, 0, false, false, false, 1},
      {{0xC4, 0x0F}, false, false, {}, 0, false, false, false, 0},
      {{0xC4, 0x0F}, true, true, HeadKind::typed, TYPE_WORD, false, false, false, 2},
      {{0xC4, 0x07}, true, false, {}, 0, false, false, false, 1},  // a definition needs a word
      {{0xC4, 0xC2}, true, false, {}, 0, false, false, false, 1},
      {{0xC2}, false, true, HeadKind::logic_true, 0, false, false, false, 1},
      {{0xC3}, false, true, HeadKind::logic_false, 0, false, false, false, 1},
      {{0xFF}, false, true, HeadKind::path, 0, false, false, false, 1},
      {{0xC1, 0xFF}, false, false, {}, 0, false, false, false, 1},
      {{0xC5}, false, false, {}, 0, false, false, false, 0},
      {{0xFE}, false, false, {}, 0, false, false, false, 0},
      {{0x00}, false, false, {}, 0, false, false, false, 0},         // type 0
      {{0x0D}, false, false, {}, 0, false, false, false, 0},         // symbol!
      {{0x04}, false, false, {}, 0, false, false, false, 0},         // logic! as a typed record
      {{0x2A}, false, false, {}, 0, false, false, false, 0},         // series!
      {{0x3F, 0x37}, false, false, {}, 0, false, false, false, 0},   // escape to 55
      {{0x3F, 0x35}, false, true, HeadKind::typed, TYPE_IMAGE, false, false, false, 2},
      {{0x7F, 0x35}, false, true, HeadKind::typed, TYPE_IMAGE, true, false, false, 2},
      {{0x45}, false, true, HeadKind::typed, TYPE_BLOCK, true, false, false, 1},
      {{0xC0, 0xC1, 0x47}, false, true, HeadKind::typed, TYPE_STRING, true, true, true, 3},
      {{0xC1, 0x0B}, false, false, {}, 0, false, false, false, 1},   // integer! cannot be shared
      {{0xC1, 0x20}, false, true, HeadKind::typed, TYPE_OBJECT, false, false, true, 2},
      {{0xC0}, false, false, {}, 0, false, false, false, 1},
  };
  for (const Case& c : cases) {
    Reader r(c.bytes.data(), c.bytes.size());
    RecordHead h;
    bool ok = read_compact_head(r, c.allow_definition, h);
    EXPECT_EQ(ok, c.ok) << hex(c.bytes);
    EXPECT_EQ(r.offset(), c.stop) << hex(c.bytes);
    if (!ok || !c.ok) continue;
    EXPECT_EQ(h.kind, c.kind) << hex(c.bytes);
    EXPECT_EQ(h.variant, c.variant) << hex(c.bytes);
    EXPECT_EQ(h.new_line, c.new_line) << hex(c.bytes);
    EXPECT_EQ(h.reference, c.reference) << hex(c.bytes);
    if (c.kind == HeadKind::typed) {
      EXPECT_EQ(h.type, c.type) << hex(c.bytes);
    }
  }
  Bytes five = {0x85};
  Reader r(five.data(), five.size());
  RecordHead h;
  ASSERT_TRUE(read_compact_head(r, false, h));
  EXPECT_EQ(h.small, 5);
}

TEST(ZembinFormat, BodyTableCoversEveryType) {
  // Every type the registry knows has a row; the ones no buffer may carry are refused.
  for (uint32_t t = 1; t <= kLastType; ++t) {
    bool invalid = t == TYPE_LOGIC || t == TYPE_SYMBOL || t == TYPE_SERIES;
    EXPECT_EQ(body_of(t) == Body::invalid, invalid) << t;
  }
  EXPECT_EQ(body_of(TYPE_LOGIC, false), Body::logic);
  for (uint32_t t : {0u, 55u, 63u, 255u, 100000u}) EXPECT_EQ(body_of(t), Body::invalid) << t;
  for (uint32_t t : {TYPE_TRIPLE, TYPE_ROUTINE, TYPE_HANDLE, TYPE_PORT, TYPE_EVENT})
    EXPECT_EQ(body_of(t), Body::no_codec) << t;
  EXPECT_EQ(step_of(TYPE_MAP), Step::cells);
  EXPECT_EQ(step_of(TYPE_ERROR), Step::error_values);
  EXPECT_EQ(step_of(TYPE_STRING), Step::none);
  EXPECT_TRUE(owns_shareable(TYPE_ROUTINE));
  EXPECT_FALSE(owns_shareable(TYPE_INTEGER));
  EXPECT_TRUE(has_head(body_of(TYPE_IMAGE)));
  EXPECT_FALSE(has_head(body_of(TYPE_MAP)));
  for (uint8_t flags = 0; flags < 32; ++flags)
    EXPECT_EQ(compact_context_flags(plain_context_bits(flags)), flags);
}

TEST(ZembinFormat, PreambleBoundChecks) {
  // Compact: roots, payload, symbol count, names size, offsets, names, records.
  auto compact = [](uint32_t count, uint32_t names_size, Bytes names, uint32_t payload,
                    size_t record_bytes) {
    Bytes b;
    Writer w(b);
    w.varint(1);
    w.varint(payload);
    w.varint(count);
    w.varint(names_size);
    for (uint32_t i = 0; i < count; ++i) w.u32(0);
    w.bytes(names.data(), names.size());
    w.zeros(record_bytes);
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
    bool ok;
  };
  const Case cases[] = {
      {"good", compact(1, 2, {'a', 0}, 3, 3), true},
      {"names not ended by NUL", compact(1, 2, {'a', 'b'}, 0, 0), false},
      {"payload past the end", compact(1, 2, {'a', 0}, 4, 3), false},
      {"names past the end", compact(1, 9, {'a', 0}, 0, 0), false},
      {"count above a quarter of the bytes left", compact(3, 0, {}, 0, 0), false},
      {"symbols without names", compact(1, 0, {}, 0, 0), false},
      {"empty table", compact(0, 0, {}, 0, 0), true},
  };
  for (const Case& c : cases) {
    Reader r(c.bytes.data(), c.bytes.size());
    Preamble p;
    EXPECT_EQ(read_preamble(r, true, true, p), c.ok) << c.what;
  }
  // The empty compact buffer: 8 header bytes and the counts 0 and 0.
  Bytes empty(kMagic, kMagic + 6);
  empty.insert(empty.end(), {kVersion, kFlagCompact, 0, 0});
  ASSERT_EQ(empty.size(), 10u);
  EXPECT_TRUE(has_magic(empty.data(), empty.size()));
  Reader r(empty.data(), empty.data() + kHeaderSize, empty.data() + empty.size());
  Preamble p;
  ASSERT_TRUE(read_preamble(r, true, false, p));
  EXPECT_EQ(p.payload, 0u);
  EXPECT_TRUE(r.at_end());

  // Names: offsets are checked against the buffer, and a name never runs past it.
  Bytes table = compact(2, 4, {'a', 0, 'b', 0}, 0, 0);
  table[4 + 4] = 2;  // second offset -> "b"
  Reader t(table.data(), table.size());
  ASSERT_TRUE(read_preamble(t, true, true, p));
  std::string_view name;
  ASSERT_TRUE(p.symbols.name(0, name));
  EXPECT_EQ(name, "a");
  ASSERT_TRUE(p.symbols.name(1, name));
  EXPECT_EQ(name, "b");
  EXPECT_FALSE(p.symbols.name(2, name));
  table[4 + 4] = 4;  // offset at the buffer's size
  Reader t2(table.data(), table.size());
  ASSERT_TRUE(read_preamble(t2, true, true, p));
  EXPECT_FALSE(p.symbols.name(1, name));
}

TEST(ZembinFormat, ReferencePaths) {
  struct Case {
    Bytes bytes;
    bool compact;
    bool ok;
    std::vector<uint32_t> path;
  };
  const Case cases[] = {
      {{0x02, 0x00, 0x81, 0x01}, true, true, {0, 129}},
      {{0x00}, true, false, {}},               // no entries
      {{0x03, 0x00, 0x01}, true, false, {}},   // more entries than bytes left
      {{0x81, 0x80, 0x04}, true, false, {}},   // 65,537 entries
      {{1, 0, 0, 0, 7, 0, 0, 0}, false, true, {7}},
      {{2, 0, 0, 0, 7, 0, 0, 0}, false, false, {}},
  };
  for (const Case& c : cases) {
    Reader r(c.bytes.data(), c.bytes.size());
    std::vector<uint32_t> path;
    EXPECT_EQ(read_path(r, c.compact, path), c.ok) << hex(c.bytes);
    if (c.ok) {
      EXPECT_EQ(path, c.path);
      Bytes again;
      Writer w(again);
      write_path(w, c.compact, path.data(), path.size());
      EXPECT_EQ(hex(again), hex(c.bytes));
    } else {
      EXPECT_EQ(r.offset(), 0u) << hex(c.bytes);
    }
  }
}
