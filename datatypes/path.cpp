// The path kinds: registration, mold and form with "/" separators, and path steps over values.
#include "datatypes/path.h"

#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/error.h"
#include "runtime/memory.h"
#include "runtime/support.h"

namespace zem::path {

namespace {

bool block_kind(TypeId t) {
  return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

TypeId target_type(const Cell& proto) {
  return proto.is(TYPE_DATATYPE) ? proto.datatype_id() : proto.type();
}

// A one-value path of type t.
Cell single(const Cell& value, TypeId t) {
  Cell p = block::make(1, t);
  block::append_cell(p, value);
  return p;
}

// The cells of a block-kind value from its head, as a new value of type t.
Cell copy_as(const Cell& source, TypeId t) {
  uint32_t len = series::units_in_buffer(source.node());
  uint32_t start = std::min(source.head_index(), len);
  Cell c = series::copy_range(source, start, len - start);
  c.set_type(t);
  return c;
}

Cell* path_make(ActionCall& call) {
  TypeId t = target_type(call.arg(0));
  const Cell spec = call.arg(1);
  if (block_kind(spec.type())) {
    call.result() = copy_as(spec, t);
  } else if (spec.is(TYPE_INTEGER) || spec.is(TYPE_FLOAT) || spec.is(TYPE_PERCENT)) {
    int32_t n = spec.is(TYPE_INTEGER) ? spec.int_value() : float_to_int_checked(spec);
    call.result() = block::make(static_cast<uint32_t>(std::max(n, 1)), t);
  } else {
    Cell type = datatype_cell(t), s = spec;
    fire(Err::script_bad_make_arg, &type, &s);
  }
  return &call.result();
}

Cell* path_to(ActionCall& call) {
  TypeId t = target_type(call.arg(0));
  const Cell value = call.arg(1);
  // Everything else converts as for a block (text is loaded), the target kind kept.
  ActionHandler as_block = action_handler(TYPE_BLOCK, ActionIndex::to);
  if (as_block && !value.is(TYPE_OBJECT) && !value.is(TYPE_TYPESET) && !value.is(TYPE_MAP))
    return as_block(call);
  call.result() = single(value, t);
  return &call.result();
}

Cell* path_copy(ActionCall& call) {
  TypeId t = call.arg(0).type();
  Cell* r = series::copy_handler(call);
  r->set_type(t);
  return r;
}

// The elements formed or molded with "/" between them.
int32_t write_elements(const Cell& value, TextOut& out, bool mold, MoldFlags flags,
                       const Cell* part, int32_t limit) {
  if (mold_cycle_guard(value, out, limit, mold)) return limit;
  PointerStackGuard guard(value.node());
  uint32_t len = series::units_in_buffer(value.node());
  for (uint32_t i = value.head_index(); i < len; i++) {
    if (part && limit < 1) break;
    Cell e = block_head(value.node())[i];
    if (mold) {
      MoldFlags f{false, flags.all, flags.flat};
      if (MoldHandler h = mold_handler(e.type())) limit = h(e, out, f, part, limit, 0);
    } else if (FormHandler h = form_handler(e.type())) {
      limit = h(e, out, part, limit);
    }
    if (i + 1 < len) {
      out.append_ascii("/");
      limit--;
    }
  }
  return limit;
}

int32_t path_form(const Cell& v, TextOut& out, const Cell* part, int32_t limit) {
  return write_elements(v, out, false, {}, part, limit);
}

int32_t path_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                  int32_t) {
  return write_elements(v, out, true, flags, part, limit);
}

int32_t lit_path_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part,
                      int32_t limit, int32_t indent) {
  out.append_ascii("'");
  return path_mold(v, out, flags, part, limit - 1, indent);
}

int32_t get_path_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part,
                      int32_t limit, int32_t indent) {
  out.append_ascii(":");
  return path_mold(v, out, flags, part, limit - 1, indent);
}

int32_t set_path_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part,
                      int32_t limit, int32_t indent) {
  limit = path_mold(v, out, flags, part, limit, indent);
  out.append_ascii(":");
  return limit - 1;
}

}  // namespace

void make_empty(Cell& cell, uint32_t capacity) { block::init_empty(cell, capacity, TYPE_PATH); }

void register_path() {
  register_type(TYPE_PATH, TYPE_BLOCK, "path!",
                HandlerRow(kInherit)
                    .set(ActionIndex::make, &path_make)
                    .set(ActionIndex::to, &path_to)
                    .set(ActionIndex::form, &path_form)
                    .set(ActionIndex::mold, &path_mold)
                    .set(ActionIndex::copy, &path_copy)
                    .set(ActionIndex::sort, kEmpty)
                    .set(ActionIndex::trim, kEmpty));
}

void register_lit_path() {
  register_type(TYPE_LIT_PATH, TYPE_PATH, "lit-path!",
                HandlerRow(kInherit).set(ActionIndex::mold, &lit_path_mold));
}
void register_set_path() {
  register_type(TYPE_SET_PATH, TYPE_PATH, "set-path!",
                HandlerRow(kInherit).set(ActionIndex::mold, &set_path_mold));
}
void register_get_path() {
  register_type(TYPE_GET_PATH, TYPE_PATH, "get-path!",
                HandlerRow(kInherit).set(ActionIndex::mold, &get_path_mold));
}

}  // namespace zem::path
