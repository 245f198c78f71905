// datatype!: a value naming a type (the cell holds its id).
#include "datatypes/registry.h"

namespace zem {

namespace {

int32_t datatype_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string_view name = type_name_bare(value.datatype_id());
  out.append_ascii(name);
  return limit - static_cast<int32_t>(name.size());
}

int32_t datatype_mold(const Cell& value, TextOut& out, MoldFlags flags, const Cell*, int32_t limit,
                      int32_t) {
  std::string_view name = type_name(value.datatype_id());
  if (flags.all) out.append_ascii("#(");
  out.append_ascii(name);
  if (flags.all) out.append_ascii(")");
  return limit - static_cast<int32_t>(name.size()) - (flags.all ? 3 : 0);
}

int32_t datatype_compare(const Cell& a, const Cell& b, CompareOp op) {
  if (!is_value_equality_op(op)) return kCannotCompare;
  return b.is(TYPE_DATATYPE) && b.datatype_id() == a.datatype_id() ? 0 : 1;
}

}  // namespace

void register_datatype_type() {
  register_type(TYPE_DATATYPE, TYPE_NONE_ID, "datatype!",
                HandlerRow()
                    .set(ActionIndex::form, &datatype_form)
                    .set(ActionIndex::mold, &datatype_mold)
                    .set(ActionIndex::compare, &datatype_compare));
}

}  // namespace zem
