// Evaluation natives (do, reduce, compose, apply), function makers (func, function, does, has) and
// the non-local exits (break, continue, exit, return, throw, catch, try).
#include <algorithm>
#include <iterator>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "runtime/error.h"
#include "runtime/ownership.h"

namespace zem {

namespace {

uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}

bool is_function_type(TypeId t) {
  return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP || t == TYPE_FUNCTION ||
         t == TYPE_ROUTINE;
}

// A series position past the tail reads as the tail.
Cell clamped(const Cell& series) {
  Cell c = series;
  uint32_t tail = natives::series_tail(c);
  if (c.head_index() > tail) c.set_head_index(tail);
  return c;
}

// Evaluates one value as an expression (a word yields its value, a function is called without
// arguments) into slot 0.
uint32_t eval_single(const Cell& value) {
  Cell holder = block::make(1);
  block::append_cell(holder, value);
  stack::push_value(holder);  // rooted while it runs
  if (uint32_t st = interp::eval_block(holder, true)) return st;
  stack::keep_one_result();
  return EXIT_NONE;
}

uint32_t eval_block_result(const Cell& block) {
  if (uint32_t st = interp::eval_block(block, true)) return st;
  stack::keep_one_result();
  return EXIT_NONE;
}

}  // namespace

void natives::raise_error_value(const Cell& error) {
  PendingExit& p = pending_exit();
  p.code = EXIT_ERROR;
  p.value = error;
  if (const Cell* code = error_value::field(error, ERR_CODE); code && code->is(TYPE_INTEGER))
    p.error = static_cast<Err>(code->int_value());
  stack::unwind_for_error(p);
  throw Unwind{EXIT_ERROR};
}

// ---- do ----------------------------------------------------------------------------------------

namespace {

// /expand: the preprocessor expands the block in place before it runs.
uint32_t expand(const Cell& block, const int32_t* r) {
  if (r[0] < 0) return EXIT_NONE;
  Cell* top = stack::top();
  stack::push_value(block);
  stack::push_anon_frame(FRAME_NATIVE);
  stack::push_value(shared_cells.none);
  uint32_t st = natives::call_library("preprocessor/expand",
                                      {block, shared_cells.none, shared_cells.false_value});
  if (st) return st;
  stack::pop_frame_discard();
  stack_state.top = top;
  return EXIT_NONE;
}

uint32_t do_value(const int32_t* r) {
  Cell value = *stack::arg(0);
  switch (value.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell block = clamped(value);
      if (uint32_t st = expand(block, r)) return st;
      if (r[2] < 0) return eval_block_result(block);
      // The arguments stay in the frame while the expression runs: the word's cell keeps its
      // context alive.
      Cell word = *stack::arg(static_cast<uint32_t>(r[2]));
      uint32_t index = block.head_index();
      if (uint32_t st = interp::eval_next(block, index, interp::Dest::result)) return st;
      block.set_head_index(index);
      natives::set_word_any(word, block);
      stack::keep_one_result();
      return EXIT_NONE;
    }
    case TYPE_STRING: {
      Cell code = natives::load_text(value);
      stack::push_value(code);
      if (uint32_t st = expand(code, r)) return st;
      return eval_block_result(code);
    }
    case TYPE_PATH:
      stack::keep_one_result();
      if (uint32_t st =
              interp::eval_path(value, nullptr, interp::PathMode::get, interp::Dest::result))
        return st;
      stack::keep_one_result();
      return EXIT_NONE;
    case TYPE_ERROR:
      natives::raise_error_value(value);
    case TYPE_FILE:
    case TYPE_URL:
      return natives::call_library(
          "do-file", {value, shared_cells.none,
                      r[1] >= 0 ? *stack::arg(static_cast<uint32_t>(r[1])) : shared_cells.none});
    default:
      return eval_single(value);
  }
}

}  // namespace

