// Helpers for tests of the series and block actions: blocks from a small notation, action frames
// with refinements, and stand-in integer! handlers until the number types register their own.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "datatypes/registry.h"

namespace zem::test {

// Registers compare, form and mold for integer! when no handler is registered yet.
void ensure_integer_handlers();

// A block from text: integers, "none", "true", nested "[...]", "#i" (the datatype integer!), "#b"
// (block!); "~" puts the new-line marker on the next value.
Cell block_of(const std::string& text);
// The integers of a block from its head (other values read as -999).
std::vector<int32_t> ints_of(const Cell& block);

// One action call: argument cells, then per refinement (in spec order) absent or present with its
// argument cells.
struct Refinement {
  uint32_t index;
  std::vector<Cell> args;
};
struct ActCall {
  std::vector<Cell> cells;
  std::vector<int32_t> refs;
  ActionCall call;
  ActCall(ActionIndex a, std::vector<Cell> args, std::vector<Refinement> refinements = {},
          uint32_t refinement_count = 11);
  // Calls the handler of slot 0's type; answers a copy of the result.
  Cell run(TypeId type = TYPE_NONE_ID);
};

}  // namespace zem::test
