// Word and context natives: get, set, value?, unset, in, bind, extend, context?, construct.
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/type_hooks.h"
#include "datatypes/unset_none_logic.h"
#include "evaluator/dispatch.h"
#include "evaluator/interpreter.h"
#include "evaluator/natives.h"
#include "evaluator/stack.h"
#include "runtime/error.h"

namespace zem {

namespace {

uint32_t answer(const Cell& v) {
  stack::set_single_result(v);
  return EXIT_NONE;
}

bool is_any_word(TypeId t) {
  return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD;
}

// The context a value names for bind and in: a word's binding, or a function's or object's own.
// The context of a word, object or function!/routine! value; natives, actions and ops have none
// (their first payload word is a table index).
NodeId context_of(const Cell& v) {
  TypeId t = v.type();
  if (t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_OP) return 0;
  if (is_any_word(t) || t == TYPE_REFINEMENT || t == TYPE_ISSUE) return v.word_context();
  if (t == TYPE_OBJECT || t == TYPE_ERROR || t == TYPE_PORT) return v.object_context();
  return v.fn_context();
}

// Whether the word is bound to a context that can give its value now.
const Cell* bound_value(const Cell& word) {
  if (word.word_context() == 0) return nullptr;
  if (context::find_symbol_index(word.word_context(), word.word_symbol(), true) < 0) return nullptr;
  return interp::word_value(word);
}

}  // namespace

uint32_t native_get(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_get, r);
  Cell target = *stack::arg(0);
  if (target.is(TYPE_OBJECT)) {
    // The block of its values, as reflect gives it.
    stack::keep_one_result();
    stack::push_value(make_word_cell(symbol::intern("values"), 0));
    const int32_t no_refinements[1] = {-1};
    actions::call(ActionIndex::reflect, no_refinements);
    stack::keep_one_result();
    return EXIT_NONE;
  }
  if (!is_any_word(target.type())) {
    Cell path = target;
    stack::keep_one_result();
    if (uint32_t st = interp::eval_path(path, nullptr, interp::PathMode::get, interp::Dest::result))
      return st;
    stack::keep_one_result();
    return EXIT_NONE;
  }
  Cell value = *interp::word_value(target);
  if (value.is(TYPE_UNSET) && r[0] < 0) fire(Err::script_no_value, &target);
  return answer(value);
}

uint32_t native_set(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_set, r);
  Cell target = *stack::arg(0);
  Cell value = *stack::arg(1);
  bool any = r[0] >= 0, only = r[2] >= 0, some = r[3] >= 0;
  if (value.is(TYPE_UNSET) && !any) fire(Err::script_need_value, &target);
  if (target.is(TYPE_OBJECT)) {
    object::set_from_value(target, value, any, only, some);
  } else if (is_any_word(target.type())) {
    context::set_word_value(target, value);  // an object's field hears of it
  } else if (target.is(TYPE_BLOCK)) {
    uint32_t n = natives::series_tail(target);
    bool spread = !only && (block::is_block_kind(value.type()) || block::is_path_kind(value.type()));
    for (uint32_t i = target.head_index(); i < n; ++i) {
      const Cell w = *block::cell_at_index(target, i);
      if (!is_any_word(w.type())) fire(Err::script_invalid_arg, &w);
      if (spread && !any && natives::pick_at(value, value.head_index() + i - target.head_index())
                                .is(TYPE_UNSET))
        fire(Err::script_need_value, &w);
    }
    for (uint32_t i = target.head_index(); i < n; ++i) {
      const Cell w = *block::cell_at_index(target, i);
      Cell v = spread ? natives::pick_at(value, value.head_index() + i - target.head_index())
                      : value;
      if (some && v.is(TYPE_NONE)) continue;
      Cell word = w;
      context::set_word_value(word, v);
    }
  } else {
    stack::keep_one_result();
    // Held on the stack: a tracer may collect while the path is walked.
    const Cell* held = stack::push_value(value);
    if (uint32_t st = interp::eval_path(target, nullptr, interp::PathMode::set,
                                        interp::Dest::result, held))
      return st;
  }
  return answer(value);
}

uint32_t native_value_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_value_q, r);
  const Cell* v = bound_value(*stack::arg(0));
  return answer(make_logic(v && !v->is(TYPE_UNSET)));
}

uint32_t native_unset(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_unset, r);
  Cell target = *stack::arg(0);
  if (target.is(TYPE_WORD)) {
    natives::set_word_any(target, make_unset());
  } else {
    for (uint32_t i = target.head_index(); i < natives::series_tail(target); ++i) {
      const Cell w = *block::cell_at_index(target, i);
      if (w.is(TYPE_WORD)) natives::set_word_any(w, make_unset());
    }
  }
  return answer(make_unset());
}

uint32_t native_in(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_in, r);
  NodeId ctx = context_of(*stack::arg(0));
  Cell word = *stack::arg(1);
  int32_t index = ctx ? context::find_symbol_index(ctx, word.word_symbol(), true) : -1;
  if (index < 0) return answer(make_none());
  return answer(context::word_cell(TYPE_WORD, ctx, word.word_symbol(), index));
}

uint32_t native_bind(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_bind, r);
  Cell target = *stack::arg(0);
  NodeId ctx = context_of(*stack::arg(1));
  if (ctx == 0) fire(Err::script_not_in_context, stack::arg(1));
  if (target.is(TYPE_BLOCK)) {
    if (r[0] >= 0) {
      target = block::copy_cells(target, true);
      stack::push_value(target);
    }
    context::bind_block(target, ctx, context::kind(ctx) == CONTEXT_OBJECT);
  } else {
    context::bind_word(ctx, target);
  }
  return answer(target);
}

// Objects keep the words they were made with; a map! grows through its own datatype.
uint32_t native_extend(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_extend, r);
  Cell* target = stack::arg(0);
  if (!target->is(TYPE_MAP)) natives::fire_not_done(NATIVE_extend);
  Cell spec = *stack::arg(1);
  further_type_hooks().map_extend(*target, spec, r[0] >= 0);
  return EXIT_NONE;
}

uint32_t native_context_q(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_context_q, r);
  NodeId ctx = stack::arg(0)->word_context();
  if (ctx == 0) return answer(make_none());
  return answer(context::owner(ctx));
}

// The spec is not evaluated; without /only the logic words and none still stand for their values,
// so that flags written as words read as logic!.
uint32_t native_construct(int32_t check, const int32_t* r) {
  if (check) natives::check_args(NATIVE_construct, r);
  const Cell* prototype = r[0] >= 0 ? stack::arg(static_cast<uint32_t>(r[0])) : nullptr;
  Cell object = object::construct(prototype, *stack::arg(0));
  if (r[1] < 0) {
    static const struct { const char* name; int value; } kWords[] = {
        {"true", 1}, {"false", 0}, {"on", 1}, {"off", 0}, {"yes", 1}, {"no", 0}, {"none", -1}};
    NodeId ctx = object.object_context();
    for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
      Cell& v = context::values(ctx)[i];
      if (!v.is(TYPE_WORD)) continue;
      for (const auto& w : kWords) {
        if (v.word_symbol() != symbol::intern_c_name(w.name)) continue;
        v = w.value < 0 ? make_none() : make_logic(w.value != 0);
        break;
      }
    }
  }
  stack::set_single_result(object);
  return EXIT_NONE;
}

}  // namespace zem
