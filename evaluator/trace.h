// Tracing: an evaluation reports its steps to a user function, the tracer, installed by
// `do/trace` for the duration of that evaluation.
//
// The tracer takes six arguments: the event word, the code series (none when there is none), the
// 0-based offset of the position in it (-1 when there is none), the value the event concerns, the
// reference (the word, path or set-word naming the call or assignment for prolog, epilog, set,
// return and call; none otherwise) and a pair! of the current frame's base and the argument
// stack's top, counted in cells from its bottom. When its body begins with a block of event
// words, only those events reach it.
//
// The interpreter's event sites test `trace_state.active` and call here only when it is set; the
// tracer itself runs with it cleared, so it is never re-entered. Functions made by the boot
// library are traced like natives: their calls and returns show, their bodies do not.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace zem {

enum TraceEvent : uint32_t {
  TRACE_INIT = 0x1,
  TRACE_END = 0x2,
  TRACE_PROLOG = 0x4,
  TRACE_EPILOG = 0x8,
  TRACE_ENTER = 0x10,
  TRACE_EXIT = 0x20,
  TRACE_OPEN = 0x40,
  TRACE_RETURN = 0x80,
  TRACE_FETCH = 0x100,
  TRACE_PUSH = 0x200,
  TRACE_SET = 0x400,
  TRACE_CALL = 0x800,
  TRACE_ERROR = 0x1000,
  TRACE_THROW = 0x2000,
  TRACE_CATCH = 0x4000,
  TRACE_EXPR = 0x8000,
};
constexpr uint32_t kTraceAllEvents = 0x0001FFFF;

struct TraceState {
  bool active = false;   // events fire: a run is in progress and the tracer is not running
  bool enabled = false;  // a `do/trace` run is in progress
  bool paused = false;   // `trace false`: the run's events stay silent (init and end still fire)
  uint32_t mask = kTraceAllEvents;
  Cell callback{};       // the tracer (rooted)
  Cell code{};           // the code series of the event being fired (rooted while it fires)
  PendingExit kept{};    // an exit in progress, kept aside while the tracer runs (rooted)
};
extern TraceState trace_state;

namespace trace {

void init();

// The event mask of a tracer: the bits of the event words in the block its body begins with,
// or every event when the body does not begin with a non-empty block.
uint32_t mask_of(const Cell& tracer);

// Installs the tracer; false (nothing installed) when a run is in progress. The caller fires init
// and calls `stop` on every way out.
bool start(const Cell& tracer);
// Ends the run: fires end with any exit in progress kept aside, then uninstalls the tracer.
void stop();
// `trace` of a logic: pauses (false) or resumes (true) the events of the run in progress. Outside
// a run it changes nothing that lasts: the next run starts unpaused.
void set_switch(bool on);

// Fires an event. `node` and `index` give the code and the position (node 0: none; the code is
// the series from its first value, of the type of the block being evaluated when it is that
// block); `ref` may be null.
[[gnu::cold]] void fire(uint32_t event, NodeId node, uint32_t index, const Cell& value, const Cell* ref = nullptr);
// The same with the position of the expression being evaluated.
[[gnu::cold]] void fire_here(uint32_t event, const Cell& value, const Cell* ref = nullptr);
// The same with a code value of its own (a path) at its head.
[[gnu::cold]] void fire_in(uint32_t event, const Cell& code, const Cell& value);

// A function call: open before its arguments, call once they are collected (ref: the name, or
// the function when the call has none), return after it.
[[gnu::cold]] void open(const Cell& fn);
[[gnu::cold]] void call(const Cell& fn, const Cell& name);
[[gnu::cold]] void returned(const Cell& result, const Cell& name);

// A function body: the tracing switch follows the function's attributes (a boot-library function
// and a no-trace one run untraced, a trace one traced) until the scope ends; prolog fires when
// the body is traced, and `epilog` when it ends normally.
class BodyScope {
 public:
  explicit BodyScope(const Cell& fn) {
    if (trace_state.enabled) [[unlikely]]
      begin(fn);
  }
  ~BodyScope() {
    if (switched_) [[unlikely]]
      trace_state.active = saved_;
  }
  BodyScope(const BodyScope&) = delete;
  BodyScope& operator=(const BodyScope&) = delete;
  // The body ended with `result` in its frame's slot 0.
  void epilog(const Cell& fn, const Cell& result) {
    if (switched_ && trace_state.active) [[unlikely]]
      end(fn, result);
  }
  // The body was left by an exit or error that goes on past the function (its frame is gone):
  // the epilog with no value, the exit set aside while the tracer runs.
  void epilog_exit(const Cell& fn) {
    if (switched_ && trace_state.active) [[unlikely]]
      end_exit(fn);
  }

 private:
  [[gnu::cold]] void begin(const Cell& fn);
  [[gnu::cold]] void end(const Cell& fn, const Cell& result);
  [[gnu::cold]] void end_exit(const Cell& fn);
  bool switched_ = false;
  bool saved_ = false;
  Cell name_{};  // the function's frame's word, taken while the frame was there
};

// An error being raised, its value made (stack-overflow is never reported).
[[gnu::cold]] void error_raised(PendingExit& p);

}  // namespace trace

// The test every event site makes.
inline bool tracing() { return trace_state.active; }

}  // namespace zem
