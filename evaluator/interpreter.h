// The interpreter: blocks evaluated expression by expression over the argument and call stacks.
//
// Every entry answers an exit status: EXIT_NONE when the code ended normally, else the code of a
// break, continue, return or exit in progress (the stacks already cut back to the frame that stops
// it, the payload in the pending-exit record; see evaluator/stack.h). Errors and throws arrive as
// the exception `Unwind`.
//
// A position in a block is (node, index): the interpreter never keeps a cell address across
// anything that can reach a safe point.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "datatypes/context.h"
#include "evaluator/stack.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace zem {

// Fetch kinds of argument entries (Cell::fetch_kind of the argument cache's typesets).
enum FetchKind : uint32_t { FETCH_EVAL = 0, FETCH_GET = 1, FETCH_LIT = 2, FETCH_RETURN = 3 };

// FunctionMore cells.
enum : uint32_t { MORE_BODY = 0, MORE_ARG_CACHE = 1, MORE_ENTRY = 2, MORE_OP = 3, MORE_CONTEXT = 4 };

struct InterpState {
  // The blocks being evaluated, innermost last: errors read the position of the expression from
  // the last one (its index is kept at the expression being evaluated). Rooted.
  std::vector<Cell> blocks;
  // The paths being evaluated: the code that held one may drop it while its parens or the
  // arguments of a function it names are evaluated. Rooted.
  std::vector<Cell> paths;
  // Called values that no stack cell holds (an operator's function: its left operand takes the
  // holder's place). Rooted.
  std::vector<Cell> held;
};
extern InterpState interp_state;

