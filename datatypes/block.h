// block!: the list of values that is both data and code, and the helpers every module uses to build
// and walk blocks.
//
// A block value holds its head index in cells and the node of a buffer of 16-byte cells (see
// runtime/layout.h). Cell addresses answered here stay valid only until the next allocation into
// the same block or the next safe point; keep nodes (or rooted cells) across anything that may
// grow or collect.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"
#include "datatypes/registry.h"

namespace zem::block {

// block!, paren!, the four path kinds and hash!.
constexpr bool is_block_kind(TypeId t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_PATH || t == TYPE_LIT_PATH ||
         t == TYPE_SET_PATH || t == TYPE_GET_PATH || t == TYPE_HASH;
}
constexpr bool is_path_kind(TypeId t) {
  return t == TYPE_PATH || t == TYPE_LIT_PATH || t == TYPE_SET_PATH || t == TYPE_GET_PATH;
}
constexpr bool is_word_kind(TypeId t) {
  return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD ||
         t == TYPE_REFINEMENT || t == TYPE_ISSUE;
}

// ---- Construction ------------------------------------------------------------------------------

// An empty block with room for `capacity` cells (at least 1).
Cell make(uint32_t capacity = 0, TypeId type = TYPE_BLOCK);
void init_empty(Cell& cell, uint32_t capacity, TypeId type = TYPE_BLOCK);
// As init_empty; `big` asks for a buffer of its own (a big series) from the start.
void init_empty_cells(Cell& cell, uint32_t capacity, bool big);
// The root block: made once at start-up in the C heap and marked first by the collector; blocks
// the runtime keeps for itself live in slots of it.
struct BlockState {
  NodeId root = 0;
};
extern BlockState block_state;
void init_root();
// An empty block in a new slot at the parent block's tail (the root block when `parent` is null);
// answers the slot, valid until the parent's next growth.
Cell* make_in_parent(const Cell* parent, uint32_t capacity);
// As make_in_parent, with a buffer of its own (a big series) from the start.
Cell* make_big_in_parent(const Cell* parent, uint32_t capacity);

// A block value over an existing buffer.
inline Cell value_of(NodeId node, TypeId type = TYPE_BLOCK, uint32_t head = 0) {
  Cell c{};
  c.set_header(type);
  c.set_series(head, node);
  return c;
}

// ---- Reading -----------------------------------------------------------------------------------

// Cells from the head to the tail; a head beyond the tail counts 0.
uint32_t length(const Cell& block);
// Cells from the buffer's first cell to the tail.
inline uint32_t buffer_length(NodeId node) { return series_buffer(node)->length(); }
// Address of the head cell; a head beyond the tail is first set to the tail in the value.
Cell* head(Cell& block);
// The head cell address without touching the value (a head past the tail reads as the tail).
Cell* head_of(const Cell& block);
Cell* tail_cell(const Cell& block);
bool at_tail(const Cell& block);
// Advances the head by one while it stays within the tail; true once the tail is reached.
bool step_head(Cell& block);
// The cell at an absolute index from the buffer's first cell (no check).
inline Cell* cell_at_index(const Cell& block, uint32_t index) {
  return series_buffer(block.node())->cells_head() + index;
}

// ---- Writing -----------------------------------------------------------------------------------

// Room for `extra` more cells after the tail; grows to twice the need. Answers the buffer.
SeriesBuffer* reserve(NodeId node, uint64_t extra);
// Appends a copy of the value; answers the new cell. A hash! learns it.
Cell* append_cell(const Cell& block, const Cell& value);
// The raw form for buffers not seen through a value (no hash! upkeep).
Cell* append_cell(NodeId node, const Cell& value);
// Appends copies of n cells (which may lie in the block itself).
void append_cells(const Cell& block, const Cell* first, uint32_t n);
// Appends copies of the source's cells from its head.
void append_cells_from(const Cell& target, const Cell& source);
// Inserts one cell at the head, moving the rest up; a hash! is kept current.
void insert_cell(const Cell& block, const Cell& value);
// Inserts the source's cells at the target's head, in order, with one move of the rest; the
// source may be the target's own buffer. A hash! learns them.
void insert_cells_at_head(const Cell& target, const Cell& source);
// Tail := head cell.
void clear_at_head(const Cell& block);
// Tail := cell at the absolute index (when the buffer holds that many).
void truncate_at(NodeId node, uint32_t index);

// ---- The argument stack ----------------------------------------------------------------------

// Pushes a copy of the block value (the same buffer).
Cell* push_copy(const Cell& block);
// Pushes a new empty block! with room for `capacity` cells.
Cell* push_only(uint32_t capacity);
// Builders of compiled code: the newest argument-stack cell is appended to (inserted at the head
// of) the block in the cell just below it, then dropped, so the block is the newest cell again.
void append_result_to_block();
void insert_result_to_block();
// Appends the cell after the current frame's slot 0 to the block in slot 0.
void append_next_to_result();

// ---- Searching ---------------------------------------------------------------------------------

// The compare action of a's type under the code: -1, 0, 1, or kCannotCompare (also when the type has
// no compare handler).
int32_t cell_compare(const Cell& a, const Cell& b, CompareOp op);
// same? of two cells; kinds whose identity lies in the cell are decided without the compare action.
bool same_cells(const Cell& a, const Cell& b);
// The key equality of hash tables: the compare action under the table's code (0, 2, 9 or 12).
inline bool hash_key_equal(const Cell& stored, const Cell& key, uint32_t op) {
  return cell_compare(stored, key, static_cast<CompareOp>(op)) == 0;
}
// Equality under find/select (code 12).
inline bool find_equal(const Cell& a, const Cell& b) { return cell_compare(a, b, COMP_FIND) == 0; }
// The cell after the first cell equal to the value (code 12), or the shared none cell.
const Cell* select_equal(const Cell& block, const Cell& value);
// Removes the first cell equal to the value (code 12), searching from the head or, with
// `from_start`, from the first cell; false when none matched.
bool remove_equal(const Cell& block, const Cell& value, bool from_start);
// The cell after the first word kind (word!, set-word!, get-word!, lit-word!) that names the same
// word as `word` (case-insensitive), or the shared none cell.
const Cell* value_after_word(const Cell& block, const Cell& word);

// ---- Copying -----------------------------------------------------------------------------------

// A new block of the same type holding copies of the cells from the head; with `deep` every nested
// series is copied too (restricted to the types of `types`, a datatype! or typeset!, when given).
// A cyclic block raises internal `no-cycle` when copied deeply.
Cell copy_cells(const Cell& block, bool deep, const Cell* types = nullptr);
// Replaces every nested series value of the block (from its head) by a deep copy of itself.
void deep_copy_nested(const Cell& block, const Cell* types);

// ---- The datatype --------------------------------------------------------------------------------

void register_block_type();

}  // namespace zem::block

