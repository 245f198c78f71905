// paren!: a block evaluated where it stands, molded between parentheses.
#pragma once

namespace zem::paren {

void register_paren();

}  // namespace zem::paren
