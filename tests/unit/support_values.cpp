// Test support: value cells, action frames and molded text for the datatype tests.
#include "tests/unit/support_values.h"

#include "evaluator/interpreter.h"
#include "evaluator/stack.h"
#include "library/boot.h"

namespace zem::test {

Cell int_cell(int32_t v) {
  Cell c{};
  c.set_header(TYPE_INTEGER);
  c.set_int_value(v);
  return c;
}

Cell typed_cell(TypeId type) {
  Cell c{};
  c.set_header(type);
  return c;
}

Cell float_cell(double v) {
  Cell c{};
  c.set_header(TYPE_FLOAT);
  c.set_float_payload(v);
  return c;
}

Frame::Frame(ActionIndex a, std::initializer_list<Cell> args) : cells(args) {
  call.args = cells.data();
  call.arg_count = static_cast<uint32_t>(cells.size());
  call.action = a;
}

Cell Frame::run(TypeId type) {
  ActionHandler h = action_handler(type == TYPE_NONE_ID ? cells[0].type() : type, call.action);
  if (!h) return Cell{};
  return *h(call);
}

std::string form_text(const Cell& value, int32_t* limit_left) {
  StdStringOut out;
  int32_t left = form_handler(value.type())(value, out, nullptr, kNoLimit);
  if (limit_left) *limit_left = left;
  return out.text();
}

std::string mold_text(const Cell& value, MoldFlags flags, int32_t* limit_left) {
  StdStringOut out;
  int32_t left = mold_handler(value.type())(value, out, flags, nullptr, kNoLimit, 0);
  if (limit_left) *limit_left = left;
  return out.text();
}

Err raised(const std::function<void()>& body) {
  clear_pending_exit();
  try {
    body();
  } catch (const Unwind& u) {
    if (u.code == EXIT_ERROR) return pending_exit().error;
  }
  return Err{};
}

Cell eval_text(const std::string& text, bool* failed, Err* error) {
  Cell code = boot::load_source(text);
  stack::reset();
  clear_pending_exit();
  stack::push_value(code);
  bool bad = false;
  try {
    bad = interp::eval_block(code, true) != EXIT_NONE;
  } catch (const Unwind&) {
    bad = true;
  }
  if (error) *error = bad ? pending_exit().error : Err{};
  if (bad) {
    clear_pending_exit();
    stack::reset();
  }
  if (failed) *failed = bad;
  return bad ? Cell{} : *stack::base();
}

}  // namespace zem::test
