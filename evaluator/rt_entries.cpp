// Runtime entries for C++ callers: argument checks, word and context access and value loading.
#include "evaluator/rt_entries.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/unset_none_logic.h"
#include "datatypes/word.h"
#include "evaluator/dispatch.h"
#include "evaluator/lexer.h"
#include "evaluator/stack.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace zem::rt {

namespace {

[[noreturn]] void fire_expect(const Cell& arg_ref, TypeId type) {
  Cell call = stack::current_call_word();
  Cell t = datatype_cell(type);
  fire(Err::script_expect_arg, &call, &t, &arg_ref);
}

const Cell& newest() { return *stack::last_value(); }

Cell* slot_or_not_defined(NodeId ctx, uint32_t i) {
  Cell* slot = context::value_at(ctx, i);
  if (!slot) {
    Cell w = *context::word_at(ctx, i);
    fire(Err::script_not_defined, &w);
  }
  return slot;
}

void set_ctx_value(NodeId ctx, uint32_t i) {
  const Cell v = newest();
  if (v.is(TYPE_UNSET)) {
    Cell w = *context::word_at(ctx, i);
    fire(Err::script_need_value, &w);
  }
  *slot_or_not_defined(ctx, i) = v;
}

}  // namespace

Cell& check_arg_type(const Cell& typeset, const Cell& arg_ref, Cell& value) {
  if (!typeset_has(typeset, value.type())) fire_expect(arg_ref, value.type());
  return value;
}

void check_stack_arg_type(int32_t i, const Cell& typeset, const Cell& arg_ref) {
  if (i >= 0) check_arg_type(typeset, arg_ref, *stack::arg(static_cast<uint32_t>(i)));
}

Cell& check_opt_arg_type(const Cell& refinement, const Cell& typeset, const Cell& arg_ref, Cell& value) {
  if (refinement.logic_value()) check_arg_type(typeset, arg_ref, value);
  return value;
}

Cell& check_arg_set(const Cell& arg_ref, Cell& value) {
  if (value.is(TYPE_UNSET)) fire_expect(arg_ref, TYPE_UNSET);
  return value;
}

void set_word_expr(Cell& word) { word::set_checked(word, newest()); }

void set_word_stmt(Cell& word) {
  set_word_expr(word);
  stack::reset_arguments();
}

void set_ctx_value_expr(NodeId ctx, uint32_t i) { set_ctx_value(ctx, i); }

void set_ctx_value_stmt(NodeId ctx, uint32_t i) {
  set_ctx_value(ctx, i);
  stack::reset_arguments();
}

void set_ctx_slot(NodeId ctx, uint32_t i) {
  const Cell v = newest();
  if (context::kind(ctx) == CONTEXT_OBJECT) context::word_at(ctx, i)->header |= kWordSetMark;
  *slot_or_not_defined(ctx, i) = v;
  stack::reset_arguments();
}

Cell* get_word_checked(const Cell& word) {
  Cell* v = context::word_value_cell(word);
  if (v->is(TYPE_UNSET)) fire(Err::script_no_value, &word);
  return v;
}

Cell* ctx_value_address(NodeId ctx, uint32_t i) { return slot_or_not_defined(ctx, i); }

void fetch_refinements(const Cell& refinement_value, uint32_t i, uint32_t count) {
  if (is_true(refinement_value)) {
    stack::arg(i)->set_logic_value(true);
    return;
  }
  for (uint32_t k = 1; k <= count; k++) *stack::arg(i + k) = make_none();
}

void switch_select(bool push, bool switch_) {
  const Cell value = *stack::arg(0);
  const Cell blk = *stack::arg(1);
  Cell result = make_none();
  if (!value.is(TYPE_BLOCK)) {
    uint32_t n = block::length(blk), step = push ? 1 : 2;
    for (uint32_t i = 0; i < n; i += step) {
      const Cell entry = block::head_of(blk)[i];
      if (entry.type() != value.type() || actions::compare_raw(entry, value, COMP_EQUAL) != 0) continue;
      if (switch_) {
        uint32_t k = i + 1;
        while (k < n && !block::head_of(blk)[k].is(TYPE_BLOCK)) k++;
        if (k < n) result = block::head_of(blk)[k];
      } else {
        result = i + 1 < n ? block::head_of(blk)[i + 1] : entry;
      }
      break;
    }
  }
  if (push) stack::push_value(result);
  else *stack::arg(0) = result;
}

Cell load_value_into(const Cell& string, Cell& target) {
  Cell s = string;
  int32_t len = -1;
  const char* text = unicode::string_to_utf8(s, &len);
  Cell out = make_unset();
  uint32_t consumed = 0;
  lexer::ScanMode mode;
  try {
    lexer::scan_buffer(&out, reinterpret_cast<const uint8_t*>(text), static_cast<size_t>(len), mode, &consumed,
                       nullptr, nullptr, nullptr);
  } catch (const Unwind& u) {
    // A tail that does not scan gives none, like a scan that stopped.
    if (u.code != EXIT_ERROR || error_category_of(pending_exit().error) != error_category_of(Err::syntax_invalid))
      throw;
    clear_pending_exit();
    target = make_none();
    return make_none();
  }
  target = out;
  if (consumed < static_cast<uint32_t>(len)) return make_none();
  if (!out.is(TYPE_BLOCK) || block::length(out) == 0) {
    target = make_unset();
    return target;
  }
  return block::head_of(out)[0];
}

Cell load_value(const Cell& string) { return load_value_into(string, *stack::arg(0)); }

}  // namespace zem::rt