// /trace: the tracer watches this evaluation only (a run already in progress keeps its own), and
// `return` and `exit` in the traced code end it, giving its value.
uint32_t native_do(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_do, r);
  if (r[3] < 0) return do_value(r);
  uint32_t frame = stack::depth() - 1;
  stack::set_body_flag(true);
  bool started = trace::start(*stack::arg(static_cast<uint32_t>(r[3])));
  uint32_t st;
  try {
    if (started) trace::fire(TRACE_INIT, 0, 0, shared_cells.none);
    st = do_value(r);
  } catch (const Unwind& u) {
    if (started) trace::stop();
    // return or exit from code that cannot pass a status on arrives as the exception.
    if ((u.code != EXIT_RETURN && u.code != EXIT_EXIT) || !stack::exit_stops_at(frame)) throw;
    stack::take_exit_value();
    return EXIT_NONE;
  }
  if (started) trace::stop();
  if ((st == EXIT_RETURN || st == EXIT_EXIT) && stack::exit_stops_at(frame)) {
    stack::take_exit_value();
    return EXIT_NONE;
  }
  return st;
}

// ---- reduce and compose ------------------------------------------------------------------------

namespace {

// Where reduce and compose put their values: a new block, or /into a block at its position
// (appending at its tail, inserting elsewhere). The result is as if the values were all made
// first and then put into the target. An insert gathers the values in a pending block of its own
// and puts them in with one move at the end, so the rest of the target moves once. An append
// writes into the target directly; a walk about to read the target's own buffer (`reads`) takes
// back what it wrote there and goes on in a block of its own, put into the target at the end, so
// it never reads its own output.
//
// The walk stops on an error or other exit with the values made so far in the target, at its
// position or tail, as an append leaves them; the owner is not told of that partial change.
struct Output {
  Cell* slot;            // rooted stack cell holding `out`
  Cell out;              // the block add() appends to
  Cell into;             // /into: the target as given (clamped); kept here too, for the stop path
  bool has_into;
  bool insert_mode;      // /into a position before the target's tail
  bool staged = false;   // the walk read the target's buffer: the insert action puts the values in
  uint32_t added = 0;
  uint32_t put_at = 0;   // where the values went, once put in by put()

  // The values wait in a block of their own (an insert, or an append that was staged).
  bool pending() const { return has_into && out.node() != into.node(); }

  void add(const Cell& v) {
    block::append_cell(out, v);
    ++added;
  }

  void reads(const Cell& series) {
    if (!has_into || staged || series.node() != into.node()) return;
    staged = true;
    if (insert_mode) return;  // nothing of ours is in the target yet
    // The values appended so far lie from the target's position (its old tail) on.
    uint32_t at = std::min(into.head_index(), natives::series_tail(into));
    uint32_t n = std::min(added, natives::series_tail(into) - at);
    Cell values = block::make(n + 8);
    block::append_cells(values, block::cell_at_index(into, at), n);
    out = *slot = values;  // rooted before the removal, which may notify an owner
    natives::remove_at(into, at, n);
  }

  // Runs the walk; when it stops early, the values it made are put in as they are.
  template <class Walk>
  uint32_t fill(Walk&& walk) {
    // An exit cuts the stacks back below `slot` and the target's argument cell, and a tracer
    // may run (and collect) before the walk sees it: both blocks stay rooted here until then.
    gc::ScopedRoot root(&Output::mark, this);
    uint32_t st;
    try {
      st = walk();
    } catch (const Unwind&) {
      if (pending()) put();
      throw;
    }
    if (st && pending()) put();
    return st;
  }

  static void mark(void* self) {
    const Output& o = *static_cast<const Output*>(self);
    gc::mark_value(o.out);
    if (o.has_into) gc::mark_value(o.into);
  }

  // Moves the pending values into the target in one go: at its position, or its tail after an
  // append. A hash! learns them; the owner is not told.
  void put() {
    Cell at = clamped(into);
    if (!insert_mode) at.set_head_index(natives::series_tail(at));
    put_at = at.head_index();
    block::insert_cells_at_head(at, out);
  }

