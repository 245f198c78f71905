// What the interpreter's own files share: result placement, frames and the scopes that root the
// code being evaluated. Nothing outside evaluator/interpreter.cpp and evaluator/path_eval.cpp
// includes this.
#pragma once

#include "evaluator/interpreter.h"
#include "evaluator/trace.h"

namespace zem::interp {

inline uint32_t length_of(NodeId node) { return series_buffer(node)->used() / sizeof(Cell); }

// The result just placed.
inline const Cell& placed(Dest dest) {
  return dest == Dest::push ? *(stack::top() - 1) : *stack::base();
}

// Puts a result where the expression's caller wants it.
[[gnu::always_inline]] inline void place(const Cell& v, Dest dest) {
  if (dest == Dest::push)
    stack::push_value(v);
  else
    stack::set_single_result(v);
  if (tracing()) trace::fire_here(TRACE_PUSH, placed(dest));
}

// Drops the top frame and everything the callee pushed (top = callee's base).
inline void drop_frame() {
  StackState& s = stack_state;
  CallFrame* f = --s.call_top;
  s.top = s.base;
  s.base = s.bottom + f->caller_base;
}

// Keeps a path rooted while it is evaluated.
struct PathScope {
  explicit PathScope(const Cell& path) { interp_state.paths.push_back(path); }
  ~PathScope() { interp_state.paths.pop_back(); }
  PathScope(const PathScope&) = delete;
  PathScope& operator=(const PathScope&) = delete;
};

// A paren's values; the last one goes where `dest` says.
uint32_t eval_paren(const Cell& paren, Dest dest);

// The call of a function value reached through a word (`name`), its arguments from the cursor
// and no refinements: the one entry of such calls, which picks the frame filled from the call
// shape when it can.
uint32_t call_named(const Cell& fn, const Cell& name, Cursor& c, Dest dest);

}  // namespace zem::interp
