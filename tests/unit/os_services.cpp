// Process-level services: memory pages and the console hand-off.
#include "services/os/services.h"

#include <gtest/gtest.h>

#include <cstring>

#include "datatypes/integer.h"
#include "runtime/error.h"

namespace zem::os {
namespace {

TEST(OsServices, PagesAreWritableZeroedAndNeverExecutable) {
  EXPECT_EQ(virtual_alloc(1 << 16, true), nullptr);
  EXPECT_EQ(virtual_alloc(0, false), nullptr);
  auto* p = static_cast<unsigned char*>(virtual_alloc(1 << 16, false));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p[0], 0);
  EXPECT_EQ(p[(1 << 16) - 1], 0);
  std::memset(p, 0xAB, 1 << 16);
  EXPECT_TRUE(virtual_free(p, 1 << 16));
  EXPECT_EQ(virtual_alloc(size_t{1} << 62, false), nullptr);  // more than the system has
}

TEST(OsServices, NoConsoleIsAttached) {
  EXPECT_FALSE(alloc_console());
  free_console();
}

TEST(OsServices, KernelReleaseNumbers) {
  const struct {
    const char* release;
    std::array<uint8_t, 3> numbers;
  } cases[] = {
      {"6.18.44-fc-v1523", {6, 18, 44}}, {"6.1.0-18-amd64", {6, 1, 0}}, {"5.15", {5, 15, 0}},
      {"4.9.337", {4, 9, 255}},          {"6.8.0.1.2", {6, 8, 0}},      {"6.2-rc1", {6, 2, 0}},
      {"", {0, 0, 0}},                   {"abc", {0, 0, 0}},             {"3..1", {3, 0, 0}},
      {"99999999999999999999.1.2", {255, 1, 2}},
  };
  for (const auto& c : cases) EXPECT_EQ(release_numbers(c.release), c.numbers) << c.release;
}

TEST(OsServices, TypeCheckRaisesInvalidArgWithTheValue) {
  Cell n = make_integer(42);
  check_type(n, TYPE_INTEGER);  // the right type passes
  try {
    check_type(n, TYPE_STRING);
    ADD_FAILURE() << "no error raised";
  } catch (const Unwind& u) {
    EXPECT_EQ(u.code, EXIT_ERROR);
    EXPECT_EQ(pending_exit().error, Err::script_invalid_arg);
    EXPECT_TRUE(pending_exit().args[0].is(TYPE_INTEGER));
    EXPECT_EQ(pending_exit().args[0].int_value(), 42);
    clear_pending_exit();
  }
}

}  // namespace
}  // namespace zem::os
