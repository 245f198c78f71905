#include "datatypes/paren.h"

#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "runtime/memory.h"
#include "runtime/support.h"

namespace zem::paren {

namespace {

int32_t paren_mold(const Cell& v, TextOut& out, MoldFlags flags, const Cell* part, int32_t limit,
                   int32_t indent) {
  if (mold_cycle_guard(v, out, limit, true)) return limit;
  PointerStackGuard guard(v.node());
  // The values are molded as a block's are; the block's own brackets left out.
  MoldHandler block_mold = mold_handler(TYPE_BLOCK);
  if (!flags.only) {
    out.append_ascii("(");
    limit--;
  }
  if (block_mold) {
    Cell as_block = v;
    as_block.set_type(TYPE_BLOCK);
    MoldFlags inner = flags;
    inner.only = true;
    limit = block_mold(as_block, out, inner, part, limit, indent);
  }
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