  // reduce/into: the target's owner hears of the values added in place (a staged walk puts them
  // in with the insert action, which tells the owner itself).
  void notify_owner() const {
    if (!has_into || staged || !added || !ownership::is_owned(into)) return;
    int32_t at = static_cast<int32_t>(insert_mode ? put_at : natives::series_tail(into) - added);
    ownership::check(into, insert_mode ? ownership::Change::inserted : ownership::Change::appended,
                     nullptr, at, static_cast<int32_t>(added));
  }

  // Puts the values in (when they wait) and answers the new block; an /into target at its
  // position as given after an append, past the inserted values after an insert.
  Cell finish() {
    if (!has_into) return out;
    if (staged) {
      Cell at = clamped(into);
      if (!insert_mode) at.set_head_index(natives::series_tail(at));
      Cell past = natives::run_action(ActionIndex::insert, {at, out}, {});
      return insert_mode ? past : into;
    }
    if (!insert_mode) return into;
    put();
    Cell past = into;
    past.set_head_index(std::min(put_at + block::length(out), natives::series_tail(into)));
    return past;
  }
};

// The value of the expression at `index` when it is one term that needs no call and no operator
// follows it: a value that evaluates to itself, or a word whose value is neither unset, an
// operator nor a function. Null for anything else, and while tracing (each expression is an
// event there): the interpreter evaluates those. No collection can run between this read and
// the caller's use of the value.
const Cell* plain_value_at(const Cell& block, uint32_t index, uint32_t tail) {
  if (tracing()) return nullptr;
  const Cell* at = block::cell_at_index(block, index);
  const Cell* value = interp::plain_term(*at);
  if (!value) return nullptr;
  if (index + 1 < tail && at[1].is(TYPE_WORD)) {
    const Cell* next = interp::peek_word_value(at[1]);
    if (!next || next->is(TYPE_OP)) return nullptr;
  }
  return value;
}

// `into`: the rooted /into argument, or null for a new block with room for `capacity` values.
Output make_output(Cell* into, uint32_t capacity) {
  if (into) {
    *into = clamped(*into);
    bool insert = into->head_index() < natives::series_tail(*into);
    Cell out = insert ? block::make(capacity) : *into;
    return {stack::push_value(out), out, *into, true, insert};
  }
  Cell out = block::make(capacity);
  return {stack::push_value(out), out, Cell{}, false, false};
}

Cell* into_arg(const int32_t refinement) {
  return refinement >= 0 ? stack::arg(static_cast<uint32_t>(refinement)) : nullptr;
}

}  // namespace

uint32_t native_reduce(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_reduce, r);
  Cell value = *stack::arg(0);
  if (!value.is(TYPE_BLOCK)) {
    // The /into argument stays rooted in its slot while the value is evaluated.
    Cell target = r[0] >= 0 ? *stack::arg(static_cast<uint32_t>(r[0])) : Cell{};
    if (!is_function_type(value.type())) {
      if (uint32_t st = eval_single(value)) return st;
      value = *stack::arg(0);
    }
    if (r[0] < 0) return answer(value);
    Output out = make_output(stack::push_value(target), 1);
    out.add(value);
    Cell result = out.finish();
    out.notify_owner();
    return answer(result);
  }
  Cell block = clamped(value);
  Output out = make_output(into_arg(r[0]), natives::series_tail(block) - block.head_index());
  out.reads(block);
  uint32_t st = out.fill([&]() -> uint32_t {
    uint32_t index = block.head_index();
    for (uint32_t tail; index < (tail = natives::series_tail(block));) {
      if (const Cell* plain = plain_value_at(block, index, tail)) {
        Cell v = *plain;
        v.set_new_line(false);
        out.add(v);
        ++index;
        continue;
      }
      if (uint32_t code = interp::eval_next(block, index, interp::Dest::push)) return code;
      Cell v = *stack::last_value();
      stack::drop_values(1);
      v.set_new_line(false);
      out.add(v);
    }
    return EXIT_NONE;
  });
  if (st) return st;
  Cell result = out.finish();
  out.notify_owner();
  return answer(result);
}