namespace zem::block {

// Refinement positions of the block actions (spec order of each action).
enum InsertRef : uint32_t { INSERT_PART, INSERT_ONLY, INSERT_DUP };
enum FindRef : uint32_t {
  FIND_PART, FIND_ONLY, FIND_CASE, FIND_SAME, FIND_ANY, FIND_WITH, FIND_SKIP, FIND_LAST,
  FIND_REVERSE, FIND_TAIL, FIND_MATCH,
};
enum SortRef : uint32_t { SORT_CASE, SORT_SKIP, SORT_COMPARE, SORT_PART, SORT_ALL, SORT_REVERSE, SORT_STABLE };
enum PutRef : uint32_t { PUT_CASE };

// Molds the values of a block from its head without brackets: the body shared by block!, paren! and
// the path kinds (new-line markers, indentation, the cycle guard's stack).
int32_t mold_body(const Cell& block, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                  int32_t indent);
// Form and mold of any value through its type's handler (internal `not-done` when it has none).
int32_t form_value(const Cell& value, TextOut& out, const Cell* part, int32_t limit);
int32_t mold_value(const Cell& value, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                   int32_t indent);

// The set operations on blocks (OP_UNIQUE with one series; OP_UNION, OP_INTERSECT, OP_EXCLUDE,
// OP_DIFFERENCE with two). `skip`, when given, must be an integer! of at least 1: records of that
// many cells are judged by their first cell. Answers a new block of the first series' type.
Cell set_operation(MathOp op, const Cell& a, const Cell* b, bool case_sensitive, const Cell* skip);

// Calls a function! comparator of sort (answers > 0 when a sorts after b) through the interpreter:
// user code, which may collect, change the series or raise. The wiring table's `sort_compare`.
int32_t call_function_comparator(const Cell& fn, const Cell& a, const Cell& b);

}  // namespace zem::block
