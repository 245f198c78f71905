// Shared by the one-pass JSON and CSV roads.
#pragma once

#include <string>

#include "runtime/cell.h"

namespace zem::library {

// A new string! of the code points, in the narrowest unit that holds them all.
Cell make_text(const std::u32string& text);

}  // namespace zem::library
