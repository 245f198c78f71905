// triple!: registration with its text form, "make triple! [1 -2 3]"; it has no other action.
#include "datatypes/triple.h"

#include <string>

#include "datatypes/integer.h"
#include "datatypes/registry.h"

namespace zem::triple {

namespace {

int32_t tr_form(const Cell& value, TextOut& out, const Cell*, int32_t limit) {
  std::string text = "make triple! [";
  for (uint32_t i = 0; i < 3; i++) {
    if (i) text.push_back(' ');
    text += integer_to_text(value.triple_at(i));
  }
  text.push_back(']');
  out.append_ascii(text);
  return limit - int32_t(text.size());
}

int32_t tr_mold(const Cell& value, TextOut& out, MoldFlags, const Cell* part, int32_t limit, int32_t) {
  return tr_form(value, out, part, limit);
}

}  // namespace

void register_type() {
  register_type(TYPE_TRIPLE, TYPE_NONE_ID, "triple!",
                HandlerRow().set(ActionIndex::form, &tr_form).set(ActionIndex::mold, &tr_mold));
}

}  // namespace zem::triple
