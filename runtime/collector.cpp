// The collector: roots, marking, weak passes and compaction of series at safe points.
#include "runtime/collector.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/resources.h"

namespace zem::gc {

CollectorState collector_state;

namespace {

CollectorState& S = collector_state;

void reset_countdown() {
  if (S.requested && S.enabled) {
    S.countdown = 1;
  } else {
    S.countdown = S.stress != 0 ? S.stress : INT64_MAX;
  }
}

void scan_cells(NodeId node) {
  SeriesBuffer* b = series_buffer(node);
  mark_values(b->cells_head(), b->cells_tail());
}

void scan_context(NodeId node) {
  SeriesBuffer* b = series_buffer(node);
  Cell* cell = b->cells_head();
  Cell* tail = b->cells_tail();
  if (cell >= tail) return;
  mark_hashtab(cell->context_words());
  if (!cell->has_flag(kContextOnStack)) mark_block(cell->context_values());
  if (cell + 1 < tail) mark_value(cell[1]);
}

// ---- Default mark handlers: the cell layouts shared by the series, word and object types.
// A datatype module replaces its entry when its layout needs more.

void mark_any_block(const Cell& c) {
  if (c.node() != 0) mark_block(c.node());
}
void mark_any_string(const Cell& c) {
  mark_node(c.node());
  mark_node(c.text_cache());  // cached converted text, 0 when none
}
void mark_symbol(const Cell& c) {
  mark_node(c.symbol_utf8());
  mark_node(c.symbol_string());
}
void mark_any_word(const Cell& c) {
  if (c.word_context() != 0) mark_context(c.word_context());
}
void mark_context_value(const Cell& c) {
  mark_hashtab(c.context_words());
  if (!c.has_flag(kContextOnStack)) mark_block(c.context_values());
}
void mark_native(const Cell& c) {
  mark_block(c.fn_spec());
  mark_block(c.fn_more());
  if (c.is(TYPE_OP)) {
    TypeId kind = c.op_source();
    if (kind == TYPE_FUNCTION || kind == TYPE_ROUTINE) mark_context(c.fn_context());
  }
}
void mark_function(const Cell& c) {
  mark_context(c.fn_context());
  mark_block(c.fn_spec());
  mark_block(c.fn_more());
}
void mark_plain_series(const Cell& c) { mark_node(c.node()); }
void mark_object(const Cell& c) {
  mark_context(c.object_context());
  mark_block(c.object_record());  // change-notification record, 0 when none
}
void mark_hash_map(const Cell& c) {
  mark_block(c.node());
  mark_hashtab(c.hash_table());
}
void mark_handle(const Cell& c) {
  if (c.handle_resource() >= 0) resources::mark(c.handle_resource(), nullptr);
}
void mark_event(const Cell& c) {
  if (c.has_flag(kEventHasBlock) && c.event_block() != 0) mark_block(c.event_block());
}

void fill_default_mark_table() {
  std::fill(std::begin(S.mark_table), std::end(S.mark_table), nullptr);
  for (TypeId t : {TYPE_BLOCK, TYPE_PAREN, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH})
    S.mark_table[t] = mark_any_block;
  for (TypeId t : {TYPE_STRING, TYPE_FILE, TYPE_URL, TYPE_TAG, TYPE_EMAIL, TYPE_REF})
    S.mark_table[t] = mark_any_string;
  for (TypeId t : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD, TYPE_REFINEMENT})
    S.mark_table[t] = mark_any_word;
  for (TypeId t : {TYPE_NATIVE, TYPE_ACTION, TYPE_OP}) S.mark_table[t] = mark_native;
  for (TypeId t : {TYPE_FUNCTION, TYPE_ROUTINE}) S.mark_table[t] = mark_function;
  // image! holds an image-table id, not a node: the image module installs its handler.
  for (TypeId t : {TYPE_BITSET, TYPE_VECTOR, TYPE_BINARY}) S.mark_table[t] = mark_plain_series;
  for (TypeId t : {TYPE_OBJECT, TYPE_ERROR, TYPE_PORT}) S.mark_table[t] = mark_object;
  for (TypeId t : {TYPE_HASH, TYPE_MAP}) S.mark_table[t] = mark_hash_map;
  S.mark_table[TYPE_SYMBOL] = mark_symbol;
  S.mark_table[TYPE_CONTEXT] = mark_context_value;
  S.mark_table[TYPE_HANDLE] = mark_handle;
  S.mark_table[TYPE_EVENT] = mark_event;
}

uint32_t env_number(const char* name) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  unsigned long n = std::strtoul(text, &end, 10);
  if (*end != '\0' || n > 0xFFFFFFFFul) return 0;
  return static_cast<uint32_t>(n);
}

void mark_pending(void*) {
  mark_pending_exit([](Cell& cell, void*) { mark_value(cell); }, nullptr);
}

