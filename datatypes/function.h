// function! and routine!: functions with a spec block and a body block (function!) or a routine
// registry entry (routine!).
//
// function! cell (layout in runtime/layout.h): the function's context (values on the argument
// stack while a call runs), the spec block's node and the node of the five-cell FunctionMore block
// (body copy, argument cache, compiled entry, op copy, enclosing object context). The context's
// cell 1 holds a copy of the function value.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace zem::function {

// Validates a spec block (from its head); answers the attribute flags (trace / no-trace).
uint32_t check_spec(const Cell& spec);
// check_spec without raising: false for a spec it would refuse (a type word of any context but
// the global one included).
bool spec_valid(const Cell& spec, uint32_t& flags);
// Builds a function! value from a spec and a body (none: no body); the context is made from the
// spec when `context` is 0, and the body copy is then bound to it. The value is pushed on the
// argument stack and answered.
Cell build_value(const Cell& spec, const Cell& body, NodeId context, int32_t entry,
                 NodeId object, uint32_t flags);
// A function! value from parts already made (the Zembin decoder): the context (whose owner cell gets
// the value), the spec block's node and the body (a block, or none). Nothing is copied or bound:
// a body shared with another function stays shared.
Cell assemble(NodeId context, NodeId spec, const Cell& body, uint32_t flags);
// A routine! value for a routine registry entry; `result_type` -1 for none.
Cell make_routine(const Cell& spec, int32_t entry, int32_t result_type, bool cell_convention);
// For `function`: adds to the spec (after a /local, appended when missing) every word the body
// sets that the spec does not name; /extern words (and the spec from /extern on) are left out.
void collect_locals(const Cell& spec, const Cell& body);
// Slots of the spec's /local section (the /local refinement and each word after it), or -1 with
// `require` when there is none (0 without).
int32_t count_locals(NodeId spec, uint32_t start, bool require);
// Pushes logic false and n - 1 none cells.
void push_unused_refinement(uint32_t n);

void register_function();
void register_routine();

}  // namespace zem::function