namespace {

// `top` is the output of the whole walk, whose /into target nested reads are checked against.
uint32_t compose_walk(const Cell& block, bool deep, bool only, Output& out, Output& top) {
  stack::check_machine_stack();  // /deep over a nested (or cyclic) block recurses here
  top.reads(block);
  for (uint32_t i = block.head_index(); i < natives::series_tail(block); ++i) {
    Cell v = *block::cell_at_index(block, i);
    if (v.is(TYPE_BLOCK) && deep) {
      // Held on the stack: a paren inside may drop it from the block that held it.
      const Cell* nested = stack::push_value(clamped(v));
      Output inner = make_output(nullptr, natives::series_tail(v));
      if (uint32_t st = compose_walk(*nested, deep, only, inner, top)) return st;
      Cell made = inner.out;
      made.header = (made.header & ~kTypeMask) | (v.header & kNewLineFlag) | TYPE_BLOCK;
      stack::drop_values(2);
      out.add(made);
    } else if (v.is(TYPE_PAREN)) {
      uint32_t end = natives::series_tail(v);
      if (end <= v.head_index()) continue;
      Cell result;
      if (const Cell* plain = end == v.head_index() + 1 ? plain_value_at(v, v.head_index(), end)
                                                         : nullptr) {
        result = *plain;
      } else {
        if (uint32_t st = interp::eval_block(v, false)) return st;
        result = *stack::last_value();
        stack::drop_values(1);
      }
      if (result.is(TYPE_UNSET)) continue;
      if (result.is(TYPE_BLOCK) && !only) {
        stack::push_value(result);
        top.reads(result);
        for (uint32_t j = result.head_index(); j < natives::series_tail(result); ++j)
          out.add(*block::cell_at_index(result, j));
        stack::drop_values(1);
      } else {
        out.add(result);
      }
    } else {
      out.add(v);
    }
  }
  return EXIT_NONE;
}

}  // namespace

uint32_t native_compose(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_compose, r);
  Cell value = *stack::arg(0);
  if (!value.is(TYPE_BLOCK)) {
    Cell type = datatype_cell(TYPE_BLOCK);
    Cell got = datatype_cell(value.type());
    fire(Err::script_expect_val, &type, &got);
  }
  Cell block = clamped(value);
  Output out = make_output(into_arg(r[2]), natives::series_tail(block) - block.head_index());
  if (uint32_t st = out.fill([&] { return compose_walk(block, r[0] >= 0, r[1] >= 0, out, out); }))
    return st;
  return answer(out.finish());
}

// ---- apply -------------------------------------------------------------------------------------
//
// The call is built from the argument block: each argument is the next expression's value (with
// /safer the next value as it is; a missing one is none with /all, else `no-arg`). With /all each
// refinement's use follows its place in the spec as a logic! value; without it the block ends with
// refinement! values, each followed by the value that decides its use and, when used, by its
// arguments. Those deciding values are always evaluated. /safer skips the arguments of a
// refinement that is not used.

namespace {

struct Apply {
  Cell name;      // the call's name, for errors and the tracer
  Cell args;      // the argument block (rooted as the native's argument)
  uint32_t index;  // the next value of the block
  uint32_t end;
  bool all, safer;

  bool at_end() const { return index >= end; }

  // Pushes the next value: evaluated, or as it is when `literal`.
  uint32_t next_value(bool literal) {
    if (literal) {
      stack::push_value(*block::cell_at_index(args, index++));
      return EXIT_NONE;
    }
    return interp::eval_next(args, index, interp::Dest::push);
  }

