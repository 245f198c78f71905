// percent!: registration over float! with its own text, and the helpers that make percent cells.
#include "datatypes/percent.h"

#include <string>

#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "evaluator/stack.h"

namespace zem::percent {

namespace {

int32_t pc_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  const std::string text = float_to_text(value.float_value() * 100, FLOAT_TEXT_PERCENT);
  out.append_ascii(text);
  return limit - int32_t(text.size());
}

int32_t pc_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return pc_form(value, out, part, limit);
}

}  // namespace

double get_float(const Cell& cell) { return cell.float_value(); }

void set_float(Cell& cell, double d) {
  cell.set_header(TYPE_PERCENT);
  cell.set_raw_words(0, 0, 0);
  cell.set_float_payload(d);
}

void set_words(Cell& cell, uint32_t high, uint32_t low) {
  cell.set_header(TYPE_PERCENT);
  cell.set_raw_words(0, 0, 0);
  cell.set_float_words(high, low);
}

void set_result(double d) {
  Cell c{};
  percent::set_float(c, d);
  stack::set_single_result(c);
}

Cell* append_new(const Cell& block, uint32_t high, uint32_t low) {
  Cell c{};
  set_words(c, high, low);
  return block::append_cell(block, c);
}

Cell* push_words(uint32_t high, uint32_t low) {
  Cell* c = stack::push_cell();
  set_words(*c, high, low);
  return c;
}

Cell* push(double d) {
  Cell* c = stack::push_cell();
  percent::set_float(*c, d);
  return c;
}

void register_type() {
  HandlerRow row;
  for (ActionIndex a : {ActionIndex::make, ActionIndex::random, ActionIndex::to, ActionIndex::compare,
                        ActionIndex::absolute, ActionIndex::add, ActionIndex::divide, ActionIndex::multiply,
                        ActionIndex::negate, ActionIndex::power, ActionIndex::remainder, ActionIndex::round,
                        ActionIndex::subtract, ActionIndex::even_q, ActionIndex::odd_q})
    row.set(a, kInherit);
  row.set(ActionIndex::form, &pc_form).set(ActionIndex::mold, &pc_mold);
  register_type(TYPE_PERCENT, TYPE_FLOAT, "percent!", row);
}

}  // namespace zem::percent
