// The bookkeeping of the tracing tools (library/tools.zem) that runs once per traced event: the
// guided tracer's nesting levels. The Zem functions keep their specs and call these.
//
// Nothing here evaluates Zem code, so no collection happens while a routine runs: values stay
// where they are, but buffer addresses are re-read after every append (a buffer may grow).
#include <cstdint>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem::library {

namespace {

// The value of an object's field.
Cell& field(const Cell& object, std::string_view name) {
  uint32_t sym = symbol::intern(name);
  Cell* slot = context::symbol_value_cell(sym, object.object_context());
  if (!slot) {
    Cell w = make_word_cell(sym, 0);
    fire(Err::script_not_in_context, &w);
  }
  return *slot;
}

// A field that must hold a block.
Cell block_field(const Cell& object, std::string_view name) {
  Cell b = field(object, name);
  if (!b.is(TYPE_BLOCK)) fire(Err::script_invalid_arg, &b);
  return b;
}

// take/last: the last value from the block's position, none when there is none.
Cell take_last(const Cell& b) {
  if (block::length(b) == 0) return shared_cells.none;
  uint32_t last = block::buffer_length(b.node()) - 1;
  Cell v = *block::cell_at_index(b, last);
  block::truncate_at(b.node(), last);
  return v;
}

// free/get: a block of the free list, or a new one.
Cell free_get(const Cell& list) {
  if (block::length(list) == 0) return block::make(10);
  return take_last(list);
}

// free/put: small blocks go back to the list, cleared and at their head, once.
void free_put(const Cell& list, const Cell& b) {
  if (block::length(b) >= 100) return;
  block::truncate_at(b.node(), 0);
  Cell head = block::value_of(b.node(), TYPE_BLOCK, 0);
  uint32_t n = block::length(list);
  for (uint32_t i = 0; i < n; i++)
    if (block::same_cells(block::head_of(list)[i], head)) return;
  block::append_cell(list, head);
}

Cell word_value(const Cell& w) {
  if (!block::is_word_kind(w.type())) fire(Err::script_invalid_arg, &w);
  return *context::word_value_cell(w);
}

void set_word(const Cell& w, const Cell& v) {
  Cell word = w;
  context::set_word_value(word, v);
}

}  // namespace

// The guided tracer's levels: with a frame pair, the current level is pushed on the data object's
// `stack` (the frame, the length of `path`, the values of the `saved` words) and those words
// start afresh (blocks from the free list, integers 0); with none, the last level is put back,
// its blocks returned to the free list.
const Cell* trace_level(Cell* args, uint32_t) {
  static Cell result;
  const Cell data = args[0], list = args[1], frame = args[2];
  const Cell stack = block_field(data, "stack");
  const Cell path = block_field(data, "path");
  const Cell saved = block_field(data, "saved");
  uint32_t n = block::length(saved);
  if (frame.is(TYPE_PAIR)) {
    block::append_cell(stack, frame);
    block::append_cell(stack, make_integer(static_cast<int32_t>(block::length(path))));
    for (uint32_t i = 0; i < n; i++) {
      Cell w = block::head_of(saved)[i];
      Cell v = word_value(w);
      block::append_cell(stack, v);
      set_word(w, v.is(TYPE_BLOCK) ? free_get(list) : make_integer(0));
    }
    return nullptr;
  }
  // Events left out by `trace false` can leave fewer levels than exits.
  if (block::length(stack) == 0) return nullptr;
  for (uint32_t i = n; i-- > 0;) {
    Cell w = block::head_of(saved)[i];
    Cell v = word_value(w);
    if (v.is(TYPE_BLOCK)) free_put(list, v);
    set_word(w, take_last(stack));
  }
  Cell keep = take_last(stack);
  if (keep.is(TYPE_INTEGER) && keep.int_value() >= 0) {
    uint64_t at = uint64_t{path.head_index()} + static_cast<uint64_t>(keep.int_value());
    if (at < block::buffer_length(path.node())) block::truncate_at(path.node(), static_cast<uint32_t>(at));
  }
  result = take_last(stack);
  return &result;
}

}  // namespace zem::library
