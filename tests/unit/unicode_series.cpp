// Text decoding into new and reused series.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/startup.h"
#include "runtime/unicode.h"

namespace zem::unicode {
namespace {

Cell series_cell(TypeId type, uint32_t head, NodeId node) {
  Cell c{};
  c.set_header(type);
  c.set_series(head, node);
  return c;
}

class UnicodeSeries : public ::testing::Test {
 protected:
  void SetUp() override { init_through(StartLayer::memory); }
  void TearDown() override { release_runtime(); }

  static std::u32string code_points(NodeId node) {
    const SeriesBuffer* b = series_buffer(node);
    std::u32string s;
    for (uint32_t i = 0; i < b->length(); i++) s += read_unit(b->head_ptr() + i * b->unit(), b->unit());
    return s;
  }
  static NodeId series_of(const std::u32string& text, int unit, size_t capacity) {
    NodeId node = alloc::make_unit_series(static_cast<int64_t>(capacity), unit);
    SeriesBuffer* b = series_buffer(node);
    for (size_t i = 0; i < text.size(); i++) write_unit(b->head_ptr() + i * unit, unit, text[i]);
    b->set_length(static_cast<uint32_t>(text.size()));
    return node;
  }
  static Cell string_cell(NodeId node, int32_t index = 0) {
    return series_cell(TYPE_STRING, static_cast<uint32_t>(index), node);
  }
};

TEST_F(UnicodeSeries, LoadsIntoNewAndReusedSeries) {
  const uint8_t text[] = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC};
  uint32_t count = 0;
  NodeId node = load_utf8_series(text, sizeof text, 0, false, &count);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(series_buffer(node)->unit(), 2u);
  EXPECT_EQ(code_points(node), U"a\u00E9\u20AC");

  // A small target grows; its unit is kept even when the text would fit a narrower one.
  NodeId target = series_of(U"\u0100", 2, 1);
  const uint8_t longer[] = "line one\r\nline two\r\n";
  EXPECT_EQ(load_utf8_series(longer, sizeof longer - 1, target, true, &count), target);
  EXPECT_EQ(code_points(target), U"line one\nline two\n");
  EXPECT_EQ(series_buffer(target)->unit(), 2u);

  const uint8_t empty[] = {0xEF, 0xBB, 0xBF};
  node = load_utf8_series(empty, 3, 0, false, &count);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(series_buffer(node)->length(), 0u);

  node = load_utf8_cstring("\xC3\xA9t\xC3\xA9\r\n", 0, true, &count);
  EXPECT_EQ(code_points(node), U"\u00E9t\u00E9\n");
  NodeId bytes = alloc::make_bytes(4);
  std::memcpy(series_buffer(bytes)->head_ptr(), "ab\xC3\xA9", 4);
  series_buffer(bytes)->tail = series_buffer(bytes)->head + 4;
  for (uint32_t index : {1u, 9u}) {  // from the position; past the tail reads nothing
    load_utf8_binary(series_cell(TYPE_BINARY, index, bytes), node, false, &count);
    EXPECT_EQ(code_points(node), index == 1 ? U"b\u00E9" : U"");
  }

  const uint8_t utf16[] = {'a', 0, 0x3D, 0xD8, 0x00, 0xDE};
  node = load_utf16le_series(utf16, 3, 0, false, &count);
  EXPECT_EQ(code_points(node), U"a\U0001F600");
  EXPECT_EQ(series_buffer(node)->unit(), 4u);
}

TEST_F(UnicodeSeries, InvalidInputLeavesTargetAndCarriesTheBytes) {
  struct Case {
    std::vector<uint8_t> in;
    std::vector<uint8_t> carried;  // the bytes at the bad position, at most 4
  };
  const Case cases[] = {
      {{'a', 0xFF, 'b'}, {0xFF, 'b'}},
      {{0xC0, 0xAF, 'x', 'y', 'z'}, {0xC0, 0xAF, 'x', 'y'}},
      {{'o', 'k', 0xE2, 0x82}, {0xE2, 0x82}},
  };
  for (const Case& c : cases) {
    NodeId target = series_of(U"kept", 1, 4);
    uint32_t count = 0;
    try {
      load_utf8_series(c.in.data(), c.in.size(), target, false, &count);
      ADD_FAILURE() << "accepted";
    } catch (const Unwind&) {
      PendingExit& e = pending_exit();
      EXPECT_EQ(e.error, Err::access_invalid_utf8);
      ASSERT_TRUE(e.args[0].is(TYPE_BINARY));
      const SeriesBuffer* b = series_buffer(e.args[0].node());
      EXPECT_EQ(std::vector<uint8_t>(b->head_ptr(), b->tail_ptr()), c.carried);
      clear_pending_exit();
    }
    EXPECT_EQ(code_points(target), U"kept");
  }
}

TEST_F(UnicodeSeries, WideningKeepsNodeAndText) {
  struct Case {
    int from, to;
    std::u32string text;
  };
  for (const Case& c : {Case{1, 2, U"abc\u00FF"}, Case{1, 4, U"abc\u00FF"}, Case{2, 4, U"a\uFFFF"}}) {
    for (size_t capacity : {c.text.size(), c.text.size() * 8}) {  // full, and with room to spare
      NodeId node = series_of(c.text, c.from, capacity);
      SeriesBuffer* b = widen_series(node, c.to);
      EXPECT_EQ(b, series_buffer(node));
      EXPECT_EQ(b->unit(), static_cast<uint32_t>(c.to));
      EXPECT_EQ(code_points(node), c.text);
      EXPECT_GE(b->capacity - b->tail, static_cast<uint32_t>(c.to));  // one spare unit
    }
  }
}

TEST_F(UnicodeSeries, CachedConversionsOfStringValues) {
  Cell str = string_cell(series_of(U"x\u00E9\n\U0001F600", 4, 4), 0);
  int32_t n = -1;
  const char* utf8 = string_to_utf8(str, &n, true);
  EXPECT_EQ(std::string(utf8, n), "x\xC3\xA9\r\n\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8[n], '\0');
  NodeId cache = str.text_cache();
  ASSERT_NE(cache, 0u);

  n = 2;  // a shorter conversion reuses the buffer
  EXPECT_STREQ(string_to_utf8(str, &n), "x\xC3\xA9");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(str.text_cache(), cache);

  n = -1;
  const char16_t* utf16 = string_to_utf16(str, &n, true);
  EXPECT_EQ(std::u16string(utf16, n), u"x\u00E9\r\n\U0001F600");
  EXPECT_EQ(utf16[n], u'\0');
  EXPECT_EQ(str.text_cache(), cache);

  Cell at = str;
  at.set_head_index(3);  // from the position
  EXPECT_EQ(std::u16string(to_utf16_text(at)), u"\U0001F600");
  at.set_head_index(99);  // past the tail: empty
  n = -1;
  EXPECT_STREQ(string_to_utf8(at, &n), "");
  EXPECT_EQ(n, 0);

  uint8_t out[8];
  std::memset(out, 0xAA, sizeof out);
  EXPECT_EQ(encode_utf8_bounded(str, out, 3, -1, true), 2u);  // "x" then the first byte of U+00E9
  EXPECT_EQ(out[2], 0);
  EXPECT_EQ(out[3], 0xAA);
  EXPECT_EQ(encode_utf8_into(str, out, 2, true), 3u);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "x\xC3\xA9");

  Cell bad = string_cell(series_of(std::u32string{U'a', char32_t(0x110000)}, 4, 2));
  n = -1;
  EXPECT_EQ(string_to_utf16(bad, &n, false), nullptr);
}

}  // namespace
}  // namespace zem::unicode
