#include "evaluator/interpreter.h"

#include <algorithm>
#include <array>

#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/trace.h"
#include "runtime/collector.h"
#include "runtime/platform.h"

namespace zem {

ContextAccess context_access;
InterpState interp_state;

namespace interp {

namespace {

constexpr uint32_t kNoIndex = 0xFFFFFFFFu;
constexpr uint32_t kMaxTableRefinements = 32;

struct FixedSymbols {
  uint32_t system = 0, system_global = 0, set_path = 0, local = 0, return_word = 0;
} g_symbols;

inline uint32_t canonical(uint32_t sym) { return symbol::canonical_id(sym); }

inline uint32_t length_of(NodeId node) { return series_buffer(node)->used() / sizeof(Cell); }

// The cell at index i of a block's buffer (indexes count from the buffer's head), or null past
// its tail.
inline Cell* at(NodeId node, uint32_t i) {
  SeriesBuffer* b = series_buffer(node);
  return i < b->used() / sizeof(Cell) ? b->cells_head() + i : nullptr;
}
inline Cell* at(const Cursor& c) { return c.index < c.end ? at(c.node, c.index) : nullptr; }

// The result just placed.
inline const Cell& placed(bool sub) { return sub ? *(stack::top() - 1) : *stack::base(); }

// Puts a result where the expression's caller wants it.
inline void place(const Cell& v, bool sub) {
  if (sub)
    stack::push_value(v);
  else
    stack::set_single_result(v);
  if (tracing()) trace::fire_here(TRACE_PUSH, placed(sub));
}

// Drops the top frame and everything the callee pushed (top = callee's base).
inline void drop_frame() {
  StackState& s = stack_state;
  CallFrame* f = --s.call_top;
  s.top = s.base;
  s.base = s.bottom + f->caller_base;
}

// Keeps a block rooted and current while it is evaluated.
struct BlockScope {
  explicit BlockScope(const Cell& block) { interp_state.blocks.push_back(block); }
  ~BlockScope() { interp_state.blocks.pop_back(); }
  BlockScope(const BlockScope&) = delete;
  BlockScope& operator=(const BlockScope&) = delete;
};

void mark_blocks(void*) {
  for (const Cell& b : interp_state.blocks) gc::mark_value(b);
}

Cell make_integer(int32_t n) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.data2 = static_cast<uint32_t>(n);
  return c;
}

// The value of a word when it can be read without raising (infix operator check), else null.
inline const Cell* peek_word_value(const Cell& word) {
  if (word.data3 == kNoIndex || !word.data1) return nullptr;
  const Cell& ctx = *block_head(word.data1);
  if (!(ctx.header & kValuesOnStack)) {
    NodeId values = ctx.data2;
    return word.data3 < length_of(values) ? block_head(values) + word.data3 : nullptr;
  }
  return ctx.data2 ? stack::values_of_ref(ctx.data2) + word.data3 : nullptr;
}

// Runs the values of a block or paren from `c` to its end in the current frame (sub false): the
// last expression's value stays in slot 0, unset when there is none.
uint32_t run_values(Cursor& c) {
  if (!at(c)) {
    stack::set_single_result(shared_cells.unset);
    return EXIT_NONE;
  }
  // By index: nested evaluations grow the vector and move its cells.
  size_t current = interp_state.blocks.size() - 1;
  for (;;) {
    interp_state.blocks[current].data1 = c.index;
    if (uint32_t st = eval_expression(c, false, false)) return st;
    if (!at(c)) return EXIT_NONE;
    stack::reset_arguments();
  }
}

inline Cursor cursor_of(const Cell& block) {
  uint32_t len = length_of(block.node());
  return Cursor{block.node(), block.head_index(), len};
}

uint32_t eval_paren(const Cell& paren, bool sub) {
  BlockScope scope(paren);
  stack::push_body_frame(kInterpNativeFrame);
  Cursor c = cursor_of(paren);
  if (tracing()) trace::fire(TRACE_ENTER, c.node, c.index, shared_cells.none);
  if (uint32_t st = run_values(c)) return st;
  if (tracing()) trace::fire(TRACE_EXIT, c.node, c.end, *stack::base());
  Cell result = *stack::base();
  drop_frame();
  place(result, sub);
  return EXIT_NONE;
}

// ---- Argument cache ---------------------------------------------------------------------------
//
// One block per function value, in spec order:
//   argument: a typeset! (fetch kind in header bits 20-21) followed by the argument's word;
//   refinement: the refinement! with its 1-based number in data3 (`/local` excepted);
//   function! or routine! with /local: an integer!, the slots from /local to the end;
//   native!, action!, op!: a final integer!, the number of refinements.

Cell* cache_holder(const Cell& fn) {
  return block_head(fn.data3) + 1;  // FunctionMore cell 1, or cell 1 of the native's block
}

NodeId build_arg_cache(const Cell& fn) {
  NodeId spec = fn.data2;
  bool is_function = fn.is(TYPE_FUNCTION) || fn.is(TYPE_ROUTINE);
  std::vector<Cell> out;
  uint32_t refinements = 0;
  bool in_locals = false;
  uint32_t locals = 0;
  uint32_t n = length_of(spec);
  for (uint32_t i = 0; i < n; i++) {
    Cell v = block_head(spec)[i];
    if (in_locals) {
      if (v.is(TYPE_WORD)) locals++;
      continue;
    }
    switch (v.type()) {
      case TYPE_WORD:
      case TYPE_GET_WORD:
      case TYPE_LIT_WORD:
      case TYPE_SET_WORD: {
        uint32_t kind = v.is(TYPE_WORD)       ? FETCH_EVAL
                        : v.is(TYPE_GET_WORD) ? FETCH_GET
                        : v.is(TYPE_LIT_WORD) ? FETCH_LIT
                                              : FETCH_RETURN;
        if (v.is(TYPE_SET_WORD) && canonical(v.data2) != canonical(g_symbols.return_word))
          fire(Err::script_bad_func_def, &v);
        Cell ts = typeset_all();
        if (i + 1 < n && block_head(spec)[i + 1].is(TYPE_BLOCK)) {
          Cell types = block_head(spec)[i + 1];
          uint32_t len = length_of(types.node());
          if (len > types.head_index()) {
            std::vector<Cell> elements(block_head(types.node()) + types.head_index(),
                                       block_head(types.node()) + len);
            ts = typeset_from_spec(elements);
          }
          i++;
        }
        ts.header |= kind << kFetchShift;
        out.push_back(ts);
        out.push_back(v);
        break;
      }
      case TYPE_REFINEMENT: {
        if (canonical(v.data2) == canonical(g_symbols.local) && g_symbols.local) {
          in_locals = true;
          locals = 1;
          break;
        }
        Cell r = v;
        r.data3 = ++refinements;
        out.push_back(r);
        break;
      }
      default:
        break;  // attribute block, doc strings
    }
  }
  if (is_function && in_locals) out.push_back(make_integer(static_cast<int32_t>(locals)));
  if (!is_function && refinements) out.push_back(make_integer(static_cast<int32_t>(refinements)));
  NodeId cache = alloc::make_cells(static_cast<int64_t>(out.size() ? out.size() : 1));
  SeriesBuffer* b = series_buffer(cache);
  for (size_t k = 0; k < out.size(); k++) b->cells_head()[k] = out[k];
  b->set_length(static_cast<uint32_t>(out.size()));
  Cell blk{};
  blk.set_header(TYPE_BLOCK);
  blk.data2 = cache;
  *cache_holder(fn) = blk;
  return cache;
}

// ---- Arguments --------------------------------------------------------------------------------

struct CallContext {
  const Cell* fn_name;  // the function's name for errors
  Cursor* c;
  bool infix;
};

[[noreturn]] void fire_no_arg(const CallContext& cc, const Cell& word) {
  Cell name = *cc.fn_name;
  Cell w = word;
  fire(Err::script_no_arg, &name, &w);
}

// Fetches one argument as the newest cell and checks its type.
uint32_t fetch_one(const Cell& ts, const Cell& word, const CallContext& cc, bool operand) {
  uint32_t kind = (ts.header >> kFetchShift) & 3;
  Cell* v = cc.c ? at(*cc.c) : nullptr;
  if (!v) {
    if (kind == FETCH_LIT && typeset_has(ts, TYPE_UNSET)) {
      stack::push_value(shared_cells.unset);
      return EXIT_NONE;
    }
    fire_no_arg(cc, word);
  }
  switch (kind) {
    case FETCH_EVAL:
      if (uint32_t st = eval_expression(*cc.c, operand, true)) return st;
      break;
    case FETCH_GET:
      stack::push_value(*v);
      cc.c->index++;
      break;
    default: {
      Cell val = *v;
      cc.c->index++;
      if (val.is(TYPE_PAREN)) {
        if (uint32_t st = eval_paren(val, true)) return st;
      } else if (val.is(TYPE_GET_WORD)) {
        stack::push_value(*word_value(val));
      } else if (val.is(TYPE_GET_PATH)) {
        if (uint32_t st = eval_path(val, cc.c, false, true, true)) return st;
      } else {
        stack::push_value(val);
      }
    }
  }
  const Cell& got = *(stack::top() - 1);
  if (tracing() && kind != FETCH_EVAL) trace::fire(TRACE_FETCH, cc.c->node, cc.c->index - 1, got);
  if (!typeset_has(ts, got.type())) {
    Cell name = *cc.fn_name, type = datatype_cell(got.type()), w = word;
    fire(Err::script_expect_arg, &name, &type, &w);
  }
  return EXIT_NONE;
}

// Collects the arguments of the call whose frame is current; natives and actions are called.
uint32_t fetch_arguments(const Cell& fn, const CallContext& cc, const CallInfo& info) {
  NodeId cache = arg_cache(fn);
  bool is_function = fn.is(TYPE_FUNCTION);
  bool table = fn.is(TYPE_NATIVE) || fn.is(TYPE_ACTION);
  uint32_t n = length_of(cache);
  // Only the entries of the refinements the value has are read; they start absent.
  std::array<int32_t, kMaxTableRefinements> refs;
  if (table) {
    Cell last = n ? block_head(cache)[n - 1] : shared_cells.none;
    uint32_t count = last.is(TYPE_INTEGER) ? static_cast<uint32_t>(last.int_value()) : 0;
    std::fill_n(refs.begin(), std::min(count, kMaxTableRefinements), -1);
  }
  // function!: frame index of each refinement's flag, by refinement number.
  std::array<uint32_t, kMaxTableRefinements> flag_slot;  // set before it is read
  bool collecting = true;
  bool first = true;
  uint32_t ref_count = 0;
  for (uint32_t i = 0; i < n; i++) {
    Cell e = block_head(cache)[i];
    if (e.is(TYPE_TYPESET)) {
      Cell word = block_head(cache)[++i];
      if (((e.header >> kFetchShift) & 3) == FETCH_RETURN) continue;
      if (collecting) {
        if (first && cc.infix) {
          const Cell& left = *stack::base();
          if (!typeset_has(e, left.type())) {
            Cell name = *cc.fn_name, type = datatype_cell(left.type());
            fire(Err::script_expect_arg, &name, &type, &word);
          }
        } else if (uint32_t st = fetch_one(e, word, cc, cc.infix)) {
          return st;
        }
        first = false;
      } else if (is_function) {
        stack::push_value(shared_cells.none);
      }
    } else if (e.is(TYPE_REFINEMENT)) {
      collecting = false;
      ref_count = e.data3;
      if (is_function && e.data3 <= kMaxTableRefinements) {
        flag_slot[e.data3 - 1] = static_cast<uint32_t>(stack::top() - stack::base());
        stack::push_value(shared_cells.false_value);
      } else if (is_function) {
        stack::push_value(shared_cells.false_value);
      }
    } else if (e.is(TYPE_INTEGER) && is_function) {
      stack::push_value(shared_cells.false_value);
      for (int32_t k = 1; k < e.int_value(); k++) stack::push_value(shared_cells.none);
    }
  }
  if (info.path) {
    // Refinements named by the path, in its order.
    uint32_t used = 0;
    NodeId path = info.path->node();
    for (uint32_t p = info.path_index; p < length_of(path); p++) {
      Cell el = block_head(path)[p];
      bool use = true;
      if (el.is(TYPE_GET_WORD)) {
        use = is_true(*word_value(el));
      } else if (!el.is(TYPE_WORD)) {
        fire(Err::script_bad_refine, &el);
      }
      // Find the refinement and the position of its first argument entry.
      uint32_t k = 0, number = 0;
      for (; k < n; k++) {
        const Cell& r = block_head(cache)[k];
        if (r.is(TYPE_TYPESET)) {
          k++;
          continue;
        }
        if (r.is(TYPE_REFINEMENT) && canonical(r.data2) == canonical(el.data2)) {
          number = r.data3;
          break;
        }
      }
      if (!number) {
        Cell name = *cc.fn_name;
        fire(Err::script_no_refine, &name, &el);
      }
      if (number <= 32 && (used & (1u << (number - 1)))) {
        Cell p2 = *info.path;
        fire(Err::script_dup_refine, &p2);
      }
      if (number <= 32) used |= 1u << (number - 1);
      if (!use) continue;
      if (is_function) {
        if (number > kMaxTableRefinements) fire(Err::internal_not_done);
        uint32_t slot = flag_slot[number - 1];
        stack::base()[slot] = shared_cells.true_value;
        uint32_t arg = slot + 1;
        for (uint32_t j = k + 1; j < n; j++) {
          Cell e = block_head(cache)[j];
          if (!e.is(TYPE_TYPESET)) break;
          Cell word = block_head(cache)[++j];
          if (uint32_t st = fetch_one(e, word, cc, false)) return st;
          stack::base()[arg++] = *(stack::top() - 1);
          stack::drop_values(1);
        }
      } else {
        if (number > kMaxTableRefinements) fire(Err::internal_not_done);
        refs[number - 1] = static_cast<int32_t>(stack::top() - stack::base());
        for (uint32_t j = k + 1; j < n; j++) {
          Cell e = block_head(cache)[j];
          if (!e.is(TYPE_TYPESET)) break;
          Cell word = block_head(cache)[++j];
          if (uint32_t st = fetch_one(e, word, cc, false)) return st;
        }
      }
    }
  }
  (void)ref_count;
  if (tracing()) trace::call(fn, *cc.fn_name);
  if (!table) return EXIT_NONE;
  if (fn.is(TYPE_NATIVE)) {
    NativeEntry entry = fn.data1 < kNativeSlots ? natives_table.entries[fn.data1] : nullptr;
    if (!entry) fire(Err::internal_not_done);
    return entry(0, refs.data());
  }
  ActionEntry entry = actions::entry(fn.data1 + 1);
  if (!entry) fire(Err::internal_not_done);
  entry(refs.data());
  return EXIT_NONE;
}

}  // namespace

uint32_t call_routine(const Cell& fn) {
  Cell* more = block_head(fn.data3);
  uint32_t index = static_cast<uint32_t>(more[MORE_ENTRY].int_value());
  RoutineEntry entry = index < routine_registry.count ? routine_registry.entries[index] : nullptr;
  if (!entry) fire(Err::internal_not_done);
  int32_t result_type = more[MORE_CONTEXT].int_value();
  Cell* args = stack::base();
  uint32_t count = static_cast<uint32_t>(stack::top() - args);
  const Cell* r = entry(args, count);
  if (fn.header & kRoutineCellConvention) {
    stack::set_single_result(r ? *r : shared_cells.unset);
    return EXIT_NONE;
  }
  switch (result_type) {
    case TYPE_LOGIC: stack::set_single_result(make_logic(r && is_true(*r) &&
                                                         !(r->is(TYPE_INTEGER) && r->data2 == 0)));
      break;
    case TYPE_INTEGER:
    case TYPE_FLOAT:
      stack::set_single_result(r ? *r : shared_cells.unset);
      break;
    default:
      stack::set_single_result(shared_cells.unset);
  }
  return EXIT_NONE;
}

namespace {

// `+`, `-` and `*` of two integers, the right one a literal or a word's value, computed in place
// of the left operand without a call (the result is the action's: a float! on 32-bit overflow).
bool integer_fast_path(uint32_t action_index, Cursor& c, Cell* left) {
  auto a = static_cast<ActionIndex>(action_index + 1);
  if (a != ActionIndex::add && a != ActionIndex::subtract && a != ActionIndex::multiply)
    return false;
  if (!left->is(TYPE_INTEGER)) return false;
  const Cell* r = at(c);
  if (!r) return false;
  if (r->is(TYPE_WORD)) r = peek_word_value(*r);
  if (!r || !r->is(TYPE_INTEGER)) return false;
  int32_t x = left->int_value(), y = r->int_value(), out;
  bool overflow = a == ActionIndex::add        ? __builtin_add_overflow(x, y, &out)
                  : a == ActionIndex::subtract ? __builtin_sub_overflow(x, y, &out)
                                               : __builtin_mul_overflow(x, y, &out);
  if (overflow) {
    double dx = x, dy = y;
    left->set_header(TYPE_FLOAT);
    left->set_float_payload(a == ActionIndex::add        ? dx + dy
                            : a == ActionIndex::subtract ? dx - dy
                                                         : dx * dy);
  } else {
    *left = make_integer(out);
  }
  c.index++;
  stack_state.top = left + 1;
  return true;
}

}  // namespace

void init() {
  context_access.word_value_cell = &context::word_value_cell;
  context_access.set_word_value = [](const Cell& word, const Cell& value) {
    Cell w = word;
    context::set_word_value(w, value);
  };
  context_access.make_from_spec = [](NodeId spec, bool on_stack, bool self, uint32_t kind) {
    Cell s{};
    s.set_header(TYPE_BLOCK);
    s.data2 = spec;
    return context::make_from_spec(s, on_stack, self, static_cast<ContextKind>(kind));
  };
  context_access.bind_block = &context::bind_block;
  context_access.collect_set_words = &context::collect_set_words;
  // make object! from a block: the block's result is dropped; an exit leaving it goes on as the
  // exception, since object construction cannot pass a status.
  object_hooks.eval_block = [](const Cell& block) {
    Cell* top = stack::top();
    if (uint32_t st = eval_block(block, false)) stack::raise_status(st);
    stack_state.top = top;
  };
  // on-change* and on-deep-change*: a function frame with the arguments given, then the /local
  // defaults (logic false, then none!). The function stays pushed below the frame for the call.
  object_hooks.run_handler = [](const Cell& fn, const Cell& name, const Cell* args, uint32_t count,
                                uint32_t locals) {
    stack::check_machine_stack();
    Cell* holder = stack::push_value(fn);
    stack::push_frame(kInterpFunctionFrame, name);
    for (uint32_t i = 0; i < count; i++) stack::push_value(args[i]);
    if (locals) stack::push_value(make_logic(false));
    for (uint32_t i = 1; i < locals; i++) stack::push_value(shared_cells.none);
    if (uint32_t st = exec_function_body(*holder, 0)) stack::raise_status(st);
    drop_frame();
    stack_state.top = holder;
  };
  interp_state.blocks.clear();
  gc::set_fixed_root(gc::RootSlot::held_value, mark_blocks);
  if (symbol_state.block)
    set_fixed_symbols(symbol::intern("system"), symbol::intern("system-global"),
                      symbol::intern("set-path"), symbol::intern("local"),
                      symbol::intern("return"));
}

void set_fixed_symbols(uint32_t system, uint32_t system_global, uint32_t set_path,
                       uint32_t local, uint32_t return_word) {
  g_symbols = {system, system_global, set_path, local, return_word};
}

Cell current_block() {
  return interp_state.blocks.empty() ? shared_cells.unset : interp_state.blocks.back();
}

NodeId arg_cache(const Cell& fn) {
  const Cell* holder = cache_holder(fn);
  if (holder->is(TYPE_BLOCK)) return holder->node();
  return build_arg_cache(fn);
}

void set_word(const Cell& word, const Cell& value) {
  if (value.is(TYPE_UNSET)) {
    Cell w = word;
    fire(Err::script_need_value, &w);
  }
  if (word.data3 != kNoIndex && word.data1) {
    const Cell& ctx = *block_head(word.data1);
    if (ctx.header & kValuesOnStack) {
      if (ctx.data2) {
        stack::values_of_ref(ctx.data2)[word.data3] = value;
        return;
      }
    } else if ((ctx.header & kContextKindMask) != (2u << kContextKindShift) &&
               word.data3 < length_of(ctx.data2)) {
      block_head(ctx.data2)[word.data3] = value;
      return;
    }
  }
  context_access.set_word_value(word, value);
}

uint32_t eval_block(const Cell& block, bool keep) {
  BlockScope scope(block);
  stack::push_body_frame(kEvalFrame);
  Cursor c = cursor_of(block);
  if (tracing()) trace::fire(TRACE_ENTER, c.node, c.index, shared_cells.none);
  if (uint32_t st = run_values(c)) return st;
  if (tracing()) trace::fire(TRACE_EXIT, c.node, c.end, *stack::base());
  if (keep)
    stack::pop_frame_keep_result();
  else
    stack::pop_frame();
  return EXIT_NONE;
}

uint32_t eval_next(const Cell& block, uint32_t& index, bool sub) {
  BlockScope scope(block);
  interp_state.blocks.back().data1 = index;
  stack::push_body_frame(kInterpNativeFrame);
  Cursor c{block.node(), index, length_of(block.node())};
  if (!at(c)) {
    stack::set_single_result(shared_cells.unset);
  } else if (uint32_t st = eval_expression(c, false, false)) {
    return st;
  }
  index = c.index;
  Cell result = *stack::base();
  drop_frame();
  place(result, sub);
  return EXIT_NONE;
}

uint32_t eval_next_index(Cell& block) {
  uint32_t index = block.head_index();
  uint32_t st = eval_next(block, index, false);
  if (!st) block.data1 = index;
  return st;
}

uint32_t eval_expression(Cursor& c, bool no_infix, bool sub, bool literal_functions) {
  gc::safe_point();
  Cell* start_top = stack::top();
  Cell* v = at(c);
  if (!v) {
    place(shared_cells.unset, sub);
    return EXIT_NONE;
  }
  Cell val = *v;
  if (tracing()) trace::fire(TRACE_FETCH, c.node, c.index, val);
  c.index++;
  switch (val.type()) {
    case TYPE_PAREN:
      if (uint32_t st = eval_paren(val, sub)) return st;
      break;
    case TYPE_SET_WORD: {
      stack::push_frame(kInterpNativeFrame, val);
      stack::push_value(val);
      if (!at(c)) fire(Err::script_need_value, &val);
      if (uint32_t st = eval_expression(c, false, true)) return st;
      if (tracing()) trace::fire_here(TRACE_SET, stack::base()[1], &val);
      Cell result = stack::base()[1];
      set_word(stack::base()[0], result);
      drop_frame();
      place(result, sub);
      break;
    }
    case TYPE_SET_PATH: {
      if (!at(c)) fire(Err::script_need_value, &val);
      stack::push_frame_sym(kInterpNativeFrame, g_symbols.set_path, 0);
      if (uint32_t st = eval_expression(c, false, true)) return st;
      if (tracing()) trace::fire_here(TRACE_SET, stack::base()[0], &val);
      if (uint32_t st = eval_path(val, nullptr, true, false, true, stack::base())) return st;
      Cell result = stack::base()[0];
      drop_frame();
      place(result, sub);
      break;
    }
    case TYPE_GET_WORD:
      place(*word_value(val), sub);
      break;
    case TYPE_LIT_WORD:
      val.set_type(TYPE_WORD);
      place(val, sub);
      break;
    case TYPE_WORD: {
      const Cell* w = word_value(val);
      switch (w->type()) {
        case TYPE_UNSET:
          fire(Err::script_no_value, &val);
        case TYPE_NATIVE:
        case TYPE_ACTION:
        case TYPE_FUNCTION:
        case TYPE_ROUTINE: {
          Cell fn = *w;
          CallInfo info;
          info.name = &val;
          if (uint32_t st = call_function(fn, &c, sub, info)) return st;
          break;
        }
        case TYPE_OP:
          fire(Err::script_no_op_arg, &val);
        default:
          place(*w, sub);
      }
      break;
    }
    case TYPE_PATH:
      if (uint32_t st = eval_path(val, &c, false, false, sub)) return st;
      break;
    case TYPE_GET_PATH:
      if (uint32_t st = eval_path(val, &c, false, true, sub)) return st;
      break;
    case TYPE_LIT_PATH:
      val.set_type(TYPE_PATH);
      place(val, sub);
      break;
    case TYPE_OP:
      fire(Err::internal_not_done, &val);
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      if (literal_functions) {
        place(val, sub);
      } else if (uint32_t st = call_function(val, &c, sub, CallInfo{})) {
        return st;
      }
      break;
    case TYPE_ISSUE: {
      uint32_t sym = canonical(val.data2);
      const Cell* next = at(c);
      if (next && next->is(TYPE_BLOCK) && g_symbols.system &&
          (sym == canonical(g_symbols.system) || sym == canonical(g_symbols.system_global)))
        fire(Err::internal_zem_system);
      place(val, sub);
      break;
    }
    default:
      place(val, sub);
  }
  if (no_infix) return EXIT_NONE;
  // Infix operators, left to right: the result just made is the operator's left operand.
  for (;;) {
    const Cell* next = at(c);
    if (!next || !next->is(TYPE_WORD)) break;
    const Cell* opv = peek_word_value(*next);
    if (!opv || !opv->is(TYPE_OP)) break;
    Cell word = *next;
    Cell fn = *opv;
    fn.set_type(native::op_source_type(*opv));
    if (tracing()) trace::fire(TRACE_FETCH, c.node, c.index, word);
    c.index++;
    if (fn.is(TYPE_ACTION) && !tracing() && integer_fast_path(fn.data1, c, sub ? start_top : stack::base()))
      continue;
    stack_state.top = sub ? start_top : stack::base();
    CallInfo info;
    info.name = &word;
    info.infix = true;
    if (uint32_t st = call_function(fn, &c, sub, info)) return st;
  }
  if (tracing() && !sub) trace::fire_here(TRACE_EXPR, *stack::base());
  return EXIT_NONE;
}

uint32_t call_function(const Cell& fn_in, Cursor* c, bool sub, const CallInfo& info) {
  stack::check_machine_stack();
  Cell fn = fn_in;
  Cell* holder = info.infix ? nullptr : stack::push_value(fn);
  Cell name = info.name && info.name->is(TYPE_WORD)
                  ? *info.name
                  : (info.name && interp::word_kind(info.name->type())
                         ? *info.name
                         : make_word_cell(stack_state.anon_symbol, 0));
  switch (fn.type()) {
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_ROUTINE:
      stack::push_frame(kInterpNativeFrame, name);
      break;
    case TYPE_FUNCTION:
      stack::push_frame(kInterpFunctionFrame, name);
      break;
    default:
      crash_report(CRASH_NO_SWITCH_MATCH, 0);
  }
  if (info.infix) stack_state.top = stack_state.base + 1;
  if (tracing()) trace::open(fn);
  CallContext cc{&name, c, info.infix};
  if (uint32_t st = fetch_arguments(fn, cc, info)) return st;
  if (fn.is(TYPE_FUNCTION)) {
    if (uint32_t st = exec_function_body(fn, info.object)) return st;
  } else if (fn.is(TYPE_ROUTINE)) {
    if (uint32_t st = call_routine(fn)) return st;
  }
  Cell result = *stack::base();
  drop_frame();
  if (holder) stack_state.top = holder;
  place(result, sub);
  if (tracing()) trace::returned(placed(sub), name);
  return EXIT_NONE;
}

uint32_t exec_function_body(const Cell& fn, NodeId) {
  NodeId ctx = fn.data1;
  uint32_t frame = stack::depth() - 1;
  // The context's values go back to the caller's on every way out.
  struct Restore {
    NodeId ctx;
    uint32_t saved;
    ~Restore() { block_head(ctx)->data2 = saved; }
  } restore{ctx, block_head(ctx)->data2};
  block_head(ctx)->data2 = stack::values_ref(stack::base());
  stack::set_body_flag(true);
  trace::BodyScope traced(fn);
  Cell body = block_head(fn.data3)[MORE_BODY];
  if (!body.is(TYPE_BLOCK)) {
    stack::set_single_result(shared_cells.unset);
  } else if (uint32_t st = eval_block(body, true)) {
    if ((st != EXIT_RETURN && st != EXIT_EXIT) || !stack::exit_stops_at(frame)) return st;
    stack::take_exit_value();
  }
  traced.epilog(fn, *stack::base());
  return EXIT_NONE;
}

namespace {
uint32_t path_steps(const Cell& path, Cursor* c, bool set, bool get, bool sub,
                    const Cell* set_value);
}  // namespace

uint32_t eval_path(const Cell& path, Cursor* c, bool set, bool get, bool sub,
                   const Cell* set_value) {
  if (!tracing()) return path_steps(path, c, set, get, sub, set_value);
  Cell p = path;
  trace::fire_in(TRACE_ENTER, p, shared_cells.none);
  if (uint32_t st = path_steps(p, c, set, get, sub, set_value)) return st;
  if (tracing()) trace::fire_in(TRACE_EXIT, p, placed(sub));
  return EXIT_NONE;
}

namespace {

uint32_t path_steps(const Cell& path, Cursor* c, bool set, bool get, bool sub,
                    const Cell* set_value) {
  NodeId node = path.node();
  uint32_t len = length_of(node);
  uint32_t first = path.head_index();
  if (first >= len) {
    Cell p = path;
    fire(Err::script_empty_path, &p);
  }
  Cell head = block_head(node)[first];
  if (!head.is(TYPE_WORD)) {
    Cell p = path;
    fire(Err::script_word_first, &p);
  }
  Cell value = *word_value(head);
  if (value.is(TYPE_UNSET)) {
    Cell p = path;
    fire(Err::script_unset_path, &p, &head);
  }
  if (any_function(value.type())) {
    Cell p = path;
    if (set) fire(Err::script_invalid_path_set, &p);
    if (get) fire(Err::script_invalid_path_get, &p);
    CallInfo info;
    info.name = &head;
    info.path = &path;
    info.path_index = first + 1;
    return call_function(value, c, sub, info);
  }
  // The current value and the one before it live on the stack while elements are evaluated.
  stack::push_frame_sym(kInterpNativeFrame, stack_state.body_symbol, 0);
  Cell* cur = stack::push_value(value);
  Cell* prev = stack::push_value(shared_cells.none);
  Cell* elem = stack::push_value(shared_cells.none);
  Cell* prev_elem = stack::push_value(head);
  Cell* store = stack::push_value(set_value ? *set_value : shared_cells.none);
  Cell p = path;
  for (uint32_t i = first + 1; i < len; i++) {
    *elem = block_head(node)[i];
    if (elem->is(TYPE_GET_WORD)) {
      *elem = *word_value(*elem);
    } else if (elem->is(TYPE_PAREN)) {
      Cell paren = *elem;
      if (uint32_t st = eval_paren(paren, true)) return st;
      *elem = *(stack::top() - 1);
      stack::drop_values(1);
    }
    if (elem->is(TYPE_UNSET)) {
      Cell e = block_head(node)[i];
      fire(Err::script_invalid_path, &p, &e);
    }
    bool last = i + 1 >= len;
    PathHandler h = actions::handler_by_type(*cur, &p, *elem, static_cast<int32_t>(i - first));
    PathStep step;
    step.value = cur;
    step.element = elem;
    step.set_value = set && last ? store : nullptr;
    step.path = &p;
    step.previous = prev->is(TYPE_NONE) ? nullptr : prev;
    step.previous_element = prev_elem;
    step.index = static_cast<int32_t>(i - first);
    step.last = last;
    Cell* r = h(step);
    *prev = *cur;
    *prev_elem = *elem;
    *cur = r ? *r : shared_cells.none;
    if (!get && !set && any_function(cur->type())) {
      Cell fn = *cur;
      Cell name = *elem;
      NodeId object = prev->is(TYPE_OBJECT) ? prev->data1 : 0;
      drop_frame();
      CallInfo info;
      info.name = name.is(TYPE_WORD) ? &name : nullptr;
      info.path = &path;
      info.path_index = i + 1;
      info.object = object;
      return call_function(fn, c, sub, info);
    }
  }
  Cell result = set ? *store : *cur;
  drop_frame();
  place(result, sub);
  return EXIT_NONE;
}

}  // namespace

}  // namespace interp
}  // namespace zem
