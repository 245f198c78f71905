// Text encodings: UTF-8 and UTF-16LE decoding and encoding, and their errors.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/error.h"

namespace zem::unicode {
namespace {

using Bytes = std::vector<uint8_t>;

// The error a call raised, or Err{} when it returned.
template <class F>
Err raised(F&& f) {
  try {
    f();
  } catch (const Unwind& u) {
    EXPECT_EQ(u.code, EXIT_ERROR);
    Err e = pending_exit().error;
    clear_pending_exit();
    return e;
  }
  return Err{};
}

Bytes from_hex(const std::string& hex) {
  Bytes b;
  if (hex == "-") return b;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(std::stoi(hex.substr(i, 2), nullptr, 16));
  return b;
}

// An exact-sized heap copy, so that a read past its end is caught by the sanitizer build.
std::unique_ptr<uint8_t[]> exact(const Bytes& b) {
  auto p = std::make_unique<uint8_t[]>(b.size() + (b.empty() ? 1 : 0));
  std::copy(b.begin(), b.end(), p.get());
  return p;
}

TEST(Utf8Checked, DecodesAndRejects) {
  constexpr int32_t kInvalid = -2;
  struct Case {
    Bytes in;
    int32_t cp;  // -1: too short, kInvalid: raises invalid-utf8
    size_t used;
  };
  const Case cases[] = {
      {{0x41}, 0x41, 1},
      {{0xC3, 0xA9}, 0xE9, 2},
      {{0xC2, 0x80}, 0x80, 2},
      {{0xE0, 0xA0, 0x80}, 0x800, 3},
      {{0xE2, 0x82, 0xAC}, 0x20AC, 3},
      {{0xED, 0xA0, 0x80}, 0xD800, 3},  // surrogates outside DC00-DCFF pass
      {{0xED, 0xB4, 0x80}, 0xDD00, 3},
      {{0xED, 0xB2, 0x80}, kInvalid, 0},
      {{0xF0, 0x90, 0x80, 0x80}, 0x10000, 4},
      {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
      {{0xF4, 0x90, 0x80, 0x80}, kInvalid, 0},  // above U+10FFFF
      {{0xC0, 0x80}, kInvalid, 0},              // overlong forms
      {{0xC1, 0xBF}, kInvalid, 0},
      {{0xE0, 0x9F, 0xBF}, kInvalid, 0},
      {{0xF0, 0x8F, 0xBF, 0xBF}, kInvalid, 0},
      {{0x80}, kInvalid, 0},
      {{0xBF}, kInvalid, 0},
      {{0xF8, 0x88, 0x80, 0x80}, kInvalid, 0},
      {{0xC3, 0x41}, kInvalid, 0},
      {{0xE2, 0x82}, -1, 2},
      {{0xF0, 0x9F, 0x98}, -1, 3},
  };
  for (const Case& c : cases) {
    auto buf = exact(c.in);
    size_t len = c.in.size();
    int32_t cp = 0;
    Err e = raised([&] { cp = decode_utf8_checked(buf.get(), len); });
    SCOPED_TRACE(testing::Message() << "first byte " << std::hex << int(c.in[0]));
    if (c.cp == kInvalid) {
      EXPECT_EQ(e, Err::access_invalid_utf8);
    } else {
      EXPECT_EQ(e, Err{});
      EXPECT_EQ(cp, c.cp);
      EXPECT_EQ(len, c.used);
    }
  }
}

TEST(Utf8Load, UnitsWideningBomAndLineEnds) {
  struct Case {
    Bytes in;
    bool crlf;
    std::u32string out;
    int unit;
  };
  const Case cases[] = {
      {{0xEF, 0xBB, 0xBF}, false, U"", 1},
      {{}, false, U"", 1},
      {{0xC3, 0xA9}, false, U"\u00E9", 1},
      {{0xC3, 0xA9, 0xE2, 0x82, 0xAC}, false, U"\u00E9\u20AC", 2},
      {{0xEF, 0xBB, 0xBF, 'a'}, false, U"a", 1},
      {{'a', 0xEF, 0xBB, 0xBF}, false, U"a\uFEFF", 2},  // only a leading mark is dropped
      {{'a', '\r', '\n', 'b'}, true, U"a\nb", 1},
      {{'a', '\r', 'b'}, true, U"a\nb", 1},
      {{'a', '\r'}, true, U"a\n", 1},
      {{'\r', '\r', '\n'}, true, U"\n\n", 1},
      {{'a', '\r', '\n', 'b'}, false, U"a\r\nb", 1},
      {{'x', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80, 'y'}, false,
       U"x\u00E9\u20AC\U0001F600y", 4},
      {{0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}, false, U"\U0001F600\u00E9", 4},
  };
  for (const Case& c : cases) {
    UnitText t;
    size_t n = load_utf8(c.in.data(), c.in.size(), t, c.crlf);
    EXPECT_EQ(t.code_points(), c.out);
    EXPECT_EQ(n, c.out.size());
    EXPECT_EQ(t.unit, c.unit);
  }
}

TEST(Utf8Load, InvalidInputRaisesAndNeverOverreads) {
  const Bytes bad[] = {
      {'a', 0xE2, 0x82},             // input ends inside a sequence
      {'a', 0xF0},                   //
      {0xC0, 0xAF},                  // overlong "/"
      {0xE0, 0x80, 0xAF},            //
      {0xF0, 0x80, 0x80, 0xAF},      //
      {0xED, 0xB0, 0x80},            // U+DC00
      {'a', 0xFF, 'b'},              //
      {0xC3, 0xA9, 0x80},            // stray continuation byte
  };
  for (const Bytes& b : bad) {
    auto buf = exact(b);
    UnitText t;
    EXPECT_EQ(raised([&] { load_utf8(buf.get(), b.size(), t, false); }), Err::access_invalid_utf8);
  }
}

TEST(Utf8Fast, StrictAndBoundedByEnd) {
  struct Case {
    Bytes in;
    std::vector<int32_t> cps;  // -1 for each rejected sequence
  };
  const Case cases[] = {
      {{'a', 0xC3, 0xA9, 0xF0, 0x9F, 0x98, 0x80}, {'a', 0xE9, 0x1F600}},
      {{0xE2, 0x82}, {-1}},                    // cut short by the end
      {{0xF0, 0x9F, 0x98}, {-1}},
      {{0xC0, 0xAF, 'a'}, {-1, -1, 'a'}},      // overlong: each byte rejected
      {{0xE0, 0x80, 0xAF}, {-1, -1, -1}},
      {{0xED, 0xA0, 0x80}, {-1, -1, -1}},      // surrogate
      {{0xE2, 0x82, 'a'}, {-1, 'a'}},          // the failing byte starts the next character
      {{0xF4, 0x90, 0x80, 0x80}, {-1, -1, -1, -1}},
  };
  for (const Case& c : cases) {
    auto buf = exact(c.in);
    const uint8_t* p = buf.get();
    const uint8_t* end = p + c.in.size();
    std::vector<int32_t> got;
    while (p < end) got.push_back(fast_decode_utf8_char(p, end));
    EXPECT_EQ(p, end);
    EXPECT_EQ(got, c.cps);
    EXPECT_EQ(count_utf8_chars(buf.get(), end), c.cps.size());
  }
  Bytes text = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 'b'};
  auto buf = exact(text);
  const uint8_t* end = buf.get() + text.size();
  EXPECT_EQ(skip_utf8_chars(buf.get(), end, 2), buf.get() + 3);
  EXPECT_EQ(skip_utf8_chars(buf.get(), end, 3), buf.get() + 6);
  EXPECT_EQ(skip_utf8_chars(buf.get(), end, 99), end);
}

TEST(Utf8Encode, SizesLimitsAndCuts) {
  struct Case {
    uint32_t cp;
    Bytes utf8;
  };
  const Case cases[] = {
      {0x7F, {0x7F}},
      {0x80, {0xC2, 0x80}},
      {0x7FF, {0xDF, 0xBF}},
      {0x800, {0xE0, 0xA0, 0x80}},
      {0xFFFF, {0xEF, 0xBF, 0xBF}},
      {0x10000, {0xF0, 0x90, 0x80, 0x80}},
      {0x1F600, {0xF0, 0x9F, 0x98, 0x80}},
      {0x10FFFF, {0xF4, 0x8F, 0xBF, 0xBF}},
  };
  for (const Case& c : cases) {
    uint8_t out[4];
    int n = encode_utf8_char(c.cp, out);
    EXPECT_EQ(Bytes(out, out + n), c.utf8);
    EXPECT_EQ(utf8_char_size(c.cp), n);
    EXPECT_EQ(utf8_seq_len(c.utf8[0]), n == 1 ? 0 : n);
  }
  uint8_t out[4];
  EXPECT_EQ(raised([&] { encode_utf8_char(0x110000, out); }), Err::script_invalid_char);
  ASSERT_EQ(raised([&] { utf8_char_size(0x110000); }), Err::script_invalid_char);
  UnitText t;
  t.unit = 4;
  t.push('a');
  t.push(0x200000);
  std::string s = "kept";
  EXPECT_EQ(raised([&] { encode_utf8_units(t.bytes.data(), t.size(), 4, false, s); }),
            Err::script_invalid_char);
  EXPECT_EQ(s, "kept");

  // Bounded writes cut the last code point byte-wise.
  UnitText e;
  load_utf8(reinterpret_cast<const uint8_t*>("\xC3\xA9\xE2\x82\xAC"), 5, e, false);
  uint8_t cut[8] = {};
  EXPECT_EQ(encode_utf8_units_bounded(e.bytes.data(), e.size(), e.unit, cut, 4), 4u);
  EXPECT_EQ(Bytes(cut, cut + 4), (Bytes{0xC3, 0xA9, 0xE2, 0x82}));
  EXPECT_EQ(encode_utf8_char_bounded(0x1F600, cut, 1), 1);

  // One-byte units: ASCII runs and Latin-1 letters, cut at every capacity.
  const uint8_t latin[] = {'a', 'b', 0xE9, 'c', 0xFF};
  const Bytes whole = {'a', 'b', 0xC3, 0xA9, 'c', 0xC3, 0xBF};
  for (size_t cap = 0; cap <= whole.size() + 1; cap++) {
    uint8_t got[16] = {};
    size_t n = encode_utf8_units_bounded(latin, sizeof latin, 1, got, cap);
    size_t want = std::min(cap, whole.size());
    EXPECT_EQ(n, want) << cap;
    EXPECT_EQ(Bytes(got, got + n), Bytes(whole.begin(), whole.begin() + want)) << cap;
  }
}

TEST(Utf8Encode, UnitsWithLineEnds) {
  for (int unit : {1, 2, 4}) {
    UnitText t;
    t.unit = unit;
    for (char32_t c : std::u32string(U"a\n\u00E9\n")) t.push(c);
    std::string plain, crlf;
    encode_utf8_units(t.bytes.data(), t.size(), t.unit, false, plain);
    encode_utf8_units(t.bytes.data(), t.size(), t.unit, true, crlf);
    EXPECT_EQ(plain, "a\n\xC3\xA9\n");
    EXPECT_EQ(crlf, "a\r\n\xC3\xA9\r\n");
    EXPECT_LE(crlf.size(), utf8_room_for(t.size(), t.unit));
    EXPECT_EQ(utf8_size_of_units(t.bytes.data(), t.bytes.data() + t.bytes.size(), t.unit), plain.size());
  }
}

TEST(Units, WideningInPlaceKeepsCodePoints) {
  struct Case {
    std::u32string text;
    int from, to;
  };
  const Case cases[] = {
      {U"ab\u00FF", 1, 2}, {U"ab\u00FF", 1, 4}, {U"a\uFFFF\u0100", 2, 4}, {U"", 1, 4}};
  for (const Case& c : cases) {
    UnitText t;
    t.unit = c.from;
    for (char32_t cp : c.text) t.push(cp);
    t.widen(c.to);
    EXPECT_EQ(t.unit, c.to);
    EXPECT_EQ(t.code_points(), c.text);
  }
  UnitText t;
  t.push('a');
  t.put(0, 0x1F600);
  EXPECT_EQ(t.unit, 4);
  EXPECT_EQ(t.at(0), 0x1F600u);
}

// utf-8 and utf-16le forms of the same texts, from python3.
TEST(Utf16, AgreesWithPythonFixture) {
  std::ifstream in(std::string(std::getenv("ZEM_TEST_DATA")) + "/utf16.txt");
  ASSERT_TRUE(in);
  std::string line;
  int rows = 0;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string h8, h16;
    fields >> h8 >> h16;
    Bytes u8 = from_hex(h8), u16 = from_hex(h16);
    UnitText a, b;
    load_utf8(u8.data(), u8.size(), a, false);
    load_utf16le(u16.data(), u16.size() / 2, b, false);
    SCOPED_TRACE(line);
    EXPECT_EQ(a.code_points(), b.code_points());
    if (!u16.empty()) {
      EXPECT_EQ(a.unit, b.unit);
    }
    EXPECT_EQ(utf16_unit_needed(u16.data(), u16.size() / 2), u16.empty() ? 1 : a.unit);

    std::u16string back;
    ASSERT_TRUE(encode_utf16_units(a.bytes.data(), a.size(), a.unit, false, back));
    EXPECT_EQ(Bytes(reinterpret_cast<const uint8_t*>(back.data()),
                    reinterpret_cast<const uint8_t*>(back.data() + back.size())),
              u16);
    EXPECT_EQ(a.size() + utf16_extra_units(a.bytes.data(), a.size(), a.unit, false), back.size());
    std::string back8;
    encode_utf8_units(b.bytes.data(), b.size(), b.unit, false, back8);
    EXPECT_EQ(Bytes(back8.begin(), back8.end()), u8);
    rows++;
  }
  EXPECT_GE(rows, 10);
}

TEST(Utf16, SurrogatesLineEndsAndBadInput) {
  auto le = [](std::u16string s) {
    Bytes b;
    for (char16_t u : s) {
      b.push_back(u & 0xFF);
      b.push_back(u >> 8);
    }
    return b;
  };
  char16_t pair[2];
  ASSERT_EQ(encode_utf16_char(0x1F600, pair), 2);
  EXPECT_EQ(pair[0], 0xD83D);
  EXPECT_EQ(pair[1], 0xDE00);
  EXPECT_EQ(encode_utf16_char(0x110000, pair), 0);

  UnitText t;
  Bytes crlf = le(u"a\r\nb\rc");
  load_utf16le(crlf.data(), crlf.size() / 2, t, true);
  EXPECT_EQ(t.code_points(), U"a\nbc");

  Bytes lone_low = le(u"x\xDE00");
  load_utf16le(lone_low.data(), lone_low.size() / 2, t, false);
  EXPECT_EQ(t.code_points(), U"x\xDE00");
  EXPECT_EQ(t.unit, 2);

  for (std::u16string bad : {std::u16string(u"a\xD83D" u"b"), std::u16string(u"a\xD83D"),
                             std::u16string(u"\xD83D\xD83D\xDE00")}) {
    Bytes b = le(bad);
    auto buf = exact(b);
    EXPECT_EQ(raised([&] { load_utf16le(buf.get(), b.size() / 2, t, false); }),
              Err::script_invalid_chars);
  }

  UnitText empty;
  load_utf16le(nullptr, 0, empty, false);
  EXPECT_EQ(empty.size(), 0u);
  EXPECT_EQ(empty.unit, 2);

  UnitText lines;
  for (char32_t c : std::u32string(U"a\n\U0001F600")) lines.push(c);
  std::u16string out;
  ASSERT_TRUE(encode_utf16_units(lines.bytes.data(), lines.size(), lines.unit, true, out));
  EXPECT_EQ(out, u"a\r\n\U0001F600");
  EXPECT_EQ(utf16_extra_units(lines.bytes.data(), lines.size(), lines.unit, true), 2u);
  UnitText huge;
  huge.unit = 4;
  huge.push(0x110000);
  out = u"kept";
  EXPECT_FALSE(encode_utf16_units(huge.bytes.data(), 1, 4, false, out));
  EXPECT_EQ(out, u"kept");

  EXPECT_EQ(latin1_to_utf16("a\xE9"), u"a\u00E9");
}

}  // namespace
}  // namespace zem::unicode
