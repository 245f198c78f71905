#include "datatypes/block.h"

#include <algorithm>
#include <cstring>

#include "datatypes/series.h"
#include "datatypes/string_storage.h"
#include "datatypes/type_hooks.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "runtime/error.h"
#include "runtime/support.h"

namespace zem::block {

namespace {

constexpr uint32_t kCell = sizeof(Cell);

inline FurtherTypeHooks& hooks() { return further_type_hooks(); }

}  // namespace

// ---- Construction ------------------------------------------------------------------------------

void init_empty(Cell& cell, uint32_t capacity, TypeId type) {
  cell = value_of(alloc::make_cells(std::max<uint32_t>(capacity, 1)), type);
}

Cell make(uint32_t capacity, TypeId type) {
  Cell c;
  init_empty(c, capacity, type);
  return c;
}

void init_empty_cells(Cell& cell, uint32_t capacity, bool big) {
  uint64_t cells = std::max<uint32_t>(capacity, 1);
  // A big series is any buffer of at least a frame's maximum: asking for that much gives one.
  if (big) cells = std::max<uint64_t>(cells, kMaxFrameSize / kCell);
  cell = value_of(alloc::make_cells(static_cast<int64_t>(cells)));
}

// ---- Reading -----------------------------------------------------------------------------------

uint32_t length(const Cell& block) {
  uint32_t len = series_buffer(block.node())->length();
  return block.data1 >= len ? 0 : len - block.data1;
}

Cell* head(Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  uint32_t len = b->length();
  if (block.data1 > len) block.data1 = len;
  return b->cells_head() + block.data1;
}

Cell* head_of(const Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  return b->cells_head() + std::min(block.data1, b->length());
}

Cell* tail_cell(const Cell& block) { return series_buffer(block.node())->cells_tail(); }

bool at_tail(const Cell& block) { return block.data1 >= series_buffer(block.node())->length(); }

bool step_head(Cell& block) {
  uint32_t len = series_buffer(block.node())->length();
  if (block.data1 < len) block.data1++;
  return block.data1 >= len;
}

// ---- Writing -----------------------------------------------------------------------------------

SeriesBuffer* reserve(NodeId node, uint64_t extra) {
  SeriesBuffer* b = series_buffer(node);
  uint64_t bytes = extra * kCell;
  if (bytes <= b->room()) return b;
  uint64_t need = static_cast<uint64_t>(b->used()) + bytes;
  uint64_t grown = need * 2;
  if (grown > static_cast<uint64_t>(kMaxSeriesBytes)) grown = need;  // alloc raises when too big
  return alloc::expand_copy(node, static_cast<int64_t>(grown));
}

Cell* append_cell(NodeId node, const Cell& value) {
  SeriesBuffer* b = series_buffer(node);
  if (b->room() < kCell) {
    Cell copy = value;  // the value may live in the buffer that moves
    b = reserve(node, 1);
    Cell* slot = b->cells_tail();
    *slot = copy;
    b->tail += kCell;
    return slot;
  }
  Cell* slot = b->cells_tail();
  *slot = value;
  b->tail += kCell;
  return slot;
}

Cell* append_cell(const Cell& block, const Cell& value) {
  NodeId node = block.node();
  Cell* slot = append_cell(node, value);
  if (block.is(TYPE_HASH)) {
    uint32_t at = series_buffer(node)->length() - 1;
    hooks().hash_inserted(block, at, 1);
    slot = series_buffer(node)->cells_head() + at;
  }
  return slot;
}

void append_cells(const Cell& block, const Cell* first, uint32_t n) {
  if (n == 0) return;
  NodeId node = block.node();
  SeriesBuffer* b = series_buffer(node);
  // Offsets, not addresses: the source may lie in the buffer that grows.
  bool inside = first >= b->cells_head() && first < b->cells_end();
  uint32_t from = inside ? static_cast<uint32_t>(first - b->cells_head()) : 0;
  b = reserve(node, n);
  if (inside) first = b->cells_head() + from;
  uint32_t at = b->length();
  std::memmove(b->cells_tail(), first, static_cast<size_t>(n) * kCell);
  b->tail += n * kCell;
  if (block.is(TYPE_HASH)) hooks().hash_inserted(block, at, n);
}

void append_cells_from(const Cell& target, const Cell& source) {
  append_cells(target, head_of(source), length(source));
}

void insert_cell(const Cell& block, const Cell& value) {
  Cell copy = value;
  NodeId node = block.node();
  SeriesBuffer* b = reserve(node, 1);
  uint32_t len = b->length();
  uint32_t at = std::min(block.data1, len);
  Cell* p = b->cells_head() + at;
  std::memmove(p + 1, p, static_cast<size_t>(len - at) * kCell);
  *p = copy;
  b->tail += kCell;
  if (block.is(TYPE_HASH)) hooks().hash_inserted(block, at, 1);
}

void insert_cells_at_head(const Cell& target, const Cell& source) {
  uint32_t n = length(source);
  Cell at = target;
  for (uint32_t i = 0; i < n; i++) {
    Cell value = *(head_of(source) + i);
    insert_cell(at, value);
    at.data1++;
  }
}

void clear_at_head(const Cell& block) {
  SeriesBuffer* b = series_buffer(block.node());
  if (block.data1 < b->length()) b->set_length(block.data1);
}

void truncate_at(NodeId node, uint32_t index) {
  SeriesBuffer* b = series_buffer(node);
  if (index < b->length()) b->set_length(index);
}

// ---- Searching ---------------------------------------------------------------------------------

int32_t cell_compare(const Cell& a, const Cell& b, CompareOp op) {
  CompareHandler h = compare_handler(a.type());
  return h ? h(a, b, op) : kCannotCompare;
}

const Cell* select_equal(const Cell& block, const Cell& value) {
  uint32_t n = length(block);
  for (uint32_t i = 0; i < n; i++) {
    const Cell* c = head_of(block) + i;
    if (find_equal(*c, value)) return i + 1 < n ? head_of(block) + i + 1 : &shared_cells.none;
  }
  return &shared_cells.none;
}

bool remove_equal(const Cell& block, const Cell& value, bool from_start) {
  SeriesBuffer* b = series_buffer(block.node());
  uint32_t len = b->length();
  uint32_t start = from_start ? 0 : std::min(block.data1, len);
  for (uint32_t i = start; i < len; i++) {
    if (!find_equal(b->cells_head()[i], value)) continue;
    b = series_buffer(block.node());
    Cell* p = b->cells_head() + i;
    std::memmove(p, p + 1, static_cast<size_t>(len - i - 1) * kCell);
    b->tail -= kCell;
    if (block.is(TYPE_HASH)) hooks().hash_removed(block, i, 1);
    return true;
  }
  return false;
}

const Cell* value_after_word(const Cell& block, const Cell& word) {
  Cell key = word;
  key.set_type(TYPE_WORD);
  uint32_t n = length(block);
  for (uint32_t i = 0; i < n; i++) {
    Cell c = head_of(block)[i];
    TypeId t = c.type();
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD) continue;
    c.set_type(TYPE_WORD);
    if (cell_compare(c, key, COMP_EQUAL) != 0) continue;
    return i + 1 < n ? head_of(block) + i + 1 : &shared_cells.none;
  }
  return &shared_cells.none;
}

}  // namespace zem::block

namespace zem::block {

void register_block_type() {
  HandlerRow row(kInherit);
  register_type(TYPE_BLOCK, TYPE_SERIES, "block!", row);
}

}  // namespace zem::block
