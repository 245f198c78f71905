// The process environment as a language value.
#pragma once

#include "runtime/cell.h"

namespace zem::os {

// A map! of the process environment: each name (up to the first "=" after its first character)
// to the rest of its entry, keys inserted case-sensitively so that names differing only in case
// all survive.
Cell environment_map();

}  // namespace zem::os
