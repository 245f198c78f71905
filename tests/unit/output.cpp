// The standard output writer: UTF-8 of each unit width, LF line ends, batching with the list-2
// echo, number formats, where language-level print goes, and a closed pipe.
#include "services/output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "runtime/error.h"
#include "runtime/hooks.h"
#include "tests/unit/support_capture.h"

namespace zem {
namespace {

using test::CaptureOutput;

std::string u8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

template <class T>
std::vector<T> units(std::initializer_list<uint32_t> cps) {
  std::vector<T> v;
  for (uint32_t cp : cps) v.push_back(static_cast<T>(cp));
  return v;
}

TEST(Output, EncodesEachUnitWidthAsUtf8) {
  CaptureOutput cap;
  auto l1 = units<uint8_t>({'A', 0xE9, 0x7F, 0xFF});
  auto l2 = units<uint16_t>({0x20AC, 'z', 0x7FF, 0x800, 0xFFFF});
  auto l4 = units<uint32_t>({0x1F600, 0x10FFFF, 0x10000, 0xE9});
  stdio::write(l1.data(), l1.size(), 1, false);
  stdio::write(l2.data(), l2.size() * 2, 2, false);
  stdio::write(l4.data(), l4.size() * 4, 4, false);
  std::string expected = u8(u8"A\u00E9\u007F\u00FF") + u8(u8"\u20ACz\u07FF\u0800\uFFFF") +
                         u8(u8"\U0001F600\U0010FFFF\U00010000\u00E9");
  EXPECT_EQ(cap.stdout_text(), expected);
  EXPECT_EQ(CaptureOutput::list2_text(), expected);
}

TEST(Output, Unit2SurrogatesAreNotJoinedAndEscGoesOutAsText) {
  CaptureOutput cap;
  auto l2 = units<uint16_t>({0xD83D, 0xDE00, 0x1B, '['});
  stdio::print_ucs2(l2.data(), l2.size() * 2);
  EXPECT_EQ(cap.stdout_text(), "\xED\xA0\xBD\xED\xB8\x80\x1B[");
}

TEST(Output, CodePointAboveUnicodeRaisesAfterPrintingWhatCameBefore) {
  CaptureOutput cap;
  auto l4 = units<uint32_t>({'a', 'b', 0x110000, 'c'});
  try {
    stdio::write(l4.data(), l4.size() * 4, 4, true);
    ADD_FAILURE() << "no error raised";
  } catch (const Unwind& u) {
    EXPECT_EQ(u.code, EXIT_ERROR);
    EXPECT_EQ(pending_exit().error, Err::script_invalid_char);
  }
  clear_pending_exit();
  EXPECT_EQ(cap.stdout_text(), "ab");
  stdio::print_cstr("!");  // the writer carries on
  EXPECT_EQ(cap.stdout_text(), "ab!");
}

TEST(Output, LineEndsAreLf) {
  CaptureOutput cap;
  auto l2 = units<uint16_t>({'b'});
  auto l4 = units<uint32_t>({'c'});
  stdio::print_latin1_line("a", 1);
  stdio::print_ucs2_line(l2.data(), 2);
  stdio::print_ucs4_line(l4.data(), 4);
  stdio::print_latin1_line("", 0);  // just the line end
  stdio::write_ucs4(l4.data(), 4);
  EXPECT_EQ(cap.stdout_text(), "a\nb\nc\n\nc");
}

TEST(Output, LongTextIsFlushedInBatchesEachEchoedOnce) {
  CaptureOutput cap;
  std::string text;
  for (int i = 0; i < 3000; ++i) text += static_cast<char>('a' + i % 26);
  std::vector<uint32_t> wide(700, 0x20AC);  // 3 bytes each: 2100 bytes
  stdio::print_latin1_line(text.data(), text.size());
  stdio::write(wide.data(), wide.size() * 4, 4, false);
  std::string euro_run;
  for (int i = 0; i < 700; ++i) euro_run += u8(u8"\u20AC");
  EXPECT_EQ(cap.stdout_text(), text + "\n" + euro_run);
  EXPECT_EQ(CaptureOutput::list2_text(), text + "\n" + euro_run);
  EXPECT_GE(CaptureOutput::list2_calls(), 6);  // no batch above the 1 KB buffer
}

TEST(Output, CStringsPassThroughAndAreEchoedOnce) {
  CaptureOutput cap;
  const char* s = "caf\xC3\xA9\n";
  EXPECT_EQ(stdio::print_cstr(s), s);
  EXPECT_EQ(cap.stdout_text(), s);
  EXPECT_EQ(CaptureOutput::list2_text(), s);
  EXPECT_EQ(CaptureOutput::list2_calls(), 1);
}

TEST(Output, NumberFormats) {
  CaptureOutput cap;
  struct Case {
    void (*print)();
    std::string expected;
  };
  char f64[64], f32[64], f64b[64], f32b[64];
  std::snprintf(f64, sizeof f64, "%.16g", 0.1 + 0.2);
  std::snprintf(f64b, sizeof f64b, "%.16g", 1e300 * 10);
  std::snprintf(f32, sizeof f32, "%.7g", static_cast<double>(1.0f / 3.0f));
  std::snprintf(f32b, sizeof f32b, "%.7g", static_cast<double>(2.5e-8f));
  std::vector<Case> cases = {
      {[] { stdio::print_int(-2147483647 - 1); }, "-2147483648"},
      {[] { stdio::print_int(42); }, "42"},
      {[] { stdio::print_hex_byte(10); }, "0A"},
      {[] { stdio::print_hex32(-2); }, "FFFFFFFE"},
      {[] { stdio::print_hex32(0xBEEF); }, "0000BEEF"},
      {[] { stdio::print_float64(0.1 + 0.2); }, f64},
      {[] { stdio::print_float64(1e300 * 10); }, f64b},
      {[] { stdio::print_float64(100.0); }, "100"},
      {[] { stdio::print_float64(1e21); }, "1e+21"},
      {[] { stdio::print_float32(1.0f / 3.0f); }, f32},
      {[] { stdio::print_float32(2.5e-8f); }, f32b},
  };
  std::string all;
  for (const Case& c : cases) {
    size_t before = CaptureOutput::list2_text().size();
    c.print();
    EXPECT_EQ(CaptureOutput::list2_text().substr(before), c.expected);
    all += c.expected;
  }
  EXPECT_EQ(cap.stdout_text(), all);
  EXPECT_EQ(CaptureOutput::list2_calls(), static_cast<int>(cases.size()));
}

std::string list1_seen;
void on_list1(const Cell* value, int32_t lf) {
  list1_seen += value->raw_words()[0] == 7 ? "value" : "?";
  list1_seen += lf ? "/lf" : "";
}

TEST(Output, LanguagePrintGoesToListOneOrElseToStdoutWithoutEcho) {
  CaptureOutput cap;
  Cell value{};
  value.set_raw_words(7, 0, 0);  // a marker the list-one callback recognises
  stdio::print_formed(&value, "hi", 2, 1, true);
  EXPECT_EQ(cap.stdout_text(), "hi\n");
  EXPECT_EQ(CaptureOutput::list2_calls(), 0);  // a console on both lists shows it once

  list1_seen.clear();
  hooks::add(on_list1, nullptr);
  stdio::print_formed(&value, "there", 5, 1, false);
  hooks::remove(on_list1, nullptr);
  EXPECT_EQ(list1_seen, "value");
  EXPECT_EQ(cap.stdout_text(), "hi\n");
  EXPECT_EQ(CaptureOutput::list2_calls(), 0);
}

TEST(Output, AClosedPipeEndsPrintingQuietlyNotTheProcess) {
  CaptureOutput cap;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  stdio::set_handle(fds[1]);
  std::string big(100000, 'x');
  stdio::print_latin1_line(big.data(), big.size());
  stdio::print_cstr("more");
  stdio::print_int(1);
  EXPECT_TRUE(stdio::output_state.broken);
  close(fds[1]);
  // A new handle prints again; hooks saw everything all along.
  int ok[2];
  ASSERT_EQ(pipe(ok), 0);
  stdio::set_handle(ok[1]);
  stdio::print_cstr("back");
  char buf[8] = {};
  ASSERT_EQ(read(ok[0], buf, 4), 4);
  EXPECT_STREQ(buf, "back");
  EXPECT_EQ(CaptureOutput::list2_text(), big + "\nmore1back");
  close(ok[0]);
  close(ok[1]);
}

}  // namespace
}  // namespace zem
