// triple!: three int32 in the cell; the parse engine keeps its rule-stack records in them.
#pragma once

namespace zem::triple {

void register_type();

}  // namespace zem::triple