namespace interp {

void init();
// What objects ask of the interpreter (the wiring table's `eval_object_block` and `run_handler`).
void eval_object_block(const Cell& block);
void run_handler(const Cell& fn, const Cell& name, const Cell* args, uint32_t count, uint32_t locals);
// Symbols the interpreter compares with: #system, #system-global, the set-path frame's name,
// /local and return:.
void set_fixed_symbols(uint32_t system, uint32_t system_global, uint32_t set_path,
                       uint32_t local, uint32_t return_word);

inline bool word_kind(TypeId t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
inline bool any_function(TypeId t) {
  return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// The values of the context whose words were read last, when they live in a series: reading a word
// of that context again costs no walk through the node table while no buffer has moved.
struct ValuesCache {
  NodeId context = 0;
  uint32_t length = 0;  // zeroed by the memory manager when buffers move (the cache is empty)
  bool object = false;  // an object's fields: set through change notification
  Cell* values = nullptr;
};
extern ValuesCache values_cache;

// The running call of the function whose body ran last: its context and where its values are on
// the argument stack. Kept by the interpreter wherever a function context's values change.
struct CallValues {
  NodeId context = 0;
  uint32_t count = 0;
  Cell* values = nullptr;
};
extern CallValues call_values;

// The cached value cell of a word, or null.
[[gnu::always_inline]] inline Cell* cached_word_value(const Cell& word) {
  const CallValues& c = call_values;
  if (word.word_context() == c.context && word.word_index() < c.count)
    return c.values + word.word_index();
  const ValuesCache& v = values_cache;
  if (word.word_context() == v.context && word.word_index() < v.length)
    return v.values + word.word_index();
  return nullptr;
}

// The value cell of a word bound to a context whose values are in a series (index checked), and
// remembers that context; null when the word needs the general read.
inline Cell* series_word_value(const Cell& word) {
  if (!word.word_resolved() || !word.word_context()) return nullptr;
  const Cell& ctx = *block_head(word.word_context());
  if (ctx.has_flag(kContextOnStack)) return nullptr;
  SeriesBuffer* b = series_buffer(ctx.context_values());
  uint32_t length = b->used() / sizeof(Cell);
  if (word.word_index() >= length) return nullptr;
  values_cache = ValuesCache{word.word_context(), length, ctx.context_kind() == CONTEXT_OBJECT,
                             b->cells_head()};
  return b->cells_head() + word.word_index();
}

// The value cell of a bound word (reads the context directly when the word is resolved).
[[gnu::always_inline]] inline Cell* word_value(const Cell& word) {
  if (Cell* v = cached_word_value(word)) return v;
  if (word.word_resolved() && word.word_context()) {
    const Cell& ctx = *block_head(word.word_context());
    if (!ctx.has_flag(kContextOnStack)) {
      if (Cell* v = series_word_value(word)) return v;
      return block_head(ctx.context_values()) + word.word_index();
    }
    if (ctx.context_values()) return stack::values_of_ref(ctx.context_values()) + word.word_index();
  }
  return context::word_value_cell(word);
}

// The value of a word when it can be read without raising, else null.
[[gnu::always_inline]] inline const Cell* peek_word_value(const Cell& word) {
  if (const Cell* v = cached_word_value(word)) return v;
  if (!word.word_resolved() || !word.word_context()) return nullptr;
  const Cell& ctx = *block_head(word.word_context());
  if (!ctx.has_flag(kContextOnStack)) return series_word_value(word);
  return ctx.context_values() ? stack::values_of_ref(ctx.context_values()) + word.word_index()
                              : nullptr;
}

// The value kinds that evaluate to something other than themselves.
constexpr std::array<bool, 256> kActiveTypes = [] {
  std::array<bool, 256> t{};
  for (TypeId id : {TYPE_PAREN, TYPE_WORD, TYPE_SET_WORD, TYPE_GET_WORD, TYPE_LIT_WORD,
                    TYPE_ISSUE, TYPE_PATH, TYPE_LIT_PATH, TYPE_SET_PATH, TYPE_GET_PATH, TYPE_OP,
                    TYPE_NATIVE, TYPE_ACTION, TYPE_FUNCTION, TYPE_ROUTINE})
    t[id] = true;
  return t;
}();

// What the next term of a block is, read without running anything.
enum class Term : uint8_t {
  value,  // its value needs no call: a value that evaluates to itself, or a word whose value is
          // neither unset, an operator nor a function
  call,   // a word whose value is a function
  other,  // anything else: the full evaluation of an expression
};

// The one classification of a term; `value` is set for Term::value (the result) and Term::call
// (the function).
[[gnu::always_inline]] inline Term classify(const Cell& v, const Cell*& value) {
  TypeId t = v.type();
  if (t == TYPE_WORD) {
    const Cell* w = peek_word_value(v);
    if (!w) return Term::other;
    value = w;
    TypeId wt = w->type();
    if (any_function(wt)) return Term::call;
    return wt == TYPE_UNSET || wt == TYPE_OP ? Term::other : Term::value;
  }
  value = &v;
  return kActiveTypes[t] ? Term::other : Term::value;
}

// The value of a term that needs no call, or null.
[[gnu::always_inline]] inline const Cell* plain_term(const Cell& v) {
  const Cell* value;
  return classify(v, value) == Term::value ? value : nullptr;
}

// Sets a word; an unset! value raises `need-value` with the word.
void set_word(const Cell& word, const Cell& value);

// Where an evaluation leaves its result: in slot 0 of the current frame (the frame's result), or
// pushed as the frame's newest cell (an argument being collected).
enum class Dest : uint8_t { result, push };

// Evaluates the block from its index to its tail in a frame of its own: the result goes to the
// caller's slot 0 (keep) or becomes the caller's newest cell.
uint32_t eval_block(const Cell& block, bool keep);
// Evaluates one expression at `index` in a frame of its own; `index` moves past it.
uint32_t eval_next(const Cell& block, uint32_t& index, Dest dest);
// The expression at the block's index; the block's index moves past it. At the tail the result is
// unset and the index stays.
uint32_t eval_next_index(Cell& block);

// The cursor of an evaluation: the block's node, the index of the next value and the end.
struct Cursor {
  NodeId node;
  uint32_t index;
  uint32_t end;
};

// Calls a function value with arguments taken from the cursor (c may be null: no arguments
// there). `name` names the frame (null: <anon>); `path` gives refinements (elements from
// `path_index` on).
struct CallInfo {
  const Cell* name = nullptr;
  const Cell* path = nullptr;
  uint32_t path_index = 0;
  NodeId object = 0;  // object context for function bodies
  bool infix = false;
};
uint32_t call_function(const Cell& fn, Cursor* c, Dest dest, const CallInfo& info);

// Where a path evaluation given a resume record stopped: before the paren element at `element`,
// with the value reached so far held in a series, in an object's context or on the stack.
struct PathResume {
  enum class Holder : uint8_t {
    none,     // nothing stopped: the next call starts the path
    stack,    // the stop left the value as its result (where the destination puts it)
    series,   // cell `slot` of the series `node`
    context,  // value `slot` of the context `node`
  };
  Holder holder = Holder::none;
  NodeId node = 0;
  uint32_t slot = 0;     // stack: the cell's index from the stack's bottom
  uint32_t element = 0;  // index in the path's series of the paren element to go on at
};

// What a path evaluation does: call a function met on it (with the elements after it as its
// refinements and its arguments from the cursor), only read (functions are not called), or
// assign through it.
enum class PathMode : uint8_t { call, get, set };

// Evaluates a path; `set_value` is what a set assigns. With a resume record the evaluation stops
// before each paren element (answering EXIT_NONE with the record filled in); calling again with
// the same path, arguments and record goes on from there, and the record is emptied once the
// path is done.
uint32_t eval_path(const Cell& path, Cursor* c, PathMode mode, Dest dest,
                   const Cell* set_value = nullptr, PathResume* resume = nullptr);

// Runs a function! whose arguments are on the current frame.
uint32_t exec_function_body(const Cell& fn, NodeId object);
// Calls a routine! whose arguments are on the current frame.
uint32_t call_routine(const Cell& fn);

// The argument cache of a function value (made on first use).
NodeId arg_cache(const Cell& fn);

// The block being evaluated (unset when none).
Cell current_block();

}  // namespace interp
}  // namespace zem