  // Fetches the argument of the cache entry `ts` (with its word) as the newest cell.
  uint32_t argument(const Cell& ts, const Cell& word) {
    if (at_end()) {
      if (!all) fire(Err::script_no_arg, &name, &word);
      stack::push_value(shared_cells.none);
      return EXIT_NONE;
    }
    if (uint32_t st = next_value(safer || ts.fetch_kind() != FETCH_EVAL))
      return st;
    const Cell& got = *(stack::top() - 1);
    if (!typeset_has(ts, got.type())) {
      Cell type = datatype_cell(got.type()), w = word;
      fire(Err::script_expect_arg, &name, &type, &w);
    }
    return EXIT_NONE;
  }
};

// The cache entries of the arguments of the refinement at `k` (their count).
uint32_t refinement_arity(NodeId cache, uint32_t k) {
  uint32_t n = 0;
  for (uint32_t j = k + 1; j + 1 < series_length(cache) && block_head(cache)[j].is(TYPE_TYPESET);
       j += 2)
    n++;
  return n;
}

// Pushes every slot of the call on the current (callee) frame; fills `refs` for natives and
// actions.
uint32_t apply_arguments(const Cell& fn, Apply& a, const Cell* path, int32_t* refs) {
  const bool is_function = fn.is(TYPE_FUNCTION) || fn.is(TYPE_ROUTINE);
  const NodeId cache = interp::arg_cache(fn);
  const uint32_t n = series_length(cache);
  std::vector<uint32_t> flag_slot;  // function!: frame index of each refinement's flag
  bool collecting = true;
  for (uint32_t i = 0; i < n; i++) {
    Cell e = block_head(cache)[i];
    if (e.is(TYPE_TYPESET)) {
      Cell word = block_head(cache)[++i];
      if (e.fetch_kind() == FETCH_RETURN) continue;
      if (collecting) {
        if (uint32_t st = a.argument(e, word)) return st;
      } else {
        if (a.all && a.safer && !a.at_end()) a.index++;  // an unused refinement's value
        if (is_function) stack::push_value(shared_cells.none);
      }
    } else if (e.is(TYPE_REFINEMENT)) {
      bool use = false;
      if (a.all && !a.at_end()) {
        if (uint32_t st = a.next_value(false)) return st;
        Cell flag = *(stack::top() - 1);
        stack::drop_values(1);
        if (!flag.is(TYPE_LOGIC)) {
          Cell type = datatype_cell(flag.type()), w = e;
          w.set_type(TYPE_WORD);
          fire(Err::script_expect_arg, &a.name, &type, &w);
        }
        use = is_true(flag);
      }
      collecting = use;
      if (is_function) {
        flag_slot.push_back(static_cast<uint32_t>(stack::top() - stack::base()));
        stack::push_value(make_logic(use));
      } else if (use && e.refinement_number() <= 32) {
        refs[e.refinement_number() - 1] = static_cast<int32_t>(stack::top() - stack::base());
      }
    } else if (e.is(TYPE_INTEGER) && is_function) {
      stack::push_value(shared_cells.false_value);
      for (int32_t k = 1; k < e.int_value(); k++) stack::push_value(shared_cells.none);
    }
  }
  // Refinements named by the path (on), then by the block (refinement!, use, arguments).
  uint32_t used = 0;
  uint32_t p = path ? path->head_index() + 1 : 0;
  const uint32_t path_end = path ? natives::series_tail(*path) : 0;
  for (;;) {
    Cell ref;
    bool use = true;
    if (p < path_end) {
      ref = *block::cell_at_index(*path, p++);
      if (!ref.is(TYPE_WORD)) fire(Err::script_bad_refine, &ref);
    } else if (!a.all && !a.at_end()) {
      ref = *block::cell_at_index(a.args, a.index++);
      if (!ref.is(TYPE_REFINEMENT)) fire(Err::script_bad_refine, &ref);
      if (!a.at_end()) {
        if (uint32_t st = a.next_value(false)) return st;
        use = is_true(*(stack::top() - 1));
        stack::drop_values(1);
      } else {
        use = false;
      }
    } else {
      break;
    }
    uint32_t k = 0, number = 0;
    for (; k < n; k++) {
      const Cell& r = block_head(cache)[k];
      if (r.is(TYPE_TYPESET)) {
        k++;
      } else if (r.is(TYPE_REFINEMENT) &&
                 symbol::canonical_id(r.word_symbol()) == symbol::canonical_id(ref.word_symbol())) {
        number = r.refinement_number();
        break;
      }
    }
    if (!number) fire(Err::script_no_refine, &a.name, &ref);
    if (number > 32) fire(Err::internal_not_done);
    if (used & (1u << (number - 1))) fire(Err::script_dup_refine, &ref);
    used |= 1u << (number - 1);
    uint32_t arity = refinement_arity(cache, k);
    if (!use) {
      if (a.safer) a.index = std::min(a.end, a.index + arity);
      continue;
    }
    if (is_function) {
      uint32_t slot = flag_slot[number - 1];
      stack::base()[slot] = shared_cells.true_value;
      for (uint32_t j = 0; j < arity; j++) {
        const Cell ts = block_head(cache)[k + 1 + 2 * j];
        const Cell word = block_head(cache)[k + 2 + 2 * j];
        if (uint32_t st = a.argument(ts, word)) return st;
        stack::base()[slot + 1 + j] = *(stack::top() - 1);
        stack::drop_values(1);
      }
    } else {
      refs[number - 1] = static_cast<int32_t>(stack::top() - stack::base());
      for (uint32_t j = 0; j < arity; j++) {
        const Cell ts = block_head(cache)[k + 1 + 2 * j];
        const Cell word = block_head(cache)[k + 2 + 2 * j];
        if (uint32_t st = a.argument(ts, word)) return st;
      }
    }
  }
  return EXIT_NONE;
}

uint32_t apply_call(Cell f, const Cell& name, const Cell& args, const Cell* path, bool all,
                    bool safer);

}  // namespace

