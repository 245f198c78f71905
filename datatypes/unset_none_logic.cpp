// unset!, none! and logic!: the shared constants, truth rules and their action handlers.
#include "datatypes/unset_none_logic.h"

#include "datatypes/registry.h"
#include "runtime/error.h"
#include "services/random.h"

namespace zem {

SharedCells shared_cells;

namespace {

// Writes `text`, or "#(" text ")" with mold/all; answers the limit left.
int32_t write_constant(TextOut& out, std::string_view text, bool all, int32_t limit) {
  if (all) {
    out.append_ascii("#(");
    out.append_ascii(text);
    out.append_ascii(")");
    return limit - static_cast<int32_t>(text.size()) - 3;
  }
  out.append_ascii(text);
  return limit - static_cast<int32_t>(text.size());
}

// Codes under which two values of a type without order compare equal.
bool equal_or_sort_op(CompareOp op) { return is_value_equality_op(op) || is_sort_op(op); }

// ---- unset! ----

Cell* unset_make(ActionCall& call) {
  call.result() = make_unset();
  return &call.result();
}

int32_t unset_form(const Cell&, TextOut&, const Cell*, int32_t limit) { return limit; }

int32_t unset_mold(const Cell&, TextOut& out, MoldFlags flags, const Cell*, int32_t limit,
                   int32_t) {
  return write_constant(out, "unset", flags.all, limit);
}

int32_t unset_compare(const Cell&, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_UNSET)) return kCannotCompare;
  return equal_or_sort_op(op) ? 0 : kCannotCompare;
}

// ---- none! ----

Cell* none_make(ActionCall& call) {
  call.result() = make_none();
  return &call.result();
}

// clear, find, remove, select, take and length? of none answer none.
Cell* none_answer_none(ActionCall&) { return &shared_cells.none; }

int32_t none_form(const Cell&, TextOut& out, const Cell*, int32_t limit) {
  return write_constant(out, "none", false, limit);
}

int32_t none_mold(const Cell&, TextOut& out, MoldFlags flags, const Cell*, int32_t limit, int32_t) {
  return write_constant(out, "none", flags.all, limit);
}

int32_t none_compare(const Cell&, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_NONE)) return kCannotCompare;
  return equal_or_sort_op(op) ? 0 : kCannotCompare;
}

// ---- logic! ----

bool logic_of(const Cell& spec) {
  return !spec.is(TYPE_NONE) && !(spec.is(TYPE_LOGIC) && !logic_flag(spec));
}

Cell* logic_to(ActionCall& call) {
  call.result() = make_logic(logic_of(call.arg(1)));
  return &call.result();
}

Cell* logic_make(ActionCall& call) {
  const Cell& spec = call.arg(1);
  bool flag;
  if (spec.is(TYPE_INTEGER)) {
    flag = spec.int_value() != 0;
  } else if (spec.is(TYPE_FLOAT) || spec.is(TYPE_PERCENT)) {
    flag = spec.float_value() != 0.0;  // NaN != 0.0: true
  } else {
    flag = logic_of(spec);
  }
  call.result() = make_logic(flag);
  return &call.result();
}

int32_t logic_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  return write_constant(out, logic_flag(value) ? "true" : "false", false, limit);
}

int32_t logic_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit,
                   int32_t) {
  return write_constant(out, logic_flag(value) ? "true" : "false", flags.all, limit);
}

int32_t logic_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_LOGIC) || !equal_or_sort_op(op)) return kCannotCompare;
  return static_cast<int32_t>(logic_flag(a)) - static_cast<int32_t>(logic_flag(b));
}

// random/seed seeds the generator with the flag; otherwise the value becomes true for the upper
// half of the generator's range.
Cell* logic_random(ActionCall& call) {
  enum { kSeed, kSecure };
  Cell& value = call.result();
  if (call.has(kSeed)) {
    random::seed(static_cast<int32_t>(value.raw_words()[0]));  // the logic word as stored
    value = make_unset();
    return &value;
  }
  int32_t n = call.has(kSecure) ? random::secure_random() : random::next_u32();
  value.set_logic_value(n > 1073741823);
  return &value;
}

Cell* logic_complement(ActionCall& call) {
  call.result().set_logic_value(!logic_flag(call.result()));
  return &call.result();
}

template <int Op>
Cell* logic_bitwise(ActionCall& call) {
  const Cell& b = call.arg(1);
  if (!b.is(TYPE_LOGIC)) fire_expect_arg(call, 1);
  bool x = logic_flag(call.result()), y = logic_flag(b);
  bool r = Op == OP_AND ? (x && y) : Op == OP_OR ? (x || y) : (x != y);
  call.result().set_logic_value(r);
  return &call.result();
}

}  // namespace

bool cell_is_true(const Cell& c, bool check, const Cell* word) {
  if (check && c.is(TYPE_UNSET)) fire(Err::script_no_value, word);
  return is_true(c);
}

bool result_is_true_checked(const Cell& result) {
  if (result.is(TYPE_UNSET)) fire(Err::script_no_return);
  return is_true(result);
}

void register_unset() {
  shared_cells.unset = make_unset();
  register_type(TYPE_UNSET, TYPE_NONE_ID, "unset!",
                HandlerRow()
                    .set(ActionIndex::make, &unset_make)
                    .set(ActionIndex::to, &unset_make)
                    .set(ActionIndex::form, &unset_form)
                    .set(ActionIndex::mold, &unset_mold)
                    .set(ActionIndex::compare, &unset_compare));
}

void register_none() {
  shared_cells.none = make_none();
  register_type(TYPE_NONE, TYPE_NONE_ID, "none!",
                HandlerRow()
                    .set(ActionIndex::make, &none_make)
                    .set(ActionIndex::to, &none_make)
                    .set(ActionIndex::form, &none_form)
                    .set(ActionIndex::mold, &none_mold)
                    .set(ActionIndex::compare, &none_compare)
                    .set(ActionIndex::clear, &none_answer_none)
                    .set(ActionIndex::find, &none_answer_none)
                    .set(ActionIndex::length_q, &none_answer_none)
                    .set(ActionIndex::remove, &none_answer_none)
                    .set(ActionIndex::select, &none_answer_none)
                    .set(ActionIndex::take, &none_answer_none));
}

void register_logic() {
  shared_cells.true_value = make_logic(true);
  shared_cells.false_value = make_logic(false);
  register_type(TYPE_LOGIC, TYPE_NONE_ID, "logic!",
                HandlerRow()
                    .set(ActionIndex::make, &logic_make)
                    .set(ActionIndex::random, &logic_random)
                    .set(ActionIndex::to, &logic_to)
                    .set(ActionIndex::form, &logic_form)
                    .set(ActionIndex::mold, &logic_mold)
                    .set(ActionIndex::compare, &logic_compare)
                    .set(ActionIndex::and_t, &logic_bitwise<OP_AND>)
                    .set(ActionIndex::complement, &logic_complement)
                    .set(ActionIndex::or_t, &logic_bitwise<OP_OR>)
                    .set(ActionIndex::xor_t, &logic_bitwise<OP_XOR>));
}

}  // namespace zem
