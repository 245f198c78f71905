// The url coders and the local path of a file. Expected encodings come from python3's
// urllib.parse.quote (safe='' for the strict set; the lax set's characters as `safe` for the lax
// one) and decodings of well-formed text from urllib.parse.unquote.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "datatypes/registry.h"
#include "datatypes/string_storage.h"
#include "datatypes/url.h"
#include "tests/unit/memory_fixture.h"

namespace zem::url {
namespace {

TEST(Url, PercentEncode) {
  struct Case {
    const char* text;
    const char* strict;
    const char* lax;
  };
  const Case cases[] = {
      {"a b", "a%20b", "a%20b"},
      {"caf\xC3\xA9", "caf%C3%A9", "caf%C3%A9"},
      {"\xE2\x82\xAC/x?y=1&z=2", "%E2%82%AC%2Fx%3Fy%3D1%26z%3D2", "%E2%82%AC/x?y=1&z=2"},
      {"~._-AZaz09", "~._-AZaz09", "~._-AZaz09"},
      {"http://host/a b(c)", "http%3A%2F%2Fhost%2Fa%20b%28c%29", "http://host/a%20b%28c%29"},
      {"tab\there", "tab%09here", "tab%09here"},
      {"100%", "100%25", "100%25"},
      {"\xF0\x9F\x98\x80", "%F0%9F%98%80", "%F0%9F%98%80"},
      {"<a>[b]{c}|d^e`f;g\\h\"i", "%3Ca%3E%5Bb%5D%7Bc%7D%7Cd%5Ee%60f%3Bg%5Ch%22i",
       "%3Ca%3E%5Bb%5D%7Bc%7D%7Cd%5Ee%60f%3Bg%5Ch%22i"},
  };
  for (const Case& c : cases) {
    StdStringOut strict, lax;
    percent_encode(c.text, true, strict);
    percent_encode(c.text, false, lax);
    EXPECT_EQ(strict.text(), c.strict) << c.text;
    EXPECT_EQ(lax.text(), c.lax) << c.text;
  }
  // A limit cuts the output and is answered reduced by what was written.
  StdStringOut cut;
  EXPECT_EQ(percent_encode("a b", false, cut, 3), 0);
  EXPECT_EQ(cut.text(), "a%2");
}

TEST(Url, PercentDecode) {
  const std::pair<const char*, const char*> cases[] = {
      {"a%20b", "a b"},
      {"%E2%82%AC", "\xE2\x82\xAC"},
      {"%e2%82%ac", "\xE2\x82\xAC"},
      {"%41%42", "AB"},
      {"%C3%A9t%C3%A9", "\xC3\xA9t\xC3\xA9"},
      {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
      {"caf\xC3\xA9%21", "caf\xC3\xA9!"},
      // Incomplete or malformed: the "%" stays and decoding goes on after it.
      {"%E2%82", "%E2%82"},
      {"%E2%82x", "%E2%82x"},
      {"%E2%41%AC", "%E2A%AC"},
      {"%", "%"},
      {"%4", "%4"},
      {"%zz%41", "%zzA"},
      {"%80", "%80"},
      {"%C0%80", "%C0%80"},          // overlong
      {"%ED%A0%80", "%ED%A0%80"},    // a surrogate
      {"%F4%90%80%80", "%F4%90%80%80"},  // above U+10FFFF
  };
  for (const auto& [text, want] : cases) EXPECT_EQ(percent_decode(text), want) << text;
  EXPECT_EQ(percent_decode("a%00b"), std::string("a\0b", 3));
}

class UrlValues : public testing::MemoryTest {
 protected:
  void SetUp() override {
    init_through(StartLayer::datatypes);
  }
};

TEST_F(UrlValues, LocalPath) {
  char buf[4096];
  ASSERT_NE(::getcwd(buf, sizeof buf), nullptr);
  std::string cwd = buf;
  if (cwd.back() != '/') cwd += '/';
  Cell rel = str::make_from_utf8("dir/x", TYPE_FILE);
  Cell abs = str::make_from_utf8("/srv/share", TYPE_FILE);
  Cell empty = str::make_from_utf8("", TYPE_FILE);
  EXPECT_EQ(to_local_path(rel, false), "dir/x");
  EXPECT_EQ(to_local_path(rel, true), cwd + "dir/x");
  EXPECT_EQ(to_local_path(abs, true), "/srv/share");
  EXPECT_EQ(to_local_path(empty, true), cwd);
}

}  // namespace
}  // namespace zem::url