uint32_t native_apply(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_apply, r);
  Cell f = *stack::arg(0);
  Cell args = clamped(*stack::arg(1));
  Cell name = make_word_cell(symbol::intern("<applied>"), 0);
  const Cell* path = nullptr;
  if (interp::word_kind(f.type()) || f.is(TYPE_PATH)) {
    // A path names the function by its first element; the others are refinements to use.
    if (f.is(TYPE_PATH)) {
      path = stack::arg(0);
      if (path->head_index() >= natives::series_tail(*path)) fire(Err::script_invalid_arg, path);
      name = *block::cell_at_index(*path, path->head_index());
      if (!interp::word_kind(name.type())) fire(Err::script_invalid_arg, path);
    } else {
      name = f;
    }
    name.set_type(TYPE_WORD);
    f = *interp::word_value(name);
  }
  if (!is_function_type(f.type())) fire(Err::script_invalid_arg, stack::arg(0));
  return apply_call(f, name, args, path, r[0] >= 0, r[1] >= 0);
}

namespace natives {

uint32_t call_library(std::string_view function, std::initializer_list<Cell> values) {
  // "a/b": the function in field b of the object a.
  size_t slash = function.find('/');
  Cell name = make_word_cell(symbol::intern(function.substr(0, slash)), context::global());
  const Cell* fn = context::symbol_value_cell(name.word_symbol(), context::global());
  if (fn && slash != std::string_view::npos) {
    if (!fn->is(TYPE_OBJECT)) fire(Err::script_no_value, &name);
    Cell object = *fn;
    name = make_word_cell(symbol::intern(function.substr(slash + 1)), 0);
    fn = object::find_field_value(object, name);
  }
  if (!fn || !is_function_type(fn->type())) fire(Err::script_no_value, &name);
  Cell args = block::make(static_cast<uint32_t>(values.size()));
  for (const Cell& v : values) block::append_cell(args, v);
  return apply_call(*fn, name, args, nullptr, true, true);
}

}  // namespace natives

