// The interpreter: evaluation of blocks, words, paths, operators and calls of every function kind.
//
// How an expression is evaluated. One loop (run_values) takes a block's expressions in turn, and
// `eval_argument` takes an argument's; both start it with a safe point and go through
// `expression_at`, the one classification of its first term (`classify`): a term that needs no
// call is read straight from the block, a word whose value is a function goes to `call_word`, the
// one entry of calls by a word (`return`, `if` and `either` run there without their native entry,
// a value with a usable call shape gets its frame filled from the shape, anything else takes
// `call_function`), and the rest is `expression`'s, which switches on the value: set-words,
// parens, paths and the other active values have their own steps. The infix loop (`eval_infix`)
// then applies the operators that follow, left to right; two numbers under an operator that the
// datatypes' arithmetic answers (`quick`) are computed without a call. A method call through an
// object path reaches its field through the object's field cache without a path step.
//
// Invariants. A cell address in a block (a View) is valid until the next safe point or until
// code runs that can change the block: a View is taken after the safe point and dropped before
// anything is evaluated; positions are kept as indexes (Cursor). The argument stack never moves,
// so Cell* into it live across evaluation. A word's value cell comes from the cached values of
// the running call (CallValues) or of the context read last (ValuesCache): the first is reset
// whenever a function body starts or ends, the second is emptied by the memory manager whenever
// a buffer moves, and words are read through them only while no code has run since. Tracing is
// decided per step: while a tracer is installed (`trace_state.enabled`) every call takes the
// general path, which reports each event.
#include "evaluator/interpreter.h"

#include <algorithm>
#include <array>
#include <optional>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interp_internal.h"
#include "evaluator/natives.h"
#include "runtime/collector.h"
#include "runtime/platform.h"

namespace zem {

InterpState interp_state;

namespace interp {

ValuesCache values_cache;
namespace {
// Registered before anything runs, so every move empties the cache, whoever started the runtime.
[[maybe_unused]] const bool values_cache_watched = (watch_moves(&values_cache.length), true);
}  // namespace
CallValues call_values;

namespace {

constexpr uint32_t kMaxTableRefinements = 32;

struct FixedSymbols {
  uint32_t system = 0, system_global = 0, set_path = 0, local = 0, return_word = 0;
} g_symbols;

inline uint32_t canonical(uint32_t sym) { return symbol::canonical_id(sym); }

// The cell at index i of a block's buffer (indexes count from the buffer's head), or null past
// its tail.
inline Cell* at(NodeId node, uint32_t i) {
  SeriesBuffer* b = series_buffer(node);
  return i < b->used() / sizeof(Cell) ? b->cells_head() + i : nullptr;
}
inline Cell* at(const Cursor& c) { return c.index < c.end ? at(c.node, c.index) : nullptr; }

// The cells a cursor may still read: valid until anything runs that can reach a safe point or
// change the block.
struct View {
  Cell* head;
  uint32_t limit;  // the cursor's end, or the block's length when it shrank
};
inline View view_of(const Cursor& c) {
  SeriesBuffer* b = series_buffer(c.node);
  uint32_t used = b->used() / sizeof(Cell);
  return View{b->cells_head(), used < c.end ? used : c.end};
}

inline Cursor cursor_of(const Cell& block) {
  return Cursor{block.node(), block.head_index(), length_of(block.node())};
}

// How far an evaluated argument reaches: a whole expression with its infix operators, or a
// single term (an operator's right operand).
enum class Reach : uint8_t { expression, term };

// What an expression step answers: an exit status, or one of two outcomes only the interpreter
// sees. It never passes for an exit code without `exit_code`.
enum class Step : uint32_t {
  ok = EXIT_NONE,
  body_returned = 0xFFFFFFFFu,  // `return` in the running function's body ended it: its value
                                // is the newest cell
  settled = 0xFFFFFFFEu,        // done, and nothing infix follows (seen with nothing run since)
};
inline Step exit_step(uint32_t code) { return static_cast<Step>(code); }
inline uint32_t exit_code(Step s) {
  return s == Step::settled || s == Step::body_returned ? EXIT_NONE : static_cast<uint32_t>(s);
}

// Keeps a block rooted and current while it is evaluated.
struct BlockScope {
  [[gnu::always_inline]] explicit BlockScope(const Cell& block) {
    interp_state.blocks.push_back(block);
  }
  ~BlockScope() { interp_state.blocks.pop_back(); }
  BlockScope(const BlockScope&) = delete;
  BlockScope& operator=(const BlockScope&) = delete;
};

void mark_blocks(void*) {
  for (const Cell& b : interp_state.blocks) gc::mark_value(b);
  for (const Cell& p : interp_state.paths) gc::mark_value(p);
  for (const Cell& h : interp_state.held) gc::mark_value(h);
}

// Keeps a called value rooted for the call (when `on`).
struct HeldScope {
  HeldScope(const Cell& value, bool on) : on_(on) {
    if (on) interp_state.held.push_back(value);
  }
  ~HeldScope() {
    if (on_) interp_state.held.pop_back();
  }
  HeldScope(const HeldScope&) = delete;
  HeldScope& operator=(const HeldScope&) = delete;

