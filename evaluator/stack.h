// The argument stack, the call stack and the non-local exits.
//
// Every call goes through two stacks that never move (heap series made at start-up):
// - the argument stack of cells; the current frame runs from `base` to `top`, and its cell 0 is
//   both the first argument and the result slot. A Cell* into it stays valid across evaluation.
// - the call stack of CallFrame records, one per call in progress, marking where exits stop.
//
// Exits. break, continue, return and exit travel as a status (the ExitCode returned by the
// interpreter and by every native that runs code); errors and throws raised from deep code travel
// as the one exception type `Unwind`. Either way the unwinder has already cut both stacks back to
// the frame that stops the exit and left the payload in the pending-exit record; the C++ code in
// between only passes the code on (returning it, or letting the exception through) and never
// touches the stacks again, but for a tracer's epilog event: it runs above the cut-back top with
// the exit set aside, and puts back what it covered (trace::KeepExit). The catcher checks
// `exit_stops_at(its frame)`, takes the payload with `take_exit_value` and goes on. Code that runs
// user code but cannot return a status turns it into the exception with `raise_status`.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/cell.h"
#include "runtime/error.h"
#include "runtime/support.h"

namespace zem {

constexpr uint32_t kArgStackCells = 20000;
constexpr uint32_t kCallStackFrames = 12000;
// Kept free below each end so raising stack-overflow can still push what building its error
// value needs.
constexpr uint32_t kArgHeadroomCells = 64;
constexpr uint32_t kCallHeadroomFrames = 16;
// Machine stack kept free below the deepest evaluation, for the error and the C++ frames above
// the check.
constexpr uintptr_t kMachineStackMargin = 256u * 1024u;

// Frame kinds and flags, in bits 24-31 of a frame's flags word.
constexpr uint32_t kFrameKindMask = 0x0F000000;
constexpr uint32_t kFrameBodyFlag = 0x10000000;
constexpr uint32_t kFrameInterpFlag = 0x80000000;
enum FrameKind : uint32_t {
  FRAME_FUNCTION = 0x01000000,
  FRAME_NATIVE = 0x02000000,
  FRAME_TRY = 0x04000000,
  FRAME_TRY_ALL = 0x05000000,
  FRAME_CATCH = 0x06000000,
  FRAME_EVAL = 0x07000000,
  FRAME_LOOP = 0x08000000,
};
// The flags bytes of the push operations.
constexpr uint32_t kCompiledBodyFrame = FRAME_NATIVE | kFrameBodyFlag;
constexpr uint32_t kInterpNativeFrame = FRAME_NATIVE | kFrameInterpFlag;
constexpr uint32_t kInterpFunctionFrame = FRAME_FUNCTION | kFrameInterpFlag;
constexpr uint32_t kEvalFrame = FRAME_EVAL | kFrameInterpFlag;

struct CallFrame {
  uint32_t flags;        // kind and flags in bits 24-31, naming symbol in bits 8-23
  uint32_t caller_base;  // argument-stack base in force at the push, in cells from the bottom
  NodeId word_context;   // binding context of the naming word
  NodeId function_context;  // frames of push_function_frame only, else 0
  uint32_t saved_values;    // that context's values reference before the call