namespace {

// Calls `f` with the arguments from `args` (see above): the result goes to slot 0 of the current
// frame, its only cell.
uint32_t apply_call(Cell f, const Cell& name, const Cell& args, const Cell* path, bool all,
                    bool safer) {
  if (f.is(TYPE_OP)) f.set_type(native::op_source_type(f));
  stack::keep_one_result();
  stack::push_value(args);  // rooted while the arguments are evaluated
  Cell* holder = stack::push_value(f);
  bool is_function = f.is(TYPE_FUNCTION);
  stack::push_frame(is_function ? kInterpFunctionFrame : kInterpNativeFrame, name);
  if (tracing()) trace::open(f);
  Apply a{name, args, args.head_index(), natives::series_tail(args), all, safer};
  int32_t refs[32];
  std::fill(std::begin(refs), std::end(refs), -1);
  if (uint32_t st = apply_arguments(*holder, a, path, refs)) return st;
  if (tracing()) trace::call(*holder, name);
  uint32_t st = EXIT_NONE;
  switch (holder->type()) {
    case TYPE_FUNCTION:
      st = interp::exec_function_body(*holder, 0);
      break;
    case TYPE_ROUTINE:
      st = interp::call_routine(*holder);
      break;
    case TYPE_NATIVE: {
      NativeEntry entry = natives::entry(holder->fn_entry() + 1);
      if (!entry) fire(Err::internal_not_done);
      st = entry(0, refs);
      break;
    }
    default: {
      ActionEntry entry = actions::entry(holder->fn_entry() + 1);
      if (!entry) fire(Err::internal_not_done);
      entry(refs);
    }
  }
  if (st) return st;
  if (is_function) {
    stack::pop_function_frame_keep_result();
  } else {
    stack::pop_frame_keep_result();
  }
  stack::keep_one_result();
  if (tracing()) trace::returned(*stack::base(), name);
  return EXIT_NONE;
}

}  // namespace

// ---- Function makers ---------------------------------------------------------------------------

namespace {

uint32_t make_function(const Cell& spec, const Cell& body) {
  Cell s = clamped(spec), b = clamped(body);
  uint32_t flags = function::check_spec(s);
  Cell f = function::build_value(s, b, 0, -1, 0, flags);
  return answer(f);
}

Cell refinement_word(std::string_view name) {
  return make_word_cell(symbol::intern(name), 0, TYPE_REFINEMENT);
}

}  // namespace

uint32_t native_func(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_func, r);
  return make_function(*stack::arg(0), *stack::arg(1));
}

uint32_t native_does(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_does, r);
  Cell spec = block::make(0);
  stack::push_value(spec);
  return make_function(spec, *stack::arg(0));
}

uint32_t native_has(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_has, r);
  Cell vars = clamped(*stack::arg(0));
  Cell spec = block::make(natives::series_tail(vars) - vars.head_index() + 1);
  stack::push_value(spec);
  block::append_cell(spec, refinement_word("local"));
  for (uint32_t i = vars.head_index(); i < natives::series_tail(vars); ++i)
    block::append_cell(spec, *block::cell_at_index(vars, i));
  return make_function(spec, *stack::arg(1));
}

// The words the body sets become locals of a copy of the spec (function.h, collect_locals).
uint32_t native_function(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_function, r);
  Cell src = clamped(*stack::arg(0));
  Cell body = clamped(*stack::arg(1));
  Cell spec = block::make(natives::series_tail(src) - src.head_index() + 8);
  stack::push_value(spec);
  for (uint32_t i = src.head_index(); i < natives::series_tail(src); ++i)
    block::append_cell(spec, *block::cell_at_index(src, i));
  function::collect_locals(spec, body);
  return make_function(spec, body);
}

