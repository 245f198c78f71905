// The collector: precise mark and compact, at safe points only.
//
// Nothing scans the machine stack. A collection runs only
// - at a safe point (`gc::safe_point()`, which the interpreter calls at the start of every
//   expression and loops call once per iteration) when one was requested and the collector is
//   enabled, or when stress mode says so;
// - when `gc::collect()` is called directly (`recycle`).
// An allocation never collects: it only calls `gc::request()` once enough was carved.
//
// Marking starts from the fixed roots (in RootSlot order), then every registered root callback,
// and follows cells through the mark table (one handler per type id) with an explicit mark stack,
// so deep data never deepens the machine stack. Weak passes run after marking (the owner table).
//
// Stress mode: ZEM_GC_STRESS=N collects at every Nth safe point (1 = each one), ZEM_GC_STRESS_BOOT=1
// also during start-up; every collection in stress mode moves every live buffer and makes the memory
// it left inaccessible, so a stale pointer faults at once.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/cell.h"

namespace zem::gc {

// Mark handler of a type: marks what a cell of that type refers to (through mark_node,
// mark_block, mark_context, mark_hashtab, mark_with, resources::mark).
using MarkFn = void (*)(const Cell& cell);
// Scan function of a marked series: runs from the mark stack once per series and collection.
using ScanFn = void (*)(NodeId node);
// Root callback: marks whatever it holds; `context` is the pointer given at registration.
using RootFn = void (*)(void* context);
// Weak pass: runs after marking; may drop records whose series died and mark further.
using WeakFn = void (*)();

// The fixed roots, marked in this order before the root callbacks.
enum class RootSlot : uint8_t {
  root_block,      // the root block, as a block
  symbol_table,    // the symbol table's hash table
  owner_table,     // the owner table's own series (its records are weak)
  arg_stack,       // the argument-stack block's node and its cells from bottom to top
  call_stack,      // the call-stack block's node and its frames
  global_context,  // the global context, as a context
  take_scratch,    // the scratch block of `take`
  held_value,      // the interpreter's held value cell
  lexer_states,    // the lexer's states
  slot_pool,       // the value-slot pool's block
  pending_exit,    // the payload of a pending non-local exit
  count
};

struct CollectorState {
  bool enabled = false;     // recycle/on, recycle/off; off during start-up
  bool collecting = false;
  bool requested = false;   // an allocation asked for a collection
  uint32_t stress = 0;      // N of ZEM_GC_STRESS, 0 = off
  bool stress_boot = false;
  uint32_t series_cycles = 0;
  uint32_t nodes_cycles = 0;  // always 0: nodes never move
  // Decremented by every safe point; the slow path runs when it reaches 0.
  int64_t countdown = INT64_MAX;
  RootFn fixed_roots[static_cast<int>(RootSlot::count)] = {};
  void* fixed_contexts[static_cast<int>(RootSlot::count)] = {};
  struct Root {
    RootFn fn;
    void* context;
  };
  std::vector<Root> roots;  // removed entries are {nullptr, nullptr} and get reused
  std::vector<WeakFn> weak_passes;
  MarkFn mark_table[256] = {};  // by type id; ids beyond the registry mark nothing
  ScanFn hashtab_scan = nullptr;
  struct Work {
    NodeId node;
    ScanFn scan;
  };
  std::vector<Work> mark_stack;
};
extern CollectorState collector_state;

// Reads ZEM_GC_STRESS and ZEM_GC_STRESS_BOOT, fills the default mark table, clears the counters,
// the roots and the weak passes. Enabled from the start only under ZEM_GC_STRESS_BOOT=1.
void init();

void safe_point_slow();
inline void safe_point() {
  if (--collector_state.countdown <= 0) safe_point_slow();
}
// Asks for a collection at the next safe point (honoured once the collector is enabled).
void request();
// One full collection now, enabled or not (`recycle`).
void collect();
void set_enabled(bool on);
inline bool enabled() { return collector_state.enabled; }
inline bool is_collecting() { return collector_state.collecting; }
// Stress mode for tests: collect at every nth safe point, 0 = off.
void set_stress(uint32_t n);

// ---- Roots -------------------------------------------------------------------------------------
void set_fixed_root(RootSlot slot, RootFn fn, void* context = nullptr);
void add_root(RootFn fn, void* context = nullptr);
// Removes the first entry with this function and context.
void remove_root(RootFn fn, void* context = nullptr);
void add_weak_pass(WeakFn fn);
void remove_weak_pass(WeakFn fn);

// Registers a root callback for the lifetime of a C++ scope.
class ScopedRoot {
 public:
  ScopedRoot(RootFn fn, void* context) : fn_(fn), context_(context) { add_root(fn, context); }
  ~ScopedRoot() { remove_root(fn_, context_); }
  ScopedRoot(const ScopedRoot&) = delete;
  ScopedRoot& operator=(const ScopedRoot&) = delete;

 private:
  RootFn fn_;
  void* context_;
};

// ---- Marking (for mark handlers, scan functions and root callbacks) ----------------------------
void set_mark_handler(TypeId type, MarkFn fn);
MarkFn mark_handler(TypeId type);
// The hash-table module's scan of a table series; until it registers one a table is marked alone.
void set_hashtab_scan(ScanFn fn);

// Marks the node's buffer; true when it was not marked before. 0 is ignored (false).
bool mark_node(NodeId node);
void unmark_node(NodeId node);
// Marks the node and, when newly marked, queues `scan` for it.
bool mark_with(NodeId node, ScanFn scan);
// A block: the node and its cells from head to tail.
void mark_block(NodeId node);
// A context: the node, its word table, its values block unless they live on the argument stack
// (header flag 0x400000 of the context cell) and the owner cell that follows.
void mark_context(NodeId node);
void mark_hashtab(NodeId node);
// Marks one value, or a run of values, through the mark table.
void mark_value(const Cell& cell);
void mark_values(const Cell* first, const Cell* end);
// Marks all queued work (scan functions may queue more).
void drain();
bool is_marked(NodeId node);

}  // namespace zem::gc
