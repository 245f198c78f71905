// Series access shared by the loop natives: tails, picks and removals by absolute index.
#include "datatypes/block.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "datatypes/integer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"

namespace zem::natives {

bool is_series(TypeId t) {
  switch (t) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: case TYPE_PATH: case TYPE_LIT_PATH:
    case TYPE_SET_PATH: case TYPE_GET_PATH: case TYPE_STRING: case TYPE_FILE: case TYPE_URL:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: case TYPE_BINARY: case TYPE_VECTOR:
    case TYPE_IMAGE:
      return true;
    default:
      return false;
  }
}

uint32_t series_tail(const Cell& series) {
  if (series.is(TYPE_IMAGE)) return further_type_hooks().image_pixel_count(series);
  return series_length(series.node());
}

Cell run_action(ActionIndex a, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs) {
  stack::push_anon_frame(FRAME_NATIVE);
  for (const Cell& c : args) stack::push_value(c);
  std::vector<int32_t> r(refs);
  r.resize(actions::refinement_names(a).size(), -1);
  actions::call(a, r.data());
  Cell result = *stack::base();
  stack::pop_frame_to_base();  // the caller's own cells stay
  return result;
}

Cell pick_at(const Cell& series, uint32_t i) {
  if (i >= series_tail(series)) return make_none();
  if (block::is_block_kind(series.type()) || block::is_path_kind(series.type()))
    return *block::cell_at_index(series, i);
  if (str::is_text_type(series.type())) {
    Cell c{};
    c.set_header(TYPE_CHAR);
    Cell at = series;
    at.set_head_index(0);
    c.set_char_value(str::code_point_at(at, i));
    return c;
  }
  if (series.is(TYPE_VECTOR)) {
    SeriesBuffer* b = series_buffer(series.node());
    return further_type_hooks().vector_element(series, b->head_ptr() + static_cast<size_t>(i) * b->unit());
  }
  if (series.is(TYPE_IMAGE)) return further_type_hooks().image_pick_pixel(series, i);
  Cell at = series;
  at.set_head_index(i);
  return run_action(ActionIndex::pick, {at, make_integer(1)}, {});
}

void remove_at(const Cell& series, uint32_t i, uint32_t n) {
  uint32_t tail = series_tail(series);
  if (i >= tail) return;
  if (n > tail - i) n = tail - i;
  Cell at = series;
  at.set_head_index(i);
  run_action(ActionIndex::remove, {at, make_integer(static_cast<int32_t>(n))}, {1});
}

void set_word_any(const Cell& word, const Cell& value) { *interp::word_value(word) = value; }

}  // namespace zem::natives
