// The runtime entries through which C++ code (routines, the GUI back end) does what an interpreter
// does inline: argument checks, word and context access, refinement fetching, switch selection and
// loading a value from text. They work on the current frame of the argument stack; "the newest
// value" is the cell just below the stack top.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::rt {

// ---- Argument checks (the argument reference names the argument in the error) ----
// Answers the value when its type is in the typeset; else script `expect-arg` with the current
// call's word, the value's datatype and the argument.
Cell& check_arg_type(const Cell& typeset, const Cell& arg_ref, Cell& value);
// Checks argument cell i of the current frame (a negative index checks nothing).
void check_stack_arg_type(int32_t i, const Cell& typeset, const Cell& arg_ref);
// Checks only when the refinement cell is set (its first payload word not 0).
Cell& check_opt_arg_type(const Cell& refinement, const Cell& typeset, const Cell& arg_ref, Cell& value);
// unset! raises script `expect-arg` naming unset!.
Cell& check_arg_set(const Cell& arg_ref, Cell& value);

// ---- Words and context values (the value is the newest stack value) ----
// unset! raises script `need-value` with the word; else sets the word. The stmt forms then reset the
// stack top to the frame base.
void set_word_expr(Cell& word);
void set_word_stmt(Cell& word);
// Value slot i of a context (on the stack for a running function's context).
void set_ctx_value_expr(NodeId ctx, uint32_t i);
void set_ctx_value_stmt(NodeId ctx, uint32_t i);
// No unset check; in an object context word i gets the set mark; resets the stack top.
void set_ctx_slot(NodeId ctx, uint32_t i);
// The word's value cell; unset! raises script `no-value`.
Cell* get_word_checked(const Cell& word);
// Value slot i; a function context that is not running raises script `not-defined` with word i.
Cell* ctx_value_address(NodeId ctx, uint32_t i);

// ---- Refinements, switch, loading ----
// A true refinement value sets cell i of the frame (first payload word 1); otherwise the `count`
// argument cells after it become none!.
void fetch_refinements(const Cell& refinement_value, uint32_t i, uint32_t count);
// Finds cell 0 of the frame in the block in cell 1 (steps of 1 with `push`, else 2). With `switch_`
// the answer is the first block after the match, else the entry after it (or the match itself when
// it is last). `push` pushes the answer, else it goes to cell 0; none! when nothing matched.
void switch_select(bool push, bool switch_);
// Scans the whole string into the target as a block. Answers none! when the scan stopped before the
// end, the target set to unset! when the text holds no value, else the first value (a copy).
Cell load_value_into(const Cell& string, Cell& target);
// load_value_into with cell 0 of the current frame as the target.
Cell load_value(const Cell& string);

}  // namespace zem::rt