// ---- Exits -------------------------------------------------------------------------------------

uint32_t native_break(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_break, r);
  return stack::unwind_loop_exit(r[0] >= 0, false);
}

uint32_t native_continue(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_continue, r);
  return stack::unwind_loop_exit(false, true);
}

uint32_t native_exit(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_exit, r);
  return stack::unwind_function_exit(false, false);
}

uint32_t native_return(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_return, r);
  return stack::unwind_function_exit(true, false);
}

uint32_t native_throw(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_throw, r);
  if (tracing()) trace::fire(TRACE_THROW, 0, 0, *stack::arg(0));
  if (r[0] < 0) {
    stack::keep_one_result();
    *stack::push_cell() = make_unset();
  }
  return stack::unwind_throw();
}

namespace {

// Whether catch/name accepts the throw's name.
bool name_matches(const Cell& wanted, const Cell& name) {
  if (!name.is(TYPE_WORD)) return false;
  uint32_t c = symbol::canonical_id(name.word_symbol());
  if (wanted.is(TYPE_WORD)) return symbol::canonical_id(wanted.word_symbol()) == c;
  bool found = false;
  for (uint32_t i = wanted.head_index(); i < natives::series_tail(wanted); ++i) {
    const Cell& w = *block::cell_at_index(wanted, i);
    if (!w.is(TYPE_WORD)) {
      Cell word = make_word_cell(symbol::intern("name"), 0);
      fire(Err::script_invalid_refine_arg, &word, &wanted);
    }
    found = found || symbol::canonical_id(w.word_symbol()) == c;
  }
  return found;
}

}  // namespace

uint32_t native_catch(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_catch, r);
  Cell body = *stack::arg(0);
  Cell wanted = r[0] >= 0 ? *stack::arg(static_cast<uint32_t>(r[0])) : make_none();
  uint32_t frame = stack::depth();
  stack::push_body_frame(FRAME_CATCH);
  uint32_t st;
  try {
    st = interp::eval_block(body, true);
  } catch (const Unwind& u) {
    if (u.code != EXIT_THROW || !stack::exit_stops_at(frame)) throw;
    st = u.code;
  }
  if (st == EXIT_NONE) {
    stack::pop_frame_keep_result();
    stack::keep_one_result();
    return EXIT_NONE;
  }
  if (st != EXIT_THROW || !stack::exit_stops_at(frame)) return st;
  if (r[0] >= 0) {
    PendingExit& p = pending_exit();
    Cell name = p.name.type() == TYPE_NONE_ID ? make_none() : p.name;
    if (!name_matches(wanted, name)) {
      // Not ours: thrown on from this native's frame towards the next catch.
      Cell value = p.value;
      clear_pending_exit();
      stack::pop_frame_discard();
      stack::reset_arguments();
      stack::push_value(value);
      stack::push_value(name.is(TYPE_NONE) ? make_unset() : name);
      return stack::unwind_throw();
    }
  }
  stack::take_exit_value();
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  if (tracing()) trace::fire(TRACE_CATCH, 0, 0, *stack::base());
  return EXIT_NONE;
}

uint32_t native_try(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_try, r);
  Cell body = *stack::arg(0);
  uint32_t frame = stack::depth();
  Cell try_word = make_word_cell(symbol::intern("try"), 0);
  if (r[0] >= 0) {
    stack::push_try_all_frame(try_word);
  } else {
    stack::push_try_frame(try_word);
  }
  uint32_t st;
  try {
    st = interp::eval_block(body, true);
  } catch (const Unwind& u) {
    if (u.code != EXIT_ERROR || !stack::exit_stops_at(frame)) throw;
    stack::take_exit_value();
    if (r[1] >= 0) error_value::set_stack_info(*stack::base());
    return EXIT_NONE;
  }
  if (st) return st;
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

}  // namespace zem
