// The argument and call stacks: frames, the non-local exits, and the call trace of errors.
#include "evaluator/stack.h"

#include <string>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/platform.h"
#include "runtime/wiring.h"

namespace zem {

StackState stack_state;

namespace stack {

namespace {

Cell make_unset_cell() {
  Cell c{};
  c.set_header(TYPE_UNSET);
  return c;
}

// The context cell of a context node.
inline Cell& context_cell(NodeId ctx) { return *block_head(ctx); }

// Puts an on-stack function context's values reference back as the frame saved it.
inline void restore_context(const CallFrame& f) {
  if (f.function_context) context_cell(f.function_context).set_context_values(f.saved_values);
}

void mark_roots(void*) { mark_frames(); }

// A value field of an error object (values block of its context), or null.
Cell* error_field(const Cell& error, uint32_t field) {
  if (!error.is(TYPE_ERROR) || !error.object_context()) return nullptr;
  NodeId values = context_cell(error.object_context()).context_values();
  if (!values || series_length(values) <= field) return nullptr;
  return block_head(values) + field;
}

bool fixed_name(uint32_t symbol) {
  return symbol == stack_state.body_symbol || symbol == stack_state.anon_symbol;
}

bool is_context(NodeId ctx) {
  return ctx && series_length(ctx) > 0 && context::cell(ctx).is(TYPE_CONTEXT);
}

// The value of the symbol in `ctx`, else in the global context; null when neither holds it.
const Cell* value_in(uint32_t symbol, NodeId ctx) {
  for (NodeId c : {ctx, context::global()}) {
    if (!is_context(c)) continue;
    int32_t i = context::find_symbol_index(c, symbol, true);
    if (i < 0) continue;
    uint32_t slot = context::word_at(c, static_cast<uint32_t>(i))->word_index();
    if (!context::on_stack(c) && slot >= series_length(context::values_block(c))) return nullptr;
    Cell* v = context::values(c);
    return v ? v + slot : nullptr;
  }
  return nullptr;
}

// The word of a frame's symbol as `ctx` holds it (case-insensitively, in the frame's spelling),
// else the global word, added when absent: a word that can be looked up again.
Cell word_in(uint32_t symbol, NodeId ctx) {
  if (is_context(ctx)) {
    int32_t i = context::find_symbol_index(ctx, symbol, true);
    if (i >= 0) {
      Cell w = context::word_cell(TYPE_WORD, ctx, symbol,
                                  static_cast<int32_t>(context::word_at(ctx, i)->word_index()));
      return w;
    }
  }
  if (!context::global()) return make_word_cell(symbol, 0);
  return context::find_or_add_global(symbol, true, true);
}

// Sets the pending exit after the stacks were cut back to the frame at depth `target`.
void set_pending(uint32_t code, const Cell* value, uint32_t target) {
  PendingExit& p = pending_exit();
  p.value = value ? *value : make_unset_cell();
  p.code = code;
  p.error = Err{};
  p.name = Cell{};
  for (Cell& a : p.args) a = Cell{};
  stack_state.exit_target = target;
}

}  // namespace

void raise_error(PendingExit& p) {
  if (wiring.build_error_value) wiring.build_error_value(p);
  if (tracing()) trace::error_raised(p);
  unwind_for_error(p);
}

std::string_view symbol_text(uint32_t symbol) {
  return wiring.symbol_name ? wiring.symbol_name(symbol) : "?";
}

void init() {
  StackState& s = stack_state;
  s.arg_node = alloc::make_heap_series(kArgStackCells, sizeof(Cell));
  s.call_node = alloc::make_heap_series(kCallStackFrames * sizeof(CallFrame) / 16, 16);
  reset();
  uintptr_t low = 0, high = 0;
  platform::stack_extent(low, high);
  s.machine_limit = low ? low + kMachineStackMargin : 0;
  gc::set_fixed_root(gc::RootSlot::arg_stack, mark_roots);
  if (symbol_state.block) {
    set_fixed_symbols(symbol::intern("<body>"), symbol::intern("<anon>"),
                      symbol::intern("<not-found>"), symbol::intern("self"));
    s.part_symbol = symbol::intern("part");
  }
}

void reset() {
  StackState& s = stack_state;
  SeriesBuffer* a = series_buffer(s.arg_node);
  s.bottom = s.top = s.base = a->cells_head();
  s.end = s.bottom + kArgStackCells;
  s.limit = s.end - kArgHeadroomCells;
  SeriesBuffer* c = series_buffer(s.call_node);
  s.call_bottom = s.call_top = reinterpret_cast<CallFrame*>(c->head_ptr());
  s.call_end = s.call_bottom + kCallStackFrames;
  s.call_limit = s.call_end - kCallHeadroomFrames;
  s.throw_position = -1;
  s.raise_depth = 0;
  s.exit_target = 0;
  s.raising_overflow = false;
}

void set_fixed_symbols(uint32_t body, uint32_t anon, uint32_t not_found, uint32_t self) {
  stack_state.body_symbol = body;
  stack_state.anon_symbol = anon;
  stack_state.not_found_symbol = not_found;
  stack_state.self_symbol = self;
}

void restore(const Mark& m) {
  StackState& s = stack_state;
  // Frames above the mark may hold function contexts whose values must be put back.
  while (depth() > m.call_top) restore_context(*--s.call_top);
  s.base = s.bottom + m.base;
  s.top = s.bottom + m.top;
}

void overflow() {
  StackState& s = stack_state;
  // Room for building the error: the headroom below both ends, and five cells given back.
  s.top = (s.top - s.bottom > 5) ? s.top - 5 : s.bottom;
  if (s.base > s.top) s.base = s.top;
  s.limit = s.end;
  s.call_limit = s.call_end;
  s.raising_overflow = true;
  ptrstack::reset();
  fire(Err::internal_stack_overflow);
}

Cell* push_function_frame(const Cell& word, NodeId function_context) {
  StackState& s = stack_state;
  if (s.call_top >= s.call_limit) overflow();
  uint32_t saved = function_context ? context_cell(function_context).context_values() : 0;
  *s.call_top++ = CallFrame{FRAME_FUNCTION | ((word.word_symbol() & 0xFFFF) << 8), cell_index(s.base),
                            word.word_context(), function_context, saved};
  s.base = s.top;
  return s.base;
}

Cell* push_compiled_function_frame(const Cell& word, NodeId function_context) {
  context_cell(function_context).set_context_values(values_ref(stack_state.base));
  return push_frame(kCompiledBodyFrame, word);
}

void pop_function_frame() {
  restore_context(*top_frame());
  pop_frame();
}

void pop_function_frame_keep_result() {
  restore_context(*top_frame());
  pop_frame_keep_result();
}

void pop_function_frame_discard() {
  restore_context(*top_frame());
  pop_frame_discard();
}

void pop_frame_to_base() {
  StackState& s = stack_state;
  CallFrame* f = --s.call_top;
  if (f->kind() == FRAME_FUNCTION) restore_context(*f);
  if (s.call_top == s.call_bottom) {
    s.base = s.top = s.bottom;
    return;
  }
  s.top = s.base;
  s.base = s.bottom + f->caller_base;
}

void set_call_top(uint32_t d) { stack_state.call_top = stack_state.call_bottom + d; }

void set_body_flag(bool on) {
  CallFrame* f = top_frame();
  f->flags = on ? (f->flags | kFrameBodyFlag) : (f->flags & ~kFrameBodyFlag);
}

void set_interp_flag() { top_frame()->flags |= kFrameInterpFlag; }

CallFrame* mark_caller_frame() {
  if (depth() < 2) return nullptr;
  CallFrame* f = stack_state.call_top - 2;
  if (f->body()) return nullptr;
  f->flags |= kFrameBodyFlag;
  return f;
}

bool is_eval(CallFrame* start, bool once) {
  if (!start && depth() == 0) return false;
  CallFrame* f = start ? start : stack_state.call_top - 1;
  if (once) return f > stack_state.call_bottom && (f - 1)->interpreted();
  while (--f >= stack_state.call_bottom)
    if (f->interpreted()) return true;
  return false;
}

void keep_result() {
  StackState& s = stack_state;
  if (s.top > s.base && (s.top - 1)->is(TYPE_ERROR)) *s.base = *(s.top - 1);
  s.top = s.base + 1;
}

void drop_values(uint32_t n) {
  StackState& s = stack_state;
  s.top = (static_cast<uint32_t>(s.top - s.bottom) > n) ? s.top - n : s.bottom;
}

TypeId top_type() { return last_value()->type(); }

Cell* last_value() {
  StackState& s = stack_state;
  return s.top > s.bottom ? s.top - 1 : s.bottom;
}

// ---- Exits -------------------------------------------------------------------------------------

namespace {

// The base of the frame at index i (its callee cells start there).
Cell* own_base(uint32_t i) {
  StackState& s = stack_state;
  return i + 1 >= depth() ? s.base : s.bottom + s.call_bottom[i + 1].caller_base;
}

// Pops every frame above index i (restoring function contexts) and empties frame i:
// base = top = its own base.
void cut_to(uint32_t i) {
  StackState& s = stack_state;
  Cell* b = own_base(i);
  for (uint32_t d = depth(); d-- > i + 1;) restore_context(s.call_bottom[d]);
  s.call_top = s.call_bottom + i + 1;
  s.base = s.top = b;
}

// Index of the nearest frame below the top one (or from the top one with `from_top`) that
// `stops` accepts; -1 when none. A try/all frame met first raises `err` (with `arg`).
template <class Stops>
int64_t find_stop(bool from_top, Stops stops, Err err, const Cell* arg = nullptr) {
  int64_t i = static_cast<int64_t>(depth()) - 1;
  if (i < 0) return -1;
  if (from_top && stops(stack_state.call_bottom[i])) return i;
  for (;;) {
    if (stack_state.call_bottom[i].kind() == FRAME_TRY_ALL) fire(err, arg);
    if (--i < 0) return -1;
    if (stops(stack_state.call_bottom[i])) return i;
  }
}

}  // namespace

uint32_t unwind_loop_exit(bool value_given, bool is_continue) {
  Err err = is_continue ? Err::throw_continue : Err::throw_break;
  Cell value = *stack_state.base;
  int64_t i = find_stop(false, [](const CallFrame& f) { return f.kind() == FRAME_LOOP; }, err);
  if (i < 0) fire(err);
  cut_to(static_cast<uint32_t>(i));
  set_pending(is_continue ? EXIT_CONTINUE : EXIT_BREAK,
              value_given && !is_continue ? &value : nullptr, static_cast<uint32_t>(i));
  *stack_state.base = pending_exit().value;
  return pending_exit().code;
}

uint32_t unwind_function_exit(bool value_given, bool from_top) {
  // The nearest frame with the body flag, searched inline: `return` is the most common exit.
  StackState& s = stack_state;
  CallFrame* f = s.call_top - 1;
  if (f < s.call_bottom) fire(Err::throw_return);
  if (!from_top || !f->body()) {
    for (;;) {
      if (f->kind() == FRAME_TRY_ALL) fire(Err::throw_return);
      if (--f < s.call_bottom) fire(Err::throw_return);
      if (f->body()) break;
    }
  }
  PendingExit& p = pending_exit();
  p.value = value_given ? *s.base : make_unset_cell();
  uint32_t i = static_cast<uint32_t>(f - s.call_bottom);
  cut_to(i);
  p.code = value_given ? EXIT_RETURN : EXIT_EXIT;
  p.error = Err{};
  p.name = Cell{};
  for (Cell& a : p.args) a = Cell{};
  s.exit_target = i;
  *s.base = p.value;
  return p.code;
}

uint32_t unwind_throw(uint32_t code) {
  StackState& s = stack_state;
  Cell value = *s.base;
  Cell name = s.top > s.base + 1 ? s.base[1] : make_unset_cell();
  if (s.throw_position < 0) s.throw_position = depth();
  int64_t i = find_stop(false, [](const CallFrame& f) { return f.kind() == FRAME_CATCH; },
                        Err::throw_throw, &value);
  if (i < 0) fire(Err::throw_throw, &value);
  cut_to(static_cast<uint32_t>(i));
  set_pending(code, &value, static_cast<uint32_t>(i));
  pending_exit().name = name;
  // The catch frame holds the thrown value and the name in slots 0 and 1.
  s.base[0] = value;
  s.base[1] = name;
  return code;
}

void unwind_for_error(PendingExit& p) {
  StackState& s = stack_state;
  if (depth() > 0) {
    Cell* where = error_field(p.value, kErrorFieldWhere);
    if (where && where->is(TYPE_NONE)) {
      Cell w = current_call_word();
      where = error_field(p.value, kErrorFieldWhere);  // nothing moved, but re-read anyway
      *where = w;
    }
    Cell* st = error_field(p.value, kErrorFieldStack);
    if (st && !st->is(TYPE_BLOCK)) attach_call(p.value);
  }
  Cell* near = error_field(p.value, kErrorFieldNear);
  if (near && near->is(TYPE_NONE) && wiring.near_source) {
    Cell code = wiring.near_source();
    if (!code.is(TYPE_UNSET)) *error_field(p.value, kErrorFieldNear) = code;
  }
  // Pop to the nearest try or try/all frame, and that frame too.
  uint32_t target = kNoExitTarget;
  CallFrame* f = unwind_until(FRAME_TRY, true);
  if (f) {
    target = static_cast<uint32_t>(f - s.call_bottom);
    uint32_t caller = f->caller_base;
    restore_context(*f);
    s.call_top = f;
    s.base = s.top = s.bottom + caller;
  } else {
    s.base = s.top = s.bottom;
  }
  s.exit_target = target;
  if (s.raising_overflow) {
    s.raising_overflow = false;
    s.limit = s.end - kArgHeadroomCells;
    s.call_limit = s.call_end - kCallHeadroomFrames;
  }
  s.throw_position = -1;
}

CallFrame* unwind_until(uint32_t kind, bool keep) {
  StackState& s = stack_state;
  while (s.call_top > s.call_bottom) {
    CallFrame* f = s.call_top - 1;
    uint32_t k = f->kind();
    if (k == kind || k == FRAME_TRY_ALL) {
      if (keep) cut_to(static_cast<uint32_t>(f - s.call_bottom));
      return f;
    }
    if (k == FRAME_FUNCTION) restore_context(*f);
    s.call_top = f;
    s.base = s.bottom + f->caller_base;
  }
  s.base = s.top = s.bottom;
  return nullptr;
}

void unwind_to_kind_keep_result(uint32_t kind) {
  StackState& s = stack_state;
  Cell result = *s.base;
  if (unwind_until(kind, true)) *s.base = result;
}

void take_exit_value() {
  PendingExit& p = pending_exit();
  Cell v = p.value.type() == TYPE_NONE_ID ? make_unset_cell() : p.value;
  // A caught throw no longer names the place of a later error.
  if (p.code == EXIT_THROW) stack_state.throw_position = -1;
  if (p.code == EXIT_RETURN || p.code == EXIT_EXIT || p.code == EXIT_BREAK ||
      p.code == EXIT_CONTINUE) {
    // Only the code and the value were set (set_pending).
    p.code = EXIT_NONE;
    p.value = Cell{};
  } else {
    clear_pending_exit();
  }
  set_single_result(v);
}

namespace {

constexpr uint32_t kErrorFieldType = 1;
constexpr uint32_t kErrorFieldId = 2;
constexpr const char* kUnformed = " (the message could not be formed)";

// The exit in progress as it was before its message was formed; the collector marks its cells
// while a failed attempt has the record hold another error.
struct SavedExit {
  PendingExit record;
  Cell* base;
  uint32_t top;
  uint32_t exit_target;
  int64_t throw_position;
};

void mark_saved_exit(void* context) {
  PendingExit& r = static_cast<SavedExit*>(context)->record;
  gc::mark_values(r.args, r.args + 3);
  gc::mark_values(&r.value, &r.value + 1);
  gc::mark_values(&r.name, &r.name + 1);
}

// Forms the error value into `text` under a try frame of its own; false when forming raised.
// The stacks, the pending record and the exit's target are then as they were before the call.
bool form_error_text(const Cell& error, std::string& text) {
  StackState& s = stack_state;
  SavedExit saved{pending_exit(), s.base, cell_index(s.top), s.exit_target, s.throw_position};
  gc::ScopedRoot root(mark_saved_exit, &saved);
  uint32_t depth_before = depth();
  try {
    FormHandler form = form_handler(TYPE_ERROR);
    if (!form) return false;
    push_anon_frame(FRAME_TRY);
    StdStringOut out;
    form(error, out, nullptr, kNoLimit);
    pop_frame_to_base();
    text = out.text();
    return true;
  } catch (const Unwind&) {
    // The try frame stopped the failure and was popped; an exit that did not cut the stacks
    // back leaves frames above it.
    if (depth() > depth_before) s.call_top = s.call_bottom + depth_before;
    pending_exit() = saved.record;
    s.base = saved.base;
    s.top = cell_at(saved.top);
    s.exit_target = saved.exit_target;
    s.throw_position = saved.throw_position;
    return false;
  }
}

// "*** Script Error: no-value": the category's title from the built-in catalogue and the id word.
std::string plain_message(Err e) {
  uint32_t code = static_cast<uint32_t>(e);
  std::string_view id = error_id_word(code);
  if (code / 100 >= kErrCategoryCount || id.empty()) return "*** Error";
  return "*** " + std::string(error_category(code / 100).title) + ": " + std::string(id);
}

// The category and id of an error value whose message cannot be formed, from its own fields.
std::string unformed_message(const Cell& error, Err fallback) {
  const Cell* type = error_field(error, kErrorFieldType);
  const Cell* id = error_field(error, kErrorFieldId);
  if (type && id && type->is(TYPE_WORD) && id->is(TYPE_WORD)) {
    std::string_view type_name = symbol_text(type->word_symbol());
    std::string_view id_name = symbol_text(id->word_symbol());
    if (uint32_t code = error_code_of(type_name, id_name))
      return plain_message(static_cast<Err>(code)) + kUnformed;
    return "*** Error: " + std::string(type_name) + " " + std::string(id_name) + kUnformed;
  }
  return plain_message(fallback) + kUnformed;
}

}  // namespace

std::string uncaught_message() {
  PendingExit& p = pending_exit();
  Err e = p.error;
  switch (p.code) {
    case EXIT_BREAK: e = Err::throw_break; break;
    case EXIT_CONTINUE: e = Err::throw_continue; break;
    case EXIT_RETURN:
    case EXIT_EXIT: e = Err::throw_return; break;
    case EXIT_THROW: e = Err::throw_throw; break;
    default: break;
  }
  if (p.code == EXIT_ERROR && p.value.is(TYPE_ERROR)) {
    // The message may fail to form: a script can put any value in the catalogue or in the
    // error's arguments. The error is still reported, plainly.
    Cell error = p.value;
    std::string text;
    if (form_error_text(error, text)) return text;
    return unformed_message(error, e);
  }
  return plain_message(e);
}

// ---- Traces ------------------------------------------------------------------------------------

Cell current_call_word() {
  StackState& s = stack_state;
  int64_t i = s.throw_position >= 0 ? s.throw_position : depth();
  s.throw_position = -1;
  while (--i >= 0) {
    const CallFrame& f = s.call_bottom[i];
    if (!fixed_name(f.symbol())) return word_in(f.symbol(), f.word_context);
  }
  return make_word_cell(s.not_found_symbol, 0);
}

void attach_call(Cell& error) {
  stack_state.raise_depth = depth();
  stack_state.raise_collections = gc::collector_state.series_cycles;
  if (Cell* st = error_field(error, kErrorFieldStack)) {
    Cell c{};
    c.set_header(TYPE_INTEGER);
    c.set_int_value(static_cast<int32_t>(depth()));
    *st = c;
  }
}

std::vector<Cell> trace_words(int32_t level, uint32_t end_depth) {
  StackState& s = stack_state;
  std::vector<Cell> words;
  // Frames above the top still name what they referred to at the raise until a collection.
  uint32_t readable = depth();
  if (gc::collector_state.series_cycles == s.raise_collections && s.raise_depth > readable)
    readable = s.raise_depth;
  if (end_depth > readable) end_depth = readable;
  for (uint32_t i = 0; i < end_depth; i++) {
    const CallFrame& f = s.call_bottom[i];
    if (fixed_name(f.symbol())) continue;
    if (level == 1) {
      const Cell* v = value_in(f.symbol(), f.word_context);
      if (!v || !v->is(TYPE_FUNCTION)) continue;
    }
    words.push_back(make_word_cell(f.symbol(), 0));
  }
  return words;
}

int32_t form_trace(int32_t level, const Cell& stack_field, TextOut& out, int32_t budget) {
  uint32_t end = stack_field.is(TYPE_INTEGER) ? static_cast<uint32_t>(stack_field.int_value()) : depth();
  for (const Cell& w : trace_words(level, end)) {
    std::string_view name = symbol_text(w.word_symbol());
    for (char ch : name) out.append_code_point(static_cast<unsigned char>(ch));
    out.append_ascii(" ");
    budget -= static_cast<int32_t>(name.size()) + 1;
    if (budget < 1) break;
  }
  return budget;
}

std::vector<Cell> collect_calls() {
  StackState& s = stack_state;
  std::vector<Cell> out;
  for (uint32_t i = depth(); i-- > 1;) {
    const CallFrame& f = s.call_bottom[i];
    if (fixed_name(f.symbol())) continue;
    out.push_back(word_in(f.symbol(), f.function_context));
    Cell base{};
    base.set_header(TYPE_INTEGER);
    base.set_int_value(static_cast<int32_t>(f.caller_base));
    out.push_back(base);
  }
  return out;
}

void mark_frames() {
  StackState& s = stack_state;
  if (!s.arg_node) return;
  gc::mark_node(s.arg_node);
  gc::mark_node(s.call_node);
  gc::mark_values(s.bottom, s.top);
  for (CallFrame* f = s.call_bottom; f < s.call_top; f++) mark_frame(*f);
}

void mark_frame(const CallFrame& f) {
  StackState& s = stack_state;
  if (f.word_context) {
    if (f.symbol() == s.self_symbol && s.self_symbol)
      gc::mark_block(f.word_context);
    else
      gc::mark_context(f.word_context);
  }
  if (f.function_context) {
    gc::mark_context(f.function_context);
    if (f.saved_values && !(context_cell(f.function_context).header & kContextOnStack))
      gc::mark_block(f.saved_values);
  }
}

}  // namespace stack
}  // namespace zem
