// Raising errors: the error record, the pending exit and the unwinding throw.
#include "runtime/error.h"

#include <iterator>

#include "runtime/wiring.h"

namespace zem {

namespace {

constexpr ErrCategoryInfo kCategories[] = {
#define ZEM_ERROR_CATEGORY(num, cat, word, title) \
  {num, word, title, err_detail::cat##_end_ - err_detail::cat##_base_ - 1},
#define ZEM_ERROR(cat, id, word)
#define ZEM_ERROR_CATEGORY_END(cat)
#include "runtime/error_ids.def"
#undef ZEM_ERROR_CATEGORY
#undef ZEM_ERROR
#undef ZEM_ERROR_CATEGORY_END
};
static_assert(std::size(kCategories) == kErrCategoryCount);

struct IdEntry {
  uint32_t code;
  std::string_view word;
};

constexpr IdEntry kIds[] = {
#define ZEM_ERROR_CATEGORY(num, cat, word, title)
#define ZEM_ERROR(cat, id, word) {err_detail::cat##_##id, word},
#define ZEM_ERROR_CATEGORY_END(cat)
#include "runtime/error_ids.def"
#undef ZEM_ERROR_CATEGORY
#undef ZEM_ERROR
#undef ZEM_ERROR_CATEGORY_END
};

// Index of the first id of each category in kIds.
constexpr uint32_t first_id_index(uint32_t category) {
  uint32_t i = 0;
  for (uint32_t c = 0; c < category; c++) i += kCategories[c].id_count;
  return i;
}

struct ErrorState {
  PendingExit pending;
};
ErrorState g_error;

}  // namespace

const ErrCategoryInfo& error_category(uint32_t number) { return kCategories[number]; }

std::string_view error_id_word(uint32_t code) {
  uint32_t category = code / 100, position = code % 100;
  if (category >= kErrCategoryCount) return {};
  const ErrCategoryInfo& info = kCategories[category];
  if (position < 2 || position - 2 >= info.id_count) return {};
  return kIds[first_id_index(category) + position - 2].word;
}

uint32_t error_code_of(std::string_view category, std::string_view id) {
  for (const ErrCategoryInfo& info : kCategories) {
    if (info.word != category) continue;
    const IdEntry* first = kIds + first_id_index(info.number);
    for (uint32_t i = 0; i < info.id_count; i++)
      if (first[i].word == id) return first[i].code;
    return 0;
  }
  return 0;
}

PendingExit& pending_exit() { return g_error.pending; }

void clear_pending_exit() { g_error.pending = PendingExit{}; }

void mark_pending_exit(void (*mark)(Cell&, void*), void* user) {
  PendingExit& p = g_error.pending;
  for (Cell& c : p.args)
    if (c.type() != TYPE_NONE_ID) mark(c, user);
  if (p.value.type() != TYPE_NONE_ID) mark(p.value, user);
  if (p.name.type() != TYPE_NONE_ID) mark(p.name, user);
}

void fire(Err id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  PendingExit& p = g_error.pending;
  // Copy the arguments before clearing: one of them may live in the record itself.
  const Cell* given[3] = {arg1, arg2, arg3};
  Cell args[3] = {};
  for (int i = 0; i < 3; i++)
    if (given[i]) args[i] = *given[i];
  p = PendingExit{};
  p.code = EXIT_ERROR;
  p.error = id;
  for (int i = 0; i < 3; i++) p.args[i] = args[i];
  if (wiring.raise_error) wiring.raise_error(p);
  throw Unwind{EXIT_ERROR};
}

}  // namespace zem
