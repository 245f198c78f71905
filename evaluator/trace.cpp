// Tracing: the tracer's events during a traced evaluation and their calls to the user function.
#include "evaluator/trace.h"

#include <algorithm>
#include <array>
#include <bit>
#include <exception>
#include <string_view>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/pair.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "runtime/boot_state.h"
#include "runtime/collector.h"

namespace zem {

TraceState trace_state;

namespace trace {

namespace {

// The event words in bit order: init is bit 0x1, expr bit 0x8000.
constexpr std::array<std::string_view, 16> kEventNames = {
    "init",  "end",  "prolog", "epilog", "enter", "exit",  "open",  "return",
    "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};

struct Engine {
  std::array<uint32_t, 16> event_symbols{};
  uint32_t frame_symbol = 0;  // <interp-callback>, the name of the tracer's frame
  bool in_tracer = false;     // the tracer (or a function it calls) is running
};
Engine engine;

void mark_roots(void*) {
  TraceState& t = trace_state;
  gc::mark_value(t.callback);
  for (Cell& a : t.kept.args) gc::mark_value(a);
  gc::mark_value(t.kept.value);
  gc::mark_value(t.kept.name);
}

void intern_symbols() {
  if (engine.frame_symbol) return;
  for (size_t i = 0; i < kEventNames.size(); i++)
    engine.event_symbols[i] = symbol::intern(kEventNames[i]);
  engine.frame_symbol = symbol::intern("<interp-callback>");
}

uint32_t event_symbol(uint32_t event) {
  return engine.event_symbols[static_cast<size_t>(std::countr_zero(event))];
}

Cell pair(uint32_t x, uint32_t y) { return pair::make(int32_t(x), int32_t(y)); }

// The name of a call for the tracer: its word, or the function itself when it has none.
Cell name_or_function(const Cell& name, const Cell& fn) {
  bool anonymous = !interp::word_kind(name.type()) || name.word_symbol() == stack_state.anon_symbol;
  return anonymous ? fn : name;
}

// The word of the running function's frame (the top frame while its body runs).
Cell frame_name(const Cell& fn) {
  if (stack::depth() == 0) return fn;
  const CallFrame& f = *stack::top_frame();
  return name_or_function(make_word_cell(f.symbol(), f.word_context), fn);
}

// An exit in progress while the tracer runs: set aside (rooted) and put back afterwards, so that
// exits inside the tracer cannot disturb it.
class KeepExit {
 public:
  KeepExit()
      : target_(stack_state.exit_target),
        throw_position_(stack_state.throw_position),
        raise_depth_(stack_state.raise_depth),
        raise_collections_(stack_state.raise_collections),
        depth_(stack::depth()) {
    trace_state.kept = pending_exit();
    clear_pending_exit();
    // The frames an error's stack trace still reads above the top (stack::trace_words) are
    // kept aside, and what they name kept alive, while the tracer's own frames go there.
    if (raise_depth_ > depth_ && raise_collections_ == gc::collector_state.series_cycles)
      frames_.assign(stack::frame_at(depth_), stack::frame_at(raise_depth_));
  }
  ~KeepExit() {
    // An exit the tracer raised goes on in place of the one kept.
    if (std::uncaught_exceptions() > exceptions_) {
      trace_state.kept = PendingExit{};
      return;
    }
    pending_exit() = trace_state.kept;
    trace_state.kept = PendingExit{};
    stack_state.exit_target = target_;
    stack_state.throw_position = throw_position_;
    stack_state.raise_depth = raise_depth_;
    // The frames kept aside stay readable after a collection the tracer made.
    stack_state.raise_collections =
        frames_.empty() ? raise_collections_ : gc::collector_state.series_cycles;
    std::copy(frames_.begin(), frames_.end(), stack::frame_at(depth_));
  }
  KeepExit(const KeepExit&) = delete;
  KeepExit& operator=(const KeepExit&) = delete;

 private:
  static void mark(void* self) {
    for (const CallFrame& f : static_cast<KeepExit*>(self)->frames_) stack::mark_frame(f);
  }

  uint32_t target_;
  int64_t throw_position_;
  uint32_t raise_depth_, raise_collections_, depth_;
  std::vector<CallFrame> frames_;
  gc::ScopedRoot root_{&KeepExit::mark, this};
  int exceptions_ = std::uncaught_exceptions();
};

// Calls the tracer above the current top with its six arguments, tracing off while it runs. The
// stacks are put back afterwards; an exit or error raised by the tracer goes on from here, with
// tracing left off.
void run(uint32_t event, const Cell& code, int32_t offset, const Cell& value, const Cell& ref) {
  TraceState& t = trace_state;
  stack::check_machine_stack();
  stack::Mark m = stack::mark();
  const Cell args[6] = {make_word_cell(event_symbol(event), 0), code, make_integer(offset), value, ref,
                        pair(m.base, m.top)};
  Cell* holder = stack::push_value(t.callback);  // keeps it alive if the tracer replaces it
  stack::push_frame_sym(FRAME_FUNCTION | kFrameInterpFlag, engine.frame_symbol, 0);
  // The tracer's slots as a call fills them: arguments, each refinement's flag (false) and its
  // arguments (none), then the /local flag and the locals.
  NodeId cache = interp::arg_cache(*holder);
  uint32_t n = series_length(cache);
  uint32_t arg = 0;
  bool arguments = true;
  for (uint32_t i = 0; i < n; i++) {
    Cell e = block_head(cache)[i];
    if (e.is(TYPE_TYPESET)) {
      i++;
      if (e.fetch_kind() == FETCH_RETURN) continue;
      stack::push_value(arguments && arg < 6 ? args[arg++] : shared_cells.none);
    } else if (e.is(TYPE_REFINEMENT)) {
      arguments = false;
      stack::push_value(shared_cells.false_value);
    } else if (e.is(TYPE_INTEGER)) {
      stack::push_value(shared_cells.false_value);
      for (int32_t k = 1; k < e.int_value(); k++) stack::push_value(shared_cells.none);
    }
  }
  struct InTracer {
    InTracer() { engine.in_tracer = true; }
    ~InTracer() { engine.in_tracer = false; }
  } in_tracer;
  t.active = false;
  if (uint32_t st = interp::exec_function_body(*holder, 0)) stack::raise_status(st);
  t.active = t.enabled;
  stack::restore(m);
}

void emit(uint32_t event, TypeId type, NodeId node, uint32_t index, const Cell& value,
          const Cell* ref) {
  TraceState& t = trace_state;
  if (!(t.mask & event) || !t.callback.is(TYPE_FUNCTION)) return;
  if (t.paused && !(event & (TRACE_INIT | TRACE_END))) return;
  Cell code = shared_cells.none;
  int32_t offset = -1;
  if (node) {
    code = Cell{type, 0, node, 0};
    if (index <= series_length(node)) offset = static_cast<int32_t>(index);
  }
  constexpr uint32_t kWithRef = TRACE_PROLOG | TRACE_EPILOG | TRACE_SET | TRACE_RETURN | TRACE_CALL;
  run(event, code, offset, value, ref && (event & kWithRef) ? *ref : shared_cells.none);
}

}  // namespace

void init() {
  // Once only, also when start-up runs again after the collector's roots were reset.
  gc::remove_root(mark_roots);
  gc::add_root(mark_roots);
  engine.frame_symbol = 0;
  engine.in_tracer = false;
  trace_state = TraceState{};
}

uint32_t mask_of(const Cell& tracer) {
  Cell body = block_head(tracer.fn_more())[MORE_BODY];
  if (!body.is(TYPE_BLOCK) || body.head_index() >= series_length(body.node()))
    return kTraceAllEvents;
  Cell first = block_head(body.node())[body.head_index()];
  if (!first.is(TYPE_BLOCK) || first.head_index() >= series_length(first.node()))
    return kTraceAllEvents;
  uint32_t mask = 0;
  for (uint32_t i = first.head_index(); i < series_length(first.node()); i++) {
    const Cell& w = block_head(first.node())[i];
    if (!w.is(TYPE_WORD)) continue;
    uint32_t c = symbol::canonical_id(w.word_symbol());
    for (size_t k = 0; k < kEventNames.size(); k++)
      if (symbol::canonical_id(engine.event_symbols[k]) == c) mask |= 1u << k;
  }
  return mask;
}

bool start(const Cell& tracer) {
  TraceState& t = trace_state;
  if (t.enabled) return false;
  intern_symbols();
  t.mask = mask_of(tracer);
  t.callback = tracer;
  t.enabled = t.active = true;
  t.paused = false;
  return true;
}

void stop() {
  TraceState& t = trace_state;
  if (t.active) {
    KeepExit keep;
    fire(TRACE_END, 0, 0, shared_cells.none);
  }
  t.callback = shared_cells.none;
  t.enabled = t.active = false;
  t.paused = false;
  t.mask = kTraceAllEvents;
}

// A switch, not a change of `active`: a function body's scope puts `active` back when it ends,
// and `trace` itself is such a function.
void set_switch(bool on) { trace_state.paused = !on; }

void fire(uint32_t event, NodeId node, uint32_t index, const Cell& value, const Cell* ref) {
  const std::vector<Cell>& blocks = interp_state.blocks;
  TypeId type = !blocks.empty() && blocks.back().node() == node ? blocks.back().type() : TYPE_BLOCK;
  emit(event, type, node, index, value, ref);
}

void fire_here(uint32_t event, const Cell& value, const Cell* ref) {
  const std::vector<Cell>& blocks = interp_state.blocks;
  if (blocks.empty()) {
    emit(event, TYPE_BLOCK, 0, 0, value, ref);
    return;
  }
  const Cell b = blocks.back();
  emit(event, b.type(), b.node(), b.head_index(), value, ref);
}

void fire_in(uint32_t event, const Cell& code, const Cell& value) {
  emit(event, code.type(), code.node(), code.head_index(), value, nullptr);
}

void open(const Cell& fn) { fire_here(TRACE_OPEN, fn); }

void call(const Cell& fn, const Cell& name) {
  Cell ref = name_or_function(name, fn);
  fire_here(TRACE_CALL, fn, &ref);
}

void returned(const Cell& result, const Cell& name) {
  Cell v = result, ref = name;
  fire_here(TRACE_RETURN, v, &ref);
}

void BodyScope::begin(const Cell& fn) {
  if (engine.in_tracer) return;
  TraceState& t = trace_state;
  saved_ = t.active;
  switched_ = true;
  if (fn.header & (kFunctionLibrary | kFunctionNoTrace))
    t.active = false;
  else if (fn.header & kFunctionTrace)
    t.active = t.enabled;
  name_ = frame_name(fn);
  if (t.active) {
    Cell ref = name_;
    fire_here(TRACE_PROLOG, fn, &ref);
  }
}

void BodyScope::end(const Cell& fn, const Cell& result) {
  Cell v = result, ref = frame_name(fn);
  fire_here(TRACE_EPILOG, v, &ref);
}

// Nothing has run since the frame went, so the word's context is still there: once passed to
// the tracer the word is rooted by its frame. `fn` may lie where the tracer's frame goes.
void BodyScope::end_exit(const Cell& fn) {
  Cell ref = name_or_function(name_, fn);
  KeepExit keep;
  // The stacks are already cut back to where the passing exit stops, so an exit of the tracer's
  // own could not find its catcher: it ends at a try/all frame here and the passing one goes on.
  stack::Mark m = stack::mark();
  uint32_t frame = stack::depth();
  stack::push_try_all_frame(make_word_cell(stack_state.body_symbol, 0));
  try {
    fire_here(TRACE_EPILOG, shared_cells.none, &ref);
  } catch (const Unwind&) {
    if (!stack::exit_stops_at(frame)) throw;
    // As after any error in the tracer, tracing is off until a body scope puts back what its
    // caller had: this body's, right after this.
    trace_state.active = false;
  }
  stack::restore(m);
}

void error_raised(PendingExit& p) {
  if (p.error == Err::internal_stack_overflow || stack_state.raising_overflow) return;
  if (!(trace_state.mask & TRACE_ERROR)) return;
  KeepExit keep;
  Cell error = trace_state.kept.value;
  fire_here(TRACE_ERROR, error);
}

}  // namespace trace
}  // namespace zem
