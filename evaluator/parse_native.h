// The `parse` native's body: input rules /case /part length /trace callback.
#pragma once

#include <cstdint>

namespace zem::parse {

// Works on the current frame (slot 0 the input, slot 1 the rules; refinements in spec order:
// case, part, trace) and leaves the result in slot 0. Exits from parens and the callback other
// than errors come back as the answer.
uint32_t native(const int32_t* refinements);

}  // namespace zem::parse
