// Test support: building and reading series values.
#include "tests/unit/support_series.h"

#include <cctype>
#include <string>

#include "datatypes/block.h"
#include "tests/unit/support_values.h"

namespace zem::test {

namespace {

int32_t int_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!b.is(TYPE_INTEGER)) return kCannotCompare;
  int32_t x = a.int_value(), y = b.int_value();
  return x < y ? -1 : x > y ? 1 : 0;
}
int32_t int_form(const Cell& v, TextOut& out, const Cell*, int32_t limit) {
  std::string t = std::to_string(v.int_value());
  out.append_ascii(t);
  return limit - static_cast<int32_t>(t.size());
}
int32_t int_mold(const Cell& v, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return int_form(v, out, part, limit);
}

Cell parse(const std::string& s, size_t& i) {
  Cell out = block::make(4);
  bool nl = false;
  while (i < s.size()) {
    char ch = s[i];
    if (std::isspace(static_cast<unsigned char>(ch))) {
      i++;
      continue;
    }
    if (ch == ']') {
      i++;
      return out;
    }
    if (ch == '~') {
      nl = true;
      i++;
      continue;
    }
    Cell v{};
    if (ch == '[') {
      i++;
      v = parse(s, i);
    } else if (s.compare(i, 4, "none") == 0) {
      v.set_header(TYPE_NONE);
      i += 4;
    } else if (s.compare(i, 4, "true") == 0) {
      v.set_header(TYPE_LOGIC);
      v.set_logic_value(true);
      i += 4;
    } else if (s.compare(i, 2, "#i") == 0) {
      v = datatype_cell(TYPE_INTEGER);
      i += 2;
    } else if (s.compare(i, 2, "#b") == 0) {
      v = datatype_cell(TYPE_BLOCK);
      i += 2;
    } else {
      size_t used = 0;
      v = int_cell(std::stoi(s.substr(i), &used));
      i += used;
    }
    v.set_new_line(nl);
    nl = false;
    block::append_cell(out, v);
  }
  return out;
}

}  // namespace

void ensure_integer_handlers() {
  if (compare_handler(TYPE_INTEGER)) return;
  HandlerRow row;
  row.set(ActionIndex::compare, int_compare).set(ActionIndex::form, int_form).set(ActionIndex::mold, int_mold);
  register_type(TYPE_INTEGER, TYPE_NONE_ID, "integer!", row);
}

Cell block_of(const std::string& text) {
  size_t i = 0;
  std::string inner = text;
  if (!inner.empty() && inner.front() == '[') inner = inner.substr(1);
  return parse(inner, i);
}

std::vector<int32_t> ints_of(const Cell& b) {
  std::vector<int32_t> v;
  for (uint32_t i = 0; i < block::length(b); i++) {
    const Cell& c = block::head_of(b)[i];
    v.push_back(c.is(TYPE_INTEGER) ? c.int_value() : -999);
  }
  return v;
}

ActCall::ActCall(ActionIndex a, std::vector<Cell> args, std::vector<Refinement> refinements,
                 uint32_t refinement_count)
    : cells(std::move(args)), refs(refinement_count, -1) {
  for (Refinement& r : refinements) {
    refs[r.index] = static_cast<int32_t>(cells.size());
    for (const Cell& c : r.args) cells.push_back(c);
    if (r.args.empty()) refs[r.index] = 0;
  }
  call.args = cells.data();
  call.arg_count = static_cast<uint32_t>(cells.size());
  call.refinements = refs.data();
  call.refinement_count = refinement_count;
  call.action = a;
}

Cell ActCall::run(TypeId type) {
  ActionHandler h = action_handler(type == TYPE_NONE_ID ? cells[0].type() : type, call.action);
  if (!h) return Cell{};
  return *h(call);
}

}  // namespace zem::test