#if defined(ZEM_SANITIZE)
[[noreturn]] void dead_node(NodeId node) {
  std::fprintf(stderr, "*** collector: reference to node %u, which is not live\n", node);
  std::abort();
}
#endif

}  // namespace

void init() {
  S = CollectorState{};
  S.stress = env_number("ZEM_GC_STRESS");
  S.stress_boot = S.stress != 0 && env_number("ZEM_GC_STRESS_BOOT") == 1;
  S.enabled = S.stress_boot;
  S.mark_stack.reserve(1024);
  fill_default_mark_table();
  set_fixed_root(RootSlot::pending_exit, mark_pending);
  reset_countdown();
}

void safe_point_slow() {
  bool run = S.enabled && (S.stress != 0 || S.requested);
  reset_countdown();
  if (run) collect();
}

void request() {
  S.requested = true;
  if (S.enabled) S.countdown = 1;
}

void set_enabled(bool on) {
  S.enabled = on;
  reset_countdown();
}

void set_stress(uint32_t n) {
  S.stress = n;
  reset_countdown();
}

void collect() {
  if (S.collecting) return;
  S.collecting = true;
  S.mark_stack.clear();
  for (int i = 0; i < static_cast<int>(RootSlot::count); ++i) {
    if (S.fixed_roots[i] != nullptr) {
      S.fixed_roots[i](S.fixed_contexts[i]);
      drain();
    }
  }
  // Indexing, not iterators: a callback may register another root.
  for (size_t i = 0; i < S.roots.size(); ++i) {
    if (S.roots[i].fn != nullptr) {
      S.roots[i].fn(S.roots[i].context);
      drain();
    }
  }
  for (size_t i = 0; i < S.weak_passes.size(); ++i) {
    S.weak_passes[i]();
    drain();
  }
  resources::sweep();
  alloc::reclaim(S.stress != 0);
  ++S.series_cycles;
  S.requested = false;
  S.collecting = false;
  reset_countdown();
}

// ---- Roots -------------------------------------------------------------------------------------

void set_fixed_root(RootSlot slot, RootFn fn, void* context) {
  S.fixed_roots[static_cast<int>(slot)] = fn;
  S.fixed_contexts[static_cast<int>(slot)] = context;
}

void add_root(RootFn fn, void* context) {
  for (auto& r : S.roots) {
    if (r.fn == nullptr) {
      r = {fn, context};
      return;
    }
  }
  S.roots.push_back({fn, context});
}

void remove_root(RootFn fn, void* context) {
  for (auto& r : S.roots) {
    if (r.fn == fn && r.context == context) {
      r = {nullptr, nullptr};
      return;
    }
  }
}

void add_weak_pass(WeakFn fn) { S.weak_passes.push_back(fn); }

void remove_weak_pass(WeakFn fn) {
  auto at = std::find(S.weak_passes.begin(), S.weak_passes.end(), fn);
  if (at != S.weak_passes.end()) S.weak_passes.erase(at);
}

// ---- Marking -----------------------------------------------------------------------------------

void set_mark_handler(TypeId type, MarkFn fn) { S.mark_table[type] = fn; }
MarkFn mark_handler(TypeId type) { return S.mark_table[type]; }
void set_hashtab_scan(ScanFn fn) { S.hashtab_scan = fn; }

bool mark_node(NodeId node) {
  if (node == 0) return false;
#if defined(ZEM_SANITIZE)
  if (!node_live(node)) dead_node(node);
#endif
  SeriesBuffer* b = series_buffer(node);
  if (b->flags & kSeriesMark) return false;
  b->flags |= kSeriesMark;
  return true;
}

void unmark_node(NodeId node) {
  if (node != 0) series_buffer(node)->flags &= ~kSeriesMark;
}

bool mark_with(NodeId node, ScanFn scan) {
  if (!mark_node(node)) return false;
  S.mark_stack.push_back({node, scan});
  return true;
}

void mark_block(NodeId node) { mark_with(node, scan_cells); }
void mark_context(NodeId node) { mark_with(node, scan_context); }

void mark_hashtab(NodeId node) {
  if (S.hashtab_scan != nullptr) {
    mark_with(node, S.hashtab_scan);
  } else {
    mark_node(node);
  }
}

void mark_value(const Cell& cell) {
  MarkFn fn = S.mark_table[cell.type()];
  if (fn != nullptr) fn(cell);
}

void mark_values(const Cell* first, const Cell* end) {
  const MarkFn* table = S.mark_table;
  for (const Cell* c = first; c < end; ++c) {
    MarkFn fn = table[c->type()];
    if (fn != nullptr) fn(*c);
  }
}

void drain() {
  while (!S.mark_stack.empty()) {
    CollectorState::Work w = S.mark_stack.back();
    S.mark_stack.pop_back();
    w.scan(w.node);
  }
}

bool is_marked(NodeId node) { return node != 0 && (series_buffer(node)->flags & kSeriesMark) != 0; }

}  // namespace zem::gc