  uint32_t kind() const { return flags & kFrameKindMask; }
  uint32_t symbol() const { return (flags >> 8) & 0xFFFF; }
  bool body() const { return (flags & kFrameBodyFlag) != 0; }
  bool interpreted() const { return (flags & kFrameInterpFlag) != 0; }
};
static_assert(sizeof(CallFrame) == 20, "a call frame is five 32-bit words");

struct StackState {
  Cell* bottom = nullptr;
  Cell* top = nullptr;   // next free cell
  Cell* end = nullptr;   // one past the last cell
  Cell* base = nullptr;  // slot 0 of the current frame
  Cell* limit = nullptr;  // pushes fail here: end minus the headroom (end while raising overflow)
  CallFrame* call_bottom = nullptr;
  CallFrame* call_top = nullptr;  // next free frame
  CallFrame* call_end = nullptr;
  CallFrame* call_limit = nullptr;
  NodeId arg_node = 0;
  NodeId call_node = 0;
  uint32_t body_symbol = 0;       // <body>
  uint32_t anon_symbol = 0;       // <anon>
  uint32_t not_found_symbol = 0;  // <not-found>
  uint32_t self_symbol = 0;       // self
  uint32_t part_symbol = 0;       // part (errors about /part arguments)
  int64_t throw_position = -1;    // call-stack depth recorded by a throw, until read
  // The last error raise: its call-stack depth and the collection count then. Until the next
  // collection the frames up to that depth can be read, those that unwinding passed included.
  uint32_t raise_depth = 0;
  uint32_t raise_collections = 0;
  uint32_t exit_target = 0;       // call-stack depth the pending exit was cut back to
  uintptr_t machine_limit = 0;    // lowest machine stack address evaluation may reach
  bool raising_overflow = false;
};
extern StackState stack_state;

namespace stack {

// Makes both stacks, roots them with the collector and installs the error raiser.
void init();
// Empties both stacks.
void reset();
// The symbols of <body>, <anon>, <not-found> and self (set by init when the symbol table exists).
void set_fixed_symbols(uint32_t body, uint32_t anon, uint32_t not_found, uint32_t self);

// ---- Positions ----------------------------------------------------------------------------------
inline uint32_t depth() { return static_cast<uint32_t>(stack_state.call_top - stack_state.call_bottom); }
inline uint32_t cell_index(const Cell* c) { return static_cast<uint32_t>(c - stack_state.bottom); }
inline Cell* cell_at(uint32_t index) { return stack_state.bottom + index; }
inline CallFrame* top_frame() { return stack_state.call_top - 1; }  // only when depth() > 0
inline CallFrame* frame_at(uint32_t index) { return stack_state.call_bottom + index; }
inline Cell* base() { return stack_state.base; }
inline Cell* top() { return stack_state.top; }
inline Cell* arg(uint32_t i) { return stack_state.base + i; }

// The values reference of a context whose values are on the argument stack (the
// context cell's context_values()): the cell index of the running call's first value plus one; 0 = no call running.
inline uint32_t values_ref(const Cell* first) { return cell_index(first) + 1; }
inline Cell* values_of_ref(uint32_t ref) { return ref ? stack_state.bottom + (ref - 1) : nullptr; }

// Saves and restores both tops and the base (catchers that need to reset by hand).
struct Mark {
  uint32_t base, top, call_top;
};
inline Mark mark() {
  return {cell_index(stack_state.base), cell_index(stack_state.top), depth()};
}
void restore(const Mark& m);

// ---- Frames -------------------------------------------------------------------------------------
[[noreturn]] void overflow();
// `kind` is the flags byte shifted to bits 24-31; `word` a word cell.
inline Cell* push_frame_sym(uint32_t kind, uint32_t symbol, NodeId context) {
  StackState& s = stack_state;
  if (s.call_top >= s.call_limit) overflow();
  *s.call_top++ = CallFrame{kind | ((symbol & 0xFFFF) << 8), cell_index(s.base), context, 0, 0};
  s.base = s.top;
  return s.base;
}
inline Cell* push_frame(uint32_t kind, const Cell& word) {
  return push_frame_sym(kind, word.word_symbol(), word.word_context());
}
Cell* push_function_frame(const Cell& word, NodeId function_context);
Cell* push_compiled_function_frame(const Cell& word, NodeId function_context);
inline Cell* push_native_frame(const Cell& w) { return push_frame(FRAME_NATIVE, w); }
inline Cell* push_try_frame(const Cell& w) { return push_frame(FRAME_TRY, w); }
inline Cell* push_try_all_frame(const Cell& w) { return push_frame(FRAME_TRY_ALL, w); }
inline Cell* push_catch_frame(const Cell& w) { return push_frame(FRAME_CATCH, w); }
inline Cell* push_eval_frame(const Cell& w) { return push_frame(kEvalFrame, w); }
inline Cell* push_loop_frame(const Cell& w) { return push_frame(FRAME_LOOP, w); }
inline Cell* push_interp_native_frame(const Cell& w) { return push_frame(kInterpNativeFrame, w); }
inline Cell* push_interp_function_frame(const Cell& w) {
  return push_frame(kInterpFunctionFrame, w);
}
// A frame named by one of the fixed symbols (context 0).
inline Cell* push_body_frame(uint32_t kind) {
  return push_frame_sym(kind, stack_state.body_symbol, 0);
}
inline Cell* push_anon_frame(uint32_t kind) {
  return push_frame_sym(kind, stack_state.anon_symbol, 0);
}

// Drops the top frame; the callee's slot 0 stays as the caller's newest cell.
inline void pop_frame() {
  StackState& s = stack_state;
  CallFrame* f = --s.call_top;
  s.top = s.base + 1;
  s.base = s.bottom + f->caller_base;
}
inline void pop_frame_keep_result() {
  Cell* callee = stack_state.base;
  pop_frame();
  copy_cell(*callee, *stack_state.base);
}
// Drops the top frame and the caller's own cells: base = top = caller's base.
inline void pop_frame_discard() {
  StackState& s = stack_state;
  CallFrame* f = --s.call_top;
  s.base = s.top = s.bottom + f->caller_base;
}
void pop_function_frame();
void pop_function_frame_keep_result();
void pop_function_frame_discard();
// Drops the top frame and all of the callee's cells (top = callee's base).
void pop_frame_to_base();
// Sets the call-stack top back to a depth taken earlier.
void set_call_top(uint32_t depth);
void set_body_flag(bool on);
void set_interp_flag();
// On the frame below the top: null when its body flag is already set, else sets it and answers it.
CallFrame* mark_caller_frame();
// Walks down from `start` (null: the top frame): true at the first interpreted frame below it;
// with `once` only the first frame below the start is looked at.
bool is_eval(CallFrame* start, bool once);

// ---- Cells --------------------------------------------------------------------------------------
inline Cell* push_cell() {
  StackState& s = stack_state;
  Cell* c = s.top++;
  if (s.top >= s.limit) overflow();
  return c;
}
inline Cell* push_value(const Cell& v) {
  Cell copy = v;  // v may be the cell overwritten by the push
  Cell* c = push_cell();
  *c = copy;
  return c;
}
inline void set_last(const Cell& v) { copy_cell(v, *stack_state.base); }
inline void set_single_result(const Cell& v) {
  Cell copy = v;
  stack_state.top = stack_state.base + 1;
  *stack_state.base = copy;
}
inline Cell* reset_arguments() { return stack_state.top = stack_state.base; }
inline Cell* keep_one_result() {
  stack_state.top = stack_state.base + 1;
  return stack_state.base;
}
void keep_result();
void drop_values(uint32_t n);
TypeId top_type();
// The newest cell, or the bottom cell when the stack is empty.
Cell* last_value();

// ---- Exits --------------------------------------------------------------------------------------
// break (`value_given`: break/return with the value in slot 0 of the current frame) and continue.
// Cuts the stacks back to the nearest loop frame and answers EXIT_BREAK or EXIT_CONTINUE; raises
// the throw-category error when no loop frame is below or a try/all frame comes first.
uint32_t unwind_loop_exit(bool value_given, bool is_continue);
// return (`value_given`, value in slot 0) and exit: cuts back to the nearest frame with the body
// flag (the top frame itself is looked at only with `from_top`); answers EXIT_RETURN or EXIT_EXIT.
uint32_t unwind_function_exit(bool value_given, bool from_top);
// throw: the thrown value in slot 0 of the current frame, the name (unset: none) in slot 1.
// Cuts back to the nearest catch frame and answers `code`.
uint32_t unwind_throw(uint32_t code = EXIT_THROW);
// Called by the error raiser once the error value is made: sets its `where` and `stack`, cuts
// back below the nearest try or try/all frame (popped as well) and leaves the value in the
// pending-exit record. With no try frame the stacks end empty: the program's outermost catcher
// reports the error (report_uncaught).
void unwind_for_error(PendingExit& p);
// Pops frames to the nearest one of `kind`, a try/all frame or the bottom; answers the frame
// found (kept on the stack) or null at the bottom.
CallFrame* unwind_until(uint32_t kind, bool keep);
void unwind_to_kind_keep_result(uint32_t kind);

constexpr uint32_t kNoExitTarget = 0xFFFFFFFFu;  // an error no try frame stops
// The catcher's side. True when the pending exit stops at the catcher whose frame sits at depth
// `frame` (its push was made at that depth).
inline bool exit_stops_at(uint32_t frame) { return stack_state.exit_target == frame; }
// Copies the payload into slot 0 of the current frame (unset when there is none), keeps slot 0
// as the only cell and clears the pending record.
void take_exit_value();
// Turns a status into the exception (code that runs user code but cannot return a status).
[[noreturn]] inline void raise_status(uint32_t code) { throw Unwind{code}; }
// An exit code that escaped every catcher: for an error, the "*** " message; for the others the
// matching throw-category message. Written to stderr by the program's entry.
std::string uncaught_message();

// The wiring table's `raise_error`: makes the error value, tells the tracer and unwinds the call
// stack to the catcher's frame.
void raise_error(PendingExit& p);

// The name of a symbol ("?" until the symbol table is there).
std::string_view symbol_text(uint32_t symbol);

// ---- Traces and the current call ----------------------------------------------------------------
// The word of the innermost named call (a word! of its symbol in the frame's word context), or
// the word <not-found>. Clears the recorded throw position.
Cell current_call_word();
// Records the call-stack depth into an error value's `stack` field.
void attach_call(Cell& error);
// The named calls from the bottom up to `end_depth`: level 1 only calls of function! values.
// Words of the symbols only (context 0). Frames above the top are read while the last raise's
// are still intact (no collection since).
std::vector<Cell> trace_words(int32_t level, uint32_t end_depth);
// Forms the same words, each followed by one space, into `out`; answers the remaining budget.
int32_t form_trace(int32_t level, const Cell& stack_field, TextOut& out, int32_t budget);
// For each frame from the top down to the one above the bottom frame, skipping the fixed names:
// the call's word and the caller's base as a cell index.
std::vector<Cell> collect_calls();

// ---- Machine stack -------------------------------------------------------------------------------
// The frame address, not a local's: a sanitizer may keep locals on a fake stack in the heap.
inline bool machine_stack_low() {
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < stack_state.machine_limit;
}
// Raises stack-overflow when the machine stack has reached its margin.
inline void check_machine_stack() {
  if (machine_stack_low()) overflow();
}

// Collector: marks the stacks' cells and what the live frames refer to.
void mark_frames();
// Marks what one frame refers to (a frame kept aside off the stack).
void mark_frame(const CallFrame& f);

}  // namespace stack

// Symbols and words used by the stacks; the field numbers of an error value that they fill.
constexpr uint32_t kErrorFieldNear = 6;
constexpr uint32_t kErrorFieldWhere = 7;
constexpr uint32_t kErrorFieldStack = 8;

// A word! cell of a symbol in a context, not yet resolved (index -1).
inline Cell make_word_cell(uint32_t symbol, NodeId context, TypeId type = TYPE_WORD) {
  Cell c{};
  c.set_header(type);
  c.set_word(context, symbol, Cell::kNoIndex);
  return c;
}

}  // namespace zem
