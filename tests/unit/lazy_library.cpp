// Libraries bound on first use: symbols filled from a real shared library, all-or-nothing binding,
// and the error a caller raises when the library is missing.
#include "services/lazy_library.h"

#include <gtest/gtest.h>

#include "tests/unit/memory_fixture.h"
#include "tests/unit/support_values.h"

namespace zem {
namespace {

using Unary = double (*)(double);

TEST(LazyLibrary, BindsEverySymbolOrNone) {
  Unary cosine = nullptr, square_root = nullptr;
  ASSERT_TRUE(lazy::bind("libm.so.6", {{"cos", &cosine}, {"sqrt", &square_root}}));
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(square_root(16.0), 4.0);

  const struct {
    const char* soname;
    const char* second;
  } failing[] = {
      {"libm.so.6", "zem_no_such_symbol"},      // one symbol missing: the found one is not kept
      {"libzem-no-such-library.so.1", "cos"},  // no library
  };
  for (const auto& c : failing) {
    Unary first = nullptr, second = nullptr;
    EXPECT_FALSE(lazy::bind(c.soname, {{"cos", &first}, {c.second, &second}})) << c.soname << c.second;
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
  }
}

class LazyLibraryError : public testing::RuntimeTest<StartLayer::library> {};

TEST_F(LazyLibraryError, MissingLibraryIsCannotOpenNamingIt) {
  EXPECT_EQ(test::raised([] { lazy::missing("libcurl.so.4"); }), Err::access_cannot_open);
  EXPECT_EQ(test::form_text(pending_exit().value).rfind("*** Access Error: cannot open: \"libcurl.so.4\"\n", 0), 0u)
      << test::form_text(pending_exit().value);
  clear_pending_exit();
}

}  // namespace
}  // namespace zem
