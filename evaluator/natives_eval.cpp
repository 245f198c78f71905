// Evaluation natives (do, reduce, compose, apply), function makers (func, function, does, has) and
// the non-local exits (break, continue, exit, return, throw, catch, try).
#include <vector>

#include "datatypes/block.h"
#include "datatypes/error_value.h"
#include "datatypes/function.h"
#include "datatypes/symbol.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "evaluator/trace.h"
#include "runtime/error.h"

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
  if (c.data1 > tail) c.data1 = tail;
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

// Raises an error! value again.
[[noreturn]] void raise_error_value(const Cell& error) {
  PendingExit& p = pending_exit();
  p.code = EXIT_ERROR;
  p.value = error;
  if (const Cell* code = error_value::field(error, ERR_CODE); code && code->is(TYPE_INTEGER))
    p.error = static_cast<Err>(code->int_value());
  stack::unwind_for_error(p);
  throw Unwind{EXIT_ERROR};
}

}  // namespace

// ---- do ----------------------------------------------------------------------------------------

namespace {

uint32_t do_value(const int32_t* r) {
  Cell value = *stack::arg(0);
  switch (value.type()) {
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
      Cell block = clamped(value);
      if (r[2] < 0) return eval_block_result(block);
      Cell word = *stack::arg(static_cast<uint32_t>(r[2]));
      uint32_t index = block.head_index();
      stack::keep_one_result();
      if (uint32_t st = interp::eval_next(block, index, false)) return st;
      block.data1 = index;
      natives::set_word_any(word, block);
      stack::keep_one_result();
      return EXIT_NONE;
    }
    case TYPE_STRING: {
      Cell code = natives::load_text(value);
      stack::push_value(code);
      return eval_block_result(code);
    }
    case TYPE_PATH:
      stack::keep_one_result();
      if (uint32_t st = interp::eval_path(value, nullptr, false, true, false)) return st;
      stack::keep_one_result();
      return EXIT_NONE;
    case TYPE_ERROR:
      raise_error_value(value);
    case TYPE_FILE:
    case TYPE_URL:
      natives::fire_not_done(NATIVE_do);
    default:
      return eval_single(value);
  }
}

}  // namespace

// /trace: the tracer watches this evaluation only (a run already in progress keeps its own), and
// `return` and `exit` in the traced code end it, giving its value.
uint32_t native_do(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_do, r);
  if (r[0] >= 0) natives::fire_not_done(NATIVE_do);  // /expand
  if (r[3] < 0) return do_value(r);
  uint32_t frame = stack::depth() - 1;
  stack::set_body_flag(true);
  bool started = trace::start(*stack::arg(static_cast<uint32_t>(r[3])));
  uint32_t st;
  try {
    if (started) trace::fire(TRACE_INIT, 0, 0, shared_cells.none);
    st = do_value(r);
  } catch (const Unwind&) {
    if (started) trace::stop();
    throw;
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
// (appending at its tail, inserting elsewhere).
struct Output {
  Cell* target;  // a rooted stack cell; its position moves past inserted values
  bool inserting;
  void add(const Cell& v) {
    if (inserting) {
      block::insert_cell(*target, v);
      target->data1 += 1;
    } else {
      block::append_cell(*target, v);
    }
  }
};

Output make_output(const int32_t refinement, uint32_t capacity) {
  if (refinement >= 0) {
    Cell* into = stack::arg(static_cast<uint32_t>(refinement));
    *into = clamped(*into);
    return {stack::push_value(*into), into->data1 < natives::series_tail(*into)};
  }
  return {stack::push_value(block::make(capacity)), false};
}

// The result of an /into output: the target as an append (its head) or an insert (past the
// inserted values) leaves it.
Cell output_result(const Output& out, const int32_t refinement) {
  if (refinement >= 0 && !out.inserting) return *stack::arg(static_cast<uint32_t>(refinement));
  return *out.target;
}

}  // namespace

uint32_t native_reduce(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_reduce, r);
  Cell value = *stack::arg(0);
  if (!value.is(TYPE_BLOCK)) {
    if (is_function_type(value.type())) {
      if (r[0] < 0) return answer(value);
    } else {
      if (uint32_t st = eval_single(value)) return st;
      if (r[0] < 0) return EXIT_NONE;
      value = *stack::arg(0);
    }
    Output out = make_output(r[0], 1);
    out.add(value);
    return answer(output_result(out, r[0]));
  }
  Cell block = clamped(value);
  stack::keep_one_result();
  Output out = make_output(r[0], natives::series_tail(block) - block.head_index());
  uint32_t index = block.head_index();
  while (index < natives::series_tail(block)) {
    if (uint32_t st = interp::eval_next(block, index, true)) return st;
    Cell v = *stack::last_value();
    stack::drop_values(1);
    v.set_new_line(false);
    out.add(v);
  }
  return answer(output_result(out, r[0]));
}