 private:
  bool on_;
};

// ---- Terms --------------------------------------------------------------------------------------

// The op! value of the word at `index` of the view, or null when no operator stands there.
[[gnu::always_inline]] inline const Cell* op_at(const View& w, uint32_t index) {
  if (index >= w.limit || !w.head[index].is(TYPE_WORD)) return nullptr;
  const Cell* v = peek_word_value(w.head[index]);
  return v && v->is(TYPE_OP) ? v : nullptr;
}


// The block! cell that holds the argument cache and the call shape.
inline Cell* cache_holder(const Cell& fn) {
  return block_head(fn.fn_more()) + 1;  // FunctionMore cell 1, or cell 1 of the native's block
}

// ---- The quick operator -------------------------------------------------------------------------

// The natives and actions that two numbers answer without their entry: the comparisons and the
// remainder (of two integers) and `+`, `-`, `*`.
enum class Quick : uint8_t { none, add, subtract, multiply, remainder, equal, not_equal, lesser, greater,
                             lesser_equal, greater_equal };

// The quick operation of each native and action slot (fn_entry), read on every operator.
struct QuickTables {
  std::array<Quick, kNativeSlots> natives{};
  std::array<Quick, kActionCount> actions{};
};
constexpr QuickTables kQuick = [] {
  QuickTables t{};
  auto action = [&](ActionIndex a, Quick q) { t.actions[static_cast<uint32_t>(a) - 1] = q; };
  action(ActionIndex::add, Quick::add);
  action(ActionIndex::subtract, Quick::subtract);
  action(ActionIndex::multiply, Quick::multiply);
  action(ActionIndex::remainder, Quick::remainder);
  auto native = [&](uint32_t n, Quick q) { t.natives[n - 1] = q; };
  native(NATIVE_equal_q, Quick::equal);
  native(NATIVE_strict_equal_q, Quick::equal);
  native(NATIVE_not_equal_q, Quick::not_equal);
  native(NATIVE_lesser_q, Quick::lesser);
  native(NATIVE_greater_q, Quick::greater);
  native(NATIVE_lesser_or_equal_q, Quick::lesser_equal);
  native(NATIVE_greater_or_equal_q, Quick::greater_equal);
  return t;
}();

// The quick operation of slot `slot` of a native! or action! (of type `type`).
inline Quick quick_for(TypeId type, uint32_t slot) {
  if (type == TYPE_ACTION) return slot < kActionCount ? kQuick.actions[slot] : Quick::none;
  if (type == TYPE_NATIVE) return slot < kNativeSlots ? kQuick.natives[slot] : Quick::none;
  return Quick::none;
}
inline Quick quick_of(const Cell& fn) { return quick_for(fn.type(), fn.fn_entry()); }

// `left op right` written over `left` when both are integer! or float! and the datatypes'
// integer and float arithmetic give the answer the operator's entry gives; false (left untouched)
// when the entry is needed: another type, a comparison or remainder with a float! (their rules
// are the action's), or a remainder that raises.
[[gnu::always_inline]] inline bool quick(Quick q, Cell& left, const Cell& right) {
  bool li = left.is(TYPE_INTEGER), ri = right.is(TYPE_INTEGER);
  if ((!li && !left.is(TYPE_FLOAT)) || (!ri && !right.is(TYPE_FLOAT))) return false;
  MathOp op;
  switch (q) {
    case Quick::add: op = OP_ADD; break;
    case Quick::subtract: op = OP_SUBTRACT; break;
    case Quick::multiply: op = OP_MULTIPLY; break;
    case Quick::none: return false;
    case Quick::remainder: {
      if (!li || !ri) return false;
      IntResult r = integer_apply(left.int_value(), right.int_value(), OP_REMAINDER);
      if (r.fault != NumFault::none) return false;
      left = make_integer(r.value);
      return true;
    }
    default: {
      if (!li || !ri) return false;
      int32_t x = left.int_value(), y = right.int_value();
      bool r = q == Quick::equal       ? x == y
               : q == Quick::not_equal ? x != y
               : q == Quick::lesser    ? x < y
               : q == Quick::greater   ? x > y
               : q == Quick::lesser_equal ? x <= y
                                          : x >= y;
      left = make_logic(r);
      return true;
    }
  }
  if (li && ri) {
    IntResult r = integer_add_sub_mul(left.int_value(), right.int_value(), op);
    if (r.promoted)
      set_float(left, r.real);
    else
      left = make_integer(r.value);
    return true;
  }
  double a = li ? double(left.int_value()) : left.float_value();
  double b = ri ? double(right.int_value()) : right.float_value();
  NumFault fault = NumFault::none;
  set_float(left, float_apply(a, b, op, fault));  // no fault for these three
  return true;
}

// A field of an object whose changes nobody watches (no change record) is set in place with its
// set mark; false when the object's change handlers must see it.
[[gnu::noinline]] bool set_quiet_field(NodeId ctx, uint32_t index, Cell* slot, const Cell& value) {
  if (context::owner(ctx).object_record() != 0) return false;
  context::word_at(ctx, index)->header |= kWordSetMark;
  *slot = value;
  return true;
}

// Sets a word bound to a context with values (a watched object's fields excepted: they notify
// their changes); false when the word needs the contexts module.
[[gnu::always_inline]] inline bool assign_direct(const Cell& word, const Cell& value) {
  if (Cell* v = cached_word_value(word)) {
    if (values_cache.object && word.word_context() == values_cache.context)
      return set_quiet_field(word.word_context(), word.word_index(), v, value);
    *v = value;
    return true;
  }
  if (!word.word_resolved() || !word.word_context()) return false;
  const Cell& ctx = *block_head(word.word_context());
  if (ctx.has_flag(kContextOnStack)) {
    if (!ctx.context_values()) return false;
    stack::values_of_ref(ctx.context_values())[word.word_index()] = value;
    return true;
  }
  if (word.word_index() >= length_of(ctx.context_values())) return false;
  Cell* slot = block_head(ctx.context_values()) + word.word_index();
  if (ctx.context_kind() == CONTEXT_OBJECT)
    return set_quiet_field(word.word_context(), word.word_index(), slot, value);
  *slot = value;
  return true;
}

[[gnu::always_inline]] inline bool eval_argument(Cursor& c, Reach reach, uint32_t& st);

// ---- Argument cache ---------------------------------------------------------------------------
//
// One block per function value, in spec order:
//   argument: a typeset! (fetch kind in header bits 20-21) followed by the argument's word;
//   refinement: the refinement! with its 1-based number (`/local` excepted);
//   function! or routine! with /local: an integer!, the slots from /local to the end;
//   native!, action!, op!: a final integer!, the number of refinements.
// The block! cell holding it keeps the value's call shape (CallShape).

// The mandatory arguments at the start of the entries: their count, or -1 when one is not
// evaluated; `untyped` is cleared when one has a type block. `i` ends at the first other entry
// (`return:` ends the arguments only when no argument follows it).
int32_t shaped_arguments(const std::vector<Cell>& entries, size_t& i, bool& untyped) {
  const Cell all = typeset_all();
  int32_t args = 0;
  for (i = 0; i < entries.size() && entries[i].is(TYPE_TYPESET); i += 2) {
    const Cell& e = entries[i];
    uint32_t kind = e.fetch_kind();
    if (kind == FETCH_RETURN) {
      for (size_t k = i; k < entries.size() && entries[k].is(TYPE_TYPESET); k += 2)
        if (entries[k].fetch_kind() != FETCH_RETURN) return -1;
      break;
    }
    if (kind != FETCH_EVAL) return -1;
    if (!e.same_payload(all)) untyped = false;
    args++;
  }
  return args;
}

CallShape call_shape(const std::vector<Cell>& entries) {
  uint32_t extra = 0, falses = 0;
  bool untyped = true;
  size_t i;
  int32_t args = shaped_arguments(entries, i, untyped);
  auto add = [&](bool is_false) {
    if (is_false && extra < CallShape::kMaxExtra) falses |= 1u << extra;
    extra++;
  };
  for (; i < entries.size(); i++) {
    const Cell& e = entries[i];
    if (e.is(TYPE_TYPESET)) {
      if (e.fetch_kind() != FETCH_RETURN) add(false);
      i++;
    } else if (e.is(TYPE_REFINEMENT)) {
      add(true);
    } else if (e.is(TYPE_INTEGER)) {
      add(true);
      for (int32_t k = 1; k < e.int_value(); k++) add(false);
    }
  }
  if (args < 0 || args > int32_t(CallShape::kMaxArgs) || extra > CallShape::kMaxExtra) return {};
  return CallShape::make(static_cast<uint32_t>(args), extra, falses, untyped);
}

// The call shape of a native! or action!: its extra slots are the refinements.
CallShape table_shape(const std::vector<Cell>& entries) {
  uint32_t refinements = 0;
  bool untyped = true;
  size_t i;
  int32_t args = shaped_arguments(entries, i, untyped);
  if (!entries.empty() && entries.back().is(TYPE_INTEGER))
    refinements = static_cast<uint32_t>(entries.back().int_value());
  if (args < 0 || args > int32_t(CallShape::kMaxArgs) || refinements > 31) return {};
  return CallShape::make(static_cast<uint32_t>(args), refinements, 0, untyped);
}

NodeId build_arg_cache(const Cell& fn) {
  NodeId spec = fn.fn_spec();
  bool is_function = fn.is(TYPE_FUNCTION) || fn.is(TYPE_ROUTINE);
  std::vector<Cell> out;
  uint32_t refinements = 0;
  bool in_locals = false;
  uint32_t locals = 0;
  // A native's own spec names its types by words; they are checked with the typesets built from
  // its list entry, whatever those words hold now.
  const NativeSpec* native_spec = natives::spec_of_value(fn);
  uint32_t args = 0;
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
        if (v.is(TYPE_SET_WORD) && canonical(v.word_symbol()) != canonical(g_symbols.return_word))
          fire(Err::script_bad_func_def, &v);
        Cell ts = typeset_all();
        if (native_spec && args < native_spec->args.size()) {
          ts = native_spec->args[args].types;
          if (i + 1 < n && block_head(spec)[i + 1].is(TYPE_BLOCK)) i++;
        } else if (i + 1 < n && block_head(spec)[i + 1].is(TYPE_BLOCK)) {
          Cell types = block_head(spec)[i + 1];
          uint32_t len = length_of(types.node());
          if (len > types.head_index()) {
            std::vector<Cell> elements(block_head(types.node()) + types.head_index(),
                                       block_head(types.node()) + len);
            ts = typeset_from_spec(elements);
          }
          i++;
        }
        args++;
        ts.set_fetch_kind(kind);
        out.push_back(ts);
        out.push_back(v);
        break;
      }
      case TYPE_REFINEMENT: {
        if (canonical(v.word_symbol()) == canonical(g_symbols.local) && g_symbols.local) {
          in_locals = true;
          locals = 1;
          break;
        }
        Cell r = v;
        r.set_refinement_number(++refinements);
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
  blk.set_node(cache);
  if (fn.is(TYPE_FUNCTION)) set_call_shape(blk, call_shape(out));
  if (fn.is(TYPE_NATIVE) || fn.is(TYPE_ACTION)) set_call_shape(blk, table_shape(out));
  *cache_holder(fn) = blk;
  return cache;
}

// ---- Arguments --------------------------------------------------------------------------------

struct CallContext {
  const Cell* fn_name;  // the naming word, or null for <anon>
  Cursor* c;
  bool infix;
  TypeId fn_type = TYPE_NONE_ID;  // the called value's type, to name an anonymous call in errors
};

Cell name_of(const CallContext& cc) {
  return cc.fn_name ? *cc.fn_name : make_word_cell(stack_state.anon_symbol, 0);
}

// The call as errors name it: a value called without a word by its datatype (as the user knows
// it, not by the frame's internal name).
Cell error_name_of(const CallContext& cc) {
  if (cc.fn_name) return *cc.fn_name;
  std::string_view type = cc.fn_type != TYPE_NONE_ID ? type_name(cc.fn_type) : "??";
  return make_word_cell(symbol::intern(type), 0);
}

// The argument's word from the cache entry at `at` (a typeset; its word follows it) as the user
// names it: without the quote or colon of its fetch kind.
Cell param_word(NodeId cache, uint32_t at) {
  Cell w = block_head(cache)[at + 1];
  if (w.is(TYPE_LIT_WORD) || w.is(TYPE_GET_WORD)) w.set_type(TYPE_WORD);
  return w;
}

[[noreturn]] void fire_no_arg(const CallContext& cc, NodeId cache, uint32_t at) {
  Cell name = error_name_of(cc), w = param_word(cache, at);
  fire(Err::script_no_arg, &name, &w);
}

[[noreturn]] void fire_expect_arg(const CallContext& cc, NodeId cache, uint32_t at, TypeId got) {
  Cell name = error_name_of(cc), type = datatype_cell(got), w = param_word(cache, at);
  fire(Err::script_expect_arg, &name, &type, &w);
}

// An argument that is not evaluated, or none left where one is: a get-word argument takes the
// next value as it is, a lit-word argument too but for a paren, get-word or get-path, which give
// their values. At the end a lit-word argument that takes unset gets it; any other raises no-arg.
[[gnu::noinline]] uint32_t fetch_quoted(NodeId cache, uint32_t at, uint32_t kind,
                                        const CallContext& cc) {
  Cell* v = cc.c ? interp::at(*cc.c) : nullptr;
  if (!v || kind == FETCH_EVAL) {
    if (v || kind != FETCH_LIT || !typeset_has(block_head(cache)[at], TYPE_UNSET))
      fire_no_arg(cc, cache, at);
    stack::push_value(shared_cells.unset);
    return EXIT_NONE;
  }
  Cell val = *v;
  cc.c->index++;
  if (kind == FETCH_GET) {
    stack::push_value(val);
  } else if (val.is(TYPE_PAREN)) {
    if (uint32_t st = eval_paren(val, Dest::push)) return st;
  } else if (val.is(TYPE_GET_WORD)) {
    stack::push_value(*word_value(val));
  } else if (val.is(TYPE_GET_PATH)) {
    if (uint32_t st = eval_path(val, cc.c, PathMode::get, Dest::push)) return st;
  } else {
    stack::push_value(val);
  }
  if (tracing()) trace::fire(TRACE_FETCH, cc.c->node, cc.c->index - 1, *(stack::top() - 1));
  return EXIT_NONE;
}

// The argument of the cache entry at `at` (of fetch kind `kind`) as the newest cell, its type
// checked.
[[gnu::always_inline]] inline uint32_t fetch_arg(NodeId cache, uint32_t at, uint32_t kind,
                                                 const CallContext& cc, Reach reach) {
  uint32_t st;
  if (kind != FETCH_EVAL || !cc.c || !eval_argument(*cc.c, reach, st))
    st = fetch_quoted(cache, at, kind, cc);
  if (st) return st;
  // Re-read: the evaluation may have moved the cache's buffer.
  TypeId got = (stack::top() - 1)->type();
  if (!typeset_has(block_head(cache)[at], got)) fire_expect_arg(cc, cache, at, got);
  return EXIT_NONE;
}

// Calls a native's or action's entry on the arguments of the current frame; two numbers that a
// quick operator answers are computed in place instead.
uint32_t run_table_entry(const Cell& fn, const int32_t* refs) {
  Quick q = quick_of(fn);
  if (q != Quick::none && quick(q, stack::base()[0], stack::base()[1])) {
    stack::keep_one_result();
    return EXIT_NONE;
  }
  if (fn.is(TYPE_NATIVE)) {
    NativeEntry entry = fn.fn_entry() < kNativeSlots ? natives_table.entries[fn.fn_entry()] : nullptr;
    if (!entry) fire(Err::internal_not_done);
    return entry(0, refs);
  }
  ActionEntry entry = actions::entry(fn.fn_entry() + 1);
  if (!entry) fire(Err::internal_not_done);
  entry(refs);
  return EXIT_NONE;
}

// Collects the arguments of the call whose frame is current; natives and actions are called.
uint32_t fetch_arguments(const Cell& fn, const CallContext& cc, const CallInfo& info) {
  NodeId cache = arg_cache(fn);
  TypeId ftype = fn.type();
  bool is_function = ftype == TYPE_FUNCTION;
  bool table = ftype == TYPE_NATIVE || ftype == TYPE_ACTION;
  uint32_t n = length_of(cache);
  // Only the entries of the refinements the value has are read; they start absent.
  int32_t refs[kMaxTableRefinements];
  if (table && n) {
    const Cell& last = block_head(cache)[n - 1];
    if (last.is(TYPE_INTEGER))
      std::fill_n(refs, std::min(static_cast<uint32_t>(last.int_value()), kMaxTableRefinements),
                  -1);
  }
  // function!: frame index of each refinement's flag, by refinement number.
  uint32_t flag_slot[kMaxTableRefinements];  // set before it is read
  uint32_t i = 0;
  if (cc.infix) {
    // The left operand, already in slot 0, is the first argument (an op's first spec entry is a
    // plain word).
    TypeId left = stack::base()->type();
    if (!typeset_has(block_head(cache)[0], left)) fire_expect_arg(cc, cache, 0, left);
    i = 2;
  }
  // Mandatory arguments, then the refinements: a function! gets each flag (false) with none for
  // each of its arguments, and its locals.
  for (; i < n; i += 2) {
    const Cell& e = block_head(cache)[i];
    if (!e.is(TYPE_TYPESET)) break;
    uint32_t kind = e.fetch_kind();
    if (kind == FETCH_RETURN) continue;
    if (uint32_t st = fetch_arg(cache, i, kind, cc, cc.infix ? Reach::term : Reach::expression))
      return st;
  }
  if (is_function) {
    const Cell* entries = block_head(cache);  // pushes move no buffer
    for (; i < n; i++) {
      const Cell& e = entries[i];
      TypeId t = e.type();
      if (t == TYPE_TYPESET) {
        if (e.fetch_kind() != FETCH_RETURN) stack::push_value(shared_cells.none);
        i++;
      } else if (t == TYPE_REFINEMENT) {
        if (e.refinement_number() <= kMaxTableRefinements)
          flag_slot[e.refinement_number() - 1] = static_cast<uint32_t>(stack::top() - stack::base());
        stack::push_value(shared_cells.false_value);
      } else if (t == TYPE_INTEGER) {
        stack::push_value(shared_cells.false_value);
        for (int32_t k = 1; k < e.int_value(); k++) stack::push_value(shared_cells.none);
      }
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
      // Find the refinement and the position of its first argument entry: by the same symbol
      // first, then by case-folded symbol.
      uint32_t k = 0, number = 0;
      for (int folded = 0; folded < 2 && !number; folded++) {
        const Cell* entries = block_head(cache);
        uint32_t want = folded ? canonical(el.word_symbol()) : el.word_symbol();
        for (k = 0; k < n; k++) {
          const Cell& r = entries[k];
          if (r.is(TYPE_TYPESET)) {
            k++;
            continue;
          }
          if (r.is(TYPE_REFINEMENT) &&
              (folded ? canonical(r.word_symbol()) : r.word_symbol()) == want) {
            number = r.refinement_number();
            break;
          }
        }
      }
      if (!number) {
        Cell name = error_name_of(cc);
        fire(Err::script_no_refine, &name, &el);
      }
      if (number <= 32 && (used & (1u << (number - 1)))) {
        Cell p2 = *info.path;
        fire(Err::script_dup_refine, &p2);
      }
      if (number <= 32) used |= 1u << (number - 1);
      if (!use) continue;
      if (number > kMaxTableRefinements) fire(Err::internal_not_done);
      if (is_function) {
        uint32_t slot = flag_slot[number - 1];
        stack::base()[slot] = shared_cells.true_value;
        uint32_t arg = slot + 1;
        for (uint32_t j = k + 1; j < n; j += 2) {
          const Cell& e = block_head(cache)[j];
          if (!e.is(TYPE_TYPESET)) break;
          if (e.fetch_kind() == FETCH_RETURN) continue;  // `return:` after a refinement's arguments
          if (uint32_t st = fetch_arg(cache, j, e.fetch_kind(), cc, Reach::expression)) return st;
          stack::base()[arg++] = *--stack_state.top;
        }
      } else {
        refs[number - 1] = static_cast<int32_t>(stack::top() - stack::base());
        for (uint32_t j = k + 1; j < n; j += 2) {
          const Cell& e = block_head(cache)[j];
          if (!e.is(TYPE_TYPESET)) break;
          if (uint32_t st = fetch_arg(cache, j, e.fetch_kind(), cc, Reach::expression)) return st;
        }
      }
    }
  }
  if (tracing()) trace::call(fn, name_of(cc));
  if (!table) return EXIT_NONE;
  return run_table_entry(fn, refs);
}

}  // namespace

uint32_t call_routine(const Cell& fn) {
  Cell* more = block_head(fn.fn_more());
  uint32_t index = static_cast<uint32_t>(more[MORE_ENTRY].int_value());
  RoutineEntry entry = index < routine_registry.count ? routine_registry.entries[index] : nullptr;
  if (!entry) fire(Err::internal_not_done);
  int32_t result_type = more[MORE_CONTEXT].int_value();
  Cell* args = stack::base();
  uint32_t count = static_cast<uint32_t>(stack::top() - args);
  const Cell* r = entry(args, count);
  if (fn.has_flag(kRoutineCellConvention)) {
    stack::set_single_result(r ? *r : shared_cells.unset);
    return EXIT_NONE;
  }
  switch (result_type) {
    case TYPE_LOGIC: stack::set_single_result(make_logic(r && is_true(*r) &&
                                                         !(r->is(TYPE_INTEGER) && r->int_value() == 0)));
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

// make object! from a block: the block's result is dropped; an exit leaving it goes on as the
// exception, since object construction cannot pass a status.
void eval_object_block(const Cell& block) {
  Cell* top = stack::top();
  if (uint32_t st = eval_block(block, false)) stack::raise_status(st);
  stack_state.top = top;
}

// on-change* and on-deep-change*: a function frame with the arguments given, then the /local
// defaults (logic false, then none!). The function stays pushed below the frame for the call.
void run_handler(const Cell& fn, const Cell& name, const Cell* args, uint32_t count, uint32_t locals) {
  stack::check_machine_stack();
  Cell* holder = stack::push_value(fn);
  stack::push_frame(kInterpFunctionFrame, name);
  for (uint32_t i = 0; i < count; i++) stack::push_value(args[i]);
  if (locals) stack::push_value(make_logic(false));
  for (uint32_t i = 1; i < locals; i++) stack::push_value(shared_cells.none);
  if (uint32_t st = exec_function_body(*holder, 0)) stack::raise_status(st);
  drop_frame();
  stack_state.top = holder;
}

void init() {
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
  if (!assign_direct(word, value)) {
    Cell w = word;
    context::set_word_value(w, value);
  }
}


// ---- Evaluation ---------------------------------------------------------------------------------

namespace {

Step expression(Cursor& c, Dest dest, Reach reach = Reach::expression, bool in_body = false);
[[gnu::always_inline]] inline Step expression_at(const View& w, Cursor& c, Dest dest, Reach reach,
                                                 bool in_body);
uint32_t eval_infix(Cursor& c, Dest dest, Cell* start_top);
[[gnu::always_inline]] inline uint32_t infix_after(Cursor& c, Dest dest, Cell* start_top);
Step call_word(const Cell& fn, const Cell& name, Cursor& c, Dest dest, bool in_body);

// The one loop over a block's expressions, from the cursor to its end, in the current frame:
// each result goes where `dest` says and those before the last are dropped (the top goes back to
// where it was at the start). In the running function's own body (`in_body`) a `return` ends the
// loop with its value as the newest cell. An empty run gives unset.
[[gnu::always_inline]] inline Step run_values(Cursor& c, Dest dest, bool in_body = false) {
  if (c.index >= c.end || (tracing() && !at(c))) {
    place(shared_cells.unset, dest);
    return Step::ok;
  }
  Cell* start = stack::top();
  // By index: nested evaluations grow the vector and move its cells.
  size_t current = interp_state.blocks.size() - 1;
  for (;;) {
    interp_state.blocks[current].set_head_index(c.index);
    gc::safe_point();
    View w = view_of(c);
    Step s = c.index < w.limit ? expression_at(w, c, dest, Reach::expression, in_body)
                               : expression(c, dest, Reach::expression, in_body);
    if (s != Step::ok && s != Step::settled) return s;
    if (!at(c)) return Step::ok;
    stack_state.top = start;
  }
}

[[gnu::always_inline]] inline uint32_t run_block(const Cell& block, bool keep) {
  BlockScope scope(block);
  stack::push_body_frame(kEvalFrame);
  Cursor c = cursor_of(block);
  if (tracing()) trace::fire(TRACE_ENTER, c.node, c.index, shared_cells.none);
  if (uint32_t st = exit_code(run_values(c, Dest::result))) return st;
  if (tracing()) trace::fire(TRACE_EXIT, c.node, c.end, *stack::base());
  if (keep)
    stack::pop_frame_keep_result();
  else
    stack::pop_frame();
  return EXIT_NONE;
}

// A paren traced: a frame of its own, as its enter and exit events show it.
[[gnu::noinline]] uint32_t eval_traced_paren(Cursor& c, Dest dest) {
  stack::push_body_frame(kInterpNativeFrame);
  trace::fire(TRACE_ENTER, c.node, c.index, shared_cells.none);
  if (uint32_t st = exit_code(run_values(c, Dest::result))) return st;
  if (tracing()) trace::fire(TRACE_EXIT, c.node, c.end, *stack::base());
  Cell result = *stack::base();
  drop_frame();
  place(result, dest);
  return EXIT_NONE;
}

// A paren's values are made where its result goes, without a frame of their own.
[[gnu::always_inline]] inline uint32_t run_paren(const Cell& paren, Dest dest) {
  BlockScope scope(paren);
  Cursor c = cursor_of(paren);
  if (tracing()) [[unlikely]]
    return eval_traced_paren(c, dest);
  stack::check_machine_stack();
  return exit_code(run_values(c, dest));
}

}  // namespace

uint32_t eval_paren(const Cell& paren, Dest dest) { return run_paren(paren, dest); }

uint32_t eval_block(const Cell& block, bool keep) { return run_block(block, keep); }

uint32_t eval_next(const Cell& block, uint32_t& index, Dest dest) {
  BlockScope scope(block);
  interp_state.blocks.back().set_head_index(index);
  stack::push_body_frame(kInterpNativeFrame);
  Cursor c{block.node(), index, length_of(block.node())};
  if (!at(c)) {
    stack::set_single_result(shared_cells.unset);
  } else if (uint32_t st = exit_code(expression(c, Dest::result))) {
    return st;
  }
  index = c.index;
  Cell result = *stack::base();
  drop_frame();
  place(result, dest);
  return EXIT_NONE;
}

uint32_t eval_next_index(Cell& block) {
  uint32_t index = block.head_index();
  uint32_t st = eval_next(block, index, Dest::result);
  if (!st) block.set_head_index(index);
  return st;
}

namespace {

// The quick operator `op` at the cursor applied in place to `left` when both operands are numbers
// and the right one is a literal or a word's value: true when done (the cursor past both).
[[gnu::always_inline]] inline bool quick_in_place(const View& v, Cursor& c, Cell* left,
                                                  const Cell& op) {
  Quick q = quick_for(native::op_source_type(op), op.fn_entry());
  if (q == Quick::none || c.index + 1 >= v.limit) return false;
  const Cell* r = v.head + c.index + 1;
  if (r->is(TYPE_WORD) && !(r = peek_word_value(*r))) return false;
  if (!quick(q, *left, *r)) return false;
  c.index += 2;
  stack_state.top = left + 1;
  return true;
}

// The expression at the cursor, which stands inside the view taken after its safe point: the one
// classification of its first term. A term that needs no call is read through the view, the
// quick operators after it applied in place; a word calling a function goes straight to
// `call_word`; anything else is `expression`'s.
[[gnu::always_inline]] inline Step expression_at(const View& w, Cursor& c, Dest dest, Reach reach,
                                                 bool in_body) {
  const Cell* v = w.head + c.index;
  const Cell* value;
  Term term = tracing() ? Term::other : classify(*v, value);
  if (term == Term::other) return expression(c, dest, reach, in_body);
  Cell* start_top = stack::top();
  Step s;
  if (term == Term::value) {
    place(*value, dest);
    c.index++;
    if (reach == Reach::term) return Step::ok;
    Cell* left = dest == Dest::push ? start_top : stack::base();
    s = Step::settled;
    while (const Cell* op = op_at(w, c.index)) {
      if (!quick_in_place(w, c, left, *op)) {
        s = exit_step(eval_infix(c, dest, start_top));
        break;
      }
    }
  } else {
    Cell name = *v;
    c.index++;
    s = call_word(*value, name, c, dest, in_body);
    if (s == Step::ok && reach == Reach::expression) s = exit_step(infix_after(c, dest, start_top));
  }
  if (s != Step::ok && s != Step::settled) return s;
  // A call may have started tracing: the expression's event is then due.
  if (tracing() && dest == Dest::result) trace::fire_here(TRACE_EXPR, *stack::base());
  return Step::ok;
}

// An evaluated argument pushed as the newest cell, its status in `st`; false when the block has
// no value left (nothing done).
[[gnu::always_inline]] inline bool eval_argument(Cursor& c, Reach reach, uint32_t& st) {
  gc::safe_point();  // the start of the argument's expression: nothing moves before the push
  View w = view_of(c);
  if (c.index >= w.limit) return false;
  st = exit_code(expression_at(w, c, Dest::push, reach, false));
  return true;
}

template <bool is_function>
[[gnu::always_inline]] inline uint32_t run_shaped(const Cell& fn, CallShape shape);

// Checks an operator's operand (the newest cell), of the cache entry at `at`, against its types.
inline void check_operand(const CallContext& cc, const Cell& fn, CallShape shape, uint32_t at) {
  TypeId got = (stack::top() - 1)->type();
  if (shape.untyped() && got != TYPE_UNSET) return;
  NodeId cache = arg_cache(fn);  // read now: an evaluation may have moved it
  if (!typeset_has(block_head(cache)[at], got)) fire_expect_arg(cc, cache, at, got);
}

// An operator whose function has a usable call shape of two arguments, nothing traced: the left
// operand is slot 0 of its frame, the right one (a single term) is fetched after it, and both are
// checked as the general call checks them.
[[gnu::noinline]] uint32_t infix_shaped(const Cell& fn, CallShape shape, const Cell& word,
                                        Cursor& c, Dest dest) {
  stack::check_machine_stack();
  HeldScope held(fn, true);
  bool is_function = fn.is(TYPE_FUNCTION);
  stack::push_frame_sym(is_function ? kInterpFunctionFrame : kInterpNativeFrame,
                        word.word_symbol(), word.word_context());
  stack_state.top = stack_state.base + 1;
  CallContext cc{&word, &c, true};
  Quick q = quick_of(fn);
  Cell* a = stack::base();
  // A quick operator takes any number as its left operand, and two numbers need no entry.
  if (q == Quick::none || !(a[0].is(TYPE_INTEGER) || a[0].is(TYPE_FLOAT)))
    check_operand(cc, fn, shape, 0);
  uint32_t st;
  if (!eval_argument(c, Reach::term, st)) fire_no_arg(cc, arg_cache(fn), 2);
  if (st) return st;
  if (q != Quick::none && quick(q, a[0], a[1])) {
    stack::keep_one_result();
  } else {
    check_operand(cc, fn, shape, 2);
    if ((st = is_function ? run_shaped<true>(fn, shape) : run_shaped<false>(fn, shape))) return st;
  }
  Cell result = *stack::base();
  drop_frame();
  place(result, dest);
  return EXIT_NONE;
}

// The infix operator `op` standing at the cursor (in the view `v`), applied to the left operand
// `left` (slot 0, or the newest cell).
[[gnu::always_inline]] inline uint32_t infix_call(const View& v, const Cell& op, Cursor& c,
                                                  Dest dest, Cell* left) {
  if (!tracing() && quick_in_place(v, c, left, op)) return EXIT_NONE;
  Cell fn = op;
  fn.set_type(native::op_source_type(op));
  Cell word = v.head[c.index];
  if (!trace_state.enabled && !fn.is(TYPE_ROUTINE)) {
    CallShape shape = call_shape_of(*cache_holder(fn));
    if (shape.usable() && shape.args() == 2) {
      c.index++;
      stack_state.top = left;
      return infix_shaped(fn, shape, word, c, dest);
    }
  }
  if (tracing()) trace::fire(TRACE_FETCH, c.node, c.index, word);
  c.index++;
  stack_state.top = left;
  CallInfo info;
  info.name = &word;
  info.infix = true;
  return call_function(fn, &c, dest, info);
}

// Infix operators, left to right, after a term: the result just made (slot 0, or the newest cell
// at `start_top` when pushed) is the operator's left operand.
uint32_t eval_infix(Cursor& c, Dest dest, Cell* start_top) {
  for (;;) {
    View v = view_of(c);
    const Cell* op = op_at(v, c.index);
    if (!op) return EXIT_NONE;
    if (uint32_t st = infix_call(v, *op, c, dest, dest == Dest::push ? start_top : stack::base()))
      return st;
  }
}

// The infix operators after a term, if any: the first one seen through the view taken here, the
// loop the rest.
[[gnu::always_inline]] inline uint32_t infix_after(Cursor& c, Dest dest, Cell* start_top) {
  View v = view_of(c);
  const Cell* op = op_at(v, c.index);
  if (!op) return EXIT_NONE;
  if (uint32_t st = infix_call(v, *op, c, dest, dest == Dest::push ? start_top : stack::base()))
    return st;
  return eval_infix(c, dest, start_top);
}

// ---- return, if and either ----------------------------------------------------------------------

// `return` standing in a function's body with a value that needs no call and no operator after
// it: nothing can raise or run while its frame would stand, so the body ends here without one.
// Answers false, having run only the expression's safe point, when the value needs more. The
// cursor stands on the value.
[[gnu::noinline]] bool return_plain(Cursor& c) {
  gc::safe_point();
  View w = view_of(c);  // a collection keeps the block's cells but may move them
  const Cell* term = plain_term(w.head[c.index]);
  if (!term || op_at(w, c.index + 1)) return false;
  stack::push_value(*term);
  c.index++;
  return true;
}

// `return` with its value at the cursor: the call without the argument walk (the one argument
// takes any value), so that ending a function with it costs little. In the body itself the body
// just ends here.
[[gnu::noinline]] Step eval_return(Cursor& c, const Cell& name, bool in_body) {
  if (in_body && return_plain(c)) return Step::body_returned;
  stack::check_machine_stack();
  stack::push_frame_sym(kInterpNativeFrame, name.word_symbol(), name.word_context());
  uint32_t st;
  if (!eval_argument(c, Reach::expression, st)) fire(Err::internal_not_done);  // the caller saw it
  if (st) return exit_step(st);
  if (!in_body) return exit_step(stack::unwind_function_exit(true, false));
  Cell result = *(stack::top() - 1);
  drop_frame();
  stack::push_value(result);
  return Step::body_returned;
}

// A value read without a call: a plain term, perhaps joined to a plain number by one quick
// operator, read into `value`; `next` becomes the index after it and `op` the operator value that
// follows it (null: none), of which the value is then only the left operand.
[[gnu::always_inline]] inline bool read_plain_value(const View& w, uint32_t index, Cell& value,
                                                    uint32_t& next, const Cell*& op) {
  const Cell* term = index < w.limit ? plain_term(w.head[index]) : nullptr;
  if (!term) return false;
  value = *term;
  next = index + 1;
  op = op_at(w, next);
  if (op && next + 1 < w.limit) {
    const Cell* right = plain_term(w.head[next + 1]);
    if (right && quick(quick_for(native::op_source_type(*op), op->fn_entry()), value, *right)) {
      next += 2;
      op = op_at(w, next);
    }
  }
  return true;
}

// True when the `n` branches of an if/either stand as blocks from `index` and no operator follows
// them: they can be taken as they stand.
[[gnu::always_inline]] inline bool branches_in_place(const View& w, uint32_t index, uint32_t n) {
  uint32_t after = index + n;
  return after <= w.limit && w.head[index].is(TYPE_BLOCK) &&
         (n == 1 || w.head[index + 1].is(TYPE_BLOCK)) && !op_at(w, after);
}

// Ends an if/either call: its result (slot 0) goes where the caller wants it, the frame and the
// holder cell below it go.
[[gnu::always_inline]] inline void end_conditional(Cell* holder, Dest dest, const Cell& name) {
  Cell result = *stack::base();
  drop_frame();
  stack_state.top = holder;
  place(result, dest);
  if (tracing()) trace::returned(placed(dest), name);
}

// The rest of an if/either call once its frame stands: the arguments taken from the cursor (the
// condition given when `known`), checked, and the branch run.
[[gnu::noinline]] uint32_t conditional_call(const Cell& fn, Cursor& c, const Cell& name, Dest dest,
                                            bool is_either, Cell* holder, bool known,
                                            const Cell& cond, uint32_t cond_next) {
  uint32_t n = is_either ? 2 : 1;
  CallContext cc{&name, &c, false};
  uint32_t i = 2, count = is_either ? 6 : 4;
  const uint32_t cond_at = c.index;
  if (known) {
    stack::push_value(cond);
    c.index = cond_next;
  } else {
    uint32_t st;
    if (!eval_argument(c, Reach::expression, st)) fire_no_arg(cc, arg_cache(fn), 0);
    if (st) return st;
  }
  View w = view_of(c);
  if (branches_in_place(w, c.index, n)) {
    Cell* dst = stack_state.top;
    if (dst + n >= stack_state.limit) stack::overflow();
    dst[0] = w.head[c.index];
    if (n == 2) dst[1] = w.head[c.index + 1];
    stack_state.top = dst + n;
    c.index += n;
    i = count;
  }
  for (; i < count; i += 2) {
    uint32_t st;
    if (!eval_argument(c, Reach::expression, st)) fire_no_arg(cc, arg_cache(fn), i);
    if (st) return st;
    // The condition takes any value, the branches blocks: the spec is read only for an error.
    TypeId got = (stack::top() - 1)->type();
    if (got == TYPE_BLOCK) continue;
    NodeId cache = arg_cache(fn);
    if (!typeset_has(block_head(cache)[i], got)) fire_expect_arg(cc, cache, i, got);
  }
  if (tracing()) trace::call(fn, name);
  const Cell* a = stack::base();
  if (is_either && a[0].is(TYPE_UNSET)) {
    // An unset condition is named by the word its expression starts with, else by `either`.
    const Cell* start = cond_at < c.end ? &block_head(c.node)[cond_at] : nullptr;
    Cell word = start && start->is(TYPE_WORD) ? *start : name;
    cell_is_true(a[0], true, &word);
  }
  bool yes = is_true(a[0]);
  if (!yes && !is_either) {
    stack::set_single_result(make_none());
  } else {
    Cell branch = a[yes ? 1 : 2];
    if (tracing()) {
      if (uint32_t st = eval_block(branch, true)) return st;
    } else {
      // The branch's values are made in this frame, its arguments no longer needed.
      BlockScope scope(branch);
      stack::reset_arguments();
      Cursor bc = cursor_of(branch);
      if (uint32_t st = exit_code(run_values(bc, Dest::result))) return st;
    }
    stack::keep_one_result();
  }
  end_conditional(holder, dest, name);
  return EXIT_NONE;
}

// `if` and `either`: the call's frame and arguments as call_function makes them, the branch run
// from here without the native's entry. The usual shape, `cond [...] [...]` with nothing infix
// after the branches, takes the branch blocks as they stand; a condition read without a call is
// known before the frame is pushed, and when the branch it picks is empty or one plain term (or
// `if` picks none), nothing can raise or run, and the call needs no frame (Step::settled).
[[gnu::noinline]] Step eval_conditional(const Cell& fn, Cursor& c, const Cell& name, Dest dest,
                                        bool is_either) {
  Cell cond;
  uint32_t cond_next = 0;
  const Cell* cond_op;
  bool known = false, in_place = false;
  Cell branch;  // known and in place: the branch picked, code to run at `bc`
  Cursor bc;
  uint32_t n = is_either ? 2 : 1;
  gc::safe_point();  // the condition's expression starts here
  View w = view_of(c);
  if (read_plain_value(w, c.index, cond, cond_next, cond_op) && !cond_op &&
      !cond.is(TYPE_UNSET)) {
    known = true;
    in_place = branches_in_place(w, cond_next, n);
    if (in_place) {
      bool yes = is_true(cond);
      const Cell* picked = nullptr;
      if (!yes && !is_either) {
        picked = &shared_cells.none;
      } else {
        branch = w.head[cond_next + (yes ? 0 : 1)];
        bc = cursor_of(branch);
        if (bc.index >= bc.end)
          picked = &shared_cells.unset;
        else if (bc.index + 1 == bc.end)
          picked = plain_term(block_head(bc.node)[bc.index]);
      }
      c.index = cond_next + n;
      if (picked) {
        Cell result = *picked;
        place(result, dest);
        return Step::settled;
      }
    }
  }
  stack::check_machine_stack();
  Cell* holder = stack::push_value(fn);
  stack::push_frame_sym(kInterpNativeFrame, name.word_symbol(), name.word_context());
  if (known && in_place) {
    // The branch's values are made in this frame; the block scope keeps the branch alive.
    BlockScope scope(branch);
    if (uint32_t st = exit_code(run_values(bc, Dest::result))) return exit_step(st);
    end_conditional(holder, dest, name);  // the branch may have turned tracing on
    return Step::ok;
  }
  return exit_step(conditional_call(fn, c, name, dest, is_either, holder, known, cond, cond_next));
}

// ---- Calls by a word ----------------------------------------------------------------------------

// The mandatory arguments of a call shape, evaluated onto the frame and checked.
[[gnu::always_inline]] inline uint32_t fetch_shaped(NodeId cache, CallShape shape, Cursor& c,
                                                    const Cell& name) {
  uint32_t args = shape.args();
  for (uint32_t k = 0; k < args; k++) {
    uint32_t st;
    if (!eval_argument(c, Reach::expression, st)) {
      CallContext cc{&name, &c, false};
      fire_no_arg(cc, cache, 2 * k);
    }
    if (st) return st;
    TypeId got = (stack::top() - 1)->type();
    if (shape.untyped() && got != TYPE_UNSET) continue;
    if (!typeset_has(block_head(cache)[2 * k], got)) {
      CallContext cc{&name, &c, false};
      fire_expect_arg(cc, cache, 2 * k, got);
    }
  }
  return EXIT_NONE;
}

[[gnu::always_inline]] inline uint32_t run_function_body(const Cell& fn);

// A shaped call once its mandatory arguments stand on the frame: a function's refinement flags
// (false), their arguments and its locals (none) are pushed and its body runs; a native's or
// action's entry is called with no refinement used.
template <bool is_function>
[[gnu::always_inline]] inline uint32_t run_shaped(const Cell& fn, CallShape shape) {
  if constexpr (is_function) {
    uint32_t extra = shape.extra(), falses = shape.falses();
    for (uint32_t k = 0; k < extra; k++)
      stack::push_value((falses >> k) & 1 ? shared_cells.false_value : shared_cells.none);
    return run_function_body(fn);
  } else {
    int32_t refs[kMaxTableRefinements];
    std::fill_n(refs, shape.extra(), -1);
    return run_table_entry(fn, refs);
  }
}

// A function!, native! or action! called by its word with no refinements, its call shape usable
// and nothing traced: the frame is filled from the shape without the argument walk.
template <bool is_function>
[[gnu::noinline]] uint32_t call_shaped(const Cell& fn_in, CallShape shape, Cursor& c,
                                       const Cell& name, Dest dest) {
  stack::check_machine_stack();
  NodeId cache = cache_holder(fn_in)->node();
  Cell* holder = stack::push_value(fn_in);
  stack::push_frame_sym(is_function ? kInterpFunctionFrame : kInterpNativeFrame,
                        name.word_symbol(), name.word_context());
  if (uint32_t st = fetch_shaped(cache, shape, c, name)) return st;
  if (uint32_t st = run_shaped<is_function>(*holder, shape)) return st;
  Cell result = *stack::base();
  drop_frame();
  stack_state.top = holder;
  place(result, dest);
  return EXIT_NONE;
}

// The one entry of calls by a word (see the top of the file). `fn` may be the word's value cell:
// it is read before anything can move it.
[[gnu::always_inline]] inline Step call_word(const Cell& fn, const Cell& name, Cursor& c,
                                             Dest dest, bool in_body) {
  if (!trace_state.enabled) [[likely]] {
    TypeId t = fn.type();
    if (t == TYPE_NATIVE) {
      uint32_t slot = fn.fn_entry();
      if (slot + 1 == NATIVE_return && at(c))
        return eval_return(c, name, in_body && dest == Dest::push);
      NativeEntry entry = slot < kNativeSlots ? natives_table.entries[slot] : nullptr;
      if (entry == &native_if || entry == &native_either) {
        Cell f = fn;
        return eval_conditional(f, c, name, dest, entry == &native_either);
      }
    }
    if (t != TYPE_ROUTINE) {
      CallShape shape = call_shape_of(*cache_holder(fn));
      if (shape.usable())
        return exit_step(t == TYPE_FUNCTION ? call_shaped<true>(fn, shape, c, name, dest)
                                            : call_shaped<false>(fn, shape, c, name, dest));
    }
  }
  Cell f = fn;
  CallInfo info;
  info.name = &name;
  return exit_step(call_function(f, &c, dest, info));
}

// ---- Other terms --------------------------------------------------------------------------------

// A set-word and the expression that gives its value. A value made of a plain term, perhaps
// joined to another by a quick operator, is set without the set-word's frame when the word
// needs no change notification: nothing can raise or run while that frame would stand
// (Step::settled). Otherwise the frame is pushed with the value read; when an operator follows
// it, that value is its left operand.
[[gnu::noinline]] Step eval_set_word(const Cell& val, Cursor& c, Dest dest) {
  Cell* left = nullptr;
  Cell value;
  uint32_t next;
  const Cell* op;
  View w{nullptr, 0};
  if (!tracing() && read_plain_value(w = view_of(c), c.index, value, next, op)) {
    if (!op && !value.is(TYPE_UNSET) && assign_direct(val, value)) {
      c.index = next;
      place(value, dest);
      return Step::settled;
    }
    // The set-word's frame with the value read as its slot 1 (not read twice); an operator
    // already found takes it as its left operand.
    stack::push_frame(kInterpNativeFrame, val);
    stack::push_value(val);
    left = stack::push_value(value);
    c.index = next;
    if (op) {
      if (uint32_t st = infix_call(w, *op, c, Dest::push, left)) return exit_step(st);
      if (uint32_t st = eval_infix(c, Dest::push, left)) return exit_step(st);
    }
  }
  if (!left) {
    stack::push_frame(kInterpNativeFrame, val);
    stack::push_value(val);
    uint32_t st;
    if (!eval_argument(c, Reach::expression, st)) fire(Err::script_need_value, &val);
    if (st) return exit_step(st);
  }
  if (tracing()) trace::fire_here(TRACE_SET, stack::base()[1], &val);
  Cell result = stack::base()[1];
  if (result.is(TYPE_UNSET) || !assign_direct(stack::base()[0], result))
    set_word(stack::base()[0], result);
  drop_frame();
  place(result, dest);
  return Step::ok;
}

// The terms that are not words, set-words, parens, paths or function values.
[[gnu::noinline]] uint32_t eval_other_term(Cell val, Cursor& c, Dest dest) {
  switch (val.type()) {
    case TYPE_SET_PATH: {
      if (!at(c)) fire(Err::script_need_value, &val);
      // The value is made first: the code that held the path may drop it meanwhile.
      PathScope scope(val);
      stack::push_frame_sym(kInterpNativeFrame, g_symbols.set_path, 0);
      if (uint32_t st = exit_code(expression(c, Dest::push))) return st;
      if (tracing()) trace::fire_here(TRACE_SET, stack::base()[0], &val);
      if (uint32_t st = eval_path(val, nullptr, PathMode::set, Dest::push, stack::base()))
        return st;
      Cell result = stack::base()[0];
      drop_frame();
      place(result, dest);
      return EXIT_NONE;
    }
    case TYPE_GET_WORD:
      place(*word_value(val), dest);
      return EXIT_NONE;
    case TYPE_LIT_WORD:
      val.set_type(TYPE_WORD);
      place(val, dest);
      return EXIT_NONE;
    case TYPE_GET_PATH:
      return eval_path(val, &c, PathMode::get, dest);
    case TYPE_LIT_PATH:
      val.set_type(TYPE_PATH);
      place(val, dest);
      return EXIT_NONE;
    case TYPE_OP:
      fire(Err::internal_not_done, &val);
    case TYPE_ISSUE: {
      uint32_t sym = canonical(val.word_symbol());
      const Cell* next = at(c);
      if (next && next->is(TYPE_BLOCK) && g_symbols.system &&
          (sym == canonical(g_symbols.system) || sym == canonical(g_symbols.system_global)))
        fire(Err::internal_zem_system);
      place(val, dest);
      return EXIT_NONE;
    }
    default:
      place(val, dest);
      return EXIT_NONE;
  }
}

// One expression at the cursor with its infix operators (unless `reach` is a term), its result
// where `dest` says.
Step expression(Cursor& c, Dest dest, Reach reach, bool in_body) {
  gc::safe_point();
  Cell* start_top = stack::top();
  Cell* v = at(c);
  if (!v) {
    place(shared_cells.unset, dest);
    return Step::ok;
  }
  Cell val = *v;
  if (tracing()) trace::fire(TRACE_FETCH, c.node, c.index, val);
  c.index++;
  Step s = Step::ok;
  switch (val.type()) {
    case TYPE_WORD: {
      const Cell* w = word_value(val);
      TypeId t = w->type();
      if (any_function(t)) {
        s = call_word(*w, val, c, dest, in_body);
      } else if (t == TYPE_UNSET) {
        fire(Err::script_no_value, &val);
      } else if (t == TYPE_OP) {
        fire(Err::script_no_op_arg, &val);
      } else {
        place(*w, dest);
      }
      break;
    }
    case TYPE_SET_WORD:
      s = eval_set_word(val, c, dest);
      break;
    case TYPE_PAREN:
      s = exit_step(eval_paren(val, dest));
      break;
    case TYPE_PATH:
      s = exit_step(eval_path(val, &c, PathMode::call, dest));
      break;
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
      s = exit_step(call_function(val, &c, dest, CallInfo{}));
      break;
    default:
      if (kActiveTypes[val.type()])
        s = exit_step(eval_other_term(val, c, dest));
      else
        place(val, dest);
  }
  if (s == Step::ok) {
    if (reach == Reach::expression)
      if (uint32_t st = infix_after(c, dest, start_top)) return exit_step(st);
  } else if (s != Step::settled) {
    return s;
  }
  if (tracing() && dest == Dest::result) trace::fire_here(TRACE_EXPR, *stack::base());
  return Step::ok;
}

// ---- Function bodies ----------------------------------------------------------------------------

// A function body's run and the exits that end it, in the function's own frame: its values are
// made above the arguments and locals (they stay where the function's context reads them), and
// the last one goes to slot 0. Traced, the body gets a frame of its own, as its enter and exit
// events show it.
template <bool traced>
[[gnu::always_inline]] inline uint32_t run_body(const Cell& fn, const Cell& body, uint32_t frame) {
  std::optional<trace::BodyScope> scope;
  if constexpr (traced) scope.emplace(fn);
  uint32_t st = EXIT_NONE;
  try {
    if (!body.is(TYPE_BLOCK)) {
      stack::set_single_result(shared_cells.unset);
    } else if (traced) {
      st = eval_block(body, true);
    } else {
      BlockScope block(body);
      Cursor c = cursor_of(body);
      Cell* start = stack::top();
      Step s = run_values(c, Dest::push, true);
      st = exit_code(s);
      if (!st) stack::set_single_result(*start);
    }
  } catch (const Unwind& u) {
    // return or exit from code that cannot pass a status on (object construction) arrives
    // as the exception.
    if ((u.code != EXIT_RETURN && u.code != EXIT_EXIT) || !stack::exit_stops_at(frame)) {
      // The epilog comes however the body ends.
      if constexpr (traced) scope->epilog_exit(fn);
      throw;
    }
    st = u.code;
  }
  if (st) {
    if ((st != EXIT_RETURN && st != EXIT_EXIT) || !stack::exit_stops_at(frame)) {
      if constexpr (traced) scope->epilog_exit(fn);
      return st;
    }
    stack::take_exit_value();
  }
  if constexpr (traced) scope->epilog(fn, *stack::base());
  return EXIT_NONE;
}

// Out of line: the calls that run untraced stay small.
[[gnu::noinline]] uint32_t run_traced_body(const Cell& fn, const Cell& body, uint32_t frame) {
  return run_body<true>(fn, body, frame);
}

[[gnu::always_inline]] inline uint32_t run_function_body(const Cell& fn) {
  NodeId ctx = fn.fn_context();
  uint32_t frame = stack::depth() - 1;
  // The context's values go back to the caller's on every way out.
  struct Restore {
    NodeId ctx;
    uint32_t saved;
    CallValues cached;
    ~Restore() {
      block_head(ctx)->set_context_values(saved);
      call_values = cached;
    }
  } restore{ctx, block_head(ctx)->context_values(), call_values};
  block_head(ctx)->set_context_values(stack::values_ref(stack::base()));
  call_values = CallValues{ctx, static_cast<uint32_t>(stack::top() - stack::base()), stack::base()};
  if (!fn.has_flag(kFunctionPassesExits)) stack::top_frame()->flags |= kFrameBodyFlag;
  // The library stands for compiled code: its frames do not count as interpreted.
  if (fn.has_flag(kFunctionLibrary)) stack::top_frame()->flags &= ~kFrameInterpFlag;
  Cell body = block_head(fn.fn_more())[MORE_BODY];
  if (trace_state.enabled) [[unlikely]]
    return run_traced_body(fn, body, frame);
  return run_body<false>(fn, body, frame);
}

}  // namespace

uint32_t exec_function_body(const Cell& fn, NodeId) { return run_function_body(fn); }

uint32_t call_named(const Cell& fn, const Cell& name, Cursor& c, Dest dest) {
  return exit_code(call_word(fn, name, c, dest, false));
}

uint32_t call_function(const Cell& fn_in, Cursor* c, Dest dest, const CallInfo& info) {
  stack::check_machine_stack();
  Cell fn = fn_in;
  Cell* holder = info.infix ? nullptr : stack::push_value(fn);
  HeldScope held(fn, info.infix);
  const Cell* name = info.name && word_kind(info.name->type()) ? info.name : nullptr;
  uint32_t kind;
  switch (fn.type()) {
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_ROUTINE:
      kind = kInterpNativeFrame;
      break;
    case TYPE_FUNCTION:
      kind = kInterpFunctionFrame;
      break;
    default:
      crash_report(CRASH_NO_SWITCH_MATCH, 0);
  }
  if (name)
    stack::push_frame_sym(kind, name->word_symbol(), name->word_context());
  else
    stack::push_frame_sym(kind, stack_state.anon_symbol, 0);
  if (info.infix) stack_state.top = stack_state.base + 1;
  if (tracing()) trace::open(fn);
  CallContext cc{name, c, info.infix, fn.type()};
  if (uint32_t st = fetch_arguments(fn, cc, info)) return st;
  if (fn.is(TYPE_FUNCTION)) {
    if (uint32_t st = run_function_body(fn)) return st;
  } else if (fn.is(TYPE_ROUTINE)) {
    if (uint32_t st = call_routine(fn)) return st;
  }
  Cell result = *stack::base();
  drop_frame();
  if (holder) stack_state.top = holder;
  place(result, dest);
  if (tracing()) trace::returned(placed(dest), name_of(cc));
  return EXIT_NONE;
}

}  // namespace interp
}  // namespace zem
