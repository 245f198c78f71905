// paren!: registration of the paren! datatype over block!'s handlers, with its own mold.
#include "datatypes/paren.h"

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/memory.h"
#include "runtime/support.h"

namespace zem::paren {

namespace {

int32_t paren_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                   int32_t indent) {
  if (mold_cycle_guard(v, out, limit, true)) return limit;
  // The values are molded as a block's are, inside parentheses.
  if (!flags.only) {
    out.append_ascii("(");
    limit--;
  }
  limit = block::mold_body(v, out, flags, part, limit, indent);
  if (!flags.only) {
    out.append_ascii(")");
    limit--;
  }
  return limit;
}

}  // namespace

void register_paren() {
  register_type(TYPE_PAREN, TYPE_BLOCK, "paren!",
                HandlerRow(kInherit)
                    .set(ActionIndex::mold, &paren_mold)
                    .set(ActionIndex::put, kEmpty)
                    .set(ActionIndex::trim, kEmpty));
}

}  // namespace zem::paren