namespace {

uint32_t compose_walk(const Cell& block, bool deep, bool only, Output& out) {
  for (uint32_t i = block.head_index(); i < natives::series_tail(block); ++i) {
    Cell v = *block::cell_at_index(block, i);
    if (v.is(TYPE_BLOCK) && deep) {
      Output inner{stack::push_value(block::make(natives::series_tail(v))), false};
      if (uint32_t st = compose_walk(clamped(v), deep, only, inner)) return st;
      Cell made = *inner.target;
      made.header = (made.header & ~kTypeMask) | (v.header & kNewLineFlag) | TYPE_BLOCK;
      stack::drop_values(1);
      out.add(made);
    } else if (v.is(TYPE_PAREN)) {
      if (natives::series_tail(v) <= v.head_index()) continue;
      if (uint32_t st = interp::eval_block(v, false)) return st;
      Cell result = *stack::last_value();
      stack::drop_values(1);
      if (result.is(TYPE_UNSET)) continue;
      if (result.is(TYPE_BLOCK) && !only) {
        stack::push_value(result);
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
  Output out = make_output(r[2], natives::series_tail(block) - block.head_index());
  if (uint32_t st = compose_walk(block, r[0] >= 0, r[1] >= 0, out)) return st;
  return answer(output_result(out, r[2]));
}

// ---- apply -------------------------------------------------------------------------------------

uint32_t native_apply(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_apply, r);
  if (r[0] >= 0 || r[1] >= 0) natives::fire_not_done(NATIVE_apply);  // /all, /safer
  Cell f = *stack::arg(0);
  Cell args = clamped(*stack::arg(1));
  Cell name = make_word_cell(symbol::intern("<applied>"), 0);
  if (interp::word_kind(f.type())) {
    name = f;
    name.set_type(TYPE_WORD);
    f = *interp::word_value(f);
  } else if (f.is(TYPE_PATH)) {
    natives::fire_not_done(NATIVE_apply);
  }
  if (!is_function_type(f.type())) fire(Err::script_invalid_arg, stack::arg(0));
  if (f.is(TYPE_OP)) f.set_type(static_cast<TypeId>((f.header >> 16) & 0xFF));
  stack::keep_one_result();
  interp::Cursor c{args.node(), args.head_index(), natives::series_tail(args)};
  interp::CallInfo info;
  info.name = &name;
  if (uint32_t st = interp::call_function(f, &c, false, info)) return st;
  stack::keep_one_result();
  return EXIT_NONE;
}

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

bool is_refinement_named(const Cell& c, uint32_t canonical) {
  return c.is(TYPE_REFINEMENT) && symbol::canonical_id(c.data2) == canonical;
}

void collect_set_words(const Cell& block, std::vector<uint32_t>& out) {
  for (uint32_t i = block.head_index(); i < natives::series_tail(block); ++i) {
    const Cell& v = *block::cell_at_index(block, i);
    if (v.is(TYPE_SET_WORD)) {
      uint32_t c = symbol::canonical_id(v.data2);
      bool seen = false;
      for (uint32_t s : out) seen = seen || symbol::canonical_id(s) == c;
      if (!seen) out.push_back(v.data2);
    } else if (v.is(TYPE_BLOCK) || v.is(TYPE_PAREN)) {
      collect_set_words(v, out);
    }
  }
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

// The body's set-words become locals of a copy of the spec; words listed after /extern in the
// spec are left out (and /extern with them).
uint32_t native_function(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_function, r);
  Cell src = clamped(*stack::arg(0));
  Cell body = clamped(*stack::arg(1));
  const uint32_t local = symbol::canonical_id(symbol::intern("local"));
  const uint32_t ext = symbol::canonical_id(symbol::intern("extern"));
  std::vector<uint32_t> known, excluded;
  Cell spec = block::make(natives::series_tail(src) - src.head_index() + 8);
  stack::push_value(spec);
  bool in_extern = false, has_local = false;
  for (uint32_t i = src.head_index(); i < natives::series_tail(src); ++i) {
    Cell v = *block::cell_at_index(src, i);
    if (v.is(TYPE_REFINEMENT)) in_extern = is_refinement_named(v, ext);
    has_local = has_local || is_refinement_named(v, local);
    if (in_extern) {
      if (interp::word_kind(v.type())) excluded.push_back(symbol::canonical_id(v.data2));
      continue;
    }
    if (interp::word_kind(v.type())) known.push_back(symbol::canonical_id(v.data2));
    block::append_cell(spec, v);
  }
  std::vector<uint32_t> words;
  collect_set_words(body, words);
  bool added = false;
  for (uint32_t w : words) {
    uint32_t c = symbol::canonical_id(w);
    bool skip = false;
    for (uint32_t k : known) skip = skip || k == c;
    for (uint32_t k : excluded) skip = skip || k == c;
    if (skip) continue;
    if (!has_local && !added) block::append_cell(spec, refinement_word("local"));
    added = true;
    block::append_cell(spec, make_word_cell(w, 0));
  }
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
  uint32_t c = symbol::canonical_id(name.data2);
  if (wanted.is(TYPE_WORD)) return symbol::canonical_id(wanted.data2) == c;
  bool found = false;
  for (uint32_t i = wanted.head_index(); i < natives::series_tail(wanted); ++i) {
    const Cell& w = *block::cell_at_index(wanted, i);
    if (!w.is(TYPE_WORD)) {
      Cell word = make_word_cell(symbol::intern("name"), 0);
      fire(Err::script_invalid_refine_arg, &word, &wanted);
    }
    found = found || symbol::canonical_id(w.data2) == c;
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
    if (r[1] >= 0) stack::attach_call(*stack::base());
    return EXIT_NONE;
  }
  if (st) return st;
  stack::pop_frame_keep_result();
  stack::keep_one_result();
  return EXIT_NONE;
}

}  // namespace zem
