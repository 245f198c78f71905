// The error catalogue's codes and lookups.
#include "runtime/error.h"
#include "runtime/wiring.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zem {
namespace {

Cell int_cell(uint32_t v) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.set_int_value(static_cast<int32_t>(v));
  return c;
}

TEST(ErrorCatalogue, CodesFollowCatalogueOrder) {
  struct Case {
    Err err;
    uint32_t code;
    const char* category;
    const char* id;
  };
  const Case cases[] = {
      {Err::throw_break, 2, "throw", "break"},
      {Err::throw_while_cond, 6, "throw", "while-cond"},
      {Err::note_no_load, 102, "note", "no-load"},
      {Err::syntax_bad_char, 208, "syntax", "bad-char"},
      {Err::script_no_value, 302, "script", "no-value"},
      {Err::script_out_of_range, 343, "script", "out-of-range"},
      {Err::script_invalid_compare, 345, "script", "invalid-compare"},
      {Err::script_bad_make_arg, 355, "script", "bad-make-arg"},
      {Err::script_zb_invalid_record, 395, "script", "zb-invalid-record"},
      {Err::math_zero_divide, 402, "math", "zero-divide"},
      {Err::access_invalid_cmd, 516, "access", "invalid-cmd"},
      {Err::user_message, 802, "user", "message"},
      {Err::internal_no_memory, 904, "internal", "no-memory"},
      {Err::internal_too_deep, 908, "internal", "too-deep"},
      {Err::internal_not_done, 911, "internal", "not-done"},
      {Err::internal_deprecated, 915, "internal", "deprecated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(static_cast<uint32_t>(c.err), c.code);
    EXPECT_EQ(error_id_word(c.code), c.id);
    EXPECT_EQ(error_code_of(c.category, c.id), c.code);
    EXPECT_EQ(error_category(error_category_of(c.err)).word, c.category);
  }
}

TEST(ErrorCatalogue, CategoriesAndLookupBounds) {
  const uint32_t counts[] = {5, 1, 7, 94, 3, 16, 0, 0, 1, 14};
  const char* titles[] = {"Throw Error", "note",          "Syntax Error",    "Script Error",
                          "Math Error",  "Access Error",  "Reserved1 Error", "Reserved2 Error",
                          "User Error",  "Internal Error"};
  for (uint32_t n = 0; n < kErrCategoryCount; n++) {
    const ErrCategoryInfo& info = error_category(n);
    EXPECT_EQ(info.number, n);
    EXPECT_EQ(info.id_count, counts[n]) << info.word;
    EXPECT_EQ(info.title, titles[n]);
    // Every code of the category names an id that maps back to the same code.
    for (uint32_t pos = 2; pos < info.id_count + 2; pos++) {
      std::string_view id = error_id_word(n * 100 + pos);
      ASSERT_FALSE(id.empty());
      EXPECT_EQ(error_code_of(info.word, id), n * 100 + pos);
    }
    EXPECT_TRUE(error_id_word(n * 100 + info.id_count + 2).empty());
    EXPECT_TRUE(error_id_word(n * 100 + 1).empty());  // the `type` word is no id
  }
  EXPECT_TRUE(error_id_word(1002).empty());
  EXPECT_EQ(error_code_of("script", "no-such-id"), 0u);
  EXPECT_EQ(error_code_of("no-such-category", "no-value"), 0u);
  EXPECT_EQ(error_code_of("math", "no-value"), 0u);  // ids are looked up within their category
}

TEST(Fire, CarriesCodeAndArgumentsInPendingRecord) {
  Cell a = int_cell(7), b = int_cell(8);
  try {
    fire(Err::script_expect_arg, &a, &b);
    FAIL() << "fire returned";
  } catch (const Unwind& u) {
    EXPECT_EQ(u.code, EXIT_ERROR);
  }
  const PendingExit& p = pending_exit();
  EXPECT_EQ(p.code, EXIT_ERROR);
  EXPECT_EQ(p.error, Err::script_expect_arg);
  EXPECT_EQ(p.args[0].int_value(), 7);
  EXPECT_EQ(p.args[1].int_value(), 8);
  EXPECT_EQ(p.args[2].type(), TYPE_NONE_ID);

  // Re-raising with an argument taken from the record itself keeps its value.
  try {
    fire(Err::internal_too_deep, &pending_exit().args[1]);
  } catch (const Unwind&) {
  }
  EXPECT_EQ(pending_exit().error, Err::internal_too_deep);
  EXPECT_EQ(pending_exit().args[0].int_value(), 8);
  EXPECT_EQ(pending_exit().args[1].type(), TYPE_NONE_ID);

  clear_pending_exit();
  EXPECT_EQ(pending_exit().code, EXIT_NONE);
}

TEST(Fire, RaiserSeesRecordAndMarkingVisitsPayload) {
  static int raised = 0;
  wiring.raise_error = [](PendingExit& p) {
    raised++;
    p.value = int_cell(static_cast<uint32_t>(p.error));
  };
  Cell a = int_cell(1);
  EXPECT_THROW(fire(Err::math_overflow, &a), Unwind);
  wiring.raise_error = nullptr;
  EXPECT_EQ(raised, 1);

  std::vector<uint32_t> seen;
  mark_pending_exit(
      [](Cell& c, void* user) { static_cast<std::vector<uint32_t>*>(user)->push_back(static_cast<uint32_t>(c.int_value())); },
      &seen);
  EXPECT_EQ(seen, (std::vector<uint32_t>{1, 403}));
  clear_pending_exit();
}

}  // namespace
}  // namespace zem
